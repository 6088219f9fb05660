// The development link to the script compiler, against a stand-in compiler program: the
// hand-over of files and the project folder, the compiler's failures, bounded entries, and a
// whole start that boots from the handed-over files.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "files/files.h"
#include "platform/headless/headless.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"

namespace {

namespace fs = std::filesystem;

class CompilerLinkTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    setenv("KIVOR_PLATFORM", "headless", 1);
    cwd_ = PlatCurrentFolder();
    g_ExeFolderReal = game_.path();
    InitPaths();
    g_ProjectFolderReal = game_.path();
    PlatSetCurrentFolder(game_.path());
  }
  void TearDown() override {
    FreeCompilerFiles();
    PlatSetCurrentFolder(cwd_);
    g_ExeFolderReal.clear();
    g_ProjectFolderReal.clear();
    g_ProjectFolder[0] = 0;
    HeadlessTest::TearDown();
  }
  void InstallCompiler(const std::string& plan) {
    fs::create_directories(game_.path() + "/system/RUDud");
    fs::copy_file(FAKE_COMPILER, game_.path() + "/system/RUDud/RUDud", fs::copy_options::overwrite_existing);
    game_.Write("system/RUDud/plan.txt", plan);
  }
  std::string MemoryFile(const char* name) {
    FileLocation location{};
    if (FindInMemoryList(&location, name) != FILE_SOURCE_MEMORY) return "<missing>";
    if (ReadFromMemoryList(&location, name) != 0) return "<unreadable>";
    std::string bytes(reinterpret_cast<char*>(location.mData), location.mSize);
    free(location.mData);
    return bytes;
  }
  TempFolder game_;
  std::string cwd_;
};

TEST_F(CompilerLinkTest, MissingCompilerShowsTheLibraryNoticesAndEndsTheStart) {
  EXPECT_EQ(RunScriptCompiler(), 1);
  EXPECT_STREQ(g_ErrorDialogTitle, "License Information");
  EXPECT_NE(std::string(LastErrorDialogText()).find("zlib"), std::string::npos);
  EXPECT_EQ(g_QuitFlag, 1);
}

TEST_F(CompilerLinkTest, FilesAndTheProjectFolderAreHandedOver) {
  game_.Write("src/one.bin", std::string("first\0file", 10));
  game_.Write("src/two.txt", "second");
  fs::create_directories(game_.path() + "/Project");
  InstallCompiler("file kvbin\\one.kbn src/one.bin\nfile notes.txt src/two.txt\nfolder " + std::string(g_ExeFolder) +
                  "project\\\n");
  ASSERT_EQ(RunScriptCompiler(), 0);
  EXPECT_EQ(g_MemoryFileCount, 2);
  EXPECT_EQ(MemoryFile("KVBIN\\ONE.KBN"), std::string("first\0file", 10));
  EXPECT_EQ(MemoryFile("notes.txt"), "second");
  EXPECT_EQ(g_ProjectFolderReal, game_.path() + "/Project");
  EXPECT_EQ(PlatCurrentFolder(), game_.path() + "/Project");
  EXPECT_STREQ(LastErrorDialogText(), "");
}

TEST_F(CompilerLinkTest, NoFilesStillSetsTheProjectFolderOnSuccess) {
  InstallCompiler("folder " + std::string(g_ExeFolder) + "\n");
  ASSERT_EQ(RunScriptCompiler(), 0);
  EXPECT_EQ(g_MemoryFileCount, 0);
  EXPECT_STREQ(g_ProjectFolder, g_ExeFolder);
  EXPECT_EQ(g_ProjectFolderReal, game_.path());
}

TEST_F(CompilerLinkTest, DataSizeZeroIsTakenAsSixteenBytes) {
  // One entry of exactly 16 bytes: n = 2, "a\0", size 6, "sixby!".
  InstallCompiler("raw 02000000610006000000736978627921\ncount 1\nsize 0\n");
  ASSERT_EQ(RunScriptCompiler(), 0);
  ASSERT_EQ(g_MemoryFileCount, 1);
  EXPECT_EQ(MemoryFile("a"), "sixby!");
}

TEST_F(CompilerLinkTest, CompilerFailuresEndTheStartWithoutAMessage) {
  const char* const plans[] = {"end-early\n", "result 0\nfile a src/a\n", "result 2\n"};
  game_.Write("src/a", "x");
  for (const char* plan : plans) {
    ResetMessageState();
    InstallCompiler(plan);
    EXPECT_EQ(RunScriptCompiler(), 1) << plan;
    EXPECT_STREQ(LastErrorDialogText(), "") << plan;
    EXPECT_EQ(PlatCurrentFolder(), game_.path()) << plan;
  }
}

TEST_F(CompilerLinkTest, EntriesThatLeaveTheDataEndTheList) {
  struct Case {
    const char* what;
    std::string plan;
    int32_t kept;
  };
  game_.Write("src/a", "alpha");
  const Case cases[] = {
      // The second entry claims 255 bytes where 2 remain.
      {"size past the end", "file a src/a\nraw 020000006200ff0000007a7a\ncount 2\n", 1},
      // The second entry's name has no terminating zero inside its bytes.
      {"unterminated name", "file a src/a\nraw 020000006262010000007a\ncount 2\n", 1},
      // More files counted than there are.
      {"count too large", "file a src/a\ncount 40\n", 1},
      // A name length that runs past the data.
      {"name past the end", "raw ffffff7f61\ncount 1\n", 0},
  };
  for (const Case& c : cases) {
    InstallCompiler(c.plan);
    EXPECT_EQ(RunScriptCompiler(), 0) << c.what;
    EXPECT_EQ(g_MemoryFileCount, c.kept) << c.what;
    if (c.kept) {
      EXPECT_EQ(MemoryFile("a"), "alpha") << c.what;
    }
  }
}

// A whole start of a development run: no pack holds the project, so the compiled set comes
// from the compiler and the game boots from it.
TEST_F(CompilerLinkTest, DevelopmentStartBootsFromTheHandedOverSet) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(R"(config width=320 height=240 title="Linked"
global str report = "linked: booted"
file main.txt
*SYSTEM_START
enginecall code=51 text=report
end
)", &set)) << set.error;
  std::string plan;
  int i = 0;
  for (const auto& [name, bytes] : set.files) {
    std::string staged = "src/" + std::to_string(i++) + ".bin";
    game_.Write(staged, bytes);
    plan += "file " + name + " " + staged + "\n";
  }
  InstallCompiler(plan);
  std::vector<std::string> args{"kivor", "--game", game_.path()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  EXPECT_EQ(EngineMain((int)args.size(), argv.data()), 0);
  EXPECT_STREQ(LastErrorDialogText(), "");
  EXPECT_EQ(g_MemoryFileCount, (int32_t)set.files.size());
  std::ifstream log(game_.path() + "/debuglog.txt", std::ios::binary);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("linked: booted"), std::string::npos);
}

}  // namespace
