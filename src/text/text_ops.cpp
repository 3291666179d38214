#include "text/text_ops.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace ombrik {
namespace {

bool IsLead(unsigned char b) { return b >= 0x80; }

// Bytes of the character starting at i; a lead byte that stands last counts as one.
std::size_t CharLength(const Text& t, std::size_t i) { return IsLead(t.byte(i)) && i + 1 < t.size() ? 2 : 1; }

bool LeadStandsLast(const Text& t, std::size_t i) { return IsLead(t.byte(i)) && i + 1 == t.size(); }

unsigned char FoldAscii(unsigned char b) { return (b >= 'A' && b <= 'Z') ? b + ('a' - 'A') : b; }

bool MatchesAt(const Text& t, std::size_t i, const Text& sought, bool ignoreCase) {
  for (std::size_t k = 0; k < sought.size(); ++k) {
    unsigned char a = t.byte(i + k), b = sought.byte(k);
    if (ignoreCase ? FoldAscii(a) != FoldAscii(b) : a != b) return false;
  }
  return true;
}

// The full-width space 0xA1 0xA1 or the ASCII space; answers its length, 0 for no space.
std::size_t SpaceAt(const Text& t, std::size_t i) {
  if (t.byte(i) == 0x20) return 1;
  if (t.byte(i) == 0xA1 && i + 1 < t.size() && t.byte(i + 1) == 0xA1) return 2;
  return 0;
}

Text Slice(const Text& t, std::size_t from, std::size_t n) { return Text(t.view().substr(from, n)); }

// Full-width digits, signs and spaces folded to ASCII, so numbers typed in full width read.
std::string FoldFullWidth(const Text& t) {
  std::string out;
  out.reserve(t.size());
  for (std::size_t i = 0; i < t.size();) {
    unsigned char b = t.byte(i);
    if (!IsLead(b) || i + 1 == t.size()) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    unsigned char trail = t.byte(i + 1);
    if (b == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      out.push_back(static_cast<char>(trail - 0x80));
    } else if (b == 0xA1 && trail == 0xA1) {
      out.push_back(' ');
    } else if (b == 0xA1 && trail == 0xAB) {
      out.push_back('~');
    } else if (b == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
      out.push_back('*');
    } else {
      out.push_back(static_cast<char>(b));
      out.push_back(static_cast<char>(trail));
    }
    i += 2;
  }
  return out;
}

// The C library's isspace in the "C" locale, without depending on the process locale.
bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int TextLength(const Text& text) { return static_cast<int>(text.size()); }

Text TextLeft(const Text& text, int n) {
  if (n <= 0) return {};
  return Slice(text, 0, static_cast<std::size_t>(n));
}

Text TextRight(const Text& text, int n) {
  if (n <= 0) return {};
  std::size_t k = std::min(text.size(), static_cast<std::size_t>(n));
  return Slice(text, text.size() - k, k);
}

Text TextMid(const Text& text, int start, int n) {
  if (start < 1 || start > TextLength(text) || n <= 0) return {};
  return Slice(text, static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n));
}

int FindText(const Text& text, const Text& sought, std::optional<int> start, bool ignoreCase) {
  std::size_t from = (start && *start > 1) ? static_cast<std::size_t>(*start - 1) : 0;
  if (from >= text.size()) return -1;
  if (sought.empty()) return 1;
  for (std::size_t i = from; text.size() - i >= sought.size() && !LeadStandsLast(text, i); i += CharLength(text, i)) {
    if (MatchesAt(text, i, sought, ignoreCase)) return static_cast<int>(i + 1);
  }
  return -1;
}

int FindLastText(const Text& text, const Text& sought, std::optional<int> start, bool ignoreCase) {
  std::size_t region = text.size();
  if (start) {
    if (*start <= 1) return -1;
    region = std::min(region, static_cast<std::size_t>(*start - 1));
  }
  if (region == 0) return -1;
  if (sought.empty()) return 1;
  int last = -1;
  for (std::size_t i = 0; region >= sought.size() && i <= region - sought.size() && !LeadStandsLast(text, i);
       i += CharLength(text, i)) {
    if (MatchesAt(text, i, sought, ignoreCase)) last = static_cast<int>(i + 1);
  }
  return last;
}

