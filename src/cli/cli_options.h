// The command line of ombrik-cli, parsed into what a run needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/file_fetch.h"

namespace ombrik::cli {

enum class Command { List, Get, Help, Version };

struct Options {
  Command command = Command::Help;
  std::string link;             // UTF-8, as typed
  std::string folder = ".";     // get: where the files go
  ExistingFileMode existing = ExistingFileMode::ReplaceExisting;
  int retries = 0;
  bool json = false;            // list: one JSON object per line
  bool quiet = false;
  std::optional<std::string> apiOrigin;
  std::optional<int> timeoutSeconds;
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
