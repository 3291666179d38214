#include "album_service/album_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <mutex>
#include <stdexcept>

#include "album_service/albums.h"
#include "album_service/wav_tone.h"

namespace ombrik::albumservice {
namespace {

using namespace std::chrono_literals;

constexpr const char* kProbe =
    "/m-revision/common/album/queryAlbumTrackRecordsByPage?albumId=3921767&page=1&pageSize=2&asc=true";

std::unique_ptr<httplib::Client> ClientFor(const AlbumService& service) {
  auto client = std::make_unique<httplib::Client>(service.Origin());
  client->enable_server_certificate_verification(false);
  client->set_read_timeout(2s);
  return client;
}

std::string Tone(const std::string& album, int n, int version = 0) {
  return MakeWavTone(ToneFor(album, n, version));
}

class BothSchemes : public testing::TestWithParam<Scheme> {};

TEST_P(BothSchemes, PagesAndTheFilesTheyName) {
  AlbumService service({.scheme = GetParam()});
  EXPECT_TRUE(service.Origin().starts_with(GetParam() == Scheme::Https ? "https://127.0.0.1:" : "http://127.0.0.1:"));
  auto client = ClientFor(service);

  const auto page = client->Get(kProbe);
  ASSERT_TRUE(page) << httplib::to_string(page.error());
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body, AnswerPage({"3921767", "1", "2", "true"}, service.Origin()).body);
  EXPECT_NE(page->body.find("\"playPath\":\"" + service.Origin() + "/audio/3921767/1.wav\""), std::string::npos);

  const auto file = client->Get("/audio/3921767/1.wav");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->status, 200);
  EXPECT_EQ(file->get_header_value("Content-Type"), "audio/wav");
  EXPECT_EQ(file->get_header_value("Content-Length"), std::to_string(file->body.size()));
  EXPECT_EQ(file->body, Tone("3921767", 1));
  // Any extension names the same tone; a track past the album's end does not exist.
  EXPECT_EQ(client->Get("/audio/3921767/1.m4a")->body, file->body);
  EXPECT_EQ(client->Get("/audio/3921767/37.wav")->status, 404);
  EXPECT_EQ(client->Get("/audio/123/1.wav")->status, 404);
  EXPECT_EQ(client->Get("/somewhere/else")->status, 404);
}

TEST_P(BothSchemes, FaultModesNeverGiveAClientAWholeFile) {
  AlbumService service({.scheme = GetParam(), .stallFor = 10s});
  auto client = ClientFor(service);
  client->set_read_timeout(500ms);

  for (const char* mode : {"drop", "short", "chunked-drop", "stall"}) {
    SCOPED_TRACE(mode);
    const auto result = client->Get(std::string{"/fault/"} + mode + "/6000099/1.wav");
    EXPECT_FALSE(result) << result->status;
  }
  EXPECT_EQ(client->Get("/fault/404/6000099/1.wav")->status, 404);
  EXPECT_EQ(client->Get("/fault/500/6000099/1.wav")->status, 500);

  client->set_follow_location(true);
  const auto redirected = client->Get("/fault/redirect/6000099/2.wav");
  ASSERT_TRUE(redirected);
  EXPECT_EQ(redirected->status, 200);
  EXPECT_EQ(redirected->body, Tone("6000099", 2));
}

INSTANTIATE_TEST_SUITE_P(Service, BothSchemes, testing::Values(Scheme::Http, Scheme::Https),
                         [](const auto& info) { return info.param == Scheme::Http ? "Http" : "Https"; });

// What a plain HTTP/1.1 client sees on the wire.
struct Wire {
  std::string head;
  std::string body;
  bool closed = false;  // the service closed the connection (rather than going quiet)
};

Wire RawGet(int port, const std::string& target, std::chrono::milliseconds quiet = 1s) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    throw std::runtime_error("connect failed");
  }
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    close(fd);
    throw std::runtime_error("send failed");
  }
  Wire wire;
  std::string all;
  pollfd waiting{fd, POLLIN, 0};
  char buffer[4096];
  while (poll(&waiting, 1, static_cast<int>(quiet.count())) == 1) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      wire.closed = true;
      break;
    }
    all.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  const auto end = all.find("\r\n\r\n");
  wire.head = all.substr(0, end);
  if (end != std::string::npos) wire.body = all.substr(end + 4);
  return wire;
}

