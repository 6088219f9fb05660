// The expression evaluator: one walk over compiled postfix items, one handler per opcode byte,
// a fixed value stack and a pool of text buffers that are allocated once and kept.
#include "script/eval.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "script/int_program_local.h"
#include "script/vars.h"

int32_t g_RefVariable;
int64_t g_RefElement;
uint8_t g_RefBare;
uint8_t g_DeclarationMode;
uint8_t g_VariableUsed;
int32_t g_SubscriptCount;
int64_t g_Subscripts[EVAL_MAX_SUBSCRIPTS];

IntEvaluator g_IntEvaluators[5];
RealEvaluator g_RealEvaluators[15];
StringEvaluator g_StringEvaluators[5];

namespace {

// Messages of the evaluator. The limits of the fixed tables have no message of their own.
constexpr int32_t MSG_UNKNOWN_OPCODE = 900030;
constexpr int32_t MSG_TEXT_AND_NUMBER = 160010;
constexpr int32_t MSG_NO_VARIABLE = 108010;
constexpr int32_t MSG_SUBSCRIPT = 107010;
constexpr int32_t MSG_NOT_A_NUMBER = 108210;
constexpr int32_t MSG_EXPRESSION_LIMIT = 160020;

struct Slot {
  int64_t i;
  double r;
  uint16_t text;   // pool index, 0 = a number
};

using OpHandler = int (*)(const uint8_t* operand, uint32_t length);

OpHandler g_OpcodeTable[256];
bool g_NormalOpcodes;
Slot g_Stack[EVAL_STACK_SLOTS];
int32_t g_StackPos;
char* g_Pool[EVAL_POOL_TEXTS];
uint32_t g_PoolLength[EVAL_POOL_TEXTS];
int32_t g_PoolNext;
uint8_t g_Mode;
int32_t g_Depth;
int32_t g_DepthBase[EVAL_MAX_DEPTH + 1];
int32_t g_DepthVariable[EVAL_MAX_DEPTH + 1];

inline bool IntegerArithmetic() { return (g_Mode & 1) || g_Depth > 0; }

int Limit() {
  ReportScriptError(MSG_EXPRESSION_LIMIT, 1);
  return 1;
}

// Reads up to `n` operand bytes little-endian; bytes the operand lacks read as 0.
uint64_t ReadOperand(const uint8_t* p, uint32_t length, uint32_t n) {
  uint64_t v = 0;
  for (uint32_t k = 0; k < n && k < length; k++) v |= (uint64_t)p[k] << (8 * k);
  return v;
}

int PushNumber(int64_t i, double r) {
  if (g_StackPos >= EVAL_STACK_SLOTS) return Limit();
  Slot& s = g_Stack[g_StackPos++];
  s.i = i;
  s.r = r;
  s.text = 0;
  return 0;
}

// A new pool entry for slot `s`; null when the pool is full or no buffer could be had.
char* NewPoolText(Slot* s) {
  if (g_PoolNext >= EVAL_POOL_TEXTS) return nullptr;
  int32_t index = g_PoolNext;
  if (!g_Pool[index]) {
    g_Pool[index] = static_cast<char*>(malloc(TEXT_VALUE_BYTES));
    if (!g_Pool[index]) return nullptr;
  }
  g_PoolNext++;
  s->i = 0;
  s->r = 0;
  s->text = (uint16_t)index;
  g_Pool[index][0] = 0;
  g_PoolLength[index] = 0;
  return g_Pool[index];
}

// The length of `text` cut to fit a text value without splitting a double-byte character.
size_t FittingLength(const char* text, size_t length, size_t room) {
  if (length <= room) return length;
  size_t n = 0;
  while (n < room) {
    size_t c = g_LeadByteTable[(uint8_t)text[n]] ? 2 : 1;
    if (n + c > room) break;
    n += c;
  }
  return n;
}

int PushText(Slot* s, const char* text, size_t length) {
  char* buffer = NewPoolText(s);
  if (!buffer) {
    if (g_PoolNext >= EVAL_POOL_TEXTS) return Limit();
    g_QuitFlag = 1;
    return 1;
  }
  length = FittingLength(text, length, TEXT_VALUE_BYTES - 1);
  memcpy(buffer, text, length);
  buffer[length] = 0;
  g_PoolLength[s->text] = (uint32_t)length;
  return 0;
}

int PushTextValue(const char* text) {
  if (g_StackPos >= EVAL_STACK_SLOTS) return Limit();
  Slot* s = &g_Stack[g_StackPos++];
  return PushText(s, text ? text : "", text ? strlen(text) : 0);
}

// Records variable v as the reference; a user variable beyond the table stops the evaluation.
int RecordReference(int32_t v) {
  if (v >= FIRST_USER_VARIABLE && !GetVariable(v)) {
    ReportScriptError(MSG_NO_VARIABLE, 1);
    return 1;
  }
  g_RefVariable = v;
  g_RefElement = 0;
  return 0;
}

// Puts element `element` of variable v into a new slot with both its integer and real value.
int FetchVariable(int32_t v, int64_t element) {
  const VarRecord* var = GetVariable(v);
  uint8_t type = var ? var->mType : (uint8_t)VAR_NONE;
  int32_t e = (int32_t)element;
  if (v < FIRST_USER_VARIABLE) {
    if (type == VAR_INT) {
      int64_t value = ReadSystemIntVariable(v, e);
      return PushNumber(value, (double)value);
    }
    if (type == VAR_REAL) {
      double value = ReadSystemRealVariable(v, e);
      return PushNumber(RealToInt64(value), value);
    }
    if (type == VAR_STRING) {
      static char scratch[TEXT_VALUE_BYTES];
      scratch[0] = 0;
      ReadSystemStringVariable(v, e, scratch);
      scratch[TEXT_VALUE_BYTES - 1] = 0;
      return PushTextValue(scratch);
    }
    return PushNumber(0, 0.0);
  }
  if (type == VAR_INT) {
    int64_t value = ReadIntElement(v, e);
    return PushNumber(value, (double)value);
  }
  if (type == VAR_REAL) {
    double value = ReadRealElement(v, e);
    return PushNumber(RealToInt64(value), value);
  }
  if (type == VAR_STRING) return PushTextValue(ReadStringElement(v, e));
  return PushNumber(0, 0.0);
}

int32_t OperandVariable(const uint8_t* p, uint32_t length) {
  return (int32_t)((ReadOperand(p, length, 3) >> 8) & 0xFFFF);
}

// ---------------------------------------------------------------------------------------------
// Opcode handlers.

int OpUnknown(const uint8_t*, uint32_t) {
  ReportScriptError(MSG_UNKNOWN_OPCODE, 1);
  return 1;
}

int OpNothing(const uint8_t*, uint32_t) { return 0; }

int OpInt8(const uint8_t* p, uint32_t n) {
  int64_t v = (int8_t)ReadOperand(p, n, 1);
  return PushNumber(v, (double)v);
}
int OpInt16(const uint8_t* p, uint32_t n) {
  int64_t v = (int16_t)ReadOperand(p, n, 2);
  return PushNumber(v, (double)v);
}
int OpInt32(const uint8_t* p, uint32_t n) {
  int64_t v = (int32_t)ReadOperand(p, n, 4);
  return PushNumber(v, (double)v);
}
int OpInt64(const uint8_t* p, uint32_t n) {
  int64_t v = (int64_t)ReadOperand(p, n, 8);
  return PushNumber(v, (double)v);
}
int OpReal(const uint8_t* p, uint32_t n) {
  uint64_t bits = ReadOperand(p, n, 8);
  double d;
  memcpy(&d, &bits, sizeof d);
  return PushNumber(RealToInt64(d), d);
}

// The text between the operand's first byte (the delimiter) and its next occurrence, with
// backslash escapes; scanned within the operand only.
int OpStringLiteral(const uint8_t* p, uint32_t n) {
  if (g_StackPos >= EVAL_STACK_SLOTS) return Limit();
  Slot* s = &g_Stack[g_StackPos++];
  char* out = NewPoolText(s);
  if (!out) {
    if (g_PoolNext >= EVAL_POOL_TEXTS) return Limit();
    g_QuitFlag = 1;
    return 1;
  }
  uint32_t o = 0;
  if (n > 0) {
    uint8_t delimiter = p[0];
    for (uint32_t k = 1; k < n;) {
      uint8_t c = p[k];
      if (c == '\\' && k + 1 < n) {
        uint8_t next = p[k + 1];
        if (next == '\\' || next == 'n' || next == 't') {
          if (o + 1 < TEXT_VALUE_BYTES) out[o++] = next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
          k += 2;
          continue;
        }
        k++;
        c = next;
      }
      if (c == delimiter) break;
      if (g_LeadByteTable[c] && k + 1 < n) {
        if (o + 2 < TEXT_VALUE_BYTES) {
          out[o++] = (char)c;
          out[o++] = (char)p[k + 1];
        }
        k += 2;
        continue;
      }
      if (o + 1 < TEXT_VALUE_BYTES) out[o++] = (char)c;
      k++;
    }
  }
  out[o] = 0;
  g_PoolLength[s->text] = o;
  return 0;
}

int OpVariable(const uint8_t* p, uint32_t n) {
  int32_t v = OperandVariable(p, n);
  if (RecordReference(v)) return 1;
  if (g_DeclarationMode && g_Depth == 0) return 0;
  return FetchVariable(v, 0);
}

int OpVariableRef(const uint8_t* p, uint32_t n) {
  if (RecordReference(OperandVariable(p, n))) return 1;
  g_RefBare = 1;
  return PushNumber(0, 0.0);
}

int OpReferenceRefused(const uint8_t*, uint32_t) {
  g_VariableUsed = 1;
  return 1;
}

int OpArrayOpen(const uint8_t* p, uint32_t n) {
  int32_t v = OperandVariable(p, n);
  if (!(g_DeclarationMode && g_Depth == 0) && RecordReference(v)) return 1;
  if (g_DeclarationMode && g_Depth == 0) {
    g_RefVariable = v;
    g_RefElement = 0;
  }
  // The opening position is kept in 8 bits, so deeper stacks cannot open an access.
  if (g_Depth >= EVAL_MAX_DEPTH || g_StackPos >= 256) return Limit();
  g_Depth++;
  g_DepthBase[g_Depth] = g_StackPos;
  g_DepthVariable[g_Depth] = v;
  return PushNumber(0, 0.0);
}

int OpArrayClose(const uint8_t*, uint32_t) {
  if (g_Depth <= 0) return OpUnknown(nullptr, 0);
  int32_t base = g_DepthBase[g_Depth];
  int32_t v = g_DepthVariable[g_Depth];
  g_Depth--;
  int32_t count = g_StackPos - base - 1;
  if (count > EVAL_MAX_SUBSCRIPTS) return Limit();
  for (int32_t k = 0; k < count; k++) {
    const Slot& s = g_Stack[base + 1 + k];
    if (s.text) {
      ReportScriptError(MSG_TEXT_AND_NUMBER, 1);
      return 1;
    }
    g_Subscripts[k] = s.i;
  }
  g_SubscriptCount = count;
  g_RefVariable = v;
  if (g_DeclarationMode && g_Depth == 0) return 1;
  const VarRecord* var = GetVariable(v);
  if (!var) {
    ReportScriptError(MSG_NO_VARIABLE, 1);
    return 1;
  }
  // Each subscript is checked whole against its dimension (a value past 32 bits never wraps
  // onto a valid one), extra subscripts must be 0, and the flat index is checked against the
  // element count.
  int64_t index = 0;
  for (int32_t k = 0; k < count; k++) {
    int64_t sub = g_Subscripts[k];
    if (k >= var->mDimCount) {
      if (sub != 0) {
        ReportScriptError(MSG_SUBSCRIPT, 1);
        return 1;
      }
      continue;
    }
    if (sub < 0 || sub >= var->mDims[k]) {
      ReportScriptError(MSG_SUBSCRIPT, 1);
      return 1;
    }
    int64_t stride = 1;
    for (int32_t j = k + 1; j < var->mDimCount; j++) stride *= var->mDims[j];
    index += sub * stride;
  }
  if (var->mType != VAR_NONE && v >= FIRST_USER_VARIABLE && index >= var->mCount) {
    ReportScriptError(MSG_SUBSCRIPT, 1);
    return 1;
  }
  g_RefElement = index;
  g_StackPos = base;
  return FetchVariable(v, index);
}

// Two operands: left at g_StackPos - 2, right at g_StackPos - 1.
inline bool TakeTwo(Slot** left, Slot** right) {
  if (g_StackPos < 2) return false;
  g_StackPos--;
  *left = &g_Stack[g_StackPos - 1];
  *right = &g_Stack[g_StackPos];
  return true;
}

int Underflow() { return OpUnknown(nullptr, 0); }

inline void SetInt(Slot* s, int64_t v) {
  s->i = v;
  s->text = 0;
}
inline void SetReal(Slot* s, double v) {
  s->r = v;
  s->text = 0;
}
inline void SetTruth(Slot* s, bool v) {
  s->i = v ? 1 : 0;
  s->r = v ? 1.0 : 0.0;
  s->text = 0;
}

int MixedText() {
  ReportScriptError(MSG_TEXT_AND_NUMBER, 1);
  return 1;
}

int OpAdd(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (a->text || b->text) {
    if (!a->text || !b->text) return MixedText();
    char* left = g_Pool[a->text];
    uint32_t used = g_PoolLength[a->text];
    size_t add = FittingLength(g_Pool[b->text], g_PoolLength[b->text], TEXT_VALUE_BYTES - 1 - used);
    memmove(left + used, g_Pool[b->text], add);
    used += (uint32_t)add;
    left[used] = 0;
    g_PoolLength[a->text] = used;
    return 0;
  }
  if (IntegerArithmetic()) SetInt(a, (int64_t)((uint64_t)a->i + (uint64_t)b->i));
  else SetReal(a, a->r + b->r);
  return 0;
}

int OpSubtract(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (IntegerArithmetic()) SetInt(a, (int64_t)((uint64_t)a->i - (uint64_t)b->i));
  else SetReal(a, a->r - b->r);
  return 0;
}

int OpMultiply(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (IntegerArithmetic()) SetInt(a, (int64_t)((uint64_t)a->i * (uint64_t)b->i));
  else SetReal(a, a->r * b->r);
  return 0;
}

}  // namespace

