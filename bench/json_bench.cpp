// The cost of reading one answer page: Parse of a 100-track page plus the 200 GetText calls
// the extraction run makes on it (title and play address of every track). The reference is
// the floor under it: the same page decoded by the engine's JSON parser in a new heap and the
// same 200 values read through the engine's C API, with no helper script and no expressions.
// Compare the two in one run: ParsePageAndReadTracks / EngineFloor.
#include <benchmark/benchmark.h>

#include <duktape.h>

#include <string>

#include "answer_page.h"
#include "json/json_document.h"
#include "text/text_ops.h"

namespace ombrik {
namespace {

constexpr int kTracks = 100;

const Text& PageText() {
  static const Text page = TextFromUtf8(fixtures::AnswerPageUtf8(kTracks, 245));
  return page;
}

void ParsePageAndReadTracks(benchmark::State& state) {
  const Text& page = PageText();
  std::vector<Text> titlePaths, playPaths;
  for (int k = 0; k < kTracks; ++k) {
    const Text prefix = ConcatText("data.trackDetailInfos[", IntToText(k), "].trackInfo.");
    titlePaths.push_back(prefix + "title");
    playPaths.push_back(prefix + "playPath");
  }
  JsonDocument doc;  // one per extraction run; every page is parsed into a new native value
  for (auto _ : state) {
    if (!doc.Parse(page)) state.SkipWithError("page did not parse");
    for (int k = 0; k < kTracks; ++k) {
      benchmark::DoNotOptimize(doc.GetText(titlePaths[k]));
      benchmark::DoNotOptimize(doc.GetText(playPaths[k]));
    }
  }
  state.counters["per_track"] = benchmark::Counter(static_cast<double>(state.iterations()) * kTracks,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(ParsePageAndReadTracks)->Unit(benchmark::kMicrosecond);

void ParsePageOnly(benchmark::State& state) {
  const Text& page = PageText();
  JsonDocument doc;
  for (auto _ : state) {
    benchmark::DoNotOptimize(doc.Parse(page));
  }
}
BENCHMARK(ParsePageOnly)->Unit(benchmark::kMicrosecond);

void ReadOneTrack(benchmark::State& state) {
  JsonDocument doc;
  doc.Parse(PageText());
  for (auto _ : state) {
    benchmark::DoNotOptimize(doc.GetText("data.trackDetailInfos[42].trackInfo.title"));
    benchmark::DoNotOptimize(doc.GetText("data.trackDetailInfos[42].trackInfo.playPath"));
  }
}
BENCHMARK(ReadOneTrack)->Unit(benchmark::kMicrosecond);

void EngineFloor(benchmark::State& state) {
  const std::string utf8 = TextToUtf8(PageText());
  for (auto _ : state) {
    duk_context* ctx = duk_create_heap_default();
    duk_push_lstring(ctx, utf8.data(), utf8.size());
    duk_json_decode(ctx, -1);
    duk_get_prop_string(ctx, -1, "data");
    duk_get_prop_string(ctx, -1, "trackDetailInfos");
    for (int k = 0; k < kTracks; ++k) {
      duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(k));
      duk_get_prop_string(ctx, -1, "trackInfo");
      for (const char* key : {"title", "playPath"}) {
        duk_get_prop_string(ctx, -1, key);
        duk_size_t len = 0;
        const char* s = duk_get_lstring(ctx, -1, &len);
        benchmark::DoNotOptimize(TextFromUtf8(std::string_view(s, len)));
        duk_pop(ctx);
      }
      duk_pop_2(ctx);
    }
    duk_destroy_heap(ctx);
  }
}
BENCHMARK(EngineFloor)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ombrik
