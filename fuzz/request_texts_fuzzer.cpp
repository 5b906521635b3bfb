// Any clock reading, file size and key through the builders of the request texts: every text
// stays within its capacity, the request target carries the key percent-encoded and nothing
// raw that could end or split the request line, and the envelope, declared length and header
// block agree with each other.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "upload/request_texts.h"

namespace {

using namespace quorel;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "request texts: %s\n", what);
  std::abort();
}

// A text's bytes up to its terminator, which must come at its length.
template <size_t kCapacity>
std::string Ascii(const FixedText<kCapacity>& text) {
  const std::string bytes = text.Bytes();
  Require(bytes.size() == text.Length(), "a text's length misses its terminator");
  for (const char byte : bytes) {
    Require(static_cast<unsigned char>(byte) < 0x80, "a text holds a byte outside ASCII");
  }
  return bytes;
}

// The key as UTF-8, decoded independently of the library; false for unpaired surrogates.
bool KeyAsUtf8(const std::u16string& key, std::string& utf8) {
  for (size_t i = 0; i < key.size(); ++i) {
    uint32_t point = key[i];
    if (point >= 0xD800 && point <= 0xDBFF && i + 1 < key.size() && key[i + 1] >= 0xDC00 &&
        key[i + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (key[++i] - 0xDC00);
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      return false;
    }
    if (point < 0x80) {
      utf8 += static_cast<char>(point);
    } else if (point < 0x800) {
      utf8 += static_cast<char>(0xC0 | point >> 6);
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      utf8 += static_cast<char>(0xE0 | point >> 12);
      utf8 += static_cast<char>(0x80 | (point >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | point >> 18);
      utf8 += static_cast<char>(0x80 | (point >> 12 & 0x3F));
      utf8 += static_cast<char>(0x80 | (point >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return true;
}

bool MustBeEscaped(char octet) {
  const auto value = static_cast<unsigned char>(octet);
  return value <= 0x20 || value >= 0x7F || std::strchr("\"<>\\^`{|}", octet) != nullptr;
}

// The key's octets with those that could end, split or corrupt the request line
// percent-encoded, everything else ("%" included) as given.
std::string EncodedForTarget(const std::string& utf8) {
  std::string encoded;
  for (const char octet : utf8) {
    if (!MustBeEscaped(octet)) {
      encoded += octet;
      continue;
    }
    char escape[4];
    std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(octet));
    encoded += escape;
  }
  return encoded;
}

uint16_t Take16(const uint8_t*& data, size_t& size) {
  uint16_t value = 0;
  if (size >= 2) {
    value = static_cast<uint16_t>(data[0] | data[1] << 8);
    data += 2;
    size -= 2;
  }
  return value;
}

void CheckToken(const LocalTime& time, const BoundaryToken& token) {
  char expected[64];
  std::snprintf(expected, sizeof expected, "%04u%02u%02u%02u%02u%02u%02u%03u", time.year,
                time.month, time.dayOfWeek, time.day, time.hour, time.minute, time.second,
                time.milliseconds);
  Require(!token.Overflowed() && token.Length() < kBoundaryTokenCapacity, "token capacity");
  Require(Ascii(token) == expected, "token differs from the clock fields");
}

void CheckTarget(const std::u16string& key, const UploadTarget& target, bool made) {
  Require(target.Length() < kUploadTargetCapacity, "target capacity");
  std::string utf8;
  const bool valid = KeyAsUtf8(key, utf8);
  const std::string expected =
      "/speech-api/v2/recognize?output=json&lang=en-us&key=" + EncodedForTarget(utf8);
  Require(made == (valid && expected.size() < kUploadTargetCapacity),
          "the target was refused or made against the key");
  if (!made) return;
  const std::string text = Ascii(target);
  for (const char unit : text) {
    Require(unit > 0x20 && unit < 0x7F, "a raw control, space or DEL in the target");
  }
  Require(text == expected, "the target does not carry the key as encoded");
}

void CheckEnvelopeAndHeaders(const BoundaryToken& token, int64_t fileSize) {
  EnvelopeBytes head;
  EnvelopeBytes tail;
  MakeEnvelope(token, head, tail);
  const std::string tokenText = Ascii(token);
  Require(head.length < kEnvelopeCapacity && head.bytes[head.length] == 0, "head capacity");
  Require(tail.length < kEnvelopeCapacity && tail.bytes[tail.length] == 0, "tail capacity");
  const std::string headText(head.bytes, head.length);
  Require(headText.rfind("--" + tokenText + "\r\n", 0) == 0, "head starts with the boundary");
  Require(headText.size() >= 4 && headText.compare(headText.size() - 4, 4, "\r\n\r\n") == 0,
          "head ends its part header");
  Require(std::string(tail.bytes, tail.length) == "\r\n--" + tokenText + "--\r\n",
          "tail closes the boundary");

  uint32_t length = 0;
  const int64_t envelope = int64_t{head.length} + tail.length;
  const bool declared = ContentLength(head.length, fileSize, tail.length, length);
  Require(declared == (fileSize >= 0 && fileSize <= 0x7FFFFFFF - envelope), "length range");
  if (!declared) return;
  Require(length == envelope + fileSize, "declared length");

  HeaderBlock block;
  Require(MakeHeaderBlock(u"localhost", length, token, block), "header block refused");
  Require(block.Length() < kHeaderBlockCapacity, "header block capacity");
  const std::string text = Ascii(block);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') Require(i + 1 < text.size() && text[i + 1] == '\n', "lone CR");
    if (text[i] == '\n') Require(i > 0 && text[i - 1] == '\r', "lone LF");
    if (text[i] != '\r' && text[i] != '\n') Require(text[i] >= 0x20 && text[i] < 0x7F, "control");
  }
  Require(text.find("\r\nContent-Length: " + std::to_string(length) + "\r\n") != std::string::npos,
          "the block declares another length");
  Require(text.size() > tokenText.size() &&
              text.compare(text.size() - tokenText.size() - 11, std::string::npos,
                           "boundary=--" + tokenText) == 0,
          "the block ends with another boundary");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LocalTime time{};
  uint16_t* fields[] = {&time.year, &time.month,  &time.dayOfWeek, &time.day,
                        &time.hour, &time.minute, &time.second,    &time.milliseconds};
  for (uint16_t* field : fields) *field = Take16(data, size);
  uint64_t sizeBits = 0;
  for (int i = 0; i < 4; ++i) sizeBits = sizeBits << 16 | Take16(data, size);
  const auto fileSize = static_cast<int64_t>(sizeBits);
  std::u16string key;
  while (size >= 2) {
    const char16_t unit = Take16(data, size);
    if (unit == 0) break;
    key += unit;
  }

  BoundaryToken token;
  MakeBoundaryToken(time, token);
  CheckToken(time, token);
  UploadTarget target;
  CheckTarget(key, target, MakeUploadTarget(key.c_str(), target));
  CheckEnvelopeAndHeaders(token, fileSize);
  return 0;
}
