#include "download/sanitize.h"

#include "text/text_ops.h"

namespace ombrik {

Text SanitizeFileName(const Text& title) {
  static const TextArray removed = SplitKeepingEmpty("',/,\\,*,|,<,>,.,:,%,?,", Text(","));
  Text t = RemoveSpaces(title);
  for (const Text& piece : removed) t = ReplaceText(t, piece, "", std::nullopt, std::nullopt, false);
  return t;
}

}  // namespace ombrik
