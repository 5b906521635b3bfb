#include "upload/request_texts.h"

#include <cstring>

#include "common/utf16.h"

namespace quorel {

namespace {

constexpr char kTargetBeforeKey[] = "/speech-api/v2/recognize?output=json&lang=en-us&key=";
constexpr char kHeadBeforeToken[] = "--";
constexpr char kHeadAfterToken[] =
    "\r\nContent-Disposition: form-data; name=\"myfile\"; filename=\"message.wav\"\r\n\r\n";
constexpr char kTailBeforeToken[] = "\r\n--";
constexpr char kTailAfterToken[] = "--\r\n";
constexpr char kHostLine[] = "Host: ";
constexpr char kHeaderLinesBeforeLength[] =
    "\r\nAccept: */*"
    "\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/34.0.1847.131 Safari/537.36"
    "\r\nContent-Length: ";
constexpr char kHeaderLinesBeforeToken[] =
    "\r\nExpect: 100-continue"
    "\r\nContent-Type: audio/l16; rate=16000;"
    "\r\nboundary=--";

constexpr int64_t kLargestDeclaredLength = 0x7FFFFFFF;
constexpr char kTargetUnsafe[] = "\"<>\\^`{|}";

// Octets that would end, split or corrupt a request target if sent as they are.
bool MustBePercentEncoded(uint8_t octet) {
  if (octet <= 0x20 || octet >= 0x7F) return true;
  for (const char* unsafe = kTargetUnsafe; *unsafe != 0; ++unsafe) {
    if (octet == static_cast<uint8_t>(*unsafe)) return true;
  }
  return false;
}

void AppendPercentEncoded(UploadTarget& target, uint8_t octet) {
  if (!MustBePercentEncoded(octet)) {
    target.Append(static_cast<char>(octet));
    return;
  }
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  target.Append('%');
  target.Append(kHexDigits[octet >> 4]);
  target.Append(kHexDigits[octet & 0x0F]);
}

// Hands each octet of text's UTF-8 form to take; false for text that is not valid UTF-16.
template <typename Take>
bool ForEachUtf8Octet(const char16_t* text, Take take) {
  for (size_t index = 0; text[index] != 0;) {
    const int32_t codePoint = NextCodePoint(text, index);
    if (codePoint == kInvalidCodePoint) return false;
    char encoded[4];
    const size_t length = EncodeUtf8(codePoint, encoded);
    for (size_t i = 0; i < length; ++i) take(static_cast<uint8_t>(encoded[i]));
  }
  return true;
}

// The envelope holds only fixed texts and digits and always fits its capacity.
template <size_t kCapacity>
void CopyEnvelope(const FixedText<kCapacity>& text, EnvelopeBytes& bytes) {
  std::memcpy(bytes.bytes, text.Bytes(), text.Length() + 1);
  bytes.length = static_cast<uint32_t>(text.Length());
}

}  // namespace

void MakeBoundaryToken(const LocalTime& time, BoundaryToken& token) {
  const uint16_t twoDigitFields[] = {time.month, time.dayOfWeek, time.day,
                                     time.hour,  time.minute,    time.second};
  token.AppendDecimal(time.year, 4);
  for (const uint16_t field : twoDigitFields) token.AppendDecimal(field, 2);
  token.AppendDecimal(time.milliseconds, 3);
}

bool MakeUploadTarget(const char16_t* key, UploadTarget& target) {
  if (key == nullptr) return false;
  target.Append(kTargetBeforeKey);
  return ForEachUtf8Octet(key, [&target](uint8_t octet) { AppendPercentEncoded(target, octet); }) &&
         !target.Overflowed();
}

void MakeEnvelope(const BoundaryToken& token, EnvelopeBytes& head, EnvelopeBytes& tail) {
  FixedText<kEnvelopeCapacity> headText;
  headText.Append(kHeadBeforeToken);
  headText.Append(token.Bytes());
  headText.Append(kHeadAfterToken);
  CopyEnvelope(headText, head);

  FixedText<kEnvelopeCapacity> tailText;
  tailText.Append(kTailBeforeToken);
  tailText.Append(token.Bytes());
  tailText.Append(kTailAfterToken);
  CopyEnvelope(tailText, tail);
}

bool ContentLength(uint32_t headLength, int64_t fileSize, uint32_t tailLength, uint32_t& length) {
  if (fileSize < 0) return false;
  const int64_t envelope = int64_t{headLength} + tailLength;
  if (fileSize > kLargestDeclaredLength - envelope) return false;
  length = static_cast<uint32_t>(envelope + fileSize);
  return true;
}

bool MakeHeaderBlock(const char16_t* hostName, uint32_t contentLength, const BoundaryToken& token,
                     HeaderBlock& block) {
  block.Append(kHostLine);
  if (!ForEachUtf8Octet(hostName,
                        [&block](uint8_t octet) { block.Append(static_cast<char>(octet)); })) {
    return false;
  }
  block.Append(kHeaderLinesBeforeLength);
  block.AppendDecimal(contentLength, 1);
  block.Append(kHeaderLinesBeforeToken);
  block.Append(token.Bytes());
  return !block.Overflowed();
}

}  // namespace quorel
