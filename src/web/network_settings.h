// How the program talks to the network: one value that each front end builds from its options
// and environment and hands to the runs. The core reads no environment of its own.
#pragma once

#include <chrono>
#include <string>

namespace ombrik {

struct NetworkSettings {
  // Longest wait for a connection (TCP and TLS set-up).
  std::chrono::milliseconds connectTimeout{60'000};
  // Longest time without receiving a byte before a transfer counts as failed; a transfer that
  // moves less than 16 bytes a second over such a period fails as well.
  std::chrono::milliseconds stallTimeout{60'000};
  // Server certificates are checked against the system's store. Turning this off is the
  // user's explicit choice (--insecure, OMBRIK_INSECURE=1).
  bool verifyCertificates = true;
  // A PEM certificate or bundle trusted besides the system's store: as a file, or as text.
  std::string caFile;
  std::string caPem;
};

}  // namespace ombrik
