// Maths commands: one function, a random integer or a CRC-32 into a variable; the perspective
// placement over two arrays.
#include "script/maths.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/format_keys.h"
#include "script/eval.h"
#include "script/random.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int CMD_MATH = 52;
constexpr int CMD_PERSPECTIVE = 53;
constexpr int32_t MSG_WRONG_TYPE = 101140;

// Parameter ids of the math command's function selectors, in the order they are tested.
enum : int {
  SEL_SIN = 4, SEL_ASIN, SEL_SINH, SEL_COS, SEL_ACOS, SEL_COSH, SEL_TAN, SEL_ATAN, SEL_ATAN2, SEL_TANH,
  SEL_SQRT, SEL_ABS, SEL_EXP, SEL_LOG, SEL_LOG10, SEL_POW, SEL_RANDOM, SEL_CRC,
};
constexpr int kSelectorOrder[] = {SEL_SIN,  SEL_COS,  SEL_TAN,  SEL_ASIN, SEL_ACOS, SEL_SINH,
                                  SEL_COSH, SEL_TANH, SEL_ATAN, SEL_ATAN2, SEL_SQRT, SEL_ABS,
                                  SEL_EXP,  SEL_LOG,  SEL_LOG10, SEL_POW,  SEL_RANDOM, SEL_CRC};

// The argument record at position `pos` (0 when not given).
const CommandArgument* ArgumentAt(int pos) {
  uint8_t count;
  const CommandArgument* args = CurrentArguments(&count);
  return pos >= 1 && pos <= count && args ? &args[pos - 1] : nullptr;
}

double OperandReal(int id) {
  const CommandArgument* a = ArgumentAt(ParamPosition(id));
  return a ? EvalArgumentReal(a, 5) : 0.0;
}

int64_t OperandInt(int id) {
  const CommandArgument* a = ArgumentAt(ParamPosition(id));
  return a ? EvalArgumentInt(a) : 0;
}

// Sine and cosine always evaluate their operand with real arithmetic.
double OperandRealArithmetic(int id) {
  const CommandArgument* a = ArgumentAt(ParamPosition(id));
  const uint8_t* expr;
  uint32_t length;
  if (!a || !ArgumentExpression(a, &expr, &length)) return 0.0;
  return g_RealEvaluators[7](expr, length);
}

// A random integer in [a, b] (either order). The range is counted in unsigned 64 bits, so no
// pair of ends overflows and the whole 64-bit range (a count of 2^64, which wraps to 0) takes
// the generator's value as it comes.
int64_t RandomInRange(int64_t a, int64_t b) {
  if (b < a) {
    int64_t t = a;
    a = b;
    b = t;
  }
  uint64_t span = (uint64_t)b - (uint64_t)a + 1u;
  uint64_t r = NextRandom();
  uint64_t offset = span == 0 ? r : r % span;
  return (int64_t)((uint64_t)a + offset);
}

bool ResultReference(int32_t* v, int32_t* element) {
  int pos = ParamPosition(0);
  if (pos == 0 || g_ArgRefElement[pos] < 0 || g_ArgRefElement[pos] > INT32_MAX) return false;
  *v = g_ArgReference[pos];
  *element = (int32_t)g_ArgRefElement[pos];
  return true;
}

}  // namespace

