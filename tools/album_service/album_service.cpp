#include "album_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include <httplib.h>

#include "albums.h"
#include "testsupport/self_signed.h"
#include "wav_tone.h"

namespace ombrik::albumservice {
namespace {

constexpr const char* kPagePath = "/m-revision/common/album/queryAlbumTrackRecordsByPage";
constexpr const char* kWavType = "audio/wav";
constexpr std::size_t kWorkerThreads = 24;
// Last-Modified of every good file: 2024-01-01 00:00:00 GMT; version k of a file is k hours later.
constexpr std::time_t kLastModified = 1'704'067'200;
// Bodies go out in pieces of at most this much; paced ones in pieces of 1/20 s of the rate.
constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kMaxPacedChunk = 16 * 1024;

using ByteCounter = std::atomic<std::uint64_t>;

// The body counter of the answer being prepared on this thread: the handler that streams a
// body makes it, and the post-routing handler, which httplib runs next on the same thread,
// takes it into the request's record.
thread_local std::shared_ptr<ByteCounter> tBodyCounter;

std::string ErrorPage(int status, std::string_view reason) {
  return "<html><body><h1>" + std::to_string(status) + " " + std::string{reason} + "</h1></body></html>\n";
}

// An HTTP date. Not strftime: its day and month names follow the process's locale, and the
// window's process sets one.
std::string HttpDate(std::time_t time) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

struct Validators {
  std::string etag;
  std::string lastModified;
};

Validators ValidatorsOf(const std::string& bytes, int version) {
  std::uint64_t hash = 14'695'981'039'346'656'037ull;  // FNV-1a
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1'099'511'628'211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return {"\"" + std::string{hex} + "\"", HttpDate(kLastModified + std::time_t{version} * 3600)};
}

// What one Range header asks of a body of `size` bytes.
struct RangeAsk {
  enum Kind { Ignore, Satisfiable, Unsatisfiable } kind = Ignore;
  std::size_t first = 0;  // inclusive bounds, when satisfiable
  std::size_t last = 0;
};

std::optional<std::uint64_t> Digits(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// One range: "bytes=N-", "bytes=N-M" or "bytes=-S". Several ranges, other units and malformed
// values are ignored (the whole file is sent), as a server may do.
RangeAsk ParseRange(std::string_view value, std::size_t size) {
  constexpr std::string_view kUnit = "bytes=";
  if (!value.starts_with(kUnit) || value.find(',') != std::string_view::npos) return {};
  value.remove_prefix(kUnit.size());
  const auto dash = value.find('-');
  if (dash == std::string_view::npos) return {};
  const std::string_view firstText = value.substr(0, dash);
  const std::string_view lastText = value.substr(dash + 1);
  if (firstText.empty()) {  // the last S bytes
    const auto suffix = Digits(lastText);
    if (!suffix) return {};
    if (*suffix == 0 || size == 0) return {RangeAsk::Unsatisfiable};
    return {RangeAsk::Satisfiable, size - static_cast<std::size_t>(std::min<std::uint64_t>(*suffix, size)), size - 1};
  }
  const auto first = Digits(firstText);
  std::optional<std::uint64_t> last = lastText.empty() ? std::nullopt : Digits(lastText);
  if (!first || (!lastText.empty() && (!last || *last < *first))) return {};
  if (*first >= size) return {RangeAsk::Unsatisfiable};
  return {RangeAsk::Satisfiable, static_cast<std::size_t>(*first),
          static_cast<std::size_t>(std::min<std::uint64_t>(last.value_or(size - 1), size - 1))};
}

std::unique_ptr<httplib::Server> MakeServer(Scheme scheme, std::string& certificatePem) {
  if (scheme == Scheme::Http) return std::make_unique<httplib::Server>();
  // The server takes its own references to the certificate and key.
  const testsupport::SelfSignedCertificate certificate;
  certificatePem = certificate.CertificatePem();
  return std::make_unique<httplib::SSLServer>(certificate.certificate(), certificate.key());
}

}  // namespace

std::string FormatRequest(const RequestRecord& record) {
  std::string line = record.method + " " + record.target + " " + std::to_string(record.status);
  if (!record.range.empty()) line += " " + record.range;
  return line;
}

bool IsLoopbackHost(const std::string& host) {
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

struct AlbumService::State {
  ServiceOptions options;
  std::unique_ptr<httplib::Server> server;
  std::thread listener;
  std::atomic<bool> listenerDone{false};
  int port = 0;
  std::string origin;
  std::string certificatePem;

  // A logged request and the live count of its body bytes.
  struct Logged {
    RequestRecord record;
    std::shared_ptr<ByteCounter> sent;
  };

  mutable std::mutex mutex;  // guards the members below
  std::vector<Logged> requests;
  std::map<std::string, std::string> files;
  std::map<std::string, int> fetchCounts;
  bool stopping = false;
  int delayedAnswers = 0;
  std::condition_variable wake;  // signalled when stopping

  // Sleeps until the deadline, or less when the service stops; false when it stopped.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline, int* waiters = nullptr) {
    std::unique_lock lock(mutex);
    if (waiters) ++*waiters;
    const bool stopped = wake.wait_until(lock, deadline, [this] { return stopping; });
    if (waiters) --*waiters;
    return !stopped;
  }
  bool Wait(std::chrono::milliseconds duration, int* waiters = nullptr) {
    return WaitUntil(std::chrono::steady_clock::now() + duration, waiters);
  }

  void Record(const httplib::Request& req, const httplib::Response& res) {
    // A body given whole (set_content) is sent whole; a HEAD answer sends none.
    std::shared_ptr<ByteCounter> sent = std::exchange(tBodyCounter, nullptr);
    if (!sent) sent = std::make_shared<ByteCounter>(req.method == "HEAD" ? 0 : res.body.size());
    const RequestRecord record{req.method, req.target, res.status, req.get_header_value("Range"), sent->load()};
    if (options.recordRequests) {
      std::lock_guard lock(mutex);
      requests.push_back({record, sent});
    }
    if (options.onRequest) options.onRequest(record);
  }

  // Writes a body piece by piece, no faster than options.fileBytesPerSecond, and counts the
  // bytes for the request's record. One per answer.
  class Pacer {
   public:
    explicit Pacer(State& state) : state_(state), counter_(std::make_shared<ByteCounter>(0)) {
      tBodyCounter = counter_;
    }

    // Writes the next piece of the `available` bytes at data; false when the service stopped
    // or the connection failed.
    bool Write(httplib::DataSink& sink, const char* data, std::size_t available) {
      const std::uint64_t rate = state_.options.fileBytesPerSecond;
      const std::size_t piece =
          std::min(available, rate == 0 ? kChunk : std::clamp<std::size_t>(rate / 20, 1, kMaxPacedChunk));
      if (rate > 0) {
        // Pieces are paid for before they go, so the body never runs ahead of the rate.
        const auto now = std::chrono::steady_clock::now();
        if (!started_) start_ = now;
        started_ = true;
        const std::chrono::duration<double> due{static_cast<double>(sent_ + piece) / static_cast<double>(rate)};
        if (!state_.WaitUntil(start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(due))) {
          return false;
        }
      }
      // Counted before the write, so a client that has the bytes never sees a smaller count.
      *counter_ += piece;
      if (!sink.write(data, piece)) {
        *counter_ -= piece;
        return false;
      }
      sent_ += piece;
      return true;
    }

   private:
    State& state_;
    std::shared_ptr<ByteCounter> counter_;
    std::chrono::steady_clock::time_point start_{};
    bool started_ = false;
    std::uint64_t sent_ = 0;
  };

  // Sends bytes[from, from + count) as a body announced as `announced` bytes; sending fewer
  // than announced makes the server close the connection short of the length.
  void SendBody(httplib::Response& res, std::shared_ptr<const std::string> bytes, std::size_t from, std::size_t count,
                std::size_t announced, const char* type) {
    if (announced == 0) {  // httplib takes a provider of length 0 for one of unknown length
      res.set_content(std::string{}, type);
      return;
    }
    auto pacer = std::make_shared<Pacer>(*this);
    res.set_content_provider(announced, type,
                             [bytes, from, count, pacer](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset >= count) return false;
                               return pacer->Write(sink, bytes->data() + from + offset, count - offset);
                             });
  }
  void SendWhole(httplib::Response& res, int status, std::shared_ptr<const std::string> bytes, const char* type) {
    res.status = status;
    SendBody(res, bytes, 0, bytes->size(), bytes->size(), type);
  }
  void SendError(httplib::Response& res, int status, std::string_view reason) {
    SendWhole(res, status, std::make_shared<const std::string>(ErrorPage(status, reason)), "text/html");
  }
  void SendUnsatisfiable(httplib::Response& res, std::size_t size) {
    res.set_header("Content-Range", "bytes */" + std::to_string(size));
    SendError(res, 416, "Range Not Satisfiable");
  }

