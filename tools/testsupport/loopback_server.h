// A cpp-httplib server (plain or TLS) on a loopback address and an ephemeral port, served from a
// background thread for the lifetime of the object.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "testsupport/self_signed.h"

namespace ombrik::testsupport {

class LoopbackServer {
 public:
  // Plain HTTP.
  LoopbackServer();
  // HTTPS with the given certificate (the server keeps its own references).
  explicit LoopbackServer(const SelfSignedCertificate& certificate);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Register routes and handlers here before Start(); httplib's tables are not safe to change
  // while it serves. Idle keep-alive connections are closed after 1 s, so that Stop() is quick.
  httplib::Server& server() { return *server_; }

  // Binds host ("127.0.0.1" or "::1") on an ephemeral port and starts serving. Returns once
  // connections are accepted. Throws std::runtime_error when the port cannot be bound.
  void Start(const std::string& host = "127.0.0.1");
  // Stops serving and joins the thread; also done by the destructor.
  void Stop();

  int port() const { return port_; }
  bool tls() const { return tls_; }
  // "http://127.0.0.1:port" or "https://[::1]:port", without a trailing slash.
  std::string BaseUrl() const;

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::string host_;
  int port_ = 0;
  bool tls_ = false;
};

// A loopback port on which nothing listens (bound once, then closed): for proxies started
// on a port of their own, and for connections that must be refused.
int FreeLoopbackPort();

}  // namespace ombrik::testsupport
