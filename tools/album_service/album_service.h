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
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ombrik::albumservice {

struct RequestRecord {
  std::string method;
  std::string target;  // path and query exactly as requested
  int status = 0;

  bool operator==(const RequestRecord&) const = default;
};

// One log line: "GET /audio/6000004/1.wav 200".
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
  // Keep the list that Requests() returns; a long-running program may turn it off.
  bool recordRequests = true;
  // Called for every request, from the service's threads.
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
  // "<origin>/m-revision/common/album/queryAlbumTrackRecordsByPage"
  std::string PageServiceUrl() const;

  // Requests answered so far, in the order their answers were decided.
  std::vector<RequestRecord> Requests() const;
  void ClearRequests();
  // Page answers now waiting out a delay; lets a test act while a slow answer is pending.
  int DelayedAnswers() const;

  // From now on the path (e.g. "/audio/6000004/1.wav") answers these bytes with status 200,
  // whatever its mode; ResetFile undoes it.
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
