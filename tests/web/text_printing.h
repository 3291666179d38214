// Readable failure messages for Text and Bytes: shown as UTF-8 with escaped line breaks.
#pragma once

#include <ostream>
#include <string>

#include "text/text.h"

namespace ombrik {

inline std::string EscapeForTest(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

inline void PrintTo(const Text& text, std::ostream* os) { *os << '\'' << EscapeForTest(TextToUtf8(text)) << '\''; }
inline void PrintTo(const Bytes& bytes, std::ostream* os) { *os << "bytes '" << EscapeForTest(bytes.data()) << '\''; }

}  // namespace ombrik
