// The program's entry: prepares the shared state, opens the window and runs the event loop.
#pragma once

#include <QTranslator>
#include <functional>

#include "app/main_window.h"
#include "catalogue/track_arrays.h"
#include "web/failure.h"
#include "web/network_settings.h"

class QApplication;

namespace ombrik {

class Dialogs;

// Application name and version as the desktop and Qt see them.
inline constexpr const char* kApplicationName = "Ombrik";
inline constexpr const char* kApplicationVersion = "1.0.0.0";
// Further tries of a page or track that failed in a way that can heal.
inline constexpr int kWindowRetries = 2;

// What the window's runs are told: built once from the environment by ProgramStart.
struct ProgramSettings {
  Text apiOrigin;           // OMBRIK_API_ORIGIN; empty: the built-in service
  NetworkSettings network;  // OMBRIK_CA_FILE trusts a certificate; OMBRIK_INSECURE=1 checks none
  RetryPolicy retry;        // kWindowRetries further tries of what can heal
};
ProgramSettings ProgramSettingsFromEnvironment();

struct StartOptions {
  RunHandlers handlers;
  // Null: the real Qt dialogs.
  Dialogs* dialogs = nullptr;
  // Runs once after the event loop ends; the program frees the shared track arrays.
  std::function<void()> exitCleanup = ReleaseTrackArrays;
};

// Qt's own texts (standard dialogs and buttons: 确定, 取消, 选择 ...) in Chinese like the rest of
// the window, whatever the desktop's language. Installed on the application while it lives.
class QtChineseTexts {
 public:
  QtChineseTexts();
  ~QtChineseTexts();
  QtChineseTexts(const QtChineseTexts&) = delete;
  QtChineseTexts& operator=(const QtChineseTexts&) = delete;

  // False when Qt's translations are not installed: the dialogs then speak English.
  bool Installed() const { return installed_; }

 private:
  QTranslator translator_;
  bool installed_ = false;
};

// Names the application and its version for Qt and the desktop; before the QApplication.
void SetApplicationIdentity();

// Initialises Qt and runs the program until its window is closed. SIGTERM, SIGINT and SIGHUP
// close the window as the close button does. Answers the process exit code.
int ProgramStart(int& argc, char** argv);

// Everything after Qt's initialisation, on an existing application object: empty arrays, the
// exit clean-up, Qt's Chinese texts, the window and the loop. Tests run it in-process.
int RunProgram(QApplication& app, StartOptions options);

// The run handlers of the program's two buttons.
RunHandlers ProgramRunHandlers(const ProgramSettings& settings);

}  // namespace ombrik
