#include "cli/terminal_window.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "catalogue/track_arrays.h"
#include "cli/list_output.h"
#include "cli/visible_text.h"
#include "text/text_ops.h"
#include "text/utf8.h"
#include "web/network_wait.h"

namespace ombrik::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// Decodes one UTF-8 sequence at s[i], advancing i; a malformed one counts as one character.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const Utf8Char c = DecodeUtf8At(s, i);
  i += c.length;
  return c.cp;
}

bool IsWide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
         (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) || (cp >= 0x1F900 && cp <= 0x1F9FF) ||
         (cp >= 0x20000 && cp <= 0x3FFFD);
}

// The end of the text that fits in `columns`, with "…" in front when something was cut.
std::string FitTail(const std::string& utf8, int columns) {
  if (DisplayWidth(utf8) <= columns) return utf8;
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < utf8.size();) {
    starts.push_back(i);
    NextCodePoint(utf8, i);
  }
  int used = 1;  // the ellipsis
  std::size_t from = utf8.size();
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    const int w = DisplayWidth(utf8.substr(*it, from - *it));
    if (used + w > columns) break;
    used += w;
    from = *it;
  }
  return "…" + utf8.substr(from);
}

// A message box's text on one line.
std::string OneLine(const Text& text) {
  const std::string utf8 = TextToUtf8(text);
  std::string line;
  for (std::size_t at = 0; at < utf8.size(); ++at) {
    if (utf8.compare(at, 2, "\r\n") == 0) {
      line += ' ';
      ++at;
    } else {
      line += utf8[at];
    }
  }
  return line;
}

std::string Rate(std::int64_t bytes, Clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  if (seconds < 0.001) return {};
  return HumanBytes(static_cast<std::int64_t>(static_cast<double>(bytes) / seconds)) + "/s";
}

std::string Clockface(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buffer[32];
  if (s >= 3600) {
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld", s / 60, s % 60);
  }
  return buffer;
}

const char* OutcomeName(TrackOutcome outcome) {
  switch (outcome) {
    case TrackOutcome::Fetched:
      return "fetched";
    case TrackOutcome::Kept:
      return "kept";
    case TrackOutcome::Skipped:
      return "skipped";
    case TrackOutcome::Failed:
      return "failed";
  }
  return "failed";
}

}  // namespace

std::string HumanBytes(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f %s", value, kUnits[unit]);
  return buffer;
}

int DisplayWidth(const std::string& utf8) {
  int width = 0;
  for (std::size_t i = 0; i < utf8.size();) width += IsWide(NextCodePoint(utf8, i)) ? 2 : 1;
  return width;
}

TerminalWindow::TerminalWindow(TerminalSettings settings) : settings_(settings) {}

Text TerminalWindow::EditText(Control box) { return edits_[box]; }
void TerminalWindow::SetEditText(Control box, const Text& text) { edits_[box] = text; }

void TerminalWindow::SetListCaption(const Text& caption) {
  if (!settings_.quiet) Line(TextToUtf8(caption));
}

void TerminalWindow::DeleteAllRows() { rows_.clear(); }

int TerminalWindow::InsertRow(const Text& column0) {
  rows_.push_back({column0, Text(), Text()});
  return static_cast<int>(rows_.size()) - 1;
}

void TerminalWindow::SetCell(int row, int column, const Text& text) {
  if (row < 0 || row >= RowCount() || column < 0 || column > 2) return;
  rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
}

