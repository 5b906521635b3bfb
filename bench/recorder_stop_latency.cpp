// Measures how long the recorder's Stop takes to return, over recordings of varied length on
// ALSA's "default" capture device. Usage: quorel_bench_stop_latency FOLDER [RECORDINGS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"
#include "recorder/sound_recorder.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [RECORDINGS]\n", argv[0]);
    return 2;
  }
  const std::string path = std::string(argv[1]) + "/stop-latency.wav";
  const std::u16string path16(path.begin(), path.end());
  const int recordings = argc > 2 ? std::atoi(argv[2]) : 20;

  std::vector<double> stopMilliseconds;
  for (int i = 0; i < recordings; ++i) {
    if (quorel::SoundRecorderStart(path16.c_str()) != QUOREL_SUCCESS) {
      std::fprintf(stderr, "recording %d did not start\n", i);
      quorel::SoundRecorderStop();
      return 1;
    }
    // Stops land anywhere within the one-second buffer, and after several full ones.
    std::this_thread::sleep_for(std::chrono::milliseconds(150 + (i * 137) % 1900));
    const auto before = std::chrono::steady_clock::now();
    quorel::SoundRecorderStop();
    const auto after = std::chrono::steady_clock::now();
    stopMilliseconds.push_back(std::chrono::duration<double, std::milli>(after - before).count());
  }
  std::sort(stopMilliseconds.begin(), stopMilliseconds.end());
  std::printf("Stop over %d recordings: median %.2f ms, worst %.2f ms, best %.2f ms\n", recordings,
              stopMilliseconds[stopMilliseconds.size() / 2], stopMilliseconds.back(),
              stopMilliseconds.front());
  return 0;
}
