#include "app/main_window.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "app/status_bar.h"
#include "app/track_list_model.h"

namespace ombrik {

const char* const kInitialAlbumLink = "https://www.ombrik-demo.example/album/3921767";
const char* const kCreditLine = "  fxt.example Ferrox Tesk ";

namespace {

const QString kDefaultMessageTitle = QStringLiteral("信息：");
const QString kFolderDialogTitle = QStringLiteral("请选择可保存音频文件的目录");
const QString kAboutTitle = QStringLiteral("关于..");

QString AboutText() {
  return QStringLiteral("本程序只能下载免费专辑音频，也包括收费专辑中免费音频。\r\n") + QString(54, QLatin1Char(' ')) +
         QStringLiteral("-- Ferrox Tesk\r\n") + QStringLiteral("2023.12.27 格式化音频文件名，剔除不合法字符\r\n") +
         QStringLiteral("2023.12.25 优化下载地址获取方式，避免获取错误地址");
}

// The credit part answers a double click only strictly between these x positions.
constexpr int kAboutLeftExclusive = 354;
constexpr int kAboutRightExclusive = 507;

template <typename W>
W* Place(QWidget* parent, const char* name, int x, int y, int w, int h) {
  auto* widget = new W(parent);
  widget->setObjectName(QString::fromUtf8(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

}  // namespace

MainWindow::MainWindow(Dialogs& dialogs, RunHandlers handlers, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      dialogs_(dialogs),
      handlers_(std::move(handlers)) {
  setWindowTitle(QStringLiteral("Ombrik"));
  setFixedSize(kClientWidth, kClientHeight);
  // The layout is in pixels for a 12-pixel font (the native dialog font); keep that size
  // whatever the desktop's default, and prefer a font that has the Chinese texts.
  QFont pixelFont = font();
  pixelFont.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), pixelFont.family()});
  pixelFont.setPixelSize(12);
  setFont(pixelFont);
  BuildControls();
  SetTabOrder();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
  }
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
  分组框1_ = Place<QGroupBox>(this, "分组框1", 8, 8, 504, 392);
  分组框1_->setTitle(QStringLiteral("专辑下载"));

  QWidget* box = 分组框1_;
  标签2_ = Place<QLabel>(box, "标签2", 8, 24, 56, 24);
  标签2_->setText(QStringLiteral("专辑链接："));
  编辑框_URL_ = Place<QLineEdit>(box, "编辑框_URL", 80, 24, 296, 24);
  编辑框_URL_->setText(QString::fromUtf8(kInitialAlbumLink));
  编辑框_URL_->setCursorPosition(0);
  按钮_提取音频列表_ = Place<QPushButton>(box, "按钮_提取音频列表", 384, 19, 112, 32);
  按钮_提取音频列表_->setText(QStringLiteral("提取音频列表"));
  列表标题_ = Place<QLabel>(box, "列表标题", 8, 49, 224, 24);
  列表标题_->setText(QStringLiteral("音频列表："));

  超级列表框_音频列表_ = Place<QTableView>(box, "超级列表框_音频列表", 8, 74, 488, 240);
  listModel_ = new TrackListModel(this);
  QTableView* list = 超级列表框_音频列表_;
  list->setModel(listModel_);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSortingEnabled(false);
  list->setShowGrid(true);
  list->setWordWrap(false);
  list->setCornerButtonEnabled(false);
  list->setFrameShape(QFrame::StyledPanel);
  list->setFrameShadow(QFrame::Sunken);
  list->verticalHeader()->hide();
  // Fixed row heights: appending a row then costs no measuring of its contents.
  list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
  QHeaderView* header = list->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setSortIndicatorShown(false);
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list->setColumnWidth(0, 40);
  list->setColumnWidth(1, 200);
  list->setColumnWidth(2, 200);
  QPalette listColours = list->palette();
  listColours.setColor(QPalette::Base, Qt::white);
  listColours.setColor(QPalette::Text, Qt::black);
  list->setPalette(listColours);