bool TextStartsWith(const Text& text, const Text& prefix) { return text.view().starts_with(prefix.view()); }

namespace {
Text ChangeCase(const Text& text, bool upper) {
  std::string out = text.str();
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char b = text.byte(i);
    if (IsLead(b)) {
      ++i;  // the trail byte, or past a lead byte that stands last
      continue;
    }
    if (upper && b >= 'a' && b <= 'z') out[i] = static_cast<char>(b - ('a' - 'A'));
    if (!upper && b >= 'A' && b <= 'Z') out[i] = static_cast<char>(b + ('a' - 'A'));
  }
  return Text(std::move(out));
}
}  // namespace

Text TextToUpper(const Text& text) { return ChangeCase(text, true); }
Text TextToLower(const Text& text) { return ChangeCase(text, false); }

Text TrimSpaces(const Text& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t n = SpaceAt(text, i);
    if (n == 0) break;
    i += n;
  }
  const std::size_t begin = i;
  std::size_t end = text.size();
  std::size_t runStart = std::string::npos;
  while (i < text.size()) {
    if (LeadStandsLast(text, i)) {
      end = i;  // that byte goes; spaces before it stay
      runStart = std::string::npos;
      break;
    }
    std::size_t n = SpaceAt(text, i);
    if (n > 0) {
      if (runStart == std::string::npos) runStart = i;
      i += n;
    } else {
      runStart = std::string::npos;
      i += CharLength(text, i);
    }
  }
  if (runStart != std::string::npos) end = runStart;
  return Slice(text, begin, end - begin);
}

Text RemoveSpaces(const Text& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (LeadStandsLast(text, i)) break;
    std::size_t n = SpaceAt(text, i);
    if (n > 0) {
      i += n;
      continue;
    }
    n = CharLength(text, i);
    out.append(text.view().substr(i, n));
    i += n;
  }
  return Text(std::move(out));
}

Text ReplaceText(const Text& text, const Text& sought, const Text& replacement, std::optional<int> start,
                 std::optional<int> count, bool caseSensitive) {
  std::size_t from = (start && *start > 1) ? static_cast<std::size_t>(*start - 1) : 0;
  if (text.empty() || sought.empty() || from >= text.size() || (count && *count == 0)) return text;
  // A negative count replaces every occurrence, as an absent one does.
  const bool all = !count || *count < 0;
  int made = 0;
  std::string out(text.view().substr(0, from));
  out.reserve(text.size());
  std::size_t i = from;
  while (i < text.size()) {
    if (text.size() - i < sought.size()) {
      out.append(text.view().substr(i));
      break;
    }
    if (MatchesAt(text, i, sought, !caseSensitive)) {
      out.append(replacement.view());
      i += sought.size();
      if (!all && ++made == *count) {
        out.append(text.view().substr(i));
        break;
      }
      continue;
    }
    if (LeadStandsLast(text, i)) break;
    std::size_t n = CharLength(text, i);
    out.append(text.view().substr(i, n));
    i += n;
  }
  return Text(std::move(out));
}

TextArray SplitKeepingEmpty(const Text& text, const std::optional<Text>& delimiter, std::optional<int> limit) {
  TextArray pieces;
  const Text delim = delimiter.value_or(Text(","));
  const std::size_t max =
      !limit ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(std::max(0, *limit));
  if (text.empty() || max == 0) return pieces;
  if (delim.empty()) {
    pieces.Append(text);
    return pieces;
  }
  std::size_t pieceStart = 0;
  std::size_t cut = 0;
  for (std::size_t i = 0; text.size() - i >= delim.size() && !LeadStandsLast(text, i);) {
    if (MatchesAt(text, i, delim, false)) {
      pieces.Append(Slice(text, pieceStart, i - pieceStart));
      if (++cut == max) return pieces;
      i += delim.size();
      pieceStart = i;
    } else {
      i += CharLength(text, i);
    }
  }
  if (pieceStart < text.size()) pieces.Append(Slice(text, pieceStart, text.size() - pieceStart));
  return pieces;
}

int SplitText(const Text& text, const Text& delimiter, int limit, TextArray& out) {
  out.Clear();
  const Text delim = delimiter.empty() ? Text(",") : delimiter;
  const TextArray raw = SplitKeepingEmpty(text, delim, limit == 0 ? std::nullopt : std::optional<int>(limit));
  for (const Text& piece : raw) {
    if (!piece.empty()) out.Append(piece);
  }
  return out.Size();
}

