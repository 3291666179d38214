#include "catalogue/extraction.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include <cstdlib>
#include <string>
#include <vector>

#include "album_service/album_service.h"
#include "catalogue/track_arrays.h"
#include "recording_window.h"
#include "run_options.h"
#include "text/text_ops.h"

namespace ombrik {
namespace {

namespace svc = albumservice;
using testing::RecordingWindow;

const std::string kService = "/m-revision/common/album/queryAlbumTrackRecordsByPage";

std::string PageQuery(const std::string& album, int page, int size) {
  return kService + "?albumId=" + album + "&page=" + std::to_string(page) + "&pageSize=" + std::to_string(size) +
         "&asc=true";
}

// One album service over HTTPS for the whole suite; each test clears its log.
class Extraction : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new svc::AlbumService(svc::ServiceOptions{}); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  void SetUp() override {
    origin_ = service_->Origin();
    service_->ClearRequests();
    ReleaseTrackArrays();
  }

  RecordingWindow Extract(const std::string& link) {
    RecordingWindow window;
    window.edits[Control::编辑框_URL] = TextFromUtf8(link);
    OnExtractTrackList(window, testing::ExtractionReaching(origin_, service_->CertificatePem()));
    return window;
  }

  std::string origin_;

  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    for (const auto& r : service_->Requests()) targets.push_back(r.target);
    return targets;
  }

  // The invariant between the shared arrays and the list.
  static void ExpectArraysMatchRows(const RecordingWindow& window) {
    ASSERT_EQ(TrackTitles.Size(), static_cast<int>(window.rows.size()));
    ASSERT_EQ(TrackPlayPaths.Size(), static_cast<int>(window.rows.size()));
    for (std::size_t r = 0; r < window.rows.size(); ++r) {
      EXPECT_EQ(window.rows[r][1], TrackTitles.At(static_cast<int>(r) + 1));
      EXPECT_EQ(window.rows[r][2], TrackPlayPaths.At(static_cast<int>(r) + 1));
    }
  }

  static svc::AlbumService* service_;
};
svc::AlbumService* Extraction::service_ = nullptr;

TEST_F(Extraction, PagesThroughAnAlbumAndNumbersRowsDownward) {
  struct Case {
    std::string album;
    int rows;
    int pages;
  } cases[] = {{"1000250", 250, 3}, {"1000200", 200, 3}, {"1000100", 100, 2}, {"1000005", 5, 1}, {"1000000", 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.album);
    service_->ClearRequests();
    RecordingWindow window = Extract("https://www.ombrik-demo.example/album/" + c.album);
    std::vector<std::string> expected{PageQuery(c.album, 1, 2)};
    for (int p = 1; p <= c.pages; ++p) expected.push_back(PageQuery(c.album, p, 100));
    // The probe first; the pages are fetched several at once, so they arrive in any order.
    std::vector<std::string> got = Targets();
    ASSERT_FALSE(got.empty());
    std::sort(got.begin() + 1, got.end());
    std::sort(expected.begin() + 1, expected.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(TextToUtf8(window.caption), "音频列表（共" + std::to_string(c.rows) + "个）:");
    ASSERT_EQ(window.rows.size(), static_cast<std::size_t>(c.rows));
    for (int r = 0; r < c.rows; ++r) {
      EXPECT_EQ(window.Row(r)[0], std::to_string(c.rows - r));
    }
    if (c.rows > 0) {
      EXPECT_EQ(window.Row(0)[1], "第1首");
      EXPECT_EQ(window.Row(0)[2], service_->Origin() + "/audio/" + c.album + "/1.wav");
      EXPECT_EQ(window.Row(c.rows - 1)[1], "第" + std::to_string(c.rows) + "首");
    }
    EXPECT_TRUE(window.messages.empty());
    ExpectArraysMatchRows(window);
  }
}

TEST_F(Extraction, TitlesPassThroughPercentDecodingAndCodePage936) {
  RecordingWindow window = Extract("2000001");
  ASSERT_EQ(window.rows.size(), 8u);
  EXPECT_EQ(window.Row(0)[1], "A B 混音版");  // '+' becomes a space
  EXPECT_EQ(window.Row(1)[1], "100%纯音乐");  // "%纯" is no escape
  EXPECT_EQ(window.Row(2)[1], "AB");          // "%41%42" is decoded
  EXPECT_EQ(window.Row(3)[1], "他说\"你好\"");
  EXPECT_EQ(window.Row(4)[1], "??? ??");      // Hangul is not in code page 936
  EXPECT_EQ(window.Row(5)[1], "? 音符之歌");  // one emoji, one '?'
  EXPECT_EQ(window.Row(7)[1], "春　天");
  ExpectArraysMatchRows(window);
}

TEST_F(Extraction, APageBrokenByDecodingIsReadUndecoded) {
  RecordingWindow window = Extract("2000002");
  EXPECT_TRUE(window.messages.empty());
  ASSERT_EQ(window.rows.size(), 3u);
  EXPECT_EQ(window.Row(0)[1], "%22引号%22");
  EXPECT_EQ(window.Row(1)[1], "A+B");  // read undecoded, so the '+' stays
}

TEST_F(Extraction, LinkWithQueryAndRepeatedPressGiveOneList) {
  RecordingWindow window;
  window.edits[Control::编辑框_URL] = "https://www.ombrik-demo.example/album/1000005/?from=share#top";
  const ExtractionOptions options = testing::ExtractionReaching(origin_, service_->CertificatePem());
  OnExtractTrackList(window, options);
  OnExtractTrackList(window, options);
  EXPECT_EQ(window.rows.size(), 5u);
  ExpectArraysMatchRows(window);
  EXPECT_EQ(Targets().front(), PageQuery("1000005", 1, 2));
}

TEST_F(Extraction, EmptyLinkEmptiesTheListAndSaysSo) {
  RecordingWindow window = Extract("1000005");
  ASSERT_EQ(window.rows.size(), 5u);
  service_->ClearRequests();
  window.edits[Control::编辑框_URL] = "//";
  OnExtractTrackList(window, testing::ExtractionReaching(origin_, service_->CertificatePem()));
  EXPECT_TRUE(window.rows.empty());
  EXPECT_EQ(TrackTitles.Size(), 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "专辑链接为空 或 专辑未找到！");
  EXPECT_EQ(window.messages[0].title, "错误");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Error);
  EXPECT_TRUE(Targets().empty());
}

