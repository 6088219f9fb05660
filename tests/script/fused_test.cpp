// Fused command code against the general path: every listing runs once through fused code and
// once with every command through its handler and every expression through the byte walk, and
// the two runs must leave the same variables, references, argument slots, task stacks, call
// frames, positions and messages.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "script/eval.h"
#include "script/fused.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "tests/support/script_fixture.h"

namespace {

// The evaluators under other addresses: neither fused code nor argument programs take
// expressions that go to them, so everything runs the general way.
int64_t GeneralInteger(const uint8_t* expr, uint32_t length) { return EvalIntegerExpr(expr, length); }
int64_t GeneralRealToInteger(const uint8_t* expr, uint32_t length) { return EvalRealExprToInteger(expr, length); }
double GeneralIntegerToReal(const uint8_t* expr, uint32_t length) { return EvalIntegerExprToReal(expr, length); }
double GeneralReal(const uint8_t* expr, uint32_t length) { return EvalRealExpr(expr, length); }
int32_t GeneralText(char* buffer, size_t size, const uint8_t* expr, uint32_t length) {
  return EvalStringExpr(buffer, size, expr, length);
}
int32_t GeneralTextReal(char* buffer, size_t size, const uint8_t* expr, uint32_t length) {
  return EvalStringExprReal(buffer, size, expr, length);
}

void UseGeneralEvaluators() {
  for (int k = 1; k <= 4; k++) {
    bool real = k == 2 || k == 4;
    g_IntEvaluators[k] = real ? GeneralRealToInteger : GeneralInteger;
    g_RealEvaluators[k + 5] = real ? GeneralReal : GeneralIntegerToReal;
    g_RealEvaluators[k + 10] = GeneralReal;
    g_StringEvaluators[k] = k == 4 ? GeneralTextReal : GeneralText;
  }
}

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
  // Both runs start from the same argument slots and references.
  static void ClearArgumentSlots() {
    memset(g_ParamSlot, 0, sizeof g_ParamSlot);
    for (int p = 0; p <= MAX_COMMAND_ARGS; p++) {
      g_ArgParamId[p] = g_ArgKind[p] = g_ArgOperator[p] = g_ArgRefFlag[p] = 0;
      g_ArgExprLength[p] = g_ArgExprOffset[p] = 0;
      g_ArgInteger[p] = g_ArgRefElement[p] = 0;
      g_ArgReference[p] = 0;
      g_ArgCode[p] = nullptr;
      if (g_ArgString[p]) g_ArgString[p][0] = 0;
    }
    g_CurrentArgCount = 0;
    g_RefVariable = 0;
    g_RefElement = 0;
    g_RefBare = 0;
    g_SubscriptCount = 0;
    for (int64_t& v : g_Subscripts) v = 0;
  }

