// Small projects run headless for a fixed course of frames, their presented pictures compared
// with what the blend formulas give, and a typed message watched character by character.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "layers/layer.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/e2e/e2e_fixture.h"
#include "text/text.h"
#include "tools/lib/assembler.h"
#include "tools/lib/title_images.h"

namespace {

std::string Cp932(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8.data(), utf8.size(), &out));
  return out;
}

void BasePixel(int x, int y, uint8_t bgr[3]) {
  bgr[0] = (uint8_t)x;
  bgr[1] = (uint8_t)(255 - x);
  bgr[2] = (uint8_t)((x * 7 + y * 13) & 255);
}

void OverPixel(int x, int y, uint8_t bgr[3]) {
  bgr[0] = (uint8_t)((y * 37 + x * 3) & 255);
  bgr[1] = (uint8_t)((x * 5) & 255);
  bgr[2] = (uint8_t)(255 - x);
}

struct BlendCase {
  const char* name;
  int mode, opacity;
  int (*expect)(int d, int s);
};

// Each layer draws one 8-row strip of the same picture over the same background, in its own
// blend mode; the expected bytes are the rows' formulas for layers without alpha.
const BlendCase kBlendCases[] = {
    {"add", 1, 256, [](int d, int s) { return std::min(255, d + s); }},
    {"subtract", 2, 256, [](int d, int s) { return std::max(0, s - d); }},
    {"multiply", 3, 256, [](int d, int s) { return (d * (s + 1)) >> 8; }},
    {"lighten", 6, 256, [](int d, int s) { return std::max(d, s); }},
    {"darken", 7, 256, [](int d, int s) { return std::min(d, s); }},
    {"difference", 8, 256, [](int d, int s) { return std::abs(s - d); }},
    {"linear burn", 13, 256, [](int d, int s) { return std::max(0, d + s - 255); }},
    {"screen at 100", 5, 100, [](int d, int s) { return d + (((s + d - s * d / 255 - d) * 100) >> 8); }},
    {"fade at 100", 0, 100, [](int d, int s) { return d + (((s - d) * 100) >> 8); }},
    {"fade at 16", 0, 16, [](int d, int s) { return d + (((s - d) * 16) >> 8); }},
};
constexpr int STRIP = 8, WIDTH = 256;

TEST_F(EndToEndTest, EveryBlendModeDrawsWhatItsFormulaGives) {
  const int count = (int)(sizeof kBlendCases / sizeof kBlendCases[0]);
  std::string listing =
      "config width=256 height=" + std::to_string(count * STRIP) + " title=\"Blends\" show=1\n"
      "file start.txt\n*SYSTEM_START\n"
      "layer name=\"base\" file=\"base.bmp\" priority=1 visible=1\n";
  for (int i = 0; i < count; i++)
    listing += "layer name=\"over" + std::to_string(i) + "\" file=\"over.bmp\" priority=" + std::to_string(2 + i) +
               " y=" + std::to_string(i * STRIP) + " blend=" + std::to_string(kBlendCases[i].mode) +
               " opacity=" + std::to_string(kBlendCases[i].opacity) + " visible=1\n";
  listing += "wait frames=3\nend\n";
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(listing, &set)) << set.error;
  ASSERT_TRUE(WritePackedSet(game_.path(), set));
  game_.Write("base.bmp", MakeBmp24(WIDTH, count * STRIP, BasePixel));
  game_.Write("over.bmp", MakeBmp24(WIDTH, STRIP, OverPixel));
  HeadlessWindowState w;
  HeadlessSetPresentObserver([&w](int slot, const HeadlessWindowState& shown) {
    if (slot == 0) w = shown;
  });
  EXPECT_EQ(Run(), 0);
  HeadlessSetPresentObserver(nullptr);
  ASSERT_EQ(w.frameWidth, WIDTH);
  ASSERT_EQ(w.frameHeight, count * STRIP);
  for (int i = 0; i < count; i++) {
    SCOPED_TRACE(kBlendCases[i].name);
    int wrong = 0;
    std::string first;
    for (int y = i * STRIP; y < (i + 1) * STRIP; y++)
      for (int x = 0; x < WIDTH; x++) {
        uint8_t d[3], s[3];
        BasePixel(x, y, d);
        OverPixel(x, y - i * STRIP, s);
        for (int c = 0; c < 3; c++) {
          int want = kBlendCases[i].expect(d[c], s[c]);
          int got = FramePixel(w, x, y)[c];
          if (got != want && wrong++ == 0)
            first = std::to_string(x) + "," + std::to_string(y) + " channel " + std::to_string(c) + ": d " +
                    std::to_string(d[c]) + " s " + std::to_string(s[c]) + " gives " + std::to_string(got) +
                    " instead of " + std::to_string(want);
        }
      }
    EXPECT_EQ(wrong, 0) << first;
  }
}

