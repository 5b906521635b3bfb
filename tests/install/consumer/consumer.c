/* A program that uses the installed library as any client would: through its public header.
 * With no recording running, Stop reports 0 bytes; a missing audio file fails the upload before
 * any network contact. The header's own version and result texts work from C as well. */
#include <VantrelQuorelSpeech.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  const int32_t stopped = QuorelSoundRecorderStop();
  const int32_t sent = QuorelSpeech(u"/nonexistent/quorel-consumer.wav", u"key",
                                    u"/nonexistent/quorel-consumer.json");
  printf("%s: stop: %d, speech: %d (%s)\n", QUOREL_VERSION_STRING, (int)stopped, (int)sent,
         QuorelSpeechResultText(sent));
  return stopped == 0 && sent == QUOREL_SPEECH_AUDIO_OPEN_FAILED &&
                 strcmp(QuorelSpeechResultText(sent), "the audio file could not be opened") == 0
             ? 0
             : 1;
}
