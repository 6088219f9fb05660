// Save-data files through assembled scripts: round trips of variables and layer images, the
// file layout and its compressed payloads, slot replacement, name rules, a failed write that
// keeps the old save, and hostile files that change nothing.
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/memory_budget.h"

#include "app/engine.h"
#include "app/window.h"
#include "files/savedata.h"
#include "layers/layer.h"
#include "platform/headless/headless.h"
#include "script/nametree.h"
#include "script/vars.h"
#include "tests/script/script_fixture.h"

namespace {

const char* const kSaveMessages =
    "message 101250 \"E101250 %s %s\"\n"
    "message 102100 \"E102100 %s %s %s\"\n"
    "message 102110 \"E102110 %s %s\"\n"
    "message 102120 \"E102120 %s %s\"\n"
    "message 102140 \"E102140 %s %s %d %s\"\n"
    "message 102150 \"E102150 %s %s\"\n"
    "message 102160 \"E102160 %s %s\"\n"
    "message 102170 \"E102170 %s %s %d\"\n"
    "message 108030 \"E108030\"\n"
    "message 108040 \"E108040\"\n"
    "message 108050 \"E108050\"\n"
    "message 108070 \"E108070\"\n"
    "message 108080 \"E108080\"\n"
    "message 108090 \"E108090\"\n"
    "message 108100 \"E108100\"\n"
    "message 108110 \"E108110\"\n"
    "message 900000 \"E900000\"\n";

uint32_t U32(const std::string& s, size_t at) {
  return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 | (uint8_t)s[at + 2] << 16 | (uint32_t)(uint8_t)s[at + 3] << 24;
}

void PutU32(std::string* s, size_t at, uint32_t v) {
  for (int b = 0; b < 4; b++) (*s)[at + b] = (char)(v >> (8 * b));
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  PutU32(&s, 0, v);
  return s;
}

class SaveData : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    FreeSaveStaging(-1);
    strcpy(g_SaveFolder, "save\\");
  }
  void TearDown() override {
    FreeSaveStaging(-1);
    PlatSimulateDiskFull(-1);
    ScriptTest::TearDown();
  }
  bool Run(const std::string& listing) {
    if (!Boot(std::string(kSaveMessages) + listing)) return false;
    RunPasses(1);
    return true;
  }
  std::string SaveFile(const std::string& name) {
    std::ifstream in(folder_.path() + "/save/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteSaveFile(const std::string& name, const std::string& bytes) { folder_.Write("save/" + name, bytes); }
  // Runs a script that saves the int n = `value` into slot 1 of `file`, or that loads n back.
  bool SaveN(int value, const std::string& file) {
    return Run("global int n = 0\nfile main.txt\n*SYSTEM_START\nn = " + std::to_string(value) +
               "\nsavewrite slot=1 var=n file=\"" + file + "\"\nwait frames=1\n");
  }
  bool LoadN(const std::string& file) {
    return Run("global int n = 0\nfile main.txt\n*SYSTEM_START\nsaveload file=\"" + file +
               "\" slot=1 var=n\nwait frames=1\n");
  }
  // The payload of a slot, inflated.
  std::string Payload(const std::string& file, int slot) {
    uint32_t at = U32(file, 16 + 4 * (slot - 1));
    uint32_t packed = U32(file, at + 8), raw = U32(file, at + 12);
    std::string out(raw, '\0');
    uLongf len = raw;
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &len,
                         reinterpret_cast<const Bytef*>(file.data() + at + 16), packed),
              Z_OK);
    return out;
  }
};

