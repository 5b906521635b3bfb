// Checks on the files the recorder writes, and a scratch folder to write them in.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorel::test {

std::vector<uint8_t> ReadWholeFile(const std::string& path);

// The little-endian 32-bit number at offset.
uint32_t Number32(const std::vector<uint8_t>& bytes, size_t offset);

// The file is the 44-byte header of a 16000 Hz mono 16-bit WAV file for dataLength audio
// bytes, followed by exactly that many bytes.
::testing::AssertionResult IsCompleteWave(const std::vector<uint8_t>& file, uint32_t dataLength);

// The audio after the header is the counter signal (sample i has the value first + i, modulo
// 65536), so a lost, repeated or reordered sample shows.
::testing::AssertionResult HoldsCounterSignal(const std::vector<uint8_t>& file,
                                              uint32_t firstSample = 0);

// Whether this process still has a descriptor open on path.
bool IsOpenInThisProcess(const std::string& path);

size_t OpenDescriptorCount();

// A fresh folder under /tmp, removed with everything in it at the end of its scope.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// An ASCII path as the exports receive it.
std::u16string Utf16(const std::string& ascii);

}  // namespace quorel::test
