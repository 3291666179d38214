// Percent-decoding and the code page conversions on arbitrary bytes.
#include "fuzz_input.h"
#include "text/codepage.h"
#include "text/text_ops.h"

using namespace ombrik;

namespace {

bool ValidUtf8(std::string_view s) {
  // What our own decoder reads without a replacement character is valid UTF-8 iff
  // re-encoding gives the same bytes; checked the long way, byte by byte.
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const Text text(all);  // up to the first zero byte, as a fetched body becomes text

  const Text plain = UrlDecode(text, false);
  FUZZ_CHECK(plain.size() <= text.size());
  const Text converted = UrlDecode(text, true);
  (void)converted;

  const Bytes raw(all.data(), all.size());
  const Text ansi = Utf8ToAnsi(raw);
  const Bytes wide8 = MultiByteToUtf16(raw, CodePageUtf8);
  const Bytes wide936 = MultiByteToUtf16(raw, AnsiCodePage);
  FUZZ_CHECK(wide8.size() % 2 == 0 && wide936.size() % 2 == 0);
  const Bytes back = Utf16ToMultiByte(raw, CodePageUtf8);
  FUZZ_CHECK(ValidUtf8(back.data()));
  (void)Utf16ToText(raw, AnsiCodePage, false);
  (void)Utf16UntilZero(raw, true);
  const Bytes wide = AnsiToUtf16(text, true);
  FUZZ_CHECK(wide.size() % 2 == 0);

  // Every Text reaches the file system and Qt as valid UTF-8, and what was valid code page 936
  // comes back unchanged.
  const std::string utf8 = TextToUtf8(text);
  FUZZ_CHECK(ValidUtf8(utf8));
  FUZZ_CHECK(utf8.find('\0') == std::string::npos);
  const Text again = TextFromUtf8(utf8);
  FUZZ_CHECK(TextToUtf8(again) == utf8 || utf8.find('?') != std::string::npos ||
             utf8.find("\xEF\xBF\xBD") != std::string::npos);
  (void)ansi;
  return 0;
}
