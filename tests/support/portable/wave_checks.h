// Checks on the WAV files the recorder writes, the same on both systems; each adapter turns a
// non-empty answer into a failure of its own runner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorel::test {

// What is wrong with file as the 44-byte header of a 16000 Hz mono 16-bit PCM WAV file for
// dataLength audio bytes followed by exactly those bytes; empty when nothing is.
std::string WaveFileFaults(const std::string& file, uint32_t dataLength);
std::string WaveFileFaults(const std::vector<uint8_t>& file, uint32_t dataLength);

}  // namespace quorel::test
