// What the shared library costs a host: the time to load and unload it, and its memory while
// it records and while it uploads, against the same process before. The library is loaded
// with dlopen, as a host that loads it on demand does.
// Usage: quorel_bench_footprint LIBRARY WAV_PATH [AUDIO RESPONSE]
//   AUDIO and RESPONSE: an upload to the service the library was built for, measured too.
#include <dlfcn.h>
#include <link.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"

namespace {

using Clock = std::chrono::steady_clock;

double Microseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::micro>(duration).count();
}

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The library's writable static storage (its data and zero-filled segments).
size_t StaticBytes(const char* library) {
  struct Search {
    const char* name;
    size_t bytes;
  } search{std::strrchr(library, '/') ? std::strrchr(library, '/') + 1 : library, 0};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        Search& wanted = *static_cast<Search*>(data);
        if (std::strstr(info->dlpi_name, wanted.name) == nullptr) return 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          if (segment.p_type == PT_LOAD && (segment.p_flags & PF_W))
            wanted.bytes += segment.p_memsz;
        }
        return 1;
      },
      &search);
  return search.bytes;
}

// Peak heap in use while work runs, sampled every millisecond from another thread.
template <typename Work>
size_t PeakHeapDuring(Work work) {
  std::atomic<bool> done{false};
  std::atomic<size_t> peak{HeapInUse()};
  std::thread sampler([&] {
    while (!done) {
      peak = std::max(peak.load(), HeapInUse());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  work();
  done = true;
  sampler.join();
  return peak;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: %s LIBRARY WAV_PATH [AUDIO RESPONSE]\n", argv[0]);
    return 2;
  }
  const char* library = argv[1];
  const std::string wav = argv[2];
  const long residentBefore = ResidentKilobytes();

  auto started = Clock::now();
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  const double firstLoad = Microseconds(Clock::now() - started);
  if (handle == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  const long residentLoaded = ResidentKilobytes();
  const size_t staticBytes = StaticBytes(library);
  dlclose(handle);

  // Once the libraries it depends on are in the process (a host that has unloaded it keeps
  // them only if something else uses them; here nothing does, so each load maps them again).
  std::vector<double> loads, unloads;
  for (int i = 0; i < 100; ++i) {
    started = Clock::now();
    handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    const auto loaded = Clock::now();
    dlclose(handle);
    loads.push_back(Microseconds(loaded - started));
    unloads.push_back(Microseconds(Clock::now() - loaded));
  }
  std::sort(loads.begin(), loads.end());
  std::sort(unloads.begin(), unloads.end());

  handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  using Start = int32_t (*)(const QuorelChar*);
  using Stop = int32_t (*)();
  using Speech = int32_t (*)(const QuorelChar*, const QuorelChar*, const QuorelChar*);
  const auto start = reinterpret_cast<Start>(dlsym(handle, "QuorelSoundRecorderStart"));
  const auto stop = reinterpret_cast<Stop>(dlsym(handle, "QuorelSoundRecorderStop"));
  const auto speech = reinterpret_cast<Speech>(dlsym(handle, "QuorelSpeech"));

  const std::u16string wav16(wav.begin(), wav.end());
  const size_t heapIdle = HeapInUse();
  long residentRecording = 0;
  int32_t result = 0;
  const size_t heapRecording = PeakHeapDuring([&] {
    result = start(wav16.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    residentRecording = ResidentKilobytes();
    stop();
  });
  if (result != QUOREL_SUCCESS) std::fprintf(stderr, "recording failed: %d\n", result);

  std::printf("| measure | value |\n|---|---|\n");
  std::printf("| first load (dependencies mapped too), us | %.0f |\n", firstLoad);
  std::printf("| load, median / worst of 100, us | %.0f / %.0f |\n", loads[50], loads.back());
  std::printf("| unload, median / worst of 100, us | %.0f / %.0f |\n", unloads[50], unloads.back());
  std::printf("| resident memory added by loading, kB | %ld |\n", residentLoaded - residentBefore);
  std::printf("| library's writable static storage, bytes | %zu |\n", staticBytes);
  std::printf("| heap while recording (peak, over idle), bytes | %zu |\n",
              heapRecording - heapIdle);
  std::printf("| resident memory while recording, over idle load, kB | %ld |\n",
              residentRecording - residentLoaded);
  if (argc == 5) {
    const std::string audio = argv[3];
    const std::string response = argv[4];
    const std::u16string audio16(audio.begin(), audio.end());
    const std::u16string response16(response.begin(), response.end());
    const size_t heapBefore = HeapInUse();
    const size_t heapUploading =
        PeakHeapDuring([&] { result = speech(audio16.c_str(), u"KEY", response16.c_str()); });
    if (result != QUOREL_SUCCESS) std::fprintf(stderr, "upload failed: %d\n", result);
    std::printf("| heap while uploading (peak, over idle), bytes | %zu |\n",
                heapUploading - heapBefore);
  }
  dlclose(handle);
  return result == QUOREL_SUCCESS ? 0 : 1;
}
