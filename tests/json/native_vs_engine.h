// The reads of a document answered natively against the same reads answered by the engine,
// op by op and byte for byte. Shared by the tests and the fuzz target.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "json/json_document.h"
#include "json/script_engine.h"
#include "text/codepage.h"
#include "text/text_ops.h"

namespace ombrik::testing {

// `text` loaded by the engine's own parser alone, as every document was before it had a
// native value.
inline JsonDocument EngineDocument(const Text& text, bool direct) {
  JsonDocument doc;
  if (std::shared_ptr<ScriptEngine> engine = doc.GetEngine()) {
    engine->Run("var da = null");
    engine->LoadJson("da", TextToUtf8(text), !direct, nullptr);
  }
  return doc;
}

inline std::string NumberBits(double d) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &d, sizeof bits);
  char buf[24];
  std::snprintf(buf, sizeof buf, "#%016llx", static_cast<unsigned long long>(bits));
  return buf;
}

inline std::string Joined(const TextArray& items) {
  std::string out = std::to_string(items.Size());
  for (const Text& item : items) out += "\x01" + item.str();
  return out;
}

struct Read {
  const char* name;
  std::string (*run)(JsonDocument& doc, const Text& path);
};

// Every read with a native answer, each as a text that tells its results apart.
inline const std::vector<Read>& Reads() {
  static const std::vector<Read> reads = {
      {"GetText", [](JsonDocument& d, const Text& p) { return d.GetText(p).str(); }},
      {"GetText json", [](JsonDocument& d, const Text& p) { return d.GetText(p, true).str(); }},
      {"GetJson", [](JsonDocument& d, const Text& p) { return d.GetJson(p).str(); }},
      {"TypeOf", [](JsonDocument& d, const Text& p) { return std::to_string(static_cast<int>(d.TypeOf(p))); }},
      {"Exists", [](JsonDocument& d, const Text& p) { return std::to_string(d.Exists(p)); }},
      {"ResolvePath",
       [](JsonDocument& d, const Text& p) {
         Text path = p;
         const bool found = d.ResolvePath(path);
         return std::to_string(found) + path.str();
       }},
      {"Count", [](JsonDocument& d, const Text& p) { return std::to_string(d.Count(p)); }},
      {"GetNames",
       [](JsonDocument& d, const Text& p) {
         TextArray names{"stale"};
         const int n = d.GetNames(names, p);
         return std::to_string(n) + ":" + Joined(names);
       }},
      {"GetNumber", [](JsonDocument& d, const Text& p) { return NumberBits(d.GetNumber(p)); }},
      {"GetItemText",
       [](JsonDocument& d, const Text& p) {
         std::string out;
         for (int i : {-1, 0, 1, 2, 10}) out += d.GetItemText(i, p).str() + "\x01";
         return out;
       }},
      {"GetItemText json",
       [](JsonDocument& d, const Text& p) {
         std::string out;
         for (int i : {-1, 0, 1, 2, 10}) out += d.GetItemText(i, p, true).str() + "\x01";
         return out;
       }},
      {"GetObject",
       [](JsonDocument& d, const Text& p) {
         JsonDocument part = d.GetObject(p);
         return part.ToJson().str() + "\x01" + std::to_string(static_cast<int>(part.TypeOf()));
       }},
      {"GetItemObject", [](JsonDocument& d, const Text& p) { return d.GetItemObject(1, p).ToJson().str(); }},
      {"ToJson", [](JsonDocument& d, const Text&) { return d.ToJson().str(); }},
  };
  return reads;
}

struct ReadComparison {
  const char* read = nullptr;
  std::string native;
  std::string engine;
  bool usedEngine = false;  // the document made an engine for its Parse or this read
};

// Runs every read of `path` on a document parsed from `text` (a fresh one whenever the last
// read made an engine, so that each read starts native) and on `engineDoc`, which holds the
// same text loaded by the engine.
inline std::vector<ReadComparison> CompareReads(const Text& text, bool direct, const Text& path,
                                                JsonDocument& engineDoc) {
  std::vector<ReadComparison> results;
  JsonDocument doc;
  bool native = false;
  for (const Read& read : Reads()) {
    const std::size_t engines = ScriptEngine::CreatedCount();
    if (!native) {
      doc = JsonDocument();
      doc.Parse(text, direct);
    }
    ReadComparison result;
    result.read = read.name;
    result.native = read.run(doc, path);
    native = ScriptEngine::CreatedCount() == engines;
    result.usedEngine = !native;
    result.engine = read.run(engineDoc, path);
    results.push_back(std::move(result));
  }
  return results;
}

}  // namespace ombrik::testing
