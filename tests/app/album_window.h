// The real window with the program's own run handlers, against the loopback album service
// over HTTPS: what a user sees after pressing the buttons.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "album_service/album_service.h"
#include "app/main_window.h"
#include "app/program_start.h"
#include "app/status_bar.h"
#include "catalogue/track_arrays.h"
#include "recording_dialogs.h"
#include "web/network_wait.h"

namespace ombrik::testing {

const std::string kPageService = "/m-revision/common/album/queryAlbumTrackRecordsByPage";

inline std::string PageQuery(const std::string& album, int page, int size) {
  return kPageService + "?albumId=" + album + "&page=" + std::to_string(page) + "&pageSize=" + std::to_string(size) +
         "&asc=true";
}

// The probe and then pages 1..pages of 100.
inline std::vector<std::string> ExtractionRequests(const std::string& album, int pages) {
  std::vector<std::string> targets{PageQuery(album, 1, 2)};
  for (int p = 1; p <= pages; ++p) targets.push_back(PageQuery(album, p, 100));
  return targets;
}

inline std::string Utf8(const QString& s) { return s.toStdString(); }

// Records the boxes like RecordingDialogs, and lets a test look at the window the moment a box
// would appear (the run is waiting for the user then).
class ObservedDialogs final : public Dialogs {
 public:
  explicit ObservedDialogs(RecordingDialogs& recorder) : recorder_(recorder) {}
  void ShowMessage(QWidget* owner, const QString& text, const QString& title, MessageIcon icon) override {
    if (onMessage) onMessage();
    recorder_.ShowMessage(owner, text, title, icon);
  }
  QString ChooseFolder(QWidget* owner, const QString& title, const QString& start) override {
    return recorder_.ChooseFolder(owner, title, start);
  }

  std::function<void()> onMessage;

 private:
  RecordingDialogs& recorder_;
};

// One HTTPS album service per suite; a fresh window and fresh shared arrays per test.
class AlbumWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new albumservice::AlbumService({}); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }

  void SetUp() override {
    settings_.apiOrigin = TextFromUtf8(service_->Origin());
    settings_.network.caPem = service_->CertificatePem();
    settings_.retry.retries = kWindowRetries;
    ReleaseTrackArrays();
    OpenWindow();
    service_->ClearRequests();
  }

  // A fresh window, as the program opens it.
  void OpenWindow() {
    SetNetworkWaitHook({});
    window_.reset();
    // The program's handlers, with the settings as they are when a button is pressed.
    const RunHandlers handlers{[this](WindowOperations& w) { ProgramRunHandlers(settings_).extract(w); },
                               [this](WindowOperations& w) { ProgramRunHandlers(settings_).download(w); }};
    window_ = std::make_unique<MainWindow>(observed_, handlers);
    // As the program wires it: transfers keep the window painting while they wait.
    SetNetworkWaitHook([w = window_.get()] { w->PumpIfDue(); });
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  void TearDown() override {
    SetNetworkWaitHook({});
    window_.reset();
    ReleaseTrackArrays();
  }

  template <typename W = QWidget>
  W* Find(const char* name) const {
    W* w = window_->findChild<W*>(QString::fromUtf8(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // Sets the link and presses "提取音频列表" with the mouse.
  void Extract(const std::string& link) {
    Find<QLineEdit>("编辑框_URL")->setText(QString::fromStdString(link));
    Press("按钮_提取音频列表");
  }

  void Press(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }

  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    for (const auto& r : service_->Requests()) targets.push_back(r.target);
    return targets;
  }

  // What the list widget shows.
  int Rows() const { return Find<QTableView>("超级列表框_音频列表")->model()->rowCount(); }
  std::string Cell(int row, int column) const {
    const QAbstractItemModel* model = Find<QTableView>("超级列表框_音频列表")->model();
    return Utf8(model->data(model->index(row, column)).toString());
  }
  std::string Caption() const { return Utf8(Find<QLabel>("列表标题")->text()); }
  std::string Status() const { return Utf8(Find<StatusBar>("状态条1")->PartText(0)); }

  static albumservice::AlbumService* service_;
  RecordingDialogs dialogs_;
  ObservedDialogs observed_{dialogs_};
  // What the window's runs are told; a test may change it between presses.
  ProgramSettings settings_;
  std::unique_ptr<MainWindow> window_;
};

inline albumservice::AlbumService* AlbumWindowTest::service_ = nullptr;

}  // namespace ombrik::testing
