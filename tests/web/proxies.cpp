#include "proxies.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace ombrik::testing {
namespace {

bool CanConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace

ProxyProcess::~ProxyProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  if (!tempDir_.empty()) std::filesystem::remove_all(tempDir_);
}

std::string ProxyProcess::address() const { return "127.0.0.1:" + std::to_string(port_); }

void ProxyProcess::Launch(const std::string& program, const std::vector<std::string>& args) {
  const std::string path = FindProgram(program);
  if (path.empty()) {
    error_ = program + " is not installed (scripts/install-deps.sh installs it)";
    return;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    // Quiet child: its chatter is not the test's output.
    int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!CanConnect(port_)) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = program + " exited before listening on port " + std::to_string(port_);
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      error_ = program + " did not listen on port " + std::to_string(port_);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TinyProxy::TinyProxy() {
  port_ = FreeLoopbackPort();
  char dir[] = "/tmp/ombrik-tinyproxy-XXXXXX";
  tempDir_ = ::mkdtemp(dir);
  const std::string config = tempDir_ + "/tinyproxy.conf";
  std::ofstream(config) << "Port " << port_ << "\n"
                        << "Listen 127.0.0.1\n"
                        << "Timeout 30\n"
                        << "MaxClients 20\n"
                        << "Allow 127.0.0.1\n"
                        << "LogLevel Error\n";
  Launch("tinyproxy", {"-d", "-c", config});
}

MicroSocks::MicroSocks() {
  port_ = FreeLoopbackPort();
  Launch("microsocks", {"-i", "127.0.0.1", "-p", std::to_string(port_)});
}

}  // namespace ombrik::testing
