// Runs two shell commands alternately, each several times, and reports for each the median,
// minimum and maximum wall time and its peak resident memory, so that a benchmark and its
// reference see the same moments of a noisy machine.
//
//   ombrik-bench-measure RUNS SETUP COMMAND_A COMMAND_B
//
// SETUP runs (through /bin/sh, unmeasured) before every measured command; "" for none. A
// command is run as `sh -c "exec COMMAND"`, so the process measured is the command itself.
// Output, one line per command:
//   <median s> <min s> <max s> <median peak RSS KiB> <max peak RSS KiB> <failed runs>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
  double seconds = 0;
  long peakKib = 0;
  bool ok = false;
};

Sample RunOnce(const std::string& command) {
  const std::string script = "exec " + command;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
  }
  const auto end = std::chrono::steady_clock::now();
  return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss,
          WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

template <typename T>
T Median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Report(const std::vector<Sample>& samples) {
  std::vector<double> seconds;
  std::vector<long> peaks;
  int failed = 0;
  for (const Sample& s : samples) {
    seconds.push_back(s.seconds);
    peaks.push_back(s.peakKib);
    if (!s.ok) ++failed;
  }
  std::printf("%.4f %.4f %.4f %ld %ld %d\n", Median(seconds), *std::min_element(seconds.begin(), seconds.end()),
              *std::max_element(seconds.begin(), seconds.end()), Median(peaks),
              *std::max_element(peaks.begin(), peaks.end()), failed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::atoi(argv[1]) < 1) {
    std::fprintf(stderr, "usage: %s RUNS SETUP COMMAND_A COMMAND_B\n", argv[0]);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  const std::string setup = argv[2];
  std::vector<Sample> a, b;
  for (int i = 0; i < runs; ++i) {
    // Alternate which goes first, so neither always follows the other's writes.
    for (int which : {i % 2, 1 - i % 2}) {
      if (!setup.empty() && std::system(setup.c_str()) != 0) {
        std::fprintf(stderr, "setup failed: %s\n", setup.c_str());
        return 1;
      }
      (which == 0 ? a : b).push_back(RunOnce(which == 0 ? argv[3] : argv[4]));
    }
  }
  Report(a);
  Report(b);
  return 0;
}
