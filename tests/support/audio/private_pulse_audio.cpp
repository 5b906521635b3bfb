#include "support/audio/private_pulse_audio.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "support/common/child_process.h"
#include "support/common/test_process.h"
#include "support/portable/sound_server.h"

namespace quorel::test {

namespace {

// Longer than any test records.
constexpr uint32_t kTestSignalSeconds = 20;

// The sound server script with its command and folder.
ChildResult RunScript(const char* command, const std::string& folder) {
  return RunChild({"bash", QUOREL_PRIVATE_PULSEAUDIO_SCRIPT, command, folder});
}

void WriteCounterSignal(const std::string& path, uint32_t seconds) {
  const uint32_t samples = 16000 * seconds;
  std::vector<uint8_t> bytes;
  bytes.reserve(2 * samples);
  for (uint32_t sample = 0; sample < samples; ++sample) {
    bytes.push_back(static_cast<uint8_t>(sample));
    bytes.push_back(static_cast<uint8_t>(sample >> 8));
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

bool StartCounterSignalInput(const std::string& folder, uint32_t signalSeconds) {
  const ChildResult started = RunScript("start", folder + "/pulse");
  if (started.exitCode != 0) return false;
  ExportEnvironmentLines(started.out);

  const std::string signal = folder + "/counter.raw";
  WriteCounterSignal(signal, signalSeconds);
  // It stands alone (no include of the system's alsa.conf): the system's hooks would
  // otherwise redefine "default" while a sound server runs.
  const std::string config = folder + "/asound.conf";
  std::ofstream(config)
      << "pcm.!default { type file slave.pcm { type pulse } file \"/dev/null\" infile \"" << signal
      << "\" format \"raw\" }\n";
  setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  return true;
}

void StopCounterSignalInput(const std::string& folder) {
  RunScript("stop", folder + "/pulse");
}

namespace {

// The daemon's runtime folder, which StartCounterSignalInput put in the environment.
std::string DaemonFolder() {
  const char* folder = getenv("XDG_RUNTIME_DIR");
  return folder != nullptr ? folder : "";
}

// Gone, or a zombie that nobody has reaped yet.
bool HasEnded(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
  std::string pidField, name, state;
  return !(status >> pidField >> name >> state) || state == "Z";
}

// The daemon's pid, as the script wrote it; 0 when there is none.
pid_t DaemonPid() {
  pid_t pid = 0;
  std::ifstream(DaemonFolder() + "/pid") >> pid;
  return pid;
}

}  // namespace

bool SignalCounterSignalDaemon(int signal) {
  const pid_t pid = DaemonPid();
  return pid > 0 && kill(pid, signal) == 0;
}

bool FreezeSoundServer() {
  return SignalCounterSignalDaemon(SIGSTOP);
}

bool ThawSoundServer() {
  return SignalCounterSignalDaemon(SIGCONT);
}

bool KillCounterSignalDaemon() {
  const pid_t pid = DaemonPid();
  if (!SignalCounterSignalDaemon(SIGKILL)) return false;
  while (!HasEnded(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return true;
}

bool RestartCounterSignalDaemon() {
  const std::string folder = std::filesystem::path(DaemonFolder()).parent_path();
  StopCounterSignalInput(folder);
  return StartCounterSignalInput(folder, kTestSignalSeconds);
}

void PrivatePulseAudio::SetUp() {
  char pattern[] = "/tmp/quorel-audio-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
  ASSERT_TRUE(StartCounterSignalInput(folder_, kTestSignalSeconds))
      << "the private PulseAudio daemon did not start";
}

void PrivatePulseAudio::TearDown() {
  if (folder_.empty()) return;
  StopCounterSignalInput(folder_);
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
