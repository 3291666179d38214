// "提取音频列表" in the real window against the loopback album service: the requests, the
// list widget's rows, the caption, the boxes, and painting while the service is slow.
#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <array>
#include <cstdio>

#include "album_window.h"
#include "text/text.h"

namespace ombrik {
namespace {

namespace svc = albumservice;
using testing::AlbumWindowTest;
using testing::ExtractionRequests;
using testing::RecordingDialogs;

const std::string kAlbumPage = "https://www.ombrik-demo.example/album/";
const std::string kBadPage = "网页Json数据格式不正确！";

class ExtractionWindow : public AlbumWindowTest {
 protected:
  // Empty when the list rows and the shared arrays hold the same texts, else the first
  // difference.
  std::string RowsDifferFromArrays() const {
    if (TrackTitles.Size() != Rows() || TrackPlayPaths.Size() != Rows()) {
      return "arrays hold " + std::to_string(TrackTitles.Size()) + "/" + std::to_string(TrackPlayPaths.Size()) +
             ", list " + std::to_string(Rows());
    }
    for (int r = 0; r < Rows(); ++r) {
      if (Cell(r, 1) != TextToUtf8(TrackTitles.At(r + 1)) || Cell(r, 2) != TextToUtf8(TrackPlayPaths.At(r + 1))) {
        return "row " + std::to_string(r);
      }
    }
    return {};
  }
};

struct ListCase {
  const char* what;
  std::string album;
  std::string link;
  int total;                               // the count the service claims; rows are numbered from it down
  int served;                              // tracks the service really has
  std::vector<std::pair<int, int>> shown;  // the album's tracks the rows show, in order
  int pages;
  int badPageBoxes;
};

TEST_F(ExtractionWindow, ListsAlbumsPageByPage) {
  const ListCase cases[] = {
      {"250 tracks", "1000250", kAlbumPage + "1000250", 250, 250, {{1, 250}}, 3, 0},
      {"200 tracks: the last page is asked for and empty",
       "1000200",
       kAlbumPage + "1000200",
       200,
       200,
       {{1, 200}},
       3,
       0},
      {"page 2 is not JSON", "3000002", kAlbumPage + "3000002", 250, 250, {{1, 100}, {201, 250}}, 3, 1},
      {"the last page holds 40 of 50 planned tracks", "3000003", kAlbumPage + "3000003", 150, 140, {{1, 150}}, 2, 0},
      {"a link with a query and a fragment",
       "1000005",
       kAlbumPage + "1000005/?albumId=1000250&from=share#top",
       5,
       5,
       {{1, 5}},
       1,
       0},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.what);
    service_->ClearRequests();
    dialogs_.messages.clear();
    Extract(c.link);

    // The probe first; the pages are fetched several at once, so they arrive in any order.
    auto got = Targets();
    auto want = ExtractionRequests(c.album, c.pages);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], want[0]);
    std::sort(got.begin() + 1, got.end());
    std::sort(want.begin() + 1, want.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(Caption(), "音频列表（共" + std::to_string(c.total) + "个）:");
    ASSERT_EQ(dialogs_.messages.size(), static_cast<std::size_t>(c.badPageBoxes));
    for (const auto& box : dialogs_.messages) {
      EXPECT_EQ(testing::Utf8(box.text), kBadPage);
      EXPECT_EQ(testing::Utf8(box.title), "信息");
      EXPECT_EQ(box.icon, MessageIcon::Error);
    }

    std::vector<std::array<std::string, 3>> expected;
    for (const auto& [first, last] : c.shown) {
      for (int t = first; t <= last; ++t) {
        const bool there = t <= c.served;
        expected.push_back({std::to_string(c.total + 1 - t), there ? "第" + std::to_string(t) + "首" : "",
                            there ? service_->Origin() + "/audio/" + c.album + "/" + std::to_string(t) + ".wav" : ""});
      }
    }
    ASSERT_EQ(Rows(), static_cast<int>(expected.size()));
    for (int r = 0; r < Rows(); ++r) {
      const std::array<std::string, 3> shown{Cell(r, 0), Cell(r, 1), Cell(r, 2)};
      ASSERT_EQ(shown, expected[static_cast<std::size_t>(r)]) << "row " << r;
    }
    EXPECT_EQ(RowsDifferFromArrays(), "");
  }
}

