// Engine strings to proper UTF-8. The engine keeps UTF-16 surrogates as three-byte sequences
// of their own (CESU-8) and takes whatever bytes a JSON text holds.
#include <string>
#include <string_view>

#include "json/script_engine.h"
#include "text/utf8.h"

namespace ombrik {

namespace {
bool IsHighSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDBFF; }
bool IsLowSurrogate(char32_t cp) { return cp >= 0xDC00 && cp <= 0xDFFF; }
}  // namespace

std::string EngineStringToUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  if (i == s.size()) return std::string(s);
  std::string out(s.substr(0, i));
  out.reserve(s.size());
  while (i < s.size()) {
    Utf8Char c = DecodeUtf8At(s, i, true);
    if (IsHighSurrogate(c.cp)) {
      const Utf8Char low = i + c.length < s.size() ? DecodeUtf8At(s, i + c.length, true) : Utf8Char{0, 0, false};
      if (IsLowSurrogate(low.cp)) {
        c.cp = 0x10000 + ((c.cp - 0xD800) << 10) + (low.cp - 0xDC00);
        c.length += low.length;
      } else {
        c.cp = kReplacementCharacter;
      }
    } else if (IsLowSurrogate(c.cp)) {
      c.cp = kReplacementCharacter;
    }
    AppendUtf8(out, c.cp);
    i += c.length;
  }
  return out;
}

}  // namespace ombrik
