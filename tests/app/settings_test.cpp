// The user settings words, the save folder rule, the scrambling tables and the worker count.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

namespace {

std::string Words(std::initializer_list<std::pair<int, uint32_t>> set, size_t bytes = 128) {
  std::string out(128, '\0');
  for (auto [word, value] : set)
    for (int b = 0; b < 4; b++) out[word * 4 + b] = (char)(value >> (8 * b));
  return out.substr(0, bytes);
}

class Settings : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    saved_ = g_ExeFolderReal;
    g_ExeFolderReal = folder_.path();
  }
  void TearDown() override {
    g_ExeFolderReal = saved_;
    ResetEngineSettings();
    HeadlessTest::TearDown();
  }
  TempFolder folder_;
  std::string saved_;
};

TEST_F(Settings, MissingFileKeepsEveryDefault) {
  LoadEngineSettings();
  EXPECT_EQ(g_MovieBackend, 1);
  EXPECT_EQ(g_AllowSse, 1);
  EXPECT_EQ(g_AllowSse2, 1);
  EXPECT_EQ(g_WorkerCap, 4);
  EXPECT_EQ(g_FitMode, 1);
  EXPECT_EQ(g_GpuDrawing, 0);
  EXPECT_EQ(g_BilinearScaling, 1);
  EXPECT_EQ(g_TextureFormat, 21);
  EXPECT_EQ(g_TextureTileLimit.width, 0);   // no file: no tile limit
}

TEST_F(Settings, WordsApplyOnlyTheirListedValues) {
  struct Case {
    std::string file;
    uint8_t movie, sse, sse2, cap, fit, gpuDrawing, bilinear, changeMode;
    int32_t filter, texture;
  } cases[] = {
      // A 12-byte file sets words 0-2; every later word reads 0 (one worker, drawing method 0).
      {Words({{0, 0}, {1, 1}, {2, 0}}, 12), 0, 0, 0, 1, 1, 1, 1, 1, 3, 21},
      {Words({{4, 1}, {7, 3}, {8, 2}}), 0, 0, 0, 4, 0, 0, 1, 1, 1, 21},
      // Values outside a word's list keep the default (word 8 = 9: no GPU drawing, filter 0).
      {Words({{4, 7}, {7, 4}, {8, 9}, {2, 5}, {3, 1}}), 0, 1, 1, 4, 1, 0, 1, 1, 0, 21},
      {Words({{4, 2}, {6, 1}, {8, 3}, {13, 1}}), 0, 0, 0, 4, 1, 0, 0, 0, 0, 26},
  };
  for (const Case& c : cases) {
    folder_.Write("kvcfg.dat", c.file);
    LoadEngineSettings();
    EXPECT_EQ(g_MovieBackend, c.movie);
    EXPECT_EQ(g_AllowSse, c.sse);
    EXPECT_EQ(g_AllowSse2, c.sse2);
    EXPECT_EQ(g_WorkerCap, c.cap);
    EXPECT_EQ(g_FitMode, c.fit);
    EXPECT_EQ(g_GpuDrawing, c.gpuDrawing);
    EXPECT_EQ(g_BilinearScaling, c.bilinear);
    EXPECT_EQ(g_ChangeDisplayMode, c.changeMode);
    EXPECT_EQ(g_GpuFilterLevel, c.filter);
    EXPECT_EQ(g_TextureFormat, c.texture);
    EXPECT_EQ(g_TextureTileLimit.width, 512);
    EXPECT_EQ(g_TextureTileLimit.height, 256);
  }
}

TEST_F(Settings, DrawingMethodTwoTurnsGpuDrawingOffAfterAnotherSourceSetIt) {
  g_GpuSceneMode = 1;
  folder_.Write("kvcfg.dat", Words({{8, 2}}));
  LoadEngineSettings();
  EXPECT_EQ(g_GpuDrawing, 0);
  EXPECT_EQ(g_GpuSceneMode, 0);
}

TEST_F(Settings, WorkerCountFollowsProcessorsAndCap) {
  folder_.Write("kvcfg.dat", Words({{4, 1}}));
  LoadEngineSettings();
  ReadSystemInfo();
  int processors = PlatProcessorCount();
  EXPECT_EQ(g_WorkerCount, processors < 4 ? processors : 4);
  folder_.Write("kvcfg.dat", Words({{4, 0}}));
  LoadEngineSettings();
  ReadSystemInfo();
  EXPECT_EQ(g_WorkerCount, 1);
}

TEST_F(Settings, SaveFolderByLocation) {
  strcpy(g_AppDataFolder, "c:\\data");
  strcpy(g_DocumentsFolder, "c:\\docs");
  struct Case {
    std::string file;
    const char* folder;
  } cases[] = {
      {"", "save\\"},
      {Words({{21, 1}}), "c:\\data\\OAKSPIRE_SaveData\\velmo_hd\\save\\"},
      {Words({{21, 2}}), "c:\\docs\\OAKSPIRE_SaveData\\velmo_hd\\save\\"},
      {Words({{21, 3}}), "c:\\docs\\My Games\\OAKSPIRE_SaveData\\velmo_hd\\save\\"},
      {Words({{21, 4}}), "save\\"},
      {Words({{20, 3}}, 84), "save\\"},   // too short to hold word 21
  };
  for (const Case& c : cases) {
    folder_.Write("kvsfs.dat", c.file);
    LoadSaveLocation();
    EXPECT_STREQ(g_SaveFolder, c.folder);
  }
}

TEST(ScrambleTables, NameLengthTableIsAPermutationAndKeyIsTheCrcOfThePhrase) {
  BuildScrambleTables();
  bool seen[256] = {};
  for (int i = 0; i < 256; i++) seen[g_NameLengthTable[i]] = true;
  for (bool s : seen) EXPECT_TRUE(s);
  uint32_t crc = Crc32(0, reinterpret_cast<const uint8_t*>(kScriptPassPhrase), strlen(kScriptPassPhrase));
  EXPECT_EQ(strlen(kScriptPassPhrase), 9u);
  EXPECT_EQ(g_ScriptKey[0], (uint8_t)(crc >> 24));
  EXPECT_EQ(g_ScriptKey[3], (uint8_t)crc);
}

TEST(Crc32, MatchesTheCheckValue) {
  EXPECT_EQ(Crc32(0, reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}

}  // namespace
