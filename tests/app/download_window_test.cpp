// "下载" in the real window after a real extraction: the files on disk, the progress bar, the
// status bar, the boxes and the five controls, against the loopback album service.
#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QObject>
#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "album_service/albums.h"
#include "album_service/wav_tone.h"
#include "album_window.h"
#include "temp_dir.h"

namespace ombrik {
namespace {

namespace svc = albumservice;
using testing::AlbumWindowTest;
using testing::ReadFile;
using testing::TempDir;
using testing::Utf8;

std::vector<std::string> EntriesOf(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Types into an edit box: ASCII on the keyboard, Chinese through the input method.
void Type(QLineEdit* box, const QString& text) {
  for (const QChar ch : text) {
    if (ch.unicode() < 0x80) {
      QTest::keyClick(box, ch.toLatin1());
    } else {
      QInputMethodEvent commit;
      commit.setCommitString(QString(ch));
      QApplication::sendEvent(box, &commit);
    }
  }
}

const std::string kInterrupted = "   下载中断，请检查下载目录是否正确！！";

enum class Folder { Typed, Missing, Empty };

struct DownloadCase {
  const char* what;
  std::string album;
  Folder folder;
  std::vector<std::string> files;  // the file name of each row, in list order
  std::vector<int> failing;        // rows (1-based) whose fetch fails
  std::vector<int> progress;       // the progress bar's value changes
  std::string finalStatus;
};

// What the window shows at one moment of the run.
struct Moment {
  int progress;
  std::string status;
  std::vector<bool> controlsEnabled;
};

class DownloadWindow : public AlbumWindowTest {
 protected:
  // The five controls a download run disables, in its order.
  std::vector<bool> ControlsEnabled() const {
    std::vector<bool> enabled;
    for (const char* name : {"按钮_下载", "编辑框_下载目录", "按钮_提取音频列表", "编辑框_URL", "按钮_浏览下载目录"}) {
      enabled.push_back(Find(name)->isEnabled());
    }
    return enabled;
  }
  Moment Now() const { return {Find<QProgressBar>("进度条1")->value(), Status(), ControlsEnabled()}; }
};

TEST_F(DownloadWindow, DownloadsTheListedTracks) {
  const std::vector<std::string> good = {"4曲目1正常.wav", "3曲目2正常.wav", "2曲目3正常.wav", "1曲目4正常.wav"};
  const DownloadCase cases[] = {
      {"four good tracks", "6000004", Folder::Typed, good, {}, {25, 50, 75, 100}, "  4 项下载完毕"},
      {"the second track answers 404",
       "6000024",
       Folder::Typed,
       {"4曲目1正常.wav", "3曲目2不存在.wav", "2曲目3正常.wav", "1曲目4正常.wav"},
       {2},
       {25, 75, 100},
       "  3 项下载完毕"},
      {"every track answers 404",
       "6000044",
       Folder::Typed,
       {"4曲目1不存在.wav", "3曲目2不存在.wav", "2曲目3不存在.wav", "1曲目4不存在.wav"},
       {1, 2, 3, 4},
       {},
       "  0 项下载完毕"},
      {"a folder that does not exist", "6000004", Folder::Missing, good, {1, 2, 3, 4}, {}, "  0 项下载完毕"},
      {"an empty folder text", "6000004", Folder::Empty, good, {}, {}, kInterrupted},
      {"an empty list", "1000000", Folder::Typed, {}, {}, {}, kInterrupted},
  };
  for (const DownloadCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    OpenWindow();
    Extract("https://www.ombrik-demo.example/album/" + c.album);
    ASSERT_EQ(Rows(), static_cast<int>(c.files.size()));
    dialogs_.messages.clear();

    // Typed, with a space and Chinese in it: both must reach the file system unchanged.
    const std::filesystem::path typed = tmp.path() / (c.folder == Folder::Missing ? "不存在" : "下载 音乐");
    if (c.folder == Folder::Typed) std::filesystem::create_directory(typed);
    auto* folderBox = Find<QLineEdit>("编辑框_下载目录");
    folderBox->clear();
    if (c.folder != Folder::Empty) Type(folderBox, QString::fromStdString(typed.string()));
    auto pathOf = [&](int row) { return typed.string() + "/" + c.files[static_cast<std::size_t>(row - 1)]; };

    auto* bar = Find<QProgressBar>("进度条1");
    std::vector<int> progress;
    std::vector<Moment> atProgress, atBox;
    const auto watch = QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
      progress.push_back(v);
      atProgress.push_back(Now());
    });
    observed_.onMessage = [&] { atBox.push_back(Now()); };
    Press("按钮_下载");
    QObject::disconnect(watch);
    observed_.onMessage = nullptr;

    // Progress and status after each successful track; the controls stay off meanwhile.
    EXPECT_EQ(progress, c.progress);
    const int n = static_cast<int>(c.files.size());
    std::vector<int> succeeded;
    for (int i = 1; i <= n && c.folder != Folder::Empty; ++i) {
      if (std::find(c.failing.begin(), c.failing.end(), i) == c.failing.end()) succeeded.push_back(i);
    }
    ASSERT_EQ(atProgress.size(), succeeded.size());
    for (std::size_t k = 0; k < succeeded.size(); ++k) {
      const int i = succeeded[k];
      EXPECT_EQ(atProgress[k].status, "正在下载 " + std::to_string(i) + " " + pathOf(i));
      EXPECT_EQ(atProgress[k].controlsEnabled, std::vector<bool>(5, false));
    }

    // The boxes: one per failed track, then the final one.
    std::vector<std::tuple<std::string, std::string, MessageIcon>> expectedBoxes;
    if (c.folder == Folder::Empty) expectedBoxes.push_back({"下载目录为空！", "信息：", MessageIcon::Error});
    for (int i : c.failing) {
      const std::string address = svc::PlayPath(service_->Origin(), *svc::FindAlbum(c.album), i);
      expectedBoxes.push_back({pathOf(i) + "  下载失败！\r\n" + address, "信息：", MessageIcon::Error});
    }
    const bool complete = c.folder != Folder::Empty && n > 0;
    if (complete) expectedBoxes.push_back({"全部完成！", "信息：", MessageIcon::Information});
    std::vector<std::tuple<std::string, std::string, MessageIcon>> boxes;
    for (const auto& m : dialogs_.messages) boxes.push_back({Utf8(m.text), Utf8(m.title), m.icon});
    EXPECT_EQ(boxes, expectedBoxes);
    ASSERT_EQ(atBox.size(), expectedBoxes.size());
    for (const Moment& m : atBox) EXPECT_EQ(m.controlsEnabled, std::vector<bool>(5, false));
    for (std::size_t k = 0; k < c.failing.size(); ++k) {
      // A failed track leaves the bar where the last good one put it.
      int lastGood = 0;
      for (int i : succeeded) lastGood = i < c.failing[k] ? i : lastGood;
      EXPECT_EQ(atBox[k].progress, lastGood * 100 / n) << "box of row " << c.failing[k];
    }
    if (complete) {
      EXPECT_EQ(atBox.back().status, c.finalStatus) << "the report comes before the box";
    }

    // Afterwards.
    EXPECT_EQ(Status(), c.finalStatus);
    EXPECT_EQ(ControlsEnabled(), std::vector<bool>(5, true));
    EXPECT_TRUE(Find("超级列表框_音频列表")->isEnabled());
    EXPECT_EQ(bar->isVisible(), c.folder != Folder::Empty);
    EXPECT_EQ(Rows(), n) << "the list is left as it was";

    // On disk: exactly the good tracks, each byte for byte what was served; no partial files.
    std::vector<std::string> expectedFiles;
    for (int i : succeeded) expectedFiles.push_back(c.files[static_cast<std::size_t>(i - 1)]);
    std::sort(expectedFiles.begin(), expectedFiles.end());
    if (c.folder == Folder::Typed) {
      EXPECT_EQ(EntriesOf(typed), expectedFiles);
      for (int i : succeeded) {
        // Row i shows track i of the album.
        EXPECT_EQ(ReadFile(pathOf(i)), svc::MakeWavTone(svc::ToneFor(c.album, i))) << pathOf(i);
      }
    } else {
      EXPECT_EQ(tmp.Entries(), std::vector<std::string>{}) << "nothing may be written elsewhere";
    }
  }
}

}  // namespace
}  // namespace ombrik
