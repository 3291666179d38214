#include "app/program_start.h"

#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <csignal>
#include <utility>

#include "app/dialogs.h"
#include "catalogue/extraction.h"
#include "download/download_run.h"
#include "text/text.h"
#include "web/network_wait.h"

namespace ombrik {

namespace {

// Runs a function once when the scope ends, whichever way it ends.
class ExitCleanup {
 public:
  explicit ExitCleanup(std::function<void()> cleanup) : cleanup_(std::move(cleanup)) {}
  ~ExitCleanup() {
    if (cleanup_) cleanup_();
  }
  ExitCleanup(const ExitCleanup&) = delete;
  ExitCleanup& operator=(const ExitCleanup&) = delete;

 private:
  std::function<void()> cleanup_;
};

// Turns SIGTERM, SIGINT and SIGHUP into a call in the GUI thread (the self-pipe way: a signal
// handler may only write to a descriptor), so that a terminated program closes its window and
// cleans up like one closed by the user.
class QuitOnSignals {
 public:
  explicit QuitOnSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fds_[1], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      char drained[16];
      [[maybe_unused]] const auto n = ::read(fds_[1], drained, sizeof drained);
      onSignal_();
    });
    writeEnd_ = fds_[0];
    struct sigaction action {};
    action.sa_handler = &QuitOnSignals::Handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : kSignals) ::sigaction(sig, &action, nullptr);
  }

  ~QuitOnSignals() {
    if (!notifier_) return;
    for (const int sig : kSignals) std::signal(sig, SIG_DFL);
    writeEnd_ = -1;
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
  }

  QuitOnSignals(const QuitOnSignals&) = delete;
  QuitOnSignals& operator=(const QuitOnSignals&) = delete;

 private:
  static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
  static inline volatile std::sig_atomic_t writeEnd_ = -1;

  static void Handle(int) {
    const char byte = 1;
    if (writeEnd_ >= 0) [[maybe_unused]]
      const auto n = ::write(writeEnd_, &byte, 1);
  }

  std::function<void()> onSignal_;
  int fds_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

QtChineseTexts::QtChineseTexts() {
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  // qtbase holds the texts of the widgets the window uses (message box, file dialog).
  if (!translator_.load(QStringLiteral("qtbase_zh_CN"), dir)) {
    qWarning("Qt's Chinese translations (qtbase_zh_CN) not found in %s; dialogs stay in English", qPrintable(dir));
    return;
  }
  installed_ = QCoreApplication::installTranslator(&translator_);
}

QtChineseTexts::~QtChineseTexts() {
  if (installed_) QCoreApplication::removeTranslator(&translator_);
}

ProgramSettings ProgramSettingsFromEnvironment() {
  const auto variable = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value == nullptr ? "" : value);
  };
  ProgramSettings settings;
  settings.apiOrigin = TextFromUtf8(variable("OMBRIK_API_ORIGIN"));
  settings.network.caFile = variable("OMBRIK_CA_FILE");
  settings.network.verifyCertificates = variable("OMBRIK_INSECURE") != "1";
  settings.retry.retries = kWindowRetries;
  return settings;
}

RunHandlers ProgramRunHandlers(const ProgramSettings& settings) {
  return {[settings](WindowOperations& window) {
            OnExtractTrackList(window,
                               {.apiOrigin = settings.apiOrigin, .retry = settings.retry, .network = settings.network});
          },
          [settings](WindowOperations& window) {
            DownloadRunOptions options;
            options.fetch.retry = settings.retry;
            options.fetch.network = settings.network;
            OnDownloadAll(window, options);
          }};
}

int RunProgram(QApplication& app, StartOptions options) {
  // The shared state is ready before any window exists, so no handler can see it unset.
  TrackTitles.Clear();
  TrackPlayPaths.Clear();
  const ExitCleanup cleanup(std::move(options.exitCleanup));
  static_assert(AnsiCodePage == 936, "every Text conversion uses code page 936");

  // Before any widget exists, so every standard text is looked up in Chinese.
  const QtChineseTexts qtTexts;
  QtDialogs qtDialogs;
  MainWindow window(options.dialogs ? *options.dialogs : qtDialogs, std::move(options.handlers));
  // Transfers wait inside a run; the window paints meanwhile.
  SetNetworkWaitHook([&window] { window.PumpIfDue(); });
  const ExitCleanup unhook([] { SetNetworkWaitHook({}); });
  const QuitOnSignals quit([] { QApplication::closeAllWindows(); });
  window.show();
  return app.exec();
}

void SetApplicationIdentity() {
  QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QApplication::setApplicationVersion(QString::fromLatin1(kApplicationVersion));
  // Matches the installed ombrik.desktop, so the desktop groups the window under it.
  QApplication::setDesktopFileName(QStringLiteral("ombrik"));
}

int ProgramStart(int& argc, char** argv) {
  SetApplicationIdentity();
  QApplication app(argc, argv);
  StartOptions options;
  options.handlers = ProgramRunHandlers(ProgramSettingsFromEnvironment());
  return RunProgram(app, std::move(options));
}

}  // namespace ombrik
