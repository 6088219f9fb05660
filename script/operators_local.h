// The arithmetic of the expression operators and of the assignment operators, in integer and in
// real arithmetic, and the text rules of values: the byte walk, the compiled ops and the
// assignment command all compute through these, so a folded constant, a compiled op and a
// walked item never differ.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "app/engine.h"

// The binary operators, by their opcode bytes: + - * / % A O ^ & | = ! > < Z S.
constexpr int BIN_ADD = 0, BIN_SUB = 1, BIN_MUL = 2, BIN_DIV = 3, BIN_MOD = 4, BIN_AND = 5, BIN_OR = 6, BIN_XOR = 7,
              BIN_LAND = 8, BIN_LOR = 9, BIN_EQ = 10, BIN_NE = 11, BIN_GT = 12, BIN_LT = 13, BIN_GE = 14, BIN_LE = 15,
              BIN_COUNT = 16;
// X(name, operator) for every binary operator, in operator order.
#define KIVOR_BINARY_OPERATORS(X)                                                                          \
  X(add, BIN_ADD) X(sub, BIN_SUB) X(mul, BIN_MUL) X(div, BIN_DIV) X(mod, BIN_MOD) X(band, BIN_AND)         \
  X(bor, BIN_OR) X(bxor, BIN_XOR) X(land, BIN_LAND) X(lor, BIN_LOR) X(eq, BIN_EQ) X(ne, BIN_NE) X(gt, BIN_GT) \
  X(lt, BIN_LT) X(ge, BIN_GE) X(le, BIN_LE)

// The binary operator of an opcode byte, or -1.
inline int BinaryOperatorOf(uint8_t op) {
  switch (op) {
    case '+': return BIN_ADD;
    case '-': return BIN_SUB;
    case '*': return BIN_MUL;
    case '/': return BIN_DIV;
    case '%': return BIN_MOD;
    case 'A': return BIN_AND;
    case 'O': return BIN_OR;
    case '^': return BIN_XOR;
    case '&': return BIN_LAND;
    case '|': return BIN_LOR;
    case '=': return BIN_EQ;
    case '!': return BIN_NE;
    case '>': return BIN_GT;
    case '<': return BIN_LT;
    case 'Z': return BIN_GE;
    case 'S': return BIN_LE;
    default: return -1;
  }
}

// Signed 64-bit division and remainder that wrap instead of trapping; a divisor of 0 gives 0.
inline int64_t WrapDivide(int64_t a, int64_t b) {
  if (b == 0) return 0;
  if (b == -1) return (int64_t)(0 - (uint64_t)a);
  return a / b;
}
inline int64_t WrapModulo(int64_t a, int64_t b) {
  if (b == 0 || b == -1) return 0;
  return a % b;
}

// Integer arithmetic: signed 64-bit with wrap-around; comparisons and the logical operators
// give 1 or 0.
template <int kOp>
inline int64_t IntBinary(int64_t a, int64_t b) {
  if constexpr (kOp == BIN_ADD) return (int64_t)((uint64_t)a + (uint64_t)b);
  else if constexpr (kOp == BIN_SUB) return (int64_t)((uint64_t)a - (uint64_t)b);
  else if constexpr (kOp == BIN_MUL) return (int64_t)((uint64_t)a * (uint64_t)b);
  else if constexpr (kOp == BIN_DIV) return WrapDivide(a, b);
  else if constexpr (kOp == BIN_MOD) return WrapModulo(a, b);
  else if constexpr (kOp == BIN_AND) return a & b;
  else if constexpr (kOp == BIN_OR) return a | b;
  else if constexpr (kOp == BIN_XOR) return a ^ b;
  else if constexpr (kOp == BIN_LAND) return a != 0 && b != 0;
  else if constexpr (kOp == BIN_LOR) return a != 0 || b != 0;
  else if constexpr (kOp == BIN_EQ) return a == b;
  else if constexpr (kOp == BIN_NE) return a != b;
  else if constexpr (kOp == BIN_GT) return a > b;
  else if constexpr (kOp == BIN_LT) return a < b;
  else if constexpr (kOp == BIN_GE) return a >= b;
  else return a <= b;
}

// A real is true when it is below or above 0 (a NaN is neither).
inline bool RealTrue(double v) { return v < 0.0 || v > 0.0; }

// Real arithmetic. Division by 0 (or a NaN) gives 0.0; the remainder and the bit operators
// leave the left operand as it is (RealLeavesLeft); the logical operators and comparisons give
// 1.0 or 0.0, less and less-or-equal being the negations of greater-or-equal and greater, so a
// NaN makes them true.
constexpr bool RealLeavesLeft(int op) { return op == BIN_MOD || op == BIN_AND || op == BIN_OR || op == BIN_XOR; }
template <int kOp>
inline double RealBinary(double a, double b) {
  if constexpr (kOp == BIN_ADD) return a + b;
  else if constexpr (kOp == BIN_SUB) return a - b;
  else if constexpr (kOp == BIN_MUL) return a * b;
  else if constexpr (kOp == BIN_DIV) return b != 0.0 && !std::isnan(b) ? a / b : 0.0;
  else if constexpr (RealLeavesLeft(kOp)) return a;
  else if constexpr (kOp == BIN_LAND) return RealTrue(a) && RealTrue(b) ? 1.0 : 0.0;
  else if constexpr (kOp == BIN_LOR) return RealTrue(a) || RealTrue(b) ? 1.0 : 0.0;
  else if constexpr (kOp == BIN_EQ) return a == b ? 1.0 : 0.0;
  else if constexpr (kOp == BIN_NE) return a != b ? 1.0 : 0.0;
  else if constexpr (kOp == BIN_GT) return a > b ? 1.0 : 0.0;
  else if constexpr (kOp == BIN_LT) return !(a >= b) ? 1.0 : 0.0;
  else if constexpr (kOp == BIN_GE) return a >= b ? 1.0 : 0.0;
  else return !(a > b) ? 1.0 : 0.0;
}
// Whether an operator's result is a truth (1 or 0 in both arithmetics).
constexpr bool GivesTruth(int op) { return op >= BIN_LAND; }

