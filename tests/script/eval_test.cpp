// The expression evaluator over compiled expressions: integer and real arithmetic, texts,
// conversions, and hostile expressions that must stop without overrunning anything.
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "script/eval.h"
#include "script/vars.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"

namespace {

class EvalTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    InitEvaluatorTables();
    InitOpcodeTable(1);
  }
  static std::string Code(const std::string& text) {
    std::string code, error;
    EXPECT_TRUE(CompileExpression(text, &code, &error)) << text << ": " << error;
    return code;
  }
  static const uint8_t* P(const std::string& code) { return reinterpret_cast<const uint8_t*>(code.data()); }
  int64_t Int(const std::string& text) {
    std::string c = Code(text);
    return EvalIntegerExpr(P(c), (uint32_t)c.size());
  }
  double Real(const std::string& text) {
    std::string c = Code(text);
    return EvalRealExpr(P(c), (uint32_t)c.size());
  }
  std::string Text(const std::string& text, bool real = false) {
    std::string c = Code(text);
    char buffer[TEXT_VALUE_BYTES_FOR_TEST] = "<unchanged>";
    int32_t n = real ? EvalStringExprReal(buffer, sizeof buffer, P(c), (uint32_t)c.size())
                     : EvalStringExpr(buffer, sizeof buffer, P(c), (uint32_t)c.size());
    EXPECT_EQ((size_t)n, n > 0 ? strlen(buffer) : (size_t)n);
    return buffer;
  }
  static constexpr int TEXT_VALUE_BYTES_FOR_TEST = 4096;
};

struct IntCase {
  const char* expr;
  int64_t expected;
};

TEST_F(EvalTest, IntegerArithmeticTruncatesWrapsAndNeverTraps) {
  const IntCase cases[] = {
      {"7 / 2", 3},
      {"-7 / 2", -3},
      {"-7 % 2", -1},
      {"5 / 0", 0},
      {"5 % 0", 0},
      {"2 + 3 * 4", 14},
      {"(2 + 3) * 4", 20},
      {"0x7FFFFFFFFFFFFFFF + 1", INT64_MIN},
      {"(0 - 0x7FFFFFFFFFFFFFFF - 1) / -1", INT64_MIN},
      {"(0 - 0x7FFFFFFFFFFFFFFF - 1) % -1", 0},
      {"0x4000000000000000 * 4", 0},
      {"6 & 3", 2},
      {"6 | 3", 7},
      {"6 ^ 3", 5},
      {"2 && 0", 0},
      {"2 || 0", 1},
      {"3 > 2", 1},
      {"3 <= 2", 0},
      {"-1 < 0", 1},
      {"2 >= 2", 1},
      {"4 == 4", 1},
      {"4 != 4", 0},
      {"7.9 + 0", 7},
  };
  for (const IntCase& c : cases) {
    EXPECT_EQ(Int(c.expr), c.expected) << c.expr;
    EXPECT_EQ(g_QuitFlag, 0) << c.expr;
  }
}

