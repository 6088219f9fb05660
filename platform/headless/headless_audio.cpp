// The null sound output: accepts any rate and consumes nothing; tests take frames themselves.
#include "platform/headless/headless.h"

namespace {

bool NullOpen(int* rate) { return *rate > 0; }
void NullClose() {}

}  // namespace

PlatAudioOutput g_NullAudioOutput = {"null", NullOpen, NullClose};
