#include "album_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "albums.h"
#include "testsupport/self_signed.h"
#include "wav_tone.h"

namespace ombrik::albumservice {
namespace {

constexpr const char* kPagePath = "/m-revision/common/album/queryAlbumTrackRecordsByPage";
constexpr const char* kWavType = "audio/wav";
constexpr std::size_t kWorkerThreads = 24;

std::string ErrorPage(int status, std::string_view reason) {
  return "<html><body><h1>" + std::to_string(status) + " " + std::string{reason} + "</h1></body></html>\n";
}

std::unique_ptr<httplib::Server> MakeServer(Scheme scheme) {
  if (scheme == Scheme::Http) return std::make_unique<httplib::Server>();
  // The server takes its own references to the certificate and key.
  const testsupport::SelfSignedCertificate certificate;
  return std::make_unique<httplib::SSLServer>(certificate.certificate(), certificate.key());
}

}  // namespace

std::string FormatRequest(const RequestRecord& record) {
  return record.method + " " + record.target + " " + std::to_string(record.status);
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

  mutable std::mutex mutex;  // guards the members below
  std::vector<RequestRecord> requests;
  std::map<std::string, std::string> files;
  std::map<std::string, int> fetchCounts;
  bool stopping = false;
  int delayedAnswers = 0;
  std::condition_variable wake;  // signalled when stopping

  // Sleeps for the duration, or less when the service stops; false when it stopped.
  bool Wait(std::chrono::milliseconds duration, int* waiters = nullptr) {
    std::unique_lock lock(mutex);
    if (waiters) ++*waiters;
    const bool stopped = wake.wait_for(lock, duration, [this] { return stopping; });
    if (waiters) --*waiters;
    return !stopped;
  }

  void Record(const httplib::Request& req, const httplib::Response& res) {
    RequestRecord record{req.method, req.target, res.status};
    if (options.recordRequests) {
      std::lock_guard lock(mutex);
      requests.push_back(record);
    }
    if (options.onRequest) options.onRequest(record);
  }

  std::string PlayOrigin() const { return options.playOrigin.empty() ? origin : options.playOrigin; }

  void Install();
  void AnswerPage(const httplib::Request& req, httplib::Response& res);
  void AnswerFile(const httplib::Request& req, httplib::Response& res);
  void ServeWithMode(FileMode mode, const httplib::Request& req, httplib::Response& res);
};

void AlbumService::State::Install() {
  // Files set by tests win over everything else on their path.
  server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(mutex);
    const auto it = files.find(req.path);
    if (it == files.end()) return httplib::Server::HandlerResponse::Unhandled;
    res.set_content(it->second, kWavType);
    return httplib::Server::HandlerResponse::Handled;
  });
  // Runs once the status is decided and before anything is sent, so a stalled answer is
  // already in the log.
  server->set_post_routing_handler(
      [this](const httplib::Request& req, httplib::Response& res) { Record(req, res); });
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

void AlbumService::State::ServeWithMode(FileMode mode, const httplib::Request& req, httplib::Response& res) {
  const std::string albumId = req.matches[2];
  const int n = std::stoi(req.matches[3]);
  int version = 0;
  if (mode == FileMode::Changing) {
    std::lock_guard lock(mutex);
    version = ++fetchCounts[req.path];
  }
  auto wav = std::make_shared<const std::string>(MakeWavTone(ToneFor(albumId, n, version)));
  const std::size_t half = wav->size() / 2;

  switch (mode) {
    case FileMode::Audio:
    case FileMode::Changing:
      res.set_content(*wav, kWavType);
      return;
    case FileMode::Redirect:
      res.set_redirect(PlayOrigin() + "/audio/" + albumId + "/" + std::to_string(n) + "." +
                           std::string{req.matches[4]},
                       302);
      return;
    case FileMode::NotFound:
      res.status = 404;
      res.set_content(ErrorPage(404, "Not Found"), "text/html");
      return;
    case FileMode::ServerError:
      res.status = 500;
      res.set_content(ErrorPage(500, "Internal Server Error"), "text/html");
      return;
    case FileMode::Drop:
    case FileMode::ShortBody: {
      // The provider refusing to go on makes the server close the connection, short of the
      // announced length.
      const std::size_t announced = mode == FileMode::Drop ? wav->size() : wav->size() + 1000;
      const std::size_t sent = mode == FileMode::Drop ? half : wav->size();
      res.set_content_provider(announced, kWavType,
                               [wav, sent](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 if (offset >= sent) return false;
                                 return sink.write(wav->data() + offset, std::min(length, sent - offset));
                               });
      return;
    }
    case FileMode::ChunkedDrop:
      res.set_chunked_content_provider(kWavType, [wav, half](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= half) return false;  // never sends the closing chunk
        return sink.write(wav->data() + offset, half - offset);
      });
      return;
    case FileMode::Stall:
      res.set_content_provider(wav->size(), kWavType,
                               [this](std::size_t, std::size_t, httplib::DataSink&) {
                                 Wait(options.stallFor);
                                 return false;
                               });
      return;
  }
}

AlbumService::AlbumService(ServiceOptions options) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.options = std::move(options);
  if (!IsLoopbackHost(s.options.host)) {
    throw std::runtime_error("not a loopback address: " + s.options.host);
  }
  s.server = MakeServer(s.options.scheme);
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
std::string AlbumService::PlayOrigin() const { return state_->PlayOrigin(); }
std::string AlbumService::PageServiceUrl() const { return state_->origin + kPagePath; }

std::vector<RequestRecord> AlbumService::Requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

void AlbumService::ClearRequests() {
  std::lock_guard lock(state_->mutex);
  state_->requests.clear();
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
