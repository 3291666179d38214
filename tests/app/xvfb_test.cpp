// The real program on a real X display (Xvfb): it opens its window and a SIGTERM closes it
// cleanly.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>

namespace {

// An X server on a free display, for the length of a test.
class XServer {
 public:
  bool Start() {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty()) return false;
    // -displayfd 1: the server picks a free display and prints its number when ready.
    process_.start(xvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!process_.waitForStarted(5000)) return false;
    QElapsedTimer t;
    t.start();
    while (!process_.canReadLine() && t.elapsed() < 10000) process_.waitForReadyRead(200);
    const QString line = QString::fromLatin1(process_.readLine()).trimmed();
    if (line.isEmpty()) return false;
    display_ = ":" + line;
    return true;
  }
  ~XServer() {
    if (process_.state() != QProcess::NotRunning) {
      process_.terminate();
      if (!process_.waitForFinished(5000)) process_.kill();
      process_.waitForFinished(1000);
    }
  }
  QString Display() const { return display_; }

 private:
  QProcess process_;
  QString display_;
};

// Whether a top-level window titled `title` is mapped on `display`.
bool WindowShown(const QString& display, const QString& title) {
  QProcess info;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  info.setProcessEnvironment(env);
  info.start("xwininfo", {"-root", "-tree"});
  if (!info.waitForFinished(5000)) return false;
  return QString::fromUtf8(info.readAllStandardOutput()).contains("\"" + title + "\"");
}

TEST(RealDisplay, OmbrikOpensItsWindowAndClosesCleanlyOnSigterm) {
  if (QStandardPaths::findExecutable("xwininfo").isEmpty()) GTEST_SKIP() << "xwininfo missing";
  XServer x;
  ASSERT_TRUE(x.Start()) << "Xvfb did not start";

  QProcess ombrik;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", x.Display());
  env.insert("QT_QPA_PLATFORM", "xcb");
  ombrik.setProcessEnvironment(env);
  ombrik.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  ombrik.start(OMBRIK_EXECUTABLE, {});
  ASSERT_TRUE(ombrik.waitForStarted(5000));

  QElapsedTimer t;
  t.start();
  bool shown = false;
  while (!shown && t.elapsed() < 20000 && ombrik.state() == QProcess::Running) {
    QTest::qWait(200);
    shown = WindowShown(x.Display(), "Ombrik");
  }
  ASSERT_TRUE(shown) << "no window titled Ombrik appeared";
  ASSERT_EQ(ombrik.state(), QProcess::Running);

  ::kill(static_cast<pid_t>(ombrik.processId()), SIGTERM);
  ASSERT_TRUE(ombrik.waitForFinished(10000)) << "ombrik did not quit on SIGTERM";
  EXPECT_EQ(ombrik.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(ombrik.exitCode(), 0);
}

}  // namespace
