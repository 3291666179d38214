// Plain member paths: a name followed by .name and [decimal index] steps, such as
// da.data.trackDetailInfos[3].trackInfo.title. Both the engine's fast path and the native
// document read such paths without the script compiler; anything else is left to it.
#pragma once

#include <cstdint>
#include <string_view>

namespace ombrik {

struct MemberPath {
  struct Step {
    std::string_view name;  // empty for an index
    std::uint32_t index;
  };
  static constexpr int kMaxSteps = 32;
  std::string_view root;
  Step steps[kMaxSteps];
  int count = 0;
};

// False for anything but a plain path: reserved words (which the compiler reads as something
// else), non-ASCII names, indices with a leading zero (octal) or above 9 digits, spaces, and
// paths of more than kMaxSteps steps.
bool ParseMemberPath(std::string_view text, MemberPath& path);

}  // namespace ombrik
