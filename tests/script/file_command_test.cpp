// The preload cache and the file commands run from scripts: reading ahead, folders, copies,
// deletion, starting programs and the file queries.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "files/file_commands.h"
#include "files/files.h"
#include "script/vars.h"
#include "tests/script/script_fixture.h"

namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class FileCommandTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    FreePreloadCache();
  }
  void TearDown() override {
    FreePreloadCache();
    g_DocumentOpener = "xdg-open";
    ScriptTest::TearDown();
  }
  // Runs `body` once as the main script's start.
  bool RunScript(const std::string& declarations, const std::string& body) {
    if (!Boot(declarations + "file main.txt\n*SYSTEM_START\n" + body + "\nwait frames=1\n")) return false;
    RunPasses(1);
    return true;
  }
  std::string Path(const std::string& name) const { return folder_.path() + "/" + name; }
  std::string CachedName(int group, int slot) const {
    const PreloadSlot& s = g_PreloadCache[group].mSlots[slot];
    return s.mName ? s.mName : "<none>";
  }
  std::string CachedData(int group, int slot) const {
    const PreloadSlot& s = g_PreloadCache[group].mSlots[slot];
    return std::string(reinterpret_cast<const char*>(s.mData), (size_t)s.mSize);
  }
  int Preload(int group, const char* name, int kind) {
    char buffer[300];
    snprintf(buffer, sizeof buffer, "%s", name);
    int32_t count = g_PreloadCache[group].mCount;
    return AddToPreloadCache(group, count, buffer, kind, count >= PRELOAD_SLOTS);
  }
  // A program in the game folder that writes its arguments, one a line, to `marker`.
  void WriteRecorder(const std::string& name, const std::string& marker) {
    folder_.Write(name, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" + Path(marker) + "\"\n");
    fs::permissions(Path(name), fs::perms::owner_all, fs::perm_options::add);
  }
};

TEST_F(FileCommandTest, FullGroupDropsItsOldestAndTakesTheNewestLast) {
  char name[32];
  for (int i = 0; i <= PRELOAD_SLOTS; i++) {
    snprintf(name, sizeof name, "f%03d.png", i);
    folder_.Write(name, std::string("pixels ") + name);
  }
  for (int i = 0; i <= PRELOAD_SLOTS; i++) {
    snprintf(name, sizeof name, "f%03d.png", i);
    ASSERT_EQ(Preload(0, name, RESOURCE_IMAGE), 0) << i;
  }
  EXPECT_EQ(g_PreloadCache[0].mCount, PRELOAD_SLOTS);
  EXPECT_EQ(CachedName(0, 0), "f001.png");
  EXPECT_EQ(CachedName(0, PRELOAD_SLOTS - 1), "f512.png");
  EXPECT_EQ(CachedData(0, PRELOAD_SLOTS - 1), "pixels f512.png");
  EXPECT_EQ(CachedName(0, PRELOAD_SLOTS), "<none>");
  FileLocation location{};
  EXPECT_EQ(FindInPreloadCache(&location, "f000.png"), 0);
  EXPECT_EQ(FindInPreloadCache(&location, "f001.png"), FILE_SOURCE_CACHE);
}

TEST_F(FileCommandTest, PreloadingAgainMovesTheEntryWithoutReadingAndOtherGroupsCopy) {
  for (const char* n : {"a.png", "b.png", "c.png"}) folder_.Write(n, std::string("data of ") + n);
  for (const char* n : {"a", "b", "c"}) ASSERT_EQ(Preload(1, n, RESOURCE_IMAGE), 0);
  // With the file gone from disk, only the cache can answer.
  fs::remove(Path("a.png"));
  ASSERT_EQ(Preload(1, "A.PNG", RESOURCE_IMAGE), 0);
  EXPECT_EQ(g_PreloadCache[1].mCount, 3);
  EXPECT_EQ(CachedName(1, 0), "b.png");
  EXPECT_EQ(CachedName(1, 1), "c.png");
  EXPECT_EQ(CachedName(1, 2), "a.png");
  EXPECT_EQ(CachedData(1, 2), "data of a.png");
  EXPECT_EQ(g_PreloadCache[1].mSlots[2].mType, FILE_TYPE_PNG);

  ASSERT_EQ(Preload(2, "a", RESOURCE_IMAGE), 0);
  ASSERT_EQ(g_PreloadCache[2].mCount, 1);
  EXPECT_EQ(CachedData(2, 0), "data of a.png");
  EXPECT_NE(g_PreloadCache[2].mSlots[0].mData, g_PreloadCache[1].mSlots[2].mData);
}

TEST_F(FileCommandTest, CachedFilesComeFirstAndEveryReadIsAPrivateCopy) {
  folder_.Write("se.ogg", "first");
  ASSERT_EQ(Preload(3, "se", RESOURCE_SOUND), 0);
  folder_.Write("se.ogg", "changed on disk");
  for (int read = 0; read < 2; read++) {
    FileLocation location{};
    ASSERT_EQ(LoadDataFile("se.ogg", &location), 0);
    EXPECT_EQ(location.mSource, FILE_SOURCE_CACHE);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(location.mData), location.mSize), "first") << read;
    memset(location.mData, 'x', location.mSize);
    free(location.mData);
  }
}

