// Reading back a WAV file the recorder wrote.
#pragma once

#include <cstdint>
#include <string>

namespace quorel::test {

// Checks that the 44-byte header is the canonical 16000 Hz, 16-bit mono PCM one and that its
// lengths agree with dataLength and with the file's size.
void CheckWaveFile(const std::string& file, int32_t dataLength);

}  // namespace quorel::test
