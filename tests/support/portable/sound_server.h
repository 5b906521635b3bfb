// The sound server behind the default input, frozen and thawed for the shared cases, as a hung
// one (a driver that does not return). Each system defines both: Linux stops its private daemon
// by signal (support/audio/private_pulse_audio.cpp); a Windows program asks
// scripts/test-windows.sh to (tests/windows/sound_server_windows.cpp). True once done.
#pragma once

namespace quorel::test {

bool FreezeSoundServer();
bool ThawSoundServer();

}  // namespace quorel::test
