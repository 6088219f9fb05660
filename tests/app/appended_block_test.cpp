// The block appended to the program file: the offset record, the header read with every field
// checked against the file, packs read from inside the program, the screen-saver switches, and
// a bundled runtime that plays its game from its own file.
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/appended_block.h"
#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/headless/headless.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"
#include "tools/lib/binary_writer.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/program_bundle.h"

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

uint32_t RecordValue(const std::string& program) {
  int64_t at = FindBlockOffsetRecord(program);
  if (at < 0) return 0xFFFFFFFFu;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(program.data() + at);
  return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// A stand-in program file: some bytes around a record that says "nothing appended".
std::string FakeProgram() {
  std::string marker = "LJWPS/CMPDLA";
  for (char& c : marker) c = (char)(c - 1);
  return std::string("\x7f" "ELF", 4) + std::string(100, '\0') + marker + std::string("\x04\0\0\0", 4) + std::string(57, 'z');
}

std::string SmallPack() {
  std::string error;
  std::string pack = BuildPack({PackWriterFile{"inside.txt", "from the program file"}}, PackWriterOptions{}, nullptr, &error);
  EXPECT_FALSE(pack.empty()) << error;
  return pack;
}

class AppendedBlockTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    FillNameLengthTable(g_NameLengthTable);
  }
  void TearDown() override {
    FreePackIndex();
    g_PackedRelease = 0;
    g_PacksInExecutable = 0;
    g_PackBaseInExecutable = 0;
    g_PackFileInExecutable.clear();
    g_ScreenSaverMode = 0;
    g_CommandArgCount = 0;
    memset(g_CommandArgs, 0, sizeof g_CommandArgs);
    HeadlessTest::TearDown();
  }
  // Writes a bundle of the fake program and returns its path.
  std::string Bundle(const std::string& pack, const std::string& image) {
    std::string bundled, error;
    EXPECT_TRUE(BundleProgram(FakeProgram(), pack, image, &bundled, &error)) << error;
    folder_.Write("game", bundled);
    return folder_.path() + "/game";
  }
  void SetArgs(std::initializer_list<const char*> args) {
    memset(g_CommandArgs, 0, sizeof g_CommandArgs);
    int i = 0;
    for (const char* a : args) strcpy(g_CommandArgs[i++], a);
    g_CommandArgCount = i - 1;
  }
  TempFolder folder_;
};

TEST_F(AppendedBlockTest, RunningProgramHoldsOneRecordSayingNothingIsAppended) {
  std::string self = ReadWhole(PlatExecutablePath());
  EXPECT_GE(FindBlockOffsetRecord(self), 0);
  EXPECT_EQ(RecordValue(self), 4u);
  EXPECT_EQ(ReadBlockOffsetRecord(), 4u);
}

TEST_F(AppendedBlockTest, BundleRecordsTheBlockOffsetAndItsPacksAreReadFromTheProgram) {
  std::string pack = SmallPack();
  std::string path = Bundle(pack, "");
  std::string bytes = ReadWhole(path);
  uint32_t offset = RecordValue(bytes);
  EXPECT_EQ(offset, FakeProgram().size());
  EXPECT_EQ(ReadAppendedBlockAt(path, offset), 0);
  EXPECT_EQ(g_ExeFileSize, bytes.size());
  EXPECT_EQ(g_ScreenSaverMode, 0);
  EXPECT_EQ(g_PacksInExecutable, 1);
  EXPECT_EQ(g_PackedRelease, 1);
  EXPECT_EQ(g_PackBaseInExecutable, offset + 16u);
  ASSERT_EQ(BuildPackIndex(), 0);
  FileLocation location{};
  ASSERT_EQ(LocateFile(&location, "inside.txt", false), FILE_SOURCE_PACK);
  ASSERT_EQ(ReadLocatedFile(&location, "inside.txt"), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(location.mData), location.mSize), "from the program file");
  free(location.mData);
}

TEST_F(AppendedBlockTest, ProgramsWithoutAUsableBlockKeepLoosePacks) {
  std::string plain = FakeProgram();
  folder_.Write("plain", plain);
  std::string plainPath = folder_.path() + "/plain";
  std::string bundledPath = Bundle(SmallPack(), "");
  uint32_t offset = RecordValue(ReadWhole(bundledPath));
  struct Case {
    const char* what;
    std::string path;
    uint32_t offset;
  };
  const Case cases[] = {
      {"nothing appended", plainPath, 4},
      {"offset equal to the file size", plainPath, (uint32_t)plain.size()},
      {"offset past the end", bundledPath, 0x7FFFFFF0u},
      {"no magic at the offset", bundledPath, offset + 1},
      {"missing program file", folder_.path() + "/none", offset},
  };
  for (const Case& c : cases) {
    g_PackedRelease = 0;
    HeadlessClearCalls();
    EXPECT_EQ(ReadAppendedBlockAt(c.path, c.offset), 0) << c.what;
    EXPECT_EQ(g_PacksInExecutable, 0) << c.what;
    EXPECT_EQ(g_PackedRelease, 0) << c.what;
    EXPECT_EQ(g_ScreenSaverMode, 0) << c.what;
    EXPECT_TRUE(HeadlessCalls().empty()) << c.what;   // no box
  }
}

