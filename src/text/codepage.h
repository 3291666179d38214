// Percent-decoding and the conversions between UTF-8, code page 936 and UTF-16 (little endian).
// Conversions give Windows' results for code page 936: byte 0x80 is the euro sign, a character
// the code page lacks becomes '?', an invalid UTF-8 sequence becomes U+FFFD (and then '?'),
// and every conversion stops at the first zero byte.
#pragma once

#include "text/text.h"

namespace ombrik {

inline constexpr int CodePageUtf8 = 65001;
// Code page 0 stands for "the system's ANSI code page"; here that is always AnsiCodePage.
inline constexpr int CodePageSystem = 0;

// Undoes %XX escapes (sscanf "%x" over at most two characters) and '+' for space; with
// convertUtf8 the decoded bytes are read as UTF-8 and converted to code page 936.
Text UrlDecode(const Text& text, bool convertUtf8);

Text Utf8ToAnsi(const Bytes& utf8);
// UTF-16LE units with the terminating zero unit included; empty for empty input.
Bytes MultiByteToUtf16(const Bytes& bytes, int codePage);
// No terminator in the result. Unmappable characters become '?'.
Bytes Utf16ToMultiByte(const Bytes& wide, int codePage);
Text Utf16ToText(const Bytes& wide, int codePage, bool useCodePage);
Text Utf16ToAnsi(const Bytes& wide);
Bytes AnsiToUtf16(const Text& text, bool dropTerminator);
Bytes Utf16UntilZero(const Bytes& wide, bool addTerminator);

}  // namespace ombrik
