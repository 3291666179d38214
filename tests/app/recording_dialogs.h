// Stands in for the window's modal dialogs: records what would have been shown and answers
// the folder chooser with a scripted path.
#pragma once

#include <QString>
#include <vector>

#include "app/dialogs.h"

namespace ombrik::testing {

struct ShownMessage {
  QString text;
  QString title;
  MessageIcon icon;
};

class RecordingDialogs final : public Dialogs {
 public:
  void ShowMessage(QWidget*, const QString& text, const QString& title, MessageIcon icon) override {
    messages.push_back({text, title, icon});
  }
  QString ChooseFolder(QWidget*, const QString& title, const QString&) override {
    folderTitles.push_back(title);
    return folderAnswer;
  }

  std::vector<ShownMessage> messages;
  std::vector<QString> folderTitles;
  QString folderAnswer;  // empty: the user cancels
};

}  // namespace ombrik::testing
