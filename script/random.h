// The random number generator of the scripts: the 32-bit Mersenne Twister (MT19937), seeded
// once at start-up by SeedRandom (app/hooks.h) and advanced only by the maths command.
#pragma once

#include <cstdint>

// The next tempered output; the state is regenerated whenever its 624 words are used up.
uint32_t NextRandom();