TEST_F(AppendedBlockTest, UnreadableRecordShowsTheShortNoticeAndGoesOn) {
  EXPECT_EQ(ReadAppendedBlockAt(Bundle(SmallPack(), ""), 0), 0);
  EXPECT_EQ(g_PacksInExecutable, 0);
  std::vector<std::string> calls = HeadlessCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find("|FS|"), std::string::npos);
}

TEST_F(AppendedBlockTest, HeaderFieldsPointingPastTheFileCountAsNoBlock) {
  std::string program = FakeProgram();
  uint32_t offset = (uint32_t)program.size();
  struct Case {
    const char* what;
    uint32_t packOffset, imageSize;
    size_t tail;
  };
  const Case cases[] = {
      {"pack offset beyond the end", 1000, 0, 10},
      {"image larger than the file", 0, 5000, 10},
  };
  for (const Case& c : cases) {
    BinaryWriter w;
    w.Bytes("KVER");
    w.U32(c.packOffset);
    w.U32(c.imageSize);
    w.U32(0);
    std::string bytes = program + w.Data() + std::string(c.tail, 'p');
    for (int i = 0; i < 4; i++) bytes[(size_t)FindBlockOffsetRecord(program) + i] = (char)(offset >> (8 * i));
    folder_.Write("broken", bytes);
    g_PackedRelease = 0;
    EXPECT_EQ(ReadAppendedBlockHeader(folder_.path() + "/broken") , bytes.size()) << c.what;
    EXPECT_EQ(g_AppendedPackOffset, 0u) << c.what;
    EXPECT_EQ(g_ScreenSaverMode, 0) << c.what;
  }
}

TEST_F(AppendedBlockTest, ScreenSaverSwitchesDecideWhetherTheGameStarts) {
  std::string path = Bundle(SmallPack(), std::string(60, 'i'));
  uint32_t offset = RecordValue(ReadWhole(path));
  struct Case {
    std::initializer_list<const char*> args;
    int ends;
    bool aboutBox;
  };
  const Case cases[] = {
      {{"kivor", "-P", "1234"}, 1, false},   // no preview window to draw into here
      {{"kivor", "/a", "1"}, 1, false},
      {{"kivor", "/c"}, 1, true},
      {{"kivor", "/C:4711"}, 1, true},
      {{"kivor"}, 1, true},
      {{"kivor", "/s"}, 0, false},
      {{"kivor", "-S"}, 0, false},
      {{"kivor", "x"}, 0, false},
  };
  for (const Case& c : cases) {
    SetArgs(c.args);
    HeadlessClearCalls();
    EXPECT_EQ(ReadAppendedBlockAt(path, offset), c.ends) << g_CommandArgs[1];
    EXPECT_EQ(g_ScreenSaverMode, 1);
    EXPECT_EQ(g_PacksInExecutable, 1);
    std::vector<std::string> calls = HeadlessCalls();
    EXPECT_EQ(calls.size(), c.aboutBox ? 1u : 0u) << g_CommandArgs[1];
    if (c.aboutBox && !calls.empty()) {
      EXPECT_NE(calls[0].find("情報|スクリーンセーバー\n\nVersion 1.00"), std::string::npos) << calls[0];
    }
  }
}

// The real runtime, bundled with a packed game, plays it from its own file in a folder that
// holds nothing else; bundled with a screen-saver image it starts the game only for "/s".
TEST_F(AppendedBlockTest, BundledRuntimePlaysTheGameInsideItself) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(R"(config width=320 height=240 title="Bundled"
global str report = "bundle: inside"
file main.txt
*SYSTEM_START
enginecall code=51 text=report
end
)", &set)) << set.error;
  TempFolder staging;
  ASSERT_TRUE(WritePackedSet(staging.path(), set, "data.kpk"));
  std::string pack = ReadWhole(staging.path() + "/data.kpk");
  struct Case {
    const char* what;
    std::string image;
    const char* args;
    bool plays;
  };
  const Case cases[] = {
      {"plain bundle", "", "", true},
      {"screen saver started", std::string(70, 'i'), " /s", true},
      {"screen saver settings", std::string(70, 'i'), " /c", false},
  };
  for (const Case& c : cases) {
    TempFolder place;
    std::string error;
    std::string runtime = place.path() + "/bundled";
    ASSERT_TRUE(BundleProgramFile(KIVOR_PROGRAM, runtime, pack, c.image, &error)) << error;
    std::string command = "KIVOR_PLATFORM=headless '" + runtime + "'" + c.args + " > /dev/null 2>&1";
    int status = system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.what;
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.what;
    bool played = ReadWhole(place.path() + "/debuglog.txt").find("bundle: inside") != std::string::npos;
    EXPECT_EQ(played, c.plays) << c.what;
  }
}

}  // namespace
