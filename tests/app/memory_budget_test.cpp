// The one budget for what scripts make the runtime hold: scripts that ask for memory without end
// get the no-memory message once the budget is spent, and what is freed is given back.
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/memory_budget.h"
#include "tests/support/script_fixture.h"

namespace {

constexpr uint64_t TEST_BUDGET = uint64_t(48) << 20;
// The no-memory message is the runtime's own text, whatever the game's table holds.
bool NoMemoryShown() {
  const char* text = LastErrorDialogText();
  return text && strstr(text, LookupMessageText(100010)) != nullptr;
}

class MemoryBudgetTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    before_ = ScriptMemoryInUse();
    SetScriptMemoryBudget(before_ + TEST_BUDGET);
  }
  void TearDown() override {
    ScriptTest::TearDown();
    SetScriptMemoryBudget(0);
  }
  // Runs `body` as the main script's start, for as many passes as it takes.
  bool Run(const std::string& declarations, const std::string& body, int passes = 1) {
    if (!Boot(declarations + "file main.txt\n*SYSTEM_START\n" + body + "\nwait frames=1\n")) return false;
    RunPasses(passes);
    return true;
  }
  uint64_t before_ = 0;
};

// A text of 4,096 bytes, doubled up from one character.
const char kBigText[] = "big = \"x\"\nloop 12\n  big += big\nendloop\n";

struct Bomb {
  const char* what;
  std::string declarations, body;
};

// Each would hold far more than the budget: the no-memory message comes first, and what is held
// stays inside the budget.
TEST_F(MemoryBudgetTest, ScriptsThatAskWithoutEndGetTheNoMemoryMessage) {
  std::string manyArrays;
  // Twelve arrays of a million integers: 96 MB.
  for (int i = 0; i < 12; i++) manyArrays += "dim int a" + std::to_string(i) + "[1000000] = 7\n";
  const Bomb bombs[] = {
      {"texts", "global str t[100000] = \"\"\nglobal str big = \"\"\nglobal int k = 0\n",
       std::string(kBigText) + "loop 100000\n  t[k] = big\n  k += 1\nendloop\n"},
      {"integer arrays", "", manyArrays},
      {"real arrays", "", "dim real r[4000000] = 0.5\ndim real s[4000000] = 0.5\n"},
      {"a resized array", "global int big[3000000] = 0\nglobal int grow[10] = 0\n",
       "varutil a=ref(grow) size=4000000\n"},
  };
  for (const Bomb& b : bombs) {
    SCOPED_TRACE(b.what);
    ClearMessage();
    ASSERT_TRUE(Run(b.declarations, b.body));
    EXPECT_TRUE(NoMemoryShown());
    EXPECT_LE(ScriptMemoryInUse(), before_ + TEST_BUDGET);
    ReleaseScriptEngine();
    ResetScriptEngine(folder_.path());
    EXPECT_EQ(ScriptMemoryInUse(), before_) << "all given back when the game's state goes";
  }
}

// What a script frees goes back to the budget: the same work done over and over never runs out.
TEST_F(MemoryBudgetTest, FreedStorageIsGivenBack) {
  // Each round holds 32 MB at its height, two thirds of the budget: a round that did not give
  // back everything of the one before would run out at the second.
  std::string round =
      "dim int a[2000000] = 1\n"                    // 16 MB
      "dim str t[2000] = \"\"\n"                   // texts of 4 KB: 8 MB
      "k = 0\nloop 2000\n  t[k] = big\n  k += 1\nendloop\n"
      "varutil a=ref(a) size=1000000\n"            // 8 MB more while it moves, then 8 MB less
      "dim int a[1] = 0\ndim str t[1] = \"\"\n";
  std::string body = kBigText;
  for (int i = 0; i < 5; i++) body += round;
  ASSERT_TRUE(Run("global str big = \"\"\nglobal int k = 0\n", body));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_FALSE(NoMemoryShown());
  ReleaseScriptEngine();
  ResetScriptEngine(folder_.path());
  EXPECT_EQ(ScriptMemoryInUse(), before_);
}

}  // namespace
