#include "json/json_reader.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>

#include "text/utf8.h"

namespace ombrik {

namespace {

// Deeper texts go to the engine, whose own limit (and error) then applies.
constexpr int kMaxDepth = 200;
// Up to 15 digits an integer is exact in a double, so it needs no rounding at all.
constexpr int kExactDigits = 15;
// Numbers longer than this are unusual enough to be left to the engine.
constexpr std::size_t kPlainNumberLength = 1000;
// The engine refuses larger exponents ("exponent too large").
constexpr int kMaxExponent = 10000000;
// The engine reads this many significant digits of a number and ignores the rest.
constexpr int kEngineDigits = 20;
// Objects up to this size are checked for repeated keys pair by pair.
constexpr std::uint32_t kSmallObject = 16;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The characters the engine's parser takes into a number before checking it; a number of
// ours followed by one of them is left to the engine.
bool IsNumberChar(char c) { return IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strings whose first byte is one of these are symbols inside the engine; left to it.
bool StartsSymbol(unsigned char b) { return b == 0xFF || (b >= 0x80 && b <= 0x82); }

std::uint8_t StringFlags(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  if (i == s.size()) return JsonValue::kAscii | JsonValue::kWellFormed;
  while (i < s.size()) {
    const Utf8Char c = DecodeUtf8At(s, i, true);
    if (!c.valid) return 0;
    i += c.length;
  }
  return JsonValue::kWellFormed;
}

// ---- numbers ----------------------------------------------------------------------------------
//
// The engine reads the first 20 significant digits of a number, ignores the rest, and rounds
// that value to the nearest double, ties away from zero. from_chars rounds correctly with ties
// to even, so the two differ only on exact ties, which are found with exact integer arithmetic.

using U128 = unsigned __int128;

// m * 2^e with m odd (or zero).
struct Dyadic {
  U128 m;
  int e;
};

Dyadic Normalized(U128 m, int e) {
  if (m == 0) return {0, 0};
  while ((m & 1) == 0) {
    m >>= 1;
    ++e;
  }
  return {m, e};
}

// digits * 10^exp10 as m * 2^e, when that is exact and fits; false otherwise (then it cannot
// be the midpoint of two doubles, which has at most 55 significant bits).
bool DecimalAsDyadic(U128 digits, int exp10, Dyadic& out) {
  U128 m = digits;
  if (exp10 >= 0) {
    if (exp10 > 23) return false;  // 5^24 alone is wider than 55 bits
    for (int i = 0; i < exp10; ++i) m *= 5;
    out = Normalized(m, exp10);
    return true;
  }
  const int k = -exp10;
  if (k > 28) return false;  // 5^29 is above any 20-digit number: not a dyadic value
  U128 five = 1;
  for (int i = 0; i < k; ++i) five *= 5;
  if (m % five != 0) return false;
  out = Normalized(m / five, -k);
  return true;
}

// The midpoint of two adjacent finite positive doubles as m * 2^e.
Dyadic Midpoint(double a, double b) {
  int ea = 0, eb = 0;
  const double fa = std::frexp(a, &ea), fb = std::frexp(b, &eb);
  // 53-bit integer significands: a = ma * 2^(ea-53).
  const auto ma = static_cast<std::uint64_t>(std::ldexp(fa, 53));
  const auto mb = static_cast<std::uint64_t>(std::ldexp(fb, 53));
  const int e = std::min(ea, eb) - 53;
  const U128 sum = (static_cast<U128>(ma) << (ea - 53 - e)) + (static_cast<U128>(mb) << (eb - 53 - e));
  return Normalized(sum, e - 1);
}

}  // namespace

bool EngineNumberFromText(std::string_view number, double& value) {
  if (number.size() > kPlainNumberLength) return false;
  const char* p = number.data();
  const char* end = p + number.size();
  const bool negative = *p == '-';
  if (negative) ++p;
  // The significant digits (at most kEngineDigits of them) and the power of ten they need.
  U128 digits = 0;
  int kept = 0;
  int exp10 = 0;
  bool integer = true;
  const char* intStart = p;
  for (; p < end && IsDigit(*p); ++p) {
    if (kept == kEngineDigits) {
      ++exp10;
    } else if (kept > 0 || *p != '0') {
      digits = digits * 10 + static_cast<unsigned>(*p - '0');
      ++kept;
    }
  }
  const std::ptrdiff_t intDigits = p - intStart;
  if (p < end && *p == '.') {
    integer = false;
    for (++p; p < end && IsDigit(*p); ++p) {
      if (kept == kEngineDigits) continue;
      --exp10;
      if (kept > 0 || *p != '0') {
        digits = digits * 10 + static_cast<unsigned>(*p - '0');
        ++kept;
      }
    }
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    integer = false;
    ++p;
    const bool negativeExponent = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    int e = 0;
    for (; p < end; ++p) {
      e = e * 10 + (*p - '0');
      if (e > kMaxExponent) return false;
    }
    exp10 += negativeExponent ? -e : e;
  }
  if (integer && intDigits <= kExactDigits) {
    value = static_cast<double>(static_cast<std::uint64_t>(digits));
    if (negative) value = -value;
    return true;
  }
  if (digits == 0) {
    value = negative ? -0.0 : 0.0;
    return true;
  }
  // The kept digits as a text from_chars reads: "<digits>e<exp10>".
  char buffer[64];
  char* out = buffer + sizeof buffer;
  for (U128 d = digits; d != 0; d /= 10) *--out = static_cast<char>('0' + static_cast<int>(d % 10));
  const std::size_t digitCount = static_cast<std::size_t>(buffer + sizeof buffer - out);
  std::memmove(buffer, out, digitCount);
  out = buffer + digitCount;
  *out++ = 'e';
  out = std::to_chars(out, buffer + sizeof buffer, exp10).ptr;
  double magnitude = 0;
  const std::from_chars_result r = std::from_chars(buffer, out, magnitude);
  if (r.ec != std::errc() || r.ptr != out) return false;
  // Overflow and underflow to zero are left to the engine. At the largest double there is no
  // tie left to find: from_chars rounds the one above it to even, which is out of range.
  if (!(magnitude > 0 && magnitude <= DBL_MAX)) return false;
  Dyadic exact{};
  if (magnitude < DBL_MAX && DecimalAsDyadic(digits, exp10, exact)) {
    const double away = std::nextafter(magnitude, HUGE_VAL);
    const Dyadic mid = Midpoint(magnitude, away);
    if (exact.m == mid.m && exact.e == mid.e) magnitude = away;
  }
  value = negative ? -magnitude : magnitude;
  return true;
}

namespace {

class Reader {
 public:
  Reader(std::string_view json, JsonArena& arena, std::size_t memoryLimit)
      : p_(json.data()), end_(json.data() + json.size()), arena_(arena), limit_(memoryLimit) {}

