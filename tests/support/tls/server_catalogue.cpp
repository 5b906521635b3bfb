#include "support/tls/server_catalogue.h"

#include <algorithm>

namespace quorel::test {

namespace {

CatalogueServer Server(const char* name, Misbehaviour misbehaviour = Misbehaviour::kNone,
                       long answerSize = -1,  // -1: the default answer
                       AnswerFraming framing = AnswerFraming::kContentLength) {
  CatalogueServer server{name, {}};
  server.options.misbehaviour = misbehaviour;
  if (answerSize >= 0) server.options.answerBody.assign(static_cast<size_t>(answerSize), 'a');
  server.options.framing = framing;
  return server;
}

// Answers with a 40000-byte body while the client is still sending: kEarlyAnswer after the
// envelope head and one chunk, then reading no more; kEarlyAnswerReading right after the
// request's head, reading on.
CatalogueServer Early(const char* name, Misbehaviour misbehaviour, const char* status,
                      bool sendContinue = false) {
  CatalogueServer server = Server(name, misbehaviour, 40000);
  server.options.answerStatus = status;
  server.options.sendContinue = sendContinue;
  if (misbehaviour == Misbehaviour::kEarlyAnswer) {
    server.options.requestBodyLimit = 1120;
    server.options.receiveBufferBytes = 32768;
  }
  return server;
}

std::vector<CatalogueServer> MakeCatalogue() {
  constexpr Misbehaviour kEarly = Misbehaviour::kEarlyAnswer;
  constexpr Misbehaviour kReading = Misbehaviour::kEarlyAnswerReading;
  std::vector<CatalogueServer> servers = {
      Server("LONG_CHUNKED", Misbehaviour::kNone, 10000, AnswerFraming::kChunked),
      Server("UNTIL_CLOSE", Misbehaviour::kNone, 5000, AnswerFraming::kUntilClose),
      Server("EMPTY", Misbehaviour::kNone, 0),
      Server("TRICKLE", Misbehaviour::kNone, 40),
      Server("CONTINUE"),
      Server("ERROR_PAGE"),
      Server("KEEP_ALIVE_CLOSE_NOTIFY"),
      Server("KEEP_ALIVE_FIN"),
      Early("EARLY_417", kEarly, "417 Expectation Failed"),
      Early("EARLY_413", kEarly, "413 Payload Too Large"),
      Early("READING_417", kReading, "417 Expectation Failed"),
      Early("READING_417_CONTINUE", kReading, "417 Expectation Failed", true),
      Early("READING_413", kReading, "413 Payload Too Large"),
      Early("READING_413_CONTINUE", kReading, "413 Payload Too Large", true),
      Server("REFUSE", Misbehaviour::kRefuse),
      Server("FAIL_HANDSHAKE", Misbehaviour::kFailHandshake),
      Server("CLOSE_IN_REQUEST", Misbehaviour::kCloseInRequest),
      Server("NO_ANSWER", Misbehaviour::kNoAnswer),
      Server("CUT_ANSWER", Misbehaviour::kCutAnswer),
      Server("CUT_CHUNKED", Misbehaviour::kCutAnswer, 10, AnswerFraming::kChunked),
      Server("STALL_ANSWER", Misbehaviour::kStallAnswer),
      Server("STALL_IN_ANSWER", Misbehaviour::kStallInAnswer),
      Server("CONTINUE_THEN_CLOSE", Misbehaviour::kContinueThenClose),
  };
  const auto of = [&servers](const std::string& name) -> TlsServerOptions& {
    return std::find_if(servers.begin(), servers.end(), [&](auto& s) { return s.name == name; })
        ->options;
  };
  // A byte every 1.4 s: within the cases' stall limit of 2 s every time.
  of("TRICKLE").answerPieceSize = 1;
  of("TRICKLE").answerPieceDelayMs = 1400;
  of("CONTINUE").sendContinue = true;
  of("ERROR_PAGE").answerStatus = "503 Service Unavailable";
  // A connection idle for 0.3 s is closed, long before a client's next call a second later.
  of("KEEP_ALIVE_CLOSE_NOTIFY").keepAliveMs = 300;
  of("KEEP_ALIVE_FIN").keepAliveMs = 300;
  of("KEEP_ALIVE_FIN").closeNotifyWhenIdle = false;
  // The first of two chunks, then a close without the chunked coding's end.
  of("CUT_CHUNKED").answerPieceSize = 5;
  // Reset once the envelope head and a first chunk are in: the request has begun, so the loss
  // falls on a send of the body, whatever the machine's load.
  of("CLOSE_IN_REQUEST").requestBodyLimit = 1120;
  of("CLOSE_IN_REQUEST").receiveBufferBytes = 4096;
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