// Shared with the assignment operators: wrap-around division and remainder that never trap.
int64_t WrapDivide(int64_t a, int64_t b) {
  if (b == 0) return 0;
  if (b == -1) return (int64_t)(0 - (uint64_t)a);
  return a / b;
}
int64_t WrapModulo(int64_t a, int64_t b) {
  if (b == 0 || b == -1) return 0;
  return a % b;
}

namespace {

int OpDivide(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (IntegerArithmetic()) SetInt(a, WrapDivide(a->i, b->i));
  else SetReal(a, (b->r != 0.0 && !std::isnan(b->r)) ? a->r / b->r : 0.0);
  return 0;
}

int OpModulo(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (IntegerArithmetic()) SetInt(a, WrapModulo(a->i, b->i));
  return 0;
}

template <int kOp>
int OpBits(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (!IntegerArithmetic()) return 0;
  int64_t v = kOp == 0 ? (a->i & b->i) : kOp == 1 ? (a->i | b->i) : (a->i ^ b->i);
  SetInt(a, v);
  return 0;
}

inline bool RealTrue(double v) { return v < 0.0 || v > 0.0; }

int OpLogicalAnd(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (IntegerArithmetic()) SetTruth(a, a->i != 0 && b->i != 0);
  else SetTruth(a, RealTrue(a->r) && RealTrue(b->r));
  return 0;
}

int OpLogicalOr(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (IntegerArithmetic()) SetTruth(a, a->i != 0 || b->i != 0);
  else SetTruth(a, RealTrue(a->r) || RealTrue(b->r));
  return 0;
}

int CompareEquality(bool wantEqual) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (a->text || b->text) {
    if (!a->text || !b->text) return MixedText();
    bool same = g_PoolLength[a->text] == g_PoolLength[b->text] &&
                memcmp(g_Pool[a->text], g_Pool[b->text], g_PoolLength[a->text]) == 0;
    SetTruth(a, same == wantEqual);
    return 0;
  }
  bool same = IntegerArithmetic() ? a->i == b->i : a->r == b->r;
  SetTruth(a, same == wantEqual);
  return 0;
}

