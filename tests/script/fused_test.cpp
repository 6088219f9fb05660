// Fused command code against the general path: every listing runs once through fused code and
// once with every command through its handler and every expression through the byte walk, and
// the two runs must leave the same variables, references, task stacks, positions and messages.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "script/eval.h"
#include "script/fused.h"
#include "script/script_set.h"
#include "script/vars.h"
#include "tests/support/script_fixture.h"

namespace {

// The integer evaluator under another address: neither fused code nor integer programs take
// expressions that go to it, so everything runs the general way.
int64_t GeneralIntegerEvaluator(const uint8_t* expr, uint32_t length) { return EvalIntegerExpr(expr, length); }

// What a run leaves behind, as text, so a difference shows where it is.
struct RunState {
  std::vector<std::string> lines;
  bool operator==(const RunState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RunState& s) {
  for (const std::string& line : s.lines) out << line << "\n";
  return out;
}

class FusedTest : public ScriptTest {
 protected:
  // Boots `listing` afresh and runs `passes` passes, through fused code unless `general`.
  RunState Run(const std::string& listing, bool general, int passes = 1) {
    ClearMessage();
    EXPECT_TRUE(ResetScriptEngine(folder_.path()));
    if (!Boot(listing)) {
      ADD_FAILURE() << "the listing did not boot";
      return {{"no boot"}};
    }
    if (general) g_IntEvaluators[1] = g_IntEvaluators[3] = GeneralIntegerEvaluator;
    EXPECT_EQ(FusedTurnAllowed(), !general);
    RunPasses(passes);
    InitEvaluatorTables();
    RunState s;
    for (const auto& [name, v] : set_.variables) {
      const VarRecord* var = GetVariable(v);
      std::string line = name + ":" + std::to_string(var->mType) + ":" + std::to_string(var->mCount) + ":";
      for (int32_t e = 0; e < var->mCount && e < 64; e++) {
        if (var->mType == VAR_INT) line += std::to_string(ReadIntElement(v, e)) + ",";
        else if (var->mType == VAR_REAL) line += std::to_string(ReadRealElement(v, e)) + ",";
        else if (var->mType == VAR_STRING) line += std::string(ReadStringElement(v, e)) + ",";
      }
      s.lines.push_back(line);
    }
    const ScriptTask* t = SystemTask();
    s.lines.push_back("task:" + std::to_string(t->mCommandIndex) + ":" + std::to_string(t->mScriptFile) + ":" +
                      std::to_string(t->mBlockDepth) + ":" + std::to_string(t->mLoopDepth) + ":" +
                      std::to_string(t->mCallDepth));
    for (int d = 0; d <= t->mBlockDepth; d++)
      if (const BlockRecord* b = t->mBlocks[d])
        s.lines.push_back("block" + std::to_string(d) + ":" + std::to_string(b->mOpener) + ":" +
                          std::to_string(b->mEnd) + ":" + std::to_string(b->mLoopDepth));
    for (int d = 0; d <= t->mLoopDepth; d++)
      if (const LoopRecord* l = t->mLoops[d])
        s.lines.push_back("loop" + std::to_string(d) + ":" + std::to_string(l->mStart) + ":" + std::to_string(l->mEnd) +
                          ":" + std::to_string(l->mCounter) + ":" + std::to_string(l->mLimit) + ":" +
                          std::to_string(l->mBlockDepth));
    s.lines.push_back("refs:" + std::to_string(g_RefVariable) + ":" + std::to_string(g_RefElement) + ":" +
                      std::to_string(g_RefBare) + ":" + std::to_string(g_SubscriptCount));
    s.lines.push_back("run:" + std::to_string(g_CurrentCommand) + ":" + std::to_string(g_LastYield) + ":" +
                      std::to_string(g_QuitFlag) + ":" + std::to_string(ShownMessage()));
    return s;
  }

  // The fused commands of the booted main file.
  std::vector<const FusedCommand*> FusedCommands() {
    std::vector<const FusedCommand*> out;
    const ScriptFileRecord* file = g_ScriptFiles[0];
    EXPECT_NE(file, nullptr);
    if (!file || !file->mFused) return out;
    for (int32_t i = 0; i < file->mCommandCount; i++)
      if (file->mFused[i].mOps) out.push_back(&file->mFused[i]);
    return out;
  }