bool HasHeader(const Wire& wire, const std::string& line) {
  return wire.head.find("\r\n" + line + "\r\n") != std::string::npos || wire.head.ends_with("\r\n" + line);
}

TEST(AlbumServiceWire, FaultModesSendExactlyWhatTheyPromise) {
  AlbumService service({.scheme = Scheme::Http, .stallFor = 10s});
  const std::string tone = Tone("6000099", 1);
  const std::string length = "Content-Length: " + std::to_string(tone.size());

  const Wire whole = RawGet(service.Port(), "/audio/6000099/1.wav");
  EXPECT_TRUE(whole.head.starts_with("HTTP/1.1 200"));
  EXPECT_TRUE(HasHeader(whole, length));
  EXPECT_EQ(whole.body, tone);

  const Wire dropped = RawGet(service.Port(), "/fault/drop/6000099/1.wav");
  EXPECT_TRUE(HasHeader(dropped, length));
  EXPECT_TRUE(dropped.closed);
  EXPECT_EQ(dropped.body, tone.substr(0, tone.size() / 2));

  const Wire shortBody = RawGet(service.Port(), "/fault/short/6000099/1.wav");
  EXPECT_TRUE(HasHeader(shortBody, "Content-Length: " + std::to_string(tone.size() + 1000)));
  EXPECT_TRUE(shortBody.closed);
  EXPECT_EQ(shortBody.body, tone);

  const Wire chunked = RawGet(service.Port(), "/fault/chunked-drop/6000099/1.wav");
  EXPECT_TRUE(HasHeader(chunked, "Transfer-Encoding: chunked"));
  EXPECT_TRUE(chunked.closed);
  const std::string half = tone.substr(0, tone.size() / 2);
  EXPECT_NE(chunked.body.find(half), std::string::npos);
  EXPECT_FALSE(chunked.body.ends_with("0\r\n\r\n"));

  const Wire stalled = RawGet(service.Port(), "/fault/stall/6000099/1.wav", 300ms);
  EXPECT_TRUE(stalled.head.starts_with("HTTP/1.1 200"));
  EXPECT_TRUE(HasHeader(stalled, length));
  EXPECT_TRUE(stalled.body.empty());
  EXPECT_FALSE(stalled.closed);

  const Wire redirect = RawGet(service.Port(), "/fault/redirect/6000099/2.wav");
  EXPECT_TRUE(redirect.head.starts_with("HTTP/1.1 302"));
  EXPECT_TRUE(HasHeader(redirect, "Location: " + service.Origin() + "/audio/6000099/2.wav"));

  const Wire missing = RawGet(service.Port(), "/fault/404/6000099/1.wav");
  EXPECT_TRUE(missing.head.starts_with("HTTP/1.1 404"));
  EXPECT_EQ(missing.body.find("RIFF"), std::string::npos);
}

TEST(AlbumServiceFiles, ServedBytesCanChangeBetweenFetches) {
  AlbumService service({.scheme = Scheme::Http});
  auto client = ClientFor(service);

  const auto first = client->Get("/fault/changing/6000099/9.wav")->body;
  const auto second = client->Get("/fault/changing/6000099/9.wav")->body;
  EXPECT_EQ(first, Tone("6000099", 9, 1));
  EXPECT_EQ(second, Tone("6000099", 9, 2));

  service.SetFile("/audio/6000004/1.wav", "new bytes");
  const auto replaced = client->Get("/audio/6000004/1.wav");
  EXPECT_EQ(replaced->body, "new bytes");
  EXPECT_EQ(replaced->get_header_value("Content-Length"), "9");
  service.ResetFile("/audio/6000004/1.wav");
  EXPECT_EQ(client->Get("/audio/6000004/1.wav")->body, Tone("6000004", 1));
}

