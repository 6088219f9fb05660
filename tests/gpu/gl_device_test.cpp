// The OpenGL device (desktop and ES contexts) against the software device: the same calls give the same frame within
// one level per channel for every blend state, texture stage and effect pass; read-back rows,
// 16-bit texels, refused sizes, an injected loss, and no GL object left behind.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gl/gpu_gl.h"
#include "platform/gpu.h"

namespace {

constexpr int W = 64, H = 48;

// What a draw reads: an opaque patterned background, a source with alpha ramps.
std::vector<uint8_t> Background() {
  std::vector<uint8_t> p((size_t)W * H * 4);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      uint8_t* q = &p[((size_t)y * W + x) * 4];
      q[0] = uint8_t(x * 4), q[1] = uint8_t(y * 5), q[2] = uint8_t((x + y) * 3), q[3] = 255;
    }
  return p;
}
std::vector<uint8_t> Source(int w, int h) {
  std::vector<uint8_t> p((size_t)w * h * 4);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t* q = &p[((size_t)y * w + x) * 4];
      q[0] = uint8_t(255 - x * 7), q[1] = uint8_t(x * 3 + y * 9), q[2] = uint8_t(y * 11), q[3] = uint8_t(x * 8 + y * 2);
    }
  return p;
}

int WorstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int worst = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); i++) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return a.size() == b.size() ? worst : 999;
}

void Quad(PlatGpuVertex* v, float x0, float y0, float x1, float y1, uint32_t diffuse) {
  v[0] = {x0, y1, 0, diffuse, 0, 1};
  v[1] = {x1, y1, 0, diffuse, 1, 1};
  v[2] = {x0, y0, 0, diffuse, 0, 0};
  v[3] = {x1, y0, 0, diffuse, 1, 0};
}

bool AllGone(const GlGpuObjects& o) {
  return o.textures == 0 && o.framebuffers == 0 && o.buffers == 0 && o.vertexArrays == 0 && o.programs == 0 &&
         o.shaders == 0 && o.textureRecords == 0;
}

