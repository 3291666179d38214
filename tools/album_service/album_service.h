// The loopback album service: the album track service's page answers and the audio files
// they name, over HTTP or HTTPS (self-signed) on a loopback address. One instance serves one
// scheme; run two for both. The albums and file modes are listed in albums.h.
//
// Paths:
//   GET /m-revision/common/album/queryAlbumTrackRecordsByPage?albumId=&page=&pageSize=&asc=
//   GET /audio/<album>/<n>.<ext>          the tone of track n (any extension)
//   GET /fault/<mode>/<album>/<n>.<ext>   the same tone through a fault mode (FileMode)
//   anything else: 404
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ombrik::albumservice {

struct RequestRecord {
  std::string method;
  std::string target;  // path and query exactly as requested
  int status = 0;
  std::string range{};  // the Range header as received; empty when there was none
  // Body bytes handed to the connection so far; final once the answer is finished. A cut
  // answer counts what it really sent, not what it announced.
  std::uint64_t bytesSent = 0;

  // Compares method, target, status and range. bytesSent is left out: tests write expected
  // records as {method, target, status}, and what went over the wire is checked on its own.
  bool operator==(const RequestRecord& other) const {
    return method == other.method && target == other.target && status == other.status && range == other.range;
  }
};

// One log line: "GET /audio/6000004/1.wav 200", with the range when there was one:
// "GET /fault/cut/6000105/1.wav 206 bytes=16022-".
std::string FormatRequest(const RequestRecord& record);

enum class Scheme { Http, Https };

struct ServiceOptions {
  Scheme scheme = Scheme::Https;
  std::string host = "127.0.0.1";  // a loopback address: 127.x.y.z or ::1
  int port = 0;                    // 0: an ephemeral port
  // Play addresses start with this origin; empty: this instance's own origin.
  std::string playOrigin{};
  // Every page answer waits this long first.
  std::chrono::milliseconds answerDelay{0};
  // Extra wait of every page answer of the slow album (3000004).
  std::chrono::milliseconds slowAlbumDelay{2'000};
  // How long a stalled file keeps its connection open without a byte; longer than the
  // program's own 60 s stall time-out, so by default the client is the one that gives up.
  std::chrono::milliseconds stallFor{120'000};
  // Every file answer (every mode, and the files of SetFile) waits this long before it is
  // decided, and sends its body at no more than this many bytes a second (0: no limit). Both
  // are per answer, so per connection; both end at once when the service stops.
  std::chrono::milliseconds fileDelay{0};
  std::uint64_t fileBytesPerSecond = 0;
  // Keep the list that Requests() returns; a long-running program may turn it off.
  bool recordRequests = true;
  // Called for every request once its status is decided and before its body goes, from the
  // service's threads; bytesSent there is not final. Requests() has the live counts.
  std::function<void(const RequestRecord&)> onRequest{};
};

class AlbumService {
 public:
  // Binds and starts serving; throws std::runtime_error when the host is not a loopback
  // address or the port cannot be bound.
  explicit AlbumService(ServiceOptions options);
  ~AlbumService();  // stops
  AlbumService(const AlbumService&) = delete;
  AlbumService& operator=(const AlbumService&) = delete;

  int Port() const;
  std::string Origin() const;      // "https://127.0.0.1:PORT", "http://[::1]:PORT"
  std::string PlayOrigin() const;  // the origin play addresses start with
  // The HTTPS listener's self-signed certificate (PEM), for clients to trust; empty for HTTP.
  std::string CertificatePem() const;
  // "<origin>/m-revision/common/album/queryAlbumTrackRecordsByPage"
  std::string PageServiceUrl() const;

  // Requests answered so far, in the order their answers were decided.
  std::vector<RequestRecord> Requests() const;
  void ClearRequests();
  // Page and file answers now waiting out a delay; lets a test act while a slow answer is pending.
  int DelayedAnswers() const;
  // Starts every path's fetch count (FileMode::Changing and the resume and retry modes) over,
  // so the next request of each path is its first fetch again.
  void ResetFetchCounts();

  // From now on the path (e.g. "/audio/6000004/1.wav") answers these bytes with status 200,
  // whatever its mode and any Range, without validators; ResetFile undoes it.
  void SetFile(const std::string& path, std::string bytes);
  void ResetFile(const std::string& path);

  // Ends stalls and delays at once, then stops listening and joins the threads. Idempotent.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

bool IsLoopbackHost(const std::string& host);

}  // namespace ombrik::albumservice
