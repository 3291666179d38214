// The window's form on the offscreen platform: layout, initial states, its own handlers and the
// window operations the runs use.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QToolTip>
#include <memory>
#include <set>

#include "app/main_window.h"
#include "app/status_bar.h"
#include "app/track_list_model.h"
#include "recording_dialogs.h"

namespace ombrik {
namespace {

using testing::RecordingDialogs;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>(dialogs);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  template <typename W = QWidget>
  W* Find(const char* name) {
    return window->findChild<W*>(QString::fromUtf8(name));
  }

  RecordingDialogs dialogs;
  std::unique_ptr<MainWindow> window;
};

struct ControlCase {
  const char* name;
  Control control;
  QRect geometry;
  const char* text;  // nullptr: the control has no text
  bool visible;
  bool tabStop;
};

QString TextOf(QWidget* w) {
  if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
  return {};
}

TEST_F(MainWindowTest, EveryControlStartsWhereAndAsTheFormSays) {
  const ControlCase cases[] = {
      {"分组框1", Control::分组框1, {8, 8, 504, 392}, "专辑下载", true, false},
      {"标签2", Control::标签2, {8, 24, 56, 24}, "专辑链接：", true, false},
      {"编辑框_URL", Control::编辑框_URL, {80, 24, 296, 24}, kInitialAlbumLink, true, true},
      {"按钮_提取音频列表", Control::按钮_提取音频列表, {384, 19, 112, 32}, "提取音频列表", true, true},
      {"列表标题", Control::列表标题, {8, 49, 224, 24}, "音频列表：", true, false},
      {"超级列表框_音频列表", Control::超级列表框_音频列表, {8, 74, 488, 240}, nullptr, true, true},
      {"标签3", Control::标签3, {8, 325, 72, 24}, "下载目录：", true, false},
      {"编辑框_下载目录", Control::编辑框_下载目录, {72, 325, 224, 24}, "", true, true},
      {"按钮_浏览下载目录", Control::按钮_浏览下载目录, {304, 320, 88, 32}, "浏览..", true, true},
      {"按钮_下载", Control::按钮_下载, {398, 320, 96, 32}, "下载", true, true},
      {"进度条1", Control::进度条1, {6, 361, 488, 23}, nullptr, false, false},
      {"状态条1", Control::状态条1, {0, 395, 522, 20}, nullptr, true, false},
  };
  auto* groupBox = Find("分组框1");
  for (const ControlCase& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget* w = Find(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(window->ControlWidget(c.control), w);
    EXPECT_EQ(w->geometry(), c.geometry);
    // Everything but the status bar sits in the group box; the status bar on the window.
    EXPECT_EQ(w->parentWidget(), c.control == Control::状态条1 || c.control == Control::分组框1
                                     ? static_cast<QWidget*>(window.get())
                                     : groupBox);
    if (c.text) {
      EXPECT_EQ(TextOf(w), QString::fromUtf8(c.text));
    }
    EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(w->isVisible(), c.visible);
    EXPECT_EQ((w->focusPolicy() & Qt::TabFocus) != 0, c.tabStop);
  }
  EXPECT_TRUE(QString::fromUtf8(kInitialAlbumLink).startsWith("https://"));
  EXPECT_TRUE(QString::fromUtf8(kInitialAlbumLink).endsWith(".example/album/3921767"));

  auto* progress = Find<QProgressBar>("进度条1");
  EXPECT_EQ(progress->minimum(), 0);
  EXPECT_EQ(progress->maximum(), 100);
  EXPECT_EQ(progress->value(), 0);
  EXPECT_EQ(progress->orientation(), Qt::Horizontal);
}

TEST_F(MainWindowTest, TabWalksEditBoxesButtonsAndListInFormOrder) {
  const char* expected[] = {"编辑框_URL",      "按钮_提取音频列表", "超级列表框_音频列表",
                            "编辑框_下载目录", "按钮_浏览下载目录", "按钮_下载"};
  QWidget* first = Find("编辑框_URL");
  first->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  for (int lap = 0; lap < 2; ++lap) {  // the order wraps around
    for (const char* name : expected) {
      EXPECT_EQ(QApplication::focusWidget(), Find(name)) << name;
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
  }
}

TEST_F(MainWindowTest, WindowHasFixedSizeNoMaximiseAndIsCentred) {
  EXPECT_EQ(window->windowTitle(), "Ombrik");
  EXPECT_EQ(window->size(), QSize(522, 416));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowStaysOnTopHint);

  const QRect screen = window->screen()->availableGeometry();
  const QPoint offset = window->geometry().center() - screen.center();
  EXPECT_LE(offset.manhattanLength(), 2) << "window centre off by " << offset.x() << "," << offset.y();
  // A maximise request from a window manager cannot grow it.
  window->showMaximized();
  QApplication::processEvents();
  EXPECT_EQ(window->size(), QSize(522, 416));
}

TEST_F(MainWindowTest, ListIsAFixedReportWithThreeColumns) {
  auto* list = Find<QTableView>("超级列表框_音频列表");
  QHeaderView* header = list->horizontalHeader();
  EXPECT_TRUE(header->isVisible());
  EXPECT_FALSE(list->verticalHeader()->isVisible());
  ASSERT_EQ(list->model()->columnCount(), 3);
  const std::pair<const char*, int> columns[] = {{"序号", 40}, {"标题", 200}, {"地址", 200}};
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(columns[c].first));
    EXPECT_EQ(header->sectionSize(c), columns[c].second);
  }
  EXPECT_TRUE(list->showGrid());
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list->model()->rowCount(), 0);
  EXPECT_EQ(list->palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(list->palette().color(QPalette::Text), QColor(Qt::black));
}

