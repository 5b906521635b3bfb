// The request texts, byte for byte.
#include "upload/request_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace quorel {
namespace {

constexpr char kTargetPrefix[] = "/speech-api/v2/recognize?output=json&lang=en-us&key=";

std::string Token(const LocalTime& time) {
  BoundaryToken token;
  MakeBoundaryToken(time, token);
  return token.Bytes();
}

// The encoded target's key part, or "<rejected>".
std::string KeyInTarget(const char16_t* key) {
  UploadTarget target;
  if (!MakeUploadTarget(key, target)) return "<rejected>";
  const std::string text = target.Bytes();
  EXPECT_EQ(text.compare(0, sizeof kTargetPrefix - 1, kTargetPrefix), 0);
  return text.substr(sizeof kTargetPrefix - 1);
}

TEST(BoundaryToken, FormatsAllEightClockFieldsZeroPadded) {
  // Saturday 25 April 2015, 18:44:07.123.
  EXPECT_EQ(Token({2015, 4, 6, 25, 18, 44, 7, 123}), "2015040625184407123");
  EXPECT_EQ(Token({2001, 1, 0, 2, 3, 4, 5, 7}), "2001010002030405007");
  EXPECT_EQ(Token({999, 12, 0, 31, 0, 0, 0, 0}), "0999120031000000000");
}

TEST(UploadTarget, KeepsTheKeyAsGivenWhereATargetAllowsIt) {
  EXPECT_EQ(KeyInTarget(u""), "");
  EXPECT_EQ(KeyInTarget(u"AIzaSyKey-_.~"), "AIzaSyKey-_.~");
  EXPECT_EQ(KeyInTarget(u"a&b=c&d%41"), "a&b=c&d%41");
  std::u16string printable;
  std::string expected;
  for (char c = 0x21; c < 0x7F; ++c) {
    if (std::string("\"<>\\^`{|}").find(c) != std::string::npos) continue;
    printable += static_cast<char16_t>(c);
    expected += c;
  }
  EXPECT_EQ(KeyInTarget(printable.c_str()), expected);
}

TEST(UploadTarget, PercentEncodesWhatWouldBreakTheRequest) {
  EXPECT_EQ(KeyInTarget(u"a b"), "a%20b");
  EXPECT_EQ(KeyInTarget(u"k\r\nX-Injected: 1"), "k%0D%0AX-Injected:%201");
  EXPECT_EQ(KeyInTarget(u"\x01\x1F\x7F\t"), "%01%1F%7F%09");
  EXPECT_EQ(KeyInTarget(u"\"<>\\^`{|}"), "%22%3C%3E%5C%5E%60%7B%7C%7D");
  EXPECT_EQ(KeyInTarget(u"\u00e9\u20ac\U0001F600"), "%C3%A9%E2%82%AC%F0%9F%98%80");
}

TEST(UploadTarget, RejectsKeysThatAreMissingInvalidOrTooLong) {
  const char16_t loneHigh[] = {u'k', 0xD83D, 0};
  const char16_t loneLow[] = {0xDE00, u'k', 0};
  EXPECT_EQ(KeyInTarget(nullptr), "<rejected>");
  EXPECT_EQ(KeyInTarget(loneHigh), "<rejected>");
  EXPECT_EQ(KeyInTarget(loneLow), "<rejected>");

  // The text before the key takes 52 of the 200 bytes, the terminator one.
  EXPECT_EQ(sizeof kTargetPrefix - 1, 52u);
  const std::u16string longest(147, u'k');
  EXPECT_EQ(KeyInTarget(longest.c_str()), std::string(147, 'k'));
  EXPECT_EQ(KeyInTarget((longest + u"k").c_str()), "<rejected>");
  // The limit holds for the key as encoded: 49 blanks take 147 bytes, 50 do not fit.
  EXPECT_EQ(KeyInTarget(std::u16string(49, u' ').c_str()).size(), 147u);
  EXPECT_EQ(KeyInTarget(std::u16string(50, u' ').c_str()), "<rejected>");
}

TEST(Envelope, WrapsTheFileInOneFormDataPart) {
  BoundaryToken token;
  MakeBoundaryToken({2015, 4, 6, 25, 18, 44, 7, 123}, token);
  EnvelopeBytes head;
  EnvelopeBytes tail;
  MakeEnvelope(token, head, tail);
  const std::string headText(head.bytes, head.length);
  const std::string tailText(tail.bytes, tail.length);
  EXPECT_EQ(headText,
            "--2015040625184407123\r\nContent-Disposition: form-data; name=\"myfile\"; "
            "filename=\"message.wav\"\r\n\r\n");
  EXPECT_EQ(tailText, "\r\n--2015040625184407123--\r\n");
  EXPECT_EQ(head.length, 96u);
  EXPECT_EQ(tail.length, 27u);
}

TEST(ContentLength, AddsTheEnvelopeToTheFileWithinSigned32Bits) {
  uint32_t length = 0;
  ASSERT_TRUE(ContentLength(96, 0, 27, length));
  EXPECT_EQ(length, 123u);
  ASSERT_TRUE(ContentLength(96, 0x7FFFFFFF - 123, 27, length));
  EXPECT_EQ(length, 0x7FFFFFFFu);
  EXPECT_FALSE(ContentLength(96, 0x7FFFFFFF - 122, 27, length));
  EXPECT_FALSE(ContentLength(96, (int64_t{1} << 32) + 10, 27, length));
  EXPECT_FALSE(ContentLength(96, -1, 27, length));
}

TEST(HeaderBlock, JoinsSevenLinesWithTheBoundaryOnALineOfItsOwn) {
  BoundaryToken token;
  MakeBoundaryToken({2015, 4, 6, 25, 18, 44, 7, 123}, token);
  HeaderBlock block;
  ASSERT_TRUE(MakeHeaderBlock(u"localhost", 32123, token, block));
  EXPECT_EQ(std::string(block.Bytes()),
            "Host: localhost\r\n"
            "Accept: */*\r\n"
            "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like "
            "Gecko) Chrome/34.0.1847.131 Safari/537.36\r\n"
            "Content-Length: 32123\r\n"
            "Expect: 100-continue\r\n"
            "Content-Type: audio/l16; rate=16000;\r\n"
            "boundary=--2015040625184407123");
}

TEST(HeaderBlock, RejectsAHostNameThatLeavesNoRoom) {
  BoundaryToken token;
  MakeBoundaryToken({2015, 4, 6, 25, 18, 44, 7, 123}, token);
  HeaderBlock block;
  EXPECT_FALSE(MakeHeaderBlock(std::u16string(1900, u'h').c_str(), 123, token, block));
}

}  // namespace
}  // namespace quorel