  void ExpectSameRuns(const std::string& listing, int passes = 1) {
    RunState general = Run(listing, true, passes);
    RunState fused = Run(listing, false, passes);
    EXPECT_EQ(fused, general);
  }
};

const char* const kVariables = R"(
global int a = 0
global int b = 0
global int c = 0
global int m = 0
global int out[8] = 0
global real r = 2.5
global str s = "t"
)";

// Each case is one behaviour of a fused command or of a hand-over to a handler.
TEST_F(FusedTest, FusedCodeLeavesWhatTheHandlersLeave) {
  const char* const cases[] = {
      // Wrapping arithmetic, division and remainder by 0 and by -1, every assignment operator.
      R"(
m = 0x7FFFFFFFFFFFFFFF
m += 1
a = m / -1
b = m % -1
c = (m - 1) * 3
out = 7 / 0 + 7 % 0
a /= 0
b %= 0
c = -7 / 2 * 100 + -7 % 2
m *= -1
m -= 1
a = 12
a &= 10
a |= 5
a ^= 0xFF
b = 1 && 0 || 2 > 1 && 3 >= 3 && -1 < 0 && 4 <= 4 && 5 != 6 && (7 == 7)
)",
      // Reals, texts, arrays and system variables take the handlers, in the middle of fused code.
      R"(
a = r * 2
r = a + 1
r += 0.25
a = r
out[3] = 9
out = out[3] + 1
a = out[3] * out
s += "u"
b = a
c = $48
)",
      // Blocks with alternatives, nested in loops, with breaks and continues.
      R"(
loop 6
  a += 1
  if a == 1
    out[0] = out[0] + 1
  elseif a == 2
    out[1] = 1
    continue
  elseif a > 4
    if a == 5
      b = a
    else
      break
    endif
  else
    c += a
  endif
endloop
loop 3
  loop 3
    m += 1
    if m == 5
      break 2
    endif
  endloop
endloop
)",
      // Jumps in the file and to another file, calls and returns between fused commands.
      R"(
a = 1
jump SKIP
a = 99
*SKIP
if a == 1
  call SUB 5
  b = b + 1
  jump AWAY
endif
*SUB
b = 10
return 3
file other.txt
*AWAY
c = a + b
m = 2
jump BACK
file main2.txt
*BACK
m = m * 7
)",
      // A variable declared again, changing its type, and an array resized, between fused reads.
      R"(
loop 4
  a = a + 1
  dim int c = a * 10
  b = b + c
endloop
dim real c = 1.5
b = b + c
c = 3
dim int c = 4
b = b + c
out = 1
varutil a=out size=2
out += 5
varutil a=out size=40
out = out * 2
m = out
)",
      // Structure errors at depth 0 are the handlers' to report.
      "a = 1\nendif\na = 2\n",
      "a = 1\nelse\na = 2\n",
      "a = 1\nendloop\n",
  };
  for (const char* body : cases) {
    SCOPED_TRACE(body);
    std::string listing = std::string(kVariables) + "file main.txt\n*SYSTEM_START\n" + body + "wait frames=1\n";
    // Files after the first start their own labels; the wait ends whichever file ran last.
    size_t other = listing.find("file other.txt");
    if (other != std::string::npos) listing.insert(other, "wait frames=1\n");
    size_t main2 = listing.find("file main2.txt");
    if (main2 != std::string::npos) listing.insert(main2, "wait frames=1\n");
    ExpectSameRuns(listing);
  }
}

TEST_F(FusedTest, ConditionsAndAssignmentsRunFusedAndHandOverWhenTheShapeChanges) {
  std::string listing = std::string(kVariables) + R"(
file main.txt
*SYSTEM_START
loop 3
  a += 1
  if a > 1
    b = a * 2
  endif
endloop
wait frames=1
a = b + 1
wait frames=1
)";
  ExpectSameRuns(listing, 2);
  Run(listing, false, 1);
  // The assignments, the condition, the block end and the loop end; all but the last
  // assignment have run with their ops.
  std::vector<const FusedCommand*> fused = FusedCommands();
  ASSERT_EQ(fused.size(), 6u);
  for (size_t k = 0; k < 5; k++) EXPECT_EQ(fused[k]->mRun, fused[k]->mOps) << k;
  EXPECT_EQ(fused[5]->mEpoch, 0u);
  EXPECT_EQ(Int("b"), 6);
  // b becomes a real where the compiler could not see it: the assignment that reads it goes to
  // the handler, which truncates.
  ASSERT_EQ(AllocRealArray(Var("b"), 0.5), 0);
  RunPasses(1);
  EXPECT_EQ(fused[5]->mEpoch, g_VariableShapeEpoch);
  EXPECT_NE(fused[5]->mRun, fused[5]->mOps);
  EXPECT_EQ(Int("a"), 1);
}

