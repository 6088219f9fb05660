// Variables through assembled scripts and the element functions: arrays of several dimensions,
// every assignment operator, texts, declarations and their limits.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "script/vars.h"
#include "tests/support/script_fixture.h"

namespace {

class VarsTest : public ScriptTest {};

TEST_F(VarsTest, AssignmentOperatorsOnIntegersAndReals) {
  ASSERT_TRUE(Boot(R"(
global int i[9] = 20
global real r[9] = 7.5
file main.txt
*SYSTEM_START
i[0] = 3
i[1] += 3
i[2] -= 3
i[3] *= 3
i[4] /= 3
i[5] %= 3
i[6] &= 6
i[7] |= 6
i[8] ^= 6
r[0] = 2.25
r[1] += 0.5
r[2] -= 0.5
r[3] *= 2
r[4] /= 2
r[5] %= 2
r[6] &= 3.7
r[7] |= 8
r[8] ^= 5
wait frames=1
)"));
  RunPasses(1);
  const int64_t ints[] = {3, 23, 17, 60, 6, 2, 4, 22, 18};
  const double reals[] = {2.25, 8.0, 7.0, 15.0, 3.75, 1.0, 3.0, 15.0, 2.0};
  for (int k = 0; k < 9; k++) {
    EXPECT_EQ(Int("i", k), ints[k]) << k;
    EXPECT_DOUBLE_EQ(Real("r", k), reals[k]) << k;
  }
  EXPECT_EQ(ShownMessage(), 0);
}

// Assignments to one plain integer run on the linked short form; they must keep every operator's
// arithmetic and step aside when the variable has become something else.
TEST_F(VarsTest, PlainIntegerAssignmentsKeepTheirArithmeticAndFollowRedeclarations) {
  ASSERT_TRUE(Boot(R"(
global int s0 = 20
global int s1 = 20
global int s2 = 20
global int s3 = 20
global int s4 = 20
global int s5 = 20
global int s6 = 20
global int s7 = 20
global int s8 = 20
global int z4 = 20
global int z5 = 20
global int big = 0
global int minus = -1
global int quotient = 0
global int rest = 5
global int n = 0
global int ops[9] = 0
file main.txt
*SYSTEM_START
s0 = 3
s1 += 3
s2 -= 3
s3 *= 3
s4 /= 3
s5 %= 3
s6 &= 6
s7 |= 6
s8 ^= 6
z4 /= s0 - 3
z5 %= s0 - 3
big = 0 - 0x7FFFFFFFFFFFFFFF - 1
quotient = big / minus
rest = big % minus
quotient /= minus
rest /= 0
dim int k = 0
loop 10
  k += 3
  n += k * 2 - k / 4
  if n > 50
    n %= 7
  endif
endloop
ops[1] = n
dim int t = 1
dim int pass = 0
loop 2
  t += 2
  pass += 1
  if pass == 1
    dim real t = 0.5
  endif
endloop
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  const int64_t ops[] = {3, 23, 17, 60, 6, 2, 4, 22, 18};
  for (int k = 0; k < 9; k++) EXPECT_EQ(Int("s" + std::to_string(k)), ops[k]) << k;
  EXPECT_EQ(Int("z4"), 20);
  EXPECT_EQ(Int("z5"), 20);
  EXPECT_EQ(Int("quotient"), INT64_MIN);
  EXPECT_EQ(Int("rest"), 0);
  int64_t k = 0, n = 0;
  for (int pass = 0; pass < 10; pass++) {
    k += 3;
    n += k * 2 - k / 4;
    if (n > 50) n %= 7;
  }
  EXPECT_EQ(Int("k"), k);
  EXPECT_EQ(Int("n"), n);
  EXPECT_EQ(Int("ops", 1), n);
  EXPECT_EQ(GetVariable(Var("t"))->mType, VAR_REAL);
  EXPECT_DOUBLE_EQ(Real("t"), 2.5);
}

TEST_F(VarsTest, DivisionByZeroLeavesTheElement) {
  ASSERT_TRUE(Boot(R"(
global int a = 9
global int b = 9
global real c = 4.5
global real d = 4.5
global real e = 4.5
file main.txt
*SYSTEM_START
a /= 0
b %= 0
c /= 0
d %= 0.5
e /= 0.0
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(Int("a"), 9);
  EXPECT_EQ(Int("b"), 9);
  EXPECT_DOUBLE_EQ(Real("c"), 4.5);
  EXPECT_DOUBLE_EQ(Real("d"), 4.5);
  EXPECT_DOUBLE_EQ(Real("e"), 4.5);
}

TEST_F(VarsTest, ArraysOfSeveralDimensionsAreRowMajor) {
  ASSERT_TRUE(Boot(R"(
global int n = 0
file main.txt
*SYSTEM_START
dim int m[2, 3, 4] = 0
dim int k = 0
loop 24
  m[k / 12, (k / 4) % 3, k % 4] = k * 10
  k += 1
endloop
n = m[1, 2, 3] + m[0, 1, 2]
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  for (int k = 0; k < 24; k++) EXPECT_EQ(Int("m", k), k * 10) << k;
  EXPECT_EQ(Int("n"), 230 + 60);
  const VarRecord* m = GetVariable(Var("m"));
  EXPECT_EQ(m->mDimCount, 3);
  EXPECT_EQ(m->mCount, 24);
}

TEST_F(VarsTest, SubscriptsOutsideTheirDimensionAreRefused) {
  const char* const cases[] = {"n = m[3, 0]", "n = m[-1, 0]", "n = m[0, 4]", "n = m[0, 0x100000000]",
                               "n = m[0, 0, 1]"};
  for (const char* line : cases) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Boot(std::string("global int m[3, 4] = 1\nglobal int n = 5\nfile main.txt\n*SYSTEM_START\n") + line +
                     "\nwait frames=1\n"));
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), 107010) << line;
  }
}

TEST_F(VarsTest, TextsAssignAndAppendWithinTheirLimit) {
  ASSERT_TRUE(Boot(R"(
global str s = "ab"
global str t[2] = "x"
global str long = ""
file main.txt
*SYSTEM_START
s += "cd"
t[1] = s + "!"
loop 300
  long += "0123456789abcdef"
endloop
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Text("s"), "abcd");
  EXPECT_EQ(Text("t", 0), "x");
  EXPECT_EQ(Text("t", 1), "abcd!");
  EXPECT_EQ(Text("long").size(), 4095u);
}

TEST_F(VarsTest, WrongOperatorsAndUndeclaredTargetsGive101140) {
  const char* const cases[] = {
      "global str s = \"ab\"\nfile main.txt\n*SYSTEM_START\ns -= \"a\"\n",
      "global int other@1001 = 0\nfile main.txt\n*SYSTEM_START\n$1000 = 5\n",
  };
  for (const char* listing : cases) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Boot(listing));
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), 101140) << listing;
  }
}

TEST_F(VarsTest, DeclarationsCheckTheirElementCount) {
  struct Case {
    const char* declaration;
    int message;
    int64_t count;
  } cases[] = {
      {"dim int a[3, 4] = 1", 0, 12},
      {"dim int a[2000, 2001] = 1", 101100, 0},
      {"dim int a[0] = 1", 101110, 0},
      {"dim int a[-1] = 1", 101110, 0},
      {"dim int a[65536, 65536, 65536, 65536] = 1", 101100, 0},
      {"dim real a[2, 2] = 1.5", 0, 4},
      {"dim str a[5] = \"q\"", 0, 5},
  };
  for (const Case& c : cases) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Boot(std::string("file main.txt\n*SYSTEM_START\n") + c.declaration + "\nwait frames=1\n"));
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), c.message) << c.declaration;
    if (c.message == 0) {
      EXPECT_EQ(GetVariable(Var("a"))->mCount, c.count) << c.declaration;
    }
  }
}