// A typed message watched frame by frame: how many bytes were typed, and whether the box
// shows ink.
struct TypedFrame {
  uint32_t ms;
  int bytes;
  bool ink;
};

TEST_F(EndToEndTest, AMessageIsTypedAtItsSpeedAClickShowsItAndHeldCtrlSkipsThePage) {
  std::string listing = Cp932(R"(
config width=320 height=120 title="Typing" show=1
file start.txt
*SYSTEM_START
layer name="box" file="" width=300 height=100 x=10 y=10 priority=1 visible=1
messageconfig layer="box" delay=50
text "春はあけぼの。やうやう白くなりゆく山ぎは"
messageend
messageconfig endnewpage=0
text "Summer is the night; the moon is best."
messageend
end
)");
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(listing, &set)) << set.error;
  ASSERT_TRUE(WritePackedSet(game_.path(), set));
  // The click at 400 ms comes well before the twenty characters (1 s) are typed; the next
  // one goes on to the second page, which Ctrl held from 700 ms skips.
  Input("400 click 0 100 50\n600 click 0 100 50\n700 keydown 0 162\n900 keyup 0 162\n10000 quit\n");
  std::vector<TypedFrame> frames;
  HeadlessSetPresentObserver([&frames](int slot, const HeadlessWindowState& w) {
    if (slot != 0 || w.frameWidth != 320) return;
    // The box's top-left pixel is the blank image's grey one until a page clears it.
    bool ink = false;
    for (int y = 10; y < 110 && !ink; y++)
      for (int x = y == 10 ? 11 : 10; x < 310 && !ink; x++)
        ink = FramePixel(w, x, y)[0] || FramePixel(w, x, y)[1] || FramePixel(w, x, y)[2];
    frames.push_back({PlatGetTicks(), g_Message->mTextPos, ink});
  });
  EXPECT_EQ(Run(), 0);
  HeadlessSetPresentObserver(nullptr);
  EXPECT_STREQ(LastErrorDialogText(), "");
  // Typing: from the first character on, one double-byte character per 50 ms of game time,
  // each frame showing as many as are due; and the box has ink once anything is typed.
  size_t first = 0;
  while (first < frames.size() && frames[first].bytes == 0) first++;
  ASSERT_LT(first, frames.size());
  uint32_t start = frames[first].ms;
  ASSERT_LT(start, 200u);
  size_t k = first;
  int typedFrames = 0;
  for (; k < frames.size() && frames[k].ms < 400; k++, typedFrames++) {
    SCOPED_TRACE(frames[k].ms);
    EXPECT_EQ(frames[k].bytes, 2 * (int)std::min<uint32_t>(20, (frames[k].ms - start) / 50 + 1));
    EXPECT_TRUE(frames[k].ink);
  }
  EXPECT_GE(typedFrames, 4) << "characters appear over several frames";
  // The click: within two frames the whole page of 40 bytes is there.
  ASSERT_LT(k + 1, frames.size());
  EXPECT_EQ(std::max(frames[k].bytes, frames[k + 1].bytes), 40);
  // The second page: 38 single bytes would need 950 ms at 25 ms each; Ctrl held shows them all
  // (the record is cleared once the page is passed, so the last frame with text shows them).
  size_t next = k + 1;
  while (next < frames.size() && frames[next].bytes >= frames[next - 1].bytes) next++;
  ASSERT_LT(next, frames.size()) << "a second page follows";
  int longest = 0;
  for (size_t i = next; i < frames.size(); i++) longest = std::max(longest, frames[i].bytes);
  EXPECT_EQ(longest, 38);
  EXPECT_LT(frames.back().ms, 1000u) << "the page was skipped, not typed out";
  EXPECT_TRUE(frames.back().ink);
}

}  // namespace
