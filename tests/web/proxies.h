// Real proxy programs for the tests, each started on a free loopback port with its own
// temporary configuration and stopped when the object goes. A missing program fails the test:
// the install script provides both.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "testsupport/loopback_server.h"

namespace ombrik::testing {

class ProxyProcess {
 public:
  ~ProxyProcess();
  ProxyProcess(const ProxyProcess&) = delete;
  ProxyProcess& operator=(const ProxyProcess&) = delete;

  // "127.0.0.1:<port>", the form WebRequest takes.
  std::string address() const;
  int port() const { return port_; }
  // False when the program is missing or never began to listen; error() says why.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 protected:
  ProxyProcess() = default;
  void Launch(const std::string& program, const std::vector<std::string>& args);

  int port_ = 0;
  std::string tempDir_;

 private:
  pid_t pid_ = -1;
  std::string error_;
};

// tinyproxy: an HTTP proxy that also tunnels with CONNECT.
class TinyProxy : public ProxyProcess {
 public:
  TinyProxy();
};

// microsocks: a SOCKS5 proxy.
class MicroSocks : public ProxyProcess {
 public:
  MicroSocks();
};

using testsupport::FreeLoopbackPort;

}  // namespace ombrik::testing
