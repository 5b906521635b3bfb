// The recorder against arecord: both record the same paced source (ALSA's "default" device
// over a private PulseAudio daemon, fed the counter signal) for the same time, in alternating
// runs. Each run is a process of its own, so its CPU time and peak memory come from the kernel.
// Usage: quorel_bench_recording RECORD_DRIVER FOLDER [RUNS] [SECONDS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "measured_process.h"
#include "support/audio/private_pulse_audio.h"
#include "support/audio/wave_file_checks.h"

namespace {

constexpr double kSamplesPerSecond = 16000;

using quorel::bench::ProcessCost;

struct Run : ProcessCost {
  double samples = 0;
  double shortfallMs = 0;  // audio missing against the time recorded (the library only)
  bool intact = false;     // the file holds the counter signal, no sample lost or repeated
};

bool CheckFile(const std::string& path, Run& run) {
  const std::vector<uint8_t> file = quorel::test::ReadWholeFile(path);
  run.samples = file.size() > 44 ? (file.size() - 44) / 2.0 : 0;
  const ::testing::AssertionResult intact = quorel::test::HoldsCounterSignal(file);
  run.intact = intact;
  if (!intact) std::fprintf(stderr, "%s: %s\n", path.c_str(), intact.message());
  return true;
}

bool RecordWithLibrary(const std::string& driver, const std::string& path, double seconds,
                       Run& run) {
  std::string output;
  if (!quorel::bench::RunMeasured({driver, path, std::to_string(seconds)}, run, &output)) {
    return false;
  }
  double bytes = 0, recordedSeconds = 0, stopSeconds = 0;
  if (std::sscanf(output.c_str(), "%lf %lf %lf", &bytes, &recordedSeconds, &stopSeconds) != 3) {
    return false;
  }
  CheckFile(path, run);
  run.shortfallMs = (recordedSeconds - run.samples / kSamplesPerSecond) * 1000;
  return true;
}

bool RecordWithArecord(const std::string& path, double seconds, Run& run) {
  std::string output;
  const std::vector<std::string> command{
      "arecord", "-q", "-D", "default", "-f",  "S16_LE", "-r",
      "16000",   "-c", "1",  "-t",      "wav", "-d",     std::to_string(static_cast<int>(seconds)),
      path};
  return quorel::bench::RunMeasured(command, run, &output) && CheckFile(path, run);
}

double Median(const std::vector<Run>& runs, double Run::*field) {
  std::vector<double> values;
  for (const Run& run : runs) values.push_back(run.*field);
  return quorel::bench::Median(values);
}

double Worst(const std::vector<Run>& runs, double Run::*field) {
  double worst = 0;
  for (const Run& run : runs) worst = std::max(worst, run.*field);
  return worst;
}

int Intact(const std::vector<Run>& runs) {
  return static_cast<int>(
      std::count_if(runs.begin(), runs.end(), [](const Run& run) { return run.intact; }));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RECORD_DRIVER FOLDER [RUNS] [SECONDS]\n", argv[0]);
    return 2;
  }
  const std::string driver = argv[1];
  const std::string folder = argv[2];
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  const int seconds = argc > 4 ? std::atoi(argv[4]) : 30;
  // The counter signal outlasts every recording, so each one reads it from its start.
  if (!quorel::test::StartCounterSignalInput(folder, seconds + 10)) {
    std::fprintf(stderr, "the private PulseAudio daemon did not start\n");
    return 1;
  }
  std::vector<Run> library, arecord;
  bool ok = true;
  for (int i = 0; i < runs && ok; ++i) {
    // Alternating which goes first evens out what the machine does meanwhile.
    for (int turn = 0; turn < 2 && ok; ++turn) {
      Run run;
      if ((i + turn) % 2 == 0) {
        ok = RecordWithLibrary(driver, folder + "/library.wav", seconds, run);
        library.push_back(run);
      } else {
        ok = RecordWithArecord(folder + "/arecord.wav", seconds, run);
        arecord.push_back(run);
      }
    }
  }
  quorel::test::StopCounterSignalInput(folder);
  if (!ok) {
    std::fprintf(stderr, "a recording failed\n");
    return 1;
  }

  const double libraryCpu = Median(library, &Run::cpuSeconds) * 1000;
  const double arecordCpu = Median(arecord, &Run::cpuSeconds) * 1000;
  std::printf("Recording %d s, median of %d alternating runs each\n", seconds, runs);
  std::printf("| measure | library | arecord |\n|---|---|---|\n");
  std::printf("| CPU time of the process (ms) | %.0f | %.0f |\n", libraryCpu, arecordCpu);
  std::printf("| peak resident memory (MB) | %.1f | %.1f |\n", Median(library, &Run::peakMegabytes),
              Median(arecord, &Run::peakMegabytes));
  std::printf("| wake-ups a second (voluntary context switches, all threads) | %.1f | %.1f |\n",
              Median(library, &Run::wakeUps) / seconds, Median(arecord, &Run::wakeUps) / seconds);
  std::printf("| samples in the file | %.0f | %.0f |\n", Median(library, &Run::samples),
              Median(arecord, &Run::samples));
  std::printf("| runs with the counter signal intact | %d/%d | %d/%d |\n", Intact(library), runs,
              Intact(arecord), runs);
  std::printf("| audio short of the time recorded, worst (ms) | %.0f | - |\n",
              Worst(library, &Run::shortfallMs));
  std::printf("CPU time against arecord: %.2f\n", libraryCpu / arecordCpu);
  return Intact(library) == runs && Intact(arecord) == runs ? 0 : 1;
}
