// Any request through the local service's reading of it: the request target, the multipart
// envelope (the library's, or a form's when the Content-Type declares one) and the WAV file
// inside. Whatever arrives, the service answers with one of its
// statuses and a JSON body, the part it finds lies inside the body, and the samples it hands
// the recogniser lie inside the part, whole.
//
// Input: the first line is the request target, the second the Content-Type, the rest the body.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "multipart_envelope.h"
#include "request_target.h"
#include "speech_request.h"
#include "wave_audio.h"

namespace {

using namespace quorel::service;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "service request: %s\n", what);
  std::abort();
}

bool Inside(std::string_view inner, std::string_view outer) {
  return inner.empty() || (inner.data() >= outer.data() &&
                           inner.data() + inner.size() <= outer.data() + outer.size());
}

std::string_view NextLine(std::string_view& rest) {
  const size_t end = rest.find('\n');
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

const AccessKeys& Keys() {
  static const AccessKeys keys = [] {
    AccessKeys made;
    std::string problem;
    made.Add("KEY", &problem);
    return made;
  }();
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view target = NextLine(rest);
  const std::string_view contentType = NextLine(rest);
  const std::string_view body = rest;

  const RequestTarget parsed = ParseRequestTarget(target);
  Require(Inside(parsed.wireKey, target), "the key lies outside the target");
  const std::optional<std::string> boundary = FormDataBoundary(contentType);
  const Envelope envelope =
      boundary && !boundary->empty() ? OpenFormData(body, *boundary) : OpenEnvelope(body);
  Require(envelope.valid || !envelope.problem.empty(), "a refused envelope without a reason");
  if (envelope.valid) {
    Require(Inside(envelope.part, body), "the part lies outside the body");
    const WaveAudio audio = CheckWave(envelope.part);
    if (audio.verdict == WaveVerdict::kAccepted) {
      Require(Inside(audio.pcm, envelope.part), "the samples lie outside the part");
      Require(audio.pcm.size() % 2 == 0, "a part of a sample");
    } else {
      Require(!audio.problem.empty(), "a refused file without a reason");
    }
  }

  const SpeechRequest request{"POST", target, contentType, body};
  bool recognised = false;
  const SpeechReply reply = AnswerSpeechRequest(request, Keys(), [&](const auto& samples) {
    recognised = true;
    Recognition recognition;
    recognition.succeeded = samples.size() % 3 != 0;
    recognition.transcript = "heard \"" + std::to_string(samples.size()) + "\"\n";
    recognition.confidence = 0.5;
    return recognition;
  });
  static const std::set<int> kStatuses = {200, 400, 401, 403, 404, 405, 413, 415, 500};
  Require(kStatuses.count(reply.status) == 1, "a status the service does not give");
  Require(!reply.body.empty() && reply.body.front() == '{', "an answer that is not JSON");
  Require(reply.status != 200 || recognised, "success without recognition");
  return 0;
}
