// A test environment in which ALSA's "default" capture device is real and known: a private
// PulseAudio daemon (scripts/private-pulseaudio.sh) supplies a paced 16000 Hz mono source, and
// a stand-alone ALSA configuration puts a "file" plugin over it whose input file holds the
// counter signal (sample i has the value i, modulo 65536). Every capture opened then reads
// that signal from its start, byte for byte, at real-time pace.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace quorel::test {

class PrivatePulseAudio : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

 private:
  std::string folder_;
};

// Points ALSA_CONFIG_PATH at a configuration of one's own for the life of the object.
class AlsaConfigOverride {
 public:
  explicit AlsaConfigOverride(const std::string& path);
  ~AlsaConfigOverride();
  AlsaConfigOverride(const AlsaConfigOverride&) = delete;
  AlsaConfigOverride& operator=(const AlsaConfigOverride&) = delete;

 private:
  std::string previous_;
};

}  // namespace quorel::test
