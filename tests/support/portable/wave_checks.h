// Checks on the WAV files the recorder writes, the same on both systems; each adapter turns a
// non-empty answer into a failure of its own runner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/portable/little_endian.h"

namespace quorel::test {

// What is wrong with file as the 44-byte header of a 16000 Hz mono 16-bit PCM WAV file for
// dataLength audio bytes followed by exactly those bytes; empty when nothing is.
std::string WaveFileFaults(const std::string& file, uint32_t dataLength);
std::string WaveFileFaults(const std::vector<uint8_t>& file, uint32_t dataLength);

// Where the audio after the header stops being the ramp (each sample one more than the last,
// modulo 65536, the first being firstSample unless that is negative), so that a lost, repeated
// or reordered sample shows; empty when it never does.
template <typename Bytes>
std::string RampFaults(const Bytes& file, int64_t firstSample = 0) {
  if (file.size() < 44 || file.size() % 2 != 0) {
    return "no whole samples after a header: " + std::to_string(file.size()) + " bytes; ";
  }
  uint32_t expected = firstSample < 0 && file.size() > 44 ? Number16(file, 44) : firstSample;
  for (size_t offset = 44; offset < file.size(); offset += 2, ++expected) {
    if (Number16(file, offset) == expected % 65536) continue;
    return "sample " + std::to_string((offset - 44) / 2) + " is " +
           std::to_string(Number16(file, offset)) + ", not " + std::to_string(expected % 65536) +
           "; ";
  }
  return "";
}

}  // namespace quorel::test