std::set<int> SelectedRows(const QTableView* list) {
  std::set<int> rows;
  for (const QModelIndex& i : list->selectionModel()->selectedIndexes()) rows.insert(i.row());
  return rows;
}

TEST_F(MainWindowTest, ClicksOnTheListOnlySelectAndHeaderClicksSortNothing) {
  for (const char* number : {"2", "10", "1"}) {
    const int row = window->InsertRow(Text(number));
    window->SetCell(row, 1, "title"_t);
  }
  auto* list = Find<QTableView>("超级列表框_音频列表");
  QApplication::processEvents();

  // Clicks on every header section leave the insertion order alone.
  for (int c = 0; c < 3; ++c) {
    const QPoint at(list->horizontalHeader()->sectionViewportPosition(c) + 5, 5);
    QTest::mouseClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {}, at);
  }
  EXPECT_EQ(window->CellText(0, 0), "2");
  EXPECT_EQ(window->CellText(1, 0), "10");
  EXPECT_EQ(window->CellText(2, 0), "1");

  // A click on a cell selects its whole row, a second row replaces it, and a double click
  // opens no editor.
  const QRect cell = list->visualRect(list->model()->index(1, 1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(SelectedRows(list), (std::set<int>{1}));
  EXPECT_EQ(list->selectionModel()->selectedIndexes().size(), 3);
  const QRect other = list->visualRect(list->model()->index(2, 0));
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, other.center());
  EXPECT_EQ(SelectedRows(list), (std::set<int>{2}));
  EXPECT_EQ(list->selectionModel()->selectedIndexes().size(), 3);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_TRUE(list->findChildren<QLineEdit*>().isEmpty()) << "an editor opened";
  EXPECT_FALSE(list->model()->flags(list->model()->index(1, 1)) & Qt::ItemIsEditable);
  EXPECT_EQ(window->CellText(1, 1), "title");
}

