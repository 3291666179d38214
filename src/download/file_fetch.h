// Fetching one URL into one file, safely: the transfer goes to a temporary file in the target
// folder that replaces the target only after a complete, successful transfer.
#pragma once

#include <cstdint>
#include <functional>

#include "text/text.h"

namespace ombrik {

enum class ExistingFileMode : int {
  ReplaceExisting = 0,  // replace the existing file (only once the new one is complete)
  NumberedName = 1,     // fetch to the first free name "a(1).m4a" .. "a(99).m4a"
  KeepExisting = 2,     // fetch nothing and report success
};

// Bytes received so far and the expected total (0 while unknown).
using DownloadProgress = std::function<void(std::int64_t received, std::int64_t total)>;

// url and path are Texts (code page 936); a URL without "://" gets "http://" in front. Only
// http and https are fetched. True when the file was written or, with KeepExisting, exists.
bool DownloadFile(const Text& url, const Text& path, ExistingFileMode mode,
                  const DownloadProgress& progress = {});

// The last path component's extension, dot included; empty when it has none.
Text FileExtensionOf(const Text& path);
// The text without its last n characters, counted in UTF-16 code units.
Text DropLastCharacters(const Text& text, int n);
// Whether a file, directory or anything else exists under the path.
bool PathExists(const Text& path);

}  // namespace ombrik
