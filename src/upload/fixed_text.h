// Text built in a buffer of fixed capacity, counted in bytes with the terminating zero. A text
// that would not fit is marked as overflowed instead of being cut short silently, so its
// builder checks once, at the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorel {

template <size_t kCapacity>
class FixedText {
 public:
  static_assert(kCapacity > 0, "room for the terminating zero");

  FixedText() = default;
  FixedText(const FixedText&) = delete;
  FixedText& operator=(const FixedText&) = delete;

  const char* Bytes() const { return bytes_; }
  size_t Length() const { return length_; }
  bool Overflowed() const { return overflowed_; }

  void Append(char byte) {
    if (length_ + 1 >= kCapacity) {
      overflowed_ = true;
      return;
    }
    bytes_[length_++] = byte;
    bytes_[length_] = 0;
  }

  void Append(const char* text) {
    for (; *text != 0; ++text) Append(*text);
  }

  // The decimal digits of value, zero-padded to at least width digits, as "%0*d" prints them.
  void AppendDecimal(uint32_t value, size_t width) {
    char digits[10];
    size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (size_t pad = count; pad < width; ++pad) Append('0');
    while (count > 0) Append(digits[--count]);
  }

 private:
  char bytes_[kCapacity] = {};
  size_t length_ = 0;
  bool overflowed_ = false;
};

}  // namespace quorel