TEST_F(MainWindowTest, StatusBarHasStatusPartAndCreditWithToolTip) {
  StatusBar& bar = window->Status();
  EXPECT_EQ(bar.PartRect(0), QRect(0, 0, 350, 20));
  EXPECT_EQ(bar.PartRect(1), QRect(350, 0, 172, 20));
  EXPECT_EQ(bar.PartText(0), " ");
  const QString credit = bar.PartText(1);
  EXPECT_EQ(credit, QString::fromUtf8(kCreditLine));
  EXPECT_TRUE(credit.startsWith("  ") && !credit.startsWith("   "));
  EXPECT_TRUE(credit.endsWith(".example Ferrox Tesk "));
  // The whole credit is readable in its part (panel border and padding take a few pixels).
  EXPECT_LE(bar.fontMetrics().horizontalAdvance(credit), bar.PartRect(1).width() - 8);

  // The tooltip a hovering user gets, over each part.
  auto toolTipAt = [&](int x) {
    QToolTip::hideText();
    QHelpEvent help(QEvent::ToolTip, QPoint(x, 10), bar.mapToGlobal(QPoint(x, 10)));
    QApplication::sendEvent(&bar, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  };
  EXPECT_EQ(toolTipAt(100), "");
  EXPECT_EQ(toolTipAt(400), "制作者");
  QToolTip::hideText();
}

TEST_F(MainWindowTest, AboutBoxOnlyStrictlyInsideTheCreditRange) {
  const std::pair<int, bool> cases[] = {{354, false}, {355, true},  {506, true},
                                        {507, false}, {100, false}, {351, false}};
  const QString about = QString::fromUtf8("本程序只能下载免费专辑音频，也包括收费专辑中免费音频。\r\n") +
                        QString(54, ' ') + "-- Ferrox Tesk\r\n" +
                        QString::fromUtf8(
                            "2023.12.27 格式化音频文件名，剔除不合法字符\r\n"
                            "2023.12.25 优化下载地址获取方式，避免获取错误地址");
  for (const auto& [x, shows] : cases) {
    SCOPED_TRACE(x);
    dialogs.messages.clear();
    QTest::mouseDClick(&window->Status(), Qt::LeftButton, Qt::ShiftModifier, QPoint(x, 7));
    ASSERT_EQ(dialogs.messages.size(), shows ? 1u : 0u);
    if (shows) {
      EXPECT_EQ(dialogs.messages[0].title, "关于..");
      EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Exclamation);
      EXPECT_EQ(dialogs.messages[0].text, about);
    }
  }
}

TEST_F(MainWindowTest, BrowseWritesTheChosenFolderAndCancelEmptiesIt) {
  auto* dir = Find<QLineEdit>("编辑框_下载目录");
  auto* browse = Find<QPushButton>("按钮_浏览下载目录");
  dialogs.folderAnswer = QString::fromUtf8("/home/user/音乐");
  QTest::mouseClick(browse, Qt::LeftButton);
  ASSERT_EQ(dialogs.folderTitles.size(), 1u);
  EXPECT_EQ(dialogs.folderTitles[0], "请选择可保存音频文件的目录");
  EXPECT_EQ(dir->text(), QString::fromUtf8("/home/user/音乐"));
  EXPECT_EQ(window->EditText(Control::编辑框_下载目录), "/home/user/音乐"_t);

  dialogs.folderAnswer.clear();
  QTest::mouseClick(browse, Qt::LeftButton);
  EXPECT_EQ(dir->text(), "");
}

