// The upload against the curl tool: both send the same body (envelope head, file, tail) with
// the same header lines over HTTP/1.1 and TLS, trusting the same CA, to the same test server,
// in alternating runs. Each run is a process of its own, measured by the kernel.
// Usage: quorel_bench_uploading SERVER_PROGRAM UPLOAD_DRIVER FOLDER [RUNS]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "measured_process.h"
#include "platform/clock.h"
#include "upload/request_texts.h"

namespace {

using quorel::bench::Median;
using quorel::bench::ProcessCost;
using quorel::bench::RunMeasured;

void WritePattern(const std::string& path, size_t size) {
  std::ofstream file(path, std::ios::binary);
  std::string block(1 << 16, 0);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + 3);
  for (size_t left = size; left > 0;) {
    const size_t piece = left < block.size() ? left : block.size();
    file.write(block.data(), static_cast<std::streamsize>(piece));
    left -= piece;
  }
}

// What the library would put on the wire for the file: the body file for curl, and the header
// lines (those with a field name; curl can send no other) as -H arguments.
std::vector<std::string> PrepareCurlRequest(const std::string& audio, size_t size,
                                            const std::string& body) {
  quorel::BoundaryToken token;
  quorel::MakeBoundaryToken(quorel::CurrentLocalTime(), token);
  quorel::EnvelopeBytes head;
  quorel::EnvelopeBytes tail;
  quorel::MakeEnvelope(token, head, tail);
  uint32_t length = 0;
  quorel::ContentLength(head.length, static_cast<int64_t>(size), tail.length, length);
  quorel::HeaderBlock block;
  quorel::MakeHeaderBlock(u"localhost", length, token, block);
  {
    std::ofstream out(body, std::ios::binary);
    out.write(head.bytes, head.length);
    out << std::ifstream(audio, std::ios::binary).rdbuf();
    out.write(tail.bytes, tail.length);
  }
  std::vector<std::string> headers;
  std::istringstream lines(block.Bytes());
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(':') == std::string::npos) continue;
    headers.push_back("-H");
    headers.push_back(line);
  }
  return headers;
}

struct Server {
  pid_t pid = -1;
  std::string port;
};

Server StartServer(const std::string& program, const std::string& certificate,
                   const std::string& key) {
  int output[2];
  Server server;
  if (pipe(output) != 0) return server;
  server.pid = fork();
  if (server.pid == 0) {
    dup2(output[1], STDOUT_FILENO);
    close(output[0]);
    close(output[1]);
    execl(program.c_str(), program.c_str(), "--certificate", certificate.c_str(), "--key",
          key.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(output[1]);
  std::string line;
  char unit;
  while (read(output[0], &unit, 1) == 1 && unit != '\n') line += unit;
  close(output[0]);
  if (line.rfind("port ", 0) == 0) server.port = line.substr(5);
  return server;
}

struct Peer {
  std::vector<double> wall, cpu, peak;
  void Add(const ProcessCost& cost) {
    wall.push_back(cost.wallSeconds * 1000);
    cpu.push_back(cost.cpuSeconds * 1000);
    peak.push_back(cost.peakMegabytes);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s SERVER_PROGRAM UPLOAD_DRIVER FOLDER [RUNS]\n", argv[0]);
    return 2;
  }
  const std::string serverProgram = argv[1];
  const std::string driver = argv[2];
  const std::string folder = argv[3];
  const int runs = argc > 4 ? std::atoi(argv[4]) : 5;

  std::string made;
  ProcessCost ignored;
  if (!RunMeasured({serverProgram, "--make-certificates", folder}, ignored, &made)) return 1;
  std::string caFile, certificate, key, word;
  std::istringstream listing(made);
  while (listing >> word) {
    if (word == "ca") listing >> caFile;
    if (word == "localhost") listing >> certificate >> key;
  }
  const Server server = StartServer(serverProgram, certificate, key);
  if (server.port.empty()) return 1;

  std::printf(
      "| upload | library ms | curl ms | time ratio | library CPU ms | curl CPU ms "
      "| library peak MB | curl peak MB |\n|---|---|---|---|---|---|---|---|\n");
  bool ok = true;
  const std::pair<const char*, size_t> sizes[] = {{"3 s WAV (96 kB)", 44 + 96000},
                                                  {"64 MB", size_t{64} << 20}};
  for (const auto& [name, size] : sizes) {
    const std::string audio = folder + "/audio.wav";
    const std::string body = folder + "/body.bin";
    WritePattern(audio, size);
    // Like the library, curl sends the body at once instead of waiting for an interim answer.
    std::vector<std::string> curl = {"curl",          "-sS",          "--fail-with-body",
                                     "--http1.1",     "--cacert",     caFile,
                                     "--capath",      "/nonexistent", "--expect100-timeout",
                                     "0.001",         "-o",           folder + "/curl-answer.json",
                                     "--data-binary", "@" + body};
    const std::vector<std::string> headers = PrepareCurlRequest(audio, size, body);
    curl.insert(curl.end(), headers.begin(), headers.end());
    curl.push_back("https://localhost:" + server.port +
                   "/speech-api/v2/recognize?output=json&lang=en-us&key=KEY");
    const std::vector<std::string> library = {driver, audio, folder + "/answer.json", server.port,
                                              caFile};
    Peer ours, theirs;
    for (int i = 0; i < runs && ok; ++i) {
      for (int turn = 0; turn < 2 && ok; ++turn) {
        ProcessCost cost;
        std::string output;
        const bool libraryTurn = (i + turn) % 2 == 0;
        ok = RunMeasured(libraryTurn ? library : curl, cost, &output);
        (libraryTurn ? ours : theirs).Add(cost);
      }
    }
    if (!ok) break;
    std::printf("| %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f |\n", name,
                Median(ours.wall), Median(theirs.wall), Median(ours.wall) / Median(theirs.wall),
                Median(ours.cpu), Median(theirs.cpu), Median(ours.peak), Median(theirs.peak));
  }
  kill(server.pid, SIGTERM);
  waitpid(server.pid, nullptr, 0);
  if (!ok) std::fprintf(stderr, "an upload failed\n");
  return ok ? 0 : 1;
}
