// The expression evaluator: one walk over compiled postfix items, one handler per opcode byte,
// a fixed value stack and a pool of text buffers that are allocated once and kept.
#include "script/eval.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "script/operators_local.h"
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

uint64_t ReadOperand(const uint8_t* p, uint32_t length, uint32_t n) { return ReadExpressionOperand(p, length, n); }

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

int32_t OperandVariable(const uint8_t* p, uint32_t length) { return OperandVariableNumber(p, length); }

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

int OpStringLiteral(const uint8_t* p, uint32_t n) {
  if (g_StackPos >= EVAL_STACK_SLOTS) return Limit();
  Slot* s = &g_Stack[g_StackPos++];
  char* out = NewPoolText(s);
  if (!out) {
    if (g_PoolNext >= EVAL_POOL_TEXTS) return Limit();
    g_QuitFlag = 1;
    return 1;
  }
  g_PoolLength[s->text] = DecodeTextLiteral(p, n, out);
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

// Integer arithmetic on the integer values, real arithmetic on the real values; these
// operators do not look at texts (a text's values are 0).
template <int kOp>
void ApplyNumeric(Slot* a, const Slot* b) {
  if (IntegerArithmetic()) {
    int64_t v = IntBinary<kOp>(a->i, b->i);
    if (GivesTruth(kOp)) SetTruth(a, v != 0);
    else SetInt(a, v);
  } else if (!RealLeavesLeft(kOp)) {
    double v = RealBinary<kOp>(a->r, b->r);
    if (GivesTruth(kOp)) SetTruth(a, v != 0.0);
    else SetReal(a, v);
  }
}

template <int kOp>
int OpNumeric(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  ApplyNumeric<kOp>(a, b);
  return 0;
}

// '+' joins two texts; a text with a number is refused.
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
  ApplyNumeric<BIN_ADD>(a, b);
  return 0;
}

// '=' and '!' compare two texts byte for byte; a text with a number is refused.
template <int kOp>
int OpEquality(const uint8_t*, uint32_t) {
  Slot *a, *b;
  if (!TakeTwo(&a, &b)) return Underflow();
  if (a->text || b->text) {
    if (!a->text || !b->text) return MixedText();
    bool same = g_PoolLength[a->text] == g_PoolLength[b->text] &&
                memcmp(g_Pool[a->text], g_Pool[b->text], g_PoolLength[a->text]) == 0;
    SetTruth(a, same == (kOp == BIN_EQ));
    return 0;
  }
  ApplyNumeric<kOp>(a, b);
  return 0;
}

int OpNegate(const uint8_t*, uint32_t) {
  if (g_StackPos < 1) return Underflow();
  Slot* s = &g_Stack[g_StackPos - 1];
  if (IntegerArithmetic()) SetInt(s, IntNegate(s->i));
  else SetReal(s, -s->r);
  return 0;
}

int OpToString(const uint8_t*, uint32_t) {
  if (g_StackPos < 1) return Underflow();
  Slot* s = &g_Stack[g_StackPos - 1];
  char text[REAL_TEXT_BYTES];
  size_t n = IntegerArithmetic() ? FormatInteger(text, s->i) : FormatReal(text, s->r);
  return PushText(s, text, n);
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
  g_OpcodeTable['-'] = OpNumeric<BIN_SUB>;
  g_OpcodeTable['*'] = OpNumeric<BIN_MUL>;
  g_OpcodeTable['/'] = OpNumeric<BIN_DIV>;
  g_OpcodeTable['%'] = OpNumeric<BIN_MOD>;
  g_OpcodeTable['A'] = OpNumeric<BIN_AND>;
  g_OpcodeTable['O'] = OpNumeric<BIN_OR>;
  g_OpcodeTable['^'] = OpNumeric<BIN_XOR>;
  g_OpcodeTable['&'] = OpNumeric<BIN_LAND>;
  g_OpcodeTable['|'] = OpNumeric<BIN_LOR>;
  g_OpcodeTable['='] = OpEquality<BIN_EQ>;
  g_OpcodeTable['!'] = OpEquality<BIN_NE>;
  g_OpcodeTable['>'] = OpNumeric<BIN_GT>;
  g_OpcodeTable['<'] = OpNumeric<BIN_LT>;
  g_OpcodeTable['Z'] = OpNumeric<BIN_GE>;
  g_OpcodeTable['S'] = OpNumeric<BIN_LE>;
}

int RunExpression(const uint8_t* expr, uint32_t length) {
  g_PoolNext = 1;
  g_StackPos = 0;
  g_Depth = 0;
  g_SubscriptCount = 0;
  g_RefBare = 0;
  g_Stack[0].text = 0;
  uint32_t at = 0, n;
  uint8_t op;
  const uint8_t* operand;
  while (NextExpressionItem(expr, length, &at, &op, &operand, &n))
    if (g_OpcodeTable[op](operand, n) != 0) return -1;
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

bool NormalOpcodeTable() { return g_NormalOpcodes; }

uint64_t ReadExpressionOperand(const uint8_t* p, uint32_t length, uint32_t n) {
  uint64_t v = 0;
  for (uint32_t k = 0; k < n && k < length; k++) v |= (uint64_t)p[k] << (8 * k);
  return v;
}

int32_t OperandVariableNumber(const uint8_t* p, uint32_t length) {
  return (int32_t)((ReadExpressionOperand(p, length, 3) >> 8) & 0xFFFF);
}

uint32_t DecodeTextLiteral(const uint8_t* p, uint32_t n, char* out) {
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
  return o;
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
