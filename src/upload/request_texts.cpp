#include "upload/request_texts.h"

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

template <size_t kCapacity>
void AppendOctet(FixedText<kCapacity>& text, uint8_t octet) {
  if (!MustBePercentEncoded(octet)) {
    text.Append(octet);
    return;
  }
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  text.Append(u'%');
  text.Append(static_cast<char16_t>(kHexDigits[octet >> 4]));
  text.Append(static_cast<char16_t>(kHexDigits[octet & 0x0F]));
}

void ToEnvelopeBytes(const EnvelopeText& text, EnvelopeBytes& bytes) {
  // The envelope holds only ASCII (fixed texts and digits) and always fits its capacity.
  ToAsciiBytes(text.Units(), bytes.bytes, sizeof bytes.bytes, bytes.length);
}

}  // namespace

void MakeBoundaryToken(const LocalTime& time, BoundaryToken& token) {
  const uint16_t twoDigitFields[] = {time.month, time.dayOfWeek, time.day,
                                     time.hour,  time.minute,    time.second};
  token.AppendDecimal(time.year, 4);
  for (const uint16_t field : twoDigitFields) token.AppendDecimal(field, 2);
  token.AppendDecimal(time.milliseconds, 3);
}

bool MakeRequestTarget(const char16_t* key, RequestTarget& target) {
  if (key == nullptr) return false;
  target.AppendAscii(kTargetBeforeKey);
  for (size_t index = 0; key[index] != 0 && !target.Overflowed();) {
    const int32_t codePoint = NextCodePoint(key, index);
    if (codePoint == kInvalidCodePoint) return false;
    char encoded[4];
    const size_t length = EncodeUtf8(codePoint, encoded);
    for (size_t i = 0; i < length; ++i) AppendOctet(target, static_cast<uint8_t>(encoded[i]));
  }
  return !target.Overflowed();
}

void MakeEnvelope(const BoundaryToken& token, EnvelopeBytes& head, EnvelopeBytes& tail) {
  EnvelopeText headText;
  headText.AppendAscii(kHeadBeforeToken);
  headText.AppendUtf16(token.Units());
  headText.AppendAscii(kHeadAfterToken);
  ToEnvelopeBytes(headText, head);

  EnvelopeText tailText;
  tailText.AppendAscii(kTailBeforeToken);
  tailText.AppendUtf16(token.Units());
  tailText.AppendAscii(kTailAfterToken);
  ToEnvelopeBytes(tailText, tail);
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
  block.AppendAscii(kHostLine);
  block.AppendUtf16(hostName);
  block.AppendAscii(kHeaderLinesBeforeLength);
  block.AppendDecimal(contentLength, 1);
  block.AppendAscii(kHeaderLinesBeforeToken);
  block.AppendUtf16(token.Units());
  return !block.Overflowed();
}

bool ToAsciiBytes(const char16_t* text, char* out, size_t capacity, uint32_t& length) {
  size_t count = 0;
  for (; text[count] != 0; ++count) {
    if (text[count] >= 0x80 || count + 1 >= capacity) return false;
    out[count] = static_cast<char>(text[count]);
  }
  if (capacity == 0) return false;
  out[count] = 0;
  length = static_cast<uint32_t>(count);
  return true;
}

}  // namespace quorel
