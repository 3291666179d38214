#include "album_service/album_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <ctime>
#include <future>
#include <map>
#include <mutex>
#include <set>
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

std::string Tone(const std::string& album, int n, int version = 0) { return MakeWavTone(ToneFor(album, n, version)); }

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
  // A cut file fails as a whole, and its second half comes as a range.
  EXPECT_FALSE(client->Get("/fault/cut/6000105/1.wav"));
  const std::string cutTone = Tone("6000105", 1);
  const auto rest =
      client->Get("/fault/cut/6000105/1.wav", {{"Range", "bytes=" + std::to_string(cutTone.size() / 2) + "-"}});
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->status, 206);
  EXPECT_EQ(rest->body, cutTone.substr(cutTone.size() / 2));
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

Wire RawGet(int port, const std::string& target, std::chrono::milliseconds quiet = 1s,
            const std::vector<std::string>& headers = {}) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    throw std::runtime_error("connect failed");
  }
  std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  for (const std::string& header : headers) request += header + "\r\n";
  request += "\r\n";
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

// The value of a header as the service writes it; empty when absent.
std::string HeaderOf(const Wire& wire, const std::string& name) {
  const std::string start = "\r\n" + name + ": ";
  const auto at = wire.head.find(start);
  if (at == std::string::npos) return {};
  const auto from = at + start.size();
  return wire.head.substr(from, wire.head.find("\r\n", from) - from);
}

