// Posts one audio file REQUESTS times through the library's QuorelSpeech from THREADS threads at
// once, to the service this build of the library names. Each answer goes to FOLDER/N.json; as
// each call returns, a line "N CODE MILLISECONDS" is printed (flushed at once, so a script can
// act mid-run). Exit status 0 when every call returned QUOREL_SUCCESS, 1 otherwise.
// Usage: quorel_bench_speech_threads AUDIO KEY FOLDER REQUESTS THREADS   (ASCII text only)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"

namespace {

// The arguments are paths the calling script made and a key; wider text is refused.
bool ToUtf16(const char* text, std::u16string* out) {
  for (const char* c = text; *c != 0; ++c) {
    if (static_cast<unsigned char>(*c) > 0x7f) return false;
    out->push_back(static_cast<char16_t>(*c));
  }
  return true;
}

int Count(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == 0 && value > 0 && value <= 100000 ? static_cast<int>(value) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::u16string audio, key, folder;
  const int requests = argc == 6 ? Count(argv[4]) : 0;
  const int threads = argc == 6 ? Count(argv[5]) : 0;
  if (requests == 0 || threads == 0 || !ToUtf16(argv[1], &audio) || !ToUtf16(argv[2], &key) ||
      !ToUtf16(argv[3], &folder)) {
    std::fprintf(stderr, "usage: %s AUDIO KEY FOLDER REQUESTS THREADS (ASCII text only)\n",
                 argv[0]);
    return 2;
  }
  std::atomic<int> next{0};
  std::atomic<bool> allSucceeded{true};
  std::mutex output;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int n; (n = next++) < requests;) {
        const std::string number = std::to_string(n);
        const std::u16string answer =
            folder + u"/" + std::u16string(number.begin(), number.end()) + u".json";
        const auto started = std::chrono::steady_clock::now();
        const int32_t code = QuorelSpeech(audio.c_str(), key.c_str(), answer.c_str());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        if (code != QUOREL_SUCCESS) allSucceeded = false;
        std::lock_guard<std::mutex> lock(output);
        std::printf("%d %d %lld\n", n, code, static_cast<long long>(took.count()));
        std::fflush(stdout);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  return allSucceeded ? 0 : 1;
}
