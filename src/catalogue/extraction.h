// The extraction run: from the album link in 编辑框_URL to the filled track list.
#pragma once

#include "catalogue/window_ops.h"
#include "text/text.h"

namespace ombrik {

// One GET with the request engine's defaults; the body up to its first zero byte, empty when
// the request failed.
Text HttpGetText(const Text& url);

// The handler of 按钮_提取音频列表. Empties TrackTitles, TrackPlayPaths and the list, then
// fetches the album page by page and appends one row per planned track.
void OnExtractTrackList(WindowOperations& window);

}  // namespace ombrik
