#include "support/audio/private_pulse_audio.h"

#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace quorel::test {

namespace {

// Longer than any test records.
constexpr uint32_t kCounterSignalSamples = 16000 * 20;

std::string RunScript(const std::string& arguments, int* status) {
  const std::string command =
      std::string("bash '") + QUOREL_PRIVATE_PULSEAUDIO_SCRIPT + "' " + arguments;
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *status = -1;
    return output;
  }
  char line[1024];
  while (fgets(line, sizeof line, pipe) != nullptr) output += line;
  *status = pclose(pipe);
  return output;
}

void WriteCounterSignal(const std::string& path) {
  std::vector<uint8_t> bytes;
  bytes.reserve(2 * kCounterSignalSamples);
  for (uint32_t sample = 0; sample < kCounterSignalSamples; ++sample) {
    bytes.push_back(static_cast<uint8_t>(sample));
    bytes.push_back(static_cast<uint8_t>(sample >> 8));
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

void PrivatePulseAudio::SetUp() {
  char pattern[] = "/tmp/quorel-audio-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
  int status = 0;
  const std::string environment = RunScript("start '" + folder_ + "/pulse'", &status);
  ASSERT_EQ(status, 0) << "the private PulseAudio daemon did not start";
  size_t begin = 0;
  while (begin < environment.size()) {
    const size_t end = environment.find('\n', begin);
    const std::string line = environment.substr(begin, end - begin);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) {
      setenv(line.substr(0, equals).c_str(), line.substr(equals + 1).c_str(), 1);
    }
    begin = end == std::string::npos ? environment.size() : end + 1;
  }

  const std::string signal = folder_ + "/counter.raw";
  WriteCounterSignal(signal);
  // It stands alone (no include of the system's alsa.conf): the system's hooks would
  // otherwise redefine "default" while a sound server runs.
  const std::string config = folder_ + "/asound.conf";
  std::ofstream(config)
      << "pcm.!default { type file slave.pcm { type pulse } file \"/dev/null\" infile \"" << signal
      << "\" format \"raw\" }\n";
  setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
}

void PrivatePulseAudio::TearDown() {
  if (folder_.empty()) return;
  int status = 0;
  RunScript("stop '" + folder_ + "/pulse'", &status);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

AlsaConfigOverride::AlsaConfigOverride(const std::string& path) {
  if (const char* current = getenv("ALSA_CONFIG_PATH")) previous_ = current;
  setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
}

AlsaConfigOverride::~AlsaConfigOverride() {
  setenv("ALSA_CONFIG_PATH", previous_.c_str(), 1);
}

}  // namespace quorel::test
