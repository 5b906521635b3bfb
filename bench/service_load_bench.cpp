// quorel-service under slow, idle, flooding and many clients, all on loopback against a service
// of its own on a free port, then the attacks that nginx is measured against beside it (nginx
// started with a config of its own in NGINX_FOLDER). Every phase runs a fixed number of requests
// or seconds.
//
//   quorel_bench_service_load [ROUNDS [NGINX NGINX_FOLDER]]
//
// ROUNDS: good requests per latency measure, default 20; without NGINX the nginx column says it
// is not installed.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "nginx_peer.h"
#include "service/https_client.h"
#include "service/service_process.h"
#include "service/wave_builder.h"
#include "support/common/loopback_connection.h"

namespace {

using namespace quorel::test;
using Clock = std::chrono::steady_clock;

constexpr int kDecoders = 2;
constexpr int kSlowClients = 100;  // of each kind: slow header, slow body, idle
constexpr int kFloodClients = 4;   // endless header lines
constexpr int kConcurrent = 64;    // good requests at once
constexpr int kStopClients = 40;   // sending good requests in a loop across a SIGTERM

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()))];
}

struct Service {
  ServiceProcess process{{"--key", "K1", "--threads", std::to_string(kDecoders)}};
  HttpAnswer Good() const { return process.Call(GoodCall(1.0)); }
};

// Median of rounds sequential good requests, in milliseconds; -1 if one failed.
double MedianGoodLatency(const Service& service, int rounds) {
  std::vector<double> latencies;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    if (service.Good().status != 200) return -1;
    latencies.push_back(Milliseconds(Clock::now() - start));
  }
  return Percentile(latencies, 0.5);
}

// Holds the slow and idle clients open, a byte a second each, reopening those the service closes.
class SlowClients {
 public:
  explicit SlowClients(const Service& service) : service_(service) {
    feeder_ = std::thread([this] { Feed(); });
  }
  ~SlowClients() {
    running_ = false;
    feeder_.join();
    for (const int fd : idle_) close(fd);
  }
  int Reopened() const { return reopened_; }

 private:
  std::unique_ptr<RawTlsConnection> Open(bool body) {
    auto connection = std::make_unique<RawTlsConnection>(service_.process.Port(),
                                                         service_.process.AuthorityFile());
    // A whole head, or its first line only.
    const std::string head = RequestHead(kGoodTarget, 100000);
    connection->Send(body ? head : head.substr(0, head.find('\n') + 1));
    return connection;
  }