  // Boots `listing` afresh and runs `passes` passes, through fused code unless `general`.
  RunState Run(const std::string& listing, bool general, int passes = 1) {
    ClearMessage();
    EXPECT_TRUE(ResetScriptEngine(folder_.path()));
    if (!Boot(listing)) {
      ADD_FAILURE() << "the listing did not boot";
      return {{"no boot"}};
    }
    ClearArgumentSlots();
    if (general) UseGeneralEvaluators();
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
    for (int d = 0; d <= t->mCallDepth && d < TASK_STACK_SLOTS; d++) {
      const CallFrame* f = t->mFrames[d];
      if (!f) continue;
      std::string line = "frame" + std::to_string(d) + ":" + std::to_string(f->mReturnPosition) + ":" +
                         std::to_string(f->mScriptFile) + ":" + std::to_string(f->mLine) + ":" +
                         std::to_string(f->mBlockDepth) + ":" + std::to_string(f->mLoopDepth) + ":" +
                         std::to_string(f->mArgCount) + ":" + std::to_string(f->mReturnCount);
      for (int k = 1; k < CALL_VALUE_SLOTS; k++)
        line += "|" + std::to_string(f->mArgGiven[k]) + "," + std::to_string(f->mIntArgs[k]) + "," +
                std::to_string(f->mRealArgs[k]) + "," + (f->mTextArgs[k] ? f->mTextArgs[k] : "-") + "," +
                std::to_string(f->mReturnGiven[k]) + "," + std::to_string(f->mIntReturns[k]) + "," +
                std::to_string(f->mRealReturns[k]) + "," + (f->mTextReturns[k] ? f->mTextReturns[k] : "-");
      s.lines.push_back(line);
    }
    std::string subscripts = "refs:" + std::to_string(g_RefVariable) + ":" + std::to_string(g_RefElement) + ":" +
                             std::to_string(g_RefBare) + ":" + std::to_string(g_SubscriptCount);
    for (int64_t v : g_Subscripts) subscripts += ":" + std::to_string(v);
    s.lines.push_back(subscripts);
    std::string slots = "slots:" + std::to_string(g_CurrentArgCount);
    for (int id = 0; id < MAX_COMMAND_PARAMS; id++)
      if (g_ParamSlot[id]) slots += " id" + std::to_string(id) + "@" + std::to_string(g_ParamSlot[id]);
    for (int p = 1; p <= 20; p++)
      slots += " [" + std::to_string(g_ArgParamId[p]) + "," + std::to_string(g_ArgKind[p]) + "," +
               std::to_string(g_ArgOperator[p]) + "," + std::to_string(g_ArgExprLength[p]) + "," +
               std::to_string(g_ArgExprOffset[p]) + "," + std::to_string(g_ArgInteger[p]) + "," +
               (g_ArgString[p] ? g_ArgString[p] : "-") + "," + std::to_string(g_ArgCode[p] != nullptr) + "," +
               std::to_string(g_ArgReference[p]) + "," + std::to_string(g_ArgRefElement[p]) + "," +
               std::to_string(g_ArgRefFlag[p]) + "]";
    s.lines.push_back(slots);
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

// The shapes of every kind fused code takes, with system variables, arrays of one and two
// dimensions, reals, texts, and calls with values of each type going and coming back.
const char* const kShapeVariables = R"(
global int a = 0
global int b = 3
global int c = -2
global int m = 7
global int out[8] = 0
global int grid[3,4] = 1
global real r = 2.5
global real q = -0.5
global real rs[4] = 0.25
global str s = "t"
global str names[3] = "n"
global int counter@48 = 0
global int arg@50[17] = 0
global real rarg@51[17] = 0
global str sarg@52[17] = ""
global int argc@53[17] = 0
global int ret@54[17] = 0
global real rret@55[17] = 0
global str sret@56[17] = ""
global int retc@57[17] = 0
)";

// Each case is one behaviour of the shapes beyond plain integers.
TEST_F(FusedTest, EveryShapeLeavesWhatTheHandlersLeave) {
  const char* const cases[] = {
      // The loop counter, in conditions and values, in nested loops.
      R"(
loop 5
  a += counter * 3 % 7
  loop 2
    b = b + counter
  endloop
  if counter % 2 == 0
    m += 1
  endif
endloop
c = counter
)",
      // Arrays written and summed, one and two dimensions, element operators, and an element
      // outside its array, which is the handler's to refuse.
      R"(
a = 0
loop 8
  out[a] = a * a - 3
  out[a] += 2
  grid[a % 3, a % 4] *= a + 1
  a += 1
endloop
b = out[7] + out[0] * grid[2, 3] - grid[1, 1]
rs[1] = out[3] / 2
rs[2] += rs[1] * 1.5
m = rs[2]
out[2] /= 0
out[3] %= -1
c = out[a]
)",
      // Reals: every operator and assignment operator, division by zero, NaN, mixed with
      // integers, truncation into integers, comparisons in conditions.
      R"(
r = r * 1.5 + 0.25
q = q / 0.0 + r
r -= q * 2
r *= -1
r /= 0
r %= 2
rs[3] = r
rs[3] &= 6.9
rs[0] |= 1
rs[0] ^= 3.5
a = r * 10
b = r / 3 + a
if r > 1.5 && q <= 0.0 || r == 2.5
  m = 1
elseif r < 0.0
  m = 2
else
  m = 3
endif
q = a / 4
r = (r - r) / (r - r)
c = r == r
q = q % 2 + (q & 3) - (q | 1) * (q ^ 2)
)",
      // Texts built, joined, cut and compared, in variables and arrays.
      R"(
s = "item" + str(a % 100)
names[1] = s + "-" + str(r)
names[2] += names[1]
names[2] += "\n"
s += str(-9223372036854775807 - 1)
if s == "item0-9223372036854775808"
  a = 1
endif
if names[1] != "x" && names[0] == "n"
  b = 2
