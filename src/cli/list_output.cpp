#include "cli/list_output.h"

#include <algorithm>

#include "cli/visible_text.h"

namespace ombrik::cli {
namespace {

// A TAB or line break inside a title would split its line: it becomes a space. Other control
// characters are shown escaped.
std::string Field(const Text& text) {
  std::string utf8 = TextToUtf8(text);
  std::replace_if(
      utf8.begin(), utf8.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return VisibleText(utf8);
}

}  // namespace

std::string JsonString(const Text& text) { return JsonString(TextToUtf8(text)); }

std::string JsonString(const std::string& utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out + '"';
}

// List numbers are plain integers; anything else stays a string so the line is still JSON.
std::string JsonNumber(const Text& text) {
  const std::string_view s = text.view();
  const std::string_view digits = s.starts_with('-') ? s.substr(1) : s;
  const bool integer = !digits.empty() && digits.size() <= 15 &&
                       std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                       (digits.size() == 1 || digits[0] != '0');
  return integer ? std::string{s} : JsonString(text);
}

std::string TrackListLine(const std::array<Text, 3>& row, ListFormat format) {
  if (format == ListFormat::Tabs) return Field(row[0]) + '\t' + Field(row[1]) + '\t' + Field(row[2]) + '\n';
  return "{\"number\":" + JsonNumber(row[0]) + ",\"title\":" + JsonString(row[1]) +
         ",\"playPath\":" + JsonString(row[2]) + "}\n";
}

bool WriteTrackList(std::FILE* out, const std::vector<std::array<Text, 3>>& rows, ListFormat format) {
  for (const auto& row : rows) {
    const std::string line = TrackListLine(row, format);
    if (std::fwrite(line.data(), 1, line.size(), out) != line.size()) return false;
  }
  return std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace ombrik::cli