TEST_F(VarsTest, ElementFunctionsConvertDropAndRefuse) {
  ASSERT_TRUE(Boot(R"(
global int i[3] = 1
global real r[3] = 1.0
global str s[3] = "t"
file main.txt
*SYSTEM_START
wait frames=1
)"));
  int i = Var("i"), r = Var("r"), s = Var("s");
  EXPECT_EQ(StoreIntElement(r, 0, 7), 0);
  EXPECT_DOUBLE_EQ(ReadRealElement(r, 0), 7.0);
  EXPECT_EQ(StoreRealElement(i, 0, -2.9), 0);
  EXPECT_EQ(ReadIntElement(i, 0), -2);
  EXPECT_EQ(StoreIntElement(i, 3, 5), -1);
  EXPECT_EQ(StoreIntElement(i, -1, 5), -1);
  EXPECT_EQ(ReadIntElement(i, 3), 0);
  EXPECT_EQ(ReadIntElement(i, -1), 0);
  EXPECT_EQ(ReadStringElement(s, 3), nullptr);
  EXPECT_EQ(ReadStringElement(i, 0), nullptr);
  EXPECT_EQ(StoreStringElementN(s, 2, "abcdef", 3), 0);
  EXPECT_STREQ(ReadStringElement(s, 2), "abc");
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(StoreIntElement(s, 0, 1), 0);
  EXPECT_EQ(ShownMessage(), 101140);
  ClearMessage();
  EXPECT_EQ(StoreStringElement(i, 0, "x"), -1);
  EXPECT_EQ(ShownMessage(), 101140);
}

TEST_F(VarsTest, ResizeKeepsThePrefixAndFillsTheRest) {
  ASSERT_TRUE(Boot(R"(
global int a[3] = 4
global str s[5] = "z"
file main.txt
*SYSTEM_START
wait frames=1
)"));
  int a = Var("a"), s = Var("s");
  ASSERT_EQ(ResizeArray(a, 5), 0);
  const int64_t grown[] = {4, 4, 4, 0, 0};
  for (int k = 0; k < 5; k++) EXPECT_EQ(ReadIntElement(a, k), grown[k]);
  ASSERT_EQ(ResizeArray(s, 2), 0);
  EXPECT_EQ(GetVariable(s)->mCount, 2);
  EXPECT_STREQ(ReadStringElement(s, 1), "z");
  EXPECT_EQ(ReadStringElement(s, 2), nullptr);
  EXPECT_EQ(ResizeArray(a, 4000001), -1);
  EXPECT_EQ(GetVariable(a)->mCount, 5);
}

// The largest text arrays are declared many times over in one run: their elements share the
// initial text until one is stored, and every element keeps its own value from then on.
TEST_F(VarsTest, LargeTextArraysKeepEachElementsOwnValue) {
  ASSERT_TRUE(Boot(R"(
global str s[4000000] = "ab"
global str e[3000]
global int n = 0
file main.txt
*SYSTEM_START
loop 2
dim str s[4000000] = "ab"
dim str e[3000]
endloop
s[1] += "c"
s[2] = s[1] + "d"
s[3] = ""
e[2005] = "x"
e[2006] += "y"
n = 1
wait frames=1
)"));
  RunPasses(1);
  ASSERT_EQ(ShownMessage(), 0);
  ASSERT_EQ(Int("n"), 1);
  int s = Var("s"), e = Var("e");
  ASSERT_EQ(GetVariable(s)->mCount, 4000000);
  const struct {
    int var;
    int32_t element;
    const char* text;
  } expected[] = {
      {s, 0, "ab"}, {s, 1, "abc"}, {s, 2, "abcd"}, {s, 3, ""}, {s, 4, "ab"}, {s, 3999999, "ab"},
      {e, 0, ""},   {e, 2005, "x"}, {e, 2006, "y"}, {e, 2999, ""},
  };
  for (const auto& x : expected) EXPECT_STREQ(ReadStringElement(x.var, x.element), x.text) << x.element;
  // An element that held the shared text takes a longer one and gives it up again.
  std::string longer(300, 'q');
  ASSERT_EQ(StoreStringElement(s, 4, longer.c_str()), 0);
  EXPECT_STREQ(ReadStringElement(s, 4), longer.c_str());
  ASSERT_EQ(StoreStringElement(s, 4, "ab"), 0);
  EXPECT_STREQ(ReadStringElement(s, 5), "ab");
  // Resizing keeps the elements before the cut as they were; new ones are empty.
  ASSERT_EQ(ResizeArray(s, 3), 0);
  ASSERT_EQ(ResizeArray(s, 6), 0);
  const char* const resized[] = {"ab", "abc", "abcd", "", "", ""};
  for (int k = 0; k < 6; k++) EXPECT_STREQ(ReadStringElement(s, k), resized[k]) << k;
  ASSERT_EQ(StoreStringElement(s, 5, "z"), 0);
  EXPECT_STREQ(ReadStringElement(s, 5), "z");
}

TEST_F(VarsTest, LocalDefinitionsAreMadeWhenTheirFileIsLinked) {
  ASSERT_TRUE(Boot(R"(
global int seen = 0
file sub.txt
local int here = 42
*SUB
return
file main.txt
*SYSTEM_START
call SUB
seen = here
wait frames=1
)"));
  EXPECT_EQ(GetVariable(Var("here"))->mType, VAR_NONE);
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("seen"), 42);
}

}  // namespace
