// Text speed: characters drawn per second at cell sizes 20, 48 and 128 (antialiased, with an
// outline and a gradient, and plain), and a full 600-character page against a 16.7 ms frame.
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/platform.h"
#include "text/text.h"

namespace {

std::string Cp932(const char* utf8) {
  std::string out;
  PlatUtf8ToCp932(utf8, strlen(utf8), &out);
  return out;
}

// A run of mixed Japanese and Latin characters, cut into single characters.
std::vector<std::string> SampleCharacters() {
  std::string text = Cp932("吾輩は猫である。名前はまだ無い。The quick brown fox jumps over 1234.");
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    size_t n = (uint8_t)text[i] >= 0x81 && ((uint8_t)text[i] <= 0x9F || (uint8_t)text[i] >= 0xE0) ? 2 : 1;
    out.push_back(text.substr(i, n));
    i += n;
  }
  return out;
}

struct Setup {
  Setup() { BuildFontTable(); }
};

void BM_DrawCharacters(benchmark::State& state) {
  static Setup setup;
  int32_t cell = (int32_t)state.range(0);
  bool styled = state.range(1) != 0;
  std::vector<std::string> chars = SampleCharacters();
  int32_t width = 1280, height = cell * 3 + 16;
  std::vector<uint8_t> pixels((size_t)width * 4 * height + width * 4 + 4);
  PixelTarget target{pixels.data(), width, height};
  int64_t x = 4, drawnChars = 0;
  size_t next = 0;
  for (auto _ : state) {
    const std::string& c = chars[next++ % chars.size()];
    int32_t advance = DrawTextCharTo(target, c.c_str(), 0xFFFFFF, 0x4080FF, styled ? 1 : 0, 0, cell,
                                     cell, 0, 1, styled ? 2 : 0, x, 4, 1, nullptr);
    x += advance;
    if (x + cell + 8 >= width) x = 4;
    drawnChars++;
  }
  state.counters["chars/s"] = benchmark::Counter((double)drawnChars, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DrawCharacters)->ArgsProduct({{20, 48, 128}, {0, 1}})->ArgNames({"cell", "outline+gradient"});

// 600 characters at cell 20 into a 1280 x 720 layer, as an instant page draws them in one
// frame: the time per iteration is to be read against the 16.7 ms frame budget.
void BM_InstantPage600(benchmark::State& state) {
  static Setup setup;
  std::vector<std::string> chars = SampleCharacters();
  int32_t width = 1280, height = 720;
  std::vector<uint8_t> pixels((size_t)width * 4 * height + width * 4 + 4);
  PixelTarget target{pixels.data(), width, height};
  for (auto _ : state) {
    int64_t x = 0, y = 0;
    for (int i = 0; i < 600; i++) {
      const std::string& c = chars[i % chars.size()];
      x += DrawTextCharTo(target, c.c_str(), 0xFFFFFF, 0xFFFFFFFF, 1, 0, 20, 20, 0, 1, 0, x, y, 0, nullptr);
      if (x + 22 >= width) x = 0, y += 22;
    }
  }
}
BENCHMARK(BM_InstantPage600)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
