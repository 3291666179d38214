// Saves pictures of the window for a person to look at (the Chinese texts must render), next to
// the test program: ombrik-window.png (as it opens) and ombrik-window-run.png (with rows,
// progress and status as a download run leaves them).
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTest>

#include "app/main_window.h"
#include "recording_dialogs.h"

namespace ombrik {
namespace {

QString OutputPath(const char* name) {
  const QString dir = qEnvironmentVariableIsSet("OMBRIK_SCREENSHOT_DIR") ? qEnvironmentVariable("OMBRIK_SCREENSHOT_DIR")
                                                                         : QStringLiteral(OMBRIK_TEST_OUTPUT_DIR);
  return QDir(dir).filePath(QString::fromLatin1(name));
}

void SaveAndCheck(MainWindow& window, const char* name) {
  const QImage image = window.grab().toImage();
  ASSERT_EQ(image.size(), QSize(522, 416));
  const QString path = OutputPath(name);
  ASSERT_TRUE(image.save(path, "PNG")) << path.toStdString();
  ASSERT_FALSE(QImage(path).isNull());
  std::printf("window picture: %s\n", path.toLocal8Bit().constData());
}

TEST(WindowPicture, SavedAtStartAndAfterARun) {
  testing::RecordingDialogs dialogs;
  MainWindow window(dialogs);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  SaveAndCheck(window, "ombrik-window.png");

  const char* titles[] = {"第一首：晨光", "第二首 雨夜+微风", "第三首《归途》"};
  window.SetListCaption("音频列表（共3个）:"_t);
  for (int i = 0; i < 3; ++i) {
    const int row = window.InsertRow(Text(std::to_string(3 - i)));
    window.SetCell(row, 1, TextFromUtf8(titles[i]));
    window.SetCell(row, 2, Text("https://audio.ombrik-demo.example/t/" + std::to_string(i) + ".m4a"));
  }
  window.SetEditText(Control::编辑框_下载目录, "/home/user/音乐"_t);
  window.SetProgressVisible(true);
  window.SetProgressPosition(100);
  window.SetStatusText("  3 项下载完毕"_t);
  SaveAndCheck(window, "ombrik-window-run.png");
}

}  // namespace
}  // namespace ombrik
