#include "testsupport/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace ombrik::testsupport {

namespace {

// httplib's stop() waits for every idle keep-alive connection to time out; its default of 5 s
// would make each server's shutdown that slow.
void ShortKeepAlive(httplib::Server& server) { server.set_keep_alive_timeout(1); }

}  // namespace

LoopbackServer::LoopbackServer() : server_(std::make_unique<httplib::Server>()) { ShortKeepAlive(*server_); }

LoopbackServer::LoopbackServer(const SelfSignedCertificate& certificate)
    : server_(std::make_unique<httplib::SSLServer>(certificate.certificate(), certificate.key())), tls_(true) {
  if (!server_->is_valid()) throw std::runtime_error("TLS server rejected the certificate");
  ShortKeepAlive(*server_);
}

LoopbackServer::~LoopbackServer() { Stop(); }

void LoopbackServer::Start(const std::string& host) {
  if (thread_.joinable()) throw std::runtime_error("loopback server already started");
  host_ = host;
  port_ = server_->bind_to_any_port(host);
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port on " + host);
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() is a no-op until the accept loop runs, so wait for it before handing out the port.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void LoopbackServer::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

std::string LoopbackServer::BaseUrl() const {
  std::string h = host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
  return std::string(tls_ ? "https://" : "http://") + h + ":" + std::to_string(port_);
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace ombrik::testsupport
