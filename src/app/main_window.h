// The program's one window: the album link, the track list, the download folder, a progress
// bar and a status bar, laid out at fixed pixel positions. It implements the window operations
// that the extraction and download runs use, converting Texts to Qt strings at this boundary.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "app/paint_pump.h"
#include "catalogue/window_ops.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace ombrik {

class Dialogs;
class StatusBar;
class TrackListModel;

// A long run started by a button: the extraction or the download.
using RunHandler = std::function<void(WindowOperations&)>;

struct RunHandlers {
  RunHandler extract;   // 按钮_提取音频列表
  RunHandler download;  // 按钮_下载
};

// Not a Q_OBJECT: its handlers are connected as member functions, and the form's names in
// window_ops.h are beyond what moc can parse.
class MainWindow final : public QWidget, public WindowOperations {
 public:
  static constexpr int kClientWidth = 522;
  static constexpr int kClientHeight = 416;
  static constexpr int kStatusPart0RightEdge = 350;

  // `dialogs` must outlive the window.
  explicit MainWindow(Dialogs& dialogs, RunHandlers handlers = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The widget behind a control of the form.
  QWidget* ControlWidget(Control control) const;
  TrackListModel& ListModel() const { return *listModel_; }
  StatusBar& Status() const { return *状态条1_; }
  PaintPump& Pump() { return pump_; }
  bool RunActive() const { return pump_.Running(); }

  // For the network wait hook: lets the window paint while a run waits on the network.
  void PumpIfDue() { pump_.PumpIfDue(); }

  // WindowOperations.
  Text EditText(Control box) override;
  void SetEditText(Control box, const Text& text) override;
  void SetListCaption(const Text& caption) override;
  void DeleteAllRows() override;
  int InsertRow(const Text& column0) override;
  void SetCell(int row, int column, const Text& text) override;
  Text CellText(int row, int column) override;
  int RowCount() override;
  void SetStatusText(const Text& text) override;
  void SetProgressPosition(int position) override;
  void SetProgressVisible(bool visible) override;
  void SetEnabled(Control control, bool enabled) override;
  void ShowMessage(const Text& text, const Text& title, MessageIcon icon) override;

 public:
  // Handlers of the window's events; each runs to completion in the GUI thread.
  void OnExtractTrackList();
  void OnBrowseDownloadDir();
  void OnDownloadAll();
  // x and y in the status bar's own coordinates.
  void OnStatusBarDoubleClick(int x, int y, Qt::KeyboardModifiers keys);

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void SetTabOrder();
  void RunToCompletion(const RunHandler& handler);
  QLineEdit* EditBox(Control box) const;

  Dialogs& dialogs_;
  RunHandlers handlers_;
  PaintPump pump_;
  bool closeRequestedDuringRun_ = false;
  std::vector<RunHandler> deferredRuns_;

  QGroupBox* 分组框1_ = nullptr;
  QLabel* 标签2_ = nullptr;
  QLineEdit* 编辑框_URL_ = nullptr;
  QPushButton* 按钮_提取音频列表_ = nullptr;
  QLabel* 列表标题_ = nullptr;
  QTableView* 超级列表框_音频列表_ = nullptr;
  QLabel* 标签3_ = nullptr;
  QLineEdit* 编辑框_下载目录_ = nullptr;
  QPushButton* 按钮_浏览下载目录_ = nullptr;
  QPushButton* 按钮_下载_ = nullptr;
  QProgressBar* 进度条1_ = nullptr;
  StatusBar* 状态条1_ = nullptr;
  TrackListModel* listModel_ = nullptr;
  std::map<Control, QWidget*> controls_;
};

// Texts of the window that other code and tests refer to.
extern const char* const kInitialAlbumLink;
extern const char* const kCreditLine;

}  // namespace ombrik
