// WebRequest against real servers on loopback: what goes on the wire, what comes back.
#include "web/web_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "proxies.h"
#include "temp_dir.h"
#include "testsupport/loopback_server.h"
#include "text/text_ops.h"
#include "text_printing.h"
#include "web/headers.h"
#include "web/network_wait.h"
#include "wire_server.h"

namespace ombrik {
namespace {

using testing::HttpResponse;
using testing::WireReply;
using testing::WireRequest;
using testing::WireServer;
using testsupport::CertificateOptions;
using testsupport::LoopbackServer;
using testsupport::SelfSignedCertificate;

std::string Str(const Bytes& b) { return b.data(); }
const Text kNoHeaders = BlankText(5000);

class WebRequestTest : public ::testing::Test {
 protected:
  void TearDown() override { SetNetworkWaitHook({}); }

  // Time-outs short enough for a test: 5 s to connect, 1 s without a byte.
  static WebRequestParams Impatient() {
    WebRequestParams params;
    params.network.connectTimeout = std::chrono::seconds(5);
    params.network.stallTimeout = std::chrono::seconds(1);
    return params;
  }
};

// Answers 200 "ok", without a body for HEAD.
WireReply Ok(const WireRequest& r) { return {HttpResponse(200, "OK", {}, "ok", r.method != "HEAD")}; }

TEST_F(WebRequestTest, DefaultGetSendsTheDefaultBlockLineForLine) {
  WireServer server;
  const std::string url = server.Url("/page?q=1");
  WebRequestParams params;
  EXPECT_EQ(Str(WebRequest(Text(url), params)), "ok");

  const WireRequest r = server.Last();
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/page?q=1");
  EXPECT_EQ(r.version, "HTTP/1.1");
  // Nothing else: no Accept-Encoding, no Expect, no Cookie, no Content-Type.
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      std::string("User-Agent: ") + kDefaultUserAgent,
      "Accept: */*",
      "Referer: " + url,
      "Accept-Language: zh-cn",
  };
  EXPECT_EQ(r.headerLines, expected);
  EXPECT_TRUE(r.body.empty());
  EXPECT_EQ(params.returnedHeaders, Text("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n"));
  EXPECT_EQ(params.returnedCookies, Text(""));
  EXPECT_EQ(WebRequest(Text(url)), Bytes("ok"));
}

TEST_F(WebRequestTest, CallerHeadersAreSentAsComposed) {
  WireServer server;
  WebRequestParams params;
  params.headers = "user-agent: Probe/2\r\naccept: text/html\r\nnonsense\r\nx-empty:";
  WebRequest(Text(server.Url("/h")), params);
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      "User-Agent: Probe/2",
      "Accept: text/html",
      "X-Empty:",
      "Referer: " + server.Url("/h"),
      "Accept-Language: zh-cn",
  };
  EXPECT_EQ(server.Last().headerLines, expected);

  // Nothing completed and nothing normalised: the library adds only Host and the agent.
  WebRequestParams bare;
  bare.headers = "x-custom: 1";
  bare.completeHeaders = false;
  bare.normalizeHeaders = false;
  WebRequest(Text(server.Url("/h")), bare);
  const std::vector<std::string> bareExpected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      std::string("User-Agent: ") + kDefaultUserAgent,
      "x-custom: 1",
  };
  EXPECT_EQ(server.Last().headerLines, bareExpected);

  // An agent picked from a malformed block ends at its line break: it cannot add header lines.
  WebRequestParams odd;
  odd.headers = "x-user-agent: q\r\naccept: a";
  odd.normalizeHeaders = false;
  odd.completeHeaders = false;
  WebRequest(Text(server.Url("/h")), odd);
  const std::vector<std::string> oddExpected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      "User-Agent: q",
      "x-user-agent: q",
      "accept: a",
  };
  EXPECT_EQ(server.Last().headerLines, oddExpected);
}

