// The document answers plain reads from its native value without an engine, and every such
// answer is the engine's own, byte for byte. The engine is made on the first operation that
// needs script.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "answer_page.h"
#include "json/json_document.h"
#include "json/native_reads.h"
#include "json/script_engine.h"
#include "native_vs_engine.h"
#include "text/text_ops.h"

namespace ombrik {
namespace {

using testing::CompareReads;
using testing::EngineDocument;

// Documents with the values and keys whose reads differ most between engines: number texts,
// key order, escapes, the placeholder character, names the prototypes answer.
const char* const kDocuments[] = {
    R"({"data":{"totalCount":245,"list":[{"t":"一","n":1},{"t":"二\u2400x","n":-0.0}]},"e":[],"o":{}})",
    R"({"n":[1e21,1e-7,123e-20,0.000001,1.5,-0,100,1e300,5e-324,9007199254740993,12345678901234567890123,1E+23,0.1,-2.5e-9]})",
    R"({"ids":[1234567890123456,12345678901234567,1152921504606846977,99999999999999999999,4406460870967850434597]})",
    R"({"b":1,"a":2,"1":3,"0":4,"4294967295":5,"4294967294":6,"01":7,"-1":"minus","b":8})",
    R"({"s":"a\"b\\c\/\b\f\n\r\t\u0001\u001f\u007f\u2028\u2029 \uD83D\uDE00 \uD800 é😀","k\n":1,"":2})",
    R"({"toString":1,"valueOf":2,"toJSON":3,"length":4,"constructor":5,"x":{"toString":"no"},"y":[{"toString":0}]})",
    R"([[1,[2,[3,null]],{"a":1},true,"x",[]],[],null,"",0,false])",
    R"({"ascii":"hello","cjk":"中文","bad":"a\u00ff","l":["a","b"],"t":true,"f":false,"z":null})",
    R"("{\"wrapped\":[1,2,{\"x\":\"y\"}]}")",
    "\"plain words\"",
    "12",
    "null",
    "{\"raw\":\"\xC3(\xFF\xE2\x80\",\"\xC3(\":1,\"over\":\"\xC0\x8A\"}",
};

const char* const kPaths[] = {
    "",
    "da",
    "data",
    "da.data",
    "data.totalCount",
    "data.list",
    "data.list[1]",
    "data.list[1].t",
    "data.list[1].n",
    "data.list[5]",
    "data.list[5].t",
    "data.nothing.deeper",
    "n",
    "n[1]",
    "ids",
    "ids[2]",
    "b",
    "[0]",
    "[1]",
    "s",
    "s.length",
    "s[0]",
    "ascii.length",
    "ascii[1]",
    "ascii[9]",
    "cjk.length",
    "cjk[0]",
    "toString",
    "x",
    "x.toString",
    "y",
    "y[0]",
    "o",
    "e",
    "l",
    "l.length",
    "l.join",
    "t",
    "z",
    "z.x",
    "wrapped",
    "wrapped[2]",
    "raw",
    "over",
    "bad",
    "o.constructor",
    "o.hasOwnProperty",
    "t.valueOf",
    "n[0].toFixed",
    "dab",
    "da.da",
    "da[0]",
    "data.list[01]",
    "data[\"list\"]",
    "data.list[0] ",
    "data.list[0].t + 1",
    "default",
    "data.list[4294967295]",
    "ids.length",
};

TEST(NativeDocument, EveryNativeReadIsTheEnginesAnswer) {
  for (const char* json : kDocuments) {
    for (bool direct : {false, true}) {
      const Text text = TextFromUtf8(json);
      JsonDocument engineDoc = EngineDocument(text, direct);
      for (const char* path : kPaths) {
        for (const auto& r : CompareReads(text, direct, path, engineDoc)) {
          EXPECT_EQ(r.native, r.engine) << r.read << "(" << path << ") on " << json << (direct ? " direct" : "");
        }
      }
    }
  }
}

// The reads the extraction makes never make an engine; the rest only where the engine alone
// can tell.
TEST(NativeDocument, PlainReadsNeedNoEngine) {
  const Text page = TextFromUtf8(fixtures::AnswerPageUtf8(3, 245));
  JsonDocument engineDoc = EngineDocument(page, false);
  struct Case {
    const char* path;
    bool native;
  };
  const Case cases[] = {
      {"data.totalCount", true},
      {"data.trackDetailInfos[0].trackInfo.title", true},
      {"da.data.trackDetailInfos[2].trackInfo.playPath", true},
      {"data.trackDetailInfos[7].trackInfo.title", true},
      {"data.trackDetailInfos", true},
      {"", true},
      {"nothing.at.all", true},
      {"msg.length", false},        // a non-ASCII string's length
      {"data.constructor", false},  // the prototype answers
      {"data.trackDetailInfos.concat", false},
      {"data.trackDetailInfos[0]['id']", false},  // not a plain path
  };
  // A string's characters, its numeric reading, and a document parsed from a string that holds
  // no JSON (the engine's error) are the engine's to give; the page has strings.
  const std::set<std::string_view> stringReads = {"GetNumber", "GetItemText", "GetItemText json", "GetObject",
                                                  "GetItemObject"};
  for (const Case& c : cases) {
    for (const auto& r : CompareReads(page, false, c.path, engineDoc)) {
      EXPECT_EQ(r.native, r.engine) << r.read << "(" << c.path << ")";
      if (c.native && !stringReads.contains(r.read)) {
        EXPECT_FALSE(r.usedEngine) << r.read << "(" << c.path << ")";
      }
    }
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse(page));
    const std::size_t before = ScriptEngine::CreatedCount();
    Text resolved = c.path;
    doc.ResolvePath(resolved);
    EXPECT_EQ(ScriptEngine::CreatedCount() != before, !c.native) << c.path;
  }
}

