#include "json/json_reader.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ombrik {

namespace {

// Deeper texts go to the engine, whose own limit (and error) then applies.
constexpr int kMaxDepth = 200;
// Up to 15 digits an integer is exact in a double, so it needs no rounding at all.
constexpr int kExactDigits = 15;
// Numbers longer than this are unusual enough to be converted by the engine.
constexpr std::ptrdiff_t kPlainNumberLength = 40;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The characters the engine's parser takes into a number before checking it; a number of
// ours followed by one of them is left to the engine.
bool IsNumberChar(char c) {
  return IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strings whose first byte is one of these are symbols inside the engine; left to it.
bool StartsSymbol(unsigned char b) { return b == 0xFF || (b >= 0x80 && b <= 0x82); }

// The callbacks run inside duk_safe_call and may be unwound by longjmp: nothing here owns
// anything that needs a destructor.
class Reader {
 public:
  Reader(duk_context* ctx, std::string_view json, duk_idx_t scratchSlot)
      : ctx_(ctx), p_(json.data()), end_(json.data() + json.size()), scratchSlot_(scratchSlot) {}

  bool Document() {
    SkipWhite();
    if (!Value()) return false;
    SkipWhite();
    return p_ == end_;
  }

 private:
  void SkipWhite() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  bool Literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0)
      return false;
    p_ += word.size();
    return true;
  }

  bool Value() {
    if (p_ == end_) return false;
    switch (*p_) {
      case '{': return Object();
      case '[': return Array();
      case '"': return String();
      case 't':
        if (!Literal("true")) return false;
        duk_push_true(ctx_);
        return true;
      case 'f':
        if (!Literal("false")) return false;
        duk_push_false(ctx_);
        return true;
      case 'n':
        if (!Literal("null")) return false;
        duk_push_null(ctx_);
        return true;
      default:
        return Number();
    }
  }

  bool Object() {
    if (++depth_ > kMaxDepth) return false;
    ++p_;
    duk_require_stack(ctx_, 3);
    duk_push_object(ctx_);
    SkipWhite();
    if (p_ < end_ && *p_ == '}') {
      ++p_;
      --depth_;
      return true;
    }
    for (;;) {
      if (p_ == end_ || *p_ != '"' || !String()) return false;
      // A plain store of this key would set the prototype; the engine makes it an own member.
      duk_size_t keyLen = 0;
      const char* key = duk_get_lstring(ctx_, -1, &keyLen);
      if (keyLen == 9 && std::memcmp(key, "__proto__", 9) == 0) return false;
      SkipWhite();
      if (p_ == end_ || *p_ != ':') return false;
      ++p_;
      SkipWhite();
      if (!Value()) return false;
      duk_put_prop(ctx_, -3);
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
      return true;
    }
  }

  bool Array() {
    if (++depth_ > kMaxDepth) return false;
    ++p_;
    duk_require_stack(ctx_, 2);
    duk_push_array(ctx_);
    SkipWhite();
    if (p_ < end_ && *p_ == ']') {
      ++p_;
      --depth_;
      return true;
    }
    for (duk_uarridx_t index = 0;; ++index) {
      if (!Value()) return false;
      duk_put_prop_index(ctx_, -2, index);
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
      return true;
    }
  }

  // At the opening quote. Bytes go into the string as they are, as the engine's parser
  // copies them; escapes are decoded the way it decodes them (a \u escape of a surrogate
  // becomes that surrogate's own three-byte sequence).
  bool String() {
    const char* start = ++p_;
    while (p_ < end_) {
      const unsigned char b = static_cast<unsigned char>(*p_);
      if (b == '"') {
        if (p_ > start && StartsSymbol(static_cast<unsigned char>(*start))) return false;
        duk_push_lstring(ctx_, start, static_cast<duk_size_t>(p_ - start));
        ++p_;
        return true;
      }
      if (b == '\\') return EscapedString(start);
      if (b < 0x20) return false;
      ++p_;
    }
    return false;
  }

