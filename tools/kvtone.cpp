// Writes a short 16-bit PCM WAV of a tone with a falling envelope, for the demo game's sounds:
// the music is encoded to Ogg from one, the effect ships as one.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/lib/wave_writer.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: kvtone OUT.wav RATE CHANNELS HERTZ MILLISECONDS\n");
    return 2;
  }
  long rate = strtol(argv[2], nullptr, 10), channels = strtol(argv[3], nullptr, 10);
  double hertz = strtod(argv[4], nullptr);
  long ms = strtol(argv[5], nullptr, 10);
  if (rate < 8000 || rate > 96000 || channels < 1 || channels > 2 || hertz <= 0 || ms < 1 || ms > 60000) {
    fprintf(stderr, "kvtone: rate 8000-96000, channels 1-2, hertz > 0, 1-60000 ms\n");
    return 2;
  }
  int64_t frames = static_cast<int64_t>(rate) * ms / 1000;
  std::vector<int16_t> samples;
  samples.reserve(static_cast<size_t>(frames * channels));
  for (int64_t i = 0; i < frames; i++) {
    double envelope = 1.0 - static_cast<double>(i) / frames;
    double v = 0.5 * envelope * std::sin(2.0 * M_PI * hertz * i / rate);
    for (long c = 0; c < channels; c++) samples.push_back(static_cast<int16_t>(std::lround(v * 32767)));
  }
  const std::string out = WaveFile(1, (int)channels, (int)rate, 16, Pcm16(samples));
  FILE* f = fopen(argv[1], "wb");
  if (!f) {
    fprintf(stderr, "kvtone: cannot write %s\n", argv[1]);
    return 1;
  }
  bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}
