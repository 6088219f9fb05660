// The expression evaluator over compiled expressions: integer and real arithmetic, texts,
// conversions, and hostile expressions that must stop without overrunning anything.
#include <cmath>
#include <cstring>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "script/eval.h"
#include "script/fused.h"
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

// Variables of every shape compiled ops may meet: plain integers holding the ends of the range,
// a real, a text, an integer array, a variable never declared, a real array of 2 x 3, a text
// array; and system variables: the loop counter (48), pi (10) and the call arguments (50).
class ProgramTest : public EvalTest {
 protected:
  void SetUp() override {
    EvalTest::SetUp();
    InitAssignOperatorTable();
    ASSERT_TRUE(AllocVariableTable(1010));
    ASSERT_EQ(AllocIntArray(1000, INT64_MIN), 0);
    ASSERT_EQ(AllocIntArray(1001, -1), 0);
    ASSERT_EQ(AllocRealArray(1002, 2.5), 0);
    ASSERT_EQ(AllocStringArray(1003, "7", 1), 0);
    g_VariableTable[1004].mDimCount = 1;
    g_VariableTable[1004].mDims[0] = 3;
    ASSERT_EQ(AllocIntArray(1004, 9), 0);
    g_VariableTable[1006].mDimCount = 2;
    g_VariableTable[1006].mDims[0] = 2;
    g_VariableTable[1006].mDims[1] = 3;
    ASSERT_EQ(AllocRealArray(1006, -0.75), 0);
    g_VariableTable[1006].mReals[4] = 1e300;
    g_VariableTable[1007].mDimCount = 1;
    g_VariableTable[1007].mDims[0] = 3;
    ASSERT_EQ(AllocStringArray(1007, "ab", 2), 0);
    ASSERT_EQ(StoreStringElement(1007, 1, "\x82\xa0x"), 0);
    ASSERT_EQ(AllocIntArray(48, 0), 0);
    ASSERT_EQ(AllocRealArray(10, 0.0), 0);
    g_VariableTable[50].mDimCount = 1;
    g_VariableTable[50].mDims[0] = 17;
    ASSERT_EQ(AllocIntArray(50, 0), 0);
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
    for (int64_t& s : g_Subscripts) s = -5;
  }
  // What an evaluation leaves: its value (as text) and the references.
  struct Outcome {
    std::string value;
    int64_t element;
    int32_t variable, subscripts;
    uint8_t bare;
    std::vector<int64_t> subscriptList;
    bool operator==(const Outcome&) const = default;
  };
  static Outcome Now(const std::string& value) {
    std::vector<int64_t> list(g_Subscripts, g_Subscripts + EVAL_MAX_SUBSCRIPTS);
    return {value, g_RefElement, g_RefVariable, g_SubscriptCount, g_RefBare, list};
  }
  static std::string RealText(double d) {
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    return std::to_string(bits);
  }
  // The byte walk's value in `mode`, as text.
  static std::string Walk(const std::string& code, uint8_t mode) {
    const uint8_t* p = P(code);
    uint32_t n = (uint32_t)code.size();
    if (mode == EVAL_MODE_INT) return std::to_string(EvalIntegerExpr(p, n));
    if (mode == EVAL_MODE_REAL) return RealText(EvalRealExpr(p, n));
    char buffer[TEXT_VALUE_BYTES] = "<none>";
    int32_t length = mode == EVAL_MODE_TEXT_INT ? EvalStringExpr(buffer, sizeof buffer, p, n)
                                                : EvalStringExprReal(buffer, sizeof buffer, p, n);
    return std::string(buffer) + ":" + std::to_string(length);
  }
  // A program's value in `mode`, as the walk's evaluator would give it.
  static std::string Value(const FusedResult& r, uint8_t mode) {
    if (mode == EVAL_MODE_INT) return std::to_string(r.mInt);
    if (mode == EVAL_MODE_REAL) return RealText(r.mReal);
    if (!r.mText) return "<none>:0";
    std::string text(r.mText, r.mTextLength);
    return text + ":" + std::to_string(text.size());
  }
};

std::string Item(char op, const std::string& operand) {
  return std::string(1, op) + (char)(operand.size() & 0xFF) + (char)(operand.size() >> 8) + operand;
}

std::string Literal(char op, int64_t v, size_t bytes) {
  std::string operand;
  for (size_t k = 0; k < bytes; k++) operand.push_back((char)((uint64_t)v >> (8 * k)));
  return Item(op, operand);
}

std::string VariableItem(int v, char op = 'H') { return Item(op, std::string{'\0', (char)(v & 0xFF), (char)(v >> 8)}); }

