// Hostile album service answers through the real extraction and download runs: what the user
// sees, that the list stays consistent, that memory stays bounded and that nothing is written
// outside the chosen folder.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "catalogue/extraction.h"
#include "catalogue/track_arrays.h"
#include "download/download_run.h"
#include "hostile_service.h"
#include "recording_window.h"
#include "temp_dir.h"
#include "testsupport/loopback_server.h"
#include "text/text_ops.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

using testing::AnswerPage;
using testing::HostileService;
using testing::HostileTrack;
using testing::RecordingWindow;
using testing::TempDir;

const std::string kBadJson = "网页Json数据格式不正确！";

std::string Caption(const std::string& count) { return "音频列表（共" + count + "个）:"; }

class HostileAnswers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new HostileService; }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  void SetUp() override {
    ReleaseTrackArrays();
    service_->ClearRequests();
  }
  void TearDown() override { ReleaseTrackArrays(); }

  // Three seconds to connect and without a byte: a hang shows as a slow test, not a stuck one.
  static NetworkSettings Network() {
    NetworkSettings network;
    network.connectTimeout = network.stallTimeout = std::chrono::milliseconds(3000);
    return network;
  }

  static RecordingWindow Extract(const std::string& album) {
    RecordingWindow window;
    window.edits[Control::编辑框_URL] = TextFromUtf8("https://www.example/album/" + album);
    ExtractionOptions options;
    options.apiOrigin = TextFromUtf8(service_->Origin());
    options.network = Network();
    OnExtractTrackList(window, options);
    // Whatever came back, the shared arrays and the list agree.
    EXPECT_EQ(TrackTitles.Size(), window.RowCount());
    EXPECT_EQ(TrackPlayPaths.Size(), window.RowCount());
    return window;
  }

  static HostileService* service_;
};
HostileService* HostileAnswers::service_ = nullptr;

