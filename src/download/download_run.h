// The download run: every listed track into the folder of 编辑框_下载目录.
#pragma once

#include "catalogue/window_ops.h"
#include "download/file_fetch.h"

namespace ombrik {

// The handler of 按钮_下载.
void OnDownloadAll(WindowOperations& window);

// The file name of track i (1-based) without the folder: list number, cleaned title, ".",
// extension of the play address. Empty when the play address gives no extension, and the
// track is skipped.
Text TrackFileName(const Text& number, const Text& title, const Text& playPath);

}  // namespace ombrik
