#include "text/codepage.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "text/text_ops.h"

namespace ombrik {
namespace {

Bytes B(std::string s) { return Bytes(std::move(s)); }

TEST(UrlDecode, ReadsEscapesLikeScanfHex) {
  const std::pair<const char*, std::string> cases[] = {
      {"", ""},
      {"a%2Bb+c", "a+b c"},
      {"%E4%BD%A0", "\xE4\xBD\xA0"},
      {"100%", "100%"},
      {"%", "%"},
      {"%zz", "%zz"},
      {"%%41", "%A"},
      {"%4z1",
       "\x04"
       "1"},
      {"%-1", "\xFF"},
      {"% 5", "\x05"},
      {"%+f", "\x0F"},
      {"%41%00B", "A"},  // everything from a decoded zero byte on is lost
      {"x%4", "x\x04"},  // cut short by the end of the text
      {"%- ", "%- "},
  };
  for (const auto& [in, expected] : cases) EXPECT_EQ(UrlDecode(in, false).str(), expected) << in;
  EXPECT_EQ(UrlDecode("", true), Text());
}

TEST(UrlDecode, ConvertsUtf8AnswersToCodePage936) {
  EXPECT_EQ(UrlDecode("%E4%BD%A0+ok", true), "你 ok"_t);
  // A JSON answer with '+' and escapes inside a string value.
  EXPECT_EQ(UrlDecode("{\"title\":\"A+B %E4%B8%AD\"}", true), TextFromUtf8("{\"title\":\"A B 中\"}"));
}

TEST(CodePage936, MatchesTheWindowsTable) {
  struct Case {
    const char* utf8;
    const char* cp936;
  } cases[] = {
      {"中文", "\xD6\xD0\xCE\xC4"},
      {"€", "\x80"},
      {"　", "\xA1\xA1"},
      {"한", "?"},  // a Korean syllable the code page lacks
      {"😀", "?"},   // an emoji: one character, one '?'
      {"a\xFF"
       "b",
       "a?b"},                                 // invalid UTF-8 becomes U+FFFD, then '?'
      {"\xED\xA0\xBD\xED\xB8\x80", "??????"},  // separately encoded surrogates are invalid UTF-8
      {"\xE4\xBD", "?"},                       // a sequence cut short
      {"abc", "abc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextFromUtf8(c.utf8), Text(c.cp936)) << c.utf8;
    EXPECT_EQ(Utf8ToAnsi(B(c.utf8)), Text(c.cp936)) << c.utf8;
  }
  // The other way, and a round trip through UTF-16.
  EXPECT_EQ(TextToUtf8("\xD6\xD0\x80x"), "中€x");
  EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16("\xD6\xD0\xCE\xC4\x80", false)), Text("\xD6\xD0\xCE\xC4\x80"));
  // Conversion stops at the first zero byte.
  EXPECT_EQ(Utf8ToAnsi(B(std::string("ab\0cd", 5))), Text("ab"));
}

TEST(CodePage936, AsciiRunsOfEveryLengthMeetTheirEnd) {
  // ASCII is copied in runs of eight bytes; a character or a zero byte may end a run anywhere.
  for (std::size_t n = 0; n <= 17; ++n) {
    const std::string ascii(n, 'a');
    EXPECT_EQ(TextFromUtf8(ascii + "中" + ascii), Text(ascii + "\xD6\xD0" + ascii)) << n;
    EXPECT_EQ(TextToUtf8(Text(ascii + "\xD6\xD0" + ascii)), ascii + "中" + ascii) << n;
    EXPECT_EQ(Utf8ToAnsi(B(ascii + std::string("\0", 1) + "tail")), Text(ascii)) << n;
    EXPECT_EQ(UrlDecode(Text(ascii + "%E4%B8%AD+" + ascii), true), Text(ascii + "\xD6\xD0 " + ascii)) << n;
  }
}

TEST(Utf16, TerminatorsAndZeroUnits) {
  EXPECT_EQ(MultiByteToUtf16(B(""), CodePageUtf8).size(), 0u);
  EXPECT_EQ(MultiByteToUtf16(B(std::string("\0A", 2)), CodePageUtf8).size(), 0u);
  EXPECT_EQ(MultiByteToUtf16(B("A"), CodePageUtf8).data(), std::string("A\0\0\0", 4));
  EXPECT_EQ(MultiByteToUtf16(B("\xF0\x9F\x98\x80"), CodePageUtf8).size(), 6u);  // a surrogate pair
  EXPECT_EQ(AnsiToUtf16("a\xD6\xD0", true).data(), std::string("a\0\x2D\x4E", 4));
  EXPECT_EQ(AnsiToUtf16("a", false).size(), 4u);
  EXPECT_EQ(Utf16UntilZero(B(std::string("A\0\0\0B\0", 6)), false).data(), std::string("A\0", 2));
  EXPECT_EQ(Utf16UntilZero(B(std::string("\0\0A\0", 4)), false).size(), 0u);
  EXPECT_EQ(Utf16UntilZero(B(std::string("A\0B", 3)), false).data(), std::string("A\0", 2));
  EXPECT_EQ(Utf16UntilZero(B(std::string("A\0", 2)), true).data(), std::string("A\0\0\0", 4));
  EXPECT_EQ(Utf16UntilZero(B("A"), false).size(), 0u);
  EXPECT_EQ(Utf16ToMultiByte(B(std::string("\0\0", 2)), AnsiCodePage).size(), 0u);
  EXPECT_EQ(Utf16ToText(B(std::string("\x2D\x4E"
                                      "A\0",
                                      4)),
                        CodePageUtf8, true),
            Text("\xE4\xB8\xAD"
                 "A"));
  EXPECT_EQ(Utf16ToText(B(std::string("\x2D\x4E", 2)), CodePageUtf8, false), Text("\xD6\xD0"));
}

TEST(CodePage936, DoesNotDependOnTheProcessLocale) {
  EXPECT_EQ(AnsiCodePage, 936);
  const char* saved = std::setlocale(LC_ALL, nullptr);
  std::string restore = saved ? saved : "C";
  std::setlocale(LC_ALL, "C.UTF-8");
  EXPECT_EQ(TextFromUtf8("中"), Text("\xD6\xD0"));
  EXPECT_EQ(TextToNumber("2.5"), 2.5);
  std::setlocale(LC_ALL, restore.c_str());
}

}  // namespace
}  // namespace ombrik
