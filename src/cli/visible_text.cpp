#include "cli/visible_text.h"

#include <cstdio>

namespace ombrik::cli {

std::string VisibleText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  char escape[8];
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x20 || b == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", b);
      out += escape;
    } else if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      // U+0080..U+009F: the C1 controls, CSI (U+009B) among them.
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(utf8[i + 1]));
      out += escape;
      ++i;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace ombrik::cli