int OpEqual(const uint8_t*, uint32_t) { return CompareEquality(true); }
int OpNotEqual(const uint8_t*, uint32_t) { return CompareEquality(false); }

// 0 greater, 1 less, 2 greater-or-equal, 3 less-or-equal. In real arithmetic less and
// less-or-equal are the negations of greater-or-equal and greater, so a NaN makes them true.
template <int kOp>
int OpCompare(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  bool v;
  if (IntegerArithmetic()) {
    v = kOp == 0 ? a->i > b->i : kOp == 1 ? a->i < b->i : kOp == 2 ? a->i >= b->i : a->i <= b->i;
  } else {
    v = kOp == 0 ? a->r > b->r : kOp == 1 ? !(a->r >= b->r) : kOp == 2 ? a->r >= b->r : !(a->r > b->r);
  }
  SetTruth(a, v);
  return 0;
}

int OpNegate(const uint8_t*, uint32_t) {
  if (g_StackPos < 1) return Underflow();
  Slot* s = &g_Stack[g_StackPos - 1];
  if (IntegerArithmetic()) SetInt(s, (int64_t)(0 - (uint64_t)s->i));
  else SetReal(s, -s->r);
  return 0;
}

int OpToString(const uint8_t*, uint32_t) {
  if (g_StackPos < 1) return Underflow();
  Slot* s = &g_Stack[g_StackPos - 1];
  char text[400];
  if (IntegerArithmetic()) snprintf(text, sizeof text, "%lld", (long long)s->i);
  else snprintf(text, sizeof text, "%f", s->r);
  return PushText(s, text, strlen(text));
}