// Number texts through the engine's own formatting: random doubles of every magnitude.
TEST(NativeDocument, NumberTextsAreTheEngines) {
  std::mt19937_64 random(20260711);
  std::string json = "[";
  for (int i = 0; i < 3000; ++i) {
    double d = 0;
    do {
      const std::uint64_t bits = random();
      std::memcpy(&d, &bits, sizeof d);
    } while (!std::isfinite(d));
    if (i % 3 == 1) d = std::round(d * 1e-290 * static_cast<double>(random() % 1000000));
    char buf[40];
    std::snprintf(buf, sizeof buf, i % 2 ? "%.17g" : "%.15g", d);
    json += (i ? "," : "") + std::string(buf);
  }
  json += "]";
  JsonDocument native;
  ASSERT_TRUE(native.Parse(Text(json)));
  JsonDocument engine = EngineDocument(Text(json), false);
  EXPECT_EQ(native.ToJson(), engine.ToJson());
  EXPECT_EQ(native.GetText(), engine.GetText());
  for (int i = 0; i < 3000; i += 7) {
    const Text path = ConcatText("[", IntToText(i), "]");
    EXPECT_EQ(native.GetText(path), engine.GetText(path)) << i;
    EXPECT_EQ(native.GetNumber(path), engine.GetNumber(path)) << i;
  }
}

// The names a native read leaves to the engine must cover all the engine has.
TEST(NativeDocument, PrototypeAndGlobalNamesCoverTheEngines) {
  JsonDocument doc;
  auto engine = doc.GetEngine();
  ASSERT_NE(engine, nullptr);
  std::string names;
  for (const char* of :
       {"Object.prototype", "Array.prototype", "String.prototype", "Number.prototype", "Boolean.prototype"}) {
    ASSERT_TRUE(engine->EvalText(std::string("Object.getOwnPropertyNames(") + of + ").join()", names));
    for (const Text& name : SplitKeepingEmpty(Text(names), Text(","))) {
      EXPECT_TRUE(IsPrototypeName(name.view())) << of << "." << name.str();
    }
  }
  ASSERT_TRUE(engine->EvalText("Object.getOwnPropertyNames(this).join()", names));
  for (const Text& name : SplitKeepingEmpty(Text(names), Text(","))) {
    if (name != Text("da")) {
      EXPECT_TRUE(IsGlobalName(name.view())) << name.str();
    }
  }
  ASSERT_TRUE(engine->EvalText("Object.getPrototypeOf(this) === Object.prototype ? 'yes' : 'no'", names));
  EXPECT_EQ(names, "yes");
}

TEST(NativeDocument, TheEngineComesWithTheValueAndIsShared) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse(R"({"a":{"b":[1,"x"]}})"));
  JsonDocument copy = doc;
  EXPECT_EQ(doc.GetText("a.b"), Text("1,x"));
  // A change needs script: the engine is made with the value in it, for every copy.
  ASSERT_TRUE(doc.Set("a.c", "new"));
  EXPECT_EQ(copy.GetText("a.c"), Text("new"));
  EXPECT_EQ(copy.GetEngine(), doc.GetEngine());
  EXPECT_EQ(copy.ToJson(), Text(R"({"a":{"b":[1,"x"],"c":"new"}})"));
  EXPECT_TRUE(doc.GetEngine()->EvalBool("str_reg.global && typeof get__count == 'function'"));

  // Clear keeps a native document native.
  JsonDocument other;
  ASSERT_TRUE(other.Parse("[1]"));
  const std::size_t before = ScriptEngine::CreatedCount();
  EXPECT_TRUE(other.Clear());
  EXPECT_EQ(other.ToJson(), Text("{}"));
  EXPECT_EQ(ScriptEngine::CreatedCount(), before);
}

TEST(NativeDocument, EmptyTextInDefaultModeIsANullDocumentWithoutError) {
  JsonDocument doc = EngineDocument("[1]", false);
  ScriptError error;
  error.errorNumber = 5;
  error.description = "stale";
  EXPECT_FALSE(doc.Parse("", false, &error));
  EXPECT_EQ(error.errorNumber, 0);
  EXPECT_EQ(error.description, Text());
  EXPECT_EQ(doc.TypeOf(), JsonValueKind::Null);
  EXPECT_EQ(doc.ToJson(), Text("null"));
  // Direct mode loads the text as it is: nothing is no JSON.
  EXPECT_FALSE(doc.Parse("", true, &error));
  EXPECT_EQ(error.source, Text("SyntaxError"));
}

}  // namespace
}  // namespace ombrik
