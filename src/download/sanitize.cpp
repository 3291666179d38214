#include "download/sanitize.h"

#include <algorithm>
#include <string>

#include "text/text_ops.h"

namespace ombrik {

Text SanitizeFileName(const Text& title) {
  static const TextArray removed = SplitKeepingEmpty("',/,\\,*,|,<,>,.,:,%,?,", Text(","));
  Text t = RemoveSpaces(title);
  for (const Text& piece : removed) t = ReplaceText(t, piece, "", std::nullopt, std::nullopt, false);
  return DropSlashBytes(t);
}

Text DropSlashBytes(const Text& text) {
  std::string bytes = text.str();
  bytes.erase(std::remove(bytes.begin(), bytes.end(), '/'), bytes.end());
  return Text(std::move(bytes));
}

}  // namespace ombrik
