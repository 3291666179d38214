// Template part of json_value.h.
#pragma once

#include <algorithm>

namespace ombrik {

template <typename Visit>
void ForEachMemberInEngineOrder(const JsonValue& object, Visit visit) {
  const JsonMember* members = object.members;
  if (!object.has(JsonValue::kIndexKeys)) {
    for (std::uint32_t i = 0; i < object.size; ++i) visit(members[i]);
    return;
  }
  // Index keys first, ascending; then the others in insertion order.
  std::vector<std::pair<std::uint32_t, const JsonMember*>> indexed;
  for (std::uint32_t i = 0; i < object.size; ++i) {
    std::uint32_t index = 0;
    if (IsArrayIndexKey(members[i].key.text(), &index)) indexed.emplace_back(index, &members[i]);
  }
  std::sort(indexed.begin(), indexed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& entry : indexed) visit(*entry.second);
  for (std::uint32_t i = 0; i < object.size; ++i)
    if (!IsArrayIndexKey(members[i].key.text())) visit(members[i]);
}

}  // namespace ombrik
