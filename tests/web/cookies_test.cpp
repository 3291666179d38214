#include "web/cookies.h"

#include <gtest/gtest.h>

#include "text_printing.h"

namespace ombrik {
namespace {

TEST(CookiesTest, ExtractSetCookies) {
  struct Case {
    TextArray lines;
    const char* cookies;
  };
  const Case cases[] = {
      {{"HTTP/1.1 200 OK", "Set-Cookie: sid=abc; path=/", "Content-Type: x",
        "Set-Cookie: theme=dark; expires=Wed, 01 Jan 2031 00:00:00 GMT", ""},
       "sid=abc; theme=dark"},
      // Without any ";" after the value the line gives nothing.
      {{"Set-Cookie: flag=1"}, ""},
      {{"X-Set-Cookie: a=b; path=/", "SET-COOKIE: c=d; path=/"}, "c=d"},
      {{"set-cookie:   e=f  ;"}, "e=f"},
      {{"Set-Cookie: a=1; path=/", "Set-Cookie: a=2; path=/"}, "a=1; a=2"},
      {{"Set-Cookie:"}, ""},
      {{}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cookies);
    EXPECT_EQ(ExtractSetCookies(c.lines), Text(c.cookies));
  }
}

TEST(CookiesTest, MergeCookiesRewritesBothArguments) {
  struct Case {
    const char* old;
    const char* fresh;
    const char* merged;
    const char* freshAfter;
  };
  const Case cases[] = {
      {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3; c=4"},
      {"a=1; b=2", "a=deleted", "b=2", "a=deleted"},
      {"", "x=deleted", "", "x=deleted"},
      {"a=1;", "", "a=1", ""},
      {"a=1; a=2", "", "a=1", ""},
      {"", "x=1; x=1", "x=1", "x=1; x=1"},
      {"", "x=1; x=2", "x=1; x=2", "x=1; x=2"},
      {"A=1", "a=2", "a=2; A=1", "a=2"},
      {"", "s=1", "s=1", "s=1"},
      {"", "", "", ""},
      {"  a=1  ", " b=2; ", "b=2; a=1", "b=2; "},
      {"flag; a=1", "flag=on", "flag=on; a=1", "flag=on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.old) + " + " + c.fresh);
    Text cookies = c.old;
    Text fresh = c.fresh;
    EXPECT_EQ(MergeCookies(cookies, fresh), Text(c.merged));
    EXPECT_EQ(cookies, Text(c.merged));
    EXPECT_EQ(fresh, Text(c.freshAfter));
  }
}

TEST(CookiesTest, NamesAndLookups) {
  EXPECT_EQ(CookieName(" sid = 1"), Text("sid"));
  EXPECT_EQ(CookieName(" bare "), Text("bare"));
  EXPECT_EQ(CookieName("=v"), Text(""));
  const TextArray pieces = {"a=1", " b =2", "c"};
  EXPECT_TRUE(HasCookieNamed(pieces, "b"));
  EXPECT_TRUE(HasCookieNamed(pieces, "c"));
  EXPECT_FALSE(HasCookieNamed(pieces, "A"));
  EXPECT_EQ(IndexOfText(pieces, "c"), 3);
  EXPECT_EQ(IndexOfText(pieces, "b =2"), -1);
  EXPECT_EQ(IndexOfText({}, ""), -1);
}

TEST(CookiesTest, RemoveDuplicateItems) {
  EXPECT_EQ(RemoveDuplicateItems("a; b; a", "; ", true), Text("a; b"));
  EXPECT_EQ(RemoveDuplicateItems("", "; ", true), Text(""));
  EXPECT_EQ(RemoveDuplicateItems("abca", ",", false), Text("a,b,c"));
  EXPECT_EQ(RemoveDuplicateItems("甲乙甲\r\n\r\n"_t, "", false), "甲乙\r\n"_t);
}

TEST(CookiesTest, SplitCharacters) {
  struct Case {
    Text text;
    TextArray units;
  };
  const Case cases[] = {
      {"a\r\nb", {"a", "\r\n", "b"}},
      {"\n\r", {"\n", "\r"}},
      {"甲a"_t, {"甲"_t, "a"}},
      // 0x80 is a character of its own; a lead byte that stands last is one too.
      {"\x80"
       "a",
       {"\x80", "a"}},
      {"a\x81", {"a", "\x81"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(EscapeForTest(c.text.str()));
    TextArray units = {"kept"};
    EXPECT_EQ(SplitCharacters(c.text, units), static_cast<int>(c.units.Size()));
    TextArray expected = {"kept"};
    for (const Text& u : c.units) expected.Append(u);
    EXPECT_EQ(units, expected);
  }
}

}  // namespace
}  // namespace ombrik
