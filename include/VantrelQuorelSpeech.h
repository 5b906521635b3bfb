/* VantrelQuorelSpeech: record the default audio input into a WAV file and post a WAV file to
 * a speech-recognition service over HTTPS, storing the service's answer unchanged.
 *
 * Every text argument is a zero-terminated string of 16-bit code units (UTF-16), read only
 * during the call. Results are plain integers: 999 is success, a small number names the step
 * that failed. The library prints nothing, shows nothing and keeps no platform error code. */
#ifndef VANTREL_QUOREL_SPEECH_H
#define VANTREL_QUOREL_SPEECH_H

#include <stdint.h>

/* The version of the library this header belongs to. */
#define QUOREL_VERSION_MAJOR 1
#define QUOREL_VERSION_MINOR 0
#define QUOREL_VERSION_PATCH 0
#define QUOREL_VERSION_TWEAK 1
#define QUOREL_VERSION_STRING "1.0.0.1"

#if defined(_WIN32)
#include <wchar.h>
typedef wchar_t QuorelChar;
#define QUOREL_CALL __stdcall
#else
#if !defined(__cplusplus)
#include <uchar.h>
#endif
typedef char16_t QuorelChar;
#define QUOREL_CALL
#endif

#if defined(QUOREL_BUILDING_LIBRARY) && !defined(_WIN32)
#define QUOREL_API __attribute__((visibility("default")))
#else
#define QUOREL_API
#endif

/* Success, for both QuorelSoundRecorderStart and QuorelSpeech. */
#define QUOREL_SUCCESS 999

/* QuorelSoundRecorderStart */
#define QUOREL_START_INPUT_OPEN_FAILED 1   /* no default input at 16 kHz mono 16-bit */
#define QUOREL_START_BUFFER_QUEUE_FAILED 2 /* the input refused the capture buffer */
#define QUOREL_START_CAPTURE_FAILED 3      /* capture could not be started */
#define QUOREL_START_FILE_CREATE_FAILED 4  /* the WAV file could not be created; nothing to stop */
#define QUOREL_START_ALREADY_RECORDING 5   /* another recording runs; it goes on untouched */

/* QuorelSpeech */
#define QUOREL_SPEECH_AUDIO_OPEN_FAILED 1 /* the audio file could not be opened (or path null) */
#define QUOREL_SPEECH_SESSION_FAILED 2    /* the internet session could not be set up */
#define QUOREL_SPEECH_CONNECTION_FAILED 3 /* the connection object could not be set up */
#define QUOREL_SPEECH_REQUEST_FAILED 4    /* no request (or key null, too long, invalid) */
#define QUOREL_SPEECH_BEGIN_FAILED 5      /* resolve, connect, TLS, certificate or headers */
#define QUOREL_SPEECH_HEAD_SEND_FAILED 51 /* sending the envelope head failed */
#define QUOREL_SPEECH_AUDIO_READ_FAILED 7 /* reading the audio file failed, or it is too large */
#define QUOREL_SPEECH_AUDIO_SEND_FAILED 8 /* sending the audio bytes failed */
#define QUOREL_SPEECH_TAIL_SEND_FAILED 9  /* sending the envelope tail failed */
#define QUOREL_SPEECH_NO_ANSWER 10        /* sent whole, but no complete answer came */
#define QUOREL_SPEECH_RESPONSE_WRITE_FAILED 11 /* response file not created or written */

/* Short English texts for the result codes, in the header alone (the library exports only its
 * three functions). Codes of Start and of QuorelSpeech overlap, hence one function for each. */
static inline const char* QuorelStartResultText(int32_t code) {
  switch (code) {
    case QUOREL_SUCCESS:
      return "recording";
    case QUOREL_START_INPUT_OPEN_FAILED:
      return "the default audio input could not be opened for 16 kHz mono 16-bit capture";
    case QUOREL_START_BUFFER_QUEUE_FAILED:
      return "the audio input refused the capture buffer";
    case QUOREL_START_CAPTURE_FAILED:
      return "the audio input could not start capturing";
    case QUOREL_START_FILE_CREATE_FAILED:
      return "the WAV file could not be created";
    case QUOREL_START_ALREADY_RECORDING:
      return "a recording is already running";
    default:
      return "unknown result of starting a recording";
  }
}

static inline const char* QuorelSpeechResultText(int32_t code) {
  switch (code) {
    case QUOREL_SUCCESS:
      return "the audio was sent and the answer stored";
    case QUOREL_SPEECH_AUDIO_OPEN_FAILED:
      return "the audio file could not be opened";
    case QUOREL_SPEECH_SESSION_FAILED:
      return "the internet session could not be set up";
    case QUOREL_SPEECH_CONNECTION_FAILED:
      return "the connection to the service could not be set up";
    case QUOREL_SPEECH_REQUEST_FAILED:
      return "the request could not be set up";
    case QUOREL_SPEECH_BEGIN_FAILED:
      return "the service could not be reached";
    case QUOREL_SPEECH_HEAD_SEND_FAILED:
      return "sending the start of the request body failed";
    case QUOREL_SPEECH_AUDIO_READ_FAILED:
      return "reading the audio file failed, or it is too large";
    case QUOREL_SPEECH_AUDIO_SEND_FAILED:
      return "sending the audio failed";
    case QUOREL_SPEECH_TAIL_SEND_FAILED:
      return "sending the end of the request body failed";
    case QUOREL_SPEECH_NO_ANSWER:
      return "the request was sent but no complete answer came back";
    case QUOREL_SPEECH_RESPONSE_WRITE_FAILED:
      return "the answer could not be written to the response file";
    default:
      return "unknown result of sending speech";
  }
}

#ifdef __cplusplus
extern "C" {
#endif

/* Posts the file at audioPath to the recognition service in one HTTPS request, wrapped in a
 * multipart envelope with key in the request target, and stores the answer body byte for byte
 * in the file at responsePath (replaced if it exists). Blocks until the exchange is over; may
 * run on several threads at once and while a recording runs.
 * Returns QUOREL_SUCCESS, or one of the QUOREL_SPEECH_* codes. */
QUOREL_API int32_t QUOREL_CALL QuorelSpeech(const QuorelChar* audioPath, const QuorelChar* key,
                                            const QuorelChar* responsePath);

/* Starts recording the default audio input (16000 Hz, 16-bit, mono) into a new WAV file at
 * path (emptied if it exists). Recording goes on in the background until
 * QuorelSoundRecorderStop.
 * Returns QUOREL_SUCCESS, or QUOREL_START_INPUT_OPEN_FAILED, QUOREL_START_BUFFER_QUEUE_FAILED,
 * QUOREL_START_CAPTURE_FAILED (the file exists), QUOREL_START_FILE_CREATE_FAILED or
 * QUOREL_START_ALREADY_RECORDING (nothing was touched). Call Stop once after QUOREL_SUCCESS
 * and after codes 1 to 3: it completes the file. After 4 and 5 there is nothing to stop: a Stop
 * then would end another recording (after 5, the one that was already running). */
QUOREL_API int32_t QUOREL_CALL QuorelSoundRecorderStart(const QuorelChar* path);

/* Stops the recording, writes the final WAV header and closes the file.
 * Returns the number of audio data bytes in the file (the file is 44 bytes longer); 0 when no
 * recording was running. */
QUOREL_API int32_t QUOREL_CALL QuorelSoundRecorderStop(void);

#ifdef __cplusplus
}
#endif

#endif
