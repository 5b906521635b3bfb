/* A program that uses the installed library as any client would: through its public header.
 * With no recording running, Stop reports 0 bytes; a missing audio file fails the upload before
 * any network contact. */
#include <VantrelQuorelSpeech.h>
#include <stdio.h>

int main(void) {
  const int32_t stopped = QuorelSoundRecorderStop();
  const int32_t sent = QuorelSpeech(u"/nonexistent/quorel-consumer.wav", u"key",
                                    u"/nonexistent/quorel-consumer.json");
  printf("stop: %d, speech: %d\n", (int)stopped, (int)sent);
  return stopped == 0 && sent == QUOREL_SPEECH_AUDIO_OPEN_FAILED ? 0 : 1;
}
