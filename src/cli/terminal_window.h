// The window operations for a terminal: the edit boxes and the list live in memory, message
// boxes become lines on standard error, and the download run's per-track progress becomes
// one line per track (updated in place when standard error is a terminal).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "catalogue/window_ops.h"
#include "download/file_fetch.h"

namespace ombrik::cli {

struct TerminalSettings {
  std::FILE* err = stderr;
  bool quiet = false;
  bool liveProgress = false;  // redraw the current track's line in place
  int width = 80;             // columns available for a live line
};

class TerminalWindow : public WindowOperations {
 public:
  explicit TerminalWindow(TerminalSettings settings);

  Text EditText(Control box) override;
  void SetEditText(Control box, const Text& text) override;
  void SetListCaption(const Text& caption) override;
  void DeleteAllRows() override;
  int InsertRow(const Text& column0) override;
  void SetCell(int row, int column, const Text& text) override;
  Text CellText(int row, int column) override;
  int RowCount() override;
  void SetStatusText(const Text& text) override;
  void SetProgressPosition(int) override {}
  void SetProgressVisible(bool) override {}
  void SetEnabled(Control, bool) override {}
  void ShowMessage(const Text& text, const Text& title, MessageIcon icon) override;
  void TrackBytesReceived(std::int64_t received, std::int64_t total) override;

  const std::vector<std::array<Text, 3>>& Rows() const { return rows_; }
  const Text& Caption() const { return caption_; }
  int ErrorMessages() const { return errorMessages_; }

  // From here on the run is a download run with this existing-file mode: the window follows
  // it track by track. FetchedTracks counts the tracks written or, with keep, already there.
  void BeginDownload(ExistingFileMode mode);
  void EndDownload();
  int FetchedTracks() const { return fetched_; }

 private:
  enum class Outcome { Pending, Fetched, Kept, Failed };
  void StartTrack(int row);
  void FinishTrack(Outcome outcome);
  void DrawLiveLine(bool force);
  void ClearLiveLine();
  void Line(const std::string& utf8);

  TerminalSettings settings_;
  std::map<Control, Text> edits_;
  std::vector<std::array<Text, 3>> rows_;
  Text caption_;
  int errorMessages_ = 0;

  // The download run's current track.
  bool downloading_ = false;
  ExistingFileMode mode_ = ExistingFileMode::ReplaceExisting;
  int fetched_ = 0;
  int row_ = -1;
  Outcome outcome_ = Outcome::Pending;
  std::string path_;  // UTF-8, for the lines
  bool existedBefore_ = false;
  std::int64_t received_ = 0;
  std::int64_t total_ = 0;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
  bool liveLineShown_ = false;
};

// "1.2 MiB", "512 B": a byte count for people.
std::string HumanBytes(std::int64_t bytes);
// Terminal columns of a UTF-8 text (East Asian wide characters count two).
int DisplayWidth(const std::string& utf8);

}  // namespace ombrik::cli
