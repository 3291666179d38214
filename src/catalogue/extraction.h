// The extraction run: from the album link in 编辑框_URL to the filled track list.
#pragma once

#include "catalogue/window_ops.h"
#include "text/text.h"
#include "web/failure.h"
#include "web/network_settings.h"

namespace ombrik {

// One GET with the request engine's defaults; the body up to its first zero byte, empty when
// the request failed.
[[nodiscard]] Text HttpGetText(const Text& url);

// A page of the service: its text (as HttpGetText gives it) and, when the request failed after
// the policy's retries, why.
struct PageText {
  Text text;
  Failure failure;
};
[[nodiscard]] PageText FetchPageText(const Text& url, const RetryPolicy& retry, const NetworkSettings& network = {});

struct ExtractionOptions {
  // scheme://host[:port] of the album track service; empty: the built-in one.
  Text apiOrigin;
  // Transient failures of a page request are tried again by this policy before the page counts
  // as failed.
  RetryPolicy retry;
  NetworkSettings network;
  // Page requests in flight at once, ahead of the page being read; 1 fetches one after the
  // other. Rows, boxes and captions come out in page order either way.
  int pagesAtOnce = 4;
};

// The handler of 按钮_提取音频列表. Empties TrackTitles, TrackPlayPaths and the list, then
// fetches the album page by page and appends one row per planned track.
void OnExtractTrackList(WindowOperations& window, const ExtractionOptions& options = {});

}  // namespace ombrik
