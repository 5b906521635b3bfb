// Recordings of random length through the real path: ALSA's "default" device over the private
// PulseAudio daemon, fed the counter signal. A third of the Stops fall in the moments around
// the filling of the one-second buffer, where Stop races the ALSA reader's hand-back. Capture
// runs at real-time pace, so this run is kept to a few dozen takes; the recorder's own races
// are stressed 500 times over on the fault-injecting input.
#include <chrono>
#include <random>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "recorder/sound_recorder.h"
#include "support/audio/wave_file_checks.h"

namespace quorel {
namespace {

using std::chrono::duration;
using std::chrono::microseconds;
using std::chrono::steady_clock;

constexpr int kTakes = 36;
constexpr double kBytesPerSecond = 32000;
// The sound server's blocks (up to 50 ms) and ALSA's periods (20 ms) hold back what a stop
// cannot reach, and a loaded machine adds to it; a lost buffer or period costs far more.
constexpr double kLateSeconds = 0.2;
constexpr double kEarlySeconds = 0.05;

microseconds DrawLength(std::mt19937& random, int take) {
  if (take % 3 == 0) {
    // The first full buffer comes back about a second after capture starts.
    return microseconds(std::uniform_int_distribution<int>(960000, 1080000)(random));
  }
  return microseconds(std::uniform_int_distribution<int>(0, 1200000)(random));
}

TEST(CaptureStress, RandomLengthsThroughTheRealPathHoldExactlyTheFedSignal) {
  test::ScratchFolder folder;
  const uint32_t seed = std::random_device{}();
  std::mt19937 random(seed);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  const std::string path = folder.Path("take.wav");
  const std::u16string path16 = test::Utf16(path);
  // Counted after the first take, once the runtime's own threads (a sanitizer's) are up.
  size_t descriptors = 0;
  size_t threads = 0;

  for (int take = 0; take < kTakes; ++take) {
    const microseconds length = DrawLength(random, take);
    const auto beforeStart = steady_clock::now();
    ASSERT_EQ(SoundRecorderStart(path16.c_str()), QUOREL_SUCCESS);
    const auto started = steady_clock::now();
    std::this_thread::sleep_until(started + length);
    const auto stopping = steady_clock::now();
    const int32_t count = SoundRecorderStop();
    const auto stopped = steady_clock::now();

    const std::string context = "take " + std::to_string(take) + " of " +
                                std::to_string(length.count()) + " us (seed " +
                                std::to_string(seed) + ")";
    const std::vector<uint8_t> file = test::ReadWholeFile(path);
    ASSERT_TRUE(test::IsCompleteWave(file, count)) << context;
    ASSERT_TRUE(test::HoldsCounterSignal(file)) << context;
    const double ran = duration<double>(stopping - started).count();
    const double total = duration<double>(stopped - beforeStart).count();
    EXPECT_GE(count, (ran - kLateSeconds) * kBytesPerSecond) << context;
    EXPECT_LE(count, (total + kEarlySeconds) * kBytesPerSecond) << context;
    if (take == 0) {
      descriptors = test::OpenDescriptorCount();
      threads = test::ThreadCount();
    }
  }
  EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
  EXPECT_EQ(test::ThreadCount(), threads);
}

// Start and Stop on two threads at once through the real path, where opening the input takes
// the sound server's round trips: each Stop that finds the input still opening waits for it,
// and each input opened is closed again (the counts return to where they were).
TEST(CaptureStress, StopsRacingStartsCloseEveryInputTheyOpen) {
  constexpr int kRaces = 30;
  test::ScratchFolder folder;
  const std::string path = folder.Path("take.wav");
  const std::u16string path16 = test::Utf16(path);
  size_t descriptors = 0;
  size_t threads = 0;
  std::mt19937 random(std::random_device{}());
  for (int race = 0; race < kRaces; ++race) {
    const microseconds lead(std::uniform_int_distribution<int>(0, 20000)(random));
    std::thread stopper([&] {
      std::this_thread::sleep_for(lead);
      SoundRecorderStop();
    });
    EXPECT_EQ(SoundRecorderStart(path16.c_str()), QUOREL_SUCCESS);
    stopper.join();
    SoundRecorderStop();  // when the other Stop came before the Start
    const std::vector<uint8_t> file = test::ReadWholeFile(path);
    ASSERT_GE(file.size(), 44u);
    ASSERT_TRUE(test::IsCompleteWave(file, file.size() - 44)) << "race " << race;
    ASSERT_TRUE(test::HoldsCounterSignal(file)) << "race " << race;
    if (race == 0) {
      descriptors = test::OpenDescriptorCount();
      threads = test::ThreadCount();
    }
  }
  EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
  EXPECT_EQ(test::ThreadCount(), threads);
}

}  // namespace
}  // namespace quorel