int OpToNumber(const uint8_t*, uint32_t) {
  if (g_StackPos < 1) return Underflow();
  Slot* s = &g_Stack[g_StackPos - 1];
  if (!s->text) return 0;
  const char* text = g_Pool[s->text];
  int64_t i = 0;
  double r = 0;
  if (text[0] == '0' && text[1] == 'x') {
    char decimal[32];
    if (HexTextToDecimal(decimal, text) != 0) return 1;
    i = strtoll(decimal, nullptr, 10);
    r = (double)i;
  } else {
    bool point = false;
    for (const char* c = text; *c; c++) {
      if (*c == '.') point = true;
      else if (*c != '-' && (*c < '0' || *c > '9')) {
        ReportScriptError(MSG_NOT_A_NUMBER, 1);
        return 1;
      }
    }
    if (point) {
      r = strtod(text, nullptr);
      i = RealToInt64(r);
    } else {
      i = strtoll(text, nullptr, 10);
      r = (double)i;
    }
  }
  s->i = i;
  s->r = r;
  s->text = 0;
  return 0;
}

void StartEvaluation(uint8_t mode) {
  g_Mode = mode;
  g_PoolNext = 1;
  g_StackPos = 0;
  g_Depth = 0;
  g_SubscriptCount = 0;
  g_RefBare = 0;
  g_Stack[0] = Slot{0, 0.0, 0};
}