TEST_F(SaveData, VariablesOfEveryTypeAndShapeComeBackEqual) {
  // Listings are code page 932, like the texts they hold.
  std::string japanese;
  ASSERT_TRUE(PlatUtf8ToCp932("日本語のテキスト", strlen("日本語のテキスト"), &japanese));
  ASSERT_TRUE(Run(R"(
global int a[2,3] = 0
global real r[4] = 0
global str t[3] = ""
global int done = 0
file main.txt
*SYSTEM_START
a[0,0] = -5
a[1,2] = 0x7FFFFFFFFFFF
r[3] = 2.5
r[0] = -0.125
t[0] = "alpha"
t[2] = ")" + japanese + R"("
savewrite slot=1 var=ref(a)
savewrite slot=2 var=ref(r)
savewrite slot=3 var=ref(t)
savewrite slot=4 var=t[2]
savewrite file="Game1"
a[0,0] = 1
a[1,2] = 1
r[3] = 0
r[0] = 0
t[0] = "x"
t[2] = "y"
saveload file="game1.sd" slot=1 var=ref(a)
saveload file="GAME1" slot=2 var=ref(r)
saveload file="game1" slot=3 var=ref(t)
saveload file="game1" slot=4 var=t[1]
done = 1
wait frames=1
)"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("done"), 1);
  EXPECT_EQ(Int("a", 0), -5);
  EXPECT_EQ(Int("a", 5), 0x7FFFFFFFFFFF);
  EXPECT_DOUBLE_EQ(Real("r", 3), 2.5);
  EXPECT_DOUBLE_EQ(Real("r", 0), -0.125);
  EXPECT_EQ(Text("t", 0), "alpha");
  EXPECT_EQ(Text("t", 2), japanese);
  EXPECT_EQ(Text("t", 1), japanese);   // the element entry went into element 1 only
}

TEST_F(SaveData, FileLayoutAndPayloadsAreExactlyLevelOneZlib) {
  ASSERT_TRUE(Run(R"(
global int n = 0
file main.txt
*SYSTEM_START
n = 1234567
savewrite slot=5 var=n
savewrite slot=3 var=n
savewrite file="layout"
wait frames=1
)"));
  std::string f = SaveFile("layout.sd");
  ASSERT_GE(f.size(), 4112u);
  EXPECT_EQ(f.substr(0, 4), "KVSD");
  EXPECT_EQ(U32(f, 4), 480u);
  EXPECT_EQ(U32(f, 8), 2u);
  EXPECT_EQ(U32(f, 12), 1024u);
  // Slots in slot order, each right behind the previous one.
  uint32_t at3 = U32(f, 16 + 4 * 2), at5 = U32(f, 16 + 4 * 4);
  EXPECT_EQ(at3, 4112u);
  EXPECT_EQ(U32(f, at3), 3u);
  EXPECT_EQ(at5, at3 + 16 + U32(f, at3 + 8));
  EXPECT_EQ(f.size(), at5 + 16 + U32(f, at5 + 8));
  EXPECT_EQ(f[at3 + 4], 0);   // a variable
  EXPECT_EQ(f[at3 + 5], 1);
  // The element payload: type 1, no dimensions, size 8, the value; compressed at level 1.
  std::string payload = Le32(1) + Le32(0) + Le32(8) + Le32(1234567) + Le32(0);
  std::vector<Bytef> expected(compressBound(payload.size()));
  uLongf len = expected.size();
  ASSERT_EQ(compress2(expected.data(), &len, reinterpret_cast<const Bytef*>(payload.data()), payload.size(), 1), Z_OK);
  EXPECT_EQ(U32(f, at3 + 8), len);
  EXPECT_EQ(U32(f, at3 + 12), payload.size());
  EXPECT_EQ(f.substr(at3 + 16, len), std::string(expected.begin(), expected.begin() + len));
}

TEST_F(SaveData, ReplacingASlotKeepsItsPlaceAndTheOtherEntries) {
  ASSERT_TRUE(Run(R"(
global int n = 0
global int m = 0
file main.txt
*SYSTEM_START
n = 1
m = 2
savewrite slot=3 var=n
savewrite slot=5 var=m
savewrite file="r"
n = 777
savewrite slot=3 var=n file="r"
m = 0
n = 0
saveload file="r" slot=3 var=n
saveload file="r" slot=5 var=m
wait frames=1
)"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("n"), 777);
  EXPECT_EQ(Int("m"), 2);
  std::string f = SaveFile("r.sd");
  EXPECT_EQ(U32(f, 8), 2u);                 // no new entry
  EXPECT_EQ(U32(f, 16 + 4 * 2), 4112u);     // slot 3 stands where it stood
}

TEST_F(SaveData, AppendingANewSlotGrowsTheCount) {
  ASSERT_TRUE(Run(R"(
global int n = 5
file main.txt
*SYSTEM_START
savewrite slot=1 var=n file="g"
savewrite slot=2 var=n file="g"
wait frames=1
)"));
  std::string f = SaveFile("g.sd");
  EXPECT_EQ(U32(f, 8), 2u);
  EXPECT_GT(U32(f, 16 + 4), U32(f, 16));
}

TEST_F(SaveData, FileNameRules) {
  struct Case {
    const char* name;
    int message;
    const char* file;
  } cases[] = {
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", 0, "abcdefghijklmnopqrstuvwxyz012345.sd"},   // 32 bytes
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456", 102160, nullptr},
      {"a/b", 102150, nullptr},
      {"a\\\\b", 102150, nullptr},
      {"Data.SD", 0, "data.sd"},
  };
  for (const Case& c : cases) {
    ClearMessage();
    g_QuitFlag = 0;
    ASSERT_TRUE(Run(std::string("global int n = 1\nfile main.txt\n*SYSTEM_START\nsavewrite slot=1 var=n file=\"") +
                    c.name + "\"\nwait frames=1\n"));
    EXPECT_EQ(ShownMessage(), c.message) << c.name;
    if (c.file) EXPECT_FALSE(SaveFile(c.file).empty()) << c.name;
    FreeSaveStaging(-1);
  }
}

TEST_F(SaveData, StagingASlotTwiceIsRefused) {
  ASSERT_TRUE(Run(R"(
global int n = 1
file main.txt
*SYSTEM_START
savewrite slot=9 var=n
savewrite slot=9 var=n
wait frames=1
)"));
  EXPECT_EQ(ShownMessage(), 102170);
}

TEST_F(SaveData, DropForgetsStagedSlots) {
  ASSERT_TRUE(Run(R"(
global int n = 1
file main.txt
*SYSTEM_START
savewrite slot=9 var=n
savedrop
savewrite slot=9 var=n
wait frames=1
)"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_GT(g_SaveStagedSize[8], 0);
}

// Staged entries wait with what scripts hold: each counts what it packed, and the write and the
// drop give it back.
TEST_F(SaveData, StagedEntriesCountAgainstTheScriptMemoryBudgetUntilWrittenOrDropped) {
  ASSERT_TRUE(Run(R"(
global int n[100000] = 5
file main.txt
*SYSTEM_START
wait frames=1
savewrite slot=1 var=ref(n)
savewrite slot=2 var=ref(n)
wait frames=1
savedrop
wait frames=1
savewrite slot=3 var=ref(n)
savewrite file="budget.sd" slot=4 var=ref(n)
wait frames=1
)"));
  uint64_t declared = ScriptMemoryInUse();
  RunPasses(1);
  EXPECT_EQ(ScriptMemoryInUse(), declared + 2 * (uint64_t)g_SaveStagedSize[0]);
  EXPECT_EQ(g_SaveStagedSize[0], g_SaveStagedSize[1]);
  RunPasses(1);
  EXPECT_EQ(ScriptMemoryInUse(), declared);
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(ScriptMemoryInUse(), declared) << "the write takes the staged entries with it";
}

TEST_F(SaveData, EmptySlotIsReportedAndTheScriptGoesOn) {
  ASSERT_TRUE(Run(R"(
global int n = 1
global int after = 0
file main.txt
*SYSTEM_START
savewrite slot=1 var=n file="e"
saveload file="e" slot=2 var=n
after = 1
wait frames=1
)"));
  EXPECT_EQ(ShownMessage(), 102110);
}

TEST_F(SaveData, ShapeAndTypeMismatchesAreRefused) {
  struct Case {
    const char* target;
    int message;
  } cases[] = {
      {"same[0,0]", 108080},   // an array entry into one element
      {"ref(other)", 108090},   // same dimension count, another size
      {"ref(flat)", 108080},    // another dimension count
      {"ref(words)", 102120},   // another type
  };
  for (const Case& c : cases) {
    ClearMessage();
    g_QuitFlag = 0;
    ASSERT_TRUE(Run(std::string(R"(
global int same[2,3] = 4
global int other[2,4] = 9
global int flat[6] = 9
global str words[6] = ""
file main.txt
*SYSTEM_START
savewrite slot=1 var=ref(same) file="m"
saveload file="m" slot=1 var=)") + c.target + "\nwait frames=1\n"));
    EXPECT_EQ(ShownMessage(), c.message) << c.target;
  }
  EXPECT_EQ(Int("other", 0), 9);
}

TEST_F(SaveData, FailedWriteKeepsTheOldSaveReadable) {
  ASSERT_TRUE(SaveN(41, "keep"));
  std::string before = SaveFile("keep.sd");
  ASSERT_FALSE(before.empty());
  ClearMessage();
  PlatSimulateDiskFull(4120);   // the disk fills up half way through the new file
  ASSERT_TRUE(SaveN(99, "keep"));
  PlatSimulateDiskFull(-1);
  EXPECT_EQ(ShownMessage(), 102140);
  // The error number's text comes from the compiled set, in the C runtime's wording.
  EXPECT_NE(std::string(LastErrorDialogText()).find(" 28 No space left on device"), std::string::npos)
      << LastErrorDialogText();
  EXPECT_EQ(SaveFile("keep.sd"), before);
  ClearMessage();
  g_QuitFlag = 0;
  ASSERT_TRUE(LoadN("keep"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("n"), 41);
}

// Another writer of the same save (a second start, say) is half way through its own temporary
// file: this save neither writes into it nor takes it over, and leaves no file of its own.
TEST_F(SaveData, AnotherWritersTemporaryFileIsLeftAlone) {
  WriteSaveFile("both.sd.tmp", "the other writer's half");
  ASSERT_TRUE(SaveN(7, "both"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(SaveFile("both.sd.tmp"), "the other writer's half");
  std::vector<std::string> names;
  ASSERT_TRUE(PlatListFolder(folder_.path() + "/save", &names));
  EXPECT_EQ(names, (std::vector<std::string>{"both.sd", "both.sd.tmp"}));
  ClearMessage();
  ASSERT_TRUE(LoadN("both"));
  EXPECT_EQ(Int("n"), 7);
}

// A valid save of one whole int[2] variable, for the hostile cases to damage.
std::string ValidSave(const std::string& payload, uint8_t kind = 0) {
  std::string f(4112, '\0');
  memcpy(f.data(), "KVSD", 4);
  PutU32(&f, 4, 480);
  PutU32(&f, 8, 1);
  PutU32(&f, 12, 1024);
  PutU32(&f, 16, 4112);
  std::vector<Bytef> packed(compressBound(payload.size()));
  uLongf len = packed.size();
  compress2(packed.data(), &len, reinterpret_cast<const Bytef*>(payload.data()), payload.size(), 1);
  f += Le32(1) + std::string(1, (char)kind) + std::string(1, 1) + std::string(2, '\0') + Le32(len) +
       Le32(payload.size()) + std::string(packed.begin(), packed.begin() + len);
  return f;
}

TEST_F(SaveData, HostileFilesChangeNothing) {
  std::string good = Le32(1) + Le32(1) + Le32(2) + Le32(16) + std::string(16, '\x01');
  std::string texts = Le32(3) + Le32(0) + Le32(4 + 5000) + Le32(5000) + std::string(5000, 'x');
  struct Case {
    const char* what;
    std::string file;
    int message;
  } cases[] = {
      {"magic", "KVSX" + ValidSave(good).substr(4), 108030},
      {"version", ValidSave(good).substr(0, 4) + Le32(479) + ValidSave(good).substr(8), 108040},
      {"truncated head", ValidSave(good).substr(0, 100), 0},
      {"offset past the end", [&] { std::string f = ValidSave(good); PutU32(&f, 16, 900000); return f; }(), 0},
      {"packed size past the end", [&] { std::string f = ValidSave(good); PutU32(&f, 4112 + 8, 0x7FFFFFFF); return f; }(), 0},
      {"raw size lies", [&] { std::string f = ValidSave(good); PutU32(&f, 4112 + 12, 64); return f; }(), 0},
      // A few packed bytes cannot inflate to a quarter of a gigabyte: refused before any memory.
      {"raw size beyond the packed bytes", [&] { std::string f = ValidSave(good); PutU32(&f, 4112 + 12, 268000000); return f; }(), 0},
      {"corrupt stream", [&] { std::string f = ValidSave(good); f[4112 + 18] ^= 0x55; return f; }(), 0},
      {"nine dimensions", ValidSave(Le32(1) + Le32(9) + std::string(40, '\0')), 900000},
      {"huge size word", ValidSave(Le32(1) + Le32(1) + Le32(2) + Le32(40000001)), 108070},
      {"size word past payload", ValidSave(Le32(1) + Le32(1) + Le32(2) + Le32(4000)), 0},
      {"layer entry", ValidSave(good, 1), 108050},
      {"unknown type", ValidSave(Le32(7) + Le32(0) + Le32(0)), 900000},
  };
  for (const Case& c : cases) {
    ClearMessage();
    g_QuitFlag = 0;
    WriteSaveFile("h.sd", c.file);
    ASSERT_TRUE(Run(R"(
global int v[2] = 5
file main.txt
*SYSTEM_START
saveload file="h" slot=1 var=ref(v)
wait frames=1
)"));
    EXPECT_EQ(ShownMessage(), c.message) << c.what;
    EXPECT_EQ(Int("v", 0), 5) << c.what;
    EXPECT_EQ(Int("v", 1), 5) << c.what;
  }
  // An oversized text stops the load with the warning box.
  ClearMessage();
  WriteSaveFile("h.sd", ValidSave(texts));
  HeadlessClearCalls();
  ASSERT_TRUE(Run("global str s = \"keep\"\nfile main.txt\n*SYSTEM_START\nsaveload file=\"h\" slot=1 var=ref(s)\nwait frames=1\n"));
  EXPECT_EQ(Text("s"), "keep");
  bool warned = false;
  for (const std::string& call : HeadlessCalls()) warned |= call.find("不正セーブファイル") != std::string::npos;
  EXPECT_TRUE(warned);
}

class LayerSave : public SaveData {
 protected:
  void SetUp() override {
    SaveData::SetUp();
    ASSERT_EQ(CreateWindowRecords(), 0);
    g_WindowRecords[0]->mWidth = 32;
    g_WindowRecords[0]->mHeight = 16;
    ASSERT_EQ(CreateLayerTreeRoot(), 0);
  }
  void TearDown() override {
    FreeLayerSubtree(g_LayerRoot);
    g_LayerRoot = nullptr;
    SaveData::TearDown();
  }
  NameNode* MakeLayer(const char* path, int w, int h, uint8_t seed, int64_t key) {
    NameNode* node = CreateTreeNode(g_LayerRoot, path, false, key);
    LayerRecord* r = AttachNewLayerRecord(node);
    r->mPixels = AllocImageBuffer(nullptr, w, h, nullptr);
    r->mWidth = w;
    r->mHeight = h;
    for (int i = 0; i < w * h * 4; i++) r->mPixels[i] = (uint8_t)(seed + i * 7);
    return node;
  }
};

TEST_F(LayerSave, LayerImageComesBackAsANewLayerWithTheSavedPixels) {
  MakeLayer("W0/pic", 5, 3, 11, 40);
  MakeLayer("W0/other", 2, 2, 99, 50);
  ASSERT_TRUE(Run(R"(
file main.txt
*SYSTEM_START
savewrite slot=7 layer="pic" file="l"
wait frames=1
)"));
  ASSERT_EQ(ShownMessage(), 0);
  std::string payload = Payload(SaveFile("l.sd"), 7);
  ASSERT_EQ(payload.size(), 5u * 4 * 3 + 1608);
  EXPECT_EQ(U32(payload, 0), 1600u);
  EXPECT_EQ(U32(payload, 8 + 120), 5u);
  EXPECT_EQ(U32(payload, 8 + 124), 3u);
  ASSERT_TRUE(Run(R"(
file main.txt
*SYSTEM_START
saveload file="l" slot=7 layer="other"
wait frames=1
)"));
  EXPECT_EQ(ShownMessage(), 0);
  NameNode* node = FindNodeByPath(g_LayerRoot, "W0/other", NAME_LOOKUP_LEAF);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->mOrderKey, 1);
  LayerRecord* r = GetLayerRecord(node);
  ASSERT_EQ(r->mWidth, 5);
  ASSERT_EQ(r->mHeight, 3);
  for (int i = 0; i < 5 * 3 * 4; i++) ASSERT_EQ(r->mPixels[i], (uint8_t)(11 + i * 7)) << i;
}

TEST_F(LayerSave, BadLayerEntryLeavesTheOldLayerIntact) {
  NameNode* node = MakeLayer("W0/pic", 4, 4, 3, 40);
  std::string payload = Le32(1600) + Le32(64) + std::string(1600, '\0') + std::string(64, 'p');
  PutU32(&payload, 8 + 120, 9000);   // wider than any image
  PutU32(&payload, 8 + 124, 4);
  WriteSaveFile("b.sd", ValidSave(payload, 1));
  ASSERT_TRUE(Run("file main.txt\n*SYSTEM_START\nsaveload file=\"b\" slot=1 layer=\"pic\"\nwait frames=1\n"));
  EXPECT_EQ(FindNodeByPath(g_LayerRoot, "W0/pic", NAME_LOOKUP_LEAF), node);
  EXPECT_EQ(GetLayerRecord(node)->mWidth, 4);
  ClearMessage();
  g_QuitFlag = 0;
  ASSERT_TRUE(Run("file main.txt\n*SYSTEM_START\nsaveload file=\"b\" slot=1 layer=\"nothere\"\nwait frames=1\n"));
  EXPECT_EQ(ShownMessage(), 101250);
}

}  // namespace
