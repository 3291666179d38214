// The window operations for a terminal: the edit boxes and the list live in memory, and what
// the runs report becomes lines on standard error. The download run's typed track events drive
// the display: one line per finished track and, when standard error is a terminal, a live line
// per running transfer and an overall line under them. Display texts are printed as they are,
// never read.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/window_ops.h"

namespace ombrik::cli {

struct TerminalSettings {
  std::FILE* err = stderr;
  bool quiet = false;
  bool liveProgress = false;  // redraw the running transfers' lines in place
  int width = 80;             // columns available for a live line
  // Where a download writes one JSON object per finished track; null for none.
  std::FILE* trackJson = nullptr;
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

  void PageFailed(int page, const Failure& why) override;
  void ListingDone(const ListingSummary& summary) override;
  void TrackStarted(int row, const Text& path) override;
  void TrackBytes(int row, std::int64_t received, std::int64_t total) override;
  void TrackWaiting(int row, int failedTries, std::chrono::milliseconds pause, const Failure& why) override;
  void TrackFinished(int row, const TrackReport& report) override;
  void TracksDone(int done, int tracks) override;

  const std::vector<std::array<Text, 3>>& Rows() const { return rows_; }
  const ListingSummary& Listing() const { return listing_; }
  // Why the probe for the track count failed, when it did.
  const std::optional<Failure>& ProbeFailure() const { return probeFailure_; }

  // Tracks written or, with keep, already there.
  int FetchedTracks() const { return fetched_; }
  // Clears the live lines; after the download run.
  void EndDownload();

 private:
  struct Running {
    int row = 0;
    std::string path;  // UTF-8, shown
    std::int64_t received = 0;
    std::int64_t total = 0;
    std::chrono::steady_clock::time_point started;
    std::string waiting;  // "retry 1 in 2 s: HTTP 503" while a retry waits
  };

  // The first track event starts the run's clock.
  void EnterTracksPhase();
  void DrawLive(bool force);
  void ClearLive();
  void Line(const std::string& utf8);
  std::string Count(int row) const;

  TerminalSettings settings_;
  std::map<Control, Text> edits_;
  std::vector<std::array<Text, 3>> rows_;
  ListingSummary listing_;
  std::optional<Failure> probeFailure_;
  // The reason behind the failure the next message box reports.
  std::optional<std::string> pendingReason_;

  // The download run.
  bool tracksPhase_ = false;  // between the first track event and TracksDone
  int fetched_ = 0;
  int finished_ = 0;
  std::int64_t bytesDone_ = 0;  // of finished tracks, this run's transfers only
  std::chrono::steady_clock::time_point runStarted_;
  std::vector<Running> running_;
  std::chrono::steady_clock::time_point lastDraw_;
  int liveLines_ = 0;
};

// "1.2 MiB", "512 B": a byte count for people.
std::string HumanBytes(std::int64_t bytes);
// Terminal columns of a UTF-8 text (East Asian wide characters count two).
int DisplayWidth(const std::string& utf8);

}  // namespace ombrik::cli