void CopyResultText(char* buffer, size_t size, int32_t* length) {
  *length = 0;
  if (!g_Stack[0].text || size == 0) return;
  uint32_t n = (uint32_t)FittingLength(g_Pool[g_Stack[0].text], g_PoolLength[g_Stack[0].text], size - 1);
  memcpy(buffer, g_Pool[g_Stack[0].text], n);
  buffer[n] = 0;
  *length = (int32_t)n;
}

}  // namespace

int64_t RealToInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return INT64_MAX;
  if (value < -9223372036854775808.0) return INT64_MIN;
  return (int64_t)value;
}

void InitOpcodeTable(int normal) {
  g_NormalOpcodes = normal != 0;
  for (OpHandler& h : g_OpcodeTable) h = OpUnknown;
  g_OpcodeTable['B'] = OpInt8;
  g_OpcodeTable['W'] = OpInt16;
  g_OpcodeTable['I'] = OpInt32;
  g_OpcodeTable['L'] = OpInt64;
  g_OpcodeTable['F'] = OpReal;
  g_OpcodeTable['M'] = OpStringLiteral;
  g_OpcodeTable['H'] = normal ? OpVariable : OpReferenceRefused;
  g_OpcodeTable['V'] = normal ? OpArrayOpen : OpReferenceRefused;
  g_OpcodeTable['v'] = normal ? OpVariableRef : OpReferenceRefused;
  g_OpcodeTable[')'] = OpArrayClose;
  g_OpcodeTable[','] = OpNothing;
  g_OpcodeTable['R'] = OpNegate;
  g_OpcodeTable['s'] = OpToString;
  g_OpcodeTable['i'] = OpToNumber;
  g_OpcodeTable['+'] = OpAdd;
  g_OpcodeTable['-'] = OpSubtract;
  g_OpcodeTable['*'] = OpMultiply;
  g_OpcodeTable['/'] = OpDivide;
  g_OpcodeTable['%'] = OpModulo;
  g_OpcodeTable['A'] = OpBits<0>;
  g_OpcodeTable['O'] = OpBits<1>;
  g_OpcodeTable['^'] = OpBits<2>;
  g_OpcodeTable['&'] = OpLogicalAnd;
  g_OpcodeTable['|'] = OpLogicalOr;
  g_OpcodeTable['='] = OpEqual;
  g_OpcodeTable['!'] = OpNotEqual;
  g_OpcodeTable['>'] = OpCompare<0>;
  g_OpcodeTable['<'] = OpCompare<1>;
  g_OpcodeTable['Z'] = OpCompare<2>;
  g_OpcodeTable['S'] = OpCompare<3>;
}

int RunExpression(const uint8_t* expr, uint32_t length) {
  g_PoolNext = 1;
  g_StackPos = 0;
  g_Depth = 0;
  g_SubscriptCount = 0;
  g_RefBare = 0;
  g_Stack[0].text = 0;
  uint32_t at = 0;
  while (at + 3 <= length) {
    uint8_t op = expr[at];
    uint32_t n = (uint32_t)expr[at + 1] | (uint32_t)expr[at + 2] << 8;
    // An operand that runs past the expression is cut to what is there.
    uint32_t room = length - at - 3;
    if (n > room) n = room;
    if (g_OpcodeTable[op](expr + at + 3, n) != 0) return -1;
    at += 3 + n;
  }
  return 0;
}

int64_t EvalIntegerExpr(const uint8_t* expr, uint32_t length) {
  StartEvaluation(EVAL_MODE_INT);
  RunExpression(expr, length);
  return g_Stack[0].i;
}

int64_t EvalRealExprToInteger(const uint8_t* expr, uint32_t length) {
  StartEvaluation(EVAL_MODE_REAL);
  RunExpression(expr, length);
  return RealToInt64(g_Stack[0].r);
}

double EvalIntegerExprToReal(const uint8_t* expr, uint32_t length) {
  StartEvaluation(EVAL_MODE_INT);
  RunExpression(expr, length);
  return (double)g_Stack[0].i;
}

double EvalRealExpr(const uint8_t* expr, uint32_t length) {
  StartEvaluation(EVAL_MODE_REAL);
  RunExpression(expr, length);
  return g_Stack[0].r;
}

int32_t EvalStringExpr(char* buffer, size_t size, const uint8_t* expr, uint32_t length) {
  StartEvaluation(EVAL_MODE_TEXT_INT);
  RunExpression(expr, length);
  int32_t n;
  CopyResultText(buffer, size, &n);
  return n;
}

