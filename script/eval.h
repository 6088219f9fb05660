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

// Integer programs: an integer-mode expression pre-decoded at link time into a compact form,
// so the hot path neither re-reads operand bytes nor keeps a real value beside each integer.
// Only expressions of integer literals, user variables and the integer operators that evaluate
// without an error are compiled; everything else keeps the byte walk.
constexpr int INT_PROGRAM_MAX_OPS = 48;   // longer expressions stay with the byte walk
struct IntProgramOp {
  uint8_t mCode;
  uint16_t mVariable;   // the variable read (the left operand's when an op reads two)
  uint16_t mRight;      // the right operand's variable when an op reads two
  int64_t mValue;       // the literal; in the closing op the variable read last (-1 none)
};
// Compiles `expr` into `out` (room for INT_PROGRAM_MAX_OPS ops) and returns the op count with
// the closing op, or 0 when the expression is not compiled.
int CompileIntProgram(const uint8_t* expr, uint32_t length, IntProgramOp* out);
// Runs a program in integer mode. false, with nothing changed, when the evaluation cannot take
// the short way now (a variable that is not a plain integer, declaration or label mode): the
// caller then evaluates the expression bytes, which gives the same value, reference and
// messages.
bool RunIntProgram(const IntProgramOp* program, int64_t* result);
// The variable of a program that only reads one variable, else -1.
int32_t IntProgramVariable(const IntProgramOp* program);
// The assignment program of "variable op= value" from the value's program: the value, the
// store into element 0 of the variable by assignment operator `op` (0-8, the integer operators'
// arithmetic) and the references the assignment command leaves. `out` has room for
// INT_PROGRAM_MAX_OPS + 1 ops; returns the op count. Run by RunIntProgram, it declines (having
// stored nothing) when the variable is not a plain integer.
int CompileIntAssignment(const IntProgramOp* value, int32_t variable, uint8_t op, IntProgramOp* out);

// The hexadecimal helpers. ParseHexDigits reads digits up to an 'h' or 'H' (-1 for a letter
// past 'f'); ParseHexText refuses texts over 1023 bytes; HexTextToDecimal turns "0x..." (1 to
// 16 digits) into signed decimal text in `out` (32 bytes) and returns 0, or -1.
int64_t ParseHexDigits(const char* text);
int64_t ParseHexText(const char* text);
int HexTextToDecimal(char* out, const char* text);

// Signed 64-bit division and remainder that wrap instead of trapping; a divisor of 0 gives 0.
int64_t WrapDivide(int64_t a, int64_t b);
int64_t WrapModulo(int64_t a, int64_t b);
