// The extraction run in the real window, offscreen: builds the main window with the program's
// own run handlers, puts the album link in the link box, presses the extract button once and
// exits when the run is over. The service origin comes from OMBRIK_API_ORIGIN, as for the
// program.
//
//   QT_QPA_PLATFORM=offscreen ombrik-bench-window LINK
//
// Prints the number of rows on stderr and exits 0 when the list holds at least one row and no
// box was shown.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/program_start.h"
#include "catalogue/track_arrays.h"
#include "web/network_wait.h"

namespace {

// A box would wait for a user; here it is only counted.
class CountingDialogs final : public ombrik::Dialogs {
 public:
  void ShowMessage(QWidget*, const QString& text, const QString&, ombrik::MessageIcon) override {
    std::fprintf(stderr, "box: %s\n", text.toUtf8().constData());
    ++boxes;
  }
  QString ChooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
  int boxes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s LINK\n", argv[0]);
    return 2;
  }
  ombrik::SetApplicationIdentity();
  QApplication app(argc, argv);
  ombrik::TrackTitles.Clear();
  ombrik::TrackPlayPaths.Clear();
  CountingDialogs dialogs;
  ombrik::MainWindow window(dialogs, ombrik::ProgramRunHandlers(ombrik::ProgramSettingsFromEnvironment()));
  ombrik::SetNetworkWaitHook([&window] { window.PumpIfDue(); });
  window.show();
  QApplication::processEvents();

  static_cast<QLineEdit*>(window.ControlWidget(ombrik::Control::编辑框_URL))->setText(QString::fromUtf8(argv[1]));
  static_cast<QPushButton*>(window.ControlWidget(ombrik::Control::按钮_提取音频列表))->click();
  // The filled list is painted once before the program ends, as a user would see it.
  window.repaint();
  QApplication::processEvents();

  const int rows = window.RowCount();
  std::fprintf(stderr, "%d rows\n", rows);
  ombrik::SetNetworkWaitHook({});
  return rows > 0 && dialogs.boxes == 0 ? 0 : 1;
}
