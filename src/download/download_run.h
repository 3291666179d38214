// The download run: every listed track into the folder of 编辑框_下载目录.
#pragma once

#include "catalogue/window_ops.h"
#include "download/file_fetch.h"

namespace ombrik {

struct DownloadRunOptions {
  // The window always replaces; the command line lets the user choose.
  ExistingFileMode existing = ExistingFileMode::ReplaceExisting;
  // Further tries of a failed track, after a pause that grows by one second each time.
  int retries = 0;
};

// The handler of 按钮_下载.
void OnDownloadAll(WindowOperations& window, const DownloadRunOptions& options = {});

// The file name of track i (1-based) without the folder: list number, cleaned title, ".",
// extension of the play address. Empty when the play address gives no extension, and the
// track is skipped.
Text TrackFileName(const Text& number, const Text& title, const Text& playPath);

}  // namespace ombrik
