// The window's modal dialogs behind one small interface: the program shows real Qt dialogs,
// tests put a recorder in their place, because a modal box would block a test.
#pragma once

#include <QString>

#include "catalogue/window_ops.h"

class QWidget;

namespace ombrik {

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A modal box with an OK button; returns when it is closed. `title` is never empty here:
  // the window puts in the default title first.
  virtual void ShowMessage(QWidget* owner, const QString& text, const QString& title, MessageIcon icon) = 0;
  // A modal folder chooser with a field to type a path in. Answers the chosen folder, or an
  // empty string when the user cancels. `start` is where it opens (may be empty).
  virtual QString ChooseFolder(QWidget* owner, const QString& title, const QString& start) = 0;
};

// The real dialogs of the program.
class QtDialogs final : public Dialogs {
 public:
  void ShowMessage(QWidget* owner, const QString& text, const QString& title, MessageIcon icon) override;
  QString ChooseFolder(QWidget* owner, const QString& title, const QString& start) override;
};

}  // namespace ombrik
