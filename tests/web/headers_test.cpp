#include "web/headers.h"

#include <gtest/gtest.h>

#include "text_printing.h"

namespace ombrik {
namespace {

const Text kDefaultBlock = "Accept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn";

TEST(HeadersTest, NormalizeHeaderNames) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"user-agent: x\r\ncontent-type: y", "User-Agent: x\r\nContent-Type: y"},
      {"x-requested-with: a\r\nnonsense", "X-Requested-With: a"},
      {"ACCEPT: a", "ACCEPT: a"},
      // A trailing dash survives: the name comes out one byte shorter and the rest is taken
      // from the right.
      {"x-: a", "X-: a"},
      {"a--: v", "A--: v"},
      {"-x: v", "-X: v"},
      {"accept: x\r\n\r\nreferer: y\r\n", "Accept: x\r\nReferer: y"},
      {"host: a:b", "Host: a:b"},
      {"\r\n\r\nfoo", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(EscapeForTest(c.in));
    EXPECT_EQ(NormalizeHeaderNames(c.in), Text(c.out));
  }
}

TEST(HeadersTest, CapitalizeFirstAndValueAfterColon) {
  EXPECT_EQ(CapitalizeFirst("abc"), Text("Abc"));
  EXPECT_EQ(CapitalizeFirst("1a"), Text("1a"));
  EXPECT_EQ(CapitalizeFirst(""), Text(""));
  EXPECT_EQ(ValueAfterColon("a:  b  "), Text("b"));
  EXPECT_EQ(ValueAfterColon("a:b:c"), Text("b:c"));
  EXPECT_EQ(ValueAfterColon("ab"), Text(""));
  EXPECT_EQ(ValueAfterColon("a:　b　"_t), Text("b"));  // full-width spaces trim too
}

TEST(HeadersTest, ChooseUserAgent) {
  struct Case {
    const char* headers;
    const char* agent;
  };
  const Case cases[] = {
      {"", kDefaultUserAgent},
      {"Accept: a", kDefaultUserAgent},
      {"User-Agent: X\r\nAccept: text/html", "X"},
      {"User-Agent:   Y   ", "Y"},
      // The line search matches case; the fallback takes everything after the block's first
      // colon.
      {"user-agent: X", "X"},
      {"a: b\r\nuser-agent: X", "b\r\nuser-agent: X"},
      {"A: b\r\nUser-Agent:", "b\r\nUser-Agent:"},
      {"X-User-Agent: foo", "foo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(EscapeForTest(c.headers));
    EXPECT_EQ(ChooseUserAgent(c.headers), Text(c.agent));
  }
}

TEST(HeadersTest, CompleteHeaderBlockAddsOnlyWhatIsMissing) {
  struct Case {
    const char* headers;
    int method;
    Text expected;
  };
  const Text url = "http://h/p";
  const Case cases[] = {
      {"", 0, kDefaultBlock},
      {"", 1, kDefaultBlock + "\r\nContent-Type: application/x-www-form-urlencoded"},
      {"", 3, kDefaultBlock},
      {"User-Agent: X\r\nAccept: text/html", 0,
       "User-Agent: X\r\nAccept: text/html\r\nReferer: http://h/p\r\nAccept-Language: zh-cn"},
      // Presence is a substring test: a value mentioning "referer:" counts, and so does a
      // longer name ending in "Accept:".
      {"X-Note: see REFERER: here", 0, "X-Note: see REFERER: here\r\nAccept: */*\r\nAccept-Language: zh-cn"},
      {"X-Accept: 1", 0, "X-Accept: 1\r\nReferer: http://h/p\r\nAccept-Language: zh-cn"},
      {"Accept-Language: en", 0, "Accept-Language: en\r\nAccept: */*\r\nReferer: http://h/p"},
      {"content-type: text/plain", 1,
       "content-type: text/plain\r\nAccept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(EscapeForTest(c.headers) + " method " + std::to_string(c.method));
    EXPECT_EQ(CompleteHeaderBlock(c.headers, url, c.method), c.expected);
  }
}

TEST(HeadersTest, AppendCookieHeader) {
  EXPECT_EQ(AppendCookieHeader("", "a=1"), Text("\r\nCookie: a=1"));
  EXPECT_EQ(AppendCookieHeader("H: v", "Cookie: a=1"), Text("H: v\r\nCookie: a=1"));
  EXPECT_EQ(AppendCookieHeader("", "cookie: a=1"), Text("\r\nCookie: cookie: a=1"));
}

}  // namespace
}  // namespace ombrik