// 64 nested blocks: the 64th is the handler's to refuse.
TEST_F(FusedTest, The64thBlockGoesToTheHandler) {
  std::string body;
  for (int k = 0; k < 64; k++) body += "if a == 0\n";
  body += "b = 1\n";
  for (int k = 0; k < 64; k++) body += "endif\n";
  std::string listing = std::string(kVariables) + "file main.txt\n*SYSTEM_START\n" + body + "wait frames=1\n";
  ExpectSameRuns(listing);
  EXPECT_EQ(ShownMessage(), 101600);
}

// A long loop crosses the long-turn count, where the window is answered between commands.
TEST_F(FusedTest, ALongTurnStaysExact) {
  std::string listing = std::string(kVariables) + R"(
file main.txt
*SYSTEM_START
loop 400000
  a += 3
  if a % 7 == 0
    b += 1
  endif
endloop
wait frames=1
)";
  ExpectSameRuns(listing);
  EXPECT_EQ(Int("a"), 1200000);
  EXPECT_EQ(Int("b"), 57142);
}

// Random programs of integer assignments, conditions and loops, with now and then a real
// operand, a declaration or an array element that sends a command to its handler.
class RandomListing {
 public:
  explicit RandomListing(uint32_t seed) : random_(seed) {}

  std::string Make() {
    text_.clear();
    Statements(0, 0, 6 + (int)(random_() % 10));
    return text_;
  }

 private:
  std::string Atom() {
    static const char* const atoms[] = {"0",  "1",         "-1",      "2",   "3", "7",  "1000000000", "0x7FFFFFFFFFFFFFFF",
                                        "a",  "b",         "c",       "m",   "a", "b",  "c",          "m"};
    int pick = (int)(random_() % 40);
    if (pick == 0) return "r";
    if (pick == 1) return "out[1]";
    return atoms[pick % std::size(atoms)];
  }
  std::string Expr(int depth) {
    if (depth == 0 || random_() % 3 == 0) return Atom();
    static const char* const ops[] = {"+", "-", "*", "/", "%", "&", "|", "^", "&&", "||", "==", "!=", "<", ">", "<=", ">="};
    if (random_() % 10 == 0) return "-" + Expr(depth - 1);
    return "(" + Expr(depth - 1) + " " + ops[random_() % std::size(ops)] + " " + Expr(depth - 1) + ")";
  }
  void Line(int indent, const std::string& line) { text_ += std::string((size_t)indent * 2, ' ') + line + "\n"; }
  void Statements(int indent, int loops, int count) {
    static const char* const targets[] = {"a", "b", "c", "m"};
    static const char* const assigns[] = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^="};
    for (int k = 0; k < count; k++) {
      int kind = (int)(random_() % 20);
      if (kind < 11 || indent >= 3) {
        Line(indent, std::string(targets[random_() % 4]) + " " + assigns[random_() % 9] + " " + Expr(3));
      } else if (kind < 15) {
        Line(indent, "if " + Expr(2));
        Statements(indent + 1, loops, 1 + (int)(random_() % 3));
        int alternatives = (int)(random_() % 3);
        for (int j = 0; j < alternatives; j++) {
          Line(indent, "elseif " + Expr(2));
          Statements(indent + 1, loops, 1 + (int)(random_() % 2));
        }
        if (random_() % 2) {
          Line(indent, "else");
          Statements(indent + 1, loops, 1 + (int)(random_() % 2));
        }
        Line(indent, "endif");
      } else if (kind < 17) {
        Line(indent, "loop " + std::to_string(random_() % 4));
        Statements(indent + 1, loops + 1, 1 + (int)(random_() % 4));
        Line(indent, "endloop");
      } else if (kind == 17 && loops > 0) {
        Line(indent, random_() % 2 ? "break" : "continue");
      } else if (kind == 18) {
        Line(indent, random_() % 4 ? "dim int c = " + Expr(1) : "dim real c = 1.5");
      } else {
        Line(indent, "out[" + std::to_string(random_() % 8) + "] = " + Expr(2));
      }
    }
  }

  std::mt19937 random_;
  std::string text_;
};

TEST_F(FusedTest, RandomProgramsLeaveWhatTheHandlersLeave) {
  for (uint32_t seed = 1; seed <= 120; seed++) {
    std::string body = RandomListing(seed).Make();
    SCOPED_TRACE(body);
    ExpectSameRuns(std::string(kVariables) + "file main.txt\n*SYSTEM_START\n" + body + "wait frames=1\n");
    if (HasFailure()) break;
  }
}

}  // namespace
