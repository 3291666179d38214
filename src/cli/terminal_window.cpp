#include "cli/terminal_window.h"

#include <cstdio>
#include <string_view>

#include "catalogue/track_arrays.h"
#include "download/download_run.h"
#include "text/text_ops.h"
#include "text/utf8.h"
#include "web/network_wait.h"

namespace ombrik::cli {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// Decodes one UTF-8 sequence at s[i], advancing i; a malformed one counts as one character.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const Utf8Char c = DecodeUtf8At(s, i);
  i += c.length;
  return c.cp;
}

bool IsWide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
         (cp >= 0x1F900 && cp <= 0x1F9FF) || (cp >= 0x20000 && cp <= 0x3FFFD);
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
  caption_ = caption;
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
  // The download run reads a row's number just before it fetches that row's track: that is
  // where the terminal learns which track is next.
  if (downloading_ && column == 0 && row != row_) StartTrack(row);
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

int TerminalWindow::RowCount() { return static_cast<int>(rows_.size()); }

void TerminalWindow::SetStatusText(const Text& text) {
  if (NetworkCancelRequested()) return;
  const std::string utf8 = TextToUtf8(text);
  if (downloading_ && utf8.starts_with("正在下载 ") && row_ >= 0 && outcome_ == Outcome::Pending) {
    FinishTrack(existedBefore_ ? Outcome::Kept : Outcome::Fetched);
    return;
  }
  // The run's closing report ("  4 项下载完毕").
  if (!settings_.quiet) Line(utf8.substr(std::min(utf8.find_first_not_of(' '), utf8.size())));
}

void TerminalWindow::ShowMessage(const Text& text, const Text&, MessageIcon icon) {
  // After Ctrl-C every transfer fails at once; those failures are not the user's news.
  if (NetworkCancelRequested()) return;
  const bool error = icon == MessageIcon::Error;
  if (error) ++errorMessages_;
  if (downloading_ && error && row_ >= 0 && outcome_ == Outcome::Pending) {
    outcome_ = Outcome::Failed;
    ClearLiveLine();
  }
  if (error || !settings_.quiet) Line(OneLine(text));
}

void TerminalWindow::TrackBytesReceived(std::int64_t received, std::int64_t total) {
  if (!downloading_ || row_ < 0) return;
  if (received < received_) started_ = std::chrono::steady_clock::now();  // a retry starts over
  received_ = received;
  total_ = total;
  DrawLiveLine(false);
}

void TerminalWindow::BeginDownload(ExistingFileMode mode) {
  downloading_ = true;
  mode_ = mode;
  fetched_ = 0;
  row_ = -1;
}

void TerminalWindow::EndDownload() {
  if (row_ >= 0 && outcome_ == Outcome::Pending && !NetworkCancelRequested()) {
    FinishTrack(Outcome::Pending);
  }
  ClearLiveLine();
  downloading_ = false;
  row_ = -1;
}

void TerminalWindow::StartTrack(int row) {
  // A track that came to no outcome was skipped by the run: it has no play address to fetch.
  if (row_ >= 0 && outcome_ == Outcome::Pending) FinishTrack(Outcome::Pending);
  row_ = row;
  outcome_ = Outcome::Pending;
  received_ = total_ = 0;
  started_ = lastDraw_ = std::chrono::steady_clock::now();
  const Text name = TrackFileName(rows_[static_cast<std::size_t>(row)][0], TrackTitles.At(row + 1),
                                  TrackPlayPaths.At(row + 1));
  const Text path = name.empty() ? Text() : ConcatText(edits_[Control::编辑框_下载目录], "/", name);
  path_ = TextToUtf8(path);
  existedBefore_ = mode_ == ExistingFileMode::KeepExisting && PathExists(path);
  DrawLiveLine(true);
}

void TerminalWindow::FinishTrack(Outcome outcome) {
  outcome_ = outcome == Outcome::Pending ? Outcome::Failed : outcome;
  const std::string count = "[" + std::to_string(row_ + 1) + "/" + std::to_string(rows_.size()) + "] ";
  std::string line;
  if (outcome == Outcome::Pending) {
    line = count + TextToUtf8(rows_[static_cast<std::size_t>(row_)][0]) + "  skipped: no file to fetch";
  } else if (outcome == Outcome::Kept) {
    line = count + path_ + "  kept (already there)";
  } else {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    line = count + path_ + "  " + HumanBytes(received_);
    if (seconds > 0.001) line.append("  ").append(HumanBytes(static_cast<std::int64_t>(received_ / seconds))).append("/s");
  }
  if (outcome != Outcome::Pending) ++fetched_;
  if (!settings_.quiet || outcome == Outcome::Pending) Line(line);
}

void TerminalWindow::DrawLiveLine(bool force) {
  if (!settings_.liveProgress || settings_.quiet || path_.empty()) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < kRedrawEvery) return;
  lastDraw_ = now;
  const std::string count = "[" + std::to_string(row_ + 1) + "/" + std::to_string(rows_.size()) + "] ";
  std::string numbers = "  " + HumanBytes(received_);
  if (total_ > 0) numbers += " / " + HumanBytes(total_);
  const double seconds = std::chrono::duration<double>(now - started_).count();
  if (seconds >= 0.2) numbers.append("  ").append(HumanBytes(static_cast<std::int64_t>(received_ / seconds))).append("/s");
  const int room = settings_.width - 1 - DisplayWidth(count) - DisplayWidth(numbers);
  const std::string shown = count + FitTail(path_, std::max(room, 8)) + numbers;
  std::fprintf(settings_.err, "\r%s\x1b[K", shown.c_str());
  std::fflush(settings_.err);
  liveLineShown_ = true;
}

void TerminalWindow::ClearLiveLine() {
  if (!liveLineShown_) return;
  std::fputs("\r\x1b[K", settings_.err);
  liveLineShown_ = false;
}

void TerminalWindow::Line(const std::string& utf8) {
  ClearLiveLine();
  std::fprintf(settings_.err, "%s\n", utf8.c_str());
  std::fflush(settings_.err);
}

}  // namespace ombrik::cli
