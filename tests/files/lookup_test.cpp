// File lookup: the source order, loose files by Windows-style names, extension probing, the
// in-memory list and the preload cache.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/platform.h"
#include "tests/files/files_fixture.h"

#include <zlib.h>

TEST(Crc32, MatchesZlibAndTheCheckValue) {
  const char* check = "123456789";
  EXPECT_EQ(Crc32(0, reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
  std::string data = SampleBytes(5000, 3);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
  uint32_t whole = Crc32(0, p, data.size());
  EXPECT_EQ(whole, (uint32_t)crc32(0, p, (uInt)data.size()));
  EXPECT_EQ(Crc32(Crc32(0, p, 1234), p + 1234, data.size() - 1234), whole);
}

TEST(FileTypeFromExtension, Cases) {
  struct Case {
    const char* name;
    uint8_t type;
  } cases[] = {
      {"a.bmp", FILE_TYPE_BMP}, {"A.PNG", FILE_TYPE_PNG}, {"x\\y.Jpg", FILE_TYPE_JPG},
      {"g.gif", FILE_TYPE_GIF}, {"s.wav", FILE_TYPE_WAV}, {"s.OGG", FILE_TYPE_OGG},
      {"p.psd", FILE_TYPE_PSD}, {"k.kcg", FILE_TYPE_KCG}, {"e.psb", FILE_TYPE_PSB},
      {"a.jpeg", FILE_TYPE_NONE}, {"png", FILE_TYPE_NONE}, {"", FILE_TYPE_NONE},
  };
  for (const Case& c : cases) EXPECT_EQ(FileTypeFromExtension(c.name), c.type) << c.name;
}

TEST_F(FilesTest, LooseNamesMatchWithoutCaseAndWithBackslashes) {
  folder_.Write("bg/title.png", "PNGDATA");
  // "キャラ" in code page 932 on a UTF-8 disk.
  folder_.Write("キャラ/顔.bmp", "FACE");
  EXPECT_EQ(Load("BG\\Title.PNG"), "PNGDATA");
  EXPECT_EQ(Load("bg/title.png"), "PNGDATA");
  EXPECT_EQ(Load("\x83\x4C\x83\x83\x83\x89\\\x8A\xE7.BMP"), "FACE");
  EXPECT_EQ(Load("bg\\missing.png"), "<none>");
  folder_.Write("表示/x.txt", "TRAIL");
  EXPECT_EQ(Load("\x95\x5C\x8E\xA6\\X.TXT"), "TRAIL");

  char name[] = "BG\\Title";
  char out[MAX_PATH_BYTES + 1] = "";
  FileLocation loc{};
  ASSERT_EQ(ResolveResourceFile(&loc, out, name, RESOURCE_IMAGE), 0);
  EXPECT_STREQ(out, "bg\\title.png");
  EXPECT_STREQ(name, "BG/Title");   // the caller's text keeps the separator change
  EXPECT_EQ(loc.mSource, FILE_SOURCE_LOOSE);
  EXPECT_EQ(loc.mType, FILE_TYPE_PNG);
}

TEST_F(FilesTest, ALooseFolderNamedLikeTheFileIsNoHit) {
  folder_.Write("dir.png/inner", "x");
  EXPECT_FALSE(LooseFileExists("dir.png"));
  WritePack("data.kpk", {Stored("dir.png", "FROMPACK")});
  ASSERT_EQ(BuildPackIndex(), 0);
  EXPECT_EQ(Load("dir.png"), "FROMPACK");
}

TEST_F(FilesTest, ResolveResourceFileProbesTheProjectOrder) {
  folder_.Write("ev/a.bmp", "BMP");
  folder_.Write("ev/a.jpg", "JPG");
  folder_.Write("voice/a01.ogg", "OGG");
  folder_.Write("m/chara.psb", "PSB");
  folder_.Write("m/plain", "EMOTE");
  // "表示" in code page 932: the first character's trail byte is a backslash.
  folder_.Write("表示.dat", "SHOW");
  struct Case {
    const char* name;
    int kind;
    uint8_t order[5];
    int result;
    const char* out;      // null: the output buffer is untouched
    uint8_t type;
  } cases[] = {
      {"EV\\A", RESOURCE_IMAGE, {1, 2, 3, 4, 5}, 0, "ev\\a.bmp", FILE_TYPE_BMP},
      {"ev/a", RESOURCE_IMAGE, {3, 2, 0, 0, 0}, 0, "ev\\a.jpg", FILE_TYPE_JPG},
      // Codes outside 1..5 are skipped; the last name tried stays in the buffer.
      {"ev/a", RESOURCE_IMAGE, {9, 1, 4, 0, 0}, 1, "ev\\a.gif", 0},
      {"ev/a", RESOURCE_IMAGE, {0, 0, 0, 0, 0}, 1, nullptr, 0},
      {"ev/a.JPG", RESOURCE_IMAGE, {1, 1, 1, 1, 1}, 0, "ev\\a.jpg", FILE_TYPE_JPG},
      {"ev/./x/../a.bmp", RESOURCE_IMAGE, {1, 2, 3, 4, 5}, 0, "ev\\a.bmp", FILE_TYPE_BMP},
      {"voice\\A01.OGG", RESOURCE_SOUND, {}, 0, "voice\\a01.ogg", FILE_TYPE_OGG},
      {"voice\\A01", RESOURCE_SOUND, {}, 0, "voice\\a01.ogg", FILE_TYPE_OGG},
      {"voice\\A02", RESOURCE_SOUND, {}, 1, "voice\\a02.wav", 0},
      {"M\\Chara.psb", RESOURCE_EMOTE, {}, 0, "m\\chara.psb", FILE_TYPE_PSB},
      {"M\\Plain", RESOURCE_EMOTE, {}, 0, "m\\plain", FILE_TYPE_NONE},
      {"\x95\x5C\x8E\xA6.DAT", RESOURCE_EMOTE, {}, 0, "\x95\x5C\x8E\xA6.dat", FILE_TYPE_NONE},
      {"ev/a", 2, {1, 2, 3, 4, 5}, -1, nullptr, 0},
  };
  for (const Case& c : cases) {
    memcpy(g_ImageExtensionOrder, c.order, 5);
    char name[64];
    strcpy(name, c.name);
    char out[MAX_PATH_BYTES + 1] = "untouched";
    FileLocation loc{};
    EXPECT_EQ(ResolveResourceFile(&loc, out, name, c.kind), c.result) << c.name;
    EXPECT_STREQ(out, c.out ? c.out : "untouched") << c.name;
    if (c.result == 0) {
      EXPECT_EQ(loc.mType, c.type) << c.name;
    }
  }
}

TEST_F(FilesTest, TheCacheAndTheMemoryListComeFirst) {
  folder_.Write("bg/x.png", "LOOSE");
  folder_.Write("kvbin/a.kbn", "LOOSE");
  char cacheName[MAX_PATH_BYTES + 1] = "bg\\x.png";
  uint8_t cached[] = {'C', 'A', 'C', 'H', 'E'};
  g_PreloadCache[2].mCount = 1;
  g_PreloadCache[2].mSlots[0] = PreloadSlot{cacheName, cached, 5, FILE_TYPE_PNG};
  char memName[] = "KVBIN\\A.KBN";
  uint8_t memData[] = {'M', 'E', 'M'};
  MemoryFile mem{memName, 3, memData};
  MemoryFile* list[] = {&mem};
  g_MemoryFiles = list;
  g_MemoryFileCount = 1;

  FileLocation loc{};
  ASSERT_EQ(LocateFile(&loc, "BG\\X.PNG", true), FILE_SOURCE_CACHE);
  EXPECT_EQ(loc.mCacheGroup, 2);
  EXPECT_EQ(loc.mType, FILE_TYPE_PNG);
  ASSERT_EQ(ReadLocatedFile(&loc, "bg\\x.png"), 0);
  EXPECT_EQ(std::string((char*)loc.mData, loc.mSize), "CACHE");
  EXPECT_NE(loc.mData, cached);   // a private copy
  free(loc.mData);

  loc = FileLocation{};
  ASSERT_EQ(LocateFile(&loc, "kvbin\\a.kbn", true), FILE_SOURCE_MEMORY);
  EXPECT_EQ(loc.mType, FILE_TYPE_NONE);
  EXPECT_EQ(Load("kvbin\\a.kbn"), "MEM");

  // A memory file keeps type 0 whatever its name says.
  char pngName[] = "title.png";
  MemoryFile png{pngName, 3, memData};
  list[0] = &png;
  loc = FileLocation{};
  ASSERT_EQ(LocateFile(&loc, "title.png", true), FILE_SOURCE_MEMORY);
  EXPECT_EQ(loc.mType, FILE_TYPE_NONE);
  g_MemoryFiles = nullptr;
  g_MemoryFileCount = 0;
}

TEST_F(FilesTest, SettingsChooseBetweenPacksAndLooseFiles) {
  folder_.Write("a.png", "LOOSE");
  WritePack("data.kpk", {Stored("a.png", "PACK")});
  ASSERT_EQ(BuildPackIndex(), 0);
  struct Case {
    uint8_t packedRelease, inExecutable, devFlag, releaseFlag;
    const char* expected;
  } cases[] = {
      {0, 0, 1, 0, "LOOSE"}, {0, 0, 0, 1, "PACK"}, {1, 0, 1, 0, "PACK"},
      {1, 0, 0, 1, "LOOSE"}, {1, 1, 1, 1, "PACK"},
  };
  for (const Case& c : cases) {
    g_PackedRelease = c.packedRelease;
    g_SourceOrderFlags[0] = c.devFlag;
    g_SourceOrderFlags[1] = c.releaseFlag;
    // Only the order is under test: the appended-pack flag is raised after the index is built.
    g_PacksInExecutable = c.inExecutable;
    FileLocation loc{};
    int source = LocateFile(&loc, "a.png", false);
    g_PacksInExecutable = 0;
    EXPECT_EQ(source, std::string(c.expected) == "PACK" ? FILE_SOURCE_PACK : FILE_SOURCE_LOOSE)
        << (int)c.packedRelease << (int)c.inExecutable << (int)c.devFlag << (int)c.releaseFlag;
  }
}

TEST_F(FilesTest, LoadDataFileReportsAMissingFile) {
  folder_.Write("kvbin/there.kbn", "OK");
  FileLocation loc{};
  ASSERT_EQ(LoadDataFile("kvbin\\there.kbn", &loc), 0);
  EXPECT_EQ(std::string((char*)loc.mData, loc.mSize), "OK");
  free(loc.mData);
  EXPECT_NE(LoadDataFile("kvbin\\gone.kbn", &loc), 0);
  EXPECT_EQ(g_QuitFlag.load(), 1);
  EXPECT_TRUE(DialogShows("kvbin\\gone.kbn]ファイルが\n存在しません。"));
}

// A game in a folder its player cannot write keeps what it writes in the player's copy of the
// folder; reading those names back finds the copy first, as the game expects, and every other
// name in the game folder.
TEST_F(FilesTest, AReadOnlyGameReadsWhatItWroteFromTheUsersCopy) {
  TempFolder data;
  const char* oldHome = getenv("XDG_DATA_HOME");
  std::string savedHome = oldHome ? oldHome : "";
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  folder_.Write("cg/shot.bmp", "SHIPPED");
  folder_.Write("cg/kept.bmp", "KEPT");
  g_ReadOnlyFolder = 1;
  auto write = [&](const char* name, const std::string& bytes) {
    std::string place = GameWritePath(g_ExeFolderReal, name);
    EXPECT_EQ(place.rfind(data.path() + "/kivor/", 0), 0u) << place;
    PlatFile* f = PlatFileOpen(place, "wb");
    ASSERT_NE(f, nullptr) << place;
    PlatFileWrite(f, bytes.data(), bytes.size());
    PlatFileClose(f);
  };
  write("CG\\Shot.BMP", "WRITTEN");
  write("cg\\new.bmp", "NEW");
  // A second write under another case replaces the first, as on the game's own disk.
  write("Cg\\NEW.bmp", "NEWER");
  struct Case {
    const char* name;
    const char* bytes;
  };
  const Case cases[] = {
      {"cg\\shot.bmp", "WRITTEN"}, {"CG\\NEW.BMP", "NEWER"}, {"cg/kept.bmp", "KEPT"}, {"cg\\none.bmp", "<none>"},
  };
  for (const Case& c : cases) EXPECT_EQ(Load(c.name), c.bytes) << c.name;
  // A resource name with the extension left to the project's order finds the written file too.
  char name[] = "cg/new";
  char out[MAX_PATH_BYTES + 1] = "";
  FileLocation loc{};
  EXPECT_EQ(ResolveResourceFile(&loc, out, name, RESOURCE_IMAGE), 0);
  EXPECT_STREQ(out, "cg\\new.bmp");
  // A folder that can be written reads only itself.
  g_ReadOnlyFolder = 0;
  EXPECT_EQ(Load("cg\\shot.bmp"), "SHIPPED");
  EXPECT_EQ(Load("cg\\new.bmp"), "<none>");
  if (oldHome) setenv("XDG_DATA_HOME", savedHome.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
}