  标签3_ = Place<QLabel>(box, "标签3", 8, 325, 72, 24);
  标签3_->setText(QStringLiteral("下载目录："));
  编辑框_下载目录_ = Place<QLineEdit>(box, "编辑框_下载目录", 72, 325, 224, 24);
  按钮_浏览下载目录_ = Place<QPushButton>(box, "按钮_浏览下载目录", 304, 320, 88, 32);
  按钮_浏览下载目录_->setText(QStringLiteral("浏览.."));
  按钮_下载_ = Place<QPushButton>(box, "按钮_下载", 398, 320, 96, 32);
  按钮_下载_->setText(QStringLiteral("下载"));

  进度条1_ = Place<QProgressBar>(box, "进度条1", 6, 361, 488, 23);
  进度条1_->setRange(0, 100);
  进度条1_->setValue(0);
  进度条1_->setOrientation(Qt::Horizontal);
  进度条1_->setTextVisible(false);
  进度条1_->hide();

  状态条1_ = Place<StatusBar>(this, "状态条1", 0, 395, 522, 20);
  状态条1_->SetPartEdges(kStatusPart0RightEdge);
  状态条1_->SetPartText(0, QStringLiteral(" "));
  状态条1_->SetPartText(1, QString::fromUtf8(kCreditLine));
  状态条1_->SetPartToolTip(1, QStringLiteral("制作者"));
  // The bar overlaps the bottom of the group box by a few pixels and is drawn over it.
  状态条1_->raise();

  controls_ = {
      {Control::分组框1, 分组框1_},
      {Control::标签2, 标签2_},
      {Control::编辑框_URL, 编辑框_URL_},
      {Control::按钮_提取音频列表, 按钮_提取音频列表_},
      {Control::列表标题, 列表标题_},
      {Control::超级列表框_音频列表, 超级列表框_音频列表_},
      {Control::标签3, 标签3_},
      {Control::编辑框_下载目录, 编辑框_下载目录_},
      {Control::按钮_浏览下载目录, 按钮_浏览下载目录_},
      {Control::按钮_下载, 按钮_下载_},
      {Control::进度条1, 进度条1_},
      {Control::状态条1, 状态条1_},
  };