  // Waits out options.fileDelay; false (and a 503) when the service stopped meanwhile.
  bool DelayFile(httplib::Response& res) {
    if (options.fileDelay.count() <= 0 || Wait(options.fileDelay, &delayedAnswers)) return true;
    res.status = 503;
    return false;
  }

  std::string PlayOrigin() const { return options.playOrigin.empty() ? origin : options.playOrigin; }

  void Install();
  void AnswerPage(const httplib::Request& req, httplib::Response& res);
  void AnswerFile(const httplib::Request& req, httplib::Response& res);
  void ServeWithMode(FileMode mode, const httplib::Request& req, httplib::Response& res);
  void ServeRanged(const httplib::Request& req, httplib::Response& res, std::shared_ptr<const std::string> wav,
                   int version, bool cutWhole);
};

void AlbumService::State::Install() {
  server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    // Each mode answers Range itself. Left in place, httplib would cut every body to the ranges
    // it parsed, whatever the status (and miscount a range past the end). The request is the
    // server's own non-const object, so clearing them is sound.
    const_cast<httplib::Request&>(req).ranges.clear();
    // Files set by tests win over everything else on their path.
    std::shared_ptr<const std::string> bytes;
    {
      std::lock_guard lock(mutex);
      const auto it = files.find(req.path);
      if (it == files.end()) return httplib::Server::HandlerResponse::Unhandled;
      bytes = std::make_shared<const std::string>(it->second);
    }
    if (DelayFile(res)) SendWhole(res, 200, bytes, kWavType);
    return httplib::Server::HandlerResponse::Handled;
  });
  // Runs once the status is decided and before anything is sent, so a stalled answer is
  // already in the log.
  server->set_post_routing_handler([this](const httplib::Request& req, httplib::Response& res) { Record(req, res); });
  server->Get(kPagePath, [this](const httplib::Request& req, httplib::Response& res) { AnswerPage(req, res); });
  server->Get(R"(/(audio|fault/[a-z0-9-]+)/(\d{1,9})/(\d{1,6})\.([A-Za-z0-9]+))",
              [this](const httplib::Request& req, httplib::Response& res) { AnswerFile(req, res); });
}