TEST_F(EvalTest, RealArithmeticGuardsDivisionAndIgnoresIntegerOnlyOperators) {
  struct Case {
    const char* expr;
    double expected;
  } cases[] = {
      {"5.0 / 0.0", 0.0}, {"7.5 % 2", 7.5}, {"7.5 & 2", 7.5}, {"1.5 * 3", 4.5},
      {"0.5 && 2.0", 1.0}, {"0.0 || 0.0", 0.0}, {"-2.5 < 0", 1.0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(Real(c.expr), c.expected) << c.expr;
}

TEST_F(EvalTest, RealsOutsideTheIntegerRangeConvertByOneRule) {
  std::string big = Code("1.0 * 100000000000000000000.0");
  EXPECT_EQ(EvalRealExprToInteger(P(big), (uint32_t)big.size()), INT64_MAX);
  std::string small = Code("-100000000000000000000.0 * 1.0");
  EXPECT_EQ(EvalRealExprToInteger(P(small), (uint32_t)small.size()), INT64_MIN);
}

TEST_F(EvalTest, TextsConcatenateCompareAndConvert) {
  EXPECT_EQ(Text("\"ab\" + \"cd\""), "abcd");
  EXPECT_EQ(Int("\"ab\" == \"AB\""), 0);
  EXPECT_EQ(Int("\"ab\" == \"ab\""), 1);
  EXPECT_EQ(Int("\"ab\" != \"ab\""), 0);
  EXPECT_EQ(Text("\"a\\qb\""), "aqb");
  EXPECT_EQ(Text("\"a\\\\b\\n\""), "a\\b\n");
  EXPECT_EQ(Text("str(2.5)", true), "2.500000");
  EXPECT_EQ(Text("str(-42)"), "-42");
  EXPECT_EQ(Int("num(\"0x1F\")"), 31);
  EXPECT_EQ(Int("num(\"0xFFFFFFFFFFFFFFFF\")"), -1);
  EXPECT_EQ(Int("num(\"-1.5\")"), -1);
  EXPECT_DOUBLE_EQ(Real("num(\"-1.5\")"), -1.5);
  EXPECT_EQ(Int("num(\"\")"), 0);
  EXPECT_EQ(g_QuitFlag, 0);
}

TEST_F(EvalTest, StringEvaluatorLeavesTheBufferForANumericResult) {
  EXPECT_EQ(Text("1 + 2"), "<unchanged>");
}

TEST_F(EvalTest, TextConcatenationStopsAtTheValueLimit) {
  std::string expr = "\"" + std::string(3000, 'x') + "\"";
  expr = expr + " + " + expr;
  std::string result = Text(expr);
  EXPECT_EQ(result.size(), 4095u);
}

TEST_F(EvalTest, MixedOrMalformedOperandsGiveTheirMessages) {
  struct Case {
    const char* expr;
    const char* fragment;   // of the message's built-in or unknown-id text
  } cases[] = {
      {"\"ab\" + 1", "E160010"},
      {"num(\"1e3\")", "E108210"},
  };
  for (const Case& c : cases) {
    ResetMessageState();
    g_QuitFlag = 0;
    g_MessageTable.count = 2;
    g_MessageTable.ids[0] = 160010;
    g_MessageTable.texts[0] = "E160010";
    g_MessageTable.ids[1] = 108210;
    g_MessageTable.texts[1] = "E108210";
    Int(c.expr);
    EXPECT_EQ(g_QuitFlag, 1) << c.expr;
    EXPECT_NE(std::string(LastErrorDialogText()).find(c.fragment), std::string::npos) << c.expr;
  }
  g_MessageTable.count = 0;
}

// Expressions no compiler writes: every one must stop inside its bounds.
TEST_F(EvalTest, HostileExpressionsStopWithinBounds) {
  std::string longText = "M" + std::string("\x10\x00", 2) + "\"abc";   // operand claims 16 bytes, has 4
  std::string unterminated = "M" + std::string("\x03\x00", 2) + "\"ab";   // no closing delimiter
  std::string underflow = std::string("+\x00\x00", 3);
  std::string unknown = std::string("?\x00\x00", 3);
  std::string shortInt = std::string("I\x02\x00\x05\x00", 5);   // 2 of 4 bytes
  std::string closeWithoutOpen = std::string(")\x00\x00", 3);
  std::string overflow;
  for (int k = 0; k < 1100; k++) overflow += std::string("B\x01\x00\x01", 4);
  const std::string cases[] = {longText, unterminated, underflow, unknown, shortInt, closeWithoutOpen, overflow};
  for (const std::string& c : cases) {
    ResetMessageState();
    g_QuitFlag = 0;
    char buffer[64];
    EvalStringExpr(buffer, sizeof buffer, P(c), (uint32_t)c.size());
    EvalIntegerExpr(P(c), (uint32_t)c.size());
  }
  // The unterminated literal keeps what its operand holds.
  char buffer[64] = "";
  EvalStringExpr(buffer, sizeof buffer, P(unterminated), (uint32_t)unterminated.size());
  EXPECT_STREQ(buffer, "ab");
  // A short operand reads its missing bytes as 0.
  g_QuitFlag = 0;
  EXPECT_EQ(EvalIntegerExpr(P(shortInt), (uint32_t)shortInt.size()), 5);
}

TEST_F(EvalTest, LabelModeRefusesVariables) {
  std::string code = std::string("H\x03\x00", 3) + std::string("\x00\xE8\x03", 3);
  InitOpcodeTable(0);
  g_VariableUsed = 0;
  char buffer[64];
  EXPECT_EQ(EvalStringExpr(buffer, sizeof buffer, P(code), (uint32_t)code.size()), 0);
  EXPECT_EQ(g_VariableUsed, 1);
  InitOpcodeTable(1);
}

// Variables 1000-1005 of every shape an integer program may meet: plain integers holding the
// ends of the range, a real, a text, an integer array and a variable never declared.
class IntProgramTest : public EvalTest {
 protected:
  void SetUp() override {
    EvalTest::SetUp();
    ASSERT_TRUE(AllocVariableTable(1010));
    ASSERT_EQ(AllocIntArray(1000, INT64_MIN), 0);
    ASSERT_EQ(AllocIntArray(1001, -1), 0);
    ASSERT_EQ(AllocRealArray(1002, 2.5), 0);
    ASSERT_EQ(AllocStringArray(1003, "7", 1), 0);
    g_VariableTable[1004].mDimCount = 1;
    g_VariableTable[1004].mDims[0] = 3;
    ASSERT_EQ(AllocIntArray(1004, 9), 0);
  }
  void TearDown() override {
    FreeVariableTable();
    EvalTest::TearDown();
  }
  static void MarkReferences() {
    g_RefVariable = -7;
    g_RefElement = -9;
    g_RefBare = 5;
    g_SubscriptCount = 3;
  }
  struct Outcome {
    int64_t value, element;
    int32_t variable, subscripts;
    uint8_t bare;
    bool operator==(const Outcome&) const = default;
  };
  static Outcome Now(int64_t value) { return {value, g_RefElement, g_RefVariable, g_SubscriptCount, g_RefBare}; }
};

std::string Item(char op, const std::string& operand) {
  return std::string(1, op) + (char)(operand.size() & 0xFF) + (char)(operand.size() >> 8) + operand;
}

std::string Literal(char op, int64_t v, size_t bytes) {
  std::string operand;
  for (size_t k = 0; k < bytes; k++) operand.push_back((char)((uint64_t)v >> (8 * k)));
  return Item(op, operand);
}

std::string VariableItem(int v) { return Item('H', std::string{'\0', (char)(v & 0xFF), (char)(v >> 8)}); }

// Random compiled expressions, well-formed or not: each one a program accepts must give the byte
// walk's value and references, and each run it declines must leave the references alone.
TEST_F(IntProgramTest, ProgramsGiveTheByteWalksValueAndReferences) {
  const int64_t literals[] = {0, 1, -1, 3, 7, -7, 1000000000, INT64_MIN, INT64_MAX, 0x7F, -0x80};
  const int variables[] = {1000, 1001, 1002, 1003, 1004, 1005, 1009, 1010, 4000, 5};
  const char operators[] = "+-*/%AO^&|=!><ZSR,";
  std::mt19937 random(22);
  int compiled = 0, ran = 0, declined = 0;
  for (int round = 0; round < 20000; round++) {
    std::string code;
    int items = 1 + (int)(random() % 9), depth = 0;
    for (int k = 0; k < items; k++) {
      // Mostly what a compiler writes (operators only with two values there), now and then not.
      int what = random() % 8 == 0 ? (int)(random() % 3) : depth < 2 ? (int)(random() % 2) : 2;
      depth += what == 2 ? -1 : 1;
      if (what == 0) {
        const char kinds[] = "BWIL";
        int kind = (int)(random() % 4);
        size_t bytes = (size_t)1 << kind;
        // Now and then an operand shorter than its kind, as a broken file may hold.
        if (random() % 16 == 0) bytes = random() % bytes;
        code += Literal(kinds[kind], literals[random() % std::size(literals)], bytes);
      } else if (what == 1) {
        code += VariableItem(variables[random() % std::size(variables)]);
      } else {
        code += Item(operators[random() % (sizeof operators - 1)], "");
      }
    }
    IntProgramOp program[INT_PROGRAM_MAX_OPS];
    if (CompileIntProgram(P(code), (uint32_t)code.size(), program) == 0) continue;
    compiled++;
    ResetMessageState();
    g_QuitFlag = 0;
    MarkReferences();
    int64_t value = 0;
    bool took = RunIntProgram(program, &value);
    Outcome fast = Now(value);
    MarkReferences();
    Outcome walk = Now(EvalIntegerExpr(P(code), (uint32_t)code.size()));
    if (took) {
      ran++;
      EXPECT_EQ(fast, walk) << round;
      EXPECT_EQ(g_QuitFlag, 0) << round;
    } else {
      declined++;
      EXPECT_EQ(fast.variable, -7) << round;
      EXPECT_EQ(fast.bare, 5) << round;
    }
  }
  EXPECT_GT(ran, 1000);
  EXPECT_GT(declined, 100);
}

TEST_F(IntProgramTest, OnlyPlainIntegerArithmeticIsCompiled) {
  const char* compiled[] = {"$1000 + $1001 * 3 - $1001 / 7", "$1000 > 1000000000", "1", "-$1001",
                            "(0 - 0x7FFFFFFFFFFFFFFF - 1) / -1", "$1000 % $1001 == 0"};
  const char* refused[] = {"1.5 + 2", "\"a\"", "str(1)", "num(\"1\")", "ref($1000)", "$5 + 1"};
  IntProgramOp program[INT_PROGRAM_MAX_OPS];
  for (const char* text : compiled) {
    std::string c = Code(text);
    EXPECT_GT(CompileIntProgram(P(c), (uint32_t)c.size(), program), 0) << text;
  }
  for (const char* text : refused) {
    std::string c = Code(text);
    EXPECT_EQ(CompileIntProgram(P(c), (uint32_t)c.size(), program), 0) << text;
  }
  std::string longSum = "1";
  for (int k = 0; k < INT_PROGRAM_MAX_OPS; k++) longSum += " + $1001";
  std::string c = Code(longSum);
  EXPECT_EQ(CompileIntProgram(P(c), (uint32_t)c.size(), program), 0);
  EXPECT_EQ(EvalIntegerExpr(P(c), (uint32_t)c.size()), 1 - INT_PROGRAM_MAX_OPS);
}

// Declarations collect names instead of reading them, and label mode refuses variables: both
// belong to the byte walk.
TEST_F(IntProgramTest, DeclarationAndLabelModesDecline) {
  std::string c = Code("$1001 + 1");
  IntProgramOp program[INT_PROGRAM_MAX_OPS];
  ASSERT_GT(CompileIntProgram(P(c), (uint32_t)c.size(), program), 0);
  int64_t value = 5;
  g_DeclarationMode = 1;
  EXPECT_FALSE(RunIntProgram(program, &value));
  g_DeclarationMode = 0;
  InitOpcodeTable(0);
  EXPECT_FALSE(RunIntProgram(program, &value));
  InitOpcodeTable(1);
  EXPECT_TRUE(RunIntProgram(program, &value));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(g_RefVariable, 1001);
}

}  // namespace