TEST_F(WebRequestTest, EightVerbsAndTheirBodies) {
  WireServer server(Ok);
  struct Case {
    int method;
    const char* verb;
    bool sendsBody;
    const char* contentType;
  };
  const Case cases[] = {
      {0, "GET", false, ""},    {1, "POST", true, "application/x-www-form-urlencoded"},
      {2, "HEAD", true, ""},    {3, "PUT", true, ""},
      {4, "OPTIONS", true, ""}, {5, "DELETE", true, ""},
      {6, "TRACE", true, ""},   {7, "CONNECT", true, ""},
      {8, "GET", false, ""},    {-1, "GET", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    WebRequestParams params;
    params.method = c.method;
    params.postText = "name=value";
    const Bytes body = WebRequest(Text(server.Url("/verb")), params);
    const WireRequest r = server.Last();
    EXPECT_EQ(r.method, c.verb);
    EXPECT_EQ(r.body, c.sendsBody ? "name=value" : "");
    EXPECT_EQ(r.Header("Content-Type"), c.contentType);
    // postBytes takes the text's bytes for every method but GET.
    EXPECT_EQ(Str(params.postBytes), c.sendsBody ? "name=value" : "");
    EXPECT_EQ(Str(body), c.method == 2 ? "" : "ok");
    EXPECT_TRUE(TextStartsWith(params.returnedHeaders, "HTTP/1.1 200 OK\r\n"));
  }
}

TEST_F(WebRequestTest, BytesWinOverTextAndGetSendsNoBody) {
  WireServer server(Ok);
  const Bytes binary(std::string("b\0in\xff", 5));

  WebRequestParams post;
  post.method = 1;
  post.postText = "ignored";
  post.postBytes = binary;
  WebRequest(Text(server.Url("/p")), post);
  EXPECT_EQ(server.Last().body, binary.data());
  EXPECT_EQ(post.postBytes, binary);

  WebRequestParams get;
  get.postText = "text";
  get.postBytes = binary;
  WebRequest(Text(server.Url("/g")), get);
  EXPECT_EQ(server.Last().method, "GET");
  EXPECT_TRUE(server.Last().body.empty());
  EXPECT_FALSE(server.Last().HasHeader("Content-Length"));
  EXPECT_EQ(get.postBytes, binary);

  // An empty POST or PUT still declares its empty body.
  for (int method : {1, 3}) {
    WebRequestParams empty;
    empty.method = method;
    WebRequest(Text(server.Url("/e")), empty);
    EXPECT_EQ(server.Last().Header("Content-Length"), "0");
  }
}

// Cookies here carry a path, so the shared store keeps them away from the other tests' requests.
TEST_F(WebRequestTest, CookieStoreAndSuppliedCookies) {
  WireServer server([](const WireRequest& r) {
    std::vector<std::string> headers;
    if (r.target == "/store/set") headers = {"Set-Cookie: sid=abc; path=/store"};
    if (r.target == "/store/other") headers = {"Set-Cookie: other=1; path=/store"};
    if (r.target == "/store/merge") {
      headers = {"Set-Cookie: b=3; path=/nowhere", "Set-Cookie: c=4; path=/nowhere"};
    }
    return WireReply{HttpResponse(200, "OK", headers, "ok")};
  });
  const Text base(server.Url(""));

  WebRequestParams first;
  WebRequest(base + "/store/set", first);
  EXPECT_EQ(first.returnedCookies, Text("sid=abc"));
  WebRequest(base + "/store/check");
  EXPECT_EQ(server.Last().Header("Cookie"), "sid=abc");

  // Supplied, even empty: the store is neither read nor written.
  WebRequestParams supplied;
  supplied.cookies = Text("");
  WebRequest(base + "/store/other", supplied);
  EXPECT_FALSE(server.Last().HasHeader("Cookie"));
  EXPECT_EQ(supplied.cookies, Text("other=1"));
  EXPECT_EQ(supplied.returnedCookies, Text("other=1"));
  WebRequest(base + "/store/check");
  EXPECT_EQ(server.Last().Header("Cookie"), "sid=abc");

  WebRequestParams merging;
  merging.cookies = Text("a=1; b=2");
  WebRequest(base + "/store/merge", merging);
  const WireRequest sent = server.Last();
  EXPECT_EQ(sent.Header("Cookie"), "a=1; b=2");
  int cookieLines = 0;
  for (const auto& line : sent.headerLines) cookieLines += line.rfind("Cookie:", 0) == 0;
  EXPECT_EQ(cookieLines, 1);
  EXPECT_EQ(merging.cookies, Text("b=3; c=4; a=1"));
  EXPECT_EQ(merging.returnedCookies, Text("b=3; c=4; a=1"));

  WebRequestParams noMerge;
  noMerge.cookies = Text("a=1");
  noMerge.mergeCookies = false;
  WebRequest(base + "/store/merge", noMerge);
  EXPECT_EQ(noMerge.cookies, Text("a=1"));
  EXPECT_EQ(noMerge.returnedCookies, Text("b=3; c=4"));
}

TEST_F(WebRequestTest, RedirectsFollowedOrHandedBack) {
  WireServer server([](const WireRequest& r) {
    if (r.target == "/moved301") {
      return WireReply{HttpResponse(301, "Moved Permanently", {"Location: /final"}, "gone")};
    }
    if (r.target == "/moved302") {
      return WireReply{HttpResponse(302, "Found", {"Location: /final"}, "moved")};
    }
    return WireReply{HttpResponse(200, "OK", {}, "final body")};
  });
  struct Case {
    const char* path;
    int status;
    const char* redirectBody;
  };
  for (const Case& c : {Case{"/moved301", 301, "gone"}, Case{"/moved302", 302, "moved"}}) {
    SCOPED_TRACE(c.path);
    WebRequestParams follow;
    EXPECT_EQ(Str(WebRequest(Text(server.Url(c.path)), follow)), "final body");
    EXPECT_TRUE(TextStartsWith(follow.returnedHeaders, "HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(server.Last().target, "/final");

    WebRequestParams stay;
    stay.noRedirect = true;
    EXPECT_EQ(Str(WebRequest(Text(server.Url(c.path)), stay)), c.redirectBody);
    EXPECT_TRUE(TextStartsWith(stay.returnedHeaders, Text("HTTP/1.1 " + std::to_string(c.status))));
    EXPECT_NE(FindText(stay.returnedHeaders, "\r\nLocation: /final\r\n"), -1);
    EXPECT_EQ(server.Last().target, c.path);
  }
}

TEST_F(WebRequestTest, RedirectsCrossFromHttpToHttpsAndBack) {
  WireServer end;
  SelfSignedCertificate certificate;
  LoopbackServer secure(certificate);
  const std::string back = end.Url("/end");
  secure.server().Get("/secure", [&](const httplib::Request&, httplib::Response& res) { res.set_redirect(back, 302); });
  secure.Start();
  LoopbackServer plain;
  const std::string toSecure = secure.BaseUrl() + "/secure";
  plain.server().Get("/start",
                     [&](const httplib::Request&, httplib::Response& res) { res.set_redirect(toSecure, 302); });
  plain.Start();

  WebRequestParams params;
  params.network.caPem = certificate.CertificatePem();
  EXPECT_EQ(Str(WebRequest(Text(plain.BaseUrl() + "/start"), params)), "ok");
  EXPECT_EQ(end.Last().target, "/end");
}

TEST_F(WebRequestTest, CertificatesAreVerifiedUnlessTheUserSaysOtherwise) {
  CertificateOptions wrongName;
  wrongName.commonName = "other.example";
  wrongName.dnsNames = {"other.example"};
  wrongName.ipAddresses = {};
  CertificateOptions expired;
  expired.notBefore = std::chrono::hours(-48);
  expired.notAfter = std::chrono::hours(-24);
  enum Trust { None, Pem, File, Insecure };
  const struct Case {
    const char* name;
    CertificateOptions options;
    Trust trust;
    bool works;
  } cases[] = {
      {"unknown issuer", {}, None, false},
      {"trusted as text", {}, Pem, true},
      {"trusted as a file", {}, File, true},
      {"checks off", {}, Insecure, true},
      {"trusted, but for another name", wrongName, Pem, false},
      {"wrong name, checks off", wrongName, Insecure, true},
      {"trusted, but expired", expired, Pem, false},
      {"expired, checks off", expired, Insecure, true},
  };
  testing::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SelfSignedCertificate certificate(c.options);
    LoopbackServer server(certificate);
    server.server().Get("/hello", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("hello over tls", "text/plain");
    });
    server.Start();
    WebRequestParams params;
    if (c.trust == Pem) params.network.caPem = certificate.CertificatePem();
    if (c.trust == File) {
      params.network.caFile = dir / "ca.pem";
      testing::WriteFile(params.network.caFile, certificate.CertificatePem());
    }
    params.network.verifyCertificates = c.trust != Insecure;
    EXPECT_EQ(Str(WebRequest(Text(server.BaseUrl() + "/hello"), params)), c.works ? "hello over tls" : "");
    EXPECT_EQ(params.failure.cause, c.works ? FailureCause::None : FailureCause::CertificateNotTrusted);
    if (!c.works) {
      EXPECT_EQ(Describe(params.failure), "certificate not trusted");
    }
  }
}

TEST_F(WebRequestTest, ThreeProxyFormsCarryRequests) {
  testing::TinyProxy http;
  ASSERT_TRUE(http.ok()) << http.error();
  testing::MicroSocks socks;
  ASSERT_TRUE(socks.ok()) << socks.error();
  WireServer plain;
  SelfSignedCertificate certificate;
  LoopbackServer secure(certificate);
  secure.server().Get(
      "/tunnel", [](const httplib::Request&, httplib::Response& res) { res.set_content("through", "text/plain"); });
  secure.Start();
  const std::string closed = "127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());

  // The HTTP proxy forwards a plain request itself and says so in a Via header.
  WebRequestParams viaHttp;
  viaHttp.proxy = Text(http.address());
  EXPECT_EQ(Str(WebRequest(Text(plain.Url("/p")), viaHttp)), "ok");
  EXPECT_NE(plain.Last().Header("Via").find("tinyproxy"), std::string::npos);

  struct Case {
    const char* name;
    std::string url;
    std::string proxy;
    bool socks;
    const char* body;
  };
  const std::string tunnelUrl = "https://localhost:" + std::to_string(secure.port()) + "/tunnel";
  const std::string plainUrl = "http://localhost:" + std::to_string(plain.port()) + "/s";
  const Case cases[] = {
      {"https through CONNECT", tunnelUrl, http.address(), false, "through"},
      {"http through SOCKS5", plainUrl, socks.address(), true, "ok"},
      {"https through SOCKS5", tunnelUrl, socks.address(), true, "through"},
      // The same requests with nothing at the proxy address fail: the proxy was in the path.
      {"dead HTTP proxy", tunnelUrl, closed, false, ""},
      {"dead SOCKS proxy", plainUrl, closed, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WebRequestParams params;
    params.proxy = Text(c.proxy);
    params.socksProxy = c.socks;
    params.network.caPem = certificate.CertificatePem();
    EXPECT_EQ(Str(WebRequest(Text(c.url), params)), c.body);
  }
}

TEST_F(WebRequestTest, FailuresGiveAnEmptyBodyAndBlankHeaders) {
  const std::string closed = "http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());
  for (const std::string& url : {closed + "/x", std::string("http://nothing.invalid/x"), std::string("http://a b/x"),
                                 std::string("http://h:70000/")}) {
    SCOPED_TRACE(url);
    WebRequestParams params;
    params.method = 1;
    params.postText = "p";
    params.cookies = Text("a=1;");
    params.returnedCookies = "old";
    EXPECT_TRUE(WebRequest(Text(url), params).empty());
    EXPECT_EQ(params.returnedHeaders, kNoHeaders);
    // The merge still runs, over no new cookies; the body was prepared as for a sent request.
    EXPECT_EQ(params.returnedCookies, Text("a=1"));
    EXPECT_EQ(params.cookies, Text("a=1"));
    EXPECT_EQ(Str(params.postBytes), "p");
  }
}

TEST_F(WebRequestTest, UrlsNoServerCanTakeGiveAnEmptyBody) {
  const Text cases[] = {
      "http://",
      "http://:80/",
      "http://x.invalid:-1/",
      "http://x.invalid:99999999999/",
      "http://x.invalid:8o/",
      "https://%41.invalid/",
      "http://a@x.invalid/",
      "\x81",
      "http://\xff\xfe.invalid/",
      "http://\xd6\xd0.invalid/\x81",
      Text("http://" + std::string(5000, 'a') + ".invalid/"),
  };
  for (const Text& url : cases) {
    SCOPED_TRACE(EscapeForTest(url.str()));
    WebRequestParams params;
    EXPECT_TRUE(WebRequest(url, params).empty());
  }
}

TEST_F(WebRequestTest, NoHostLeavesEveryOutputAlone) {
  for (const char* url : {"http:///x", "https://"}) {
    SCOPED_TRACE(url);
    WebRequestParams params;
    params.method = 1;
    params.postText = "p";
    params.cookies = Text("a=1");
    params.returnedCookies = "before";
    params.returnedHeaders = "before";
    EXPECT_TRUE(WebRequest(url, params).empty());
    EXPECT_EQ(params.returnedCookies, Text("before"));
    EXPECT_EQ(params.returnedHeaders, Text("before"));
    EXPECT_EQ(params.cookies, Text("a=1"));
    EXPECT_TRUE(params.postBytes.empty());
  }
}

TEST_F(WebRequestTest, EmptyBodyStillGivesHeadersAndCookies) {
  WireServer server(
      [](const WireRequest&) { return WireReply{HttpResponse(200, "OK", {"Set-Cookie: k=v; path=/nobody"}, "")}; });
  WebRequestParams params;
  EXPECT_TRUE(WebRequest(Text(server.Url("/nobody")), params).empty());
  EXPECT_TRUE(TextStartsWith(params.returnedHeaders, "HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(params.returnedCookies, Text("k=v"));
}

TEST_F(WebRequestTest, HeaderBlockAbove4999BytesIsBlanked) {
  // Pads a response so that its header block is exactly `size` bytes.
  auto blockOf = [](std::size_t size) {
    const std::string fixed =
        "HTTP/1.1 200 OK\r\nX-Pad: \r\nSet-Cookie: big=1; path=/big\r\n"
        "Content-Length: 4\r\n\r\n";
    return HttpResponse(200, "OK", {"X-Pad: " + std::string(size - fixed.size(), 'p'), "Set-Cookie: big=1; path=/big"},
                        "body");
  };
  struct Case {
    std::size_t size;
    bool kept;
  };
  for (const Case& c : {Case{4999, true}, Case{5000, false}, Case{9000, false}}) {
    SCOPED_TRACE(c.size);
    WireServer server([&](const WireRequest&) { return WireReply{blockOf(c.size)}; });
    WebRequestParams params;
    EXPECT_EQ(Str(WebRequest(Text(server.Url("/big")), params)), "body");
    if (c.kept) {
      EXPECT_EQ(params.returnedHeaders.size(), c.size);
      EXPECT_EQ(params.returnedCookies, Text("big=1"));
    } else {
      EXPECT_EQ(params.returnedHeaders, kNoHeaders);
      EXPECT_EQ(params.returnedCookies, Text(""));
    }
  }
}

TEST_F(WebRequestTest, StalledAnswerEndsAfterTheStallTime) {
  const std::string reply = HttpResponse(200, "OK", {}, "partial body");
  struct Case {
    const char* name;
    std::size_t stallAfter;
    const char* body;
    bool headers;
  };
  for (const Case& c :
       {Case{"before any byte", 0, "", false}, Case{"inside the body", reply.size() - 5, "partial", true}}) {
    SCOPED_TRACE(c.name);
    WireServer server([&](const WireRequest&) { return WireReply{reply, c.stallAfter}; });
    WebRequestParams params = Impatient();
    // Returning at all is the point: the server would hold the connection until destroyed.
    EXPECT_EQ(Str(WebRequest(Text(server.Url("/stall")), params)), c.body);
    EXPECT_EQ(params.returnedHeaders != kNoHeaders, c.headers);
  }
}

TEST_F(WebRequestTest, SlowAnswerCompletesAndTheWindowHookKeepsRunning) {
  std::atomic<int> calls = 0;
  SetNetworkWaitHook([&] { ++calls; });
  // Eight pieces 150 ms apart: longer than the stall time in total, never silent for as long.
  WireServer server([](const WireRequest&) {
    return WireReply{HttpResponse(200, "OK", {}, std::string(400, 's')), std::string::npos, false,
                     std::chrono::milliseconds(150)};
  });
  WebRequestParams params = Impatient();
  EXPECT_EQ(Str(WebRequest(Text(server.Url("/slow")), params)), std::string(400, 's'));
  // 1.2 s of waiting; a turn at least every 100 ms gives about a dozen calls.
  EXPECT_GE(calls.load(), 6);
}

TEST_F(WebRequestTest, KeepAliveConnectionIsReusedAcrossCalls) {
  WireServer server;
  WebRequest(Text(server.Url("/one")));
  WebRequest(Text(server.Url("/two")));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].connection, requests[1].connection);
}

TEST_F(WebRequestTest, DoubleByteUrlIsSentAsEscapedUtf8) {
  WireServer server;
  const Text url = Text(server.Url("")) + "/曲目?名=值 x"_t;
  WebRequestParams params;
  EXPECT_EQ(Str(WebRequest(url, params)), "ok");
  EXPECT_EQ(server.Last().target, "/%E6%9B%B2%E7%9B%AE?%E5%90%8D=%E5%80%BC%20x");
  // The Referer carries the URL as the caller gave it.
  EXPECT_EQ(server.Last().Header("Referer"), url.str());
}

}  // namespace
}  // namespace ombrik