// Run on an OpenGL 3.3 core context and on an OpenGL ES 3.0 one.
class GlDeviceTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!GlGpuContextAvailable()) GTEST_SKIP() << "no OpenGL context can be made here";
    GlGpuResetControls();
    GlGpuUseOnlyEs(GetParam());
  }
  void TearDown() override {
    ReleaseRigs();
    g_GlGpu.ReleaseDevice();
    g_SoftwareGpu.ReleaseDevice();
    GlGpuResetControls();
  }
  // A device of W x H on each of the two, with the background, the source texture and a
  // second texture for stage 1; made once for a test, since a context takes a while.
  struct Rig {
    PlatGpuDriver* gpu = nullptr;
    PlatGpuTexture *background = nullptr, *source = nullptr, *second = nullptr;
    PlatGpuDrawState initial{};
  };
  Rig rigs_[2];
  Rig& RigFor(PlatGpuDriver* gpu) {
    Rig& r = rigs_[gpu == &g_GlGpu ? 0 : 1];
    if (r.gpu) return r;
    r.gpu = gpu;
    PlatGpuCaps caps;
    EXPECT_TRUE(gpu->CreateDevice(W, H, &caps));
    gpu->GetDrawState(&r.initial);
    std::vector<uint8_t> bg = Background(), src = Source(32, 16), second = Source(32, 16);
    for (size_t i = 0; i < second.size(); i++) second[i] = uint8_t(second[i] * 3 + 40);
    r.background = gpu->CreateTexture(W, H, PLAT_GPU_FORMAT_ARGB8, true);
    r.source = gpu->CreateTexture(32, 16, PLAT_GPU_FORMAT_ARGB8, true);
    r.second = gpu->CreateTexture(32, 16, PLAT_GPU_FORMAT_ARGB8, true);
    EXPECT_TRUE(gpu->WriteTexture(r.background, bg.data(), W * 4, false));
    EXPECT_TRUE(gpu->WriteTexture(r.source, src.data(), 32 * 4, false));
    EXPECT_TRUE(gpu->WriteTexture(r.second, second.data(), 32 * 4, false));
    return r;
  }
  // Runs `draw` over the background with the source on stage 0 and the second texture on
  // stage 1, from the states a device starts with, and gives the back buffer.
  template <typename Draw>
  std::vector<uint8_t> Frame(PlatGpuDriver* gpu, Draw draw) {
    Rig& r = RigFor(gpu);
    gpu->SetDrawState(&r.initial);
    PlatGpuEffect none{PLAT_GPU_NO_PASS, 1.0f, 0.0f, 0.0f};
    gpu->SetEffect(&none);
    for (int s = 0; s < 2; s++) gpu->SetSamplerFilter(s, PLAT_FILTER_POINT, PLAT_FILTER_POINT);
    // The background goes in with the starting states: the texture replaces everything.
    PlatGpuVertex v[4];
    Quad(v, -0.5f, -0.5f, W - 0.5f, H - 0.5f, 0xFFFFFFFF);
    gpu->SetTexture(0, r.background);
    gpu->SetTexture(1, nullptr);
    gpu->DrawQuad(v);
    gpu->SetTexture(0, r.source);
    gpu->SetTexture(1, r.second);
    draw(gpu);
    std::vector<uint8_t> out((size_t)W * H * 4, 0xCD);
    EXPECT_TRUE(gpu->ReadBack(nullptr, out.data(), W, H, W * 4));
    return out;
  }
  void ReleaseRigs() {
    for (Rig& r : rigs_) {
      if (!r.gpu) continue;
      for (PlatGpuTexture* t : {r.background, r.source, r.second}) r.gpu->ReleaseTexture(t);
      r.gpu->ReleaseDevice();
      r = Rig{};
    }
  }
};

constexpr PlatGpuStage kTexAlphaModulateDiffuse = {PLAT_TOP_SELECTARG1, PLAT_TA_TEXTURE, PLAT_TA_CURRENT,
                                                   PLAT_TOP_MODULATE,   PLAT_TA_TEXTURE, PLAT_TA_DIFFUSE};
constexpr PlatGpuStage kOff = {PLAT_TOP_DISABLE, PLAT_TA_TEXTURE, PLAT_TA_CURRENT,
                               PLAT_TOP_DISABLE, PLAT_TA_TEXTURE, PLAT_TA_CURRENT};

TEST_P(GlDeviceTest, EveryBlendFactorAndOperationGivesTheSoftwareFrame) {
  const uint8_t factors[] = {PLAT_BLEND_ZERO,     PLAT_BLEND_ONE,         PLAT_BLEND_SRCALPHA,
                             PLAT_BLEND_INVSRCALPHA, PLAT_BLEND_SRCCOLOR, PLAT_BLEND_INVSRCCOLOR,
                             PLAT_BLEND_DESTCOLOR, PLAT_BLEND_INVDESTCOLOR};
  // Each factor on each side of the two weighing operations, against a partner that keeps the
  // other side visible; min and max take no factors.
  struct Blend {
    uint8_t op, src, dst;
  };
  std::vector<Blend> blends = {{PLAT_BLENDOP_MIN, PLAT_BLEND_ONE, PLAT_BLEND_ONE},
                               {PLAT_BLENDOP_MAX, PLAT_BLEND_ONE, PLAT_BLEND_ONE}};
  for (uint8_t op : {PLAT_BLENDOP_ADD, PLAT_BLENDOP_REVSUBTRACT})
    for (uint8_t f : factors) {
      blends.push_back({op, f, PLAT_BLEND_INVSRCALPHA});
      blends.push_back({op, PLAT_BLEND_SRCALPHA, f});
    }
  for (const Blend& b : blends) {
    auto draw = [&](PlatGpuDriver* gpu) {
      PlatGpuDrawState s{};
      s.stage[0] = kTexAlphaModulateDiffuse;
      s.stage[1] = kOff;
      s.textureFactor = 0xFFFFFFFF;
      s.srcBlend = b.src, s.destBlend = b.dst, s.blendOp = b.op;
      gpu->SetDrawState(&s);
      PlatGpuVertex v[4];
      Quad(v, 5.5f, 7.5f, 37.5f, 23.5f, 0xB4B4B4B4);
      gpu->DrawQuad(v);
    };
    SCOPED_TRACE(testing::Message() << "op " << int(b.op) << " src " << int(b.src) << " dst " << int(b.dst));
    EXPECT_LE(WorstDifference(Frame(&g_GlGpu, draw), Frame(&g_SoftwareGpu, draw)), 1);
  }
}