void AlbumService::State::AnswerPage(const httplib::Request& req, httplib::Response& res) {
  const PageRequest request{req.get_param_value("albumId"), req.get_param_value("page"),
                            req.get_param_value("pageSize"), req.get_param_value("asc")};
  auto delay = options.answerDelay;
  if (const Album* album = FindAlbum(request.albumId); album != nullptr && album->slow) {
    delay += options.slowAlbumDelay;
  }
  if (delay.count() > 0 && !Wait(delay, &delayedAnswers)) {
    res.status = 503;
    return;
  }
  const Answer answer = albumservice::AnswerPage(request, PlayOrigin());
  res.status = answer.status;
  res.set_content(answer.body, answer.contentType);
}

void AlbumService::State::AnswerFile(const httplib::Request& req, httplib::Response& res) {
  if (!DelayFile(res)) return;
  const std::string modePath = req.matches[1];
  const Album* album = FindAlbum(std::string{req.matches[2]});
  const int n = std::stoi(req.matches[3]);
  const auto mode = ModeFromPath(modePath);
  if (!mode || album == nullptr || n < 1 || n > static_cast<int>(album->tracks.size())) {
    res.status = 404;
    res.set_content(ErrorPage(404, "Not Found"), "text/html");
    return;
  }
  ServeWithMode(*mode, req, res);
}

