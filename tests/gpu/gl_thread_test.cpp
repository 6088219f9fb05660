// The OpenGL device's context moves between threads only at a hand-off: a thread that let it
// go can be followed by another, a call while another thread holds it waits for the hand-off
// (and gives up after a bounded wait), and nothing is drawn by a thread without the context.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gl/gpu_gl.h"
#include "platform/gpu.h"

namespace {

constexpr int W = 8, H = 4;

class GlThreadTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!GlGpuContextAvailable()) GTEST_SKIP() << "no OpenGL context can be made here";
    GlGpuResetControls();
    PlatGpuCaps caps;
    ASSERT_TRUE(g_GlGpu.CreateDevice(W, H, &caps));
  }
  void TearDown() override {
    g_GlGpu.ReleaseDevice();
    GlGpuResetControls();
  }
  // Clears the back buffer to `argb` and reads its first texel back as B, G, R, A.
  static bool ClearAndRead(uint32_t argb, uint32_t* bgra) {
    g_GlGpu.SetRenderTarget(nullptr);
    g_GlGpu.Clear(argb);
    std::vector<uint8_t> texels((size_t)W * H * 4);
    if (!g_GlGpu.ReadBack(nullptr, texels.data(), W, H, W * 4)) return false;
    memcpy(bgra, texels.data(), 4);
    return true;
  }
};

TEST_F(GlThreadTest, AThreadThatTakesOverAfterAHandOffDrawsAndReadsBack) {
  uint32_t texel = 0;
  ASSERT_TRUE(ClearAndRead(0xFF102030, &texel));
  EXPECT_EQ(texel, 0xFF102030u);
  PlatGpuLeaveThread();
  bool ok = false;
  std::thread frame([&] {
    ok = ClearAndRead(0xFF405060, &texel);
    PlatGpuLeaveThread();
  });
  frame.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(texel, 0xFF405060u);
  // And back, as shutdown does after the frame thread has let it go.
  ASSERT_TRUE(ClearAndRead(0xFF708090, &texel));
  EXPECT_EQ(texel, 0xFF708090u);
}

TEST_F(GlThreadTest, ACallWhileAnotherThreadHoldsTheContextWaitsForTheHandOff) {
  uint32_t texel = 0;
  ASSERT_TRUE(ClearAndRead(0xFF000000, &texel));   // this thread holds the context now
  std::atomic<bool> handedOver{false}, returnedBeforeHandOff{false};
  bool ok = false;
  std::thread frame([&] {
    ok = ClearAndRead(0xFFA0B0C0, &texel);
    returnedBeforeHandOff = !handedOver;
    PlatGpuLeaveThread();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  handedOver = true;
  PlatGpuLeaveThread();
  frame.join();
  EXPECT_TRUE(ok);
  EXPECT_FALSE(returnedBeforeHandOff);
  EXPECT_EQ(texel, 0xFFA0B0C0u);
}

TEST_F(GlThreadTest, ACallWithoutAHandOffGivesUpInsteadOfDrawingWithoutTheContext) {
  uint32_t texel = 0;
  ASSERT_TRUE(ClearAndRead(0xFF112233, &texel));   // held here, never let go during the call
  bool ok = true;
  auto start = std::chrono::steady_clock::now();
  std::thread frame([&] {
    uint32_t other = 0;
    ok = ClearAndRead(0xFF445566, &other);
  });
  frame.join();
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_FALSE(ok);
  EXPECT_GE(waited, 1.5);
  // The holder's picture is untouched.
  std::vector<uint8_t> texels((size_t)W * H * 4);
  ASSERT_TRUE(g_GlGpu.ReadBack(nullptr, texels.data(), W, H, W * 4));
  EXPECT_EQ(texels[0], 0x33);
}

TEST_F(GlThreadTest, PresentingNeedsAWindowAndADeviceThatIsNotLost) {
  // Presenting refuses what it cannot show and keeps the context where it was.
  const uint8_t bgra[4] = {1, 2, 3, 255};
  GlGpuPicture picture{bgra, 1, 1, 0, nullptr, 0, 0};
  EXPECT_FALSE(GlGpuPresent(nullptr, picture));
  GlGpuInjectLoss(true);
  EXPECT_FALSE(GlGpuPresent(nullptr, picture));
  EXPECT_EQ(g_GlGpu.TestDevice(), PLAT_GPU_NOT_RESET);
  EXPECT_FALSE(PlatGpuPresentsFrames()) << "no window presents through the device";
}

}  // namespace
