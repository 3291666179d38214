// ombrik-cli: lists an album's tracks or downloads them, from a terminal or a script, through
// the same extraction and download runs as the window.
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/album_link.h"
#include "catalogue/extraction.h"
#include "cli/cli_options.h"
#include "cli/list_output.h"
#include "cli/terminal_window.h"
#include "cli/visible_text.h"
#include "download/download_run.h"
#include "web/network_wait.h"

namespace {

using namespace ombrik;
using namespace ombrik::cli;

constexpr int kAllDone = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageOrNoList = 2;

volatile sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) {
  stopSignal = signal;
  RequestNetworkCancel();
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int Interrupted() { return 128 + stopSignal; }

int UsageError(const std::string& text) {
  std::fprintf(stderr, "ombrik-cli: %s\nTry 'ombrik-cli --help'.\n", VisibleText(text).c_str());
  return kUsageOrNoList;
}

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The folder as the download run gets it: created when missing, no trailing "/", and
// representable in the core's code page, so that no file lands in a folder of another name.
bool PrepareFolder(std::string& folder, std::string& error) {
  while (folder.size() > 1 && folder.ends_with('/')) folder.pop_back();
  if (TextToUtf8(TextFromUtf8(folder)) != folder) {
    error = "the folder name holds characters that cannot be used: " + folder;
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec)) {
    error = "cannot use the folder " + folder + (ec ? ": " + ec.message() : "");
    return false;
  }
  return true;
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// The options first, the environment where they are silent.
NetworkSettings NetworkFrom(const Options& options) {
  NetworkSettings network;
  if (options.timeoutSeconds) {
    network.connectTimeout = network.stallTimeout = std::chrono::seconds(*options.timeoutSeconds);
  }
  network.caFile = options.caFile.value_or(Variable("OMBRIK_CA_FILE"));
  network.verifyCertificates = !options.insecure && Variable("OMBRIK_INSECURE") != "1";
  return network;
}

int Run(const Options& options) {
  std::string folder = options.folder;
  if (options.command == Command::Get) {
    if (std::string error; !PrepareFolder(folder, error)) return UsageError(error);
  }

  TerminalWindow window({.err = stderr,
                         .quiet = options.quiet,
                         .liveProgress = ::isatty(STDERR_FILENO) == 1,
                         .width = TerminalWidth(),
                         .trackJson = options.command == Command::Get && options.json ? stdout : nullptr});
  RetryPolicy retry;
  retry.retries = options.retries;
  const NetworkSettings network = NetworkFrom(options);
  const Text link = TextFromUtf8(options.link);
  window.SetEditText(Control::编辑框_URL, link);
  OnExtractTrackList(window, {.apiOrigin = TextFromUtf8(options.apiOrigin.value_or(Variable("OMBRIK_API_ORIGIN"))),
                              .retry = retry,
                              .network = network});
  if (stopSignal != 0) return Interrupted();

  // The core has said why already ("专辑链接为空 或 专辑未找到！").
  const AlbumId album = AlbumIdFromLink(link);
  if (album.pieceCount < 1) return kUsageOrNoList;
  // No track count, or nothing but unreadable pages: the service gave no list.
  const ListingSummary& listing = window.Listing();
  const bool pagesFailed = listing.failedPages > 0;
  if (!listing.totalKnown || (listing.rows == 0 && pagesFailed)) {
    std::string why;
    if (const auto& probe = window.ProbeFailure(); probe && probe->failed()) why = ": " + Describe(*probe);
    std::fprintf(stderr, "ombrik-cli: the service gave no track list for album %s%s\n",
                 VisibleText(TextToUtf8(album.id)).c_str(), VisibleText(why).c_str());
    return kUsageOrNoList;
  }

  const auto selected = [&options](int row) { return !options.items || options.items->Contains(row + 1); };
  if (options.command == Command::List) {
    std::vector<std::array<Text, 3>> rows;
    for (int row = 0; row < window.RowCount(); ++row) {
      if (selected(row)) rows.push_back(window.Rows()[static_cast<std::size_t>(row)]);
    }
    if (!WriteTrackList(stdout, rows, options.json ? ListFormat::Json : ListFormat::Tabs)) {
      std::perror("ombrik-cli: standard output");
      return kSomeFailed;
    }
    return pagesFailed ? kSomeFailed : kAllDone;
  }

  if (window.RowCount() == 0) return kAllDone;  // an empty album: nothing to fetch
  window.SetEditText(Control::编辑框_下载目录, TextFromUtf8(folder));
  DownloadRunOptions run;
  run.existing = options.existing;
  run.fetch = {.jobs = options.jobs, .retry = retry, .resume = options.resume, .network = network};
  int wanted = 0;
  for (int row = 0; row < window.RowCount(); ++row) wanted += selected(row) ? 1 : 0;
  if (options.items) run.include = selected;
  OnDownloadAll(window, run);
  window.EndDownload();
  if (stopSignal != 0) return Interrupted();
  return !pagesFailed && window.FetchedTracks() == wanted ? kAllDone : kSomeFailed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const ParseResult parsed = ParseCommandLine(args);
  if (!parsed.options) return UsageError(parsed.error);
  const Options& options = *parsed.options;
  if (options.command == Command::Help) {
    std::fputs(kUsage, stdout);
    return kAllDone;
  }
  if (options.command == Command::Version) {
    std::puts(kVersionText);
    return kAllDone;
  }
  CatchStopSignals();
  return Run(options);
}