// The same, with the operator chosen at run time.
inline int64_t IntBinaryOp(int op, int64_t a, int64_t b) {
  switch (op) {
#define KIVOR_CASE(name, code) \
  case code: return IntBinary<code>(a, b);
    KIVOR_BINARY_OPERATORS(KIVOR_CASE)
#undef KIVOR_CASE
    default: return 0;
  }
}
inline double RealBinaryOp(int op, double a, double b) {
  switch (op) {
#define KIVOR_CASE(name, code) \
  case code: return RealBinary<code>(a, b);
    KIVOR_BINARY_OPERATORS(KIVOR_CASE)
#undef KIVOR_CASE
    default: return 0.0;
  }
}

inline int64_t IntNegate(int64_t a) { return (int64_t)(0 - (uint64_t)a); }

// The assignment operators 0-8 (=, +=, -=, *=, /=, %=, &=, |=, ^=) on an element. Integer
// elements: wrap-around, and division or remainder by 0 leave the element. Real elements:
// division by 0.0 (or a NaN) leaves it; the remainder and the bit operators compute on both
// sides truncated to 64-bit integers (a remainder by 0 leaves the element) and store the
// result as a real.
constexpr int ASSIGN_SET = 0, ASSIGN_ADD = 1, ASSIGN_SUB = 2, ASSIGN_MUL = 3, ASSIGN_DIV = 4, ASSIGN_MOD = 5,
              ASSIGN_AND = 6, ASSIGN_OR = 7, ASSIGN_XOR = 8;
#define KIVOR_ASSIGN_OPERATORS(X)                                                                              \
  X(set, ASSIGN_SET) X(add, ASSIGN_ADD) X(sub, ASSIGN_SUB) X(mul, ASSIGN_MUL) X(div, ASSIGN_DIV) X(mod, ASSIGN_MOD) \
  X(and, ASSIGN_AND) X(or, ASSIGN_OR) X(xor, ASSIGN_XOR)

int64_t RealToInt64(double value);

template <int kOp>
inline void IntAssign(int64_t* p, int64_t x) {
  if constexpr (kOp == ASSIGN_SET) *p = x;
  else if constexpr (kOp == ASSIGN_ADD) *p = IntBinary<BIN_ADD>(*p, x);
  else if constexpr (kOp == ASSIGN_SUB) *p = IntBinary<BIN_SUB>(*p, x);
  else if constexpr (kOp == ASSIGN_MUL) *p = IntBinary<BIN_MUL>(*p, x);
  else if constexpr (kOp == ASSIGN_DIV) { if (x != 0) *p = WrapDivide(*p, x); }
  else if constexpr (kOp == ASSIGN_MOD) { if (x != 0) *p = WrapModulo(*p, x); }
  else if constexpr (kOp == ASSIGN_AND) *p &= x;
  else if constexpr (kOp == ASSIGN_OR) *p |= x;
  else *p ^= x;
}

template <int kOp>
inline void RealAssign(double* p, double x) {
  if constexpr (kOp == ASSIGN_SET) *p = x;
  else if constexpr (kOp == ASSIGN_ADD) *p += x;
  else if constexpr (kOp == ASSIGN_SUB) *p -= x;
  else if constexpr (kOp == ASSIGN_MUL) *p *= x;
  else if constexpr (kOp == ASSIGN_DIV) { if (x != 0.0 && !std::isnan(x)) *p /= x; }
  else if constexpr (kOp == ASSIGN_MOD) {
    int64_t divisor = RealToInt64(x);
    if (divisor != 0) *p = (double)WrapModulo(RealToInt64(*p), divisor);
  } else {
    int64_t a = RealToInt64(*p), b = RealToInt64(x);
    *p = (double)(kOp == ASSIGN_AND ? (a & b) : kOp == ASSIGN_OR ? (a | b) : (a ^ b));
  }
}

// Texts. A text value holds at most TEXT_VALUE_BYTES - 1 bytes (vars.h); a text cut to fit
// never splits a double-byte character.
inline size_t FittingLength(const char* text, size_t length, size_t room) {
  if (length <= room) return length;
  size_t n = 0;
  while (n < room) {
    size_t c = g_LeadByteTable[(uint8_t)text[n]] ? 2 : 1;
    if (n + c > room) break;
    n += c;
  }
  return n;
}

// A number as text: integer arithmetic writes the decimal digits (with '-' when negative), real
// arithmetic six decimals. `out` holds REAL_TEXT_BYTES; returns the length.
constexpr size_t REAL_TEXT_BYTES = 400;
inline size_t FormatInteger(char* out, int64_t v) {
  char digits[20];
  uint64_t u = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
  size_t n = 0;
  do {
    digits[n++] = (char)('0' + u % 10);
    u /= 10;
  } while (u);
  size_t k = 0;
  if (v < 0) out[k++] = '-';
  while (n) out[k++] = digits[--n];
  out[k] = 0;
  return k;
}
inline size_t FormatReal(char* out, double v) {
  int n = snprintf(out, REAL_TEXT_BYTES, "%f", v);
  return n < 0 ? 0 : (size_t)n < REAL_TEXT_BYTES ? (size_t)n : REAL_TEXT_BYTES - 1;
}
