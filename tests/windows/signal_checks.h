// Measures of 16-bit mono audio: the frequency of a sine and its level.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorel::test {

// The played test signal: a 1000 Hz sine of amplitude 12000 at 16000 samples per second.
constexpr double kSineFrequency = 1000;
constexpr double kSineRms = 12000 / 1.41421356;

// Sign changes per second over the samples, halved: a sine's frequency.
double ZeroCrossingFrequency(const int16_t* samples, size_t count, double samplesPerSecond);
double Rms(const int16_t* samples, size_t count);

}  // namespace quorel::test