  void Feed() {
    std::vector<std::unique_ptr<RawTlsConnection>> headers, bodies;
    for (int i = 0; i < kSlowClients && running_; ++i) {
      headers.push_back(Open(false));
      bodies.push_back(Open(true));
      idle_.push_back(ConnectLoopback(service_.process.Port()));
    }
    while (running_) {
      for (int i = 0; i < kSlowClients; ++i) {
        if (!headers[i]->Send("X")) headers[i] = Open(false), ++reopened_;
        if (!bodies[i]->Send("-")) bodies[i] = Open(true), ++reopened_;
        char probe;
        if (recv(idle_[i], &probe, 1, MSG_DONTWAIT) == 0) {
          close(idle_[i]);
          idle_[i] = ConnectLoopback(service_.process.Port());
          ++reopened_;
        }
      }
      for (int tick = 0; tick < 10 && running_; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  }

  const Service& service_;
  std::atomic<bool> running_{true};
  std::atomic<int> reopened_{0};
  std::vector<int> idle_;
  std::thread feeder_;
};

void SlowClientPhase(int rounds) {
  Service service;
  const double idle = MedianGoodLatency(service, rounds);
  double loaded = -1;
  int reopened = 0;
  {
    SlowClients slow(service);
    std::this_thread::sleep_for(std::chrono::seconds(3));  // all open and trickling
    loaded = MedianGoodLatency(service, rounds);
    // On through the service's deadlines, so that closed clients come back.
    std::this_thread::sleep_for(std::chrono::seconds(12));
    const double later = MedianGoodLatency(service, rounds);
    loaded = std::max(loaded, later);
    reopened = slow.Reopened();
  }
  std::printf("| good request, idle service (median of %d) | %.1f ms |\n", rounds, idle);
  std::printf(
      "| good request beside %d slow-header, %d slow-body, %d idle (worst median) | "
      "%.1f ms (%.2f x idle; %d clients closed by the service and reopened) |\n",
      kSlowClients, kSlowClients, kSlowClients, loaded, loaded / idle, reopened);
}

void FloodPhase() {
  Service service;
  const long before = StatusKilobytes(service.process.Pid(), "VmRSS");
  std::atomic<bool> running{true};
  std::atomic<long> answered{0};
  std::vector<std::thread> flooders;
  for (int i = 0; i < kFloodClients; ++i) {
    flooders.emplace_back([&] {
      const std::string lines = [] {
        std::string text;
        for (int n = 0; n < 256; ++n) text += "X-Filler-" + std::to_string(n) + ": aaaaaaaa\r\n";
        return text;
      }();
      while (running) {
        RawTlsConnection connection(service.process.Port(), service.process.AuthorityFile());
        connection.Send("POST " + kGoodTarget + " HTTP/1.1\r\n");
        while (running && connection.Send(lines)) {
        }
        ++answered;
      }
    });
  }
  long peak = before;
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < end) {
    peak = std::max(peak, StatusKilobytes(service.process.Pid(), "VmRSS"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  running = false;
  for (std::thread& flooder : flooders) flooder.join();
  std::printf(
      "| RSS with %d connections sending endless headers for 10 s | %ld kB before, "
      "%ld kB peak (+%ld kB; %ld connections cut at the header cap) |\n",
      kFloodClients, before, peak, peak - before, answered.load());
}

void ConcurrentPhase() {
  Service service;
  const HttpCall call = GoodCall(1.0);
  std::vector<double> latencies(kConcurrent);
  std::vector<long> statuses(kConcurrent);
  std::vector<std::thread> clients;
  const auto start = Clock::now();
  for (int i = 0; i < kConcurrent; ++i) {
    clients.emplace_back([&, i] {
      statuses[i] = Call(service.process.Port(), service.process.AuthorityFile(), call).status;
      latencies[i] = Milliseconds(Clock::now() - start);
    });
  }
  for (std::thread& client : clients) client.join();
  const long ok = std::count(statuses.begin(), statuses.end(), 200L);
  const long busy = std::count(statuses.begin(), statuses.end(), 503L);
  const long none = std::count(statuses.begin(), statuses.end(), 0L);
  const double p50 = Percentile(latencies, 0.5);
  const double p99 = Percentile(latencies, 0.99);
  std::printf(
      "| %d good requests at once, %d decoders | %ld answered 200, %ld 503, %ld without "
      "answer; p50 %.0f ms, p99 %.0f ms (p99/p50 %.2f; bound 2 x %d/%d = %d) |\n",
      kConcurrent, kDecoders, ok, busy, none, p50, p99, p99 / p50, kConcurrent, kDecoders,
      2 * kConcurrent / kDecoders);
}

// What a side-by-side attack runs against: a quorel-service, or nginx in front of one (whose
// own memory is then measured; its good requests are recognised by the service behind it).
class Peer {
 public:
  Peer(const std::string& nginx, const std::string& nginxFolder) {
    if (nginx.empty()) return;
    const std::string& authority = service_.process.AuthorityFile();
    nginx_ = std::make_unique<quorel::bench::NginxPeer>(nginx, nginxFolder, service_.process.Port(),
                                                        authority.substr(0, authority.rfind('/')));
  }
  bool Running() const {
    return service_.process.Running() && (nginx_ == nullptr || nginx_->Running());
  }
  int Port() const { return nginx_ ? nginx_->Port() : service_.process.Port(); }
  const std::string& Authority() const { return service_.process.AuthorityFile(); }
  long ResidentKilobytes() const {
    return nginx_ ? nginx_->ResidentKilobytes() : StatusKilobytes(service_.process.Pid(), "VmRSS");
  }
  int Stop() { return nginx_ ? nginx_->Stop() : service_.process.Stop(SIGTERM); }
  HttpAnswer Good() const { return Call(Port(), Authority(), GoodCall(1.0)); }
  HttpAnswer Send(const HttpCall& call) const { return Call(Port(), Authority(), call); }

 private:
  Service service_;
  std::unique_ptr<quorel::bench::NginxPeer> nginx_;
};

// Sequential good requests: "p50 X ms, p99 Y ms", and how many failed if any did.
std::string GoodLatencies(const Peer& peer, int rounds) {
  std::vector<double> latencies;
  int failed = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    if (peer.Good().status != 200) ++failed;
    latencies.push_back(Milliseconds(Clock::now() - start));
  }
  char text[160];
  std::snprintf(text, sizeof text, "p50 %.0f ms, p99 %.0f ms", Percentile(latencies, 0.5),
                Percentile(latencies, 0.99));
  return text + (failed > 0 ? ", " + std::to_string(failed) + " not 200" : std::string());
}

// 100 clients post a body of the largest allowed size (16 MiB) at once: peak resident memory.
std::string LargeBodies(Peer& peer) {
  constexpr int kClients = 100;
  constexpr size_t kBody = 16 * 1024 * 1024;
  const WaveFormat stereo{1, 2, 16000, 16};  // refused with 415 once the whole body is read
  const size_t envelope = MakeEnvelope(MakeWave("", stereo)).size();
  const HttpCall large =
      PostCall(MakeEnvelope(MakeWave(std::string(kBody - envelope, '\0'), stereo)));
  const long before = peer.ResidentKilobytes();
  std::atomic<bool> running{true};
  std::atomic<long> peak{before};
  std::thread watcher([&] {
    while (running) {
      peak = std::max(peak.load(), peer.ResidentKilobytes());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::vector<long> statuses(kClients);
  std::vector<std::thread> clients;
  const auto start = Clock::now();
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] { statuses[i] = peer.Send(large).status; });
  }
  const std::string during = GoodLatencies(peer, 5);
  for (std::thread& client : clients) client.join();
  const double seconds = Milliseconds(Clock::now() - start) / 1000;
  running = false;
  watcher.join();
  char text[256];
  std::snprintf(text, sizeof text,
                "RSS %.0f MB before, %.0f MB peak; %ld of %d answered 415 within %.1f s; "
                "5 good requests meanwhile: %s",
                before / 1024.0, peak / 1024.0, std::count(statuses.begin(), statuses.end(), 415L),
                kClients, seconds, during.c_str());
  return text;
}

// 600 TCP connections that never start their TLS handshake, then good requests.
std::string SilentCrowd(Peer& peer, int rounds) {
  const std::string idle = GoodLatencies(peer, rounds);
  std::vector<int> silent;
  for (int i = 0; i < 600; ++i) silent.push_back(ConnectLoopback(peer.Port()));
  const std::string loaded = GoodLatencies(peer, rounds);
  for (const int fd : silent) close(fd);
  return loaded + " (idle: " + idle + ")";
}

// 600 TLS connections that never send a byte of a request, then good requests.
std::string IdleTlsCrowd(Peer& peer, int rounds) {
  const std::string idle = GoodLatencies(peer, rounds);
  std::vector<std::unique_ptr<RawTlsConnection>> crowd(600);
  std::vector<std::thread> openers;
  for (int t = 0; t < 6; ++t) {
    openers.emplace_back([&, t] {
      for (size_t i = t; i < crowd.size(); i += 6) {
        crowd[i] = std::make_unique<RawTlsConnection>(peer.Port(), peer.Authority());
      }
    });
  }
  for (std::thread& opener : openers) opener.join();
  const long open = std::count_if(crowd.begin(), crowd.end(),
                                  [](const auto& connection) { return connection->Open(); });
  return GoodLatencies(peer, rounds) + " (idle: " + idle + "; " + std::to_string(open) +
         " of 600 handshakes done)";
}

// SIGTERM while 40 clients post good requests in a loop.
std::string StopUnderClients(Peer& peer) {
  std::atomic<bool> running{true};
  std::atomic<long> answered{0}, refused{0}, dropped{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kStopClients; ++i) {
    clients.emplace_back([&] {
      while (running) {
        const HttpAnswer answer = peer.Good();
        if (answer.status != 0) {
          ++answered;
        } else if (answer.tlsUp) {
          ++dropped;
        } else {
          ++refused;  // never accepted: the listener is gone
          return;
        }
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto stopAt = Clock::now();
  const int status = peer.Stop();
  const double stopMs = Milliseconds(Clock::now() - stopAt);
  running = false;
  for (std::thread& client : clients) client.join();
  char text[200];
  std::snprintf(text, sizeof text,
                "exit %d after %.0f ms; %ld answered, %ld accepted without answer", status, stopMs,
                answered.load(), dropped.load());
  return text;
}

// 520 clients with a wrong key declare 16 MB and send 2 KiB a second from their head on: how long
// after its head is each closed, and how long does a good request take behind them?
std::string RefusedSlowBodies(Peer& peer) {
  constexpr int kClients = 520;
  constexpr double kWatchSeconds = 40;
  struct Slow {
    std::unique_ptr<RawTlsConnection> connection;
    Clock::time_point headAt;
    double closedAfter = -1;  // seconds after the head
    std::atomic<bool> ready{false};
  };
  std::vector<Slow> slow(kClients);
  std::atomic<bool> running{true};
  // Feeds every connection already open once a second, from the start, so that none falls
  // under the minimum body rate while the others are still opening.
  std::thread feeder([&] {
    const std::string chunk(2048, 'x');
    const auto start = Clock::now();
    while (running && Milliseconds(Clock::now() - start) < (kWatchSeconds + 5) * 1000) {
      const auto tick = Clock::now();
      for (Slow& client : slow) {
        if (!client.ready || client.closedAfter >= 0) continue;
        if (!client.connection->Open() || !client.connection->Send(chunk) ||
            client.connection->AwaitClose(std::chrono::milliseconds(0))) {
          client.closedAfter = Milliseconds(Clock::now() - client.headAt) / 1000;
        }
      }
      std::this_thread::sleep_until(tick + std::chrono::seconds(1));
    }
  });
  std::vector<std::thread> openers;
  for (int t = 0; t < 4; ++t) {
    openers.emplace_back([&, t] {
      for (size_t i = t; i < slow.size(); i += 4) {
        slow[i].connection = std::make_unique<RawTlsConnection>(peer.Port(), peer.Authority());
        slow[i].connection->Send(RequestHead(kRecognizeTarget + std::string("wrong"), 16000000));
        slow[i].headAt = Clock::now();
        slow[i].ready = true;
      }
    });
  }
  for (std::thread& opener : openers) opener.join();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto goodStart = Clock::now();
  const long goodStatus = peer.Good().status;
  const double goodMs = Milliseconds(Clock::now() - goodStart);
  feeder.join();
  running = false;
  long closedBy30 = 0, closed = 0;
  double first = kWatchSeconds, last = 0;
  for (const Slow& client : slow) {
    if (client.closedAfter < 0) continue;
    ++closed;
    closedBy30 += client.closedAfter <= 31;
    first = std::min(first, client.closedAfter);
    last = std::max(last, client.closedAfter);
  }
  char text[260];
  std::snprintf(text, sizeof text, "good request 3 s after the last head: %ld after %.0f ms",
                goodStatus, goodMs);
  if (closed == 0)
    return "none closed within " + std::to_string(int(kWatchSeconds)) + " s; " + text;
  char closings[200];
  std::snprintf(closings, sizeof closings,
                "%ld closed within 30 s of their head, %ld within %.0f s (first after %.1f s, "
                "last after %.1f s); ",
                closedBy30, closed, kWatchSeconds, first, last);
  return closings + std::string(text);
}

// Each attack against a fresh service and a fresh nginx in front of another.
void SideBySide(const std::string& nginx, const std::string& nginxFolder, int rounds) {
  std::printf("\n| attack | quorel-service | nginx |\n|---|---|---|\n");
  const auto row = [&](const char* attack, const std::function<std::string(Peer&)>& run) {
    std::string cells[2];
    for (int side = 0; side < 2; ++side) {
      if (side == 1 && nginx.empty()) {
        cells[side] = "not installed (scripts/install-deps.sh --bench)";
        continue;
      }
      Peer peer(side == 0 ? "" : nginx, nginxFolder);
      cells[side] = peer.Running() ? run(peer) : "did not start";
    }
    std::printf("| %s | %s | %s |\n", attack, cells[0].c_str(), cells[1].c_str());
  };
  row("100 clients each post a 16 MiB body at once", LargeBodies);
  row("600 connections that never start the TLS handshake, then good requests",
      [&](Peer& peer) { return SilentCrowd(peer, rounds); });
  row("600 idle TLS connections, then good requests",
      [&](Peer& peer) { return IdleTlsCrowd(peer, rounds); });
  row("SIGTERM under 40 clients posting in a loop", StopUnderClients);
  row("520 clients, wrong key, 16 MB declared, 2 KiB/s", RefusedSlowBodies);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const std::string nginx = argc > 3 ? argv[2] : "";
  const std::string nginxFolder = argc > 3 ? argv[3] : "";
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("| measure | result |\n|---|---|\n");
  SlowClientPhase(rounds);
  FloodPhase();
  ConcurrentPhase();
  SideBySide(nginx, nginxFolder, rounds);
  return 0;
}
