// Cookies as one plain text, the form a Cookie request header carries: name=value pieces
// separated by "; ". Attributes (path, domain, expiry, flags) are never kept.
#pragma once

#include "text/text.h"

namespace ombrik {

// The name=value pieces of the lines that begin with "Set-Cookie:" (any case), in line order.
// A line without any ";" after the value contributes nothing.
Text ExtractSetCookies(const TextArray& lines);

// Folds `newCookies` into `cookies`: new values win, old names the response did not set follow
// in their old order, pieces ending in "=deleted" and exact repeats go. Both arguments are
// rewritten (trimmed; `cookies` to the merged text); the merged text is returned.
Text MergeCookies(Text& cookies, Text& newCookies);

// The bytes before the first "=", trimmed; the whole piece trimmed when it has none.
Text CookieName(const Text& piece);
// True when a piece has exactly `name` (case matters).
bool HasCookieNamed(const TextArray& pieces, const Text& name);

// Drops repeated items, first occurrences kept in order. Items are the pieces between
// `separator`s when `bySeparator`, else the character units of SplitCharacters.
Text RemoveDuplicateItems(const Text& text, const Text& separator, bool bySeparator);
// Cuts `text` into character units (a double-byte character, CR LF, or a single byte), appends
// them to `units` and returns how many it cut.
int SplitCharacters(const Text& text, TextArray& units);
// The 1-based index of the first element equal to `text`, or -1.
int IndexOfText(const TextArray& list, const Text& text);

}  // namespace ombrik
