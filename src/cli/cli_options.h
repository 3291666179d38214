// The command line of ombrik-cli, parsed into what a run needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/file_fetch.h"

namespace ombrik::cli {

enum class Command { List, Get, Help, Version };

// --items: positions in list order, 1-based, as ranges "1-3,7,10-".
struct ItemSelection {
  std::vector<std::pair<int, int>> ranges;  // inclusive; an open end is INT_MAX
  bool Contains(int position) const;
};
// Nullopt for a malformed or empty selection.
std::optional<ItemSelection> ParseItems(std::string_view text);

struct Options {
  Command command = Command::Help;
  std::string link;          // UTF-8, as typed
  std::string folder = ".";  // get: where the files go
  ExistingFileMode existing = ExistingFileMode::ReplaceExisting;
  int retries = 3;     // further tries of a page or track that failed in a way that can heal
  int jobs = 3;        // get: transfers at once
  bool resume = true;  // get: continue part files an earlier run left
  bool json = false;   // one JSON object per line on standard output (a track, or a
                       // track's outcome)
  bool quiet = false;
  std::optional<std::string> apiOrigin;
  std::optional<std::string> caFile;  // --cacert
  bool insecure = false;              // --insecure
  std::optional<int> timeoutSeconds;
  std::optional<ItemSelection> items;  // every track when absent
};

// Options on success; otherwise the text of the first error (a usage error).
struct ParseResult {
  std::optional<Options> options;
  std::string error;
};

ParseResult ParseCommandLine(const std::vector<std::string_view>& args);

// The --help text.
extern const char* const kUsage;
inline constexpr const char* kVersionText = "Ombrik 1.0.0.0";

}  // namespace ombrik::cli
