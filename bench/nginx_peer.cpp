#include "nginx_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/common/loopback_connection.h"

namespace quorel::bench {

namespace {

// A port free now; nginx fails loudly (Running() false) if another takes it first.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool Listening(int port) {
  const int fd = test::ConnectLoopback(port);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// The limits match the service's where nginx has one: 512 connections, 10 s for the head,
// 16 MiB bodies, one worker as the service has one I/O thread.
std::string Config(const std::string& folder, int port, int backendPort,
                   const std::string& stateFolder) {
  std::ostringstream text;
  text << "worker_processes 1;\n"
       << "pid " << folder << "/nginx.pid;\n"
       << "error_log " << folder << "/error.log;\n"
       << "events { worker_connections 512; }\n"
       << "http {\n"
       << "  access_log " << folder << "/access.log;\n"
       << "  client_body_temp_path " << folder << "/body;\n"
       << "  proxy_temp_path " << folder << "/proxy;\n"
       << "  fastcgi_temp_path " << folder << "/fastcgi;\n"
       << "  uwsgi_temp_path " << folder << "/uwsgi;\n"
       << "  scgi_temp_path " << folder << "/scgi;\n"
       << "  client_max_body_size 16m;\n"
       << "  client_header_timeout 10s;\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port << " ssl;\n"
       << "    ssl_certificate " << stateFolder << "/localhost.pem;\n"
       << "    ssl_certificate_key " << stateFolder << "/localhost-key.pem;\n"
       << "    location / {\n"
       << "      if ($arg_key != \"K1\") { return 403; }\n"
       << "      proxy_pass https://127.0.0.1:" << backendPort << ";\n"
       << "      proxy_http_version 1.1;\n"
       << "    }\n"
       << "  }\n"
       << "}\n";
  return text.str();
}

}  // namespace

NginxPeer::NginxPeer(const std::string& nginx, const std::string& folder, int backendPort,
                     const std::string& stateFolder)
    : folder_(folder) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const int port = FreePort();
  std::ofstream(folder + "/nginx.conf") << Config(folder, port, backendPort, stateFolder);
  process_ = std::make_unique<test::ChildProcess>(std::vector<std::string>{
      nginx, "-p", folder, "-c", folder + "/nginx.conf", "-g", "daemon off;"});
  for (int tries = 0; tries < 100 && process_->Running(); ++tries) {
    if (Listening(port)) {
      port_ = port;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "nginx did not listen on port %d: %s\n", port, ErrorLog().c_str());
}

NginxPeer::~NginxPeer() {
  Stop();
}

long NginxPeer::ResidentKilobytes() const {
  const std::string master = std::to_string(process_->Pid());
  long total = test::StatusKilobytes(process_->Pid(), "VmRSS");
  std::ifstream children("/proc/" + master + "/task/" + master + "/children");
  for (pid_t child; children >> child;)
    total += std::max(0L, test::StatusKilobytes(child, "VmRSS"));
  return total;
}

int NginxPeer::Stop() {
  if (stopped_) return -1;
  stopped_ = true;
  process_->Signal(SIGTERM);
  return process_->Finish().exitCode;
}

std::string NginxPeer::ErrorLog() const {
  std::ifstream log(folder_ + "/error.log");
  std::stringstream text;
  text << log.rdbuf();
  return text.str();
}

}  // namespace quorel::bench
