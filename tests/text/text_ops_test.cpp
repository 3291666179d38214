#include "text/text_ops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace ombrik {
namespace {

// Two double-byte characters: 0xD6 0xD0 and 0xCE 0xC4.
const Text kTwoChars("\xD6\xD0\xCE\xC4");
const Text kFullWidthSpace("\xA1\xA1");

std::vector<std::string> Strings(const TextArray& a) {
  std::vector<std::string> out;
  for (const Text& t : a) out.push_back(t.str());
  return out;
}

TEST(TextType, NeverHoldsAZeroByte) {
  EXPECT_EQ(Text(std::string("ab\0c", 4)).str(), "ab");
  EXPECT_EQ(Text(std::string_view("ab\0c", 4)).str(), "ab");
  EXPECT_EQ(BytesToText(Bytes(std::string("ab\0c", 4))).str(), "ab");
  EXPECT_EQ(TextFromUtf8("中文"), Text("\xD6\xD0\xCE\xC4"));
}

TEST(TextArray, CountsFromOne) {
  TextArray a{"x", "y"};
  EXPECT_EQ(a.Size(), 2);
  EXPECT_EQ(a.At(1), Text("x"));
  EXPECT_EQ(a.At(2), Text("y"));
  EXPECT_EQ(a.At(0), Text());
  EXPECT_EQ(a.At(3), Text());
}

TEST(TextCutting, CountsPlainBytes) {
  EXPECT_EQ(TextLeft("abc", 2), Text("ab"));
  EXPECT_EQ(TextLeft("abc", 9), Text("abc"));
  EXPECT_EQ(TextLeft("abc", 0), Text());
  EXPECT_EQ(TextLeft(kTwoChars, 3), Text("\xD6\xD0\xCE"));  // cuts a character in two
  EXPECT_EQ(TextRight("abc", 2), Text("bc"));
  EXPECT_EQ(TextRight("abc", -1), Text());
  EXPECT_EQ(TextMid("abcdef", 2, 3), Text("bcd"));
  EXPECT_EQ(TextMid("abcdef", 5, 9), Text("ef"));
  EXPECT_EQ(TextMid("abcdef", 0, 2), Text());
  EXPECT_EQ(TextMid("abcdef", 7, 2), Text());
  EXPECT_EQ(TextMid("abcdef", 1, 0), Text());
}

struct FindCase {
  const char* text;
  const char* sought;
  std::optional<int> start;
  bool ignoreCase;
  int expected;
};

TEST(FindText, StepsOverCharactersAndCountsFromTheWholeText) {
  const FindCase cases[] = {
      {"abcabc", "c", std::nullopt, false, 3},
      {"abcabc", "c", 4, false, 6},
      {"abcabc", "c", 0, false, 3},
      {"abcabc", "c", -5, false, 3},
      {"abcabc", "c", 7, false, -1},
      {"abc", "C", std::nullopt, false, -1},
      {"abc", "C", std::nullopt, true, 3},
      {"abc", "", std::nullopt, false, 1},
      {"abc", "", 3, false, 1},
      {"abc", "", 4, false, -1},
      {"", "", std::nullopt, false, -1},
      {"ab", "abc", std::nullopt, false, -1},
      {"\xD6\xD0\xCE\xC4", "\xD0\xCE", std::nullopt, false, -1},  // never on a trail byte
      {"\xD6\xD0\xCE\xC4", "\xCE\xC4", std::nullopt, false, 3},
      {"\x81\x5C\\", "\\", std::nullopt, false, 3},  // trail byte 0x5C is no backslash
      {"a\xD6", "\xD6", std::nullopt, false, -1},    // a lead byte standing last ends the walk
      {"\xD6\xD0x", "X", std::nullopt, true, 3},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(FindText(c.text, c.sought, c.start, c.ignoreCase), c.expected) << c.text << " / " << c.sought;
  }
}

TEST(FindLastText, FindsTheLastMatchWhollyBeforeStart) {
  const FindCase cases[] = {
      {"a.b.c", ".", std::nullopt, false, 4},
      {"a.b.c", ".", 5, false, 4},
      {"a.b.c", ".", 4, false, 2},
      {"a.b.c", ".", 1, false, -1},
      {"a.b.c", ".", 99, false, 4},
      {"a.b.c", "", std::nullopt, false, 1},
      {"", "", std::nullopt, false, -1},
      {"abab", "ab", 4, false, 1},  // the match at 3 does not lie wholly before 4
      {"aBab", "AB", std::nullopt, true, 3},
      {"\xD6\xD0\xCE\xC4", "\xD0\xCE", std::nullopt, false, -1},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(FindLastText(c.text, c.sought, c.start, c.ignoreCase), c.expected)
        << c.text << " / " << c.sought << " from " << c.start.value_or(-99);
  }
}

TEST(TextCase, FoldsOnlyAsciiAndPassesDoubleByteCharactersOver) {
  // 0xA3 0xE1 is the full-width 'a'; its trail byte 0xE1 is no letter, but 0xC1 0x61 has the
  // trail byte 'a', which must stay.
  EXPECT_EQ(TextToUpper("abc\xA3\xE1"), Text("ABC\xA3\xE1"));
  EXPECT_EQ(TextToUpper("\xC1\x61z"), Text("\xC1\x61Z"));
  EXPECT_EQ(TextToLower("AB\xC1\x41Z"), Text("ab\xC1\x41z"));
  EXPECT_EQ(TextToUpper("a\xD6"), Text("A\xD6"));
  EXPECT_TRUE(TextStartsWith("abc", ""));
  EXPECT_TRUE(TextStartsWith("abc", "ab"));
  EXPECT_FALSE(TextStartsWith("abc", "AB"));
  EXPECT_FALSE(TextStartsWith("ab", "abc"));
}

TEST(Spaces, OnlyAsciiAndFullWidthSpacesCount) {
  EXPECT_EQ(TrimSpaces(kFullWidthSpace + " ab c\t"), Text("ab c\t"));
  EXPECT_EQ(TrimSpaces("  ab " + kFullWidthSpace + " "), Text("ab"));
  EXPECT_EQ(TrimSpaces(" " + kFullWidthSpace), Text());
  EXPECT_EQ(TrimSpaces("ab  \xD6"), Text("ab  "));  // a lone last lead byte goes, spaces stay
  EXPECT_EQ(TrimSpaces("\xA1\xA1x\xA1"), Text("x"));
  EXPECT_EQ(TrimSpaces("\xB0\xA1\xA1\xA1"), Text("\xB0\xA1"));  // 0xA1 0xA1 inside is no space
  EXPECT_EQ(RemoveSpaces(" a" + kFullWidthSpace + "b c"), Text("abc"));
  EXPECT_EQ(RemoveSpaces("a\tb\xD6"), Text("a\tb"));
  EXPECT_EQ(RemoveSpaces("\xB0\xA1\xA1\xA1"), Text("\xB0\xA1"));
}

struct ReplaceCase {
  const char* text;
  const char* sought;
  const char* replacement;
  std::optional<int> start;
  std::optional<int> count;
  bool caseSensitive;
  const char* expected;
};

TEST(ReplaceText, ReplacesOnCharacterBoundariesWithoutRescanning) {
  const ReplaceCase cases[] = {
      {"aXbxc", "x", "-", std::nullopt, std::nullopt, false, "a-b-c"},
      {"aXbxc", "x", "-", std::nullopt, std::nullopt, true, "aXb-c"},
      {"aXbxc", "x", "-", std::nullopt, 1, false, "a-bxc"},
      {"aXbxc", "x", "-", 3, std::nullopt, false, "aXb-c"},
      {"aaa", "a", "aa", std::nullopt, std::nullopt, true, "aaaaaa"},
      {"abc", "b", "", std::nullopt, std::nullopt, true, "ac"},
      {"abc", "", "-", std::nullopt, std::nullopt, true, "abc"},
      {"abc", "b", "-", 9, std::nullopt, true, "abc"},
      {"abc", "b", "-", std::nullopt, 0, true, "abc"},
      {"", "b", "-", std::nullopt, std::nullopt, true, ""},
      {"abcb", "cb", "-", std::nullopt, std::nullopt, true, "ab-"},
      {"abcd", "cdx", "-", std::nullopt, std::nullopt, true, "abcd"},
      {"\x81\x5C\\", "\\", "", std::nullopt, std::nullopt, false, "\x81\x5C"},
      {"\xD6\xD0\xCE\xC4", "\xD0\xCE", "-", std::nullopt, std::nullopt, true, "\xD6\xD0\xCE\xC4"},
      {"ab\xD6", "b", "-", std::nullopt, std::nullopt, true, "a-"},  // lone last lead dropped
  };
  for (const ReplaceCase& c : cases) {
    EXPECT_EQ(ReplaceText(c.text, c.sought, c.replacement, c.start, c.count, c.caseSensitive), Text(c.expected))
        << c.text << " / " << c.sought;
  }
}

TEST(SplitKeepingEmpty, KeepsEmptyPiecesButNoTrailingOne) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Strings(SplitKeepingEmpty("a,,b,")), (V{"a", "", "b"}));
  EXPECT_EQ(Strings(SplitKeepingEmpty(",a")), (V{"", "a"}));
  EXPECT_EQ(Strings(SplitKeepingEmpty("")), V{});
  EXPECT_EQ(Strings(SplitKeepingEmpty("abc", Text(""))), V{"abc"});
  EXPECT_EQ(Strings(SplitKeepingEmpty("a,b,c", std::nullopt, 2)), (V{"a", "b"}));
  EXPECT_EQ(Strings(SplitKeepingEmpty("a,b", std::nullopt, 0)), V{});
  EXPECT_EQ(Strings(SplitKeepingEmpty("a,b", std::nullopt, -3)), V{});
  EXPECT_EQ(Strings(SplitKeepingEmpty("a\r\nb\r\n\r\n", Text("\r\n"))), (V{"a", "b", ""}));
  EXPECT_EQ(Strings(SplitKeepingEmpty("aXbxc", Text("x"))), (V{"aXb", "c"}));
  // The trail byte 0x7C of 0x81 0x7C is no delimiter; a last lone lead byte stays in the piece.
  EXPECT_EQ(Strings(SplitKeepingEmpty("\x81|a|b\xD6", Text("|"))), (V{"\x81|a", "b\xD6"}));
}

