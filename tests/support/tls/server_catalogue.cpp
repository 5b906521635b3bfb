#include "support/tls/server_catalogue.h"

namespace quorel::test {

namespace {

CatalogueServer Server(const char* name, Misbehaviour misbehaviour = Misbehaviour::kNone) {
  CatalogueServer server{name, {}};
  server.options.misbehaviour = misbehaviour;
  return server;
}

CatalogueServer Answering(const char* name, size_t answerSize, AnswerFraming framing) {
  CatalogueServer server = Server(name);
  server.options.answerBody.assign(answerSize, 'a');
  server.options.framing = framing;
  return server;
}

// Answers after the envelope head and one chunk, then reads no more: the client is still
// sending.
CatalogueServer Early(const char* name, const char* status) {
  CatalogueServer server = Answering(name, 40000, AnswerFraming::kContentLength);
  server.options.misbehaviour = Misbehaviour::kEarlyAnswer;
  server.options.answerStatus = status;
  server.options.requestBodyLimit = 1120;
  server.options.receiveBufferBytes = 32768;
  return server;
}

// Answers right after the request's head and reads on.
CatalogueServer Reading(const char* name, const char* status, bool sendContinue) {
  CatalogueServer server = Answering(name, 40000, AnswerFraming::kContentLength);
  server.options.misbehaviour = Misbehaviour::kEarlyAnswerReading;
  server.options.answerStatus = status;
  server.options.sendContinue = sendContinue;
  return server;
}

std::vector<CatalogueServer> MakeCatalogue() {
  std::vector<CatalogueServer> servers = {
      Answering("LONG_CHUNKED", 10000, AnswerFraming::kChunked),
      Answering("UNTIL_CLOSE", 5000, AnswerFraming::kUntilClose),
      Answering("EMPTY", 0, AnswerFraming::kContentLength),
      Answering("TRICKLE", 40, AnswerFraming::kContentLength),
      Server("CONTINUE"),
      Server("ERROR_PAGE"),
      Early("EARLY_417", "417 Expectation Failed"),
      Early("EARLY_413", "413 Payload Too Large"),
      Reading("READING_417", "417 Expectation Failed", false),
      Reading("READING_417_CONTINUE", "417 Expectation Failed", true),
      Reading("READING_413", "413 Payload Too Large", false),
      Reading("READING_413_CONTINUE", "413 Payload Too Large", true),
      Server("REFUSE", Misbehaviour::kRefuse),
      Server("FAIL_HANDSHAKE", Misbehaviour::kFailHandshake),
      Server("CLOSE_IN_REQUEST", Misbehaviour::kCloseInRequest),
      Server("NO_ANSWER", Misbehaviour::kNoAnswer),
      Server("CUT_ANSWER", Misbehaviour::kCutAnswer),
      Server("STALL_ANSWER", Misbehaviour::kStallAnswer),
      Server("STALL_IN_ANSWER", Misbehaviour::kStallInAnswer),
      Server("CONTINUE_THEN_CLOSE", Misbehaviour::kContinueThenClose),
  };
  for (CatalogueServer& server : servers) {
    TlsServerOptions& options = server.options;
    if (server.name == "TRICKLE") {
      // A byte every 1.4 s: within the cases' stall limit of 2 s every time.
      options.answerPieceSize = 1;
      options.answerPieceDelayMs = 1400;
    } else if (server.name == "CONTINUE") {
      options.sendContinue = true;
    } else if (server.name == "ERROR_PAGE") {
      options.answerStatus = "503 Service Unavailable";
    } else if (server.name == "CLOSE_IN_REQUEST") {
      options.receiveBufferBytes = 4096;  // right after the request header
    }
  }
  return servers;
}

}  // namespace

const std::vector<CatalogueServer>& ServerCatalogue() {
  static const std::vector<CatalogueServer> catalogue = MakeCatalogue();
  return catalogue;
}

const CatalogueServer* FindCatalogueServer(const std::string& name) {
  for (const CatalogueServer& server : ServerCatalogue()) {
    if (server.name == name) return &server;
  }
  return nullptr;
}

}  // namespace quorel::test
