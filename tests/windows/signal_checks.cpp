#include "signal_checks.h"

#include <cmath>

namespace quorel::test {

double ZeroCrossingFrequency(const int16_t* samples, size_t count, double samplesPerSecond) {
  if (count < 2) return 0;
  size_t crossings = 0;
  for (size_t i = 1; i < count; ++i) {
    if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
  }
  return crossings * samplesPerSecond / (2.0 * (count - 1));
}

double Rms(const int16_t* samples, size_t count) {
  if (count == 0) return 0;
  double sum = 0;
  for (size_t i = 0; i < count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / count);
}

}  // namespace quorel::test
