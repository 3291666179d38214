#include "wire_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace ombrik::testing {
namespace {

bool SendAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Reads more bytes into `buffer`; false at the end of the stream.
bool ReadMore(int fd, std::string& buffer) {
  char chunk[4096];
  ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
  if (n <= 0) return false;
  buffer.append(chunk, static_cast<std::size_t>(n));
  return true;
}

WireRequest ParseHead(const std::string& head) {
  WireRequest request;
  std::size_t lineStart = 0;
  bool first = true;
  while (lineStart < head.size()) {
    std::size_t end = head.find("\r\n", lineStart);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(lineStart, end - lineStart);
    lineStart = end + 2;
    if (first) {
      std::size_t sp1 = line.find(' ');
      std::size_t sp2 = line.find(' ', sp1 + 1);
      request.method = line.substr(0, sp1);
      request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
      request.version = sp2 == std::string::npos ? "" : line.substr(sp2 + 1);
      first = false;
    } else if (!line.empty()) {
      request.headerLines.push_back(line);
    }
  }
  return request;
}

}  // namespace

std::string WireRequest::Header(const std::string& name) const {
  for (const auto& line : headerLines) {
    if (line.size() > name.size() && line[name.size()] == ':' &&
        strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      std::size_t v = line.find_first_not_of(' ', name.size() + 1);
      return v == std::string::npos ? "" : line.substr(v);
    }
  }
  return {};
}

bool WireRequest::HasHeader(const std::string& name) const {
  for (const auto& line : headerLines) {
    if (line.size() > name.size() && line[name.size()] == ':' &&
        strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      return true;
    }
  }
  return false;
}

std::string HttpResponse(int status, const std::string& reason, const std::vector<std::string>& headers,
                         const std::string& body, bool withBody) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  for (const auto& h : headers) out += h + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  if (withBody) out += body;
  return out;
}

WireServer::WireServer(Responder responder) : responder_(std::move(responder)) {
  if (!responder_) {
    responder_ = [](const WireRequest& r) { return WireReply{HttpResponse(200, "OK", {}, "ok", r.method != "HEAD")}; };
  }
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0) {
    throw std::runtime_error("wire server: cannot listen on loopback");
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

WireServer::~WireServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (int fd : clientFds_) ::shutdown(fd, SHUT_RDWR);
  }
  stopped_.notify_all();
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptThread_.join();
  ::close(listenFd_);
  for (auto& t : threads_) t.join();
  for (int fd : clientFds_) ::close(fd);
}

std::string WireServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<WireRequest> WireServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

WireRequest WireServer::Last() const {
  std::lock_guard lock(mutex_);
  EXPECT_FALSE(requests_.empty()) << "the server received no request";
  return requests_.empty() ? WireRequest{} : requests_.back();
}

void WireServer::AcceptLoop() {
  int connections = 0;
  for (;;) {
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) return;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    clientFds_.push_back(fd);
    threads_.emplace_back([this, fd, id = ++connections] { Serve(fd, id); });
  }
}

void WireServer::Serve(int fd, int connection) {
  std::string buffer;
  for (;;) {
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!ReadMore(fd, buffer)) return;  // the descriptor is closed by the destructor
    }
    WireRequest request = ParseHead(buffer.substr(0, headEnd));
    request.connection = connection;
    buffer.erase(0, headEnd + 4);
    std::size_t length = 0;
    if (request.HasHeader("Content-Length")) length = std::stoul(request.Header("Content-Length"));
    while (buffer.size() < length) {
      if (!ReadMore(fd, buffer)) return;
    }
    request.body = buffer.substr(0, length);
    buffer.erase(0, length);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    WireReply reply = responder_(request);
    if (!SendReply(fd, reply) || reply.close) {
      ::shutdown(fd, SHUT_RDWR);
      return;
    }
  }
}

bool WireServer::SendReply(int fd, const WireReply& reply) {
  if (reply.pause.count() > 0) {
    const std::size_t piece = (reply.bytes.size() + 7) / 8;
    for (std::size_t at = 0; at < reply.bytes.size(); at += piece) {
      std::this_thread::sleep_for(reply.pause);
      if (!SendAll(fd, reply.bytes.data() + at, std::min(piece, reply.bytes.size() - at))) {
        return false;
      }
    }
    return true;
  }
  if (reply.stallAfter == std::string::npos) {
    return SendAll(fd, reply.bytes.data(), reply.bytes.size());
  }
  SendAll(fd, reply.bytes.data(), std::min(reply.stallAfter, reply.bytes.size()));
  std::unique_lock lock(mutex_);
  stopped_.wait(lock, [this] { return stopping_; });
  return false;
}

}  // namespace ombrik::testing
