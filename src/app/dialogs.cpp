#include "app/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMessageBox>

namespace ombrik {

namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// Qt's Chinese translations name a folder's type in the dialog's detail view under a context
// that Qt 6 no longer asks ("Folder" stays English); the chooser shows only folders and roots.
class ChineseFileTypes final : public QFileIconProvider {
 public:
  QString type(const QFileInfo& info) const override {
    if (info.isRoot()) return QStringLiteral("驱动器");
    if (info.isDir()) return QStringLiteral("文件夹");
    return QFileIconProvider::type(info);
  }
};

}  // namespace

void QtDialogs::ShowMessage(QWidget* owner, const QString& text, const QString& title, MessageIcon icon) {
  // The program's texts break lines with CR LF; a label shows a lone CR as a glyph.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QtIcon(icon), title, shown, QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

QString QtDialogs::ChooseFolder(QWidget* owner, const QString& title, const QString& start) {
  ChineseFileTypes fileTypes;  // outlives the dialog, which does not own it
  QFileDialog dialog(owner, title, start.isEmpty() ? QDir::homePath() : start);
  dialog.setIconProvider(&fileTypes);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  // Qt's own dialog always has the path field; a desktop's native one may hide it.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return {};
  return QDir::toNativeSeparators(chosen.first());
}

}  // namespace ombrik
