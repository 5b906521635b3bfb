#include "common/utf16.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ToUtf8(const char16_t* text, size_t capacity = 64) {
  char out[64];
  if (!quorel::Utf16ToUtf8(text, out, capacity)) return "<invalid>";
  return out;
}

TEST(Utf16ToUtf8, EncodesEveryLengthOfSequence) {
  EXPECT_EQ(ToUtf8(u"a/b.wav"), "a/b.wav");
  EXPECT_EQ(ToUtf8(u"\u00e9\u20ac\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(ToUtf8(u""), "");
}

TEST(Utf16ToUtf8, RejectsUnpairedSurrogates) {
  const char16_t loneHigh[] = {u'a', 0xD83D, u'b', 0};
  const char16_t loneLow[] = {0xDE00, 0};
  const char16_t highAtEnd[] = {u'x', 0xD800, 0};
  EXPECT_EQ(ToUtf8(loneHigh), "<invalid>");
  EXPECT_EQ(ToUtf8(loneLow), "<invalid>");
  EXPECT_EQ(ToUtf8(highAtEnd), "<invalid>");
}

TEST(Utf16ToUtf8, RejectsTextThatDoesNotFitWithItsTerminator) {
  EXPECT_EQ(ToUtf8(u"abc", 4), "abc");
  EXPECT_EQ(ToUtf8(u"abcd", 4), "<invalid>");
  EXPECT_EQ(ToUtf8(u"\u20ac", 3), "<invalid>");
}

}  // namespace
