// The WAV header: the placeholder as the record stands, the final form over it.
#include "recorder/wave_header.h"

#include "support/audio/wave_file_checks.h"

namespace quorel {
namespace {

using test::ReadWholeFile;
using test::Utf16;

TEST(WaveHeader, PlaceholderIsTheRecordAsItStands) {
  test::ScratchFolder folder;
  WaveHeader header{};
  File first;
  ASSERT_TRUE(first.Create(Utf16(folder.Path("first.wav")).c_str()));
  ASSERT_TRUE(WaveHeaderWritePlaceholder(header, first));
  first.Close();
  EXPECT_EQ(ReadWholeFile(folder.Path("first.wav")), std::vector<uint8_t>(44, 0));

  File second;
  ASSERT_TRUE(second.Create(Utf16(folder.Path("second.wav")).c_str()));
  ASSERT_TRUE(WaveHeaderFinalise(header, 32000, second));
  second.Close();
  const std::vector<uint8_t> finalHeader = ReadWholeFile(folder.Path("second.wav"));
  EXPECT_EQ(test::Number32(finalHeader, 4), 32036u);
  File third;
  ASSERT_TRUE(third.Create(Utf16(folder.Path("third.wav")).c_str()));
  ASSERT_TRUE(WaveHeaderWritePlaceholder(header, third));
  third.Close();
  EXPECT_EQ(ReadWholeFile(folder.Path("third.wav")), finalHeader);
}

TEST(WaveHeader, FinalHeaderReplacesThePlaceholderAndKeepsTheAudio) {
  test::ScratchFolder folder;
  const std::string path = folder.Path("take.wav");
  const uint8_t audio[] = {1, 2, 3, 4, 5, 6};
  for (const uint32_t length : {0u, 6u}) {
    WaveHeader header{};
    File file;
    ASSERT_TRUE(file.Create(Utf16(path).c_str()));
    ASSERT_TRUE(WaveHeaderWritePlaceholder(header, file));
    ASSERT_EQ(file.Write(audio, length), length);
    ASSERT_TRUE(WaveHeaderFinalise(header, length, file));
    file.Close();
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    EXPECT_TRUE(test::IsCompleteWave(bytes, length));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()),
              std::vector<uint8_t>(audio, audio + length));
  }
}

}  // namespace
}  // namespace quorel
