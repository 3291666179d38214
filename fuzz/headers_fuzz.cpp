// The request header block and the choice of the user agent from a caller's header text.
#include "fuzz_input.h"
#include "text/text_ops.h"
#include "web/headers.h"

using namespace ombrik;
using ombrik::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int method = in.Byte() % 8;
  const Text headers = in.NextText();
  const Text url = in.NextText();
  const Text cookies = in.NextText();

  const Text normalized = NormalizeHeaderNames(headers);
  // Only re-cased names and dropped lines: never longer, never a line without a colon.
  FUZZ_CHECK(normalized.size() <= headers.size());
  for (const Text& line : SplitKeepingEmpty(normalized, Text("\r\n"))) FUZZ_CHECK(FindText(line, ":") != -1);
  FUZZ_CHECK(TextToLower(normalized) == TextToLower(normalized));
  (void)ChooseUserAgent(normalized);
  (void)ChooseUserAgent(headers);
  const Text block = CompleteHeaderBlock(normalized, url, method);
  FUZZ_CHECK(FindText(block, "Accept:", std::nullopt, true) != -1);
  (void)AppendCookieHeader(block, cookies);
  (void)ValueAfterColon(headers);
  (void)CapitalizeFirst(headers);
  return 0;
}