int CompareText(const Text& a, const Text& b) { return a.str().compare(b.str()); }

Text BlankText(int n) { return n <= 0 ? Text() : Text(std::string(static_cast<std::size_t>(n), ' ')); }

Text CharFromCode(int code) {
  const char c = static_cast<char>(code & 0xFF);
  return Text(std::string_view(&c, 1));
}

int CharCode(const Text& text, std::optional<int> pos) {
  const int p = pos.value_or(1);
  if (p < 1 || p > TextLength(text)) return 0;
  return static_cast<signed char>(text.byte(static_cast<std::size_t>(p - 1)));
}

Text IntToText(std::int32_t value) { return Text(std::to_string(value)); }

Text NumberToText(double value) {
  // Whole numbers below 1e13 print as their digits under "%.13g"; list numbers and indexes are
  // all of this kind, so they skip the general formatter. (-0 prints as "-0": not here.)
  if (std::fabs(value) < 1e13 && value == std::trunc(value) && !(value == 0 && std::signbit(value))) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<long long>(value)).ptr;
    return Text(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.13g", value);
  std::string s = buf;
  // The exponent always has three digits: 1e+13 becomes 1e+013.
  if (auto e = s.find('e'); e != std::string::npos) {
    std::string digits = s.substr(e + 2);  // after 'e' and its sign
    if (digits.size() < 3) s.insert(e + 2, 3 - digits.size(), '0');
  }
  return Text(std::move(s));
}

std::int32_t TextToInt(const Text& text) {
  const std::string s = FoldFullWidth(text);
  std::size_t i = 0;
  while (i < s.size() && IsCSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::int64_t value = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > std::int64_t{1} << 32) value = std::int64_t{1} << 32;  // saturate below
  }
  if (negative) value = -value;
  // Out of range saturates, as the C library's atoi does.
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::int32_t NumberToInt(double value) { return TruncToInt(value); }

double TextToNumber(const Text& text) {
  const std::string s = FoldFullWidth(text);
  std::size_t i = 0;
  while (i < s.size() && IsCSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // The longest prefix of the form digits [. digits] [e [sign] digits], as atof reads it.
  const std::size_t begin = i;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && IsDigit(s[j])) {
      while (j < s.size() && IsDigit(s[j])) ++j;
      i = j;
    }
  }
  double value = 0.0;
  const auto result = std::from_chars(s.data() + begin, s.data() + i, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large for a double: infinity; too small: zero (from_chars leaves value untouched).
    const bool tiny =
        s.find_first_of("123456789", begin) == std::string::npos || s.find("e-", begin) < i || s.find("E-", begin) < i;
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  const float single = static_cast<float>(value);
  return negative ? -static_cast<double>(single) : static_cast<double>(single);
}

std::int32_t TruncToInt(double value) {
  // Outside the 64-bit range the processor's conversion yields the "integer indefinite"
  // value, whose low 32 bits are zero.
  if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0)) return 0;
  const auto wide = static_cast<std::int64_t>(value);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(wide)));
}

double IntDiv(double a, double b) { return std::trunc(a / b); }
double Remainder(double a, double b) { return std::fmod(a, b); }

Bytes TextToBytes(const Text& text) { return Bytes(text.str()); }
Text BytesToText(const Bytes& bytes) { return Text(std::string_view(bytes.data())); }
int BytesLength(const Bytes& bytes) { return static_cast<int>(bytes.size()); }

Bytes BytesLeft(const Bytes& bytes, int n) {
  if (n <= 0) return {};
  return Bytes(bytes.data().substr(0, static_cast<std::size_t>(n)));
}

Bytes BytesMid(const Bytes& bytes, int start, int n) {
  const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  if (from >= bytes.size() || n <= 0) return {};
  return Bytes(bytes.data().substr(from, static_cast<std::size_t>(n)));
}

Bytes BlankBytes(int n) { return n <= 0 ? Bytes() : Bytes(std::string(static_cast<std::size_t>(n), '\0')); }

bool BytesEqual(const Bytes& a, const Bytes& b) { return a == b; }

}  // namespace ombrik
