// What kvasm puts into every game without being asked: the text of every numbered message the
// runtime raises, and the system variables, so a listing reads $136 without declaring it.
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"
#include "script/script_set.h"
#include "script/vars.h"
#include "tests/support/script_fixture.h"
#include "tools/lib/assembler.h"

namespace {

namespace fs = std::filesystem;

std::string Cp932(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8.data(), utf8.size(), &out));
  return out;
}

// Every six-digit number of the message ranges (1xxxxx, 9xxxxx) that the runtime's sources
// name: the ids it raises. Numbers of those ranges that are no message ids are left out here,
// and so is the file of message texts itself.
std::set<int32_t> IdsTheRuntimeNames() {
  const std::set<int32_t> notMessages = {192000};   // the highest audio sample rate
  std::set<int32_t> ids;
  const std::regex id("\\b[19][0-9]{5}\\b");
  for (const char* dir : {"app", "script", "files", "layers", "render", "text", "sound", "media", "platform"}) {
    for (const auto& entry : fs::recursive_directory_iterator(std::string(KIVOR_SOURCE_DIR) + "/" + dir)) {
      std::string ext = entry.path().extension().string();
      if ((ext != ".cpp" && ext != ".h") || entry.path().filename() == "message_texts.h") continue;
      std::ifstream in(entry.path());
      std::stringstream text;
      text << in.rdbuf();
      std::string s = text.str();
      for (auto it = std::sregex_iterator(s.begin(), s.end(), id); it != std::sregex_iterator(); ++it) {
        int32_t n = std::stoi(it->str());
        if (!notMessages.count(n)) ids.insert(n);
      }
    }
  }
  return ids;
}

// Loads the message table of a compiled set as the start-up does; the set keeps the bytes.
bool LoadMessages(AssembledSet* set) {
  std::string& bytes = set->files["kvbin\\kve.kbn"];
  return ParseMessageTable(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) == 0;
}

class CompiledMessages : public ::testing::Test {
 protected:
  void TearDown() override { g_MessageTable.count = 0; }
};

TEST_F(CompiledMessages, EveryIdTheRuntimeRaisesHasItsText) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing("file main.txt\n*SYSTEM_START\nend\n", &set)) << set.error;
  ASSERT_TRUE(LoadMessages(&set));
  std::set<int32_t> ids = IdsTheRuntimeNames();
  ASSERT_GT(ids.size(), 90u);
  const std::string unknown =
      Cp932("[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。");
  std::set<int32_t> inTable;
  for (int k = 0; k < g_MessageTable.count; k++) {
    EXPECT_TRUE(inTable.insert(g_MessageTable.ids[k]).second) << "twice: " << g_MessageTable.ids[k];
    EXPECT_STRNE(g_MessageTable.texts[k], "") << g_MessageTable.ids[k];
  }
  for (int32_t id : ids) {
    EXPECT_TRUE(inTable.count(id)) << id;
    EXPECT_NE(LookupMessageText(id), unknown) << id;
  }
  // The table names no id the runtime does not raise.
  for (int32_t id : inTable) EXPECT_TRUE(ids.count(id)) << id;
}

// The texts built into the runtime stand in the table word for word.
TEST_F(CompiledMessages, TheBuiltInTextsStandWordForWord) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing("file main.txt\n*SYSTEM_START\nend\n", &set)) << set.error;
  ASSERT_TRUE(LoadMessages(&set));
  const std::pair<int32_t, const char*> given[] = {
      {100010, "メモリ不足です。"},
      {104060, "[%s]ファイルが\n存在しません。"},
      {104150, "パックファイル内のファイル\n[%s]が\n重複しています。"},
      {901040, "[内部エラー]\n\nパックファイル[%s]が\nオープンできませんでした。"},
  };
  for (const auto& [id, text] : given) {
    bool found = false;
    for (int k = 0; k < g_MessageTable.count; k++)
      if (g_MessageTable.ids[k] == id) found = g_MessageTable.texts[k] == Cp932(text);
    EXPECT_TRUE(found) << id;
  }
}

