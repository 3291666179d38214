// Cutting one fuzzer input into the arguments of a call: a few option bytes first, then texts
// separated by zero bytes (a Text can never hold one, so the separator costs nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/text.h"

namespace ombrik::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  bool Flag() { return Byte() & 1; }
  // A small signed number, -8 .. 247: around the edges of short texts.
  int SmallInt() { return static_cast<int>(Byte()) - 8; }

  // The bytes up to the next zero byte (or the end).
  Text NextText() {
    const std::size_t zero = rest_.find('\0');
    const std::string_view piece = rest_.substr(0, zero);
    rest_.remove_prefix(zero == std::string_view::npos ? rest_.size() : zero + 1);
    return Text(piece);
  }
  // Everything left, zero bytes included.
  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// A finding the sanitizers cannot see: a broken promise of the code under test.
[[noreturn]] inline void Broken(const char* what) {
  __builtin_fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond)                        \
  do {                                          \
    if (!(cond)) ::ombrik::fuzz::Broken(#cond); \
  } while (0)

}  // namespace ombrik::fuzz