Text TerminalWindow::CellText(int row, int column) {
  if (row < 0 || row >= RowCount() || column < 0 || column > 2) return {};
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

int TerminalWindow::RowCount() { return static_cast<int>(rows_.size()); }

void TerminalWindow::SetStatusText(const Text& text) {
  // While tracks run, the status repeats what the track events said already; afterwards it is
  // the run's closing report ("  4 项下载完毕").
  if (tracksPhase_ || NetworkCancelRequested() || settings_.quiet) return;
  const std::string utf8 = TextToUtf8(text);
  Line(utf8.substr(std::min(utf8.find_first_not_of(' '), utf8.size())));
}

void TerminalWindow::ShowMessage(const Text& text, const Text&, MessageIcon icon) {
  // After Ctrl-C every transfer fails at once; those failures are not the user's news.
  if (NetworkCancelRequested()) return;
  const bool error = icon == MessageIcon::Error;
  std::string line = OneLine(text);
  if (error && pendingReason_) line += "  (" + *pendingReason_ + ")";
  pendingReason_.reset();
  if (error || !settings_.quiet) Line(line);
}

void TerminalWindow::PageFailed(int page, const Failure& why) {
  // The probe shows no box of its own; the caller reports it with the listing's outcome.
  if (page == 0) {
    probeFailure_ = why;
  } else {
    pendingReason_ = Describe(why);
  }
}

void TerminalWindow::ListingDone(const ListingSummary& summary) { listing_ = summary; }

void TerminalWindow::TrackStarted(int row, const Text& path) {
  EnterTracksPhase();
  running_.push_back({row, VisibleText(TextToUtf8(path)), 0, 0, Clock::now(), {}});
  DrawLive(true);
}

void TerminalWindow::TrackBytes(int row, std::int64_t received, std::int64_t total) {
  for (Running& r : running_) {
    if (r.row != row) continue;
    r.received = received;
    r.total = total;
    r.waiting.clear();
  }
  DrawLive(false);
}

void TerminalWindow::TrackWaiting(int row, int failedTries, std::chrono::milliseconds pause, const Failure& why) {
  const double seconds = static_cast<double>(pause.count()) / 1000;
  char wait[64];
  std::snprintf(wait, sizeof wait, "retry %d in %.1f s: ", failedTries, seconds);
  for (Running& r : running_) {
    if (r.row != row) continue;
    r.waiting = VisibleText(wait + Describe(why));
    if (!settings_.liveProgress && !settings_.quiet) Line(Count(row) + r.path + "  " + r.waiting);
  }
  DrawLive(true);
}

void TerminalWindow::TrackFinished(int row, const TrackReport& report) {
  EnterTracksPhase();
  Clock::time_point started = Clock::now();
  for (auto it = running_.begin(); it != running_.end(); ++it) {
    if (it->row == row) {
      started = it->started;
      running_.erase(it);
      break;
    }
  }
  ++finished_;
  const std::string path = TextToUtf8(report.path);
  if (settings_.trackJson && report.failure.cause != FailureCause::Cancelled) {
    const auto& cells = rows_[static_cast<std::size_t>(row)];
    const std::string reason = report.outcome == TrackOutcome::Failed    ? JsonString(Describe(report.failure))
                               : report.outcome == TrackOutcome::Skipped ? JsonString(std::string("no file to fetch"))
                                                                         : "null";
    std::fprintf(settings_.trackJson,
                 "{\"number\":%s,\"title\":%s,\"path\":%s,\"outcome\":\"%s\",\"reason\":%s,\"bytes\":%lld}\n",
                 JsonNumber(cells[0]).c_str(), JsonString(cells[1]).c_str(),
                 report.path.empty() ? "null" : JsonString(path).c_str(), OutcomeName(report.outcome), reason.c_str(),
                 static_cast<long long>(report.bytes));
    std::fflush(settings_.trackJson);
  }
  switch (report.outcome) {
    case TrackOutcome::Fetched: {
      ++fetched_;
      const std::int64_t moved = report.bytes - report.resumedFrom;
      bytesDone_ += moved;
      std::string line = Count(row) + path + "  " + HumanBytes(report.bytes);
      if (const std::string rate = Rate(moved, Clock::now() - started); !rate.empty()) line += "  " + rate;
      if (report.resumedFrom > 0) line += "  (resumed at " + HumanBytes(report.resumedFrom) + ")";
      if (!settings_.quiet) Line(line);
      break;
    }
    case TrackOutcome::Kept:
      ++fetched_;
      if (!settings_.quiet) Line(Count(row) + path + "  kept (already there)");
      break;
    case TrackOutcome::Skipped:
      Line(Count(row) + TextToUtf8(rows_[static_cast<std::size_t>(row)][0]) + "  skipped: no file to fetch");
      break;
    case TrackOutcome::Failed:
      // The run's message box follows and carries the reason.
      if (report.failure.cause != FailureCause::Cancelled) pendingReason_ = Describe(report.failure);
      break;
  }
  DrawLive(true);
}

void TerminalWindow::EnterTracksPhase() {
  if (tracksPhase_) return;
  tracksPhase_ = true;
  runStarted_ = Clock::now();
}

void TerminalWindow::TracksDone(int, int) { EndDownload(); }

void TerminalWindow::EndDownload() {
  ClearLive();
  running_.clear();
  tracksPhase_ = false;
}

std::string TerminalWindow::Count(int row) const {
  // Appended piece by piece: GCC 12 warns (wrongly) about the chained operator+ at -O2.
  std::string count = "[";
  count.append(std::to_string(row + 1)).append("/").append(std::to_string(rows_.size())).append("] ");
  return count;
}

void TerminalWindow::DrawLive(bool force) {
  if (!settings_.liveProgress || settings_.quiet || NetworkCancelRequested()) return;
  const auto now = Clock::now();
  if (!force && now - lastDraw_ < kRedrawEvery) return;
  lastDraw_ = now;
  std::vector<std::string> lines;
  std::vector<const Running*> shown;
  for (const Running& r : running_) shown.push_back(&r);
  std::sort(shown.begin(), shown.end(), [](const Running* a, const Running* b) { return a->row < b->row; });
  double fraction = finished_;
  std::int64_t moving = bytesDone_;
  for (const Running* r : shown) {
    std::string numbers;
    if (!r->waiting.empty()) {
      numbers = "  " + r->waiting;
    } else {
      numbers = "  " + HumanBytes(r->received);
      if (r->total > 0) numbers += " / " + HumanBytes(r->total);
      if (now - r->started >= std::chrono::milliseconds(200)) numbers += "  " + Rate(r->received, now - r->started);
    }
    if (r->total > 0) fraction += static_cast<double>(r->received) / static_cast<double>(r->total);
    moving += r->received;
    const std::string count = Count(r->row);
    const int room = settings_.width - 1 - DisplayWidth(count) - DisplayWidth(numbers);
    lines.push_back(count + FitTail(r->path, std::max(room, 8)) + numbers);
  }
  // The whole run: tracks finished, speed, and the time left at the pace so far.
  const double elapsed = std::chrono::duration<double>(now - runStarted_).count();
  const std::size_t tracks = std::max<std::size_t>(rows_.size(), 1);
  std::string overall =
      "[" + std::to_string(finished_) + "/" + std::to_string(rows_.size()) + " done]  " + HumanBytes(moving);
  if (elapsed >= 0.5) {
    overall += "  " + Rate(moving, now - runStarted_);
    fraction /= static_cast<double>(tracks);
    if (fraction > 0.01) overall += "  ETA " + Clockface(elapsed * (1 - fraction) / fraction);
  }
  lines.push_back(overall);

  std::string out;
  if (liveLines_ > 0) out += "\x1b[" + std::to_string(liveLines_) + "A";
  for (const std::string& line : lines) out += "\r\x1b[K" + line + "\n";
  out += "\x1b[J";
  std::fputs(out.c_str(), settings_.err);
  std::fflush(settings_.err);
  liveLines_ = static_cast<int>(lines.size());
}

void TerminalWindow::ClearLive() {
  if (liveLines_ == 0) return;
  std::fprintf(settings_.err, "\x1b[%dA\r\x1b[J", liveLines_);
  liveLines_ = 0;
}

void TerminalWindow::Line(const std::string& utf8) {
  ClearLive();
  std::fprintf(settings_.err, "%s\n", VisibleText(utf8).c_str());
  std::fflush(settings_.err);
}

}  // namespace ombrik::cli
