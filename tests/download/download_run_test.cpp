#include "download/download_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "album_service/album_service.h"
#include "catalogue/extraction.h"
#include "catalogue/track_arrays.h"
#include "recording_window.h"
#include "run_options.h"
#include "temp_dir.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

namespace svc = albumservice;
using testing::ReadFile;
using testing::RecordingWindow;
using testing::TempDir;

const std::vector<std::pair<Control, bool>> kDisableThenEnable = {
    {Control::按钮_下载, false},       {Control::编辑框_下载目录, false},   {Control::按钮_提取音频列表, false},
    {Control::编辑框_URL, false},      {Control::按钮_浏览下载目录, false}, {Control::按钮_下载, true},
    {Control::编辑框_下载目录, true},  {Control::按钮_提取音频列表, true},  {Control::编辑框_URL, true},
    {Control::按钮_浏览下载目录, true}};

class DownloadRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new svc::AlbumService(svc::ServiceOptions{}); }
  static void TearDownTestSuite() { delete service_; }
  void SetUp() override { ReleaseTrackArrays(); }
  static DownloadRunOptions Options() { return testing::DownloadTrusting(service_->CertificatePem()); }

  // Extracts the album into the window, then downloads it into `folder`.
  void Run(const std::string& album, const std::string& folder) {
    window_.edits[Control::编辑框_URL] = TextFromUtf8(album);
    OnExtractTrackList(window_, testing::ExtractionReaching(service_->Origin(), service_->CertificatePem()));
    window_.edits[Control::编辑框_下载目录] = TextFromUtf8(folder);
    window_.enableCalls.clear();
    OnDownloadAll(window_, Options());
  }

  static svc::AlbumService* service_;
  RecordingWindow window_;
  TempDir dir_;
};
svc::AlbumService* DownloadRun::service_ = nullptr;

TEST_F(DownloadRun, FetchesEveryTrackUnderItsNumberAndCleanedTitle) {
  Run("6000004", dir_.path().string());
  EXPECT_EQ(dir_.Entries(),
            (std::vector<std::string>{"1曲目4正常.wav", "2曲目3正常.wav", "3曲目2正常.wav", "4曲目1正常.wav"}));
  EXPECT_EQ(ReadFile(dir_ / "4曲目1正常.wav").substr(0, 4), "RIFF");
  EXPECT_EQ(window_.progressHistory, (std::vector<int>{0, 25, 50, 75, 100}));
  EXPECT_TRUE(window_.progressVisible);
  ASSERT_EQ(window_.statusHistory.size(), 5u);
  EXPECT_EQ(window_.statusHistory[0], "正在下载 1 " + (dir_ / "4曲目1正常.wav"));
  EXPECT_EQ(window_.statusHistory[4], "  4 项下载完毕");
  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].text, "全部完成！");
  EXPECT_EQ(window_.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(window_.enableCalls, kDisableThenEnable);
}

TEST_F(DownloadRun, AFailedTrackIsReportedAndTheRunGoesOn) {
  Run("6000024", dir_.path().string());
  EXPECT_EQ(window_.progressHistory, (std::vector<int>{0, 25, 75, 100}));
  ASSERT_EQ(window_.messages.size(), 2u);
  EXPECT_EQ(window_.messages[0].text,
            (dir_ / "3曲目2不存在.wav") + "  下载失败！\r\n" + service_->Origin() + "/fault/404/6000024/2.wav");
  EXPECT_EQ(window_.messages[0].title, "");
  EXPECT_EQ(window_.messages[0].icon, MessageIcon::Error);
  EXPECT_EQ(window_.status, "  3 项下载完毕"_t);
  EXPECT_EQ(dir_.Entries().size(), 3u);
}

TEST_F(DownloadRun, RunsThatCannotStart) {
  {
    SCOPED_TRACE("empty folder text");
    Run("6000004", "");
    ASSERT_EQ(window_.messages.size(), 1u);
    EXPECT_EQ(window_.messages[0].text, "下载目录为空！");
    EXPECT_EQ(window_.messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(window_.progressVisible);
    EXPECT_EQ(window_.status, "   下载中断，请检查下载目录是否正确！！"_t);
    EXPECT_EQ(window_.enableCalls, kDisableThenEnable);
  }
  {
    SCOPED_TRACE("empty list");
    RecordingWindow window;
    ReleaseTrackArrays();
    window.edits[Control::编辑框_下载目录] = TextFromUtf8(dir_.path().string());
    OnDownloadAll(window, Options());
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(window.status, "   下载中断，请检查下载目录是否正确！！"_t);
  }
}

TEST_F(DownloadRun, AMissingFolderFailsEveryTrackButCompletesTheRun) {
  Run("6000044", dir_ / "missing");
  ASSERT_EQ(window_.messages.size(), 5u);
  EXPECT_EQ(window_.messages[4].text, "全部完成！");
  EXPECT_EQ(window_.status, "  0 项下载完毕"_t);
  EXPECT_EQ(window_.progressHistory, std::vector<int>{0});
  EXPECT_TRUE(dir_.Entries().empty());
}

}  // namespace
}  // namespace ombrik
