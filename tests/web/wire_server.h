// A raw HTTP/1.1 server on 127.0.0.1 that records every request exactly as it arrived (request
// line and header lines in order, body, and which connection carried it) and answers with bytes
// a test scripts. Keep-alive is honoured, so connection reuse shows in the records.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ombrik::testing {

struct WireRequest {
  int connection = 0;  // 1 for the first accepted connection, and so on
  std::string method;
  std::string target;
  std::string version;
  std::vector<std::string> headerLines;  // in order, without the request line
  std::string body;

  // The value of the first header with this name (any case); empty when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

struct WireReply {
  std::string bytes;
  // Send only the first stallAfter bytes, then hold the connection open and silent until the
  // server stops.
  std::size_t stallAfter = std::string::npos;
  // Close the connection after this reply.
  bool close = false;
  // Send the bytes in eight pieces with this pause before each: a slow but living answer.
  std::chrono::milliseconds pause{0};
};

// A complete response with Content-Length; for HEAD requests pass withBody = false.
std::string HttpResponse(int status, const std::string& reason, const std::vector<std::string>& headers,
                         const std::string& body, bool withBody = true);

class WireServer {
 public:
  using Responder = std::function<WireReply(const WireRequest&)>;

  // The default responder answers 200 with the body "ok".
  explicit WireServer(Responder responder = {});
  ~WireServer();
  WireServer(const WireServer&) = delete;
  WireServer& operator=(const WireServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string& path) const;

  std::vector<WireRequest> Requests() const;
  // The latest request; fails the test when there is none.
  WireRequest Last() const;

 private:
  void AcceptLoop();
  void Serve(int fd, int connection);
  bool SendReply(int fd, const WireReply& reply);

  Responder responder_;
  int listenFd_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::vector<WireRequest> requests_;
  std::vector<int> clientFds_;
  std::vector<std::thread> threads_;
  std::thread acceptThread_;
};

}  // namespace ombrik::testing
