#include "json/json_value.h"

namespace ombrik {

namespace {
constexpr std::size_t kBlockBytes = 64 * 1024;
constexpr std::size_t kAlign = alignof(std::max_align_t);
}  // namespace

void* JsonArena::Allocate(std::size_t bytes) {
  bytes = (bytes + kAlign - 1) / kAlign * kAlign;
  if (bytes > left_) {
    // Large requests get a block of their own, so a block never wastes more than a little.
    const std::size_t blockBytes = bytes > kBlockBytes / 4 ? bytes : kBlockBytes;
    blocks_.push_back(std::make_unique_for_overwrite<std::max_align_t[]>(blockBytes / kAlign));
    used_ += blockBytes;
    if (bytes == blockBytes) return blocks_.back().get();
    next_ = reinterpret_cast<char*>(blocks_.back().get());
    left_ = blockBytes;
  }
  void* at = next_;
  next_ += bytes;
  left_ -= bytes;
  return at;
}

bool IsArrayIndexKey(std::string_view key, std::uint32_t* index) {
  if (key.empty() || key.size() > 10 || (key.size() > 1 && key[0] == '0')) return false;
  std::uint64_t n = 0;
  for (char c : key) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (n > 4294967294u) return false;
  if (index) *index = static_cast<std::uint32_t>(n);
  return true;
}

}  // namespace ombrik