// Random compiled expressions, well-formed or not, in each of the four modes: each one the ops
// take must give the byte walk's value, references and subscript list, without a message; each
// run they decline must leave the references alone.
TEST_F(ProgramTest, ProgramsGiveTheByteWalksValueAndReferences) {
  const int64_t literals[] = {0, 1, -1, 2, 3, 7, -7, 1000000000, INT64_MIN, INT64_MAX, 0x7F, -0x80};
  const double reals[] = {0.5, -2.25, 0.0, -0.0, 1e300, 3.0, NAN, INFINITY};
  const int variables[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1009, 1010, 4000, 48, 10, 5, 50};
  const int arrays[] = {1004, 1006, 1007, 50, 1000, 1005, 10};
  const char operators[] = "+-*/%AO^&|=!><ZSRs,";
  const uint8_t modes[] = {EVAL_MODE_INT, EVAL_MODE_REAL, EVAL_MODE_TEXT_INT, EVAL_MODE_TEXT_REAL};
  std::mt19937 random(22);
  int compiled = 0, ran = 0, declined = 0;
  for (int round = 0; round < 40000; round++) {
    std::string code;
    int items = 1 + (int)(random() % 10), depth = 0, open = 0;
    for (int k = 0; k < items; k++) {
      // Mostly what a compiler writes (operators only with two values there), now and then not.
      int what = random() % 8 == 0 ? (int)(random() % 6) : depth < 2 ? (int)(random() % 5) : 5;
      if (what == 0) {
        const char kinds[] = "BWIL";
        int kind = (int)(random() % 4);
        size_t bytes = (size_t)1 << kind;
        // Now and then an operand shorter than its kind, as a broken file may hold.
        if (random() % 16 == 0) bytes = random() % bytes;
        code += Literal(kinds[kind], literals[random() % std::size(literals)], bytes);
        depth++;
      } else if (what == 1) {
        code += VariableItem(variables[random() % std::size(variables)]);
        depth++;
      } else if (what == 2) {
        double d = reals[random() % std::size(reals)];
        int64_t bits;
        memcpy(&bits, &d, sizeof bits);
        code += random() % 3 ? Literal('F', bits, 8) : Item('M', random() % 2 ? "\"ab\"" : "'7'");
        depth++;
      } else if (what == 3) {
        // An element: 'V', one or two subscripts, ')'.
        int v = arrays[random() % std::size(arrays)];
        code += VariableItem(v, 'V');
        int subs = 1 + (int)(random() % 2);
        for (int s = 0; s < subs; s++) {
          if (s) code += Item(',', "");
          code += Literal('B', (int64_t)(random() % 5) - 1, 1);
        }
        code += Item(')', "");
        depth++;
      } else if (what == 4 && open == 0 && random() % 4 == 0) {
        code += VariableItem(variables[random() % std::size(variables)], random() % 2 ? 'v' : 'V');
        open++;
        depth++;
      } else {
        char op = operators[random() % (sizeof operators - 1)];
        if (open && random() % 3 == 0) {
          op = ')';
          open--;
        }
        code += Item(op, "");
        if (op != 'R' && op != 's' && op != ',' && op != ')') depth--;
      }
    }
    for (uint8_t mode : modes) {
      FusedCommand* program = CompileExpressionProgram(P(code), (uint32_t)code.size(), mode);
      if (!program) continue;
      compiled++;
      ResetMessageState();
      g_QuitFlag = 0;
      MarkReferences();
      FusedResult result{};
      bool took = RunExpressionProgram(program, &result);
      Outcome fast = Now(took ? Value(result, mode) : "");
      MarkReferences();
      Outcome walk = Now(Walk(code, mode));
      FreeExpressionProgram(program);
      if (took) {
        ran++;
        EXPECT_EQ(fast, walk) << round << " mode " << (int)mode;
        EXPECT_EQ(g_QuitFlag, 0) << round << " mode " << (int)mode;
      } else {
        declined++;
        EXPECT_EQ(fast.variable, -7) << round;
        EXPECT_EQ(fast.bare, 5) << round;
      }
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(ran, 10000);
  EXPECT_GT(declined, 100);
}

TEST_F(ProgramTest, WhatTheOpsTakeAndWhatTheWalkKeeps) {
  struct Case {
    const char* text;
    uint8_t mode;
    bool compiled;
  } cases[] = {
      {"$1000 + $1001 * 3 - $1001 / 7", EVAL_MODE_INT, true},
      {"$1000 % $1001 == 0", EVAL_MODE_INT, true},
      {"(0 - 0x7FFFFFFFFFFFFFFF - 1) / -1", EVAL_MODE_INT, true},
      {"1.5 + 2", EVAL_MODE_INT, true},
      {"1.5 + 2", EVAL_MODE_REAL, true},
      {"$5 + 1", EVAL_MODE_INT, true},
      {"$1004[2] + $1006[1, 2]", EVAL_MODE_REAL, true},
      {"\"a\" + str($1001)", EVAL_MODE_TEXT_INT, true},
      {"$1003 == \"7\"", EVAL_MODE_INT, true},
      {"ref($1000)", EVAL_MODE_INT, true},
      {"1 + 2", EVAL_MODE_TEXT_INT, true},
      // A text where a number is wanted, a text mixed with a number, text to number, and a
      // system text: the walk's.
      {"\"a\"", EVAL_MODE_INT, false},
      {"\"a\" + 1", EVAL_MODE_TEXT_INT, false},
      {"num(\"1\")", EVAL_MODE_INT, false},
      {"$93 == \"x\"", EVAL_MODE_INT, false},
  };
  for (const Case& c : cases) {
    std::string code = Code(c.text);
    FusedCommand* program = CompileExpressionProgram(P(code), (uint32_t)code.size(), c.mode);
    EXPECT_EQ(program != nullptr, c.compiled) << c.text << " mode " << (int)c.mode;
    FreeExpressionProgram(program);
  }
  // Nesting deeper than the ops' stacks stays with the walk, which gives the value: with $1001
  // at -1, each level turns 1 into -2 and -2 into 1, so an even number of levels gives 1.
  std::string deep = "1";
  for (int k = 0; k < 70; k++) deep = "$1001 - (" + deep + ")";
  std::string code = Code(deep);
  EXPECT_EQ(CompileExpressionProgram(P(code), (uint32_t)code.size(), EVAL_MODE_INT), nullptr);
  EXPECT_EQ(EvalIntegerExpr(P(code), (uint32_t)code.size()), 1);
}

// A variable, or a value just computed, divided by a literal: quotients truncate toward zero and
// remainders take the dividend's sign, as the walk gives them. $1000 holds INT64_MIN
// (-9223372036854775808) and $1001 holds -1.
TEST_F(ProgramTest, DivisionByALiteralTruncatesAsTheWalkDoes) {
  const IntCase cases[] = {
      {"$1000 / 7", -1317624576693539401},
      {"$1000 % 7", -1},
      {"$1000 / -7", 1317624576693539401},
      {"$1000 % -7", -1},
      {"$1000 / 2", -4611686018427387904},
      {"$1000 % -2", 0},
      {"$1000 / 1000", -9223372036854775},
      {"$1000 % 1000", -808},
      {"$1000 / 0x7FFFFFFFFFFFFFFF", -1},
      {"$1000 % 0x7FFFFFFFFFFFFFFF", -1},
      {"($1001 * 9) / 2", -4},
      {"($1001 * 9) % 2", -1},
      {"($1001 * 9) / -2", 4},
      {"($1001 * -9) % -2", 1},
      {"($1000 + 1) / (0 - 0x7FFFFFFFFFFFFFFF - 1)", 0},
      {"($1000 + 1) % (0 - 0x7FFFFFFFFFFFFFFF - 1)", -9223372036854775807},
      {"$1001 / 1", -1},
      {"$1001 % -1", 0},
  };
  for (const IntCase& c : cases) {
    std::string code = Code(c.expr);
    FusedCommand* program = CompileExpressionProgram(P(code), (uint32_t)code.size(), EVAL_MODE_INT);
    ASSERT_NE(program, nullptr) << c.expr;
    FusedResult result{};
    EXPECT_TRUE(RunExpressionProgram(program, &result)) << c.expr;
    EXPECT_EQ(result.mInt, c.expected) << c.expr;
    EXPECT_EQ(EvalIntegerExpr(P(code), (uint32_t)code.size()), c.expected) << c.expr;
    FreeExpressionProgram(program);
  }
}

// Declarations collect names instead of reading them, and label mode refuses variables: both
// belong to the byte walk.
TEST_F(ProgramTest, DeclarationAndLabelModesDecline) {
  std::string c = Code("$1001 + 1");
  FusedCommand* program = CompileExpressionProgram(P(c), (uint32_t)c.size(), EVAL_MODE_INT);
  ASSERT_NE(program, nullptr);
  FusedResult result{};
  g_DeclarationMode = 1;
  EXPECT_FALSE(RunExpressionProgram(program, &result));
  g_DeclarationMode = 0;
  InitOpcodeTable(0);
  EXPECT_FALSE(RunExpressionProgram(program, &result));
  InitOpcodeTable(1);
  EXPECT_TRUE(RunExpressionProgram(program, &result));
  EXPECT_EQ(result.mInt, 0);
  EXPECT_EQ(g_RefVariable, 1001);
  FreeExpressionProgram(program);
}

}  // namespace