TEST_F(ExtractionWindow, TitlesAreShownAsDecodedInCodePage936) {
  Extract(kAlbumPage + "2000001");
  const std::pair<int, std::string> titles[] = {
      {0, "A B 混音版"},  // '+' becomes a space
      {1, "100%纯音乐"},  // "%纯" is no escape and stays
      {3, "他说\"你好\""},
      {4, "??? ??"},                 // Hangul is not in code page 936
      {5, "? 音符之歌"},             // nor is the emoji
      {6, "上/下：A\\B*C?D<E>F|G"},  // the list shows titles uncleaned
      {7, "春　天"},
  };
  ASSERT_EQ(Rows(), 8);
  for (const auto& [row, title] : titles) EXPECT_EQ(Cell(row, 1), title) << "row " << row;
  EXPECT_EQ(RowsDifferFromArrays(), "");
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(ExtractionWindow, PressingAgainGivesOneListAndAnEmptyLinkEmptiesIt) {
  Extract(kAlbumPage + "1000005");
  Press("按钮_提取音频列表");
  ASSERT_EQ(Rows(), 5);
  EXPECT_EQ(Cell(0, 0), "5");
  EXPECT_EQ(Cell(4, 0), "1");
  EXPECT_EQ(RowsDifferFromArrays(), "");
  const std::vector<std::string> once = ExtractionRequests("1000005", 1);
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(Targets(), twice);

  for (const char* link : {"", "///"}) {
    SCOPED_TRACE(std::string("link '") + link + "'");
    Extract(kAlbumPage + "1000005");
    service_->ClearRequests();
    dialogs_.messages.clear();
    Extract(link);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(TrackTitles.Size(), 0);
    EXPECT_EQ(TrackPlayPaths.Size(), 0);
    EXPECT_TRUE(Targets().empty());
    EXPECT_EQ(Caption(), "音频列表（共5个）:") << "the caption keeps the last count";
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(testing::Utf8(dialogs_.messages[0].text), "专辑链接为空 或 专辑未找到！");
    EXPECT_EQ(testing::Utf8(dialogs_.messages[0].title), "错误");
    EXPECT_EQ(dialogs_.messages[0].icon, MessageIcon::Error);
  }
}

TEST_F(ExtractionWindow, AnUnreachableServiceShowsOneBoxAndAnEmptyList) {
  Extract(kAlbumPage + "1000005");
  ASSERT_EQ(Rows(), 5);
  int port;
  {
    svc::AlbumService gone({});
    port = gone.Port();
  }
  settings_.apiOrigin = TextFromUtf8("https://127.0.0.1:" + std::to_string(port));
  Extract(kAlbumPage + "1000250");
  EXPECT_EQ(Caption(), "音频列表（共个）:");
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(TrackTitles.Size(), 0);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(testing::Utf8(dialogs_.messages[0].text), kBadPage);
  EXPECT_EQ(dialogs_.messages[0].icon, MessageIcon::Error);
}

TEST_F(ExtractionWindow, AServiceWhoseCertificateIsNotTrustedIsNotRead) {
  settings_.network.caPem.clear();
  Extract(kAlbumPage + "1000005");
  EXPECT_EQ(Caption(), "音频列表（共个）:");
  EXPECT_EQ(Rows(), 0);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(testing::Utf8(dialogs_.messages[0].text), kBadPage);
  // The user's explicit choice reads it all the same.
  dialogs_.messages.clear();
  settings_.network.verifyCertificates = false;
  Extract(kAlbumPage + "1000005");
  EXPECT_EQ(Rows(), 5);
  EXPECT_TRUE(dialogs_.messages.empty());
}

// The demo album as the window opens with it, saved for a person to look at.
TEST_F(ExtractionWindow, DemoAlbumPicture) {
  Press("按钮_提取音频列表");  // the link the window starts with
  ASSERT_EQ(Rows(), 36);
  EXPECT_EQ(Caption(), "音频列表（共36个）:");
  EXPECT_EQ(Cell(0, 0), "36");
  EXPECT_EQ(Cell(0, 1), "第01集 春江花月夜");
  QApplication::processEvents();

  const QString dir = qEnvironmentVariableIsSet("OMBRIK_SCREENSHOT_DIR") ? qEnvironmentVariable("OMBRIK_SCREENSHOT_DIR")
                                                                         : QStringLiteral(OMBRIK_TEST_OUTPUT_DIR);
  const QString path = QDir(dir).filePath(QStringLiteral("ombrik-demo-album.png"));
  const QImage image = window_->grab().toImage();
  ASSERT_TRUE(image.save(path, "PNG")) << path.toStdString();
  ASSERT_FALSE(QImage(path).isNull());
  std::printf("window picture: %s\n", path.toLocal8Bit().constData());
}

// The program as it runs, with a service that takes a while for every answer: the window
// repaints while the run waits on the network, not only after it.
TEST(ExtractionPainting, TheWindowPaintsWhileASlowServiceAnswers) {
  svc::ServiceOptions options;
  options.slowAlbumDelay = std::chrono::milliseconds(600);
  svc::AlbumService slow(options);
  ProgramSettings settings;
  settings.apiOrigin = TextFromUtf8(slow.Origin());
  settings.network.caPem = slow.CertificatePem();

  RecordingDialogs dialogs;
  StartOptions start;
  start.dialogs = &dialogs;
  start.handlers = ProgramRunHandlers(settings);
  int paintsWhileWaiting = 0;
  int rows = -1;
  QTimer::singleShot(0, [&] {
    MainWindow* window = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* m = dynamic_cast<MainWindow*>(w)) window = m;
    }
    ASSERT_NE(window, nullptr);
    auto* list = window->findChild<QTableView*>("超级列表框_音频列表");
    // Something asks for a repaint all the time, as a window being uncovered or moved does.
    QTimer dirty;
    QObject::connect(&dirty, &QTimer::timeout, list->viewport(), [list] { list->viewport()->update(); });
    dirty.start(20);
    struct PaintWatch : QObject {
      std::function<void()> onPaint;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) onPaint();
        return false;
      }
    } watch;
    watch.onPaint = [&] {
      if (slow.DelayedAnswers() > 0) ++paintsWhileWaiting;
    };
    list->viewport()->installEventFilter(&watch);

    window->findChild<QLineEdit*>("编辑框_URL")->setText(QString::fromStdString(kAlbumPage + "3000004"));
    window->findChild<QPushButton*>("按钮_提取音频列表")->click();
    rows = window->RowCount();
    list->viewport()->removeEventFilter(&watch);
    window->close();
  });
  EXPECT_EQ(RunProgram(*qApp, std::move(start)), 0);

  EXPECT_EQ(rows, 5);
  EXPECT_EQ(slow.Requests().size(), 2u);
  // Two answers of 600 ms each; a pump every 40 ms gives far more than this.
  EXPECT_GE(paintsWhileWaiting, 4) << "the list was not repainted while the service was slow";
}

}  // namespace
}  // namespace ombrik