  // The rest of a string that holds an escape, decoded into the scratch buffer. A decoded
  // string is never longer than its text, so a buffer the size of the rest of the input,
  // made once, serves every string after it.
  bool EscapedString(const char* start) {
    if (!scratch_) {
      scratch_ = static_cast<char*>(
          duk_push_fixed_buffer(ctx_, static_cast<duk_size_t>(end_ - start)));
      duk_replace(ctx_, scratchSlot_);
    }
    char* out = scratch_;
    std::memcpy(out, start, static_cast<std::size_t>(p_ - start));
    out += p_ - start;
    while (p_ < end_) {
      const unsigned char b = static_cast<unsigned char>(*p_);
      if (b == '"') {
        const std::size_t len = static_cast<std::size_t>(out - scratch_);
        if (len > 0 && StartsSymbol(static_cast<unsigned char>(scratch_[0]))) return false;
        duk_push_lstring(ctx_, scratch_, len);
        ++p_;
        return true;
      }
      if (b < 0x20) return false;
      if (b != '\\') {
        *out++ = static_cast<char>(b);
        ++p_;
        continue;
      }
      if (end_ - p_ < 2) return false;
      const char e = p_[1];
      p_ += 2;
      switch (e) {
        case '"': *out++ = '"'; break;
        case '\\': *out++ = '\\'; break;
        case '/': *out++ = '/'; break;
        case 'b': *out++ = '\b'; break;
        case 'f': *out++ = '\f'; break;
        case 'n': *out++ = '\n'; break;
        case 'r': *out++ = '\r'; break;
        case 't': *out++ = '\t'; break;
        case 'u': {
          if (end_ - p_ < 4) return false;
          std::uint32_t cp = 0;
          for (int i = 0; i < 4; ++i) {
            const int h = HexValue(p_[i]);
            if (h < 0) return false;
            cp = cp * 16 + static_cast<std::uint32_t>(h);
          }
          p_ += 4;
          if (cp < 0x80) {
            *out++ = static_cast<char>(cp);
          } else if (cp < 0x800) {
            *out++ = static_cast<char>(0xC0 | (cp >> 6));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            *out++ = static_cast<char>(0xE0 | (cp >> 12));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)? and nothing the engine would read on.
  bool Number() {
    const char* start = p_;
    bool negative = false;
    if (*p_ == '-') {
      negative = true;
      ++p_;
    }
    const char* digits = p_;
    if (p_ == end_ || !IsDigit(*p_)) return false;
    if (*p_ == '0') {
      ++p_;
    } else {
      while (p_ < end_ && IsDigit(*p_)) ++p_;
    }
    const char* intEnd = p_;
    bool integer = true;
    if (p_ < end_ && *p_ == '.') {
      integer = false;
      ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      while (p_ < end_ && IsDigit(*p_)) ++p_;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      integer = false;
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      while (p_ < end_ && IsDigit(*p_)) ++p_;
    }
    if (p_ < end_ && IsNumberChar(*p_)) return false;
    if (integer && intEnd - digits <= kExactDigits) {
      std::uint64_t n = 0;
      for (const char* d = digits; d < intEnd; ++d) n = n * 10 + static_cast<std::uint64_t>(*d - '0');
      const double value = static_cast<double>(n);
      duk_push_number(ctx_, negative ? -value : value);
      return true;
    }
    // from_chars rounds correctly. The engine's conversion agrees with it on values below
    // 1e15 with at most 15 significant digits (ties need 16 or more, and the engine rounds
    // those away from zero), but not everywhere above: 1e23 comes out one unit higher. So
    // only those plain numbers are converted here; the rest (long numbers and texts, large
    // exponents, large values, values near the ends of the range) by the engine's own
    // routine, and left to its parser where that routine refuses them.
    double value = 0;
    const std::from_chars_result r = std::from_chars(start, p_, value);
    if (r.ec == std::errc::result_out_of_range) return false;
    if (r.ec != std::errc() || r.ptr != p_) return false;
    if (p_ - start > kPlainNumberLength || SignificantDigits(digits, p_) > kExactDigits ||
        ExponentAbove(999, intEnd, p_) || std::fabs(value) >= 1e15 ||
        (value != 0 && std::fabs(value) < DBL_MIN)) {
      duk_push_lstring(ctx_, start, static_cast<duk_size_t>(p_ - start));
      const double converted = duk_to_number(ctx_, -1);
      if (converted != converted) return false;
    } else {
      duk_push_number(ctx_, value);
    }
    return true;
  }

  // Whether the exponent in [from, to), if any, is larger than `limit` in magnitude.
  static bool ExponentAbove(long limit, const char* from, const char* to) {
    const char* e = from;
    while (e < to && *e != 'e' && *e != 'E') ++e;
    if (e == to) return false;
    long n = 0;
    for (const char* d = e + 1; d < to; ++d) {
      if (!IsDigit(*d)) continue;
      n = n * 10 + (*d - '0');
      if (n > limit) return true;
    }
    return false;
  }

  // Digits of the mantissa in [from, to) without leading and trailing zeros.
  static std::ptrdiff_t SignificantDigits(const char* from, const char* to) {
    const char* first = nullptr;
    const char* last = nullptr;
    for (const char* d = from; d < to && *d != 'e' && *d != 'E'; ++d) {
      if (*d >= '1' && *d <= '9') {
        if (!first) first = d;
        last = d;
      }
    }
    if (!first) return 0;
    return last - first + 1 - (std::find(first, last, '.') != last ? 1 : 0);
  }

  duk_context* ctx_;
  const char* p_;
  const char* end_;
  duk_idx_t scratchSlot_;
  char* scratch_ = nullptr;
  int depth_ = 0;
};

}  // namespace

bool PushJsonFast(duk_context* ctx, std::string_view json) {
  const duk_idx_t base = duk_get_top(ctx);
  duk_require_stack(ctx, 4);
  duk_push_undefined(ctx);  // the slot for the scratch buffer
  Reader reader(ctx, json, base);
  if (!reader.Document()) {
    duk_set_top(ctx, base);
    return false;
  }
  duk_remove(ctx, base);
  return true;
}

}  // namespace ombrik