TEST(AlbumServiceOptions, PlayOriginAndLoopbackOnly) {
  AlbumService elsewhere({.scheme = Scheme::Http, .playOrigin = "http://127.0.0.1:8080"});
  EXPECT_EQ(elsewhere.PlayOrigin(), "http://127.0.0.1:8080");
  const auto page = ClientFor(elsewhere)->Get(kProbe);
  EXPECT_NE(page->body.find("\"playPath\":\"http://127.0.0.1:8080/audio/3921767/1.wav\""), std::string::npos);
  const auto redirect = ClientFor(elsewhere)->Get("/fault/redirect/6000099/2.wav");
  EXPECT_EQ(redirect->get_header_value("Location"), "http://127.0.0.1:8080/audio/6000099/2.wav");

  for (const char* host : {"0.0.0.0", "192.0.2.1", "::", "localhost", ""}) {
    EXPECT_THROW(AlbumService({.scheme = Scheme::Http, .host = host}), std::runtime_error) << host;
  }
}

TEST(AlbumServiceOptions, ListensOnIpv6Loopback) {
  std::unique_ptr<AlbumService> service;
  try {
    service = std::make_unique<AlbumService>(ServiceOptions{.scheme = Scheme::Https, .host = "::1"});
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  EXPECT_EQ(service->Origin(), "https://[::1]:" + std::to_string(service->Port()));
  httplib::SSLClient client("::1", service->Port());
  client.enable_server_certificate_verification(false);
  const auto page = client.Get(kProbe);
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("https://[::1]:"), std::string::npos);
}

TEST(AlbumServiceLog, RecordsEveryRequestInOrder) {
  std::mutex mutex;
  std::vector<RequestRecord> seen;
  AlbumService service({.scheme = Scheme::Https, .onRequest = [&](const RequestRecord& r) {
                          std::lock_guard lock(mutex);
                          seen.push_back(r);
                        }});
  auto client = ClientFor(service);
  client->Get(kProbe);
  client->Get("/fault/404/6000024/2.wav");
  client->Get("/nothing?x=1");
  client->Head("/audio/6000004/1.wav");

  const std::vector<RequestRecord> expected{
      {"GET", kProbe, 200},
      {"GET", "/fault/404/6000024/2.wav", 404},
      {"GET", "/nothing?x=1", 404},
      {"HEAD", "/audio/6000004/1.wav", 200},
  };
  EXPECT_EQ(service.Requests(), expected);
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, expected);
  }
  EXPECT_EQ(FormatRequest(expected[1]), "GET /fault/404/6000024/2.wav 404");

  service.ClearRequests();
  EXPECT_TRUE(service.Requests().empty());
  client->Get("/m-revision/common/album/queryAlbumTrackRecordsByPage?albumId=1000005&page=1&pageSize=100&asc=true");
  ASSERT_EQ(service.Requests().size(), 1u);
  EXPECT_EQ(service.Requests()[0].target,
            "/m-revision/common/album/queryAlbumTrackRecordsByPage?albumId=1000005&page=1&pageSize=100&asc=true");
}

TEST(AlbumServiceStop, EndsStallsAndDelaysAtOnce) {
  // Both waits are far longer than the test may take; Stop must cut them short.
  AlbumService service({.scheme = Scheme::Http, .slowAlbumDelay = 600s, .stallFor = 600s});
  auto stalled = std::async(std::launch::async, [&] { return RawGet(service.Port(), "/fault/stall/6000099/8.wav", 600s); });
  auto slow = std::async(std::launch::async, [&] {
    return RawGet(service.Port(),
                  "/m-revision/common/album/queryAlbumTrackRecordsByPage?albumId=3000004&page=1&pageSize=2&asc=true", 600s);
  });
  // Stop only once both requests are being answered (a stall is logged when it starts).
  while (service.Requests().empty() || service.DelayedAnswers() == 0) std::this_thread::sleep_for(10ms);
  service.Stop();
  service.Stop();  // idempotent

  const Wire stall = stalled.get();
  EXPECT_TRUE(stall.closed);
  EXPECT_TRUE(stall.body.empty());
  const Wire answer = slow.get();
  EXPECT_TRUE(answer.closed);
  EXPECT_TRUE(answer.head.starts_with("HTTP/1.1 503")) << answer.head;
}

}  // namespace
}  // namespace ombrik::albumservice
