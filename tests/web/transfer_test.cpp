// The shared transfer on its own, as a file download uses it: its own write callback, the
// common settings, the time-outs.
#include "web/transfer.h"

#include <gtest/gtest.h>

#include <string>

#include "web/headers.h"
#include "web/network_wait.h"
#include "web/web_request.h"
#include "wire_server.h"

namespace ombrik {
namespace {

using testing::HttpResponse;
using testing::WireReply;
using testing::WireRequest;
using testing::WireServer;

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

class TransferTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetNetworkWaitHook({});
    ResetNetworkCancel();
  }
};

TEST_F(TransferTest, StreamsToTheCallersCallbackWithTheCommonSettings) {
  const std::string payload(200'000, 'x');
  WireServer server([&](const WireRequest& r) {
    if (r.target == "/old") return WireReply{HttpResponse(302, "Found", {"Location: /file"}, "")};
    return WireReply{HttpResponse(200, "OK", {}, payload)};
  });
  Transfer transfer;
  ASSERT_NE(transfer.handle(), nullptr);
  std::string received;
  curl_easy_setopt(transfer.handle(), CURLOPT_URL, server.Url("/old").c_str());
  curl_easy_setopt(transfer.handle(), CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(transfer.handle(), CURLOPT_WRITEDATA, &received);
  EXPECT_EQ(transfer.Perform(), CURLE_OK);
  EXPECT_EQ(received, payload);
  const WireRequest last = server.Last();
  EXPECT_EQ(last.target, "/file");
  EXPECT_EQ(last.Header("User-Agent"), kDefaultUserAgent);
  EXPECT_FALSE(last.HasHeader("Accept-Encoding"));
}

TEST_F(TransferTest, OnlyHttpAndHttpsAreEverRead) {
  Transfer direct;
  curl_easy_setopt(direct.handle(), CURLOPT_URL, "file:///etc/hostname");
  std::string received;
  curl_easy_setopt(direct.handle(), CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(direct.handle(), CURLOPT_WRITEDATA, &received);
  EXPECT_EQ(direct.Perform(), CURLE_UNSUPPORTED_PROTOCOL);
  EXPECT_TRUE(received.empty());

  // Nor through a redirect, whoever follows it.
  for (const char* target : {"file:///etc/hostname", "ftp://127.0.0.1:1/x", "gopher://x/"}) {
    SCOPED_TRACE(target);
    WireServer server([&](const WireRequest&) {
      return WireReply{HttpResponse(302, "Found", {std::string("Location: ") + target}, "redirect body")};
    });
    Transfer transfer;
    curl_easy_setopt(transfer.handle(), CURLOPT_URL, server.Url("/r").c_str());
    EXPECT_NE(transfer.Perform(), CURLE_OK);
    WebRequestParams params;
    const Bytes body = WebRequest(Text(server.Url("/r")), params);
    EXPECT_EQ(body.data().find("localhost"), std::string::npos);
    EXPECT_EQ(body.data().find('\n'), std::string::npos);
  }
}

TEST_F(TransferTest, HandshakeThatNeverEndsHitsTheConnectTimeout) {
  // The wire server accepts and then waits for a request line that a TLS client never sends.
  NetworkSettings settings;
  settings.connectTimeout = std::chrono::seconds(1);
  WireServer server;
  Transfer transfer(settings);
  const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/";
  curl_easy_setopt(transfer.handle(), CURLOPT_URL, url.c_str());
  EXPECT_EQ(transfer.Perform(), CURLE_OPERATION_TIMEDOUT);
}

TEST_F(TransferTest, CancelEndsAWaitingTransfer) {
  WireServer server([](const WireRequest&) { return WireReply{HttpResponse(200, "OK", {}, "never"), 0}; });
  // The window's hook runs while the transfer waits; a cancel asked for there ends it.
  SetNetworkWaitHook([] { RequestNetworkCancel(); });
  Transfer transfer;
  curl_easy_setopt(transfer.handle(), CURLOPT_URL, server.Url("/wait").c_str());
  EXPECT_EQ(transfer.Perform(), CURLE_ABORTED_BY_CALLBACK);
}

TEST_F(TransferTest, CookieStoreOnlyWhenAskedFor) {
  WireServer server([](const WireRequest& r) {
    std::vector<std::string> headers;
    if (r.target == "/jar/set") headers = {"Set-Cookie: t=1; path=/jar"};
    return WireReply{HttpResponse(200, "OK", headers, "ok")};
  });
  auto get = [&](const std::string& path, bool useStore) {
    Transfer transfer;
    if (useStore) transfer.UseCookieStore();
    std::string sink;
    curl_easy_setopt(transfer.handle(), CURLOPT_URL, server.Url(path).c_str());
    curl_easy_setopt(transfer.handle(), CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(transfer.handle(), CURLOPT_WRITEDATA, &sink);
    EXPECT_EQ(transfer.Perform(), CURLE_OK);
    return server.Last().Header("Cookie");
  };
  get("/jar/set", false);
  EXPECT_EQ(get("/jar/check", true), "");
  get("/jar/set", true);
  EXPECT_EQ(get("/jar/check", false), "");
  EXPECT_EQ(get("/jar/check", true), "t=1");
}

}  // namespace
}  // namespace ombrik