int CmdMath() {
  if (DecodeCommandArguments(CMD_MATH) != 0) return -1;
  int selector = -1;
  for (int id : kSelectorOrder) {
    if (ParamPosition(id)) {
      selector = id;
      break;
    }
  }
  int32_t v, e;
  if (selector < 0 || !ResultReference(&v, &e)) return 0;
  switch (selector) {
    case SEL_SIN: StoreRealElement(v, e, sin(OperandRealArithmetic(1))); return 0;
    case SEL_COS: StoreRealElement(v, e, cos(OperandRealArithmetic(1))); return 0;
    case SEL_RANDOM: {
      int64_t a = OperandInt(1);
      int64_t b = OperandInt(2);
      StoreIntElement(v, e, RandomInRange(a, b));
      return 0;
    }
    case SEL_CRC: {
      int pos = ParamPosition(3);
      const char* text = pos && g_ArgString[pos] ? g_ArgString[pos] : "";
      StoreIntElement(v, e, Crc32(0, reinterpret_cast<const uint8_t*>(text), strlen(text)));
      return 0;
    }
    case SEL_ABS: {
      // Integer expressions (odd evaluator kinds) keep an integer result; real ones a real.
      const CommandArgument* a = ArgumentAt(ParamPosition(1));
      if (a && (a->mKind & 1)) {
        int64_t n = EvalArgumentInt(a);
        StoreIntElement(v, e, n >= 0 ? n : n == INT64_MIN ? INT64_MAX : -n);
      } else {
        StoreRealElement(v, e, fabs(a ? EvalArgumentReal(a, 5) : 0.0));
      }
      return 0;
    }
    default: break;
  }
  double x = OperandReal(1);
  double result = 0.0;
  switch (selector) {
    case SEL_ASIN: result = asin(x); break;
    case SEL_SINH: result = sinh(x); break;
    case SEL_ACOS: result = acos(x); break;
    case SEL_COSH: result = cosh(x); break;
    case SEL_TAN: result = tan(x); break;
    case SEL_ATAN: result = atan(x); break;
    case SEL_ATAN2: result = atan2(x, OperandReal(2)); break;
    case SEL_TANH: result = tanh(x); break;
    case SEL_SQRT: result = sqrt(x); break;
    case SEL_EXP: result = exp(x); break;
    case SEL_LOG: result = log(x); break;
    case SEL_LOG10: result = log10(x); break;
    default: result = pow(x, OperandReal(2)); break;
  }
  StoreRealElement(v, e, result);
  return 0;
}

int CmdPerspective() {
  if (DecodeCommandArguments(CMD_PERSPECTIVE) != 0) return -1;
  int ip = ParamPosition(0), rp = ParamPosition(1);
  if (!ip || !rp) return 0;
  int32_t iv = g_ArgReference[ip], rv = g_ArgReference[rp];
  int64_t I[8] = {};
  for (int k : {1, 2, 4, 5, 6, 7}) I[k] = ReadIntElement(iv, k);
  double R[31] = {};
  // An integer array in the second place gives its values converted.
  bool intValues = GetVariable(rv) && GetVariable(rv)->mType == VAR_INT;
  for (int k = 3; k <= 30; k++) R[k] = intValues ? (double)ReadIntElement(rv, k) : ReadRealElement(rv, k);
  double out[4];
  if (I[7] != 0) {
    out[0] = R[13] - R[18] * R[16] / 100;
    out[1] = R[14] - R[19] * R[17] / 100;
    out[2] = R[16];
    out[3] = R[17];
  } else {
    double h20 = R[20] / 100, h21 = R[21] / 100;
    double o = R[5] + R[30];
    double W = pow(2.0, (R[27] - R[8] + o) / 100);
    double X = pow(2.0, (R[27] - R[15] + o) / 100);
    double ax = (double)I[5] * 0.5 + R[11] * h20 + W * (R[6] - R[9] - h20 * (R[3] + R[28]));
    double ay = (double)I[6] * 0.5 + R[12] * h21 + W * (R[7] - R[10] - h21 * (R[4] + R[29]));
    if (I[1] != I[2]) {
      ax += W * R[9];
      ay += W * R[10];
      if (I[4] == 0) {
        ax += X * (R[13] * h20 - R[18]);
        ay += X * (R[14] * h21 - R[19]);
      } else {
        X = pow(2.0, (R[27] - R[24] + o) / 100);
        ax += X * ((R[13] + R[22]) * h20 - R[18] - R[25]);
        ay += X * ((R[14] + R[23]) * h21 - R[19] - R[26]);
      }
    }
    out[0] = ax + X * (100 - R[16]) * R[18] / 100;
    out[1] = ay + X * (100 - R[17]) * R[19] / 100;
    out[2] = R[16] * X;
    out[3] = R[17] * X;
  }
  const VarRecord* var = GetVariable(rv);
  if (!var) return 0;
  for (int k = 0; k < 4; k++) {
    int32_t element = 31 + k;
    if (var->mCount <= element) continue;
    if (var->mType == VAR_REAL || var->mType == VAR_INT) StoreRealElement(rv, element, out[k]);
    else ReportScriptError(MSG_WRONG_TYPE, 1);
  }
  return 0;
}
