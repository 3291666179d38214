// Hostile answers through the real window: the user sees the program's messages, the window
// keeps painting, and afterwards it lists and downloads a good album as if nothing happened.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "app/main_window.h"
#include "app/program_start.h"
#include "app/status_bar.h"
#include "catalogue/track_arrays.h"
#include "hostile_service.h"
#include "recording_dialogs.h"
#include "temp_dir.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

using testing::AnswerPage;
using testing::HostileService;
using testing::RecordingDialogs;
using testing::TempDir;

std::string Utf8(const QString& s) { return s.toStdString(); }

class HostileWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleaseTrackArrays();
    ProgramSettings settings;
    settings.apiOrigin = TextFromUtf8(service_.Origin());
    window_ = std::make_unique<MainWindow>(dialogs_, ProgramRunHandlers(settings));
    SetNetworkWaitHook([this] {
      ++waits_;
      window_->PumpIfDue();
    });
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    SetNetworkWaitHook({});
    window_.reset();
    ReleaseTrackArrays();
  }

  template <typename W = QWidget>
  W* Find(const char* name) const {
    return window_->findChild<W*>(QString::fromUtf8(name));
  }
  void Press(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  void Extract(const std::string& album) {
    Find<QLineEdit>("编辑框_URL")->setText(QString::fromStdString("https://www.example/album/" + album));
    Press("按钮_提取音频列表");
  }
  int Rows() const { return Find<QTableView>("超级列表框_音频列表")->model()->rowCount(); }
  std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (const auto& m : dialogs_.messages) texts.push_back(Utf8(m.text));
    dialogs_.messages.clear();
    return texts;
  }

  HostileService service_;
  RecordingDialogs dialogs_;
  std::unique_ptr<MainWindow> window_;
  std::atomic<int> waits_ = 0;
};

TEST_F(HostileWindow, StaysUsableAfterHostileAnswers) {
  const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
  service_.SetAlbum("deep", [deep](int, int) { return deep; });
  service_.SetAlbum("script", [](int, int) { return std::string(R"({"data":{"totalCount":1}};while(true){})"); });
  service_.SetAlbum("billion", [](int page, int size) {
    return size == 2 || page == 1 ? AnswerPage("1e9", {{"x", "x/1.wav"}}) : AnswerPage("1e9", {});
  });
  service_.SetFile("a.wav", "RIFF tone");
  service_.SetAlbum("good", [this](int, int) {
    return AnswerPage("2", {{"../第一首", service_.FileUrl("a.wav")}, {"/第二首", "file:///etc/hostname"}});
  });

  const std::string bad = "网页Json数据格式不正确！";
  for (const char* album : {"huge", "deep", "script"}) {
    SCOPED_TRACE(album);
    Extract(album);
    EXPECT_EQ(Boxes(), std::vector<std::string>{bad});
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Utf8(Find<QLabel>("列表标题")->text()), "音频列表（共个）:");
  }
  // A billion claimed tracks: the first page is listed as planned, the empty second one ends
  // the album; the window painted while it waited.
  waits_ = 0;
  Extract("billion");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Rows(), 100);
  EXPECT_GT(waits_.load(), 0);

  // Afterwards the window lists and downloads a good album as usual.
  Extract("good");
  EXPECT_TRUE(Boxes().empty());
  ASSERT_EQ(Rows(), 2);
  TempDir root;
  const std::filesystem::path music = root.path() / "music";
  std::filesystem::create_directory(music);
  Find<QLineEdit>("编辑框_下载目录")->setText(QString::fromStdString(music.string()));
  Press("按钮_下载");
  const std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], music.string() + "/1第二首.hostname  下载失败！\r\nfile:///etc/hostname");
  EXPECT_EQ(boxes[1], "全部完成！");
  EXPECT_EQ(testing::ReadFile((music / "2第一首.wav").string()), "RIFF tone");
  EXPECT_EQ(root.Entries(), std::vector<std::string>{"music"});
  std::set<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(music)) entries.insert(e.path().filename().string());
  EXPECT_EQ(entries, std::set<std::string>{"2第一首.wav"});
  EXPECT_EQ(Utf8(Find<StatusBar>("状态条1")->PartText(0)), "  1 项下载完毕");
  for (const char* name : {"按钮_下载", "编辑框_下载目录", "按钮_提取音频列表", "编辑框_URL", "按钮_浏览下载目录"}) {
    EXPECT_TRUE(Find(name)->isEnabled()) << name;
  }
}

}  // namespace
}  // namespace ombrik

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
