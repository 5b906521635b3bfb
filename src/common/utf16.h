// UTF-16 text as the exports receive it, decoded and re-encoded as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorel {

constexpr int32_t kInvalidCodePoint = -1;

// Number of code units before the terminating zero.
size_t Utf16Length(const char16_t* text);

// Decodes the code point that starts at text[index] and moves index past it; an unpaired
// surrogate gives kInvalidCodePoint (and moves index past that one unit).
int32_t NextCodePoint(const char16_t* text, size_t& index);

// Writes the UTF-8 form of codePoint into out (room for 4 bytes) and returns its length.
size_t EncodeUtf8(int32_t codePoint, char* out);

// Converts zero-terminated UTF-16 into zero-terminated UTF-8 within capacity bytes. False for
// text that is not valid UTF-16 or does not fit; out is then an empty string.
bool Utf16ToUtf8(const char16_t* text, char* out, size_t capacity);

}  // namespace quorel
