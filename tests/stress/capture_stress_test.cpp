// Recordings of random length through the real path: ALSA's "default" device over the private
// PulseAudio daemon, fed the counter signal. A third of the Stops fall in the moments around
// the filling of the one-second buffer, where Stop races the ALSA reader's hand-back. Capture
// runs at real-time pace, so this run is kept to a few dozen takes; the recorder's own races
// are stressed 500 times over on the fault-injecting input.
#include <chrono>
#include <random>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "recorder/recorder_exports.h"
#include "recorder/sound_recorder.h"
#include "support/audio/wave_file_checks.h"

namespace quorel {
namespace {

using std::chrono::microseconds;

constexpr int kTakes = 36;

int DrawMilliseconds(std::mt19937& random, int take) {
  // The first full buffer comes back about a second after capture starts.
  if (take % 3 == 0) return std::uniform_int_distribution<int>(960, 1080)(random);
  return std::uniform_int_distribution<int>(0, 1200)(random);
}

// The count against the time, the file, the signal: TakeFaults of recorder_exports_linux.cpp.
TEST(CaptureStress, RandomLengthsThroughTheRealPathHoldExactlyTheFedSignal) {
  test::ScratchFolder folder;
  const uint32_t seed = std::random_device{}();
  std::mt19937 random(seed);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  const std::string path = folder.Path("take.wav");
  const test::RecorderExports recorder;
  // Counted after the first take, once the runtime's own threads (a sanitizer's) are up.
  size_t descriptors = 0;
  size_t threads = 0;

  for (int take = 0; take < kTakes; ++take) {
    const int length = DrawMilliseconds(random, take);
    ASSERT_EQ(test::TakeFaults(path, test::Record(recorder, path, length)), "")
        << "take " << take << " of " << length << " ms (seed " << seed << ")";
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
