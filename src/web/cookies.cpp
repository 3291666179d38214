#include "web/cookies.h"

#include "text/text_ops.h"

namespace ombrik {
namespace {

constexpr int kSetCookieLength = 11;  // "set-cookie:"

// Trimmed, and a trailing ";" turned into "; " so the split below leaves no empty last piece.
void TidyCookieText(Text& cookies) {
  cookies = TrimSpaces(cookies);
  if (TextRight(cookies, 1) == Text(";")) cookies += " ";
}

}  // namespace

Text ExtractSetCookies(const TextArray& lines) {
  Text result;
  for (const Text& line : lines) {
    if (FindText(line, "set-cookie:", 1, true) != 1) continue;
    const int valueStart = kSetCookieLength + 1;
    int semicolon = FindText(line, ";", valueStart);
    if (semicolon == -1) continue;
    if (!result.empty()) result += "; ";
    result += TrimSpaces(TextMid(line, valueStart, semicolon - valueStart));
  }
  return result;
}

Text CookieName(const Text& piece) {
  int equals = FindText(piece, "=");
  return TrimSpaces(equals == -1 ? piece : TextLeft(piece, equals - 1));
}

bool HasCookieNamed(const TextArray& pieces, const Text& name) {
  for (const Text& piece : pieces) {
    if (CookieName(piece) == name) return true;
  }
  return false;
}

int IndexOfText(const TextArray& list, const Text& text) {
  for (int i = 1; i <= list.Size(); ++i) {
    if (list.At(i) == text) return i;
  }
  return -1;
}

Text MergeCookies(Text& cookies, Text& newCookies) {
  TidyCookieText(cookies);
  TidyCookieText(newCookies);
  const Text separator("; ");
  TextArray old = SplitKeepingEmpty(cookies, separator);
  TextArray fresh = SplitKeepingEmpty(newCookies, separator);
  // The test sees what was carried over before it, so of repeated old names only the first
  // survives.
  for (const Text& piece : old) {
    if (!HasCookieNamed(fresh, CookieName(piece))) fresh.Append(piece);
  }
  Text merged;
  for (const Text& piece : fresh) {
    if (TextRight(piece, 8) != Text("=deleted")) merged += piece + separator;
  }
  merged = TextLeft(merged, TextLength(merged) - TextLength(separator));
  cookies = RemoveDuplicateItems(merged, separator, true);
  return cookies;
}

Text RemoveDuplicateItems(const Text& text, const Text& separator, bool bySeparator) {
  TextArray items;
  if (bySeparator) {
    items = SplitKeepingEmpty(text, separator);
  } else {
    SplitCharacters(text, items);
  }
  TextArray seen;
  Text output;
  for (const Text& item : items) {
    if (IndexOfText(seen, item) != -1) continue;
    seen.Append(item);
    output += item + separator;
  }
  return TextLeft(output, TextLength(output) - TextLength(separator));
}

int SplitCharacters(const Text& text, TextArray& units) {
  const std::size_t n = text.size();
  int count = 0;
  for (std::size_t i = 0; i < n; ++count) {
    const unsigned char b = text.byte(i);
    const bool pair = i + 1 < n && (b > 0x80 || (b == '\r' && text.byte(i + 1) == '\n'));
    const std::size_t length = pair ? 2 : 1;
    units.Append(BytesToText(Bytes(text.view().data() + i, length)));
    i += length;
  }
  return count;
}

}  // namespace ombrik
