// What the extraction and download runs do to the window, as an interface: the Qt window
// implements it, the command line implements it for a terminal, tests implement it as a
// recorder. All texts cross it as code page 936 Texts; each front end converts at its side.
#pragma once

#include <chrono>
#include <cstdint>

#include "text/text.h"
#include "web/failure.h"

namespace ombrik {

// The form's controls, by their names on the form.
enum class Control {
  分组框1,
  标签2,
  编辑框_URL,
  按钮_提取音频列表,
  列表标题,
  超级列表框_音频列表,
  标签3,
  编辑框_下载目录,
  按钮_浏览下载目录,
  按钮_下载,
  进度条1,
  状态条1,
};

// Message box icons, by their Windows codes.
enum class MessageIcon { None = 0, Error = 16, Question = 32, Exclamation = 48, Information = 64 };

// What became of one track of a download run.
enum class TrackOutcome {
  Fetched,  // written (or completed from an earlier try's part file)
  Kept,     // already there, and the run was told to keep such files
  Skipped,  // its play address names no file
  Failed,
};

// The end of an extraction run, as a front end needs it.
struct ListingSummary {
  bool totalKnown = false;  // the service's answer had a track count
  Text total;               // the count as the service wrote it
  int rows = 0;
  int failedPages = 0;  // pages that could not be read (each showed its box)
};

// The end of one track of a download run.
struct TrackReport {
  TrackOutcome outcome = TrackOutcome::Failed;
  Text path;                     // the file written or kept (number mode: the name it chose);
                                 // for a failure, the file that was meant
  Failure failure;               // why it failed
  std::int64_t bytes = 0;        // the file's size
  std::int64_t resumedFrom = 0;  // bytes an earlier, interrupted try had already saved
  int tries = 0;                 // transfers made for it

  // The file is there: fetched, or kept as it was.
  bool ok() const { return outcome == TrackOutcome::Fetched || outcome == TrackOutcome::Kept; }
};

class WindowOperations {
 public:
  virtual ~WindowOperations() = default;

  // Edit boxes (编辑框_URL, 编辑框_下载目录).
  virtual Text EditText(Control box) = 0;
  virtual void SetEditText(Control box, const Text& text) = 0;

  // The caption of 列表标题.
  virtual void SetListCaption(const Text& caption) = 0;

  // 超级列表框_音频列表: rows are 0-based, columns 0 (number), 1 (title), 2 (play address).
  virtual void DeleteAllRows() = 0;
  // Appends a row whose column 0 is `column0`; answers the new row's index.
  virtual int InsertRow(const Text& column0) = 0;
  virtual void SetCell(int row, int column, const Text& text) = 0;
  virtual Text CellText(int row, int column) = 0;
  virtual int RowCount() = 0;

  // Part 0 of 状态条1.
  virtual void SetStatusText(const Text& text) = 0;

  // 进度条1.
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetProgressVisible(bool visible) = 0;

  virtual void SetEnabled(Control control, bool enabled) = 0;

  // A modal box with an OK button. An empty title means the default title "信息：".
  virtual void ShowMessage(const Text& text, const Text& title, MessageIcon icon) = 0;

  // Typed news of the runs, beside what they show through the operations above, for a front
  // end that builds its own display (a terminal); the window shows the texts and ignores these.
  // Rows are 0-based list rows; pages count from 1, the probe for the track count is page 0.

  // A page could not be fetched or read, after its retries.
  virtual void PageFailed(int /*page*/, const Failure& /*why*/) {}
  virtual void ListingDone(const ListingSummary& /*summary*/) {}

  // A track's transfer begins; `path` is the file it writes.
  virtual void TrackStarted(int /*row*/, const Text& /*path*/) {}
  // Bytes of the track's file so far and its size (0 while unknown); called often.
  virtual void TrackBytes(int /*row*/, std::int64_t /*received*/, std::int64_t /*total*/) {}
  // A try failed and the next one follows after the pause.
  virtual void TrackWaiting(int /*row*/, int /*failedTries*/, std::chrono::milliseconds /*pause*/,
                            const Failure& /*why*/) {}
  virtual void TrackFinished(int /*row*/, const TrackReport& /*report*/) {}
  // Every track has finished; the run's closing report follows.
  virtual void TracksDone(int /*done*/, int /*tracks*/) {}
};

}  // namespace ombrik
