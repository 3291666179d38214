// ombrik-album-service: serves the loopback albums until SIGINT or SIGTERM.
//
//   ombrik-album-service [--host 127.0.0.1] [--port N] [--https-port N] [--only http|https]
//                        [--answer-delay-ms N] [--slow-ms N] [--stall-ms N] [--file-delay-ms N]
//                        [--file-rate BYTES_PER_SECOND] [--play-origin URL] [--cert-out FILE] [--quiet]
//
// Prints the origin of each listener on stdout, HTTPS first, one line each, then logs every
// request to stderr ("GET /audio/6000004/1.wav 200").
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "album_service.h"

namespace {

using ombrik::albumservice::AlbumService;
using ombrik::albumservice::Scheme;
using ombrik::albumservice::ServiceOptions;

constexpr std::string_view kUsage =
    "usage: ombrik-album-service [--host ADDR] [--port N] [--https-port N] [--only http|https]\n"
    "                            [--answer-delay-ms N] [--slow-ms N] [--stall-ms N] [--file-delay-ms N]\n"
    "                            [--file-rate BYTES_PER_SECOND] [--play-origin URL] [--cert-out FILE]\n"
    "                            [--quiet]\n"
    "  --host ADDR           loopback address to listen on (default 127.0.0.1; ::1 for IPv6)\n"
    "  --port N              HTTP port (default 0: any free port)\n"
    "  --https-port N        HTTPS port, self-signed (default 0: any free port)\n"
    "  --only SCHEME         serve only http or only https\n"
    "  --answer-delay-ms N   wait N ms before every page answer (default 0; also --delay-ms)\n"
    "  --slow-ms N           extra wait before each answer for the slow album 3000004 (default 2000)\n"
    "  --stall-ms N          how long a stalled file keeps its connection (default 120000)\n"
    "  --file-delay-ms N     wait N ms before every file answer (default 0)\n"
    "  --file-rate N         send each file answer at most N bytes a second (default 0: no limit)\n"
    "  --play-origin URL     origin of the play addresses (default: the listener's own)\n"
    "  --cert-out FILE       write the HTTPS certificate (PEM) there, for clients to trust\n"
    "  --quiet               do not log requests\n"
    "The demo album is 3921767; every album id and file fault mode is listed in\n"
    "tools/album_service/albums.h.\n";

struct Config {
  ServiceOptions base;
  int httpPort = 0;
  int httpsPort = 0;
  bool http = true;
  bool https = true;
  bool quiet = false;
  std::string certOut;
};

std::optional<int> Number(std::string_view text, int max) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0 || value > max) {
    return std::nullopt;
  }
  return value;
}

// Fills config from the arguments; the text of the first error otherwise.
std::optional<std::string> ParseArguments(const std::vector<std::string_view>& args, Config& config) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view flag = args[i];
    if (flag == "--quiet") {
      config.quiet = true;
      continue;
    }
    if (i + 1 == args.size()) return "missing value after " + std::string{flag};
    const std::string_view value = args[++i];
    const auto number = [&](int max) { return Number(value, max); };
    std::optional<int> n;
    if (flag == "--host") {
      config.base.host = value;
    } else if (flag == "--cert-out") {
      config.certOut = value;
    } else if (flag == "--play-origin") {
      config.base.playOrigin = value;
      while (config.base.playOrigin.ends_with('/')) config.base.playOrigin.pop_back();
    } else if (flag == "--only" && (value == "http" || value == "https")) {
      config.http = value == "http";
      config.https = value == "https";
    } else if ((flag == "--port" || flag == "--https-port") && (n = number(65535))) {
      (flag == "--port" ? config.httpPort : config.httpsPort) = *n;
    } else if ((flag == "--delay-ms" || flag == "--answer-delay-ms" || flag == "--slow-ms" || flag == "--stall-ms" ||
                flag == "--file-delay-ms") &&
               (n = number(86'400'000))) {
      auto& target = flag == "--slow-ms"         ? config.base.slowAlbumDelay
                     : flag == "--stall-ms"      ? config.base.stallFor
                     : flag == "--file-delay-ms" ? config.base.fileDelay
                                                 : config.base.answerDelay;
      target = std::chrono::milliseconds{*n};
    } else if (flag == "--file-rate" && (n = number(2'000'000'000))) {
      config.base.fileBytesPerSecond = static_cast<std::uint64_t>(*n);
    } else {
      return "bad option or value: " + std::string{flag} + " " + std::string{value};
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  Config config;
  if (const auto error = ParseArguments(args, config)) {
    std::cerr << "ombrik-album-service: " << *error << "\n" << kUsage;
    return 2;
  }

  // Block the stop signals in every thread, so that only sigwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  config.base.recordRequests = false;  // the log goes to stderr instead
  static std::mutex logMutex;
  if (!config.quiet) {
    config.base.onRequest = [](const ombrik::albumservice::RequestRecord& record) {
      std::lock_guard lock(logMutex);
      std::cerr << FormatRequest(record) << std::endl;
    };
  }

  std::vector<std::unique_ptr<AlbumService>> services;
  try {
    for (const Scheme scheme : {Scheme::Https, Scheme::Http}) {
      if (!(scheme == Scheme::Https ? config.https : config.http)) continue;
      ServiceOptions options = config.base;
      options.scheme = scheme;
      options.port = scheme == Scheme::Https ? config.httpsPort : config.httpPort;
      services.push_back(std::make_unique<AlbumService>(options));
      if (scheme == Scheme::Https && !config.certOut.empty()) {
        std::ofstream out(config.certOut, std::ios::binary | std::ios::trunc);
        out << services.back()->CertificatePem();
        if (!out.flush()) throw std::runtime_error("cannot write " + config.certOut);
      }
      std::cout << services.back()->Origin() << std::endl;
    }
  } catch (const std::exception& error) {
    std::cerr << "ombrik-album-service: " << error.what() << "\n";
    return 1;
  }

  int received = 0;
  sigwait(&stopSignals, &received);
  for (auto& service : services) service->Stop();
  return 0;
}
