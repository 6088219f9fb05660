// Fuzz target: a movie file as the movie player reads it. Its decoder opens the file (held to
// the movie containers and to the file itself), every picture is decoded and converted to BGRA
// for a window's rectangle, and at its own size when small, and every run of sound resampled,
// for a bounded number of steps; pictures are left waiting now and then, so the sound is read
// on ahead as when the player's queue is full. Fuzzed with a limit on every single allocation
// (FUZZ_OPTIONS_movie in CMakeLists.txt): a buffer that grows past the picture bounds stands out.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/movie/movie_decoder.h"

namespace {

constexpr int MAX_STEPS = 600;
constexpr int WINDOW_W = 64, WINDOW_H = 48;
constexpr int OWN_SIZE_LIMIT = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStart();
  FuzzBeginInput();
  FuzzWriteFile("fuzz.mpg", data, size);
  std::string path = FuzzFolder() + "/fuzz.mpg";
  MovieDecoder decoder;
  if (!decoder.Open(path.c_str(), 1, 8000, nullptr)) return 0;
  MovieScaler scaler(1);
  std::vector<uint8_t> window(size_t(WINDOW_W) * WINDOW_H * 4), own;
  for (int step = 0; step < MAX_STEPS; step++) {
    MovieStep s = decoder.Step(step % 4 != 3);
    if (s == MOVIE_STEP_END || s == MOVIE_STEP_ERROR) break;
    if (s != MOVIE_STEP_VIDEO) continue;
    MoviePicture picture = decoder.TakeVideo();
    scaler.Convert(picture, window.data(), WINDOW_W * 4, WINDOW_W, WINDOW_H);
    if (picture.Width() > OWN_SIZE_LIMIT || picture.Height() > OWN_SIZE_LIMIT) continue;
    own.resize(size_t(picture.Width()) * picture.Height() * 4);
    scaler.Convert(picture, own.data(), picture.Width() * 4, picture.Width(), picture.Height());
  }
  return 0;
}