void AlbumService::State::ServeRanged(const httplib::Request& req, httplib::Response& res,
                                      std::shared_ptr<const std::string> wav, int version, bool cutWhole) {
  const Validators validators = ValidatorsOf(*wav, version);
  res.set_header("Accept-Ranges", "bytes");
  res.set_header("ETag", validators.etag);
  res.set_header("Last-Modified", validators.lastModified);
  const std::string range = req.get_header_value("Range");
  const std::string ifRange = req.get_header_value("If-Range");
  // If-Range: the range is only good for the version the client already holds.
  if (!range.empty() &&
      (!req.has_header("If-Range") || ifRange == validators.etag || ifRange == validators.lastModified)) {
    const RangeAsk ask = ParseRange(range, wav->size());
    if (ask.kind == RangeAsk::Unsatisfiable) {
      SendUnsatisfiable(res, wav->size());
      return;
    }
    if (ask.kind == RangeAsk::Satisfiable) {
      res.status = 206;
      res.set_header("Content-Range", "bytes " + std::to_string(ask.first) + "-" + std::to_string(ask.last) + "/" +
                                          std::to_string(wav->size()));
      const std::size_t length = ask.last - ask.first + 1;
      SendBody(res, wav, ask.first, length, length, kWavType);
      return;
    }
  }
  res.status = 200;
  SendBody(res, wav, 0, cutWhole ? wav->size() / 2 : wav->size(), wav->size(), kWavType);
}

void AlbumService::State::ServeWithMode(FileMode mode, const httplib::Request& req, httplib::Response& res) {
  const std::string albumId = req.matches[2];
  const int n = std::stoi(req.matches[3]);
  int fetch = 0;
  {
    std::lock_guard lock(mutex);
    fetch = ++fetchCounts[req.path];
  }
  const bool first = fetch == 1;
  const int version = mode == FileMode::Changing || mode == FileMode::NewEtag ? fetch : 0;
  auto wav = std::make_shared<const std::string>(MakeWavTone(ToneFor(albumId, n, version)));
  const std::size_t half = wav->size() / 2;
  const bool asksRange = req.has_header("Range");
  const auto tooMany = [&](const std::string& retryAfter) {
    res.set_header("Retry-After", retryAfter);
    SendError(res, 429, "Too Many Requests");
  };

  switch (mode) {
    case FileMode::Audio:
      ServeRanged(req, res, wav, 0, false);
      return;
    case FileMode::Changing:
      SendWhole(res, 200, wav, kWavType);
      return;
    case FileMode::Redirect:
      res.set_redirect(PlayOrigin() + "/audio/" + albumId + "/" + std::to_string(n) + "." + std::string{req.matches[4]},
                       302);
      return;
    case FileMode::NotFound:
      SendError(res, 404, "Not Found");
      return;
    case FileMode::ServerError:
      SendError(res, 500, "Internal Server Error");
      return;
    case FileMode::Drop:
    case FileMode::ShortBody: {
      // The provider refusing to go on makes the server close the connection, short of the
      // announced length.
      const std::size_t announced = mode == FileMode::Drop ? wav->size() : wav->size() + 1000;
      const std::size_t sent = mode == FileMode::Drop ? half : wav->size();
      res.status = 200;
      SendBody(res, wav, 0, sent, announced, kWavType);
      return;
    }
    case FileMode::ChunkedDrop: {
      auto pacer = std::make_shared<Pacer>(*this);
      res.status = 200;
      res.set_chunked_content_provider(kWavType, [wav, half, pacer](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= half) return false;  // never sends the closing chunk
        return pacer->Write(sink, wav->data() + offset, half - offset);
      });
      return;
    }
    case FileMode::Stall:
      res.status = 200;
      res.set_content_provider(wav->size(), kWavType, [this](std::size_t, std::size_t, httplib::DataSink&) {
        Wait(options.stallFor);
        return false;
      });
      return;
    case FileMode::Cut:
      ServeRanged(req, res, wav, 0, true);
      return;
    case FileMode::NewEtag:
      ServeRanged(req, res, wav, version, first);
      return;
    case FileMode::NoRange:
    case FileMode::Range416:
    case FileMode::BadRange: {
      if (first) {
        ServeRanged(req, res, wav, 0, true);
        return;
      }
      const Validators validators = ValidatorsOf(*wav, 0);
      res.set_header("ETag", validators.etag);
      res.set_header("Last-Modified", validators.lastModified);
      if (mode == FileMode::Range416 && asksRange) {
        SendUnsatisfiable(res, wav->size());
      } else if (mode == FileMode::BadRange && asksRange) {
        // The whole file, labelled as such: it fits no range that starts past byte 0.
        res.set_header("Content-Range",
                       "bytes 0-" + std::to_string(wav->size() - 1) + "/" + std::to_string(wav->size()));
        SendWhole(res, 206, wav, kWavType);
      } else {
        SendWhole(res, 200, wav, kWavType);
      }
      return;
    }
    case FileMode::TooMany:
    case FileMode::TooManyDate:
    case FileMode::Unavailable:
      if (!first) {
        ServeRanged(req, res, wav, 0, false);
      } else if (mode == FileMode::Unavailable) {
        SendError(res, 503, "Service Unavailable");
      } else {
        // A date has whole seconds; two ahead of the current second is 1 to 2 s from now.
        tooMany(mode == FileMode::TooMany ? "1" : HttpDate(std::time(nullptr) + 2));
      }
      return;
    case FileMode::RetryLong:
      tooMany("3600");
      return;
  }
}

