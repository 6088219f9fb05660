// Fuzz target: an Ogg Vorbis file loaded through the sound thread's command ring, played
// endlessly and pulled through refills and loop jumps.
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "sound/sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzPlaySound(SOUND_FORMAT_OGG, data, size);
  return 0;
}
