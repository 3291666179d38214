#include "json/script_engine.h"

#include "json/json_document.h"

#include <gtest/gtest.h>

#include <string>

namespace ombrik {
namespace {

TEST(EngineStringToUtf8, RepairsWhatTheEngineHandsBack) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain ascii", "plain ascii"},
      {"\xE4\xB8\xAD\xF0\x9F\x98\x80", "\xE4\xB8\xAD\xF0\x9F\x98\x80"},  // valid UTF-8 stays
      {"a\xED\xA0\xBD\xED\xB8\x80z", "a\xF0\x9F\x98\x80z"},              // CESU-8 pair: one character
      {"a\xED\xA0\xBDz", "a\xEF\xBF\xBDz"},                              // lone high surrogate
      {"a\xED\xB8\x80z", "a\xEF\xBF\xBDz"},                              // lone low surrogate
      {"\xED\xB8\x80\xED\xA0\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD"},          // pair in the wrong order
      {"a\xFF\xC3(z", "a\xEF\xBF\xBD\xEF\xBF\xBD(z"},                    // invalid bytes
      {"\xE4\xB8", "\xEF\xBF\xBD"},                                      // cut-off sequence: one
      {"\xE0\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},          // overlong: per byte
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(EngineStringToUtf8(in), out);
}

TEST(ScriptEngine, MemoryIsCappedAndTheHeapSurvivesExhaustion) {
  auto engine = ScriptEngine::Create(std::size_t{4} << 20);
  ASSERT_NE(engine, nullptr);
  std::string big = "[";
  for (int i = 0; i < 400000; ++i) big += "\"abcdefgh\",";
  big += "0]";
  EngineError error;
  EXPECT_FALSE(engine->LoadJson("doc", big, false, &error));
  EXPECT_EQ(error.message, "alloc failed");
  EXPECT_LE(engine->bytesInUse(), std::size_t{4} << 20);
  EXPECT_TRUE(engine->alive());
  EXPECT_TRUE(engine->LoadJson("doc", R"({"small":true})", false, nullptr));
  EXPECT_TRUE(engine->EvalBool("doc.small"));
}

TEST(ScriptEngine, TooLittleMemoryForAHeapGivesNoEngine) { EXPECT_EQ(ScriptEngine::Create(1024), nullptr); }

TEST(ScriptEngine, DeepNestingFailsInsteadOfOverflowingTheStack) {
  auto engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  EXPECT_FALSE(engine->LoadJson("doc", std::string(200000, '[') + std::string(200000, ']'), false, nullptr));
  std::string deepObject;
  for (int i = 0; i < 100000; ++i) deepObject += "{\"a\":";
  EXPECT_FALSE(engine->LoadJson("doc", deepObject, false, nullptr));
  EXPECT_TRUE(engine->EvalBool("typeof doc == 'undefined'"));
}

TEST(ScriptEngine, EvaluationErrorsGiveDefaults) {
  auto engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  std::string text = "stale";
  EXPECT_FALSE(engine->EvalText("no_such_global.member", text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(engine->EvalBool("throw new Error('x')"));
  EXPECT_EQ(engine->EvalNumber("(function f() { return 1 + f(); })()"), 0.0);  // stack exhaustion
  EXPECT_EQ(engine->EvalNumber("'12.5'"), 12.5);
  EXPECT_EQ(engine->EvalNumber("'twelve'"), 0.0);
  EXPECT_EQ(engine->EvalNumber("true"), 1.0);
  EXPECT_TRUE(engine->EvalText("[1, 'a'].join()", text));
  EXPECT_EQ(text, "1,a");
  EXPECT_TRUE(engine->EvalText("1e21", text));
  EXPECT_EQ(text, "1e+21");
}

// Reads around a plain path skip the compiler; wrapping the path in parentheses sends the same
// expression through it. Both must agree on every kind of value, also once a script has
// replaced what the shortcut relies on.
TEST(ScriptEngine, PlainPathReadsAgreeWithTheCompiler) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse(R"({"s":"a\u2400b","n":245,"f":1.5,"t":true,"z":null,"l":[1,"x"],)"
                        R"("o":{"toString":5},"e":"","deep":{"a":[{"b":"c"}]}})"));
  ASSERT_TRUE(doc.Set("set", "back\\slash"));
  auto engine = doc.GetEngine();
  const char* paths[] = {"da.s",         "da.n",           "da.f",   "da.t",        "da.z",           "da.l",
                         "da.l[1]",      "da.l[01]",       "da.o",   "da.e",        "da.deep.a[0].b", "da.missing",
                         "da.missing.x", "da.deep.a[7].b", "data.x", "da.s.length", "da.set",         "da.l[1].length"};
  const char* setups[] = {"", "str_reg.lastIndex = 3", "str_reg = /b/g",
                          "String.prototype.replace = function () { return 'patched'; }"};
  for (const char* setup : setups) {
    engine->Run(setup);
    for (const char* path : paths) {
      const std::string p = path, wrapped = "(" + p + ")";
      const std::string tail = ".toString().replace(str_reg, '\\\\')";
      std::string fast, slow;
      EXPECT_EQ(engine->EvalText(p + tail, fast), engine->EvalText(wrapped + tail, slow)) << setup << " " << path;
      EXPECT_EQ(fast, slow) << setup << " " << path;
      EXPECT_EQ(engine->EvalBool(p + " != null"), engine->EvalBool(wrapped + " != null")) << path;
      EXPECT_EQ(engine->EvalBool(p + " == null"), engine->EvalBool(wrapped + " == null")) << path;
      EXPECT_TRUE(engine->EvalBool("str_reg.lastIndex == 0 || str_reg.source == 'b'")) << path;
    }
  }
}

}  // namespace
}  // namespace ombrik