  bool Document(JsonValue& out) {
    SkipWhite();
    if (!Value(out)) return false;
    SkipWhite();
    return p_ == end_;
  }

 private:
  void SkipWhite() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  bool Literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - p_) < word.size() || std::memcmp(p_, word.data(), word.size()) != 0)
      return false;
    p_ += word.size();
    return true;
  }

  bool OverLimit() const {
    return arena_.used() + values_.capacity() * sizeof(JsonValue) + members_.capacity() * sizeof(JsonMember) > limit_;
  }

  bool Value(JsonValue& out) {
    if (p_ == end_) return false;
    out = JsonValue{};
    switch (*p_) {
      case '{':
        return Object(out);
      case '[':
        return Array(out);
      case '"':
        return String(out);
      case 't':
        out.kind = JsonKind::True;
        return Literal("true");
      case 'f':
        out.kind = JsonKind::False;
        return Literal("false");
      case 'n':
        out.kind = JsonKind::Null;
        return Literal("null");
      default:
        return Number(out);
    }
  }

  bool Object(JsonValue& out) {
    if (++depth_ > kMaxDepth) return false;
    ++p_;
    const std::size_t base = members_.size();
    SkipWhite();
    if (p_ < end_ && *p_ == '}') {
      ++p_;
      --depth_;
      out.kind = JsonKind::Object;
      return true;
    }
    for (;;) {
      JsonMember member;
      if (p_ == end_ || *p_ != '"' || !String(member.key)) return false;
      // A plain store of this key would set the prototype; the engine makes it an own member.
      if (member.key.text() == "__proto__") return false;
      SkipWhite();
      if (p_ == end_ || *p_ != ':') return false;
      ++p_;
      SkipWhite();
      if (!Value(member.value)) return false;
      members_.push_back(member);
      SkipWhite();
      if (p_ == end_) return false;
      if (*p_ == ',') {
        ++p_;
        SkipWhite();
        continue;
      }
      if (*p_ != '}') return false;
      ++p_;
      --depth_;
      return CloseObject(base, out);
    }
  }

