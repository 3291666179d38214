#include "download/download_run.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "catalogue/track_arrays.h"
#include "download/sanitize.h"
#include "text/text_ops.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

// The controls a run disables, in order, and enables again in the same order.
constexpr Control kRunControls[] = {Control::按钮_下载, Control::编辑框_下载目录, Control::按钮_提取音频列表,
                                    Control::编辑框_URL, Control::按钮_浏览下载目录};

void SetRunControlsEnabled(WindowOperations& window, bool enabled) {
  for (Control c : kRunControls) window.SetEnabled(c, enabled);
}

// Room a numbered name takes beyond the plain one: "(99)".
constexpr std::size_t kNumberSuffixBytes = 4;

// The tracks of one run, handed to the fetcher one by one as it has room, and what each
// outcome shows in the window.
class TrackRun : public FetchEvents {
 public:
  TrackRun(WindowOperations& window, const DownloadRunOptions& options)
      : window_(window), options_(options), tracks_(TrackTitles.Size()) {}

  std::optional<FetchJob> NextJob() override {
    while (next_ <= tracks_) {
      const int i = next_++;
      if (options_.include && !options_.include(i - 1)) continue;
      const Text& playPath = TrackPlayPaths.At(i);
      const std::size_t reserve = options_.existing == ExistingFileMode::NumberedName ? kNumberSuffixBytes : 0;
      const Text name = TrackFileName(window_.CellText(i - 1, 0), TrackTitles.At(i), playPath, reserve);
      if (name.empty()) {
        TrackReport skipped;
        skipped.outcome = TrackOutcome::Skipped;
        window_.TrackFinished(i - 1, skipped);
        continue;
      }
      // The folder box is read for every track, not once: it is the one source of truth.
      const Text path = ConcatText(window_.EditText(Control::编辑框_下载目录), "/", name);
      trackOfJob_.push_back(i);
      pathOfJob_.push_back(path);
      return FetchJob{playPath, path, options_.existing};
    }
    return std::nullopt;
  }

  void Started(int job, const Text& target) override { window_.TrackStarted(Row(job), target); }
  void Progress(int job, std::int64_t received, std::int64_t total) override {
    window_.TrackBytes(Row(job), received, total);
  }
  void Waiting(int job, int failedTries, std::chrono::milliseconds pause, const Failure& why) override {
    window_.TrackWaiting(Row(job), failedTries, pause, why);
  }

  void Finished(int job, const TrackReport& report) override {
    const int i = trackOfJob_[static_cast<std::size_t>(job)];
    window_.TrackFinished(i - 1, report);
    if (report.ok()) {
      window_.SetStatusText(ConcatText("正在下载 "_t, IntToText(i), " ", report.path));
      window_.SetProgressPosition(TruncToInt(i * 100.0 / tracks_));
      ++done_;
    } else if (report.failure.cause != FailureCause::Cancelled) {
      // The user stopped the run: that is no news about this track.
      window_.ShowMessage(
          ConcatText(pathOfJob_[static_cast<std::size_t>(job)], "  下载失败！\r\n"_t, TrackPlayPaths.At(i)), "",
          MessageIcon::Error);
    }
  }

  int tracks() const { return tracks_; }
  int done() const { return done_; }
  // The loop counter's value after the run: past the last track, or at the track where a stop
  // request ended the run.
  int EndCounter() const { return NetworkCancelRequested() ? next_ - 1 : tracks_ + 1; }

 private:
  int Row(int job) const { return trackOfJob_[static_cast<std::size_t>(job)] - 1; }

  WindowOperations& window_;
  const DownloadRunOptions& options_;
  const int tracks_;
  int next_ = 1;
  int done_ = 0;
  std::vector<int> trackOfJob_;
  std::vector<Text> pathOfJob_;
};

}  // namespace

Text TrackFileName(const Text& number, const Text& title, const Text& playPath, std::size_t reserveBytes) {
  TextArray pieces;
  if (SplitText(playPath, "/", 0, pieces) < 1) return {};
  const Text last = pieces.At(pieces.Size());
  // A last piece made only of dots has no extension to take: such a track is skipped.
  if (SplitText(last, ".", 0, pieces) < 1) return {};
  // The extension is a server's text as well: a slash after a stray lead byte must not make
  // the name reach into a folder.
  const Text ext = DropSlashBytes(pieces.At(pieces.Size()));
  const Text cleaned = SanitizeFileName(title);
  const auto name = [&](const Text& t) { return ConcatText(number, t, ".", ext); };
  Text result = name(cleaned);
  const std::size_t room = kMaxFileNameBytes - std::strlen(kPartSuffix) - reserveBytes;
  if (FileNameBytes(result) <= room) return result;
  // Too long for the file system: the title gives way, whole characters at a time.
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < cleaned.size(); at += cleaned.byte(at) >= 0x80 && at + 1 < cleaned.size() ? 2 : 1) {
    starts.push_back(at);
  }
  while (!starts.empty() && FileNameBytes(result) > room) {
    result = name(TextLeft(cleaned, static_cast<int>(starts.back())));
    starts.pop_back();
  }
  return result;
}

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
    TrackRun run(window, options);
    FetchFiles(run, options.fetch);
    i = run.EndCounter();
    done = run.done();
    window.TracksDone(done, n);
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