TEST_F(HostileAnswers, MalformedAndHostilePagesShowTheMessageAndNeverRunOrHang) {
  const std::vector<HostileTrack> three = {{"a", "x/1.wav"}, {"b", "x/2.wav"}, {"c", "x/3.wav"}};
  const std::string good = AnswerPage("3", three);
  const std::string deep =
      R"({"data":{"totalCount":3,"x":)" + std::string(100'000, '[') + std::string(100'000, ']') + "}}";
  std::string deepObjects = R"({"data":{"totalCount":3,"x":)";
  for (int i = 0; i < 100'000; ++i) deepObjects += R"({"a":)";
  deepObjects += "1" + std::string(100'000, '}') + "}}";
  struct Case {
    const char* what;
    std::string body;  // every answer of the album, probe included
    std::string caption;
    int rows;
    int messages;
  } cases[] = {
      {"arrays nested 100,000 deep", deep, Caption(""), 0, 1},
      {"objects nested 100,000 deep", deepObjects, Caption(""), 0, 1},
      {"nesting 100,000 deep inside a JSON string", "\"" + std::string(100'000, '[') + std::string(100'000, ']') + "\"",
       Caption(""), 0, 1},
      {"a script after the JSON", good + ";while(true){}", Caption(""), 0, 1},
      {"a string holding a script", R"("while(true){}")", Caption(""), 0, 1},
      {"a script assigning a global", "da = " + good, Caption(""), 0, 1},
      {"a JSON string holding a script that assigns", R"("pwned = {}")", Caption(""), 0, 1},
      {"a NUL byte inside", good.substr(0, 20) + std::string(1, '\0') + good.substr(20), Caption(""), 0, 1},
      {"a NUL byte after the JSON", good + std::string(1, '\0') + "<html>", Caption("3"), 3, 0},
      {"a byte order mark", "\xEF\xBB\xBF" + good, Caption("3"), 3, 0},
      {"invalid UTF-8 in a title", AnswerPage("1", {{"\xFF\xFE\xC0\xAFok", "x/1.wav"}}), Caption("1"), 1, 0},
      {"nothing at all", "", Caption(""), 0, 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string album = "m" + std::to_string(++n);
    service_->SetAlbum(album, [body = c.body](int, int) { return body; });
    RecordingWindow w = Extract(album);
    EXPECT_EQ(TextToUtf8(w.caption), c.caption);
    EXPECT_EQ(w.RowCount(), c.rows);
    ASSERT_EQ(static_cast<int>(w.messages.size()), c.messages);
    for (const auto& m : w.messages) {
      EXPECT_EQ(m.text, kBadJson);
      EXPECT_EQ(m.title, "信息");
      EXPECT_EQ(m.icon, MessageIcon::Error);
    }
  }
  // Invalid UTF-8 becomes the code page's default character, never raw bytes.
  service_->SetAlbum("utf8", [](int, int) { return AnswerPage("1", {{"\xFF\xFE\xC0\xAFok", "x/1.wav"}}); });
  EXPECT_EQ(Extract("utf8").Row(0)[1], "????ok");
}

TEST_F(HostileAnswers, A200MegabyteAnswerIsRefusedWithBoundedMemory) {
  const long before = testing::PeakRssMiB();
  RecordingWindow w = Extract("huge");
  const long grown = testing::PeakRssMiB() - before;
  EXPECT_EQ(TextToUtf8(w.caption), Caption(""));
  EXPECT_EQ(w.RowCount(), 0);
  ASSERT_EQ(w.messages.size(), 1u);
  EXPECT_EQ(w.messages[0].text, kBadJson);
  EXPECT_EQ(service_->Requests().size(), 2u);  // the probe and page 1
  // Held: at most the request engine's 16 MiB limit and its copies, not 200 MB.
  EXPECT_LT(grown, 150) << "peak resident memory grew by " << grown << " MiB";
}

TEST_F(HostileAnswers, OddTotalCountsPageSanely) {
  const std::vector<HostileTrack> three = {{"a", "x/1.wav"}, {"b", "x/2.wav"}, {"c", "x/3.wav"}};
  struct Case {
    const char* what;
    std::string total;  // as it stands in the JSON
    std::string caption;
    int requests;  // the probe included
    int rows;
  } cases[] = {
      {"negative", "-5", Caption("-5"), 2, 0},
      {"very negative", "-1000", Caption("-1000"), 1, 0},  // no page at all
      {"fractional", "2.5", Caption("2.5"), 2, 2},
      {"beyond every integer", "1e30", Caption("1e+30"), 1, 0},
      {"a string", R"("12")", Caption("12"), 2, 12},  // rows for missing entries stay empty
      {"missing", "", Caption(""), 2, 0},
      // A claim of a billion tracks: page 2 holds no entry, and that ends the album. Pages up
      // to 5 may have been asked for ahead of it; their answers are not read.
      {"huge but finite", "1e9", Caption("1000000000"), 3, 100},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string album = "t" + std::to_string(++n);
    const std::string first =
        c.total.empty() ? R"({"data":{"trackDetailInfos":[{"trackInfo":{"title":"a","playPath":"x/1.wav"}}]}})"
                        : AnswerPage(c.total, three);
    const std::string later = c.total.empty() ? first : AnswerPage(c.total, {});
    service_->SetAlbum(album, [=](int page, int size) { return page == 1 || size == 2 ? first : later; });
    service_->ClearRequests();
    RecordingWindow w = Extract(album);
    EXPECT_EQ(TextToUtf8(w.caption), c.caption);
    const int requests = static_cast<int>(service_->Requests().size());
    if (c.rows == 100) {
      EXPECT_GE(requests, c.requests);
      EXPECT_LE(requests, 6);
    } else {
      EXPECT_EQ(requests, c.requests);
    }
    EXPECT_EQ(w.RowCount(), c.rows);
    EXPECT_TRUE(w.messages.empty());
  }
}

TEST_F(HostileAnswers, AHugeCountOfUnreadablePagesStopsAtTheCap) {
  service_->SetAlbum(
      "flood", [](int, int size) { return size == 2 ? AnswerPage("1e9", {}) : std::string("<html>busy</html>"); });
  RecordingWindow w = Extract("flood");
  // 1000 pages of 100 tracks at most, each unreadable one reported once.
  EXPECT_EQ(service_->Requests().size(), 1001u);
  EXPECT_EQ(w.messages.size(), 1000u);
  EXPECT_EQ(w.RowCount(), 0);
}

// Titles and play addresses meant to break out of the folder, inject headers or read local
// files, through the extraction and then the download run.
TEST_F(HostileAnswers, TitlesAndPlayAddressesStayInsideTheChosenFolder) {
  const std::string tone = "RIFF----WAVEfmt ";
  service_->SetFile("a.wav", tone);
  service_->SetFile("my track.wav", tone);
  const std::string bare = service_->Origin().substr(std::string("http://").size());
  const std::string dead = "http://127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort()) + "/x.wav";
  const std::string a = service_->FileUrl("a.wav");
  const std::vector<HostileTrack> tracks = {
      {"../../escape", a},                               // 16
      {"€/etc/passwd", a},                               // 15: the euro sign is the one byte 0x80
      {R"(a\\b)", a},                                    // 14
      {R"(x\u0001\t\r\ny)", a},                          // 13
      {std::string(300, 'x'), a},                        // 12: too long for the file system: shortened
      {R"(./\\*|<>:?)", a},                              // 11: only removed characters
      {"", a},                                           // 10: 150 Chinese characters, below
      {"t", a + R"(\r\nX-Injected: 1)"},                 // 9
      {"t", service_->Origin() + "/file/my track.wav"},  // 8
      {"t", bare + "/file/a.wav"},                       // 7: no scheme
      {"t", "file:///etc/hostname"},                     // 6
      {"t", "ftp://127.0.0.1:1/x.wav"},                  // 5
      {"t", "gopher://127.0.0.1:1/x.wav"},               // 4
      {"t", "dict://127.0.0.1:1/x.wav"},                 // 3
      {"t", dead},                                       // 2: nothing listens
      {"t", a},                                          // 1
  };
  std::vector<HostileTrack> sent = tracks;
  sent[6].title.clear();
  for (int i = 0; i < 150; ++i) sent[6].title += "曲";  // 450 bytes of UTF-8 on disk
  service_->SetAlbum("names", [sent](int, int) { return AnswerPage("16", sent); });
  RecordingWindow w = Extract("names");
  ASSERT_EQ(w.RowCount(), 16);
  EXPECT_TRUE(w.messages.empty());

  TempDir root;
  const std::filesystem::path music = root.path() / "music";
  std::filesystem::create_directory(music);
  const std::string injectedName = "9t.wav\r\nX-Injected: 1";
  testing::WriteFile((music / injectedName).string(), "the user's file");
  // The character walk pairs 0x80 with the '/' after it; the file system would not.
  std::filesystem::create_directory(music / "15€");
  w.edits[Control::编辑框_下载目录] = TextFromUtf8(music.string());
  service_->ClearRequests();
  DownloadRunOptions download;
  download.fetch.network = Network();
  OnDownloadAll(w, download);

  EXPECT_TRUE(std::filesystem::is_empty(music / "15€"));
  std::filesystem::remove(music / "15€");
  // Too long for the file system's 255 bytes with ".part": the title gives way, whole
  // characters at a time; number and extension stay.
  std::string shortChinese = "10";
  for (int i = 0; i < 81; ++i) shortChinese += "曲";
  const std::set<std::string> written = {"16escape.wav",
                                         "15€etcpasswd.wav",
                                         "14ab.wav",
                                         "13x\x01\t\r\ny.wav",
                                         "12" + std::string(244, 'x') + ".wav",
                                         "11.wav",
                                         shortChinese + ".wav",
                                         "8t.wav",
                                         "7t.wav",
                                         "1t.wav",
                                         injectedName};
  std::set<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(music)) {
    EXPECT_TRUE(e.is_regular_file()) << e.path();
    entries.insert(e.path().filename().string());
  }
  EXPECT_EQ(entries, written);
  EXPECT_EQ(root.Entries(), std::vector<std::string>{"music"});
  for (const std::string& name : written) {
    if (name != injectedName) {
      EXPECT_EQ(testing::ReadFile((music / name).string()), tone) << name;
    }
  }
  EXPECT_EQ(testing::ReadFile((music / injectedName).string()), "the user's file");

  // One box per failed track, naming the path and the play address as listed.
  const std::vector<int> failedRows = {8, 11, 12, 13, 14, 15};  // 1-based list rows
  ASSERT_EQ(w.messages.size(), failedRows.size() + 1);
  for (std::size_t k = 0; k < failedRows.size(); ++k) {
    const int row = failedRows[k];
    EXPECT_NE(w.messages[k].text.find("  下载失败！\r\n" + TextToUtf8(TrackPlayPaths.At(row))), std::string::npos)
        << w.messages[k].text;
    EXPECT_EQ(w.messages[k].icon, MessageIcon::Error);
  }
  EXPECT_EQ(w.messages.back().text, "全部完成！");
  EXPECT_EQ(TextToUtf8(w.status), "  10 项下载完毕");

  // No request line or header was split by the CR LF of a play address.
  for (const std::string& target : service_->Requests()) {
    EXPECT_EQ(target.find_first_of("\r\n"), std::string::npos) << target;
  }
}

}  // namespace
}  // namespace ombrik
