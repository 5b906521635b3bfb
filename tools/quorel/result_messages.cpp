#include "result_messages.h"

#include "VantrelQuorelSpeech.h"

namespace quorel::tool {

namespace {

std::string WithCode(const char* words, int32_t code) {
  return std::string(words) + " (result code " + std::to_string(code) + ")";
}

}  // namespace

std::string DescribeStartResult(int32_t code) {
  switch (code) {
    case QUOREL_SUCCESS:
      return WithCode("recording", code);
    case QUOREL_START_INPUT_OPEN_FAILED:
      return WithCode(
          "the default audio input could not be opened for 16 kHz mono 16-bit capture "
          "(no capture device, or it is busy)",
          code);
    case QUOREL_START_BUFFER_QUEUE_FAILED:
      return WithCode("the audio input refused the capture buffer", code);
    case QUOREL_START_CAPTURE_FAILED:
      return WithCode("the audio input could not start capturing", code);
    case QUOREL_START_FILE_CREATE_FAILED:
      return WithCode("the WAV file could not be created (check the folder and permissions)", code);
    case QUOREL_START_ALREADY_RECORDING:
      return WithCode("a recording is already running in this process", code);
    default:
      return WithCode("recording failed for an unknown reason", code);
  }
}

std::string DescribeSpeechResult(int32_t code) {
  switch (code) {
    case QUOREL_SUCCESS:
      return WithCode("the audio was sent and the answer stored", code);
    case QUOREL_SPEECH_AUDIO_OPEN_FAILED:
      return WithCode("the audio file could not be opened", code);
    case QUOREL_SPEECH_SESSION_FAILED:
      return WithCode("the internet session could not be set up", code);
    case QUOREL_SPEECH_CONNECTION_FAILED:
      return WithCode("the connection to the service could not be set up", code);
    case QUOREL_SPEECH_REQUEST_FAILED:
      return WithCode("the request could not be set up (is the key too long or not valid text?)",
                      code);
    case QUOREL_SPEECH_BEGIN_FAILED:
      return WithCode("the service could not be reached", code);
    case QUOREL_SPEECH_HEAD_SEND_FAILED:
      return WithCode("sending the start of the request body failed", code);
    case QUOREL_SPEECH_AUDIO_READ_FAILED:
      return WithCode("reading the audio file failed, or it is too large", code);
    case QUOREL_SPEECH_AUDIO_SEND_FAILED:
      return WithCode("sending the audio failed: the connection was lost", code);
    case QUOREL_SPEECH_TAIL_SEND_FAILED:
      return WithCode("sending the end of the request body failed", code);
    case QUOREL_SPEECH_NO_ANSWER:
      return WithCode("the request was sent but no complete answer came back", code);
    case QUOREL_SPEECH_RESPONSE_WRITE_FAILED:
      return WithCode("the answer could not be written to the answer file", code);
    default:
      return WithCode("the upload failed for an unknown reason", code);
  }
}

}  // namespace quorel::tool