TEST_F(FileCommandTest, MissingFilesAndRefusedArgumentsCacheNothing) {
  char missing[] = "nothing_here";
  EXPECT_EQ(AddToPreloadCache(0, 0, missing, RESOURCE_IMAGE, false), 0);
  EXPECT_EQ(g_PreloadCache[0].mCount, 0);
  EXPECT_EQ(ShownMessage(), 0);
  folder_.Write("x.png", "x");
  char name[] = "x";
  EXPECT_EQ(AddToPreloadCache(4, 0, name, RESOURCE_IMAGE, false), -1);
  EXPECT_EQ(AddToPreloadCache(-1, 0, name, RESOURCE_IMAGE, false), -1);
  EXPECT_EQ(AddToPreloadCache(0, 7, name, RESOURCE_IMAGE, false), -1);
  EXPECT_EQ(g_PreloadCache[0].mCount, 0);
}

TEST_F(FileCommandTest, PreloadArgumentsPickTheScriptsGroupsOneToFour) {
  folder_.Write("sub/pic.png", "p");
  folder_.Write("voice.wav", "v");
  struct Case {
    const char* line;
    int group;   // 0-based group that gets the file, -1 none
  } cases[] = {
      {"file file=\"Sub/PIC\" preloadimage=0", -1},
      {"file file=\"Sub/PIC\" preloadimage=1", 0},
      {"file file=\"SUB/Pic.PNG\" preloadimage=4", 3},
      {"file file=\"voice\" preloadsound=1", 0},
      {"file file=\"voice\" preloadsound=0", -1},
      {"file file=\"Sub/PIC\" preloadimage=5", -1},
      {"file file=\"Sub/PIC\" preloadimage=-1", -1},
      {"file file=\"Sub/PIC\" preloadimage=4294967297", -1},
      {"file file=\"missing\" preloadimage=2", -1},
  };
  for (const Case& c : cases) {
    FreePreloadCache();
    ResetScriptSet();
    ASSERT_TRUE(RunScript("", c.line)) << c.line;
    EXPECT_EQ(ShownMessage(), 0) << c.line;
    for (int g = 0; g < PRELOAD_GROUPS; g++) EXPECT_EQ(g_PreloadCache[g].mCount, g == c.group ? 1 : 0) << c.line << " group " << g;
  }
  FreePreloadCache();
  ResetScriptSet();
  ASSERT_TRUE(RunScript("", "file file=\"Sub/PIC\" preloadimage=3"));
  EXPECT_EQ(CachedName(2, 0), "sub\\pic.png");
}

