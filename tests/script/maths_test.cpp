// The maths commands through assembled scripts: functions, random ranges, CRC-32 and the
// perspective placement.
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <zlib.h>

#include "app/hooks.h"
#include "script/vars.h"
#include "tests/script/script_fixture.h"

namespace {

class MathsTest : public ScriptTest {
 protected:
  bool BootWith(const std::string& globals, const std::string& commands) {
    return Boot(globals + "file main.txt\n*SYSTEM_START\n" + commands + "\nwait frames=1000\n");
  }
};

TEST_F(MathsTest, FunctionsFollowTheCLibrary) {
  struct Case {
    const char* command;
    double expected;
  };
  const double x = 0.3, y = 1.7;
  const Case cases[] = {
      {"math out=r sin=1 x=0.3", sin(x)},
      {"math out=r cos=1 sin=1 x=0.3", sin(x)},   // sine is tested first
      {"math out=r cos=1 x=0.3", cos(x)},
      {"math out=r tan=1 x=0.3", tan(x)},
      {"math out=r asin=1 x=0.3", asin(x)},
      {"math out=r acos=1 x=0.3", acos(x)},
      {"math out=r sinh=1 x=0.3", sinh(x)},
      {"math out=r cosh=1 x=0.3", cosh(x)},
      {"math out=r tanh=1 x=0.3", tanh(x)},
      {"math out=r atan=1 x=0.3", atan(x)},
      {"math out=r atan2=1 x=0.3 y=1.7", atan2(x, y)},
      {"math out=r sqrt=1 x=1.7", sqrt(y)},
      {"math out=r exp=1 x=0.3", exp(x)},
      {"math out=r log=1 x=1.7", log(y)},
      {"math out=r log10=1 x=1.7", log10(y)},
      {"math out=r pow=1 x=0.3 y=1.7", pow(x, y)},
      {"math out=r abs=1 x=0-1.7", 1.7},
      // An integer operand is computed in integer arithmetic before it becomes a real.
      {"math out=r pow=1 x=7/2 y=2", 9.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ClearMessage();
    ASSERT_TRUE(BootWith("global real r = -99\n", c.command));
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), 0);
    EXPECT_DOUBLE_EQ(Real("r"), c.expected);
  }
  ClearMessage();
  ASSERT_TRUE(BootWith("global real r = -99\nglobal int n = 0\n", "math out=r sqrt=1 x=0-1\nmath out=n abs=1 x=0-5"));
  RunPasses(1);
  EXPECT_TRUE(std::isnan(Real("r")));
  EXPECT_EQ(Int("n"), 5);
}

TEST_F(MathsTest, RandomIntegersStayInTheirRangeWithoutOverflow) {
  struct Case {
    const char* range;
    int64_t a, b;
  };
  const Case cases[] = {
      {"x=10 y=3", 3, 10},
      {"x=4 y=4", 4, 4},
      {"x=0-5 y=5", -5, 5},
      {"x=0x7FFFFFFFFFFFFFFF - 3 y=0x7FFFFFFFFFFFFFFF", INT64_MAX - 3, INT64_MAX},
      // The whole 64-bit range: its size does not fit in 64 bits.
      {"x=0 - 0x7FFFFFFFFFFFFFFF - 1 y=0x7FFFFFFFFFFFFFFF", INT64_MIN, INT64_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    ClearMessage();
    std::string commands;
    for (int k = 0; k < 20; k++) commands += "math out=v[" + std::to_string(k) + "] random=1 " + c.range + "\n";
    ASSERT_TRUE(BootWith("global int v[20] = 0\n", commands));
    SeedRandom(1234);
    std::mt19937 reference(1234);
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), 0);
    uint64_t span = (uint64_t)c.b - (uint64_t)c.a + 1;
    for (int k = 0; k < 20; k++) {
      uint64_t r = reference();
      int64_t expected = (int64_t)((uint64_t)c.a + (span == 0 ? r : r % span));
      EXPECT_EQ(Int("v", k), expected) << k;
      EXPECT_TRUE(Int("v", k) >= c.a && Int("v", k) <= c.b) << k;
    }
  }
}

TEST_F(MathsTest, Crc32OfAVariableMatchesZlib) {
  const char* texts[] = {"abc", "", "\x82\xa0\x82\xa2 kivor"};
  for (const char* text : texts) {
    ClearMessage();
    ASSERT_TRUE(BootWith("global int n = 0\nglobal str s = \"\"\n", "math out=n crc=1 text=s"));
    StoreStringElement(Var("s"), 0, text);
    RunPasses(1);
    uLong expected = crc32(0L, reinterpret_cast<const Bytef*>(text), (uInt)strlen(text));
    EXPECT_EQ(Int("n"), (int64_t)expected) << text;
  }
  EXPECT_EQ(crc32(0L, reinterpret_cast<const Bytef*>("abc"), 3), 0x352441C2u);
}

TEST_F(MathsTest, PerspectivePivotOnlyAndElementsWritten) {
  // With I[7] set only the pivot terms count; a real array of 32 elements takes element 31 only.
  ASSERT_TRUE(BootWith("global int i[8] = 0\nglobal real r[32] = 0\nglobal int ri[35] = 0\n",
                       "perspective ints=i reals=r\nperspective ints=i reals=ri"));
  StoreIntElement(Var("i"), 7, 1);
  for (const char* name : {"r", "ri"}) {
    StoreRealElement(Var(name), 13, 100.5);
    StoreRealElement(Var(name), 18, 50);
    StoreRealElement(Var(name), 16, 20);
  }
  StoreIntElement(Var("ri"), 13, -101);
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_DOUBLE_EQ(Real("r", 31), 90.5);
  EXPECT_DOUBLE_EQ(Real("r", 30), 0.0);
  // Into integers the values are cut toward zero.
  EXPECT_EQ(Int("ri", 31), -111);
  EXPECT_EQ(Int("ri", 33), 20);
}

TEST_F(MathsTest, PerspectiveFullPlacement) {
  ASSERT_TRUE(BootWith("global int i[8] = 0\nglobal real r[35] = 0\n", "perspective ints=i reals=r"));
  StoreIntElement(Var("i"), 1, 1);
  StoreIntElement(Var("i"), 2, 2);
  StoreIntElement(Var("i"), 5, 640);
  StoreIntElement(Var("i"), 6, 480);
  double R[31] = {};
  for (int k = 3; k <= 30; k++) {
    R[k] = 3.0 * k - 40;
    StoreRealElement(Var("r"), k, R[k]);
  }
  RunPasses(1);
  double h20 = R[20] / 100, h21 = R[21] / 100, o = R[5] + R[30];
  double W = pow(2.0, (R[27] - R[8] + o) / 100), X = pow(2.0, (R[27] - R[15] + o) / 100);
  double ax = 320 + R[11] * h20 + W * (R[6] - R[9] - h20 * (R[3] + R[28])) + W * R[9] + X * (R[13] * h20 - R[18]);
  double ay = 240 + R[12] * h21 + W * (R[7] - R[10] - h21 * (R[4] + R[29])) + W * R[10] + X * (R[14] * h21 - R[19]);
  EXPECT_NEAR(Real("r", 31), ax + X * (100 - R[16]) * R[18] / 100, 1e-9);
  EXPECT_NEAR(Real("r", 32), ay + X * (100 - R[17]) * R[19] / 100, 1e-9);
  EXPECT_NEAR(Real("r", 33), R[16] * X, 1e-9);
  EXPECT_NEAR(Real("r", 34), R[17] * X, 1e-9);
}

}  // namespace
