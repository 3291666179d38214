// Fetches one URL into one file under a file-size limit, as a fresh process, so that a test can
// make a write fail part-way without limiting (or forking) the test process itself.
//   ombrik_fetch_once URL PATH MAX_FILE_BYTES CA_FILE
// Exit status: 0 fetched, 1 the fetch failed, 2 usage.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "download/file_fetch.h"
#include "text/codepage.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s URL PATH MAX_FILE_BYTES CA_FILE\n", argv[0]);
    return 2;
  }
  // Past the limit a write fails with EFBIG instead of the signal ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  const rlim_t limit = std::strtoull(argv[3], nullptr, 10);
  const rlimit fsize{limit, limit};
  if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) return 2;
  using namespace ombrik;
  FetchSettings settings;
  settings.network.caFile = argv[4];
  const TrackReport report =
      FetchFile(TextFromUtf8(argv[1]), TextFromUtf8(argv[2]), ExistingFileMode::ReplaceExisting, settings);
  return report.outcome == TrackOutcome::Fetched ? 0 : 1;
}