AlbumService::AlbumService(ServiceOptions options) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.options = std::move(options);
  if (!IsLoopbackHost(s.options.host)) {
    throw std::runtime_error("not a loopback address: " + s.options.host);
  }
  s.server = MakeServer(s.options.scheme, s.certificatePem);
  if (!s.server->is_valid()) throw std::runtime_error("cannot set up the TLS server");
  s.Install();
  // Stalled and delayed answers each hold a worker thread; keep enough for a test's worth.
  s.server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  // Clients keep connections alive; a short idle time lets Stop() finish quickly.
  s.server->set_keep_alive_timeout(1);
  // Headers and body leave in separate writes; without this, Nagle's algorithm holds the body
  // until the client's delayed acknowledgement (~40 ms a request on loopback).
  s.server->set_tcp_nodelay(true);
  // A client walking a long album keeps one connection, as with a real service; the library's
  // default of 5 requests per connection would make every fifth request a new TLS handshake.
  s.server->set_keep_alive_max_count(1000);
  // httplib's default SO_REUSEPORT would let two services share a given port unnoticed.
  s.server->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  if (s.options.port == 0) {
    s.port = s.server->bind_to_any_port(s.options.host);
  } else if (s.server->bind_to_port(s.options.host, s.options.port)) {
    s.port = s.options.port;
  } else {
    s.port = -1;
  }
  if (s.port <= 0) {
    throw std::runtime_error("cannot listen on " + s.options.host + " port " + std::to_string(s.options.port));
  }
  const bool v6 = s.options.host.find(':') != std::string::npos;
  s.origin = std::string{s.options.scheme == Scheme::Https ? "https" : "http"} + "://" +
             (v6 ? "[" + s.options.host + "]" : s.options.host) + ":" + std::to_string(s.port);
  // The socket already listens, so connections made before the thread runs simply queue.
  s.listener = std::thread([&s] {
    s.server->listen_after_bind();
    s.listenerDone = true;
  });
}

AlbumService::~AlbumService() { Stop(); }

void AlbumService::Stop() {
  State& s = *state_;
  {
    std::lock_guard lock(s.mutex);
    s.stopping = true;
  }
  s.wake.notify_all();
  if (!s.listener.joinable()) return;
  // stop() does nothing before the accept loop runs, so wait for that (or for its failure).
  while (!s.listenerDone) {
    if (s.server->is_running()) {
      s.server->stop();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds{1});
  }
  s.listener.join();
}

int AlbumService::Port() const { return state_->port; }
std::string AlbumService::Origin() const { return state_->origin; }
std::string AlbumService::CertificatePem() const { return state_->certificatePem; }
std::string AlbumService::PlayOrigin() const { return state_->PlayOrigin(); }
std::string AlbumService::PageServiceUrl() const { return state_->origin + kPagePath; }

std::vector<RequestRecord> AlbumService::Requests() const {
  std::lock_guard lock(state_->mutex);
  std::vector<RequestRecord> records;
  records.reserve(state_->requests.size());
  for (const auto& logged : state_->requests) {
    records.push_back(logged.record);
    records.back().bytesSent = logged.sent->load();
  }
  return records;
}

void AlbumService::ClearRequests() {
  std::lock_guard lock(state_->mutex);
  state_->requests.clear();
}

void AlbumService::ResetFetchCounts() {
  std::lock_guard lock(state_->mutex);
  state_->fetchCounts.clear();
}

int AlbumService::DelayedAnswers() const {
  std::lock_guard lock(state_->mutex);
  return state_->delayedAnswers;
}

void AlbumService::SetFile(const std::string& path, std::string bytes) {
  std::lock_guard lock(state_->mutex);
  state_->files[path] = std::move(bytes);
}

void AlbumService::ResetFile(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  state_->files.erase(path);
}

}  // namespace ombrik::albumservice
