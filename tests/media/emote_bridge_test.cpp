// Taking up the E-mote bridge: absent is silent, incomplete is refused, complete is used.
#include <filesystem>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "media/emote.h"
#include "platform/headless/headless.h"
#include "tests/support/engine_fixture.h"

namespace {

class EmoteBridge : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    saved_ = g_ExeFolderReal;
    g_ExeFolderReal = game_.path();
  }
  void TearDown() override {
    FreeEmoteBridge();
    g_ExeFolderReal = saved_;
    HeadlessTest::TearDown();
  }
  void Install(const char* bridge) {
    namespace fs = std::filesystem;
    fs::copy_file(EMOTE_STUB_FULL, game_.path() + "/emotedriver.so");
    fs::copy_file(bridge, game_.path() + "/VURazuz.so");
  }
  TempFolder game_;
  std::string saved_;
};

TEST_F(EmoteBridge, AbsentLibrariesMeanNotAvailableWithoutAMessage) {
  LoadEmoteBridge();
  EXPECT_EQ(g_EmoteAvailable, 0);
  EXPECT_TRUE(HeadlessCalls().empty());
}

TEST_F(EmoteBridge, BridgeMissingAnEntryPointIsRefused) {
  Install(EMOTE_STUB_PARTIAL);
  LoadEmoteBridge();
  EXPECT_EQ(g_EmoteAvailable, 0);
  EXPECT_EQ(g_EmoteFunctions.CreateDriver, nullptr);
}

TEST_F(EmoteBridge, CompleteBridgeIsTakenUp) {
  Install(EMOTE_STUB_FULL);
  LoadEmoteBridge();
  EXPECT_EQ(g_EmoteAvailable, 1);
  EXPECT_NE(g_EmoteFunctions.DrawPlayer, nullptr);
  EXPECT_NE(g_EmoteFunctions.CreateDriver, nullptr);
}

}  // namespace