TEST(SplitText, KeepsOnlyNonEmptyPieces) {
  TextArray out{"stale"};
  EXPECT_EQ(SplitText("a/b//c/", "/", 0, out), 3);
  EXPECT_EQ(Strings(out), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitText("/", "/", 0, out), 0);
  EXPECT_EQ(out.Size(), 0);
  out.Append("stale");
  EXPECT_EQ(SplitText("", "/", 0, out), 0);
  EXPECT_EQ(out.Size(), 0);
  // The limit counts raw pieces: 'a' and the empty one.
  EXPECT_EQ(SplitText("a,,b", ",", 2, out), 1);
  EXPECT_EQ(SplitText("a,b", "", 0, out), 2);  // an empty delimiter means ","
}

TEST(SmallOperations, EdgeRules) {
  EXPECT_EQ(ConcatText("a", "", "b", Text("c")), Text("abc"));
  EXPECT_EQ(CompareText("a", "a"), 0);
  EXPECT_LT(CompareText("a", "\xD6"), 0);  // unsigned bytes
  EXPECT_EQ(CompareText("", Text()), 0);
  EXPECT_EQ(BlankText(3), Text("   "));
  EXPECT_EQ(BlankText(-1), Text());
  EXPECT_EQ(CharFromCode(0), Text());
  EXPECT_EQ(CharFromCode(0x141), Text("A"));
  EXPECT_EQ(CharCode("\xD6\xD0", 1), -42);
  EXPECT_EQ(CharCode("abc"), 'a');
  EXPECT_EQ(CharCode("abc", 4), 0);
  EXPECT_EQ(CharCode("abc", 0), 0);
  EXPECT_EQ(BitOr(1, 2, 8), 11);
}

