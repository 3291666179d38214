#include "web/url_parts.h"

#include <gtest/gtest.h>

#include "text_printing.h"

namespace ombrik {
namespace {

TEST(UrlPartsTest, HostPortAndPathFollowTheTextSearches) {
  struct Case {
    const char* url;
    const char* host;
    const char* hostWithPort;
    int port;
    const char* path;
  };
  const Case cases[] = {
      {"HTTPS://Srv/Path?q=1", "srv", "srv", 443, "/Path?q=1"},
      {"srv", "srv", "srv", 80, "/"},
      {"http://a.b:8080/x", "a.b", "a.b:8080", 8080, "/x"},
      {"https://srv?x=1", "srv?x=1", "srv?x=1", 443, "/"},
      {"https://srv", "srv", "srv", 443, "/"},
      // The first "http://" anywhere marks where the host begins.
      {"srv/?u=http://other/", "other", "other", 80, "/"},
      // User information stays in the host; the port is what follows the last colon.
      {"http://user:pw@h/p", "user", "user:pw@h", 0, "/p"},
      {"HTTP://Host:81", "host", "host:81", 81, "/"},
      {"http://srv/a/b#frag", "srv", "srv", 80, "/a/b#frag"},
      // The path search starts where the host is first found, here inside the scheme.
      {"http://h/a", "h", "h", 80, "//h/a"},
      {"", "", "", 80, "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(UrlHost(c.url), Text(c.host));
    EXPECT_EQ(UrlHost(c.url, false, true), Text(c.hostWithPort));
    EXPECT_EQ(UrlPort(c.url), c.port);
    EXPECT_EQ(UrlPath(c.url), Text(c.path));
  }
}

TEST(UrlPartsTest, PathKeepsDoubleByteCharactersAndCase) {
  const Text url = "http://Srv/曲目/Track?名=1"_t;
  EXPECT_EQ(UrlHost(url), Text("srv"));
  EXPECT_EQ(UrlPath(url), "/曲目/Track?名=1"_t);
}

TEST(UrlPartsTest, HostLevelsAndMainDomain) {
  struct Case {
    const char* url;
    bool mainDomainOnly;
    std::optional<int> levels;
    const char* host;
  };
  const Case cases[] = {
      {"w.x.y.z", false, 0, "y.z"},
      {"w.x.y.z", false, 1, "x.y.z"},
      {"w.x.y.z", true, 0, "z"},
      {"w.x.y.z", true, 1, "y.z"},
      {"w.x.y.z", true, std::nullopt, "y.z"},
      {"http://W.X.Y.Z:8080/p", false, 0, "y.z"},
      {"https://a.b:1/x", false, 0, "a.b"},
      {"single", false, 0, "single"},
      {"single", true, 0, "single"},
      {"w.x.y.z", false, 5, "w.x.y.z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url) + " levels " + (c.levels ? std::to_string(*c.levels) : "-") +
                 (c.mainDomainOnly ? " main" : ""));
    EXPECT_EQ(UrlHost(c.url, c.mainDomainOnly, false, c.levels), Text(c.host));
  }
  EXPECT_EQ(UrlHost("http://a.b.c:99/", false, true, 0), Text("b.c:99"));
}

TEST(UrlPartsTest, TextBetween) {
  struct Case {
    Text text, left, right;
    int start;
    bool ignoreCase;
    Text expected;
  };
  const Text quote = "#引号"_t;
  const Case cases[] = {
      {"a\"b\"", quote, quote, 0, false, "b"},
      // The placeholder is never searched for as such.
      {"#引号x#引号"_t, quote, quote, 0, false, ""},
      {"k=\"v\";", "k=#引号"_t, quote, 0, false, "v"},
      {"<a></a>", "<a>", "</a>", 0, false, ""},
      {"xyz", "[", "]", 0, false, ""},
      {"[abc", "[", "]", 0, false, ""},
      {"[a][b]", "[", "]", 3, false, "b"},
      {"[a][b]", "[", "]", -5, false, "a"},
      {"X=1;", "x=", ";", 0, true, "1"},
      {"X=1;", "x=", ";", 0, false, ""},
      {"甲[乙]丙"_t, "[", "]", 0, false, "乙"_t},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.text));
    EXPECT_EQ(TextBetween(c.text, c.left, c.right, c.start, c.ignoreCase), c.expected);
  }
}

}  // namespace
}  // namespace ombrik
