// Checks on the files the recorder writes (GoogleTest's side of support/portable/wave_checks.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/common/test_process.h"
#include "support/portable/little_endian.h"
#include "support/portable/scratch_folder.h"

namespace quorel::test {

std::vector<uint8_t> ReadWholeFile(const std::string& path);

// The file is the 44-byte header of a 16000 Hz mono 16-bit WAV file for dataLength audio
// bytes, followed by exactly that many bytes.
::testing::AssertionResult IsCompleteWave(const std::vector<uint8_t>& file, uint32_t dataLength);

// The audio after the header is the counter signal, a ramp from firstSample (any, when that is
// negative): RampFaults of support/portable/wave_checks.h.
::testing::AssertionResult HoldsCounterSignal(const std::vector<uint8_t>& file,
                                              int64_t firstSample = 0);

// Whether this process still has a descriptor open on path.
bool IsOpenInThisProcess(const std::string& path);

}  // namespace quorel::test
