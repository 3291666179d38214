#include "download/download_run.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "catalogue/track_arrays.h"
#include "download/sanitize.h"
#include "text/text_ops.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

// The controls a run disables, in order, and enables again in the same order.
constexpr Control kRunControls[] = {Control::按钮_下载, Control::编辑框_下载目录,
                                    Control::按钮_提取音频列表, Control::编辑框_URL,
                                    Control::按钮_浏览下载目录};

void SetRunControlsEnabled(WindowOperations& window, bool enabled) {
  for (Control c : kRunControls) window.SetEnabled(c, enabled);
}

}  // namespace

Text TrackFileName(const Text& number, const Text& title, const Text& playPath) {
  TextArray pieces;
  if (SplitText(playPath, "/", 0, pieces) < 1) return {};
  const Text last = pieces.At(pieces.Size());
  // A last piece made only of dots has no extension to take: such a track is skipped.
  if (SplitText(last, ".", 0, pieces) < 1) return {};
  // The extension is a server's text as well: a slash after a stray lead byte must not make
  // the name reach into a folder.
  return ConcatText(number, SanitizeFileName(title), ".", DropSlashBytes(pieces.At(pieces.Size())));
}

namespace {

bool FetchTrack(WindowOperations& window, const Text& url, const Text& path,
                const DownloadRunOptions& options) {
  const DownloadProgress progress = [&window](std::int64_t received, std::int64_t total) {
    window.TrackBytesReceived(received, total);
  };
  for (int attempt = 0;; ++attempt) {
    if (DownloadFile(url, path, options.existing, progress)) return true;
    if (attempt >= options.retries || NetworkCancelRequested()) return false;
    const auto pause = std::chrono::steady_clock::now() + std::chrono::seconds(attempt + 1);
    while (std::chrono::steady_clock::now() < pause && !NetworkCancelRequested()) {
      CallNetworkWaitHook();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
}

}  // namespace

void OnDownloadAll(WindowOperations& window, const DownloadRunOptions& options) {
  SetRunControlsEnabled(window, false);
  int i = 0;
  int done = 0;
  const int n = TrackTitles.Size();
  if (window.EditText(Control::编辑框_下载目录).empty()) {
    window.ShowMessage("下载目录为空！"_t, "", MessageIcon::Error);
  } else {
    window.SetProgressPosition(0);
    window.SetProgressVisible(true);
    for (i = 1; i <= n; ++i) {
      // A terminal's Ctrl-C ends the run here: the remaining tracks are not tried.
      if (NetworkCancelRequested()) break;
      const Text& playPath = TrackPlayPaths.At(i);
      const Text name = TrackFileName(window.CellText(i - 1, 0), TrackTitles.At(i), playPath);
      if (name.empty()) continue;
      // The folder box is read for every track, not once: it is the one source of truth.
      const Text path = ConcatText(window.EditText(Control::编辑框_下载目录), "/", name);
      if (FetchTrack(window, playPath, path, options)) {
        window.SetStatusText(ConcatText("正在下载 "_t, IntToText(i), " ", path));
        window.SetProgressPosition(TruncToInt(i * 100.0 / n));
        ++done;
      } else {
        window.ShowMessage(ConcatText(path, "  下载失败！\r\n"_t, playPath), "", MessageIcon::Error);
      }
    }
  }
  const bool complete = std::fabs((i - 1.0) - n) < 1e-7 && i >= 2;
  if (complete) {
    window.SetStatusText(ConcatText("  ", IntToText(done), " 项下载完毕"_t));
    window.ShowMessage("全部完成！"_t, "", MessageIcon::Information);
  } else {
    window.SetStatusText("   下载中断，请检查下载目录是否正确！！"_t);
  }
  SetRunControlsEnabled(window, true);
}

}  // namespace ombrik
