// The download run: every listed track into the folder of 编辑框_下载目录.
#pragma once

#include <cstddef>
#include <functional>

#include "catalogue/window_ops.h"
#include "download/file_fetch.h"

namespace ombrik {

struct DownloadRunOptions {
  // The window always replaces; the command line lets the user choose.
  ExistingFileMode existing = ExistingFileMode::ReplaceExisting;
  // Transfers at once (the window: one), retries, resume.
  FetchSettings fetch;
  // Which tracks to walk, by 0-based row; empty: all. The others are passed over silently.
  std::function<bool(int row)> include;
};

// The handler of 按钮_下载. Tracks are started in list order; with more than one transfer at
// once they finish, and are reported, in the order they end.
void OnDownloadAll(WindowOperations& window, const DownloadRunOptions& options = {});

// The file name of a track without the folder: list number, cleaned title, ".", extension of
// the play address. Empty when the play address gives no extension, and the track is skipped.
// The title is shortened at a character boundary when the name, with ".part" and
// `reserveBytes` more, would not fit the file system's 255 bytes of UTF-8.
Text TrackFileName(const Text& number, const Text& title, const Text& playPath, std::size_t reserveBytes = 0);

}  // namespace ombrik
