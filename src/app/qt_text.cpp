#include "app/qt_text.h"

#include <QByteArray>

namespace ombrik {

QString ToQString(const Text& text) {
  const std::string utf8 = TextToUtf8(text);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

Text FromQString(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return TextFromUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace ombrik
