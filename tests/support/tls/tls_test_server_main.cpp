// The test TLS server as a program, for wire tests on other systems, stress runs and
// benchmarks. It prints "port N" once listening, writes each request it receives to
// FOLDER/request-K.bin when asked to, and runs until SIGINT or SIGTERM.
//
//   quorel-tls-test-server --make-certificates FOLDER
//   quorel-tls-test-server --catalogue-names
//   quorel-tls-test-server --certificate FILE --key FILE [--port N] [--misbehave MODE]
//       [--request-body-limit N] [--receive-buffer N] [--answer-size N]
//       [--answer-piece-delay MS] [--request-piece-size N] [--request-piece-delay MS]
//       [--record-folder FOLDER] [--catalogue NAME]
//
// --catalogue-names lists the servers of the shared upload cases; --catalogue NAME serves as
// that one does (support/tls/server_catalogue.h): its options replace all but the certificate,
// key and port given before it, and flags after it change them.
//
// MODE is one of kMisbehaviours below, as support/tls/tls_test_server.h describes them.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "support/tls/server_catalogue.h"
#include "support/tls/test_certificates.h"
#include "support/tls/tls_test_server.h"

namespace {

using quorel::test::Misbehaviour;
using quorel::test::TlsServerOptions;

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
  stopRequested = 1;
}

int Usage(const std::string& problem) {
  std::cerr << "quorel-tls-test-server: " << problem << " (see the head of the source)\n";
  return 2;
}

// The names of MODE, in the order of the enum.
constexpr char kMisbehaviours[] =
    "none refuse fail-handshake stall-handshake close-in-request stall-in-request early-answer "
    "early-answer-reading continue-then-close no-answer stall-answer cut-answer stall-in-answer";

// The mode named name; false when there is none.
bool LookUpMode(const std::string& name, Misbehaviour& mode) {
  std::istringstream words(kMisbehaviours);
  int index = 0;
  for (std::string word; words >> word; ++index) {
    if (word == name) {
      mode = static_cast<Misbehaviour>(index);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  TlsServerOptions options;
  std::string recordFolder;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--catalogue-names") {
      for (const auto& server : quorel::test::ServerCatalogue()) std::cout << server.name << "\n";
      return 0;
    }
    if (i + 1 >= argc) return Usage("a value is missing after " + flag);
    const std::string value = argv[++i];
    if (flag == "--make-certificates") {
      try {
        const auto set = quorel::test::MakeTestCertificates(value);
        std::cout << "ca " << set.caFile << "\nlocalhost " << set.localhost.certificate << " "
                  << set.localhost.key << "\n";
        return 0;
      } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
      }
    }
    const unsigned long number = std::strtoul(value.c_str(), nullptr, 10);
    if (flag == "--catalogue") {
      const auto* server = quorel::test::FindCatalogueServer(value);
      if (server == nullptr) return Usage("unknown catalogue server " + value);
      TlsServerOptions served = server->options;
      served.certificateFile = options.certificateFile;
      served.keyFile = options.keyFile;
      served.port = options.port;
      options = served;
    } else if (flag == "--certificate") {
      options.certificateFile = value;
    } else if (flag == "--key") {
      options.keyFile = value;
    } else if (flag == "--port") {
      options.port = static_cast<uint16_t>(number);
    } else if (flag == "--request-body-limit") {
      options.requestBodyLimit = number;
    } else if (flag == "--receive-buffer") {
      options.receiveBufferBytes = static_cast<int>(number);
    } else if (flag == "--answer-size") {
      options.answerBody.assign(number, 'a');
    } else if (flag == "--answer-piece-delay") {
      options.answerPieceDelayMs = static_cast<unsigned>(number);
    } else if (flag == "--request-piece-size") {
      options.requestPieceSize = number;
    } else if (flag == "--request-piece-delay") {
      options.requestPieceDelayMs = static_cast<unsigned>(number);
    } else if (flag == "--record-folder") {
      recordFolder = value;
    } else if (flag != "--misbehave" || !LookUpMode(value, options.misbehaviour)) {
      return Usage("unknown " + flag + " " + value);
    }
  }
  if (options.certificateFile.empty() || options.keyFile.empty()) {
    return Usage("--certificate and --key are required");
  }

  signal(SIGINT, RequestStop);
  signal(SIGTERM, RequestStop);
  try {
    quorel::test::TlsTestServer server(options);
    std::cout << "port " << server.Port() << std::endl;
    size_t recorded = 0;
    while (!stopRequested) {
      const auto exchanges = server.WaitForExchanges(recorded + 1, 200);
      for (; recorded < exchanges.size(); ++recorded) {
        if (recordFolder.empty()) continue;
        // Written aside and renamed, so that a reader never finds the file half written.
        const std::string path = recordFolder + "/request-" + std::to_string(recorded + 1) + ".bin";
        std::ofstream(path + ".part", std::ios::binary) << exchanges[recorded].request;
        std::rename((path + ".part").c_str(), path.c_str());
      }
    }
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  return 0;
}
