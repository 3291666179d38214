// Texts (code page 936) meet Qt's UTF-16 strings here and nowhere else.
#pragma once

#include <QString>

#include "text/text.h"

namespace ombrik {

QString ToQString(const Text& text);
Text FromQString(const QString& text);

}  // namespace ombrik