TEST(Numbers, FormatAsPercentThirteenGWithThreeDigitExponent) {
  const std::pair<double, const char*> cases[] = {
      {5.0, "5"},
      {100.0, "100"},
      {0.5, "0.5"},
      {-2.5, "-2.5"},
      {1.0 / 3.0, "0.3333333333333"},
      {1e12, "1000000000000"},
      {1e13, "1e+013"},
      {1e20, "1e+020"},
      {0.00001, "1e-005"},
      {1.5e-300, "1.5e-300"},
      {0.0001, "0.0001"},
      {250.0 - 99.0, "151"},
      // Around the whole-number shortcut: its edges and what it leaves alone.
      {9999999999999.0, "9999999999999"},
      {-9999999999999.0, "-9999999999999"},
      {-1e13, "-1e+013"},
      {0.0, "0"},
      {-0.0, "-0"},
      {-7.0, "-7"},
      {2.0000000000001, "2"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(NumberToText(value), Text(expected)) << value;
  EXPECT_EQ(IntToText(-42), Text("-42"));
  EXPECT_EQ(IntToText(0), Text("0"));
  EXPECT_EQ(IntToText(INT32_MIN), Text("-2147483648"));
}

TEST(Numbers, ReadLikeAtoiAndAtofAfterFullWidthFolding) {
  const std::pair<const char*, int> ints[] = {
      {"  42abc", 42},
      {"-7", -7},
      {"abc", 0},
      {"\xA3\xB4\xA3\xB2", 42},  // full-width 42
      {"+3", 3},
      {"\t\n9", 9},
      {"", 0},
      {"\xA3\xAD\xA3\xB5", -5},  // full-width -5
      {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
      {"\xA1\xA1"
       "8",
       8},
  };
  for (const auto& [text, expected] : ints) EXPECT_EQ(TextToInt(text), expected) << text;

  const std::pair<const char*, double> numbers[] = {
      {"250", 250.0},
      {"  -2.5e1x", -25.0},
      {"", 0.0},
      {"abc", 0.0},
      {".5", 0.5},
      {"16777217", 16777216.0},  // single precision
      {"0.1", static_cast<double>(0.1f)},
      {"1e", 1.0},
      {"\xA3\xB2\xA3\xB5\xA3\xB0", 250.0},
      {"1e999", HUGE_VAL},
  };
  for (const auto& [text, expected] : numbers) EXPECT_EQ(TextToNumber(text), expected) << text;
}

TEST(Numbers, TruncateTowardZero) {
  EXPECT_EQ(TruncToInt(2.9), 2);
  EXPECT_EQ(TruncToInt(-2.9), -2);
  EXPECT_EQ(TruncToInt(4294967297.0), 1);  // low 32 bits of the 64-bit value
  EXPECT_EQ(TruncToInt(1e30), 0);
  EXPECT_EQ(NumberToInt(-7.5), -7);
  EXPECT_EQ(IntDiv(250, 100), 2);
  EXPECT_EQ(IntDiv(-250, 100), -2);
  EXPECT_EQ(Remainder(250, 100), 50);
  EXPECT_EQ(Remainder(-250, 100), -50);
}

TEST(ByteStrings, KeepZeroBytesAndCutByCount) {
  const Bytes b(std::string("ab\0cd", 5));
  EXPECT_EQ(BytesLength(b), 5);
  EXPECT_EQ(BytesToText(b), Text("ab"));
  EXPECT_EQ(TextToBytes("ab").data(), "ab");
  EXPECT_EQ(BytesLeft(b, 3).data(), std::string("ab\0", 3));
  EXPECT_EQ(BytesLeft(b, 0).size(), 0u);
  EXPECT_EQ(BytesMid(b, 0, 2).data(), "ab");
  EXPECT_EQ(BytesMid(b, 4, 9).data(), "cd");
  EXPECT_EQ(BytesMid(b, 6, 1).size(), 0u);
  EXPECT_EQ(BlankBytes(2).data(), std::string(2, '\0'));
  EXPECT_TRUE(BytesEqual(ConcatBytes(Bytes("ab"), Bytes(std::string("\0", 1)), Bytes("cd")), b));
  EXPECT_FALSE(BytesEqual(Bytes("a"), Bytes("ab")));
}

}  // namespace
}  // namespace ombrik
