// Random documents and random paths: every read a document answers from its native value
// against the same read answered by the engine, byte for byte. Any difference aborts.
//
// Input: a flag byte (direct mode), a byte that steers a walk down the document, a path,
// a zero byte, then the document's text.
#include <cstdio>
#include <string>

#include "../tests/json/native_vs_engine.h"
#include "fuzz_input.h"

using namespace ombrik;

namespace {

bool IsPlainName(const Text& name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = name.byte(i);
    const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
    if (!letter && c != '_' && c != '$' && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

// A path to a value that exists, chosen member by member.
Text WalkedPath(JsonDocument& doc, std::uint32_t steer) {
  Text path;
  for (int depth = 0; depth < 5; ++depth, steer = steer * 1103515245u + 12345u) {
    const std::uint32_t pick = steer >> 16;
    const JsonValueKind kind = doc.TypeOf(path);
    if (kind == JsonValueKind::Object) {
      TextArray names;
      if (doc.GetNames(names, path) == 0) break;
      const Text& name = names.At(static_cast<int>(pick % names.Size()) + 1);
      if (!IsPlainName(name)) break;
      path = path.empty() ? name : ConcatText(path, ".", name);
    } else if (kind == JsonValueKind::Array) {
      const int count = doc.Count(path);
      if (count == 0) break;
      path = ConcatText(path, "[", IntToText(static_cast<int>(pick % count)), "]");
    } else {
      break;
    }
  }
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const bool direct = in.Flag();
  const std::uint32_t steer = in.Byte();
  const Text fuzzPath = in.NextText();
  const Text text(in.Rest());

  JsonDocument engineDoc = testing::EngineDocument(text, direct);
  const std::size_t engines = ScriptEngine::CreatedCount();
  JsonDocument doc;
  FUZZ_CHECK(doc.Parse(text, direct) == engineDoc.Exists());
  // A text our reader declined is the engine's already: nothing native to compare.
  if (ScriptEngine::CreatedCount() != engines) return 0;

  const Text walked = WalkedPath(engineDoc, steer * 2654435761u);
  const Text paths[] = {walked, fuzzPath, walked.empty() ? fuzzPath : ConcatText(walked, ".", fuzzPath)};
  for (const Text& path : paths) {
    // Every read resolves its path first; where that needs the engine, all of them do.
    const std::size_t before = ScriptEngine::CreatedCount();
    JsonDocument probe = doc;
    probe.Exists(path);
    if (ScriptEngine::CreatedCount() != before) {
      doc.Parse(text, direct);
      continue;
    }
    for (const auto& r : testing::CompareReads(text, direct, path, engineDoc)) {
      if (r.native != r.engine) {
        std::fprintf(stderr, "%s(%s): native [%s], engine [%s]\n", r.read, path.c_str(), r.native.c_str(),
                     r.engine.c_str());
        fuzz::Broken("a native read differs from the engine's");
      }
    }
  }
  return 0;
}