  bool CloseObject(std::size_t base, JsonValue& out) {
    JsonMember* first = members_.data() + base;
    std::size_t count = members_.size() - base;
    count = Deduplicated(first, count);
    out.kind = JsonKind::Object;
    out.size = static_cast<std::uint32_t>(count);
    auto* stored = static_cast<JsonMember*>(arena_.Allocate(count * sizeof(JsonMember)));
    std::memcpy(stored, first, count * sizeof(JsonMember));
    for (std::size_t i = 0; i < count; ++i) {
      if (IsArrayIndexKey(stored[i].key.text())) {
        out.flags |= JsonValue::kIndexKeys;
        break;
      }
    }
    out.members = stored;
    members_.resize(base);
    return !OverLimit();
  }

  // Repeated keys: the first place, the last value. Returns the number of members left.
  static std::size_t Deduplicated(JsonMember* m, std::size_t count) {
    std::size_t kept = 0;
    if (count <= kSmallObject) {
      for (std::size_t i = 0; i < count; ++i) {
        std::size_t j = 0;
        while (j < kept && m[j].key.text() != m[i].key.text()) ++j;
        if (j < kept)
          m[j].value = m[i].value;
        else
          m[kept++] = m[i];
      }
      return kept;
    }
    std::unordered_map<std::string_view, std::size_t> seen;
    seen.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const auto [it, added] = seen.emplace(m[i].key.text(), kept);
      if (added)
        m[kept++] = m[i];
      else
        m[it->second].value = m[i].value;
    }
    return kept;
  }

  bool Array(JsonValue& out) {
    if (++depth_ > kMaxDepth) return false;
    ++p_;
    const std::size_t base = values_.size();
    out.kind = JsonKind::Array;
    SkipWhite();
    if (p_ < end_ && *p_ == ']') {
      ++p_;
      --depth_;
      return true;
    }
    for (;;) {
      JsonValue item;
      if (!Value(item)) return false;
      values_.push_back(item);
      SkipWhite();
      if (p_ == end_) return false;
      if (*p_ == ',') {
        ++p_;
        SkipWhite();
        continue;
      }
      if (*p_ != ']') return false;
      ++p_;
      --depth_;
      const std::size_t count = values_.size() - base;
      auto* stored = static_cast<JsonValue*>(arena_.Allocate(count * sizeof(JsonValue)));
      std::memcpy(stored, values_.data() + base, count * sizeof(JsonValue));
      out.size = static_cast<std::uint32_t>(count);
      out.items = stored;
      values_.resize(base);
      return !OverLimit();
    }
  }

  bool StoreString(const char* data, std::size_t len, JsonValue& out) {
    if (len > 0 && StartsSymbol(static_cast<unsigned char>(data[0]))) return false;
    if (len > UINT32_MAX) return false;
    auto* stored = static_cast<char*>(arena_.Allocate(len));
    if (len) std::memcpy(stored, data, len);
    out.kind = JsonKind::String;
    out.size = static_cast<std::uint32_t>(len);
    out.chars = stored;
    out.flags = StringFlags(out.text());
    return true;
  }

  // At the opening quote. Bytes go into the string as they are, as the engine's parser
  // copies them; escapes are decoded the way it decodes them (a \u escape of a surrogate
  // becomes that surrogate's own three-byte sequence).
  bool String(JsonValue& out) {
    const char* start = ++p_;
    while (p_ < end_) {
      const unsigned char b = static_cast<unsigned char>(*p_);
      if (b == '"') {
        ++p_;
        return StoreString(start, static_cast<std::size_t>(p_ - 1 - start), out);
      }
      if (b == '\\') return EscapedString(start, out);
      if (b < 0x20) return false;
      ++p_;
    }
    return false;
  }

  // The rest of a string that holds an escape, decoded into a scratch buffer.
  bool EscapedString(const char* start, JsonValue& out) {
    scratch_.assign(start, p_);
    while (p_ < end_) {
      const unsigned char b = static_cast<unsigned char>(*p_);
      if (b == '"') {
        ++p_;
        return StoreString(scratch_.data(), scratch_.size(), out);
      }
      if (b < 0x20) return false;
      if (b != '\\') {
        scratch_.push_back(static_cast<char>(b));
        ++p_;
        continue;
      }
      if (end_ - p_ < 2) return false;
      const char e = p_[1];
      p_ += 2;
      switch (e) {
        case '"':
          scratch_.push_back('"');
          break;
        case '\\':
          scratch_.push_back('\\');
          break;
        case '/':
          scratch_.push_back('/');
          break;
        case 'b':
          scratch_.push_back('\b');
          break;
        case 'f':
          scratch_.push_back('\f');
          break;
        case 'n':
          scratch_.push_back('\n');
          break;
        case 'r':
          scratch_.push_back('\r');
          break;
        case 't':
          scratch_.push_back('\t');
          break;
        case 'u': {
          if (end_ - p_ < 4) return false;
          std::uint32_t cp = 0;
          for (int i = 0; i < 4; ++i) {
            const int h = HexValue(p_[i]);
            if (h < 0) return false;
            cp = cp * 16 + static_cast<std::uint32_t>(h);
          }
          p_ += 4;
          // Surrogates too get a three-byte sequence each, as the engine stores them.
          AppendUtf8(scratch_, cp);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)? and nothing the engine would read on.
  bool Number(JsonValue& out) {
    const char* start = p_;
    if (*p_ == '-') ++p_;
    if (p_ == end_ || !IsDigit(*p_)) return false;
    if (*p_ == '0') {
      ++p_;
    } else {
      while (p_ < end_ && IsDigit(*p_)) ++p_;
    }
    if (p_ < end_ && *p_ == '.') {
      ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      while (p_ < end_ && IsDigit(*p_)) ++p_;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      while (p_ < end_ && IsDigit(*p_)) ++p_;
    }
    if (p_ < end_ && IsNumberChar(*p_)) return false;
    out.kind = JsonKind::Number;
    return EngineNumberFromText(std::string_view(start, static_cast<std::size_t>(p_ - start)), out.number);
  }

  const char* p_;
  const char* end_;
  JsonArena& arena_;
  std::size_t limit_;
  int depth_ = 0;
  std::vector<JsonValue> values_;
  std::vector<JsonMember> members_;
  std::string scratch_;
};

}  // namespace

bool ReadJson(std::string_view json, JsonTree& tree, bool unwrapString, std::size_t memoryLimit) {
  JsonValue value;
  if (!Reader(json, tree.arena, memoryLimit).Document(value)) return false;
  if (unwrapString && value.kind == JsonKind::String) {
    const std::string_view inner = value.text();
    if (!Reader(inner, tree.arena, memoryLimit).Document(value)) return false;
  }
  tree.root = value;
  return true;
}

}  // namespace ombrik
