#include "text/text.h"

#include <cstring>

namespace ombrik {

Text::Text(const char* bytes) {
  if (bytes != nullptr) bytes_.assign(bytes, std::strlen(bytes));
}

Text::Text(std::string_view bytes) : bytes_(bytes.substr(0, bytes.find('\0'))) {}

Text::Text(std::string&& bytes) : bytes_(std::move(bytes)) {
  // A Text never holds a zero byte: it ends where the first one stood.
  if (auto zero = bytes_.find('\0'); zero != std::string::npos) bytes_.resize(zero);
}

const Text& TextArray::At(int i) const {
  static const Text empty;
  if (i < 1 || i > Size()) return empty;
  return items_[static_cast<std::size_t>(i - 1)];
}

}  // namespace ombrik
