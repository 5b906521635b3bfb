#include "speech_request.h"

#include <cctype>

#include "answer_json.h"
#include "multipart_envelope.h"
#include "request_target.h"
#include "wave_audio.h"

namespace quorel::service {

namespace {

SpeechReply Refuse(int status, const std::string& code, const std::string& message) {
  return {status, ErrorAnswer(status, code, message), ""};
}

std::vector<int16_t> DecodeSamples(std::string_view pcm) {
  std::vector<int16_t> samples(pcm.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto low = static_cast<unsigned char>(pcm[2 * i]);
    const auto high = static_cast<unsigned char>(pcm[2 * i + 1]);
    samples[i] = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
  }
  return samples;
}

}  // namespace

bool IsAudioL16(std::string_view contentType) {
  std::string_view mediaType = contentType.substr(0, contentType.find(';'));
  while (!mediaType.empty() && std::isspace(static_cast<unsigned char>(mediaType.back()))) {
    mediaType.remove_suffix(1);
  }
  constexpr std::string_view kAudioL16 = "audio/l16";
  if (mediaType.size() != kAudioL16.size()) return false;
  for (size_t i = 0; i < kAudioL16.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(mediaType[i])) != kAudioL16[i]) return false;
  }
  return true;
}

std::optional<SpeechReply> RefuseSpeechHead(const SpeechRequest& head, const AccessKeys& keys) {
  const RequestTarget target = ParseRequestTarget(head.target);
  if (target.verdict == TargetVerdict::kUnknownPath) {
    return Refuse(404, "not_found", target.problem);
  }
  if (head.method != "POST") {
    SpeechReply refusal = Refuse(405, "method_not_allowed", "only POST is served here");
    refusal.allow = "POST";
    return refusal;
  }
  if (target.verdict == TargetVerdict::kMalformedQuery) {
    return Refuse(400, "malformed_query", target.problem);
  }
  if (target.verdict == TargetVerdict::kMissingKey) {
    return Refuse(401, "missing_key", target.problem);
  }
  if (!keys.Accepts(target.wireKey)) {
    return Refuse(403, "unknown_key", "the access key is not one this service accepts");
  }
  if (IsAudioL16(head.contentType)) return std::nullopt;
  const std::optional<std::string> boundary = FormDataBoundary(head.contentType);
  if (!boundary) {
    return Refuse(415, "unsupported_media_type",
                  "the body must be multipart/form-data (or the library's audio/l16 envelope)");
  }
  if (boundary->empty()) {
    return Refuse(400, "malformed_envelope",
                  "multipart/form-data needs a boundary parameter of 1 to 70 characters");
  }
  return std::nullopt;
}

SpeechReply AnswerSpeechBody(std::string_view contentType, std::string_view body,
                             const RecogniseFunction& recognise) {
  const std::optional<std::string> boundary = FormDataBoundary(contentType);
  const Envelope envelope = boundary ? OpenFormData(body, *boundary) : OpenEnvelope(body);
  if (!envelope.valid) return Refuse(400, "malformed_envelope", envelope.problem);
  const WaveAudio audio = CheckWave(envelope.part);
  if (audio.verdict == WaveVerdict::kUnsupported) {
    return Refuse(415, "unsupported_audio", audio.problem);
  }
  if (audio.verdict == WaveVerdict::kMalformed)
    return Refuse(400, "malformed_audio", audio.problem);

  const Recognition recognition = recognise(DecodeSamples(audio.pcm));
  if (!recognition.succeeded) {
    return Refuse(500, "recognition_failed", "the recogniser failed on this audio");
  }
  return {200,
          TranscriptAnswer(recognition.transcript, recognition.confidence, audio.DurationSeconds()),
          ""};
}

SpeechReply AnswerSpeechRequest(const SpeechRequest& request, const AccessKeys& keys,
                                const RecogniseFunction& recognise) {
  if (std::optional<SpeechReply> refusal = RefuseSpeechHead(request, keys)) return *refusal;
  return AnswerSpeechBody(request.contentType, request.body, recognise);
}

}  // namespace quorel::service
