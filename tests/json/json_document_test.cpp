#include "json/json_document.h"

#include <gtest/gtest.h>

#include <string>

#include "answer_page.h"
#include "json/script_engine.h"
#include "text/text_ops.h"

namespace ombrik {
namespace {

// A document loaded from UTF-8 JSON (source files are UTF-8, documents hold code page 936).
JsonDocument Loaded(std::string_view utf8) {
  JsonDocument doc;
  EXPECT_TRUE(doc.Parse(TextFromUtf8(utf8))) << utf8;
  return doc;
}

// ---- life cycle ----------------------------------------------------------------------------

TEST(JsonDocumentLifeCycle, NewDocumentIsAnEmptyObject) {
  JsonDocument doc;
  ASSERT_NE(doc.GetEngine(), nullptr);
  EXPECT_TRUE(doc.Exists());
  EXPECT_EQ(doc.ToJson(), Text("{}"));
  EXPECT_EQ(doc.TypeOf(), JsonValueKind::Object);
}

TEST(JsonDocumentLifeCycle, CopiesShareTheEngineUntilOneParses) {
  JsonDocument doc = Loaded(R"({"a":1})");
  JsonDocument copy = doc.Copy();
  JsonDocument assigned;
  assigned = doc;
  EXPECT_EQ(copy.GetEngine(), doc.GetEngine());
  EXPECT_EQ(assigned.GetEngine(), doc.GetEngine());

  ASSERT_TRUE(doc.Set("b", "shared"));
  EXPECT_EQ(copy.GetText("b"), Text("shared"));

  ASSERT_TRUE(copy.Parse(R"({"c":2})"));
  EXPECT_NE(copy.GetEngine(), doc.GetEngine());
  EXPECT_EQ(doc.ToJson(), Text(R"({"a":1,"b":"shared"})"));
  EXPECT_EQ(copy.ToJson(), Text(R"({"c":2})"));
  EXPECT_EQ(assigned.GetText("b"), Text("shared"));
}

TEST(JsonDocumentLifeCycle, EngineLivesAsLongAsItsLastHolder) {
  std::weak_ptr<ScriptEngine> engine;
  {
    JsonDocument doc;
    engine = doc.GetEngine();
    JsonDocument copy = doc;
    doc.Destroy();
    EXPECT_FALSE(engine.expired());
    EXPECT_TRUE(copy.Exists());
  }
  EXPECT_TRUE(engine.expired());
}

TEST(JsonDocumentLifeCycle, WithoutEngineEverythingGivesItsDefault) {
  JsonDocument doc;
  doc.Destroy();
  EXPECT_EQ(doc.GetEngine(), nullptr);
  EXPECT_FALSE(doc.Parse(R"({"a":1})"));
  EXPECT_EQ(doc.GetEngine(), nullptr) << "Parse must not create an engine";
  EXPECT_FALSE(doc.Exists());
  EXPECT_FALSE(doc.Clear());
  EXPECT_FALSE(doc.Set("a", "x"));
  EXPECT_EQ(doc.GetText("a"), Text());
  EXPECT_EQ(doc.ToJson(), Text());
  EXPECT_EQ(doc.TypeOf("a"), JsonValueKind::Other);
  EXPECT_EQ(doc.Count(), 0);
  EXPECT_EQ(doc.GetNumber("a"), 0.0);
  TextArray names{"old"};
  EXPECT_EQ(doc.GetNames(names), 0);
  EXPECT_EQ(names.Size(), 0);
  EXPECT_FALSE(doc.GetObject().Exists());

  ScriptError untouched;
  untouched.errorNumber = 7;
  EXPECT_FALSE(doc.Parse("{", false, &untouched));
  EXPECT_EQ(untouched.errorNumber, 7);

  doc.CreateEngine();
  EXPECT_TRUE(doc.Parse(R"({"a":1})"));
}

TEST(JsonDocumentLifeCycle, ParseStartsFromAFreshEngineEvenWhenItFails) {
  JsonDocument doc = Loaded(R"({"a":{"b":1}})");
  TextArray values;
  ASSERT_EQ(doc.GetValues(values, "a"), 1);  // leaves the global str_all behind
  auto old = doc.GetEngine();
  EXPECT_FALSE(doc.Parse("not json"));
  EXPECT_NE(doc.GetEngine(), old);
  EXPECT_FALSE(doc.GetEngine()->EvalBool("typeof str_all != 'undefined'"));
  EXPECT_FALSE(doc.Exists());
  EXPECT_FALSE(doc.Exists("a"));
  EXPECT_EQ(doc.TypeOf(), JsonValueKind::Null);
}

// ---- Parse ---------------------------------------------------------------------------------

struct ParseCase {
  const char* text;
  bool direct;
  bool loaded;
  const char* json;  // ToJson afterwards
};

class ParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, LoadsJsonOnly) {
  const ParseCase& c = GetParam();
  JsonDocument doc;
  EXPECT_EQ(doc.Parse(c.text, c.direct), c.loaded);
  EXPECT_EQ(doc.ToJson(), Text(c.json));
  EXPECT_EQ(doc.Exists(), c.loaded);
}

INSTANTIATE_TEST_SUITE_P(
    JsonDocument, ParseTable,
    ::testing::Values(ParseCase{R"({"a":[1,"x",true,null]})", false, true, R"({"a":[1,"x",true,null]})"},
                      ParseCase{" \r\n [1, 2] \n", false, true, "[1,2]"}, ParseCase{"0", false, true, "0"},
                      ParseCase{"false", false, true, "false"}, ParseCase{"false", true, true, "false"},
                      ParseCase{"null", false, false, "null"}, ParseCase{"null", true, false, "null"},
                      ParseCase{"", false, false, "null"}, ParseCase{"", true, false, "null"},
                      ParseCase{R"("{\"a\":1}")", false, true, R"({"a":1})"},
                      ParseCase{R"("{\"a\":1}")", true, true, R"("{\"a\":1}")"},
                      ParseCase{R"("\"x\"")", false, true, R"("x")"}, ParseCase{R"("x")", false, false, "null"},
                      ParseCase{R"("x")", true, true, R"("x")"}, ParseCase{R"({"a":})", false, false, "null"},
                      ParseCase{R"({"a":1} {"b":2})", false, false, "null"}));

TEST(JsonDocumentParse, ErrorRecordNamesKindMessageAndPosition) {
  JsonDocument doc;
  ScriptError error;
  error.helpFile = "stale";
  ASSERT_FALSE(doc.Parse("{\n  \"a\": tru }", false, &error));
  EXPECT_NE(error.errorNumber, 0);
  EXPECT_EQ(error.source, Text("SyntaxError"));
  EXPECT_NE(error.description, Text());
  EXPECT_EQ(error.helpFile, Text());
  EXPECT_EQ(error.line, 2);
  EXPECT_GT(error.column, 1);
  EXPECT_NE(error.errorText, Text());

  ASSERT_TRUE(doc.Parse("[1]", false, &error));
  EXPECT_EQ(error.errorNumber, 0);
  EXPECT_EQ(error.description, Text());
  EXPECT_EQ(error.line, 0);
}

TEST(JsonDocumentParse, EscapedSurrogatePairBecomesOneUnmappableCharacter) {
  JsonDocument doc = Loaded(R"({"escaped":"a\uD83D\uDE00b","raw":"a😀b","lone":"a\uD83Db","cjk":"\u4E2D文"})");
  EXPECT_EQ(doc.GetText("escaped"), Text("a?b"));
  EXPECT_EQ(doc.GetText("raw"), Text("a?b"));
  EXPECT_EQ(doc.GetText("lone"), Text("a?b"));
  EXPECT_EQ(doc.GetText("cjk"), "中文"_t);
}

// Answers a server might send: none of them may run, hang or change the engine, and none
// loads, except that direct mode takes a JSON string as the string it is.
struct HostileCase {
  const char* name;
  const char* text;
  bool isJsonString = false;
  std::size_t repeat = 1;  // the text is sent this many times over
};

class HostileParse : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileParse, FailsWithoutSideEffects) {
  std::string text;
  for (std::size_t i = 0; i < GetParam().repeat; ++i) text += GetParam().text;
  for (bool direct : {false, true}) {
    JsonDocument doc;
    const bool loads = direct && GetParam().isJsonString;
    EXPECT_EQ(doc.Parse(Text(text), direct), loads) << "direct=" << direct;
    EXPECT_EQ(doc.TypeOf(), loads ? JsonValueKind::String : JsonValueKind::Null);
    auto engine = doc.GetEngine();
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(engine->EvalBool("typeof pwned == 'undefined'"));
    EXPECT_TRUE(engine->EvalBool("typeof get__count == 'function'"));
  }
}

INSTANTIATE_TEST_SUITE_P(JsonDocument, HostileParse,
                         ::testing::Values(HostileCase{"LoopForever", "(function () { for (;;) {} })()"},
                                           HostileCase{"LoopInString", R"("while (true) {}")", true},
                                           HostileCase{"AssignGlobal", "pwned = {\"a\": 1}"},
                                           HostileCase{"AssignGlobalInString", R"("pwned = 1")", true},
                                           HostileCase{"CloseAndRun", "null; pwned = 1"},
                                           HostileCase{"FiftyMegabytesOfBrackets", "[", false, 50u << 20},
                                           HostileCase{"UnquotedKey", "{a: 1}"}, HostileCase{"SingleQuotes", "'x'"},
                                           HostileCase{"InvalidUtf8", "\xC0\xAF\xFF\xFE"},
                                           HostileCase{"InvalidUtf8InObject", "{\"a\":1,\xFF\xFE}"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- reading an answer page ----------------------------------------------------------------

class AnswerPage : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(doc.Parse(TextFromUtf8(fixtures::AnswerPageUtf8(3, 245)))); }
  JsonDocument doc;
};

TEST_F(AnswerPage, ReadsTheProgramsPaths) {
  EXPECT_EQ(doc.GetText("data.totalCount"), Text("245"));
  EXPECT_EQ(doc.GetText("da.data.totalCount"), Text("245"));
  EXPECT_EQ(doc.GetText("data.trackDetailInfos[0].trackInfo.title"), "第1集 山海经 + 序章 1"_t);
  EXPECT_EQ(doc.GetText("data.trackDetailInfos[2].trackInfo.playPath"),
            Text("https://audio.example/group1/M00/3/track_3.m4a"));
  EXPECT_EQ(doc.GetText("data.trackDetailInfos[0].trackInfo.isPaid"), Text("false"));
}

TEST_F(AnswerPage, MissingMembersGiveTheEmptyText) {
  for (const char* path : {"data.nothing", "nothing.deeper", "data.trackDetailInfos[3].trackInfo.title",
                           "data.trackDetailInfos[-1]", "da.nothing"}) {
    EXPECT_EQ(doc.GetText(path), Text()) << path;
    EXPECT_EQ(doc.GetText(path, true), Text()) << path;
  }
}

TEST_F(AnswerPage, EmptyPathIsTheDocument) {
  EXPECT_EQ(doc.GetText(), Text("[object Object]"));
  EXPECT_EQ(doc.GetText("", true), doc.ToJson());
  EXPECT_EQ(doc.GetJson("data.trackDetailInfos[1].trackInfo.duration"), Text("602"));
}

TEST_F(AnswerPage, ExistsFollowsThePathRules) {
  EXPECT_TRUE(doc.Exists("data"));
  EXPECT_TRUE(doc.Exists("da.data"));
  EXPECT_TRUE(doc.Exists("data.trackDetailInfos[2]"));
  EXPECT_FALSE(doc.Exists("x"));
  EXPECT_FALSE(doc.Exists("da.x"));  // becomes da.da.x
  EXPECT_FALSE(doc.Exists("data.trackDetailInfos[3]"));

  Text path = "da.x";
  EXPECT_FALSE(doc.ResolvePath(path));
  EXPECT_EQ(path, Text("da.da.x"));
  path = "date";
  doc.ResolvePath(path);
  EXPECT_EQ(path, Text("da.date"));
  path = "[0]";
  doc.ResolvePath(path);
  EXPECT_EQ(path, Text("da[0]"));
}

// ---- path operations -----------------------------------------------------------------------

TEST(JsonDocumentSet, TextRoundTripsThroughThePlaceholder) {
  JsonDocument doc;
  const Text value = "a\\b 'single' \"double\"\r\n中"_t;
  EXPECT_TRUE(doc.Set("a", value));
  EXPECT_EQ(doc.GetText("a"), value);
  EXPECT_EQ(doc.GetText("da.a"), value);
  EXPECT_EQ(doc.GetJson("a"), "\"a\\b 'single' \\\"double\\\"\\r\\n中\""_t);
  TextArray values;
  ASSERT_EQ(doc.GetValues(values), 1);
  EXPECT_EQ(values.At(1), "a?b 'single' \"double\"\r\n中"_t);

  EXPECT_FALSE(doc.Set("b", ""));  // the truth value of the empty text
  EXPECT_EQ(doc.TypeOf("b"), JsonValueKind::String);
  EXPECT_FALSE(doc.Set("missing.parent", "x"));
}

TEST(JsonDocumentSet, AsObjectMergesIntoAnExistingObject) {
  JsonDocument doc = Loaded(R"({"o":{"s":"x","n":1,"b":true,"z":null,"k":{"keep":1,"deep":"a"},"l":[1]}})");
  EXPECT_TRUE(
      doc.Set("o", R"({"s":"y","n":2,"b":false,"z":{"v":1},"k":{"deep":"b","add":2},"l":[2],"new":"x"})", true));
  EXPECT_EQ(doc.GetJson("o"),
            Text(R"({"s":"y","n":2,"b":false,"z":{"v":1},"k":{"keep":1,"deep":"b","add":2},"l":[1,2],"new":"x"})"));

  EXPECT_TRUE(doc.Set("o", "", true));  // merges nothing
  EXPECT_EQ(doc.GetText("o.s"), Text("y"));

  EXPECT_FALSE(doc.Set("fresh", "", true));  // eval() of nothing: undefined
  EXPECT_FALSE(doc.Exists("fresh"));
  EXPECT_TRUE(doc.Set("fresh", "[1, 2]", true));
  EXPECT_EQ(doc.GetJson("fresh"), Text("[1,2]"));
}

TEST(JsonDocumentOps, WritesAndTheirResults) {
  JsonDocument doc = Loaded(R"({"n":5,"list":[1,2,3],"obj":{"a":1}})");
  EXPECT_TRUE(doc.SetExpression("x", "[1, 2].length"));
  EXPECT_EQ(doc.GetNumber("x"), 2.0);
  EXPECT_TRUE(doc.SetNumber("f", 1.5));
  EXPECT_EQ(doc.GetText("f"), Text("1.5"));
  EXPECT_TRUE(doc.SetNumber("big", 1e13));
  EXPECT_EQ(doc.GetNumber("big"), 1e13);
  EXPECT_FALSE(doc.SetNumber("zero", 0));
  EXPECT_EQ(doc.TypeOf("zero"), JsonValueKind::Number);

  EXPECT_TRUE(doc.SetItem(1, "list", "two"));
  EXPECT_TRUE(doc.SetItem(2, "list", "{\"c\":3}", true));
  EXPECT_EQ(doc.GetJson("list"), Text(R"([1,"two",{"c":3}])"));
  EXPECT_TRUE(doc.RemoveItem(-1, "list"));
  EXPECT_EQ(doc.GetJson("list"), Text(R"([1,"two"])"));
  EXPECT_TRUE(doc.RemoveItem(0, "list"));
  EXPECT_EQ(doc.GetJson("list"), Text(R"(["two"])"));

  EXPECT_TRUE(doc.Delete("obj.a"));
  EXPECT_FALSE(doc.Exists("obj.a"));
  EXPECT_FALSE(doc.Delete("no.such"));

  EXPECT_TRUE(doc.Clear());
  EXPECT_EQ(doc.ToJson(), Text("{}"));
}

TEST(JsonDocumentOps, AppendMakesAnArrayWhereThereIsNone) {
  JsonDocument doc = Loaded(R"({"n":5,"list":["a"]})");
  EXPECT_TRUE(doc.Append("b", "n"));
  EXPECT_EQ(doc.GetJson("n"), Text(R"(["b"])"));
  EXPECT_TRUE(doc.Append("first", "list", false, true));
  EXPECT_TRUE(doc.Append("3", "list", true));
  EXPECT_EQ(doc.GetJson("list"), Text(R"(["first","a",3])"));
  EXPECT_TRUE(doc.Append("x", "fresh"));
  EXPECT_EQ(doc.GetJson("fresh"), Text(R"(["x"])"));
  EXPECT_FALSE(doc.Append("it's", "list"));  // unescaped quote: invalid expression
  EXPECT_FALSE(doc.Append("x", "no.such"));
  EXPECT_EQ(doc.Count("list"), 3);
}

TEST(JsonDocumentOps, TypeOfCodes) {
  JsonDocument doc = Loaded(R"({"s":"x","a":[],"o":{},"n":0,"b":false,"z":null})");
  const std::pair<const char*, JsonValueKind> cases[] = {
      {"s", JsonValueKind::String},
      {"a", JsonValueKind::Array},
      {"o", JsonValueKind::Object},
      {"n", JsonValueKind::Number},
      {"b", JsonValueKind::Boolean},
      {"z", JsonValueKind::Null},
      {"missing", JsonValueKind::Null},
      {"missing.child", JsonValueKind::Other},
      {"", JsonValueKind::Object},
      {"s.length", JsonValueKind::Number},
      {"o.toJSONString", JsonValueKind::Other},
  };
  for (const auto& [path, kind] : cases) EXPECT_EQ(static_cast<int>(doc.TypeOf(path)), static_cast<int>(kind)) << path;
}

TEST(JsonDocumentOps, NamesCountAndItems) {
  JsonDocument doc = Loaded(R"({"list":[10,"x",true],"obj":{"b":1,"a":2,"":3},"only":{"":1}})");
  TextArray names{"stale"};
  EXPECT_EQ(doc.GetNames(names, "list"), 0);
  EXPECT_EQ(names.Size(), 0);
  // The empty name comes last, and the split drops an empty trailing piece.
  EXPECT_EQ(doc.GetNames(names, "obj"), 2);
  EXPECT_EQ(names, (TextArray{"b", "a"}));
  EXPECT_EQ(doc.GetNames(names, "only"), 0);
  EXPECT_EQ(doc.GetNames(names), 3);

  EXPECT_EQ(doc.Count("list"), 3);
  EXPECT_EQ(doc.Count("obj"), 0);
  EXPECT_EQ(doc.Count("missing"), 0);

  EXPECT_EQ(doc.GetItemText(1, "list"), Text("x"));
  EXPECT_EQ(doc.GetItemText(0, "list"), Text());  // plain form reads strings only
  EXPECT_EQ(doc.GetItemText(0, "list", true), Text("10"));
  EXPECT_EQ(doc.GetItemText(-1, "list"), Text());
  EXPECT_EQ(doc.GetItemText(3, "list", true), Text());
}

TEST(JsonDocumentOps, ValuesRecursiveOrNot) {
  JsonDocument doc = Loaded(R"({"a":"x","o":{"b":1,"l":[true,"y"]},"c":2.5,"z":null})");
  TextArray values;
  EXPECT_EQ(doc.GetValues(values), 2);
  EXPECT_EQ(values, (TextArray{"x", "2.5"}));
  EXPECT_EQ(doc.GetValues(values, "", true), 5);
  EXPECT_EQ(values, (TextArray{"x", "1", "true", "y", "2.5"}));
  EXPECT_EQ(doc.GetValues(values, "o.l"), 2);
  EXPECT_EQ(doc.GetValues(values, "missing"), 0);
  EXPECT_EQ(values.Size(), 0);
}

TEST(JsonDocumentOps, GetObjectIsADeepCopyWithItsOwnEngine) {
  JsonDocument doc = Loaded(R"({"data":{"list":[{"t":"一"},{"t":"二"}]},"s":"{\"inner\":1}"})");
  JsonDocument part = doc.GetObject("data.list");
  EXPECT_NE(part.GetEngine(), doc.GetEngine());
  EXPECT_EQ(part.GetText("[1].t"), "二"_t);
  ASSERT_TRUE(part.Set("[0].t", "changed"));
  EXPECT_EQ(doc.GetText("data.list[0].t"), "一"_t);

  JsonDocument item = doc.GetItemObject(1, "data.list");
  EXPECT_EQ(item.ToJson(), "{\"t\":\"二\"}"_t);
  EXPECT_EQ(doc.GetObject("s").GetNumber("inner"), 1.0);  // a string holding JSON loads it

  JsonDocument missing = doc.GetObject("data.missing");
  EXPECT_NE(missing.GetEngine(), nullptr);
  EXPECT_FALSE(missing.Exists());
  EXPECT_FALSE(doc.GetItemObject(5, "data.list").Exists());
}

}  // namespace
}  // namespace ombrik