TEST_F(MainWindowTest, WindowOperationsCarryCodePage936TextsBothWays) {
  window->SetEditText(Control::编辑框_URL, "https://x.example/album/1?标题"_t);
  EXPECT_EQ(Find<QLineEdit>("编辑框_URL")->text(), QString::fromUtf8("https://x.example/album/1?标题"));
  EXPECT_EQ(window->EditText(Control::编辑框_URL), "https://x.example/album/1?标题"_t);
  EXPECT_EQ(window->EditText(Control::按钮_下载), "");  // not an edit box

  window->SetListCaption("音频列表（共250个）:"_t);
  EXPECT_EQ(Find<QLabel>("列表标题")->text(), QString::fromUtf8("音频列表（共250个）:"));

  EXPECT_EQ(window->InsertRow("250"_t), 0);
  EXPECT_EQ(window->InsertRow("249"_t), 1);
  window->SetCell(1, 1, "第二首 歌"_t);
  window->SetCell(1, 2, "https://a.example/b.m4a"_t);
  window->SetCell(5, 1, "nowhere"_t);  // no such row: ignored
  EXPECT_EQ(window->RowCount(), 2);
  EXPECT_EQ(window->CellText(1, 0), "249");
  EXPECT_EQ(window->CellText(1, 1), "第二首 歌"_t);
  EXPECT_EQ(window->CellText(1, 2), "https://a.example/b.m4a");
  EXPECT_EQ(window->CellText(7, 0), "");
  EXPECT_EQ(window->CellText(0, 3), "");
  window->DeleteAllRows();
  EXPECT_EQ(window->RowCount(), 0);

  window->SetStatusText("正在下载 1 /tmp/12AB.m4a"_t);
  EXPECT_EQ(window->Status().PartText(0), QString::fromUtf8("正在下载 1 /tmp/12AB.m4a"));
  EXPECT_EQ(window->Status().PartText(1), QString::fromUtf8(kCreditLine));

  auto* progress = Find<QProgressBar>("进度条1");
  window->SetProgressVisible(true);
  EXPECT_TRUE(progress->isVisible());
  const std::pair<int, int> positions[] = {{25, 25}, {100, 100}, {0, 0}, {130, 100}, {-5, 0}};
  for (const auto& [set, shown] : positions) {
    window->SetProgressPosition(set);
    EXPECT_EQ(progress->value(), shown) << set;
  }

  for (Control c : {Control::按钮_下载, Control::编辑框_下载目录, Control::按钮_提取音频列表, Control::编辑框_URL,
                    Control::按钮_浏览下载目录}) {
    window->SetEnabled(c, false);
    EXPECT_FALSE(window->ControlWidget(c)->isEnabled());
    window->SetEnabled(c, true);
    EXPECT_TRUE(window->ControlWidget(c)->isEnabled());
  }
}

TEST_F(MainWindowTest, MessageBoxWithoutTitleCarriesTheDefaultTitle) {
  window->ShowMessage("下载目录为空！"_t, Text(), MessageIcon::Error);
  window->ShowMessage("网页Json数据格式不正确！"_t, "信息"_t, MessageIcon::Error);
  window->ShowMessage("全部完成！"_t, Text(), MessageIcon::Information);
  ASSERT_EQ(dialogs.messages.size(), 3u);
  EXPECT_EQ(dialogs.messages[0].title, "信息：");
  EXPECT_EQ(dialogs.messages[0].text, "下载目录为空！");
  EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
  EXPECT_EQ(dialogs.messages[1].title, "信息");
  EXPECT_EQ(dialogs.messages[2].title, "信息：");
  EXPECT_EQ(dialogs.messages[2].icon, MessageIcon::Information);
}

TEST(MainWindowButtons, WithoutHandlersTheRunButtonsDoNothingVisible) {
  RecordingDialogs dialogs;
  MainWindow window(dialogs);
  window.show();
  QTest::mouseClick(window.findChild<QPushButton*>("按钮_提取音频列表"), Qt::LeftButton);
  QTest::mouseClick(window.findChild<QPushButton*>("按钮_下载"), Qt::LeftButton);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(window.RowCount(), 0);
  EXPECT_TRUE(window.isVisible());
}

TEST(MainWindowButtons, EachButtonRunsItsOwnHandler) {
  RecordingDialogs dialogs;
  std::vector<std::string> ran;
  RunHandlers handlers;
  handlers.extract = [&](WindowOperations& ops) {
    ran.push_back("extract");
    ops.InsertRow("1");
  };
  handlers.download = [&](WindowOperations& ops) {
    ran.push_back("download");
    ops.SetStatusText("done");
  };
  MainWindow window(dialogs, handlers);
  window.show();
  QTest::mouseClick(window.findChild<QPushButton*>("按钮_提取音频列表"), Qt::LeftButton);
  QTest::mouseClick(window.findChild<QPushButton*>("按钮_下载"), Qt::LeftButton);
  EXPECT_EQ(ran, (std::vector<std::string>{"extract", "download"}));
  EXPECT_EQ(window.RowCount(), 1);
  EXPECT_EQ(window.Status().PartText(0), "done");
}

TEST_F(MainWindowTest, ChineseTextsUseTheCjkFont) {
  for (const char* name : {"标签2", "列表标题", "按钮_提取音频列表"}) {
    const QFontInfo info(Find(name)->font());
    EXPECT_EQ(info.family(), "WenQuanYi Micro Hei") << name;
    EXPECT_EQ(info.pixelSize(), 12) << name;
  }
}

}  // namespace
}  // namespace ombrik
