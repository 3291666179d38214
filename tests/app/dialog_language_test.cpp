// The program's real dialogs (not the recorder) speak Chinese: the start-up loads Qt's own
// translations, so the folder chooser and the message boxes read 选择, 取消, 确定 rather than
// Choose, Cancel, OK. Saves ombrik-folder-dialog.png next to the test program for a person to
// look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <functional>

#include "app/main_window.h"
#include "app/program_start.h"
#include "app/qt_text.h"

namespace ombrik {
namespace {

MainWindow* TheWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* window = dynamic_cast<MainWindow*>(w)) return window;
  }
  return nullptr;
}

// The texts of a dialog's visible buttons, without their keyboard mnemonics ("选择(&C)",
// "&Choose").
QStringList ButtonTexts(const QWidget& dialog) {
  static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)|&"));
  QStringList texts;
  for (const QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->isVisible()) texts << button->text().remove(mnemonic);
  }
  return texts;
}

QString AllLabelTexts(const QWidget& dialog) {
  QStringList texts;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
  return texts.join(QLatin1Char('|'));
}

// Calls `inspect` with the modal dialog once it is up (from inside its own loop), then closes it.
void WhenDialogShows(std::function<void(QDialog&)> inspect) {
  auto* poll = new QTimer;
  auto waited = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, waited, inspect] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog && ++*waited < 500) return;
    poll->stop();
    poll->deleteLater();
    ASSERT_NE(dialog, nullptr) << "no modal dialog within 5 s";
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
    inspect(*dialog);
    dialog->reject();
  });
  poll->start(10);
}

TEST(DialogLanguage, RealFolderDialogAndMessageBoxSpeakChinese) {
  QTemporaryDir music;
  ASSERT_TRUE(music.isValid());
  for (const char* name : {"专辑一 春江花月夜", "专辑二 高山流水", "下载"}) {
    ASSERT_TRUE(QDir(music.path()).mkdir(QString::fromUtf8(name)));
  }

  QStringList folderButtons, folderTypes, messageButtons;
  QString folderLabels;
  QTimer::singleShot(0, [&] {
    MainWindow* window = TheWindow();
    ASSERT_NE(window, nullptr);
    window->SetEditText(Control::编辑框_下载目录, FromQString(music.path()));

    WhenDialogShows([&](QDialog& dialog) {
      EXPECT_NE(qobject_cast<QFileDialog*>(&dialog), nullptr);
      folderButtons = ButtonTexts(dialog);
      folderLabels = AllLabelTexts(dialog);
      // The detail view's rows arrive from the file system model's own thread.
      const auto* view = dialog.findChild<QTreeView*>();
      ASSERT_NE(view, nullptr);
      ASSERT_TRUE(QTest::qWaitFor([view] { return view->model()->rowCount(view->rootIndex()) == 3; }));
      for (int row = 0; row < 3; ++row) {
        folderTypes << view->model()->index(row, 2, view->rootIndex()).data().toString();
      }
      const QImage picture = dialog.grab().toImage();
      const QString path =
          QDir(QStringLiteral(OMBRIK_TEST_OUTPUT_DIR)).filePath(QStringLiteral("ombrik-folder-dialog.png"));
      EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
      std::printf("folder dialog picture: %s\n", path.toLocal8Bit().constData());
    });
    window->OnBrowseDownloadDir();

    WhenDialogShows([&](QDialog& dialog) {
      EXPECT_NE(qobject_cast<QMessageBox*>(&dialog), nullptr);
      messageButtons = ButtonTexts(dialog);
    });
    window->ShowMessage("下载目录不存在"_t, Text(), MessageIcon::Exclamation);
    window->close();
  });
  StartOptions options;  // no dialogs given: the program's own
  ASSERT_EQ(RunProgram(*qApp, std::move(options)), 0);

  const auto joined = [](const QStringList& texts) { return texts.join(u',').toStdString(); };
  EXPECT_TRUE(folderButtons.contains(QStringLiteral("选择"))) << joined(folderButtons);
  EXPECT_TRUE(folderButtons.contains(QStringLiteral("取消"))) << joined(folderButtons);
  EXPECT_FALSE(folderLabels.contains(QStringLiteral("Look in"))) << folderLabels.toStdString();
  EXPECT_EQ(joined(folderTypes), "文件夹,文件夹,文件夹");
  EXPECT_EQ(joined(messageButtons), "确定");
}

TEST(DialogLanguage, TranslatorIsRemovedWithTheProgram) {
  {
    const QtChineseTexts texts;
    ASSERT_TRUE(texts.Installed()) << "Qt's Chinese translations are missing (qt6-translations-l10n)";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
  }
  // Tests of the window that follow, in the same process, see Qt's texts as before.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

}  // namespace
}  // namespace ombrik
