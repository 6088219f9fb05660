// E-mote players against the stand-in bridge: the player table, factors, motions and
// timelines, variable lists, the time step, the camera and the save/restore of a device reset.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "media/emote.h"
#include "media/emote_player.h"
#include "platform/gpu.h"
#include "platform/headless/headless.h"
#include "tests/media/media_fixture.h"

namespace {

class EmotePlayer : public EmoteScriptTest {
 protected:
  void TearDown() override {
    ShutdownEmotePlayers();
    for (LayerRecord* r : records_) {
      free(r->mEmoteSavedVariables);
      free(r->mEmoteMotion);
      free(r->mEmoteTimeline);
      free(r);
    }
    EmoteScriptTest::TearDown();
  }
  // A record with a player made from a fake model; 0 or the load's result.
  LayerRecord* NewPlayer(int* result = nullptr) {
    LayerRecord* r = static_cast<LayerRecord*>(calloc(1, sizeof(LayerRecord)));
    r->mEmoteFactor1 = r->mEmoteFactor2 = r->mEmoteFactor3 = 1.0f;
    r->mEmoteEnabled = 1;
    records_.push_back(r);
    static const uint8_t model[8] = {};
    int rc = LoadEmotePlayer(r, model, sizeof model);
    if (result) *result = rc;
    return r;
  }
  std::vector<LayerRecord*> records_;
};

TEST_F(EmotePlayer, FactorsAreClampedToZeroToOne) {
  struct Case {
    float in, applied;
  };
  const Case cases[] = {{2.5f, 1.0f}, {-1.0f, 0.0f}, {NAN, 1.0f}, {0.25f, 0.25f}};
  LayerRecord* r = NewPlayer();
  for (const Case& c : cases) {
    SetEmoteFactor2(r, c.in);
    EXPECT_EQ(r->mEmoteFactor2, c.applied);
  }
  EXPECT_EQ(Calls("SetFactor2").size(), 4u);
}

TEST_F(EmotePlayer, APlayerBeyondTheTableIsKeptButNeverAdvanced) {
  for (int i = 0; i < EMOTE_PLAYER_SLOTS; i++) ASSERT_NE(NewPlayer(), nullptr);
  int rc = 0;
  LayerRecord* extra = NewPlayer(&rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(extra->mEmotePlayer, nullptr);
  bool boxShown = false;
  for (const std::string& call : HeadlessCalls())
    if (call.find("EmotePlayer最大読込数をオーバーしました.") != std::string::npos) boxShown = true;
  EXPECT_TRUE(boxShown);
  EXPECT_EQ(IsEmoteRegistered(extra), 0);
  ClearLog();
  AdvanceEmotePlayers(20);
  AdvanceEmotePlayers(20);
  EXPECT_EQ(Calls("Advance").size(), size_t(EMOTE_PLAYER_SLOTS));
  char line[64];
  snprintf(line, sizeof line, "Advance %p", extra->mEmotePlayer);
  EXPECT_EQ(Log().find(line), std::string::npos);
}

TEST_F(EmotePlayer, EachFrameAdvancesByThePreviousFramesTime) {
  LayerRecord* r = NewPlayer();
  ClearLog();
  AdvanceEmotePlayers(20);
  EXPECT_TRUE(Calls("Advance").empty());
  AdvanceEmotePlayers(50000);
  AdvanceEmotePlayers(0);
  std::vector<std::string> calls = Calls("Advance");
  ASSERT_EQ(calls.size(), 2u);
  // 20 ms is 1.2 frames; a frame longer than ten seconds counts as one frame of 16.666 ms.
  EXPECT_NE(calls[0].find(" 1.2"), std::string::npos) << calls[0];
  EXPECT_NE(calls[1].find(" 0.99996"), std::string::npos) << calls[1];
  // Drawing takes the pending time once.
  AdvanceEmotePlayers(10);
  ClearLog();
  ProgressEmotePending(r);
  ProgressEmotePending(r);
  EXPECT_EQ(Calls("Advance").size(), 1u);
}

TEST_F(EmotePlayer, VariableListsSetScaledValuesAndRoundTrip) {
  LayerRecord* r = NewPlayer();
  // "a￡1500￡b￡-250￡c￡7" in code page 932: the last value has no closing separator.
  ApplyEmoteVariableList(r, "a\x81\x92" "1500\x81\x92" "b\x81\x92-250\x81\x92" "c\x81\x92" "7");
  std::vector<std::string> calls = Calls("SetVariable");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls[0].find(" a 1.5 0 0"), std::string::npos) << calls[0];
  EXPECT_NE(calls[1].find(" b -0.25 0 0"), std::string::npos) << calls[1];
  char list[EMOTE_VARIABLE_LIST_BYTES];
  FormatEmoteVariableList(r, list);
  EXPECT_STREQ(list, "a\x81\x92" "1500\x81\x92" "b\x81\x92-250\x81\x92");
}

TEST_F(EmotePlayer, OversizedListTokensAreCutWithoutOverrun) {
  LayerRecord* r = NewPlayer();
  std::string name(3000, 'n');
  std::string text = name + "\x81\x92" "2000\x81\x92";
  ApplyEmoteVariableList(r, text.c_str());
  std::vector<std::string> calls = Calls("SetVariable");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find(" " + std::string(EMOTE_NAME_BYTES - 1, 'n') + " 2 "), std::string::npos);
}