  connect(按钮_提取音频列表_, &QPushButton::clicked, this, [this] { OnExtractTrackList(); });
  connect(按钮_浏览下载目录_, &QPushButton::clicked, this, [this] { OnBrowseDownloadDir(); });
  connect(按钮_下载_, &QPushButton::clicked, this, [this] { OnDownloadAll(); });
  connect(状态条1_, &StatusBar::doubleClicked, this,
          [this](int x, int y, Qt::KeyboardModifiers keys) { OnStatusBarDoubleClick(x, y, keys); });
}

void MainWindow::SetTabOrder() {
  for (QWidget* w : {static_cast<QWidget*>(分组框1_), static_cast<QWidget*>(标签2_), static_cast<QWidget*>(列表标题_),
                     static_cast<QWidget*>(标签3_), static_cast<QWidget*>(进度条1_), static_cast<QWidget*>(状态条1_)}) {
    w->setFocusPolicy(Qt::NoFocus);
  }
  QWidget::setTabOrder(编辑框_URL_, 按钮_提取音频列表_);
  QWidget::setTabOrder(按钮_提取音频列表_, 超级列表框_音频列表_);
  QWidget::setTabOrder(超级列表框_音频列表_, 编辑框_下载目录_);
  QWidget::setTabOrder(编辑框_下载目录_, 按钮_浏览下载目录_);
  QWidget::setTabOrder(按钮_浏览下载目录_, 按钮_下载_);
}

QWidget* MainWindow::ControlWidget(Control control) const {
  const auto found = controls_.find(control);
  return found == controls_.end() ? nullptr : found->second;
}

QLineEdit* MainWindow::EditBox(Control box) const {
  if (box == Control::编辑框_URL) return 编辑框_URL_;
  if (box == Control::编辑框_下载目录) return 编辑框_下载目录_;
  return nullptr;
}

// --- Handlers -----------------------------------------------------------------------------

void MainWindow::OnExtractTrackList() { RunToCompletion(handlers_.extract); }

void MainWindow::OnDownloadAll() { RunToCompletion(handlers_.download); }

void MainWindow::RunToCompletion(const RunHandler& handler) {
  if (!handler) return;
  if (pump_.Running()) {
    // Reached from inside a run (a click delivered by a dialog's own loop, say): it waits until
    // the current run is over, as queued input always does.
    deferredRuns_.push_back(handler);
    return;
  }
  {
    PaintPump::RunScope run(pump_);
    handler(*this);
  }
  if (closeRequestedDuringRun_) {
    // The window goes away: runs asked for after the close request die with it.
    closeRequestedDuringRun_ = false;
    deferredRuns_.clear();
    close();
    return;
  }
  for (RunHandler& next : std::exchange(deferredRuns_, {})) {
    QTimer::singleShot(0, this, [this, next = std::move(next)] { RunToCompletion(next); });
  }
}

void MainWindow::OnBrowseDownloadDir() {
  const QString chosen = dialogs_.ChooseFolder(this, kFolderDialogTitle, 编辑框_下载目录_->text());
  // Cancelling empties the box: the dialog's answer is written whatever it is.
  编辑框_下载目录_->setText(chosen);
}

void MainWindow::OnStatusBarDoubleClick(int x, int /*y*/, Qt::KeyboardModifiers /*keys*/) {
  if (x > kAboutLeftExclusive && x < kAboutRightExclusive) {
    dialogs_.ShowMessage(this, AboutText(), kAboutTitle, MessageIcon::Exclamation);
  }
}

void MainWindow::changeEvent(QEvent* event) {
  // A fixed dialog frame has no maximised or full-screen state, whatever a window manager asks.
  if (event->type() == QEvent::WindowStateChange && (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
    resize(kClientWidth, kClientHeight);
  }
  QWidget::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (pump_.Running()) {
    // Closing mid-run would tear the window down under the handler; close once it returns.
    closeRequestedDuringRun_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

// --- Window operations ----------------------------------------------------------------------

Text MainWindow::EditText(Control box) {
  const QLineEdit* edit = EditBox(box);
  return edit ? FromQString(edit->text()) : Text();
}

void MainWindow::SetEditText(Control box, const Text& text) {
  if (QLineEdit* edit = EditBox(box)) edit->setText(ToQString(text));
  pump_.PumpIfDue();
}

void MainWindow::SetListCaption(const Text& caption) {
  列表标题_->setText(ToQString(caption));
  pump_.PumpIfDue();
}

void MainWindow::DeleteAllRows() {
  listModel_->Clear();
  pump_.PumpIfDue();
}

int MainWindow::InsertRow(const Text& column0) {
  const int row = listModel_->Append(ToQString(column0));
  pump_.PumpIfDue();
  return row;
}

void MainWindow::SetCell(int row, int column, const Text& text) {
  listModel_->SetCell(row, column, ToQString(text));
  pump_.PumpIfDue();
}

Text MainWindow::CellText(int row, int column) { return FromQString(listModel_->Cell(row, column)); }

int MainWindow::RowCount() { return listModel_->rowCount(); }

void MainWindow::SetStatusText(const Text& text) {
  状态条1_->SetPartText(0, ToQString(text));
  pump_.PumpIfDue();
}

void MainWindow::SetProgressPosition(int position) {
  // The bar clamps like a native one rather than ignoring a value outside its range.
  进度条1_->setValue(std::clamp(position, 进度条1_->minimum(), 进度条1_->maximum()));
  pump_.PumpIfDue();
}

void MainWindow::SetProgressVisible(bool visible) {
  进度条1_->setVisible(visible);
  pump_.PumpIfDue();
}

void MainWindow::SetEnabled(Control control, bool enabled) {
  if (QWidget* widget = ControlWidget(control)) widget->setEnabled(enabled);
  pump_.PumpIfDue();
}

void MainWindow::ShowMessage(const Text& text, const Text& title, MessageIcon icon) {
  // The box's own loop paints the window; nothing to pump here.
  dialogs_.ShowMessage(this, ToQString(text), title.empty() ? kDefaultMessageTitle : ToQString(title), icon);
}

}  // namespace ombrik
