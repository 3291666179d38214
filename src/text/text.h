// Text, Bytes and TextArray: the value types every other subsystem works with.
//
// A Text holds code page 936 bytes (never UTF-8, never a zero byte). Bytes holds any bytes,
// zero bytes included. The two are distinct types so that the compiler keeps fetched data,
// conversion buffers and program texts apart; the explicit conversions are BytesToText and
// TextToBytes in text_ops.h.
#pragma once

#include <compare>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ombrik {

class Text {
 public:
  Text() = default;
  // Raw code page 936 bytes up to the first zero byte. For literals that hold anything but
  // ASCII, use the _t literal or TextFromUtf8, since source files are UTF-8.
  Text(const char* bytes);       // NOLINT(google-explicit-constructor): literals read naturally
  Text(std::string_view bytes);  // NOLINT(google-explicit-constructor)
  explicit Text(std::string&& bytes);

  const std::string& str() const { return bytes_; }
  const char* c_str() const { return bytes_.c_str(); }
  std::string_view view() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  // Byte i (0-based) as unsigned, for the character walks.
  unsigned char byte(std::size_t i) const { return static_cast<unsigned char>(bytes_[i]); }

  Text& operator+=(const Text& other) {
    bytes_ += other.bytes_;
    return *this;
  }
  friend Text operator+(Text a, const Text& b) { return a += b; }
  friend bool operator==(const Text& a, const Text& b) = default;
  friend auto operator<=>(const Text& a, const Text& b) = default;

 private:
  std::string bytes_;
};

class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string data) : data_(std::move(data)) {}
  Bytes(const void* data, std::size_t n) : data_(static_cast<const char*>(data), n) {}

  const std::string& data() const { return data_; }
  std::string& data() { return data_; }
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(data_.data()); }
  std::size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }
  void append(const void* data, std::size_t n) { data_.append(static_cast<const char*>(data), n); }

  friend bool operator==(const Bytes& a, const Bytes& b) = default;

 private:
  std::string data_;
};

// A growable array of Texts. The program's logic counts its elements from 1 (At, Size);
// the vector underneath is there for range-for and tests.
class TextArray {
 public:
  TextArray() = default;
  TextArray(std::initializer_list<Text> items) : items_(items) {}

  int Size() const { return static_cast<int>(items_.size()); }
  // Element i, 1-based. Out of range gives the empty Text.
  const Text& At(int i) const;
  void Append(const Text& t) { items_.push_back(t); }
  void Clear() {
    items_.clear();
    items_.shrink_to_fit();
  }

  const std::vector<Text>& items() const { return items_; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  friend bool operator==(const TextArray& a, const TextArray& b) = default;

 private:
  std::vector<Text> items_;
};

// The code page of every conversion between a Text and UTF-16, whatever the machine's locale.
inline constexpr int AnsiCodePage = 936;

// A Text from UTF-8 (a source literal, a terminal argument): converted to code page 936.
Text TextFromUtf8(std::string_view utf8);
// The UTF-8 form of a Text, for the file system, the terminal and Qt.
std::string TextToUtf8(const Text& text);

inline namespace literals {
// "下载目录为空！"_t: a UTF-8 source literal as a code page 936 Text.
inline Text operator""_t(const char* utf8, std::size_t n) { return TextFromUtf8({utf8, n}); }
}  // namespace literals

}  // namespace ombrik