int StatusOf(const Wire& wire) { return wire.head.size() > 12 ? std::stoi(wire.head.substr(9, 3)) : 0; }

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
  const auto replaced = client->Get("/audio/6000004/1.wav", {{"Range", "bytes=4-"}});
  EXPECT_EQ(replaced->status, 200);  // whole, whatever range was asked
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
  auto stalled =
      std::async(std::launch::async, [&] { return RawGet(service.Port(), "/fault/stall/6000099/8.wav", 600s); });
  auto slow = std::async(std::launch::async, [&] {
    return RawGet(service.Port(),
                  "/m-revision/common/album/queryAlbumTrackRecordsByPage?albumId=3000004&page=1&pageSize=2&asc=true",
                  600s);
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

TEST(AlbumServiceRanges, GoodFilesHonourRangeAndIfRange) {
  AlbumService service({.scheme = Scheme::Http});
  const std::string path = "/audio/6000004/2.wav";
  const std::string tone = Tone("6000004", 2);
  const std::string length = std::to_string(tone.size());
  const std::string last = std::to_string(tone.size() - 1);

  const Wire whole = RawGet(service.Port(), path);
  EXPECT_EQ(StatusOf(whole), 200);
  EXPECT_EQ(whole.body, tone);
  EXPECT_TRUE(HasHeader(whole, "Accept-Ranges: bytes"));
  EXPECT_TRUE(HasHeader(whole, "Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT"));
  const std::string etag = HeaderOf(whole, "ETag");
  EXPECT_EQ(etag.size(), 18u);
  EXPECT_TRUE(etag.starts_with('"') && etag.ends_with('"')) << etag;
  EXPECT_NE(HeaderOf(RawGet(service.Port(), "/audio/6000004/3.wav"), "ETag"), etag);

  struct Case {
    std::string range, ifRange;
    int status;
    std::string contentRange;  // empty: none
    std::string body;          // empty: not the tone's bytes
  };
  const Case cases[] = {
      {"bytes=100-", "", 206, "bytes 100-" + last + "/" + length, tone.substr(100)},
      {"bytes=100-199", "", 206, "bytes 100-199/" + length, tone.substr(100, 100)},
      {"bytes=100-99999999", "", 206, "bytes 100-" + last + "/" + length, tone.substr(100)},
      {"bytes=-10", "", 206, "bytes " + std::to_string(tone.size() - 10) + "-" + last + "/" + length,
       tone.substr(tone.size() - 10)},
      {"bytes=" + length + "-", "", 416, "bytes */" + length, ""},
      {"bytes=100-", etag, 206, "bytes 100-" + last + "/" + length, tone.substr(100)},
      {"bytes=100-", "Mon, 01 Jan 2024 00:00:00 GMT", 206, "bytes 100-" + last + "/" + length, tone.substr(100)},
      // A validator of another version, or a weak one, restarts the file.
      {"bytes=100-", "\"0123456789abcdef\"", 200, "", tone},
      {"bytes=100-", "W/" + etag, 200, "", tone},
      {"bytes=100-", "Tue, 02 Jan 2024 00:00:00 GMT", 200, "", tone},
      // Several ranges are not served: the whole file.
      {"bytes=0-1,5-6", "", 200, "", tone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range + " If-Range " + c.ifRange);
    std::vector<std::string> headers{"Range: " + c.range};
    if (!c.ifRange.empty()) headers.push_back("If-Range: " + c.ifRange);
    const Wire answer = RawGet(service.Port(), path, 1s, headers);
    EXPECT_EQ(StatusOf(answer), c.status);
    EXPECT_EQ(HeaderOf(answer, "Content-Range"), c.contentRange);
    EXPECT_EQ(HeaderOf(answer, "Content-Length"), std::to_string(answer.body.size()));
    if (c.body.empty()) {
      EXPECT_EQ(answer.body.find("RIFF"), std::string::npos);
    } else {
      EXPECT_EQ(answer.body, c.body);
    }
  }

  // The log holds the range as asked and the body bytes that went out.
  const auto records = service.Requests();
  ASSERT_EQ(records.size(), 2 + std::size(cases));
  EXPECT_EQ(records[0], (RequestRecord{"GET", path, 200}));
  EXPECT_EQ(records[0].bytesSent, tone.size());
  EXPECT_EQ(records[3], (RequestRecord{"GET", path, 206, "bytes=100-199"}));
  EXPECT_EQ(records[3].bytesSent, 100u);
  EXPECT_NE(records[3], (RequestRecord{"GET", path, 206}));
  EXPECT_EQ(FormatRequest(records[3]), "GET " + path + " 206 bytes=100-199");
}

TEST(AlbumServiceRanges, ResumeAndRetryModesAnswerEachFetchAsDocumented) {
  enum Body { FirstHalf, Rest, Whole, NoTone };
  struct Step {
    bool range;  // asks bytes=<half>- with If-Range: the ETag of the path's previous answer
    int status;
    Body body;
    int version = 0;              // the tone's version
    std::string retryAfter = "";  // "date": an HTTP date 1 to 2 s ahead
  };
  struct Case {
    std::string mode;
    int track;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases{
      {"cut", 1, {{false, 200, FirstHalf}, {true, 206, Rest}, {false, 200, FirstHalf}}},
      {"no-range", 2, {{false, 200, FirstHalf}, {true, 200, Whole}, {false, 200, Whole}}},
      {"range-416", 3, {{false, 200, FirstHalf}, {true, 416, NoTone}, {false, 200, Whole}}},
      {"new-etag",
       4,
       {{false, 200, FirstHalf, 1}, {true, 200, Whole, 2}, {true, 200, Whole, 3}, {false, 200, Whole, 4}}},
      {"bad-range", 5, {{false, 200, FirstHalf}, {true, 206, Whole}, {false, 200, Whole}}},
      {"429", 6, {{false, 429, NoTone, 0, "1"}, {false, 200, Whole}}},
      {"429-date", 7, {{false, 429, NoTone, 0, "date"}, {false, 200, Whole}}},
      {"503", 8, {{false, 503, NoTone}, {false, 200, Whole}, {true, 206, Rest}}},
      {"retry-long", 9, {{false, 429, NoTone, 0, "3600"}, {false, 429, NoTone, 0, "3600"}}},
  };
  AlbumService service({.scheme = Scheme::Http});
  for (const Case& c : cases) {
    const std::string path = "/fault/" + c.mode + "/6000105/" + std::to_string(c.track) + ".wav";
    std::string etag;
    std::set<std::string> etags, dates;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      SCOPED_TRACE(path + " fetch " + std::to_string(i + 1));
      const std::string tone = Tone("6000105", c.track, step.version);
      const std::size_t half = tone.size() / 2;
      std::vector<std::string> headers;
      if (step.range) headers = {"Range: bytes=" + std::to_string(half) + "-", "If-Range: " + etag};
      const std::time_t sentAt = std::time(nullptr);
      const Wire answer = RawGet(service.Port(), path, 1s, headers);
      const std::time_t receivedAt = std::time(nullptr);
      ASSERT_EQ(StatusOf(answer), step.status) << answer.head;

      const std::string length = std::to_string(tone.size());
      const std::map<Body, std::string> bodies{
          {FirstHalf, tone.substr(0, half)}, {Rest, tone.substr(half)}, {Whole, tone}};
      if (step.body == NoTone) {
        EXPECT_EQ(answer.body.find("RIFF"), std::string::npos);
      } else {
        EXPECT_EQ(answer.body, bodies.at(step.body));
        // A cut answer still announces the whole file.
        EXPECT_EQ(HeaderOf(answer, "Content-Length"),
                  std::to_string(step.body == Rest ? tone.size() - half : tone.size()));
        etag = HeaderOf(answer, "ETag");
        EXPECT_FALSE(etag.empty());
        etags.insert(etag);
        dates.insert(HeaderOf(answer, "Last-Modified"));
      }
      const std::string contentRange =
          step.status == 416   ? "bytes */" + length
          : step.status != 206 ? ""
          : step.body == Rest  ? "bytes " + std::to_string(half) + "-" + std::to_string(tone.size() - 1) + "/" + length
                               : "bytes 0-" + std::to_string(tone.size() - 1) + "/" + length;
      EXPECT_EQ(HeaderOf(answer, "Content-Range"), contentRange);

      const std::string retryAfter = HeaderOf(answer, "Retry-After");
      if (step.retryAfter == "date") {
        std::tm tm{};
        ASSERT_NE(strptime(retryAfter.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm), nullptr) << retryAfter;
        // Two whole seconds after the second the answer left in: 1 to 2 s ahead of it.
        EXPECT_GE(timegm(&tm), sentAt + 2) << retryAfter;
        EXPECT_LE(timegm(&tm), receivedAt + 2) << retryAfter;
      } else {
        EXPECT_EQ(retryAfter, step.retryAfter);
      }
    }
    // One version throughout, except where every fetch is a new one.
    const std::size_t versions = c.mode == "new-etag" ? c.steps.size() : (etags.empty() ? 0 : 1);
    EXPECT_EQ(etags.size(), versions) << c.mode;
    EXPECT_EQ(dates.size(), versions) << c.mode;
  }

  // The log counts what a cut answer really sent, not what it announced.
  const std::size_t half = Tone("6000105", 1).size() / 2;
  const auto records = service.Requests();
  ASSERT_GE(records.size(), 3u);
  const std::string cutPath = "/fault/cut/6000105/1.wav";
  EXPECT_EQ(records[0], (RequestRecord{"GET", cutPath, 200}));
  EXPECT_EQ(records[0].bytesSent, half);
  EXPECT_EQ(records[1], (RequestRecord{"GET", cutPath, 206, "bytes=" + std::to_string(half) + "-"}));
  EXPECT_EQ(records[1].bytesSent, Tone("6000105", 1).size() - half);

  // Counting starts over: the next fetch of each path is a first one again.
  service.ResetFetchCounts();
  EXPECT_EQ(StatusOf(RawGet(service.Port(), "/fault/503/6000105/8.wav")), 503);
  EXPECT_EQ(RawGet(service.Port(), "/fault/new-etag/6000105/4.wav").body, Tone("6000105", 4, 1).substr(0, half));
}

TEST(AlbumServiceRanges, OlderFaultModesIgnoreRangeAndSendNoValidator) {
  AlbumService service({.scheme = Scheme::Http});
  for (const char* mode : {"drop", "short", "changing"}) {
    SCOPED_TRACE(mode);
    const Wire answer =
        RawGet(service.Port(), std::string{"/fault/"} + mode + "/6000099/1.wav", 1s, {"Range: bytes=100-"});
    EXPECT_EQ(StatusOf(answer), 200);
    EXPECT_TRUE(answer.body.starts_with("RIFF"));
    EXPECT_EQ(HeaderOf(answer, "ETag"), "");
    EXPECT_EQ(HeaderOf(answer, "Last-Modified"), "");
    EXPECT_EQ(HeaderOf(answer, "Content-Range"), "");
  }
}

TEST(AlbumServiceRanges, FileAnswersKeepToTheDelayAndTheRate) {
  // At 20000 bytes a second the 10000 bytes asked take at least half a second, after the delay;
  // a cut answer is paced too. Only lower bounds: the machine may be slower, never faster.
  AlbumService service({.scheme = Scheme::Http, .fileDelay = 200ms, .fileBytesPerSecond = 20'000});
  const auto timed = [&](const std::string& target, const std::vector<std::string>& headers) {
    const auto start = std::chrono::steady_clock::now();
    const Wire wire = RawGet(service.Port(), target, 5s, headers);
    return std::pair{wire, std::chrono::steady_clock::now() - start};
  };
  const auto [ranged, rangedTime] = timed("/audio/6000004/1.wav", {"Range: bytes=0-9999"});
  EXPECT_EQ(ranged.body, Tone("6000004", 1).substr(0, 10'000));
  EXPECT_GE(rangedTime, 700ms);
  const auto [cut, cutTime] = timed("/fault/cut/6000105/1.wav", {});
  EXPECT_EQ(cut.body.size(), Tone("6000105", 1).size() / 2);
  EXPECT_TRUE(cut.closed);
  EXPECT_GE(cutTime, 200ms + 16'000ms / 20);

  // Pages keep their own delay, which is none here.
  EXPECT_EQ(StatusOf(RawGet(service.Port(), kProbe)), 200);
  const auto records = service.Requests();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].bytesSent, 10'000u);
  EXPECT_EQ(records[1].bytesSent, Tone("6000105", 1).size() / 2);
}

TEST(AlbumServiceStop, EndsPacedBodiesAndFileDelaysAtOnce) {
  // One byte a second and a ten-minute delay: only Stop can end these answers in time.
  AlbumService paced({.scheme = Scheme::Http, .fileBytesPerSecond = 1});
  AlbumService delayed({.scheme = Scheme::Http, .fileDelay = 600s});
  auto slowBody = std::async(std::launch::async, [&] { return RawGet(paced.Port(), "/audio/6000004/1.wav", 600s); });
  auto slowStart = std::async(std::launch::async, [&] { return RawGet(delayed.Port(), "/audio/6000004/1.wav", 600s); });
  while (paced.Requests().empty() || delayed.DelayedAnswers() == 0) std::this_thread::sleep_for(10ms);
  paced.Stop();
  delayed.Stop();

  const Wire body = slowBody.get();
  EXPECT_TRUE(body.closed);
  EXPECT_TRUE(body.head.starts_with("HTTP/1.1 200"));
  EXPECT_LT(body.body.size(), 100u);
  EXPECT_EQ(paced.Requests()[0].bytesSent, body.body.size());
  const Wire start = slowStart.get();
  EXPECT_TRUE(start.closed);
  EXPECT_TRUE(start.head.starts_with("HTTP/1.1 503")) << start.head;
}

}  // namespace
}  // namespace ombrik::albumservice
