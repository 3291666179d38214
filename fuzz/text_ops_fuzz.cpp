// The text operations that walk characters, on arbitrary (also malformed) code page 936 text.
// Besides the sanitizers, each result is checked against what the operation promises.
#include <optional>

#include "fuzz_input.h"
#include "text/text_ops.h"

using namespace ombrik;
using ombrik::fuzz::FuzzInput;

namespace {

bool IsSpaceAt(const Text& t, std::size_t i) {
  return t.byte(i) == 0x20 || (t.byte(i) == 0xA1 && i + 1 < t.size() && t.byte(i + 1) == 0xA1);
}

bool EqualAt(const Text& t, std::size_t at, const Text& s, bool ignoreCase) {
  if (at + s.size() > t.size()) return false;
  for (std::size_t j = 0; j < s.size(); ++j) {
    unsigned char a = t.byte(at + j), b = s.byte(j);
    if (ignoreCase) {
      if (a >= 'A' && a <= 'Z') a = a - 'A' + 'a';
      if (b >= 'A' && b <= 'Z') b = b - 'A' + 'a';
    }
    if (a != b) return false;
  }
  return true;
}

// Every character start from byte `from` on (0-based), as the walk reaches them.
template <typename F>
void ForEachCharacterStart(const Text& t, std::size_t from, F&& f) {
  for (std::size_t i = from; i < t.size(); i += t.byte(i) >= 0x80 ? 2 : 1) f(i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int start = in.SmallInt();
  const int count = in.SmallInt();
  const bool ignoreCase = in.Flag();
  const bool absentStart = in.Flag();
  const Text text = in.NextText();
  const Text sought = in.NextText();
  const Text replacement = in.NextText();
  const std::optional<int> optStart = absentStart ? std::nullopt : std::optional<int>(start);
  const int len = TextLength(text);

  // FindText: -1 or a match at a character start inside the region.
  const int found = FindText(text, sought, optStart, ignoreCase);
  FUZZ_CHECK(found == -1 || (found >= 1 && found <= len));
  if (!sought.empty() && found != -1) {
    FUZZ_CHECK(EqualAt(text, static_cast<std::size_t>(found - 1), sought, ignoreCase));
    FUZZ_CHECK(found >= (absentStart || start < 1 ? 1 : start));
  }
  if (!sought.empty()) {
    // The reference walk: the first match at a character start of the region.
    const std::size_t from = absentStart || start < 1 ? 0 : static_cast<std::size_t>(start - 1);
    int expected = -1;
    ForEachCharacterStart(text, from, [&](std::size_t i) {
      // The walk ends at a lead byte standing last.
      const bool loneLead = text.byte(i) >= 0x80 && i + 1 == text.size();
      if (expected == -1 && !loneLead && EqualAt(text, i, sought, ignoreCase)) expected = static_cast<int>(i) + 1;
    });
    FUZZ_CHECK(found == expected);
  }

  // FindLastText: a match lying wholly inside the region before `start`.
  const int last = FindLastText(text, sought, optStart, ignoreCase);
  FUZZ_CHECK(last == -1 || (last >= 1 && last <= len));
  if (!sought.empty() && last != -1) {
    FUZZ_CHECK(EqualAt(text, static_cast<std::size_t>(last - 1), sought, ignoreCase));
    if (!absentStart) FUZZ_CHECK(last - 1 + TextLength(sought) <= start - 1);
  }

  // ReplaceText never grows beyond every byte replaced, and with nothing to find copies.
  const std::optional<int> optCount = count < 0 ? std::nullopt : std::optional<int>(count);
  const Text replaced = ReplaceText(text, sought, replacement, optStart, optCount, !ignoreCase);
  FUZZ_CHECK(replaced.size() <= text.size() * (replacement.size() + 1) + 1);
  if (replacement.empty()) FUZZ_CHECK(replaced.size() <= text.size());

  // SplitKeepingEmpty: pieces are no more than the limit and hold no more bytes than the text.
  const std::optional<int> limit = count < 0 ? std::nullopt : std::optional<int>(count);
  const TextArray pieces = SplitKeepingEmpty(text, in.Flag() ? std::nullopt : std::optional<Text>(sought), limit);
  if (limit) FUZZ_CHECK(pieces.Size() <= *limit);
  std::size_t bytes = 0;
  for (const Text& p : pieces) bytes += p.size();
  FUZZ_CHECK(bytes <= text.size());
  TextArray kept;
  const int n = SplitText(text, sought, 0, kept);
  FUZZ_CHECK(n == kept.Size());
  for (const Text& p : kept) FUZZ_CHECK(!p.empty());

  // TrimSpaces: a piece of the text that neither starts nor ends with a space.
  const Text trimmed = TrimSpaces(text);
  FUZZ_CHECK(text.view().find(trimmed.view()) != std::string_view::npos);
  // (A lead byte standing last is cut off after the trim, so spaces before it stay.)
  if (!trimmed.empty()) {
    FUZZ_CHECK(!IsSpaceAt(trimmed, 0));
    std::size_t lastStart = 0, textEnd = 0;
    ForEachCharacterStart(trimmed, 0, [&](std::size_t i) { lastStart = i; });
    ForEachCharacterStart(text, 0, [&](std::size_t i) { textEnd = i + (text.byte(i) >= 0x80 ? 2 : 1); });
    const bool loneLeadCut = textEnd > text.size();
    FUZZ_CHECK(loneLeadCut || !IsSpaceAt(trimmed, lastStart));
  }

  // RemoveSpaces: no space character is left on the character walk.
  const Text removed = RemoveSpaces(text);
  FUZZ_CHECK(removed.size() <= text.size());
  ForEachCharacterStart(removed, 0, [&](std::size_t i) { FUZZ_CHECK(!IsSpaceAt(removed, i)); });
  return 0;
}