TEST_F(FileCommandTest, FoldersAreMadeCopiesReplaceAndDeletionRemovesFileAndEmptyFolder) {
  folder_.Write("src.txt", "new contents");
  folder_.Write("out/copy.txt", "old contents that are longer");
  ASSERT_TRUE(RunScript("", R"(file folder="Out/One/Two" mkdir=1
file file="SRC.txt" dest="out/copy.txt" copy=1
file file="src.txt" dest="out/one/two/second.txt" copy=1)"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_TRUE(fs::is_directory(Path("out/One/Two")) || fs::is_directory(Path("out/one/two")));
  EXPECT_EQ(ReadWhole(Path("out/copy.txt")), "new contents");
  std::string two = fs::is_directory(Path("out/one/two")) ? "out/one/two" : "out/One/Two";
  EXPECT_EQ(ReadWhole(Path(two + "/second.txt")), "new contents");
  for (const auto& entry : fs::recursive_directory_iterator(folder_.path()))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();   // no temporary file is left

  ResetScriptSet();
  ASSERT_TRUE(RunScript("", R"(file file="out/copy.txt" folder="out/one/two/" delete=1
file folder="out/one" delete=1)"));
  EXPECT_FALSE(fs::exists(Path("out/copy.txt")));
  // The second folder is not empty, so only its file went.
  EXPECT_TRUE(fs::exists(Path(two + "/second.txt")));
  fs::remove(Path(two + "/second.txt"));
  ResetScriptSet();
  ASSERT_TRUE(RunScript("", "file folder=\"out/one/two\" delete=1\nfile folder=\"out/one\" delete=1"));
  EXPECT_FALSE(fs::exists(Path(two)));
  EXPECT_FALSE(fs::exists(Path("out/one")));
  EXPECT_TRUE(fs::is_directory(Path("out")));
}

TEST_F(FileCommandTest, QueriesAnswerByTheSubjectsKind) {
  folder_.Write("data/table.csv", "12345");
  folder_.Write("pic.png", "p");
  folder_.Write("only.psb", "p");
  folder_.Write("bgm.ogg", "s");
  fs::create_directories(Path("saves/slot"));
  static char memoryName[] = "inmemory.txt";
  static uint8_t memoryData[] = {1, 2, 3};
  static MemoryFile memoryFile = {memoryName, 3, memoryData};
  static MemoryFile* memoryList[] = {&memoryFile};
  g_MemoryFiles = memoryList;
  g_MemoryFileCount = 1;
  struct Case {
    const char* query;
    int64_t expected;
  } cases[] = {
      {"path=\"saves/slot\" exists=1", 1},
      {"path=\"Saves/Slot/\" exists=1", 1},
      {"path=\"pic.png\" exists=1", 0},
      {"path=\"nowhere\" exists=1", 0},
      {"data=\"DATA/table.csv\" exists=1", 1},
      {"data=\"inmemory.txt\" exists=1", 1},
      {"data=\"data/none.csv\" exists=1", 0},
      {"image=\"pic\" exists=1", 1},
      {"image=\"pic.png\" exists=1", 1},
      {"image=\"only\" exists=1", 0},
      {"sound=\"bgm\" exists=1", 1},
      {"sound=\"pic\" exists=1", 0},
      {"path=\"saves\" image=\"pic\" exists=1", 1},
      {"data=\"data/table.csv\" size=1", 5},
      {"data=\"inmemory.txt\" size=1", 0},
      {"data=\"data\" size=1", 0},
      {"image=\"pic.png\" size=1", 0},
      {"data=\"data/table.csv\" program=1 exists=1 size=1", 1},
      {"data=\"data/table.csv\" size=1 program=1", 5},
      {"data=\"data/table.csv\" program=1", 0},
  };
  for (const Case& c : cases) {
    ResetScriptSet();
    ASSERT_TRUE(RunScript("global int n[2] = -7\nglobal real r = -7.0\n",
                          std::string("filequery ") + c.query + " out=n[1]\nfilequery " + c.query + " out=r"))
        << c.query;
    EXPECT_EQ(ShownMessage(), 0) << c.query;
    EXPECT_EQ(Int("n", 1), c.expected) << c.query;
    EXPECT_EQ(Int("n", 0), -7) << c.query;
    EXPECT_DOUBLE_EQ(Real("r"), (double)c.expected) << c.query;
  }
  g_MemoryFiles = nullptr;
  g_MemoryFileCount = 0;
}

TEST_F(FileCommandTest, ProgramQueryFillsTextsAndIntegersIntoTextsAreRefused) {
  folder_.Write("readme.txt", "hello");
  g_DocumentOpener = "opener-for-tests";
  ASSERT_TRUE(RunScript("global str s[3] = \"x\"\n", R"(filequery data="readme.txt" program=1 out=s[0]
filequery path="readme.txt" program=1 out=s[1]
filequery data="missing.txt" program=1 out=s[2])"));
  EXPECT_EQ(Text("s", 0), "opener-for-tests");
  EXPECT_EQ(Text("s", 1), "");
  EXPECT_EQ(Text("s", 2), "");
  EXPECT_EQ(ShownMessage(), 0);
  ResetScriptSet();
  ASSERT_TRUE(RunScript("global str s = \"x\"\n", "filequery data=\"readme.txt\" exists=1 out=s"));
  EXPECT_EQ(ShownMessage(), 101140);
  EXPECT_EQ(Text("s"), "x");
}

TEST_F(FileCommandTest, ProgramsGetTheirParametersAndDocumentsGoToTheOpener) {
  WriteRecorder("tool.sh", "tool.out");
  WriteRecorder("opener.sh", "opener.out");
  folder_.Write("manual.txt", "read me");
  g_DocumentOpener = Path("opener.sh");
  ASSERT_TRUE(Boot(R"(global str p = ""
file main.txt
*SYSTEM_START
file file="Tool.sh" params=p runwait=1
file file="manual.txt" params="ignored" runwait=1
wait frames=1
)"));
  ASSERT_EQ(StoreStringElement(Var("p"), 0, "one \"two words\"  three"), 0);
  RunPasses(1);
  EXPECT_EQ(ReadWhole(Path("tool.out")), "one\ntwo words\nthree\n");
  EXPECT_EQ(ReadWhole(Path("opener.out")), Path("manual.txt") + "\n");
}

TEST_F(FileCommandTest, OverlongNamesAreNotActedOn) {
  std::string longName(300, 'a');
  folder_.Write("keep.txt", "k");
  ASSERT_TRUE(RunScript("", "file file=\"" + longName + "\" dest=\"keep.txt\" copy=1\nfile folder=\"" +
                                std::string(270, 'b') + "\" mkdir=1"));
  EXPECT_EQ(ReadWhole(Path("keep.txt")), "k");
  for (const auto& entry : fs::directory_iterator(folder_.path()))
    EXPECT_NE(entry.path().filename().string().substr(0, 3), "bbb");
}

}  // namespace
