// The program's one UTF-8 decoder and encoder: the code page conversions, the script engine's
// strings and the terminal all read UTF-8 through these.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ombrik {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

struct Utf8Char {
  char32_t cp;         // U+FFFD where the bytes form no character
  std::size_t length;  // bytes taken, at least 1
  bool valid;
};

// Decodes the character at s[i] (i < s.size()). An invalid sequence is U+FFFD and takes the
// bytes of its maximal invalid subpart (Unicode's recommended practice), so one bad sequence
// is one replacement character. Overlong forms and code points above U+10FFFF are invalid;
// surrogates too, unless `allowSurrogates`: the script engine holds UTF-16 surrogates as
// three-byte sequences of their own.
inline Utf8Char DecodeUtf8At(std::string_view s, std::size_t i, bool allowSurrogates = false) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return {b, 1, true};
  std::size_t need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2, cp = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED && !allowSurrogates) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3, cp = b & 0x07;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return {kReplacementCharacter, 1, false};
  }
  std::size_t k = 1;
  for (; k <= need && i + k < s.size(); ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if (c < lo || c > hi) break;
    cp = cp << 6 | (c & 0x3F);
    lo = 0x80, hi = 0xBF;
  }
  if (k <= need) return {kReplacementCharacter, k, false};
  return {cp, k, true};
}

inline void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace ombrik
