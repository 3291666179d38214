#include "text/codepage.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "text/text_ops.h"
#include "text/utf8.h"

namespace ombrik {
namespace {

constexpr char16_t kReplacement = kReplacementCharacter;
constexpr char kDefaultChar = '?';

// Code page 936 as two lookup tables, built once from the system's converter (glibc iconv,
// whose CP936 is the Windows table: 0x80 is the euro sign). Conversions then cost one table
// look-up per character instead of a converter call.
struct Cp936Tables {
  std::array<char16_t, 65536> doubleToUnicode{};     // lead << 8 | trail -> unit, 0 = undefined
  std::array<std::uint16_t, 65536> unicodeToCode{};  // unit -> byte or lead << 8 | trail, 0 = none

  Cp936Tables() {
    for (unsigned c = 1; c < 0x80; ++c) unicodeToCode[c] = static_cast<std::uint16_t>(c);
    unicodeToCode[0x20AC] = 0x80;
    iconv_t cd = iconv_open("UTF-16LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;  // no table: every non-ASCII becomes '?'
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char out[8];
        char* inp = in;
        char* outp = out;
        std::size_t inLeft = 2, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1) || sizeof out - outLeft != 2) {
          continue;
        }
        const auto unit =
            static_cast<char16_t>(static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8);
        const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
        doubleToUnicode[code] = unit;
        if (unicodeToCode[unit] == 0) unicodeToCode[unit] = code;
      }
    }
    iconv_close(cd);
  }
};

const Cp936Tables& Tables() {
  static const Cp936Tables tables;
  return tables;
}

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// The length of the run of ASCII bytes (zero excluded) at the start of s, eight at a time:
// answers are mostly ASCII, and copying runs whole is what makes the conversions cheap.
std::size_t AsciiRun(std::string_view s) {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    // A set top bit, or a zero byte, ends the run.
    const bool high = (word & 0x8080808080808080ull) != 0;
    const bool zero = ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
    if (high || zero) break;
  }
  while (i < s.size() && s[i] != 0 && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

// Walks UTF-8 up to the first zero byte: runs of ASCII go to ascii(run), every other
// character to other(code point); an invalid sequence is U+FFFD.
template <typename Ascii, typename Other>
void WalkUtf8(std::string_view s, Ascii ascii, Other other) {
  for (std::size_t i = 0; i < s.size();) {
    if (const std::size_t run = AsciiRun(s.substr(i)); run > 0) {
      ascii(s.substr(i, run));
      i += run;
      continue;
    }
    if (s[i] == 0) return;
    const Utf8Char c = DecodeUtf8At(s, i);
    other(c.cp);
    i += c.length;
  }
}

bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Walks code page 936 up to the first zero byte, as WalkUtf8 does. Bytes that form no
// character are '?'.
template <typename Ascii, typename Other>
void WalkCp936(std::string_view s, Ascii ascii, Other other) {
  const Cp936Tables& t = Tables();
  for (std::size_t i = 0; i < s.size();) {
    if (const std::size_t run = AsciiRun(s.substr(i)); run > 0) {
      ascii(s.substr(i, run));
      i += run;
      continue;
    }
    const auto b = static_cast<unsigned char>(s[i]);
    if (b == 0) return;
    if (b == 0x80) {
      other(0x20AC);
      ++i;
    } else if (b <= 0xFE && i + 1 < s.size() && IsTrailByte(static_cast<unsigned char>(s[i + 1]))) {
      const char16_t unit = t.doubleToUnicode[b << 8 | static_cast<unsigned char>(s[i + 1])];
      other(unit != 0 ? unit : U'?');
      i += 2;
    } else {
      other(U'?');
      ++i;
    }
  }
}

// Walks UTF-16 units: a surrogate pair is one code point, a lone surrogate U+FFFD.
template <typename Other>
void WalkUtf16(std::u16string_view w, Other other) {
  for (std::size_t i = 0; i < w.size(); ++i) {
    char32_t cp = w[i];
    if (IsHighSurrogate(cp) && i + 1 < w.size() && IsLowSurrogate(w[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[++i] - 0xDC00);
    } else if (IsHighSurrogate(cp) || IsLowSurrogate(cp)) {
      cp = kReplacement;
    }
    other(cp);
  }
}

// A character the code page lacks (anything beyond the BMP included) becomes '?'.
void AppendCp936(std::string& out, char32_t cp) {
  const std::uint16_t code = cp < 0x10000 ? Tables().unicodeToCode[cp] : 0;
  if (code == 0) {
    out.push_back(kDefaultChar);
  } else if (code < 0x100) {
    out.push_back(static_cast<char>(code));
  } else {
    out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
  }
}

std::u16string DecodeUtf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  WalkUtf8(
      s, [&](std::string_view run) { out.append(run.begin(), run.end()); }, [&](char32_t cp) { AppendUtf16(out, cp); });
  return out;
}

std::string EncodeUtf8(std::u16string_view w) {
  std::string out;
  out.reserve(w.size() * 3);
  WalkUtf16(w, [&](char32_t cp) { AppendUtf8(out, cp); });
  return out;
}

std::u16string DecodeCp936(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  WalkCp936(
      s, [&](std::string_view run) { out.append(run.begin(), run.end()); }, [&](char32_t cp) { AppendUtf16(out, cp); });
  return out;
}

std::string EncodeCp936(std::u16string_view w) {
  std::string out;
  out.reserve(w.size() * 2);
  WalkUtf16(w, [&](char32_t cp) { AppendCp936(out, cp); });
  return out;
}

// The direct forms skip the UTF-16 step; the characters met are the same.
std::string Utf8ToCp936(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  WalkUtf8(
      s, [&](std::string_view run) { out.append(run); }, [&](char32_t cp) { AppendCp936(out, cp); });
  return out;
}

std::string Cp936ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 2);
  WalkCp936(
      s, [&](std::string_view run) { out.append(run); }, [&](char32_t cp) { AppendUtf8(out, cp); });
  return out;
}