TEST_F(EmotePlayer, ANewMotionStopsTheOldOne) {
  LayerRecord* r = NewPlayer();
  ClearLog();
  PlayEmoteMotion(r, "walk");
  PlayEmoteMotion(r, "run");
  std::vector<std::string> stops = Calls("StopTimeline");
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_NE(stops[0].find(" walk"), std::string::npos);
  EXPECT_STREQ(r->mEmoteMotion, "run");
  StopEmoteMotion(r, "run");
  EXPECT_STREQ(r->mEmoteMotion, "");
}

TEST_F(EmotePlayer, TimelineBlendRisesFromNothingOverTheTime) {
  LayerRecord* r = NewPlayer();
  ClearLog();
  StartEmoteTimelineBlend(r, "smile", 1000, 0.5f);
  std::vector<std::string> blends = Calls("SetTimelineBlend");
  ASSERT_EQ(blends.size(), 2u);
  EXPECT_NE(blends[0].find(" smile 0 60 0 0"), std::string::npos) << blends[0];
  EXPECT_NE(blends[1].find(" smile 0.5 60 0 0"), std::string::npos) << blends[1];
  EXPECT_EQ(Calls("PlayTimeline").at(0).substr(Calls("PlayTimeline").at(0).size() - 8), " smile 3");
  EndEmoteTimeline(r, "smile", 500);
  EXPECT_NE(Calls("FadeOutTimeline").at(0).find(" smile 30 0"), std::string::npos);
  EXPECT_STREQ(r->mEmoteTimeline, "");
}

TEST_F(EmotePlayer, DeviceResetRestoresVariablesAndWhatStillPlays) {
  LayerRecord* r = NewPlayer();
  ApplyEmoteVariableList(r, "eye\x81\x92" "250\x81\x92");
  PlayEmoteMotion(r, "wave");
  StartEmoteTimelineBlend(r, "smile", 0, 0.75f);
  endTimeline_("wave");   // the motion ended by itself
  SaveEmoteStates();
  EXPECT_STREQ(r->mEmoteMotion, "");
  EXPECT_STREQ(r->mEmoteTimeline, "smile");
  ReleaseEmotePlayers();
  EXPECT_EQ(r->mEmotePlayer, nullptr);
  EXPECT_EQ(IsEmoteRegistered(r), 0);
  EXPECT_EQ(Calls("ReleaseDriver").size(), 1u);
  // The device comes back: the driver and the layer's player are made again.
  ASSERT_EQ(InitEmoteDriver(PlatGpu()), 0);
  static const uint8_t model[8] = {};
  ASSERT_EQ(LoadEmotePlayer(r, model, sizeof model), 0);
  ClearLog();
  RestoreEmoteStates();
  EXPECT_EQ(r->mEmoteSavedVariables, nullptr);
  EXPECT_EQ(Calls("SetVariable").size(), 1u);
  EXPECT_NE(Calls("SetVariable").at(0).find(" eye 0.25"), std::string::npos);
  EXPECT_TRUE(Calls("PlayTimeline").size() == 1u && Calls("PlayTimeline")[0].find(" smile 3") != std::string::npos);
  EXPECT_NE(Calls("SetTimelineBlend").at(1).find(" smile 0.75 0 0 0"), std::string::npos);
  EXPECT_STREQ(r->mEmoteTimeline, "smile");
}

