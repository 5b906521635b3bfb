// A test environment in which ALSA's "default" capture device is real and known: a private
// PulseAudio daemon (scripts/private-pulseaudio.sh) supplies a paced 16000 Hz mono source, and
// a stand-alone ALSA configuration puts a "file" plugin over it whose input file holds the
// counter signal (sample i has the value i, modulo 65536). Every capture opened then reads
// that signal from its start, byte for byte, at real-time pace.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quorel::test {

// Starts the private daemon with its runtime folder in folder and points this process's
// environment, and so its children's, at it and at an ALSA configuration in folder whose
// "default" device reads signalSeconds of the counter signal. False when the daemon did not
// start.
bool StartCounterSignalInput(const std::string& folder, uint32_t signalSeconds);
// Stops the daemon that StartCounterSignalInput started in folder.
void StopCounterSignalInput(const std::string& folder);

// Kills the daemon that serves this process (SIGKILL, by the pid it was started with), as when
// a sound server crashes, and waits until it is gone; false when there was none.
bool KillCounterSignalDaemon();
// Sends signal to that daemon (SIGSTOP freezes it, as a hung sound server, SIGCONT thaws it).
bool SignalCounterSignalDaemon(int signal);
// Starts that daemon again in the same folder, with the same signal.
bool RestartCounterSignalDaemon();

// A test environment of the above for the whole test program.
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
