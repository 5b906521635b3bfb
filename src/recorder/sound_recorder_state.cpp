#include "recorder/sound_recorder_state.h"

#include <type_traits>

namespace quorel {

// Loading the library must run no code for the record and unloading it none either: it is
// constant-initialised and has no destructor.
static_assert((SoundRecorderState(), true), "constant-initialised");
static_assert(std::is_trivially_destructible_v<SoundRecorderState>, "nothing runs at unload");
SoundRecorderState soundRecorderState;

}  // namespace quorel