endif
c = s == names[2]
)",
      // Calls and returns: integer, real and text values each way, values not given, nested
      // calls, and the system variables that read them.
      R"(
call ADD 5, 1.5, "x"
a = ret[1] + retc[0] + retc[1]
r = rret[2]
s = sret[3]
call ADD a, r
call EMPTY
b = retc[0]
call ADD
jump DONE
*ADD
m += arg[1] + argc[0] + argc[2]
r += rarg[2]
s += sarg[3]
call EMPTY
return arg[1] * 2, r, s + "!"
*EMPTY
return
*DONE
c = ret[1]
)",
      // Commands handed to their handlers between fused ones: declarations that change a
      // variable's type, resizes, and a text system variable.
      R"(
loop 3
  dim real a = 1.5
  r = a + 1
  dim int a = 2
  a = a + r
endloop
dim int out[2] = 5
out[1] += 3
varutil a=out size=6
out[5] = out[1] + 1
s = "folder"
if $120 == ""
  m = 4
endif
)",
  };
  for (const char* body : cases) {
    SCOPED_TRACE(body);
    std::string listing = std::string(kShapeVariables) + "file main.txt\n*SYSTEM_START\n" + body + "wait frames=1\n";
    ExpectSameRuns(listing);
  }
}

// Calls in a loop body as games write them: several integer values and a value returned, a
// label in another file and back, calls nested across files, and a call that passes a real and
// a text into another file. Each leaves what the handlers leave, and the values the calls
// compute.
TEST_F(FusedTest, CallShapesLeaveWhatTheHandlersLeave) {
  struct Case {
    const char* body;      // the main file after its start label
    const char* library;   // a second file
    const char* name;      // an integer variable the case computes
    int64_t expected;
  };
  const Case cases[] = {
      // a runs 0..3; the last call returns 3 * 7 + 10.
      {R"(
loop 4
  call MIX a, 10
  b = ret[1]
  a += 1
endloop
jump DONE
*MIX
return arg[1] * 7 + arg[2]
*DONE
)",
       "*UNUSED\nreturn\n", "b", 31},
      // The squares of 2, 3 and 4 added to m's 7.
      {R"(
loop 3
  call SQUARE a + 2
  m += ret[1]
  a += 1
endloop
)",
       "*SQUARE\nreturn arg[1] * arg[1]\n", "m", 36},
      // OUTER (in the library) calls INNER (back in the main file): 6 % 4, doubled.
      {R"(
call OUTER 5
c = ret[1]
jump DONE
*INNER
return arg[1] % 4
*DONE
)",
       "*OUTER\ncall INNER arg[1] + 1\nreturn ret[1] * 2\n", "c", 4},
      // A real and a text into another file, whose return brings back an integer; a jump there
      // and back between them. 1.5 * 4 stored in an integer, plus 1 for the text joined.
      {R"(
loop 2
  call SCALE 4, 1.5, "ab"
  a += ret[1]
endloop
)",
       "*SCALE\njump SCALE2\n*SCALE2\ns = sarg[3] + \"!\"\nb = rarg[2] * arg[1]\nreturn b + (s == \"ab!\")\n", "a", 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::string listing = std::string(kShapeVariables) + "file main.txt\n*SYSTEM_START\n" + c.body +
                          "*IDLE\nwait frames=1\njump IDLE\nfile library.txt\n" + c.library;
    ExpectSameRuns(listing);
    Run(listing, false);
    EXPECT_EQ(Int(c.name), c.expected);
    EXPECT_EQ(ShownMessage(), 0);
  }
}

// A task waits inside a call into another file; its state is taken there, and a new task
// resumes from that state and finishes the loop around the call. The state text and every
// value after it are the handlers'.
TEST_F(FusedTest, ATaskStateTakenMidCallResumesAsTheHandlersResume) {
  std::string listing = std::string(kShapeVariables) + R"(
file main.txt
*SYSTEM_START
taskstart name="W" label="WORKER"
wait frames=3
taskquery name="W" out=c calls=1
taskquery name="W" out=s state=1
taskend name="W"
taskstart name="V" label="WORKER" state=s
*IDLE
wait frames=1
jump IDLE
*WORKER
loop 4
  call STEP a, 3
  b += ret[1]
  m += 1
endloop
*PARK
wait frames=1
jump PARK
file library.txt
*STEP
a += arg[1] + arg[2]
wait frames=1
return arg[1] * 2 + arg[2]
)";
  ExpectSameRuns(listing, 3);
  ExpectSameRuns(listing, 20);
  Run(listing, false, 20);
  // Taken one call deep; the resumed task ends the four passes of the loop.
  EXPECT_EQ(Int("c"), 1);
  EXPECT_EQ(Int("m"), 11);
  EXPECT_EQ(ShownMessage(), 0);
}

