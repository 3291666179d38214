#include "json/member_path.h"

namespace ombrik {
namespace {

constexpr bool IsIdentifierStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
}

struct IdentifierChars {
  bool part[256] = {};
  constexpr IdentifierChars() {
    for (int c = 0; c < 256; ++c) part[c] = IsIdentifierStart(static_cast<char>(c)) || (c >= '0' && c <= '9');
  }
};
constexpr IdentifierChars kIdentifier;

bool IsIdentifierPart(char c) { return kIdentifier.part[static_cast<unsigned char>(c)]; }

// Names the compiler reads as something other than a plain name, or that are better left to
// it.
bool IsReservedWord(std::string_view word) {
  // All of them are 2 to 10 lowercase letters; most names fail that at once.
  if (word.size() < 2 || word.size() > 10) return false;
  for (char c : word)
    if (c < 'a' || c > 'z') return false;
  static constexpr std::string_view kWords[] = {
      "break",  "case",     "catch",  "class",      "const",   "continue",  "debugger",   "default",
      "delete", "do",       "else",   "enum",       "export",  "extends",   "false",      "finally",
      "for",    "function", "if",     "implements", "import",  "in",        "instanceof", "interface",
      "let",    "new",      "null",   "package",    "private", "protected", "public",     "return",
      "static", "super",    "switch", "this",       "throw",   "true",      "try",        "typeof",
      "var",    "void",     "while",  "with",       "yield",   "arguments", "eval"};
  // Length and first letter rule out nearly all of them without a string compare.
  for (std::string_view w : kWords)
    if (w.size() == word.size() && w[0] == word[0] && w == word) return true;
  return false;
}

std::size_t IdentifierLength(std::string_view text, std::size_t at) {
  if (at >= text.size() || !IsIdentifierStart(text[at])) return 0;
  std::size_t end = at + 1;
  while (end < text.size() && IsIdentifierPart(text[end])) ++end;
  return IsReservedWord(text.substr(at, end - at)) ? 0 : end - at;
}

}  // namespace

bool ParseMemberPath(std::string_view text, MemberPath& path) {
  std::size_t len = IdentifierLength(text, 0);
  if (len == 0) return false;
  path.root = text.substr(0, len);
  path.count = 0;
  std::size_t at = len;
  while (at < text.size()) {
    if (path.count == MemberPath::kMaxSteps) return false;
    MemberPath::Step& step = path.steps[path.count++];
    if (text[at] == '.') {
      len = IdentifierLength(text, at + 1);
      if (len == 0) return false;
      step = {text.substr(at + 1, len), 0};
      at += 1 + len;
    } else if (text[at] == '[') {
      // Decimal indices only: a leading zero would make an octal literal.
      std::size_t digits = 0;
      std::uint32_t index = 0;
      while (at + 1 + digits < text.size() && digits < 9 && text[at + 1 + digits] >= '0' &&
             text[at + 1 + digits] <= '9') {
        index = index * 10 + static_cast<std::uint32_t>(text[at + 1 + digits] - '0');
        ++digits;
      }
      if (digits == 0 || (digits > 1 && text[at + 1] == '0')) return false;
      if (at + 1 + digits >= text.size() || text[at + 1 + digits] != ']') return false;
      step = {std::string_view(), index};
      at += digits + 2;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace ombrik
