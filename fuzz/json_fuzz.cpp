// A server's answer as the extraction run reads it: percent-decoded, parsed as JSON, then the
// program's paths read with GetText. The engine must never run the text as script.
#include <string>

#include "fuzz_input.h"
#include "json/json_document.h"
#include "json/script_engine.h"
#include "text/codepage.h"
#include "text/text_ops.h"

using namespace ombrik;

namespace {

const char* const kPaths[] = {
    "data.totalCount",
    "data.trackDetailInfos[0].trackInfo.title",
    "data.trackDetailInfos[0].trackInfo.playPath",
    "data.trackDetailInfos[1].trackInfo.title",
    "data.trackDetailInfos[99].trackInfo.playPath",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text body(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const Text& answer : {UrlDecode(body, true), Utf8ToAnsi(TextToBytes(body))}) {
    JsonDocument doc;
    const bool parsed = doc.Parse(answer);
    for (const char* path : kPaths) {
      const Text value = doc.GetText(path);
      if (!parsed) FUZZ_CHECK(value.empty());
    }
    // A script in the answer would have left a mark in the engine's globals.
    std::string kind;
    if (auto engine = doc.GetEngine()) {
      FUZZ_CHECK(engine->EvalText("typeof pwned", kind) && kind == "undefined");
    }
  }
  return 0;
}
