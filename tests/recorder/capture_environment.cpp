// Every test in this program captures through ALSA's real "default" device, fed by a private
// PulseAudio daemon with a known signal.
#include "support/audio/private_pulse_audio.h"

namespace {

::testing::Environment* const privatePulseAudio =
    ::testing::AddGlobalTestEnvironment(new quorel::test::PrivatePulseAudio);

}  // namespace
