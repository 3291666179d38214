// Start-up and shutdown of the program, in-process: the shared arrays, the exit clean-up and
// the ways the window can be closed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <thread>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/program_start.h"
#include "catalogue/track_arrays.h"
#include "recording_dialogs.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

using testing::RecordingDialogs;

MainWindow* TheWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* window = dynamic_cast<MainWindow*>(w)) return window;
  }
  return nullptr;
}

struct StartTest : ::testing::Test {
  // Runs the program with the arrays holding leftovers and `whileRunning` called from the loop.
  int Run(std::function<void(MainWindow&)> whileRunning, RunHandlers handlers = {}) {
    TrackTitles.Append("left over");
    TrackPlayPaths.Append("left over");
    StartOptions options;
    options.dialogs = &dialogs;
    options.handlers = std::move(handlers);
    options.exitCleanup = [this] {
      ++cleanups;
      arraysAtCleanup = TrackTitles.Size() + TrackPlayPaths.Size();
      windowAliveAtCleanup = TheWindow() != nullptr;
      ReleaseTrackArrays();
    };
    QTimer::singleShot(0, [this, whileRunning] {
      MainWindow* window = TheWindow();
      ASSERT_NE(window, nullptr);
      visibleInLoop = window->isVisible();
      arraysAtStart = TrackTitles.Size() + TrackPlayPaths.Size();
      whileRunning(*window);
    });
    return RunProgram(*qApp, std::move(options));
  }

  RecordingDialogs dialogs;
  int cleanups = 0;
  int arraysAtStart = -1;
  int arraysAtCleanup = -1;
  bool visibleInLoop = false;
  bool windowAliveAtCleanup = true;
};

TEST_F(StartTest, ArraysStartEmptyAndAreReleasedOnceAfterTheWindowCloses) {
  const int rc = Run([](MainWindow& window) {
    // What an extraction leaves behind.
    TrackTitles.Append("a");
    TrackPlayPaths.Append("https://x.example/a.m4a");
    window.close();
  });
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(visibleInLoop);
  EXPECT_EQ(arraysAtStart, 0);
  EXPECT_EQ(cleanups, 1);
  EXPECT_EQ(arraysAtCleanup, 2);
  EXPECT_FALSE(windowAliveAtCleanup) << "clean-up ran before the window was gone";
  EXPECT_EQ(TrackTitles.Size(), 0);
  EXPECT_EQ(TrackPlayPaths.Size(), 0);
}

TEST_F(StartTest, TerminationSignalClosesTheWindowLikeTheCloseButton) {
  const int rc = Run([](MainWindow&) { std::raise(SIGTERM); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(cleanups, 1);
  // The program's own handlers are gone again afterwards.
  struct sigaction now {};
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST_F(StartTest, TerminationDuringARunWaitsForTheRun) {
  bool visibleAfterSignal = false;
  RunHandlers handlers;
  handlers.download = [&](WindowOperations& ops) {
    std::raise(SIGINT);
    MainWindow* window = TheWindow();
    for (int i = 0; i < 20; ++i) {  // the run keeps working and pumping
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      window->Pump().Pump();
    }
    ops.SetStatusText("still here");
    visibleAfterSignal = window->isVisible();
  };
  const int rc = Run([](MainWindow& window) { window.OnDownloadAll(); }, handlers);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(visibleAfterSignal);
  EXPECT_EQ(cleanups, 1);
}

TEST(ProgramSettings, TheWindowReadsItsSettingsFromTheEnvironment) {
  const auto with = [](std::vector<std::pair<const char*, const char*>> variables) {
    for (const char* name : {"OMBRIK_API_ORIGIN", "OMBRIK_CA_FILE", "OMBRIK_INSECURE"}) unsetenv(name);
    for (const auto& [name, value] : variables) setenv(name, value, 1);
    const ProgramSettings settings = ProgramSettingsFromEnvironment();
    for (const char* name : {"OMBRIK_API_ORIGIN", "OMBRIK_CA_FILE", "OMBRIK_INSECURE"}) unsetenv(name);
    return settings;
  };
  ProgramSettings s = with({});
  EXPECT_TRUE(s.apiOrigin.empty());
  EXPECT_TRUE(s.network.verifyCertificates);
  EXPECT_TRUE(s.network.caFile.empty());
  EXPECT_EQ(s.retry.retries, kWindowRetries);
  s = with({{"OMBRIK_API_ORIGIN", "https://127.0.0.1:9"}, {"OMBRIK_CA_FILE", "/tmp/ca.pem"}, {"OMBRIK_INSECURE", "1"}});
  EXPECT_EQ(TextToUtf8(s.apiOrigin), "https://127.0.0.1:9");
  EXPECT_EQ(s.network.caFile, "/tmp/ca.pem");
  EXPECT_FALSE(s.network.verifyCertificates);
  EXPECT_TRUE(with({{"OMBRIK_INSECURE", "yes"}}).network.verifyCertificates);  // only "1" turns checks off
}

TEST(ApplicationIdentity, NameVersionAndDesktopEntry) {
  SetApplicationIdentity();
  EXPECT_EQ(QApplication::applicationName(), "Ombrik");
  EXPECT_EQ(QApplication::applicationVersion(), "1.0.0.0");
  EXPECT_EQ(QGuiApplication::desktopFileName(), "ombrik");
}

TEST_F(StartTest, NetworkWaitsInsideARunKeepTheWindowPainting) {
  int pumps = -1;
  RunHandlers handlers;
  handlers.extract = [&](WindowOperations&) {
    MainWindow* window = TheWindow();
    const int before = window->Pump().PumpCount();
    for (int i = 0; i < 30; ++i) {  // a transfer waiting on a slow server
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      CallNetworkWaitHook();
    }
    pumps = window->Pump().PumpCount() - before;
  };
  const int rc = Run(
      [](MainWindow& window) {
        window.OnExtractTrackList();
        window.close();
      },
      handlers);
  EXPECT_EQ(rc, 0);
  EXPECT_GE(pumps, 1);
  CallNetworkWaitHook();  // the window is gone: the hook must be too
}

}  // namespace
}  // namespace ombrik
