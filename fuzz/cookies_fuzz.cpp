// Collecting Set-Cookie lines and merging them into a caller's cookie text.
#include "fuzz_input.h"
#include "text/text_ops.h"
#include "web/cookies.h"

using namespace ombrik;
using ombrik::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const Text headerBlock = in.NextText();
  Text cookies = in.NextText();
  const Text unitsText = in.NextText();

  const TextArray lines = SplitKeepingEmpty(headerBlock, Text("\r\n"));
  Text fresh = ExtractSetCookies(lines);
  FUZZ_CHECK(fresh.size() <= headerBlock.size() + 2 * static_cast<std::size_t>(lines.Size()));

  const Text merged = MergeCookies(cookies, fresh);
  FUZZ_CHECK(merged == cookies);
  // Exact repeats are gone.
  const TextArray pieces = SplitKeepingEmpty(merged, Text("; "));
  for (int i = 1; i <= pieces.Size(); ++i)
    for (int j = i + 1; j <= pieces.Size(); ++j) FUZZ_CHECK(pieces.At(i) != pieces.At(j));

  TextArray units;
  const int n = SplitCharacters(unitsText, units);
  FUZZ_CHECK(n == units.Size());
  (void)RemoveDuplicateItems(unitsText, Text("; "), false);
  return 0;
}
