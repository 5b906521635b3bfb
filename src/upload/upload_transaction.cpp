// The upload, step by step: token, audio file, session, target, connection, request, envelope
// and declared length, header block, begin, head, file, tail, end, response file, answer.
// Each failing step ends the call with its own code; what was opened is released on the way
// out by its owner. One exception: a request lost on a kept-alive connection that the server
// had closed is made once more (HttpReusedConnectionLost).
#include "upload/upload_transaction.h"

#include "VantrelQuorelSpeech.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "upload/http_handles.h"
#include "upload/request_texts.h"

namespace quorel {

namespace {

constexpr uint32_t kUploadChunkSize = 1024;
constexpr uint32_t kResponseChunkSize = 4096;
// One byte of the response chunk stays unused, as the service's client has always read.
constexpr uint32_t kResponseReadSize = kResponseChunkSize - 1;

// Reads exactly count bytes unless the file ends or fails first.
bool ReadExactly(File& file, uint8_t* data, uint32_t count) {
  uint32_t got = 0;
  while (got < count) {
    const int64_t read = file.Read(data + got, count - got);
    if (read <= 0) return false;
    got += static_cast<uint32_t>(read);
  }
  return true;
}

// Sends the file's first size bytes in chunks of kUploadChunkSize, ending with the first
// chunk shorter than that (of 0 bytes for a size that is a multiple of it), and flushes them,
// so that a loss of the connection while they go out is the file's failure. A file that has
// shrunk since its size was taken fails as a read; one that has grown sends no more than was
// declared.
int32_t SendAudio(HttpRequest* request, File& audio, uint32_t size) {
  uint8_t chunk[kUploadChunkSize];
  uint32_t remaining = size;
  for (;;) {
    const uint32_t wanted = remaining < kUploadChunkSize ? remaining : kUploadChunkSize;
    if (!ReadExactly(audio, chunk, wanted)) return QUOREL_SPEECH_AUDIO_READ_FAILED;
    if (!HttpWrite(request, chunk, wanted)) return QUOREL_SPEECH_AUDIO_SEND_FAILED;
    remaining -= wanted;
    if (wanted < kUploadChunkSize) {
      return HttpFlush(request) ? QUOREL_SUCCESS : QUOREL_SPEECH_AUDIO_SEND_FAILED;
    }
  }
}

// Stores the answer body as it arrives; what came before a failure stays in the file.
int32_t CopyAnswer(HttpRequest* request, File& response) {
  uint8_t chunk[kResponseChunkSize];
  for (;;) {
    uint32_t count = 0;
    switch (HttpRead(request, chunk, kResponseReadSize, &count)) {
      case HttpReadResult::kEnd:
        return QUOREL_SUCCESS;
      case HttpReadResult::kFailed:
        return QUOREL_SPEECH_NO_ANSWER;
      case HttpReadResult::kData:
        if (response.Write(chunk, count) != count) return QUOREL_SPEECH_RESPONSE_WRITE_FAILED;
        break;
    }
  }
}

// The response file replaces any earlier one, so it never holds a stale answer, and holds
// exactly the body bytes that arrived.
int32_t StoreAnswer(HttpRequest* request, bool answered, const char16_t* responsePath) {
  File response;
  if (!response.Create(responsePath)) return QUOREL_SPEECH_RESPONSE_WRITE_FAILED;
  const int32_t copied = answered ? CopyAnswer(request, response) : QUOREL_SPEECH_NO_ANSWER;
  if (!response.Close()) return QUOREL_SPEECH_RESPONSE_WRITE_FAILED;
  return copied;
}

// What a request needs besides its connection: the same for each time it is made.
struct RequestInputs {
  const HttpEndpoint& endpoint;
  const BoundaryToken& token;
  const UploadTarget& target;
  File& audio;
  const char16_t* responsePath;
};

// After a step that failed before any of an answer came: whether the request may be made
// again, set in *mayRetry when one is given. It may when it went out on a connection that an
// earlier call had left open and that the server had closed.
bool NoteRetry(HttpRequest* request, bool* mayRetry) {
  return mayRetry != nullptr && (*mayRetry = HttpReusedConnectionLost(request));
}

// A send that failed after the service had answered already (a 417 or 413 before the body was
// whole): the answer is stored all the same, and the failed step's code stands.
int32_t SendFailed(HttpRequest* request, int32_t code, const char16_t* responsePath,
                   bool* mayRetry) {
  if (HttpEarlyAnswer(request)) {
    StoreAnswer(request, true, responsePath);
  } else {
    NoteRetry(request, mayRetry);
  }
  return code;
}

// The request on a connection and request objects of its own, from their set-up to the stored
// answer, the audio file read from its current position.
int32_t MakeRequest(HttpSession* session, const RequestInputs& inputs, bool* mayRetry) {
  const HttpEndpoint& endpoint = inputs.endpoint;
  const BoundaryToken& token = inputs.token;
  const UploadTarget& target = inputs.target;
  File& audio = inputs.audio;
  const char16_t* responsePath = inputs.responsePath;

  const HttpConnectionHandle connection(HttpSetUpConnection(session, endpoint));
  if (!connection) return QUOREL_SPEECH_CONNECTION_FAILED;

  const HttpRequestHandle request(HttpOpenRequest(connection.Get(), "POST", target.Bytes()));
  if (!request) return QUOREL_SPEECH_REQUEST_FAILED;

  EnvelopeBytes head;
  EnvelopeBytes tail;
  MakeEnvelope(token, head, tail);
  const int64_t fileSize = audio.Size();
  uint32_t contentLength = 0;
  if (!ContentLength(head.length, fileSize, tail.length, contentLength)) {
    return QUOREL_SPEECH_AUDIO_READ_FAILED;
  }

  // A request without its header block would reach the service unlabelled: never sent.
  HeaderBlock headerBlock;
  if (!MakeHeaderBlock(endpoint.hostName, contentLength, token, headerBlock) ||
      !HttpAddHeaders(request.Get(), headerBlock.Bytes())) {
    return QUOREL_SPEECH_REQUEST_FAILED;
  }

  // Without a response path the answer could never be stored: fail before the network.
  if (responsePath == nullptr) return QUOREL_SPEECH_RESPONSE_WRITE_FAILED;

  if (!HttpBeginRequest(request.Get(), contentLength)) {
    NoteRetry(request.Get(), mayRetry);
    return QUOREL_SPEECH_BEGIN_FAILED;
  }
  if (!HttpWrite(request.Get(), head.bytes, head.length) || !HttpFlush(request.Get())) {
    return SendFailed(request.Get(), QUOREL_SPEECH_HEAD_SEND_FAILED, responsePath, mayRetry);
  }
  const int32_t audioSent = SendAudio(request.Get(), audio, static_cast<uint32_t>(fileSize));
  if (audioSent == QUOREL_SPEECH_AUDIO_SEND_FAILED) {
    return SendFailed(request.Get(), audioSent, responsePath, mayRetry);
  }
  if (audioSent != QUOREL_SUCCESS) return audioSent;
  if (!HttpWrite(request.Get(), tail.bytes, tail.length) || !HttpFlush(request.Get())) {
    return SendFailed(request.Get(), QUOREL_SPEECH_TAIL_SEND_FAILED, responsePath, mayRetry);
  }

  const bool answered = HttpEndRequest(request.Get());
  // A request to be made again leaves the response file as it was.
  if (!answered && NoteRetry(request.Get(), mayRetry)) return QUOREL_SPEECH_NO_ANSWER;
  return StoreAnswer(request.Get(), answered, responsePath);
}

}  // namespace

int32_t UploadSpeech(const HttpEndpoint& endpoint, const char16_t* audioPath, const char16_t* key,
                     const char16_t* responsePath) {
  BoundaryToken token;
  MakeBoundaryToken(CurrentLocalTime(), token);

  File audio;
  if (!audio.OpenForReading(audioPath)) return QUOREL_SPEECH_AUDIO_OPEN_FAILED;

  const HttpSessionHandle session(HttpOpenSession(kAgentName));
  if (!session) return QUOREL_SPEECH_SESSION_FAILED;

  UploadTarget target;
  if (!MakeUploadTarget(key, target)) return QUOREL_SPEECH_REQUEST_FAILED;

  const RequestInputs inputs{endpoint, token, target, audio, responsePath};
  bool mayRetry = false;
  const int32_t result = MakeRequest(session.Get(), inputs, &mayRetry);
  if (!mayRetry) return result;
  // The server had closed the kept-alive connection before the request reached it, as servers
  // do with an idle one: made once more, on a new connection, the audio read from its start.
  // Nothing of it reached the server, and a connection of the request's own is not retried.
  if (!audio.Rewind()) return QUOREL_SPEECH_AUDIO_READ_FAILED;
  return MakeRequest(session.Get(), inputs, nullptr);
}

}  // namespace quorel
