// The expression evaluator over compiled expressions: integer and real arithmetic, texts,
// conversions, and hostile expressions that must stop without overrunning anything.
#include <cmath>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "script/eval.h"
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

}  // namespace