// Every shape of a loop is taken by fused ops: loop counter, array elements read and written,
// reals, texts built and compared, a call passing a value and the return bringing one back, the
// block and loop ends and a resolved jump. Only the loop start and the wait go to handlers.
TEST_F(FusedTest, EveryShapeRunsInFusedOps) {
  std::string listing = std::string(kShapeVariables) + R"(
file main.txt
*SYSTEM_START
loop 3
  a += counter * 3
  out[counter] = out[counter - 1] + 1
  r = r * 1.5 + rs[1]
  s = "n" + str(counter)
  if s == "n2" && r > 1.0
    call SUB counter
    b += ret[1]
  endif
endloop
jump DONE
*SUB
return arg[1] * 2
*DONE
wait frames=1
)";
  ExpectSameRuns(listing);
  Run(listing, false);
  const ScriptFileRecord* file = g_ScriptFiles[0];
  ASSERT_NE(file, nullptr);
  ASSERT_NE(file->mFused, nullptr);
  int taken = 0;
  for (int32_t i = 0; i < file->mCommandCount; i++) {
    CommandHandler h = file->mHandlers[i];
    const FusedCommand& c = file->mFused[i];
    if (h == CmdLoop || h == CmdWait) {
      EXPECT_EQ(c.mOps, nullptr) << i;
      continue;
    }
    ASSERT_NE(c.mOps, nullptr) << "command " << i;
    EXPECT_NE(c.mEpoch, 0u) << "command " << i << " did not run";
    EXPECT_EQ(c.mRun, c.mOps) << "command " << i << " went to its handler";
    taken++;
  }
  EXPECT_EQ(taken, 11);
  // b starts at 3; at counter 2 (r is 6.25 by then) the call doubles 2 and b takes the 4.
  EXPECT_EQ(Int("b"), 7);
  EXPECT_EQ(Text("s"), "n3");
}

// Random programs of the shapes: integer, real and text assignments to variables and elements,
// conditions over all three, loops that read their counter, and calls with values.
class RandomShapes {
 public:
  explicit RandomShapes(uint32_t seed) : random_(seed) {}

  std::string Make() {
    text_.clear();
    Statements(0, 0, 5 + (int)(random_() % 10));
    Line(0, "jump DONE");
    Line(0, "*SUB");
    Statements(1, 0, 1 + (int)(random_() % 3));
    Line(0, "return " + Values());
    Line(0, "*DONE");
    return text_;
  }

