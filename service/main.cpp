// quorel-service: the local speech-recognition service the library posts its recordings to.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "access_keys.h"
#include "certificates.h"
#include "https_service.h"
#include "log_line.h"
#include "recogniser.h"
#include "service_options.h"
#include "state_folder.h"

namespace {

using namespace quorel::service;

constexpr int kExitStopped = 0;
constexpr int kExitCannotStart = 1;
constexpr int kExitUsage = 2;
constexpr int kBodyMappingThreshold = 256 * 1024;
// A reader that has stopped reading standard output does not hold up the service longer.
constexpr std::chrono::milliseconds kLogFlushWait{500};

int Fail(const std::string& problem) {
  std::fprintf(stderr, "quorel-service: %s\n", problem.c_str());
  return kExitCannotStart;
}

bool CollectKeys(const ServiceOptions& options, AccessKeys* keys, std::string* problem) {
  for (const std::string& key : options.keys) {
    if (!keys->Add(key, problem, "given with --key")) return false;
  }
  for (const std::string& file : options.keyFiles) {
    if (!keys->AddFromFile(file, problem)) return false;
  }
  if (keys->Empty()) *problem = "the keys files hold no access key";
  return !keys->Empty();
}

int Run(const ServiceOptions& options, sigset_t stopSignals) {
  std::string problem;
  StateFolder stateFolder;
  if (!stateFolder.Open(options.stateFolder, &problem)) return Fail(problem);
  ServiceCertificates certificates;
  const bool ownCertificate = !options.certificateFile.empty();
  if (options.prepareOnly || !ownCertificate) {
    if (!PrepareCertificates(options.stateFolder, &certificates, &problem)) return Fail(problem);
    WriteLogLine(std::string("quorel-service: ") +
                 (certificates.created ? "created the" : "using the") +
                 " local authority: " + certificates.authorityFile);
  }
  if (options.prepareOnly) return kExitStopped;
  if (ownCertificate) {
    certificates.certificateFile = options.certificateFile;
    certificates.keyFile = options.privateKeyFile;
    WriteLogLine("quorel-service: serving the certificate " + options.certificateFile);
  }

  AccessKeys keys;
  if (!CollectKeys(options, &keys, &problem)) return Fail(problem);
  for (const std::string& warning : keys.Warnings()) WriteLogLine("quorel-service: " + warning);
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t decoders = std::min(options.workers, size_t{cores});
  // The recogniser's loading takes standard output over for a moment: the log must be quiet.
  FlushLog(kLogFlushWait);
  auto recogniser =
      Recogniser::Create({options.modelFolder, options.grammarFile, decoders}, &problem);
  if (!recogniser) return Fail(problem);

  HttpsService service(
      {options.listen, QUOREL_VERSION, decoders, options.maxBodyBytes, options.bodyMemoryBytes},
      certificates, keys, *recogniser);
  if (!service.Bind(&problem)) return Fail(problem);
  const std::string serving =
      "/ (" + (options.grammarFile.empty() ? "free speech" : "grammar " + options.grammarFile) +
      ") with " + std::to_string(decoders) + (decoders == 1 ? " decoder" : " decoders");
  for (const ListenAddress& listening : service.Listening()) {
    WriteLogLine("quorel-service: listening on https://" + FormatListenAddress(listening) +
                 serving);
  }

  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    service.Stop();
  });
  service.Serve();
  // Serving may also end without a signal; one sent to the stopper lets it finish.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  WriteLogLine("quorel-service: stopped");
  return kExitStopped;
}

}  // namespace

int main(int argc, char** argv) {
  ServiceOptions options;
  std::string problem;
  if (!ParseServiceOptions(argc, argv, &options, &problem)) {
    std::fprintf(stderr, "quorel-service: %s\nTry 'quorel-service --help'.\n", problem.c_str());
    return kExitUsage;
  }
  if (options.showHelp) {
    std::fputs(kServiceUsage, stdout);
    return kExitStopped;
  }
  if (options.showVersion) {
    std::printf("quorel-service %s\n", QUOREL_VERSION);
    return kExitStopped;
  }
  // Every thread inherits this mask, so only the stopper's sigwait sees the stop signals; a
  // client that hangs up mid-answer must not end the process either.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Bodies are single blocks of up to --max-body; a fixed threshold keeps each in a mapping of
  // its own, returned to the system when it is freed, so the resident size follows the body
  // budget instead of what the heap once held.
  mallopt(M_MMAP_THRESHOLD, kBodyMappingThreshold);
  const int status = Run(options, stopSignals);
  FlushLog(kLogFlushWait);
  return status;
}