TEST_P(GlDeviceTest, TextureStagesAndEffectPassesGiveTheSoftwareFrame) {
  constexpr uint8_t T = PLAT_TA_TEXTURE, D = PLAT_TA_DIFFUSE, F = PLAT_TA_TFACTOR, C = PLAT_TA_CURRENT;
  struct Case {
    PlatGpuStage s0, s1;
    bool secondTexture, linear;
    int pass;
  } cases[] = {
      {{PLAT_TOP_SELECTARG1, T, C, PLAT_TOP_MODULATE, T, F}, {PLAT_TOP_SELECTARG1, T, C, PLAT_TOP_DISABLE, T, F}, false, false, -1},
      {{PLAT_TOP_MODULATE, D, T, PLAT_TOP_MODULATE, D, T}, {PLAT_TOP_BLENDCURRENTALPHA, C, T, PLAT_TOP_SELECTARG1, C, T}, true, false, -1},
      {{PLAT_TOP_MODULATE, T, D, PLAT_TOP_MODULATE, T, D}, {PLAT_TOP_BLENDCURRENTALPHA, C, F, PLAT_TOP_SELECTARG1, C, F}, false, true, -1},
      // Stage 1 reads a texture it does not have: the stage's input instead.
      {{PLAT_TOP_MODULATE, T, D, PLAT_TOP_MODULATE, T, D}, {PLAT_TOP_MODULATE, T, F, PLAT_TOP_MODULATE, T, F}, false, true, -1},
      {{PLAT_TOP_DISABLE, T, C, PLAT_TOP_DISABLE, T, C}, kOff, false, false, -1},
      {kOff, kOff, true, false, PLAT_GPU_PASS_CROSSFADE},
      {kOff, kOff, true, false, PLAT_GPU_PASS_RULE},
      {kOff, kOff, false, false, PLAT_GPU_PASS_RULE},
  };
  for (const Case& c : cases) {
    auto draw = [&](PlatGpuDriver* gpu) {
      PlatGpuDrawState s{};
      s.stage[0] = c.s0;
      s.stage[1] = c.s1;
      s.textureFactor = 0xC0FF8040;
      s.srcBlend = PLAT_BLEND_SRCALPHA, s.destBlend = PLAT_BLEND_INVSRCALPHA, s.blendOp = PLAT_BLENDOP_ADD;
      gpu->SetDrawState(&s);
      if (!c.secondTexture) gpu->SetTexture(1, nullptr);
      uint8_t f = c.linear ? PLAT_FILTER_LINEAR : PLAT_FILTER_POINT;
      gpu->SetSamplerFilter(0, f, f);
      gpu->SetSamplerFilter(1, f, f);
      PlatGpuEffect e{c.pass, 0.75f, 0.6f, 3.0f};
      gpu->SetEffect(&e);
      PlatGpuVertex v[4];
      // Twice the source's size: magnified, so a linear filter blends neighbours.
      Quad(v, 3.5f, 2.5f, 67.5f, 34.5f, 0xA0C08060);
      gpu->DrawQuad(v);
    };
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_LE(WorstDifference(Frame(&g_GlGpu, draw), Frame(&g_SoftwareGpu, draw)), 1);
  }
}

