// AVI movies of uncompressed pictures, written by hand for the movie tests and fuzz seeds:
// picture sizes and rates that no encoder would make.
#pragma once

#include <cstdint>
#include <string>

// An AVI file of `frames` 24-bit pictures of width x height, each one grey level (the first
// `level`, then 30 lighter each); a picture lasts `scale` / `rate` seconds as the stream header
// says (any values, also ones a player has to distrust). With no frames only the headers are
// there: the size a file claims, without the memory to show it.
std::string RawAviMovie(int width, int height, uint32_t scale, uint32_t rate, int frames, uint8_t level = 40);
