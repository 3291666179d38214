// The text and byte-string operations. Positions are 1-based byte offsets and a failed search
// gives -1. Searching, splitting, replacing, case folding and trimming step over double-byte
// characters (a byte of 0x80 or above and the byte after it) as a whole; cutting by count
// works on plain bytes. An absent optional argument is std::nullopt; an absent text is empty.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.h"

namespace ombrik {

int TextLength(const Text& text);
Text TextLeft(const Text& text, int n);
Text TextRight(const Text& text, int n);
Text TextMid(const Text& text, int start, int n);

int FindText(const Text& text, const Text& sought, std::optional<int> start = std::nullopt, bool ignoreCase = false);
int FindLastText(const Text& text, const Text& sought, std::optional<int> start = std::nullopt,
                 bool ignoreCase = false);
bool TextStartsWith(const Text& text, const Text& prefix);

Text TextToUpper(const Text& text);
Text TextToLower(const Text& text);
// A space is the ASCII space or the full-width space 0xA1 0xA1; nothing else.
Text TrimSpaces(const Text& text);
Text RemoveSpaces(const Text& text);

// count: nullopt replaces every occurrence.
Text ReplaceText(const Text& text, const Text& sought, const Text& replacement, std::optional<int> start,
                 std::optional<int> count, bool caseSensitive);

// delimiter: nullopt means ","; limit: nullopt means no limit. Keeps empty pieces except a
// trailing one.
TextArray SplitKeepingEmpty(const Text& text, const std::optional<Text>& delimiter = std::nullopt,
                            std::optional<int> limit = std::nullopt);
// The program's own splitter: clears `out`, keeps only the non-empty pieces, returns their
// number. limit 0 means no limit; an empty delimiter means ",".
int SplitText(const Text& text, const Text& delimiter, int limit, TextArray& out);

template <typename... More>
Text ConcatText(const Text& a, const Text& b, const More&... more) {
  Text result = a;
  result += b;
  ((result += Text(more)), ...);
  return result;
}
int CompareText(const Text& a, const Text& b);
Text BlankText(int n);
Text CharFromCode(int code);
int CharCode(const Text& text, std::optional<int> pos = std::nullopt);

Text IntToText(std::int32_t value);
// "%.13g" with a three-digit exponent: 1e+013, 1e-005.
Text NumberToText(double value);
// atoi after folding full-width digits, signs and spaces to ASCII.
std::int32_t TextToInt(const Text& text);
std::int32_t NumberToInt(double value);
// atof after the same folding, rounded to single precision.
double TextToNumber(const Text& text);
// Truncation toward zero to 64 bits, low 32 bits kept.
std::int32_t TruncToInt(double value);
double IntDiv(double a, double b);
double Remainder(double a, double b);

template <typename... More>
std::int32_t BitOr(std::int32_t a, std::int32_t b, More... more) {
  std::int32_t result = a | b;
  ((result |= static_cast<std::int32_t>(more)), ...);
  return result;
}

Bytes TextToBytes(const Text& text);
// The bytes before the first zero byte.
Text BytesToText(const Bytes& bytes);
int BytesLength(const Bytes& bytes);
Bytes BytesLeft(const Bytes& bytes, int n);
Bytes BytesMid(const Bytes& bytes, int start, int n);
Bytes BlankBytes(int n);

template <typename... More>
Bytes ConcatBytes(const Bytes& a, const Bytes& b, const More&... more) {
  Bytes result = a;
  result.append(b.data().data(), b.size());
  (result.append(more.data().data(), more.size()), ...);
  return result;
}
bool BytesEqual(const Bytes& a, const Bytes& b);

}  // namespace ombrik
