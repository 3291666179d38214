// Our JSON reader against the engine's parser: whatever ours takes, the engine must take too
// and build the same value; what ours leaves, the engine decides.
#include "json/json_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "answer_page.h"
#include "engine_value_dump.h"
#include "json/helper_script.h"
#include "json/json_document.h"
#include "json/script_engine.h"
#include "text/text_ops.h"

namespace ombrik {
namespace {

using testing::ReadJson;

// A plain heap with the helper script run in it, like the document's engine.
class ReaderHeap : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = duk_create_heap_default();
    ASSERT_NE(ctx_, nullptr);
    const std::string_view script = HelperScript();
    ASSERT_EQ(duk_peval_lstring(ctx_, script.data(), script.size()), 0);
    duk_pop(ctx_);
  }
  void TearDown() override { duk_destroy_heap(ctx_); }

  // Fails the test when ours takes what the engine rejects or builds another value.
  // Returns whether ours took the text.
  bool Compare(const std::string& json) {
    const testing::ReadResult ours = ReadJson(ctx_, json, true);
    const testing::ReadResult engine = ReadJson(ctx_, json, false);
    if (ours.taken) {
      EXPECT_TRUE(engine.taken) << "taken by ours only: " << json;
      EXPECT_EQ(ours.dump, engine.dump) << json;
    }
    EXPECT_EQ(duk_get_top(ctx_), 0);
    return ours.taken;
  }

  duk_context* ctx_ = nullptr;
};

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST_F(ReaderHeap, TakesPlainJsonAndBuildsTheEnginesValue) {
  const std::string taken[] = {
      // numbers: exact integers, rounding, -0, extremes
      "0",
      "-0",
      "7",
      "-12",
      "123456789012",
      "999999999999999",
      "1234567890123456",
      "9007199254740993",
      "18446744073709551616",
      "12345678901234567890123",
      "0.1",
      "-0.0",
      "1.5",
      "1e5",
      "1E+5",
      "1e-5",
      "0e7",
      "123.456e-7",
      "1.7976931348623157e308",
      "2.2250738585072011e-308",
      "0.30000000000000004",
      "4.9e-324",
      "2.5e-320",
      "9007199254740995",
      "900719925474099.5",
      "0.9007199254740993",
      "9007199254740993e-16",
      "-9007199254740993",
      "9.007199254740993000e15",
      "1152921504606846977",
      "1e308",
      "0e999",
      "0e10000000",
      "1E+23",
      "1e22",
      "999999999999999",
      "1000000000000000",
      "5.764607523034235e17",
      "1" + std::string(300, '0'),
      "0." + std::string(300, '0') + "1",
      "1e-0000000000000000007",
      "3.141592653589793238462643383279",
      "1.00000000000000011102230246251565404236316680908203125",
      // strings: raw bytes, every escape, surrogates paired and lone, NUL
      R"("")",
      R"("abc")",
      "\"\xE4\xB8\xAD\xE6\x96\x87 caf\xC3\xA9\"",
      R"("a\"b\\c\/d")",
      R"("\b\f\n\r\t")",
      R"("\u0000")",
      R"("x\u0041\u00e9\u4E2D\uffff")",
      R"("\uD83D\uDE00")",
      R"("\uD800")",
      R"("\uDC00x")",
      R"("\uDE00\uD83D")",
      "\"\x7F\"",
      "\"caf\xC3\"",
      "\"a\xFF\"",
      // containers, key order, duplicate keys, keys that name inherited members
      "{}",
      "[]",
      "{ }",
      "[ ]",
      R"({"a":1,"a":2,"b":3})",
      R"({"b":1,"a":2,"1":3,"0":4})",
      R"({"":0})",
      R"({"toString":1,"hasOwnProperty":2,"toJSONString":3,"length":4})",
      R"({"constructor":{"prototype":1}})",
      R"([1,"two",[3],{"four":4},null,true,false])",
      R"({"k\u0041\n":"v"})",
      " \t\r\n{ \"a\" : [ 1 , 2 ] } \n",
      Nested(200),
      fixtures::AnswerPageUtf8(100, 245),
  };
  for (const std::string& json : taken) EXPECT_TRUE(Compare(json)) << "declined: " << json;
}

TEST_F(ReaderHeap, LeavesTheRestToTheEngine) {
  const std::string left[] = {
      // what the engine may read differently or reject, with its own message
      "",
      " ",
      "01",
      "-01",
      "1.",
      ".5",
      "-",
      "+1",
      "1e",
      "1e+",
      "1.5e",
      "0x10",
      "1-2",
      "1..2",
      "1e5.5",
      "Infinity",
      "NaN",
      "-Infinity",
      "1e400",
      "-1e400",
      "1e-400",
      "0E+9007199254740993",
      "-0.0e99999999999",
      "tru",
      "nul",
      "True",
      "nulll",
      "1 x",
      "[1 2]",
      "[1,]",
      "[,1]",
      "{\"a\":1,}",
      "{a:1}",
      "{'a':1}",
      "{\"a\" 1}",
      "'x'",
      "\"unterminated",
      "\"tab\there\"",
      "\"nl\nhere\"",
      R"("\x41")",
      R"("\U0041")",
      R"("\u12")",
      R"("\u12G4")",
      R"("\a")",
      "\"\\",
      "\f1",
      "\v1",
      "\xEF\xBB\xBF{}",
      "\xC2\xA0"
      "1",
      std::string("1\0", 2),
      std::string("\"a\0b\"", 5),
      R"({"__proto__":{"x":1}})",
      R"([{"__proto__":null}])",
      "\"\xFF"
      "abc\"",
      "\"\x80"
      "x\"",
      "\"\x82"
      "Finalizer\"",
      "{\"\xFF"
      "Value\":1}",
      Nested(201),
      Nested(1000),
      Nested(1001),
      "[" + std::string(5000, '['),
  };
  for (const std::string& json : left) EXPECT_FALSE(Compare(json)) << "taken: " << json;
}

TEST(JsonReaderInDocument, ParseKeepsTheEnginesErrorsAndDefaultMode) {
  // Declined texts still reach the engine's parser and its error record.
  JsonDocument doc;
  ScriptError error;
  EXPECT_FALSE(doc.Parse("[1,]", false, &error));
  EXPECT_EQ(error.source, Text("SyntaxError"));
  EXPECT_FALSE(doc.Exists());
  // An own member named __proto__, as the engine's parser makes it.
  ASSERT_TRUE(doc.Parse(R"({"__proto__":{"x":1},"y":2})"));
  EXPECT_EQ(doc.ToJson(), Text(R"({"__proto__":{"x":1},"y":2})"));
  // Default mode parses a string once more, also where the inner text is left to the engine.
  ASSERT_TRUE(doc.Parse(R"("{\"a\":[1,2.5]}")"));
  EXPECT_EQ(doc.GetText("a"), Text("1,2.5"));
  ASSERT_TRUE(doc.Parse(R"("{\"a\":01}")", true));
  EXPECT_EQ(doc.GetText(), Text(R"({"a":01})"));
  EXPECT_FALSE(doc.Parse(R"("{\"a\":01}")"));
  EXPECT_FALSE(doc.Parse(R"("plain words")"));
}

}  // namespace
}  // namespace ombrik
