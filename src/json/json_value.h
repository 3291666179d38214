// A JSON value held natively, outside any script engine: what the JSON reader builds, what a
// document answers plain reads from, and what is loaded into an engine once script is needed.
// Strings hold the very bytes the engine's parser would put in its strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace ombrik {

enum class JsonKind : std::uint8_t { Null, False, True, Number, String, Array, Object };

struct JsonMember;

struct JsonValue {
  // String flags.
  static constexpr std::uint8_t kAscii = 1;       // every byte below 0x80
  static constexpr std::uint8_t kWellFormed = 2;  // UTF-8, surrogates as their own sequences
  // Object flag: a key is an array index, so enumeration is not insertion order.
  static constexpr std::uint8_t kIndexKeys = 4;

  JsonKind kind = JsonKind::Null;
  std::uint8_t flags = 0;
  std::uint32_t size = 0;  // bytes of a string, items of an array, members of an object
  union {
    double number = 0;
    const char* chars;
    const JsonValue* items;
    const JsonMember* members;
  };

  std::string_view text() const { return {chars, size}; }
  bool has(std::uint8_t flag) const { return (flags & flag) != 0; }
};

// Members in the order the text first named them; a repeated key keeps its first place and
// takes its last value, as the engine's parser does.
struct JsonMember {
  JsonValue key;  // a string
  JsonValue value;
};

// Bump allocation for one document's values: they are made once and freed all together.
class JsonArena {
 public:
  void* Allocate(std::size_t bytes);
  std::size_t used() const { return used_; }

 private:
  std::vector<std::unique_ptr<std::max_align_t[]>> blocks_;
  char* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t used_ = 0;
};

struct JsonTree {
  JsonArena arena;
  JsonValue root;
};

// Whether `key` is an array index ("0" to "4294967294" without leading zeros): the engine
// enumerates such keys first, in ascending order.
bool IsArrayIndexKey(std::string_view key, std::uint32_t* index = nullptr);

// Calls visit(member) for the own members of an object in the engine's enumeration order.
template <typename Visit>
void ForEachMemberInEngineOrder(const JsonValue& object, Visit visit);

}  // namespace ombrik

#include "json/json_value_inl.h"