 private:
  int Pick(int n) { return (int)(random_() % (uint32_t)n); }
  std::string Index(int size) {
    // Now and then an index outside the array, which ends the run with the same message.
    if (Pick(40) == 0) return std::to_string(size);
    return Pick(3) ? std::to_string(Pick(size)) : "(a % " + std::to_string(size) + " + " + std::to_string(size) + ") % " + std::to_string(size);
  }
  std::string IntAtom() {
    switch (Pick(12)) {
      case 0: return "out[" + Index(8) + "]";
      case 1: return "grid[" + Index(3) + ", " + Index(4) + "]";
      case 2: return "counter";
      case 3: return "arg[" + std::to_string(Pick(4)) + "]";
      case 4: return "ret[" + std::to_string(Pick(4)) + "]";
      case 5: return std::to_string(Pick(9) - 2);
      case 6: return "0x7FFFFFFFFFFFFFFF";
      default: {
        static const char* const names[] = {"a", "b", "c", "m"};
        return names[Pick(4)];
      }
    }
  }
  std::string RealAtom() {
    switch (Pick(8)) {
      case 0: return "rs[" + Index(4) + "]";
      case 1: return "rarg[" + std::to_string(Pick(3)) + "]";
      case 2: return "1.5";
      case 3: return "0.25";
      case 4: return "q";
      case 5: return "r";
      default: return IntAtom();
    }
  }
  std::string Numeric(int depth, bool real) {
    if (depth == 0 || Pick(3) == 0) return real ? RealAtom() : IntAtom();
    static const char* const ops[] = {"+", "-", "*", "/", "%", "&", "|", "^", "&&", "||", "==", "!=", "<", ">", "<=", ">="};
    if (Pick(10) == 0) return "-" + Numeric(depth - 1, real);
    return "(" + Numeric(depth - 1, real) + " " + ops[Pick(16)] + " " + Numeric(depth - 1, real) + ")";
  }
  std::string TextAtom() {
    switch (Pick(6)) {
      case 0: return "s";
      case 1: return "names[" + Index(3) + "]";
      case 2: return "str(" + Numeric(1, false) + ")";
      case 3: return "sarg[" + std::to_string(Pick(3)) + "]";
      case 4: return "sret[" + std::to_string(Pick(3)) + "]";
      default: return Pick(2) ? "\"ab\"" : "\"t\"";
    }
  }
  std::string Text(int depth) {
    if (depth == 0 || Pick(2) == 0) return TextAtom();
    return Text(depth - 1) + " + " + TextAtom();
  }
  std::string Condition() {
    switch (Pick(4)) {
      case 0: return TextAtom() + (Pick(2) ? " == " : " != ") + TextAtom();
      case 1: return Numeric(2, true);
      default: return Numeric(2, false);
    }
  }
  std::string Values() {
    std::string v;
    int n = Pick(4);
    for (int k = 0; k < n; k++) {
      if (k) v += ", ";
      int kind = Pick(3);
      v += kind == 0 ? Numeric(2, false) : kind == 1 ? "(" + Numeric(1, true) + " + 0.5)" : Text(1);
    }
    return v;
  }
  void Line(int indent, const std::string& line) { text_ += std::string((size_t)indent * 2, ' ') + line + "\n"; }
  void Statements(int indent, int loops, int count) {
    static const char* const assigns[] = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^="};
    static const char* const ints[] = {"a", "b", "c", "m"};
    for (int k = 0; k < count; k++) {
      int kind = Pick(24);
      if (kind < 6 || indent >= 3) {
        std::string target = Pick(3) ? ints[Pick(4)] : Pick(2) ? "out[" + Index(8) + "]" : "grid[" + Index(3) + ", " + Index(4) + "]";
        Line(indent, target + " " + assigns[Pick(9)] + " " + Numeric(3, Pick(4) == 0));
      } else if (kind < 9) {
        std::string target = Pick(2) ? (Pick(2) ? "r" : "q") : "rs[" + Index(4) + "]";
        Line(indent, target + " " + assigns[Pick(9)] + " " + Numeric(2, true));
      } else if (kind < 11) {
        std::string target = Pick(2) ? "s" : "names[" + Index(3) + "]";
        Line(indent, target + (Pick(2) ? " = " : " += ") + Text(2));
      } else if (kind < 15) {
        Line(indent, "if " + Condition());
        Statements(indent + 1, loops, 1 + Pick(3));
        for (int j = Pick(3); j > 0; j--) {
          Line(indent, "elseif " + Condition());
          Statements(indent + 1, loops, 1 + Pick(2));
        }
        if (Pick(2)) {
          Line(indent, "else");
          Statements(indent + 1, loops, 1 + Pick(2));
        }
        Line(indent, "endif");
      } else if (kind < 17) {
        Line(indent, "loop " + std::to_string(Pick(4)));
        Statements(indent + 1, loops + 1, 1 + Pick(4));
        Line(indent, "endloop");
      } else if (kind < 19 && indent < 2) {
        std::string values = Values();
        Line(indent, "call SUB" + (values.empty() ? "" : " " + values));
      } else if (kind == 19 && loops > 0) {
        Line(indent, Pick(2) ? "break" : "continue");
      } else if (kind == 20) {
        Line(indent, Pick(4) ? "dim int c = " + Numeric(1, false) : "dim real c = 1.5");
      } else {
        Line(indent, "a = " + Numeric(2, false));
      }
    }
  }

  std::mt19937 random_;
  std::string text_;
};

TEST_F(FusedTest, RandomShapesLeaveWhatTheHandlersLeave) {
  for (uint32_t seed = 1; seed <= 150; seed++) {
    std::string body = RandomShapes(seed).Make();
    SCOPED_TRACE(body);
    ExpectSameRuns(std::string(kShapeVariables) + "file main.txt\n*SYSTEM_START\n" + body + "wait frames=1\n");
    if (HasFailure()) break;
  }
}

}  // namespace