TEST_F(CompiledMessages, TheListingsOwnTextReplacesTheStandardOne) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing("message 100200 \"mine: %s\"\nmessage 777777 \"extra\"\nfile main.txt\n*SYSTEM_START\nend\n",
                              &set))
      << set.error;
  ASSERT_TRUE(LoadMessages(&set));
  int entries = 0;
  for (int k = 0; k < g_MessageTable.count; k++) entries += g_MessageTable.ids[k] == 100200;
  EXPECT_EQ(entries, 1);
  EXPECT_STREQ(LookupMessageText(100200), "mine: %s");
  EXPECT_STREQ(LookupMessageText(777777), "extra");
  // A built-in text still wins over the listing's, as the runtime has it.
  ASSERT_TRUE(AssembleListing("message 104060 \"mine\"\nfile main.txt\n*SYSTEM_START\nend\n", &set)) << set.error;
  ASSERT_TRUE(LoadMessages(&set));
  EXPECT_EQ(LookupMessageText(104060), Cp932("[%s]ファイルが\n存在しません。"));
}

class CompiledSystemVariables : public ScriptTest {};

TEST_F(CompiledSystemVariables, AListingReadsThemWithoutDeclaringThem) {
  ASSERT_TRUE(Boot(R"(
global real pi = 0
global int day = -1
global int loops = 0
global int outside = -1
global int args = -1
global str letter = ""
file main.txt
*SYSTEM_START
pi = $10
day = $0[3]
loop 3
  loops += $48
endloop
outside = $48
args = $53[0]
letter = $117[65]
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_DOUBLE_EQ(Real("pi"), 3.141592653589793);
  EXPECT_GE(Int("day"), 0);
  EXPECT_LE(Int("day"), 6);
  EXPECT_EQ(Int("loops"), 1 + 2 + 3);   // the counter starts at 1
  EXPECT_EQ(Int("outside"), 0);
  EXPECT_EQ(Int("args"), 0);
  EXPECT_EQ(Text("letter"), "A");
}

TEST_F(CompiledSystemVariables, TheirShapesComeFromWhatTheReadersServe) {
  ASSERT_TRUE(Boot("file main.txt\n*SYSTEM_START\nwait frames=1\n"));
  struct Case {
    int32_t number;
    uint8_t type;
    int32_t elements;   // 0: a plain variable
  };
  const Case cases[] = {
      {0, VAR_INT, 16},  {1, VAR_INT, 5},     {10, VAR_REAL, 0},   {12, VAR_STRING, 9}, {48, VAR_INT, 0},
      {52, VAR_STRING, 17}, {59, VAR_REAL, 17}, {117, VAR_STRING, 256}, {123, VAR_INT, 0}, {128, VAR_INT, 0},
      {134, VAR_INT, 1024}, {136, VAR_INT, 0},  {270, VAR_INT, 512},   {537, VAR_INT, 512},
  };
  for (const Case& c : cases) {
    const VarRecord* v = GetVariable(c.number);
    ASSERT_NE(v, nullptr) << c.number;
    EXPECT_EQ(v->mType, c.type) << c.number;
    EXPECT_EQ(v->mDimCount, c.elements ? 1 : 0) << c.number;
    EXPECT_EQ(v->mDimCount ? v->mDims[0] : 0, c.elements) << c.number;
  }
  EXPECT_EQ(GetVariable(20)->mType, VAR_NONE);   // numbers no reader knows stay undefined
}

TEST_F(CompiledSystemVariables, AListingsOwnDefinitionWinsAndTheNumberStandsOnEitherSide) {
  ASSERT_TRUE(Boot(R"(
global int now@0[17]
global int clicks@136
global int before@1200[17]
global int after[17]@1201
file main.txt
*SYSTEM_START
wait frames=1
)"));
  EXPECT_EQ(GetVariable(0)->mDims[0], 17);
  EXPECT_EQ(Var("clicks"), 136);
  for (int32_t n : {1200, 1201}) {
    const VarRecord* v = GetVariable(n);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->mType, VAR_INT) << n;
    EXPECT_EQ(v->mDimCount, 1) << n;
    EXPECT_EQ(v->mDims[0], 17) << n;
  }
  EXPECT_EQ(Var("before"), 1200);
  EXPECT_EQ(Var("after"), 1201);
}

}  // namespace