TEST_F(Extraction, BrokenPagesShortPagesAndUnknownAlbums) {
  {
    SCOPED_TRACE("page 2 is not JSON");
    RecordingWindow window = Extract("3000002");
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "网页Json数据格式不正确！");
    EXPECT_EQ(window.messages[0].title, "信息");
    ASSERT_EQ(window.rows.size(), 150u);
    EXPECT_EQ(window.Row(99)[0], "151");
    EXPECT_EQ(window.Row(100)[0], "50");  // page 3's rows follow page 1's
    ExpectArraysMatchRows(window);
  }
  {
    SCOPED_TRACE("last page holds fewer tracks than planned");
    RecordingWindow window = Extract("3000003");
    ASSERT_EQ(window.rows.size(), 150u);
    EXPECT_EQ(window.Row(139)[1], "第140首");
    EXPECT_EQ(window.Row(140)[0], "10");
    EXPECT_EQ(window.Row(140)[1], "");
    EXPECT_EQ(window.Row(149)[2], "");
    ExpectArraysMatchRows(window);
  }
  {
    SCOPED_TRACE("unknown album");
    service_->ClearRequests();
    RecordingWindow window = Extract("4040405");
    EXPECT_EQ(TextToUtf8(window.caption), "音频列表（共个）:");
    EXPECT_EQ(Targets().size(), 2u);
    EXPECT_TRUE(window.rows.empty());
    EXPECT_TRUE(window.messages.empty());
  }
}

TEST_F(Extraction, PagesAreFetchedAheadAndReadInOrder) {
  svc::ServiceOptions delayed;
  delayed.answerDelay = std::chrono::milliseconds(300);
  svc::AlbumService slow(delayed);
  std::vector<std::array<Text, 3>> inOrder;
  for (const int atOnce : {1, 4}) {
    SCOPED_TRACE(atOnce);
    ExtractionOptions options = testing::ExtractionReaching(slow.Origin(), slow.CertificatePem());
    options.pagesAtOnce = atOnce;
    RecordingWindow window;
    window.edits[Control::编辑框_URL] = TextFromUtf8("1000250");
    std::atomic<int> most = 0;
    std::atomic<bool> running = true;
    std::thread watch([&] {
      while (running) {
        most = std::max(most.load(), slow.DelayedAnswers());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    OnExtractTrackList(window, options);
    running = false;
    watch.join();
    EXPECT_EQ(most, atOnce == 1 ? 1 : 3);  // the album has three pages
    ASSERT_EQ(window.RowCount(), 250);
    EXPECT_EQ(window.Row(0), (std::array<std::string, 3>{"250", "第1首", slow.Origin() + "/audio/1000250/1.wav"}));
    EXPECT_EQ(window.Row(249)[0], "1");
    if (inOrder.empty()) {
      inOrder = window.rows;
    } else {
      EXPECT_EQ(window.rows, inOrder);
    }
  }
}

TEST_F(Extraction, UnreachableServiceShowsOneBoxAndAnEmptyList) {
  int port;
  {
    svc::AlbumService closed(svc::ServiceOptions{});
    port = closed.Port();
  }
  origin_ = "https://127.0.0.1:" + std::to_string(port);
  RecordingWindow window = Extract("1000250");
  EXPECT_EQ(TextToUtf8(window.caption), "音频列表（共个）:");
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "网页Json数据格式不正确！");
  EXPECT_TRUE(window.rows.empty());
}

}  // namespace
}  // namespace ombrik
