// Writes a short 16-bit PCM WAV of a tone with a falling envelope, for the demo game's sounds:
// the music is encoded to Ogg from one, the effect ships as one.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/lib/tool_options.h"
#include "tools/lib/wave_writer.h"

namespace {

const char kUsage[] = "kvtone OUT.wav RATE CHANNELS HERTZ MILLISECONDS";
const char kHelp[] =
    "Writes a 16-bit PCM WAV file of a sine tone that fades out: RATE samples a second\n"
    "(8000-96000), 1 or 2 CHANNELS, HERTZ above 0, 1-60000 MILLISECONDS.\n"
    "  -h, --help  show this help\n";

}  // namespace

int main(int argc, char** argv) {
  ToolCommandLine args;
  int status = ParseToolCommandLine(argc, argv, "kvtone", kUsage, kHelp, {}, &args);
  if (status >= 0) return status;
  if (args.operands.size() != 5) {
    fprintf(stderr, "usage: %s\n", kUsage);
    return 2;
  }
  const std::vector<std::string>& a = args.operands;
  long rate = strtol(a[1].c_str(), nullptr, 10), channels = strtol(a[2].c_str(), nullptr, 10);
  double hertz = strtod(a[3].c_str(), nullptr);
  long ms = strtol(a[4].c_str(), nullptr, 10);
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
  FILE* f = fopen(a[0].c_str(), "wb");
  if (!f) {
    fprintf(stderr, "kvtone: cannot write %s\n", a[0].c_str());
    return 1;
  }
  bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}
