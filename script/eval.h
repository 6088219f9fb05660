// The expression evaluator: compiled postfix expressions evaluated on a value stack in
// integer, real or text mode, with the variable each evaluation referred to last.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int EVAL_STACK_SLOTS = 1024;
constexpr int EVAL_POOL_TEXTS = 1024;
constexpr int EVAL_MAX_SUBSCRIPTS = 8;
constexpr int EVAL_MAX_DEPTH = 127;

enum : uint8_t { EVAL_MODE_INT = 1, EVAL_MODE_REAL = 2, EVAL_MODE_TEXT_INT = 3, EVAL_MODE_TEXT_REAL = 4 };

// What the last evaluation referred to: the variable, its flat element index and whether the
// expression was a bare reference. The variable and element carry over between evaluations.
extern int32_t g_RefVariable;
extern int64_t g_RefElement;
extern uint8_t g_RefBare;
// Set by the declaration commands: names and subscripts are collected instead of read.
extern uint8_t g_DeclarationMode;
// Set in label mode when the expression reads a variable.
extern uint8_t g_VariableUsed;
// The subscripts of the last closed array access.
extern int32_t g_SubscriptCount;
extern int64_t g_Subscripts[EVAL_MAX_SUBSCRIPTS];

// 1 the normal table, 0 label mode (variable opcodes stop the evaluation).
void InitOpcodeTable(int normal);
// false in label mode.
bool NormalOpcodeTable();

int RunExpression(const uint8_t* expr, uint32_t length);
int64_t EvalIntegerExpr(const uint8_t* expr, uint32_t length);
int64_t EvalRealExprToInteger(const uint8_t* expr, uint32_t length);
double EvalIntegerExprToReal(const uint8_t* expr, uint32_t length);
double EvalRealExpr(const uint8_t* expr, uint32_t length);
// Text results are copied with a NUL into `buffer` (`size` bytes, cut to fit); a numeric result
// leaves the buffer as it was and returns 0. Returns the copied length.
int32_t EvalStringExpr(char* buffer, size_t size, const uint8_t* expr, uint32_t length);
int32_t EvalStringExprReal(char* buffer, size_t size, const uint8_t* expr, uint32_t length);

using IntEvaluator = int64_t (*)(const uint8_t*, uint32_t);
using RealEvaluator = double (*)(const uint8_t*, uint32_t);
using StringEvaluator = int32_t (*)(char*, size_t, const uint8_t*, uint32_t);
// By evaluator kind: integer consumers use g_IntEvaluators[kind]; real consumers use
// g_RealEvaluators[kind + 5], real assignment targets g_RealEvaluators[kind + 10]; text
// consumers g_StringEvaluators[kind]. Kinds are 1-4; the other entries are empty.
extern IntEvaluator g_IntEvaluators[5];
extern RealEvaluator g_RealEvaluators[15];
extern StringEvaluator g_StringEvaluators[5];

// The next item of a compiled expression at `*at`: its opcode and operand (an operand that runs
// past the expression is cut to what is there); false after the last item. Moves `*at` on.
inline bool NextExpressionItem(const uint8_t* expr, uint32_t length, uint32_t* at, uint8_t* op,
                               const uint8_t** operand, uint32_t* operandLength) {
  if (*at + 3 > length) return false;
  *op = expr[*at];
  uint32_t n = (uint32_t)expr[*at + 1] | (uint32_t)expr[*at + 2] << 8;
  uint32_t room = length - *at - 3;
  *operandLength = n > room ? room : n;
  *operand = expr + *at + 3;
  *at += 3 + *operandLength;
  return true;
}

// The parts of compiled items that the op compiler reads as the walk does: up to `n` operand
// bytes little-endian (bytes the operand lacks read as 0), a variable item's number, and a
// text literal's text (`out` holds TEXT_VALUE_BYTES; returns the length).
uint64_t ReadExpressionOperand(const uint8_t* p, uint32_t length, uint32_t n);
int32_t OperandVariableNumber(const uint8_t* p, uint32_t length);
uint32_t DecodeTextLiteral(const uint8_t* operand, uint32_t length, char* out);

// The hexadecimal helpers. ParseHexDigits reads digits up to an 'h' or 'H' (-1 for a letter
// past 'f'); ParseHexText refuses texts over 1023 bytes; HexTextToDecimal turns "0x..." (1 to
// 16 digits) into signed decimal text in `out` (32 bytes) and returns 0, or -1.
int64_t ParseHexDigits(const char* text);
int64_t ParseHexText(const char* text);
int HexTextToDecimal(char* out, const char* text);
