// Run options that reach a test's loopback album service: its origin, and trust in its own
// certificate (never switching certificate checks off).
#pragma once

#include <string>

#include "catalogue/extraction.h"
#include "download/download_run.h"

namespace ombrik::testing {

inline NetworkSettings Trusting(const std::string& certificatePem) {
  NetworkSettings network;
  network.caPem = certificatePem;
  return network;
}

inline ExtractionOptions ExtractionReaching(const std::string& origin, const std::string& certificatePem = {}) {
  ExtractionOptions options;
  options.apiOrigin = TextFromUtf8(origin);
  options.network = Trusting(certificatePem);
  return options;
}

inline DownloadRunOptions DownloadTrusting(const std::string& certificatePem) {
  DownloadRunOptions options;
  options.fetch.network = Trusting(certificatePem);
  return options;
}

}  // namespace ombrik::testing
