// The CPU an extraction spends on each track once its page has arrived: the body turned into
// text, percent-decoded and converted from UTF-8, parsed, then per track the title and play
// address read with GetText, appended to the shared arrays and shown as a list row, exactly
// as the extraction run does it. The page is the loopback album service's own answer for a
// full page of the 10,000-track album. The counter per_track is the figure to compare with the
// 2.5 µs target; the other benchmarks split it into its steps.
#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

#include "album_service/albums.h"
#include "catalogue/album_link.h"
#include "catalogue/track_arrays.h"
#include "catalogue/window_ops.h"
#include "json/json_document.h"
#include "text/codepage.h"
#include "text/text_ops.h"

namespace ombrik {
namespace {

constexpr int kTracks = 100;
constexpr double kTotal = 10000;
constexpr int kPage = 37;

const Bytes& PageBody() {
  static const Bytes body = [] {
    const albumservice::Answer answer = albumservice::AnswerPage(
        {"1010000", std::to_string(kPage), std::to_string(kTracks), "true"}, "http://127.0.0.1:8080");
    return Bytes(answer.body);
  }();
  return body;
}

// Rows kept as texts, the least a list can do: what remains is the run's own cost.
class RowStore final : public WindowOperations {
 public:
  Text EditText(Control) override { return {}; }
  void SetEditText(Control, const Text&) override {}
  void SetListCaption(const Text&) override {}
  void DeleteAllRows() override { rows_.clear(); }
  int InsertRow(const Text& column0) override {
    rows_.push_back({column0, {}, {}});
    return static_cast<int>(rows_.size()) - 1;
  }
  void SetCell(int row, int column, const Text& text) override { rows_[row][column] = text; }
  Text CellText(int row, int column) override { return rows_[row][column]; }
  int RowCount() override { return static_cast<int>(rows_.size()); }
  void SetStatusText(const Text&) override {}
  void SetProgressPosition(int) override {}
  void SetProgressVisible(bool) override {}
  void SetEnabled(Control, bool) override {}
  void ShowMessage(const Text&, const Text&, MessageIcon) override {}

 private:
  std::vector<std::array<Text, 3>> rows_;
};

void PerTrackCounter(benchmark::State& state) {
  state.counters["per_track"] = benchmark::Counter(static_cast<double>(state.iterations()) * kTracks,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One page as the extraction run reads it.
void ReadPage(JsonDocument& doc, WindowOperations& window, const Bytes& body) {
  if (!doc.Parse(UrlDecode(BytesToText(body), true))) return;
  for (int k = 1; k <= kTracks; ++k) {
    const Text index = TrackIndexText(k);
    TrackTitles.Append(doc.GetText(ConcatText("data.trackDetailInfos[", index, "].trackInfo.title")));
    TrackPlayPaths.Append(doc.GetText(ConcatText("data.trackDetailInfos[", index, "].trackInfo.playPath")));
    const int row = window.InsertRow(TrackRowNumber(kTotal, kPage, k));
    window.SetCell(row, 1, TrackTitles.At(row + 1));
    window.SetCell(row, 2, TrackPlayPaths.At(row + 1));
  }
}

void ExtractionPerTrack(benchmark::State& state) {
  const Bytes& body = PageBody();
  JsonDocument doc;
  RowStore window;
  int pages = 0;
  for (auto _ : state) {
    // A whole album's worth of rows at most, like one run.
    if (++pages % 100 == 0) {
      state.PauseTiming();
      TrackTitles.Clear();
      TrackPlayPaths.Clear();
      window.DeleteAllRows();
      state.ResumeTiming();
    }
    ReadPage(doc, window, body);
  }
  if (window.RowCount() == 0 || TrackTitles.At(1).empty()) state.SkipWithError("no rows read");
  TrackTitles.Clear();
  TrackPlayPaths.Clear();
  PerTrackCounter(state);
}
BENCHMARK(ExtractionPerTrack)->Unit(benchmark::kMicrosecond);

void DecodeOnly(benchmark::State& state) {
  const Bytes& body = PageBody();
  for (auto _ : state) benchmark::DoNotOptimize(UrlDecode(BytesToText(body), true));
  PerTrackCounter(state);
}
BENCHMARK(DecodeOnly)->Unit(benchmark::kMicrosecond);

void ParseOnly(benchmark::State& state) {
  const Text page = UrlDecode(BytesToText(PageBody()), true);
  JsonDocument doc;
  for (auto _ : state) benchmark::DoNotOptimize(doc.Parse(page));
  PerTrackCounter(state);
}
BENCHMARK(ParseOnly)->Unit(benchmark::kMicrosecond);

void ReadsOnly(benchmark::State& state) {
  JsonDocument doc;
  doc.Parse(UrlDecode(BytesToText(PageBody()), true));
  for (auto _ : state) {
    for (int k = 1; k <= kTracks; ++k) {
      const Text index = TrackIndexText(k);
      benchmark::DoNotOptimize(doc.GetText(ConcatText("data.trackDetailInfos[", index, "].trackInfo.title")));
      benchmark::DoNotOptimize(doc.GetText(ConcatText("data.trackDetailInfos[", index, "].trackInfo.playPath")));
    }
  }
  PerTrackCounter(state);
}
BENCHMARK(ReadsOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ombrik