std::u16string DecodeFrom(std::string_view bytes, int codePage) {
  return codePage == CodePageUtf8 ? DecodeUtf8(bytes) : DecodeCp936(bytes);
}

std::string EncodeTo(std::u16string_view wide, int codePage) {
  return codePage == CodePageUtf8 ? EncodeUtf8(wide) : EncodeCp936(wide);
}

Bytes UnitsToBytes(std::u16string_view units, bool terminator) {
  Bytes out;
  std::string& d = out.data();
  d.reserve(units.size() * 2 + 2);
  for (char16_t u : units) {
    d.push_back(static_cast<char>(u & 0xFF));
    d.push_back(static_cast<char>(u >> 8));
  }
  if (terminator) d.append(2, '\0');
  return out;
}

// The units before the first zero unit; an odd last byte is read with a zero high byte, as
// the appended terminator would make it.
std::u16string BytesToUnits(const Bytes& wide) {
  std::u16string units;
  const unsigned char* p = wide.bytes();
  for (std::size_t i = 0; i < wide.size(); i += 2) {
    const char16_t u = static_cast<char16_t>(p[i] | (i + 1 < wide.size() ? p[i + 1] << 8 : 0));
    if (u == 0) break;
    units.push_back(u);
  }
  return units;
}

}  // namespace

Text TextFromUtf8(std::string_view utf8) { return Text(Utf8ToCp936(utf8)); }

std::string TextToUtf8(const Text& text) { return Cp936ToUtf8(text.view()); }

Text UrlDecode(const Text& text, bool convertUtf8) {
  if (text.empty()) return {};
  const std::string_view s = text.view();
  std::string decoded;
  decoded.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    // Most of an answer has neither '%' nor '+': copy such runs whole.
    std::size_t plain = i;
    while (plain < s.size() && s[plain] != '%' && s[plain] != '+') ++plain;
    decoded.append(s.substr(i, plain - i));
    i = plain;
    if (i == s.size()) break;
    const char c = s[i];
    if (c == '+') {
      decoded.push_back(' ');
      ++i;
      continue;
    }
    // '%': sscanf("%x") over at most the two characters after '%': white space, a sign, hex digits.
    const std::string_view field = s.substr(i + 1, 2);
    std::size_t k = 0;
    while (k < field.size() && (field[k] == ' ' || (field[k] >= '\t' && field[k] <= '\r'))) ++k;
    bool negative = false;
    if (k < field.size() && (field[k] == '+' || field[k] == '-')) negative = field[k++] == '-';
    std::uint32_t value = 0;
    bool any = false;
    for (; k < field.size(); ++k) {
      const char h = field[k];
      int digit = (h >= '0' && h <= '9')   ? h - '0'
                  : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                  : (h >= 'A' && h <= 'F') ? h - 'A' + 10
                                           : -1;
      if (digit < 0) break;
      value = value * 16 + static_cast<std::uint32_t>(digit);
      any = true;
    }
    if (!any) {
      decoded.push_back('%');
      ++i;
      continue;
    }
    if (negative) value = 0u - value;
    decoded.push_back(static_cast<char>(value & 0xFF));
    i = std::min(i + 3, s.size());
  }
  if (convertUtf8) return Text(Utf8ToCp936(decoded));
  return Text(std::string_view(decoded));
}

Text Utf8ToAnsi(const Bytes& utf8) { return Utf16ToAnsi(MultiByteToUtf16(utf8, CodePageUtf8)); }

Bytes MultiByteToUtf16(const Bytes& bytes, int codePage) {
  const std::string_view s(bytes.data().c_str());  // up to the first zero byte
  if (s.empty()) return {};
  return UnitsToBytes(DecodeFrom(s, codePage), true);
}

Bytes Utf16ToMultiByte(const Bytes& wide, int codePage) {
  const std::u16string units = BytesToUnits(wide);
  if (units.empty()) return {};
  return Bytes(EncodeTo(units, codePage));
}

Text Utf16ToText(const Bytes& wide, int codePage, bool useCodePage) {
  return BytesToText(Utf16ToMultiByte(wide, useCodePage ? codePage : CodePageSystem));
}

Text Utf16ToAnsi(const Bytes& wide) { return Utf16ToText(wide, AnsiCodePage, true); }

Bytes AnsiToUtf16(const Text& text, bool dropTerminator) {
  Bytes wide = MultiByteToUtf16(TextToBytes(text), AnsiCodePage);
  return dropTerminator ? Utf16UntilZero(wide, false) : wide;
}

Bytes Utf16UntilZero(const Bytes& wide, bool addTerminator) {
  if (wide.size() < 2) return {};
  const unsigned char* p = wide.bytes();
  std::size_t k = 0;
  while (k + 2 <= wide.size() && (p[k] | p[k + 1]) != 0) k += 2;
  if (k == 0 || k > wide.size()) return {};
  Bytes out(wide.data().substr(0, k));
  if (addTerminator) out.data().append(2, '\0');
  return out;
}

}  // namespace ombrik
