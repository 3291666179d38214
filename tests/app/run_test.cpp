// A long run keeps the window painting but acts on no input until it returns.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <memory>
#include <thread>

#include "app/main_window.h"
#include "recording_dialogs.h"

namespace ombrik {
namespace {

using testing::RecordingDialogs;

// Counts paints of a widget.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Busy work that keeps the GUI thread, as a run does; `tick` stands in for the network wait hook.
void Work(int ms, const std::function<void()>& tick) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    tick();
  }
}

TEST(RunPainting, ListRowsArePaintedDuringTheRunInBatches) {
  RecordingDialogs dialogs;
  RunHandlers handlers;
  MainWindow* self = nullptr;
  int paintsSeenInRun = 0;
  PaintCounter* counter = nullptr;
  constexpr int kRows = 3000;
  handlers.extract = [&](WindowOperations& ops) {
    const int before = counter->paints;
    for (int i = 0; i < kRows; ++i) {
      const int row = ops.InsertRow(Text(std::to_string(i)));
      ops.SetCell(row, 1, "title");
      if (i % 100 == 0) Work(10, [&] { self->PumpIfDue(); });
    }
    Work(150, [&] { self->PumpIfDue(); });  // waiting on the network
    paintsSeenInRun = counter->paints - before;
  };
  MainWindow window(dialogs, handlers);
  self = &window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* list = window.findChild<QTableView*>("超级列表框_音频列表");
  PaintCounter listPaints(list->viewport());
  counter = &listPaints;
  QApplication::processEvents();

  const int pumpsBefore = window.Pump().PumpCount();
  window.OnExtractTrackList();
  const int pumps = window.Pump().PumpCount() - pumpsBefore;
  EXPECT_GE(paintsSeenInRun, 1) << "the list was not repainted while the run worked";
  EXPECT_GE(pumps, 2);
  // Batched: nowhere near a pump (let alone a repaint) per row or per cell.
  EXPECT_LT(pumps, kRows / 10);
  EXPECT_EQ(window.RowCount(), kRows);
}

TEST(RunPainting, NoPumpingOutsideARun) {
  RecordingDialogs dialogs;
  MainWindow window(dialogs);
  const int before = window.Pump().PumpCount();
  Work(60, [&] { window.PumpIfDue(); });
  window.InsertRow("1");
  EXPECT_EQ(window.Pump().PumpCount(), before);
}

struct RunInputTest : ::testing::Test {
  // The first run does `duringRun` and works a while; later runs only count.
  void Start(std::function<void()> duringRun) {
    handlers.extract = [this, duringRun](WindowOperations& ops) {
      ++runs;
      deepest = std::max(deepest, ++depth);
      if (runs == 1) {
        duringRun();
        Work(100, [this] { window->PumpIfDue(); });
        ops.InsertRow("1");
        visibleAtEndOfFirstRun = window->isVisible();
      }
      --depth;
    };
    window = std::make_unique<MainWindow>(dialogs, handlers);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ExtractButton()->click();
  }
  QPushButton* ExtractButton() { return window->findChild<QPushButton*>("按钮_提取音频列表"); }

  RecordingDialogs dialogs;
  RunHandlers handlers;
  std::unique_ptr<MainWindow> window;
  int runs = 0, depth = 0, deepest = 0;
  bool visibleAtEndOfFirstRun = false;
};

TEST_F(RunInputTest, ASecondClickRunsOnlyAfterTheFirstRunReturns) {
  Start([this] { ExtractButton()->click(); });
  EXPECT_EQ(runs, 1);
  QTRY_COMPARE_WITH_TIMEOUT(runs, 2, 2000);
  EXPECT_EQ(deepest, 1) << "a second run started inside the first";
  EXPECT_TRUE(window->isVisible());
}

TEST_F(RunInputTest, CloseDuringARunClosesAfterItAndDropsLaterClicks) {
  Start([this] {
    window->close();           // the close button, mid-run
    ExtractButton()->click();  // then the button again
  });
  EXPECT_TRUE(visibleAtEndOfFirstRun) << "the window closed under the running handler";
  EXPECT_FALSE(window->isVisible()) << "the close request was lost";
  QTest::qWait(50);
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace ombrik