TEST_F(EmotePlayer, ReleasedPlayerLeavesTheTableAndTheLayerTextured) {
  LayerRecord* r = NewPlayer();
  r->mGpuKind = GPU_KIND_EMOTE;
  ReleaseEmoteObject(r);
  EXPECT_EQ(r->mEmotePlayer, nullptr);
  EXPECT_EQ(r->mGpuKind, GPU_KIND_TEXTURED);
  EXPECT_EQ(IsEmoteRegistered(r), 0);
  EXPECT_EQ(Calls("DeletePlayer").size(), 1u);
}

TEST_F(EmotePlayer, NoDriverMeansNoPlayer) {
  ReleaseEmoteDriver();
  fail_(1, 0);
  EXPECT_EQ(InitEmoteDriver(PlatGpu()), 1);
  int rc = 0;
  LayerRecord* r = NewPlayer(&rc);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(r->mEmotePlayer, nullptr);
  EXPECT_TRUE(Calls("CreatePlayer").empty());
}

TEST_F(EmotePlayer, CameraMakesOneModelUnitOnePixel) {
  g_EmoteCamera = EmoteCamera{};
  SetupEmoteCamera(nullptr, 640, 480, 0, 0, 0);
  EXPECT_EQ(g_EmoteCamera.mSet, 0);
  SetupEmoteCamera(PlatGpu(), 640, 480, 10, 20, 0);
  ASSERT_EQ(g_EmoteCamera.mSet, 1);
  // Row vector times world, view, projection; then divided by w.
  auto project = [](float x, float y) {
    float p[4] = {x, y, 0, 1}, q[4];
    const float* ms[3] = {g_EmoteCamera.mWorld, g_EmoteCamera.mView, g_EmoteCamera.mProjection};
    for (const float* m : ms) {
      for (int c = 0; c < 4; c++) q[c] = p[0] * m[c] + p[1] * m[4 + c] + p[2] * m[8 + c] + p[3] * m[12 + c];
      memcpy(p, q, sizeof p);
    }
    return std::pair<float, float>(p[0] / p[3], p[1] / p[3]);
  };
  // The camera looks at the model point (0.5 + camera x, 0.5 - camera y), x mirrored.
  auto a = project(10.5f, -19.5f);
  EXPECT_NEAR(a.first, 0.0f, 1e-5);
  EXPECT_NEAR(a.second, 0.0f, 1e-5);
  auto b = project(11.5f, -18.5f);
  // One unit is 2/640 of the -1..1 width and 2/480 of the height.
  EXPECT_NEAR(std::fabs(b.first - a.first), 2.0f / 640.0f, 1e-6);
  EXPECT_NEAR(std::fabs(b.second - a.second), 2.0f / 480.0f, 1e-6);
}

// The camera reaches the device as its world, view and projection, and the bridge draws with
// what the device holds.
TEST_F(EmotePlayer, TheBridgeDrawsWithTheCameraTheDeviceHolds) {
  PlatGpuCaps caps;
  ASSERT_TRUE(PlatGpu()->CreateDevice(640, 480, &caps));
  LayerRecord* r = NewPlayer();
  ASSERT_NE(r->mEmotePlayer, nullptr);
  SetupEmoteCamera(PlatGpu(), 640, 480, 10, 20, 0);
  ASSERT_EQ(g_EmoteCamera.mSet, 1);
  const float* camera[3] = {g_EmoteCamera.mWorld, g_EmoteCamera.mView, g_EmoteCamera.mProjection};
  for (int which = 0; which < 3; which++) {
    float held[16];
    ASSERT_TRUE(PlatGpu()->GetTransform(which, held));
    EXPECT_EQ(memcmp(held, camera[which], sizeof held), 0) << which;
  }
  DrawEmotePlayer(r);
  float drawn[3][16];
  ASSERT_EQ(drawnWith_(&drawn[0][0]), 1);
  for (int which = 0; which < 3; which++) EXPECT_EQ(memcmp(drawn[which], camera[which], sizeof drawn[which]), 0) << which;
  // The neutral camera after a device change replaces it on the device.
  RefreshEmoteCamera(PlatGpu());
  float projection[16];
  ASSERT_TRUE(PlatGpu()->GetTransform(PLAT_GPU_PROJECTION, projection));
  EXPECT_EQ(projection[0], 1.0f);
  PlatGpu()->ReleaseDevice();
}

}  // namespace