int32_t EvalStringExprReal(char* buffer, size_t size, const uint8_t* expr, uint32_t length) {
  StartEvaluation(EVAL_MODE_TEXT_REAL);
  RunExpression(expr, length);
  int32_t n;
  CopyResultText(buffer, size, &n);
  return n;
}

void InitEvaluatorTables() {
  g_IntEvaluators[1] = g_IntEvaluators[3] = EvalIntegerExpr;
  g_IntEvaluators[2] = g_IntEvaluators[4] = EvalRealExprToInteger;
  g_RealEvaluators[6] = g_RealEvaluators[8] = EvalIntegerExprToReal;
  g_RealEvaluators[7] = g_RealEvaluators[9] = EvalRealExpr;
  for (int k = 11; k <= 14; k++) g_RealEvaluators[k] = EvalRealExpr;
  g_StringEvaluators[1] = g_StringEvaluators[2] = g_StringEvaluators[3] = EvalStringExpr;
  g_StringEvaluators[4] = EvalStringExprReal;
  if (!g_OpcodeTable[0]) InitOpcodeTable(1);
}

// ---------------------------------------------------------------------------------------------
// Integer programs.

namespace {

// The binary operator of an opcode byte, or -1.
int BinaryOperator(uint8_t op) {
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

// The integer-mode arithmetic of the opcode handlers above.
int64_t ApplyBinary(int op, int64_t a, int64_t b) {
  switch (op) {
    case BIN_ADD: return (int64_t)((uint64_t)a + (uint64_t)b);
    case BIN_SUB: return (int64_t)((uint64_t)a - (uint64_t)b);
    case BIN_MUL: return (int64_t)((uint64_t)a * (uint64_t)b);
    case BIN_DIV: return WrapDivide(a, b);
    case BIN_MOD: return WrapModulo(a, b);
    case BIN_AND: return a & b;
    case BIN_OR: return a | b;
    case BIN_XOR: return a ^ b;
    case BIN_LAND: return a != 0 && b != 0;
    case BIN_LOR: return a != 0 || b != 0;
    case BIN_EQ: return a == b;
    case BIN_NE: return a != b;
    case BIN_GT: return a > b;
    case BIN_LT: return a < b;
    case BIN_GE: return a >= b;
    default: return a <= b;
  }
}

// The integer-mode value of a user variable that holds a plain integer, read as the byte walk
// would; false for anything else, which the byte walk then handles.
inline bool ReadPlainInt(int32_t v, int64_t* value) {
  const int64_t* slot = PlainIntSlot(v);
  if (!slot) return false;
  *value = *slot;
  return true;
}

}  // namespace

int CompileIntProgram(const uint8_t* expr, uint32_t length, IntProgramOp* out) {
  int ops = 0, depth = 0;
  int64_t last = -1;
  uint32_t at = 0;
  while (at + 3 <= length) {
    uint8_t op = expr[at];
    uint32_t n = (uint32_t)expr[at + 1] | (uint32_t)expr[at + 2] << 8;
    uint32_t room = length - at - 3;
    if (n > room) n = room;
    const uint8_t* p = expr + at + 3;
    at += 3 + n;
    if (op == ',') continue;
    // Room for this op and the closing one.
    if (ops + 2 > INT_PROGRAM_MAX_OPS) return 0;
    int binary = BinaryOperator(op);
    if (op == 'B' || op == 'W' || op == 'I' || op == 'L') {
      uint64_t bits = ReadOperand(p, n, op == 'B' ? 1 : op == 'W' ? 2 : op == 'I' ? 4 : 8);
      int64_t v = op == 'B' ? (int8_t)bits : op == 'W' ? (int16_t)bits : op == 'I' ? (int32_t)bits : (int64_t)bits;
      out[ops++] = IntProgramOp{IP_CONST, 0, 0, v};
      depth++;
    } else if (op == 'H') {
      int32_t v = OperandVariable(p, n);
      // System variables are computed when read; they keep the byte walk.
      if (v < FIRST_USER_VARIABLE) return 0;
      out[ops++] = IntProgramOp{IP_VARIABLE, (uint16_t)v, 0, 0};
      last = v;
      depth++;
    } else if (op == 'R') {
      if (depth < 1) return 0;
      out[ops++] = IntProgramOp{IP_NEGATE, 0, 0, 0};
    } else if (binary >= 0) {
      if (depth < 2) return 0;
      depth--;
      // Literals and variables pushed just before become operands of the op itself.
      IntProgramOp* right = ops > 0 && (out[ops - 1].mCode == IP_CONST || out[ops - 1].mCode == IP_VARIABLE)
                                ? &out[ops - 1]
                                : nullptr;
      IntProgramOp* left = right && ops > 1 && (out[ops - 2].mCode == IP_CONST || out[ops - 2].mCode == IP_VARIABLE)
                               ? &out[ops - 2]
                               : nullptr;
      uint8_t base = (uint8_t)(IP_BINARY + FORM_COUNT * binary);
      if (left && left->mCode == IP_CONST && right->mCode == IP_CONST) {
        left->mValue = ApplyBinary(binary, left->mValue, right->mValue);
        ops--;
      } else if (left) {
        bool leftVar = left->mCode == IP_VARIABLE, rightVar = right->mCode == IP_VARIABLE;
        *left = IntProgramOp{(uint8_t)(base + (!rightVar ? FORM_VAR_CONST : leftVar ? FORM_VAR_VAR : FORM_CONST_VAR)),
                             leftVar ? left->mVariable : right->mVariable, right->mVariable,
                             leftVar ? right->mValue : left->mValue};
        ops--;
      } else if (right) {
        right->mCode = (uint8_t)(base + (right->mCode == IP_CONST ? FORM_TOP_CONST : FORM_TOP_VAR));
      } else {
        out[ops++] = IntProgramOp{(uint8_t)(base + FORM_STACK), 0, 0, 0};
      }
    } else {
      return 0;
    }
  }
  // A result other than one value is left to the byte walk.
  if (depth != 1) return 0;
  out[ops] = IntProgramOp{IP_END, 0, 0, last};
  return ops + 1;
}

bool NormalOpcodeTable() { return g_NormalOpcodes; }

int32_t IntProgramVariable(const IntProgramOp* program) {
  return program[0].mCode == IP_VARIABLE && program[1].mCode == IP_END ? program[0].mVariable : -1;
}

int CompileIntAssignment(const IntProgramOp* value, int32_t variable, uint8_t op, IntProgramOp* out) {
  if (op >= ASSIGN_OPERATOR_COUNT || variable < FIRST_USER_VARIABLE || variable > 0xFFFF) return 0;
  int n = 0;
  for (; value[n].mCode != IP_END; n++) out[n] = value[n];
  out[n] = IntProgramOp{(uint8_t)(IP_STORE + op), (uint16_t)variable, 0, 0};
  // The target is read first, the value after it: the value's last variable, if any, is the
  // one the references name.
  out[n + 1] = IntProgramOp{IP_END, 0, 0, value[n].mValue >= 0 ? value[n].mValue : variable};
  return n + 2;
}

// What the closing op sets: the references as the byte walk leaves them.
inline void CloseIntProgram(const IntProgramOp& end) {
  g_RefBare = 0;
  g_SubscriptCount = 0;
  if (end.mValue >= 0) {
    g_RefVariable = (int32_t)end.mValue;
    g_RefElement = 0;
  }
}

bool RunIntProgram(const IntProgramOp* program, int64_t* result) {
  if (g_DeclarationMode || !g_NormalOpcodes) return false;
  // A lone literal or variable (assignment targets, most values) needs no dispatch.
  if (program[1].mCode == IP_END && (program[0].mCode == IP_CONST || program[0].mCode == IP_VARIABLE)) {
    int64_t value = program[0].mValue;
    if (program[0].mCode == IP_VARIABLE && !ReadPlainInt(program[0].mVariable, &value)) return false;
    *result = value;
    CloseIntProgram(program[1]);
    return true;
  }
  // Direct threading: every op ends with its own jump to the next op's code.
  static void* const kCode[IP_CODES] = {
      &&end, &&push_const, &&push_variable, &&negate,
#define KIVOR_FORMS(op) &&op##_ss, &&op##_tk, &&op##_tv, &&op##_vk, &&op##_vv, &&op##_kv,
      KIVOR_FORMS(add) KIVOR_FORMS(sub) KIVOR_FORMS(mul) KIVOR_FORMS(div) KIVOR_FORMS(mod) KIVOR_FORMS(band)
      KIVOR_FORMS(bor) KIVOR_FORMS(bxor) KIVOR_FORMS(land) KIVOR_FORMS(lor) KIVOR_FORMS(eq) KIVOR_FORMS(ne)
      KIVOR_FORMS(gt) KIVOR_FORMS(lt) KIVOR_FORMS(ge) KIVOR_FORMS(le)
#undef KIVOR_FORMS
      &&store_set, &&store_add, &&store_sub, &&store_mul, &&store_div, &&store_mod, &&store_and, &&store_or,
      &&store_xor,
  };
  int64_t* slot;
  int64_t stack[INT_PROGRAM_MAX_OPS];
  int64_t* sp = stack;
  int64_t tos = 0, a, b;
  const IntProgramOp* o = program;
#define KIVOR_NEXT goto* kCode[(++o)->mCode]
  goto* kCode[o->mCode];
end:
  *result = tos;
  CloseIntProgram(*o);
  return true;
push_const:
  *sp++ = tos;
  tos = o->mValue;
  KIVOR_NEXT;
push_variable:
  if (!ReadPlainInt(o->mVariable, &b)) return false;
  *sp++ = tos;
  tos = b;
  KIVOR_NEXT;
negate:
  tos = (int64_t)(0 - (uint64_t)tos);
  KIVOR_NEXT;
#define KIVOR_BINARY(op, value)                                                        \
  op##_ss : a = *--sp;                                                                 \
  b = tos;                                                                             \
  tos = (value);                                                                       \
  KIVOR_NEXT;                                                                          \
  op##_tk : a = tos;                                                                   \
  b = o->mValue;                                                                       \
  tos = (value);                                                                       \
  KIVOR_NEXT;                                                                          \
  op##_tv : if (!ReadPlainInt(o->mVariable, &b)) return false;                         \
  a = tos;                                                                             \
  tos = (value);                                                                       \
  KIVOR_NEXT;                                                                          \
  op##_vk : if (!ReadPlainInt(o->mVariable, &a)) return false;                         \
  b = o->mValue;                                                                       \
  *sp++ = tos;                                                                         \
  tos = (value);                                                                       \
  KIVOR_NEXT;                                                                          \
  op##_vv : if (!ReadPlainInt(o->mVariable, &a) || !ReadPlainInt(o->mRight, &b)) return false; \
  *sp++ = tos;                                                                         \
  tos = (value);                                                                       \
  KIVOR_NEXT;                                                                          \
  op##_kv : if (!ReadPlainInt(o->mRight, &b)) return false;                            \
  a = o->mValue;                                                                       \
  *sp++ = tos;                                                                         \
  tos = (value);                                                                       \
  KIVOR_NEXT;
  KIVOR_BINARY(add, (int64_t)((uint64_t)a + (uint64_t)b))
  KIVOR_BINARY(sub, (int64_t)((uint64_t)a - (uint64_t)b))
  KIVOR_BINARY(mul, (int64_t)((uint64_t)a * (uint64_t)b))
  KIVOR_BINARY(div, WrapDivide(a, b))
  KIVOR_BINARY(mod, WrapModulo(a, b))
  KIVOR_BINARY(band, a & b)
  KIVOR_BINARY(bor, a | b)
  KIVOR_BINARY(bxor, a ^ b)
  KIVOR_BINARY(land, a != 0 && b != 0)
  KIVOR_BINARY(lor, a != 0 || b != 0)
  KIVOR_BINARY(eq, a == b)
  KIVOR_BINARY(ne, a != b)
  KIVOR_BINARY(gt, a > b)
  KIVOR_BINARY(lt, a < b)
  KIVOR_BINARY(ge, a >= b)
  KIVOR_BINARY(le, a <= b)
#undef KIVOR_BINARY
  // The stores: the integer assignment operators on element 0, which exists in a plain integer.
  // A store is always followed by the closing op, which it carries out itself.
#define KIVOR_STORE(op, statement)                         \
  store_##op : if (!(slot = PlainIntSlot(o->mVariable))) return false; \
  statement;                                               \
  *result = tos;                                           \
  CloseIntProgram(o[1]);                                   \
  return true;
  KIVOR_STORE(set, *slot = tos)
  KIVOR_STORE(add, *slot = (int64_t)((uint64_t)*slot + (uint64_t)tos))
  KIVOR_STORE(sub, *slot = (int64_t)((uint64_t)*slot - (uint64_t)tos))
  KIVOR_STORE(mul, *slot = (int64_t)((uint64_t)*slot * (uint64_t)tos))
  KIVOR_STORE(div, if (tos != 0) *slot = WrapDivide(*slot, tos))
  KIVOR_STORE(mod, if (tos != 0) *slot = WrapModulo(*slot, tos))
  KIVOR_STORE(and, *slot &= tos)
  KIVOR_STORE(or, *slot |= tos)
  KIVOR_STORE(xor, *slot ^= tos)
#undef KIVOR_STORE
#undef KIVOR_NEXT
}

int64_t ParseHexDigits(const char* text) {
  uint64_t v = 0;
  for (const char* c = text; *c && *c != 'h' && *c != 'H'; c++) {
    int d;
    if (*c >= '0' && *c <= '9') d = *c - '0';
    else if (*c >= 'a' && *c <= 'f') d = *c - 'a' + 10;
    else if (*c >= 'A' && *c <= 'F') d = *c - 'A' + 10;
    else return -1;
    v = v << 4 | (uint64_t)d;
  }
  return (int64_t)v;
}

int64_t ParseHexText(const char* text) {
  if (strlen(text) > 1023) return -1;
  return ParseHexDigits(text);
}

int HexTextToDecimal(char* out, const char* text) {
  char digits[18];
  int n = 0;
  for (const char* c = text + 2; n <= 16; c++) {
    bool hex = (*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f') || (*c >= 'A' && *c <= 'F');
    if (!hex) break;
    if (n == 16) return -1;
    digits[n++] = *c;
  }
  if (n == 0) return -1;
  digits[n++] = 'h';
  digits[n] = 0;
  snprintf(out, 32, "%lld", (long long)ParseHexDigits(digits));
  return 0;
}
