// One recording of a given length, as a host application makes it: Start, wait, Stop. Prints
// the byte count, the time from Start's return to Stop's call and Stop's own time.
// Usage: quorel_bench_record PATH SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "recorder/sound_recorder.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PATH SECONDS\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  const std::u16string path16(path.begin(), path.end());
  const std::chrono::duration<double> length(std::atof(argv[2]));

  if (quorel::SoundRecorderStart(path16.c_str()) != QUOREL_SUCCESS) {
    quorel::SoundRecorderStop();
    std::fprintf(stderr, "the recording did not start\n");
    return 1;
  }
  const auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_until(started + length);
  const auto stopping = std::chrono::steady_clock::now();
  const int32_t count = quorel::SoundRecorderStop();
  const auto stopped = std::chrono::steady_clock::now();
  using Seconds = std::chrono::duration<double>;
  std::printf("%d %.6f %.6f\n", count, Seconds(stopping - started).count(),
              Seconds(stopped - stopping).count());
  return 0;
}