TEST_P(GlDeviceTest, ReadBackGivesRowsTopFirstAtAnyPitch) {
  PlatGpuCaps caps;
  ASSERT_TRUE(g_GlGpu.CreateDevice(W, H, &caps));
  EXPECT_EQ(GlGpuIsEs(), GetParam());
  EXPECT_EQ(caps.pixelShaderRank, 30);
  EXPECT_GE(caps.maxTextureWidth, 2048);
  PlatGpuTexture* t = g_GlGpu.CreateTexture(3, 2, PLAT_GPU_FORMAT_ARGB8, true);
  const uint8_t texels[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  // Rows 14 bytes apart: the upload skips the two bytes between them.
  ASSERT_TRUE(g_GlGpu.WriteTexture(t, texels, 14, false));
  uint8_t back[2 * 13] = {};
  ASSERT_TRUE(g_GlGpu.ReadBack(t, back, 3, 2, 13));
  EXPECT_EQ(memcmp(back, texels, 12), 0);
  EXPECT_EQ(memcmp(back + 13, texels + 14, 12), 0);
  // A clear of the back buffer then a quad over the top rows only.
  g_GlGpu.Clear(0x80102030);
  PlatGpuDrawState s;
  g_GlGpu.GetDrawState(&s);
  s.stage[0] = {PLAT_TOP_SELECTARG1, PLAT_TA_DIFFUSE, PLAT_TA_CURRENT, PLAT_TOP_SELECTARG1, PLAT_TA_DIFFUSE, PLAT_TA_CURRENT};
  g_GlGpu.SetDrawState(&s);
  PlatGpuVertex v[4];
  Quad(v, -0.5f, -0.5f, W - 0.5f, 1.5f, 0xFF0000FF);
  ASSERT_TRUE(g_GlGpu.DrawQuad(v));
  std::vector<uint8_t> frame((size_t)W * H * 4);
  ASSERT_TRUE(g_GlGpu.ReadBack(nullptr, frame.data(), W, H, W * 4));
  uint32_t top, third;
  memcpy(&top, &frame[0], 4);
  memcpy(&third, &frame[(size_t)2 * W * 4], 4);
  EXPECT_EQ(top, 0xFF0000FFu);
  EXPECT_EQ(third, 0x80102030u);
  // Larger than the target, or a pitch too small: refused.
  EXPECT_FALSE(g_GlGpu.ReadBack(nullptr, frame.data(), W + 1, H, (W + 1) * 4));
  EXPECT_FALSE(g_GlGpu.ReadBack(nullptr, frame.data(), W, H, W * 4 - 1));
  g_GlGpu.ReleaseTexture(t);
}

TEST_P(GlDeviceTest, SixteenBitTexturesHoldTheSoftwareDevicesLevels) {
  std::vector<uint8_t> src = Source(32, 16);
  for (bool dither : {false, true}) {
    std::vector<uint8_t> out[2];
    PlatGpuDriver* devices[] = {&g_GlGpu, &g_SoftwareGpu};
    for (int i = 0; i < 2; i++) {
      PlatGpuCaps caps;
      ASSERT_TRUE(devices[i]->CreateDevice(W, H, &caps));
      PlatGpuTexture* t = devices[i]->CreateTexture(32, 16, PLAT_GPU_FORMAT_ARGB4, true);
      ASSERT_TRUE(devices[i]->WriteTexture(t, src.data(), 32 * 4, dither));
      out[i].resize(src.size());
      ASSERT_TRUE(devices[i]->ReadBack(t, out[i].data(), 32, 16, 32 * 4));
      devices[i]->ReleaseTexture(t);
      devices[i]->ReleaseDevice();
    }
    EXPECT_EQ(out[0], out[1]) << "dither " << dither;
  }
}

TEST_P(GlDeviceTest, ATextureLargerThanTheCapsIsRefusedWithoutAGlObject) {
  PlatGpuCaps caps;
  ASSERT_TRUE(g_GlGpu.CreateDevice(W, H, &caps));
  GlGpuObjects before = GlGpuObjectCount();
  EXPECT_EQ(g_GlGpu.CreateTexture(caps.maxTextureWidth + 1, 16, PLAT_GPU_FORMAT_ARGB8, true), nullptr);
  EXPECT_EQ(g_GlGpu.CreateTexture(16, caps.maxTextureHeight + 1, PLAT_GPU_FORMAT_ARGB8, true), nullptr);
  EXPECT_EQ(g_GlGpu.CreateTexture(16384, 16384, PLAT_GPU_FORMAT_ARGB8, true), nullptr);
  EXPECT_EQ(g_GlGpu.CreateTexture(0, 16, PLAT_GPU_FORMAT_ARGB8, true), nullptr);
  GlGpuObjects after = GlGpuObjectCount();
  EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
  // A back buffer beyond the caps: no device, and nothing left of the attempt.
  g_GlGpu.ReleaseDevice();
  EXPECT_FALSE(g_GlGpu.CreateDevice(16384, 16384, &caps));
  EXPECT_EQ(g_GlGpu.TestDevice(), PLAT_GPU_NO_DEVICE);
  EXPECT_TRUE(AllGone(GlGpuObjectCount()));
}

TEST_P(GlDeviceTest, AnInjectedLossDropsEveryObjectUntilTheDeviceIsMadeAgain) {
  PlatGpuCaps caps;
  ASSERT_TRUE(g_GlGpu.CreateDevice(W, H, &caps));
  PlatGpuTexture* t = g_GlGpu.CreateTexture(16, 16, PLAT_GPU_FORMAT_ARGB8, true);
  ASSERT_NE(t, nullptr);
  ASSERT_TRUE(g_GlGpu.SetRenderTarget(t));
  g_GlGpu.Clear(0xFFFFFFFF);
  EXPECT_EQ(GlGpuObjectCount().textureRecords, 1);
  GlGpuInjectLoss(false);
  EXPECT_EQ(g_GlGpu.TestDevice(), PLAT_GPU_LOST);
  // The context is gone with everything in it; the record stays until its owner releases it.
  GlGpuObjects lost = GlGpuObjectCount();
  EXPECT_EQ(lost.textures + lost.framebuffers + lost.buffers + lost.vertexArrays + lost.programs, 0);
  EXPECT_EQ(lost.textureRecords, 1);
  // While lost: draws and writes are taken and do nothing, creation and read-back fail.
  PlatGpuVertex v[4];
  Quad(v, 0, 0, 4, 4, 0xFFFFFFFF);
  EXPECT_TRUE(g_GlGpu.DrawQuad(v));
  std::vector<uint8_t> texels(16 * 16 * 4, 7);
  EXPECT_TRUE(g_GlGpu.WriteTexture(t, texels.data(), 64, false));
  EXPECT_EQ(g_GlGpu.CreateTexture(16, 16, PLAT_GPU_FORMAT_ARGB8, true), nullptr);
  EXPECT_FALSE(g_GlGpu.ReadBack(t, texels.data(), 16, 16, 64));
  EXPECT_FALSE(g_GlGpu.ReadBack(nullptr, texels.data(), 16, 16, 64));
  GlGpuInjectLoss(true);
  EXPECT_EQ(g_GlGpu.TestDevice(), PLAT_GPU_NOT_RESET);
  // A new device: the old texture cannot be used with it, and is still released once.
  ASSERT_TRUE(g_GlGpu.CreateDevice(W, H, &caps));
  EXPECT_EQ(g_GlGpu.TestDevice(), PLAT_GPU_READY);
  EXPECT_FALSE(g_GlGpu.SetTexture(0, t));
  EXPECT_FALSE(g_GlGpu.SetRenderTarget(t));
  g_GlGpu.ReleaseTexture(t);
  g_GlGpu.ReleaseDevice();
  EXPECT_TRUE(AllGone(GlGpuObjectCount()));
}

TEST_P(GlDeviceTest, ARefusedCreationLeavesNoDeviceAndNoObject) {
  GlGpuRefuseDevice(1);
  PlatGpuCaps caps;
  EXPECT_FALSE(g_GlGpu.CreateDevice(W, H, &caps));
  EXPECT_EQ(g_GlGpu.TestDevice(), PLAT_GPU_NO_DEVICE);
  EXPECT_EQ(g_GlGpu.CreateTexture(16, 16, PLAT_GPU_FORMAT_ARGB8, true), nullptr);
  EXPECT_TRUE(AllGone(GlGpuObjectCount()));
  EXPECT_TRUE(g_GlGpu.CreateDevice(W, H, &caps));
}

TEST_P(GlDeviceTest, TheSetUpChoiceFollowsKivorGpuAndDefaultsToOpenGl) {
  PlatGpuCaps caps;
  setenv("KIVOR_GPU", "soft", 1);
  EXPECT_EQ(PlatChosenGpu(), &g_SoftwareGpu);
  setenv("KIVOR_GPU", "gl", 1);
  EXPECT_EQ(PlatChosenGpu(), &g_GlGpu);
  setenv("KIVOR_GPU", "off", 1);
  PlatGpuDriver* off = PlatChosenGpu();
  EXPECT_FALSE(off->CreateDevice(W, H, &caps));
  EXPECT_EQ(off->TestDevice(), PLAT_GPU_NO_DEVICE);
  unsetenv("KIVOR_GPU");
  PlatGpuDriver* chosen = PlatChosenGpu();
  ASSERT_TRUE(chosen->CreateDevice(W, H, &caps));
  EXPECT_STREQ(chosen->name, "opengl");
  chosen->ReleaseDevice();
  // Where no context can be made, the first creation settles on the software device.
  chosen = PlatChosenGpu();
  GlGpuRefuseDevice(1);
  ASSERT_TRUE(chosen->CreateDevice(W, H, &caps));
  EXPECT_STREQ(chosen->name, "software");
  chosen->ReleaseDevice();
  EXPECT_TRUE(AllGone(GlGpuObjectCount()));
}

// The transforms a bridge places its models with are kept as the software device keeps them:
// identities on a new device, the last matrix set after that, and none without a device.
TEST_P(GlDeviceTest, TransformsAreKeptLikeTheSoftwareDevices) {
  float matrix[16], read[16];
  for (int i = 0; i < 16; i++) matrix[i] = float(i) * 0.5f - 3.0f;
  for (PlatGpuDriver* gpu : {&g_GlGpu, &g_SoftwareGpu}) {
    PlatGpuCaps caps;
    ASSERT_TRUE(gpu->CreateDevice(W, H, &caps));
    ASSERT_TRUE(gpu->GetTransform(PLAT_GPU_VIEW, read));
    EXPECT_EQ(read[0], 1.0f);
    EXPECT_EQ(read[1], 0.0f);
    EXPECT_EQ(read[15], 1.0f);
    ASSERT_TRUE(gpu->SetTransform(PLAT_GPU_PROJECTION, matrix));
    ASSERT_TRUE(gpu->GetTransform(PLAT_GPU_PROJECTION, read));
    EXPECT_EQ(memcmp(read, matrix, sizeof matrix), 0) << gpu->name;
    EXPECT_FALSE(gpu->SetTransform(3, matrix));
    gpu->ReleaseDevice();
    EXPECT_FALSE(gpu->GetTransform(PLAT_GPU_WORLD, read)) << gpu->name;
  }
}

INSTANTIATE_TEST_SUITE_P(Contexts, GlDeviceTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Es3" : "Core33"; });

}  // namespace
