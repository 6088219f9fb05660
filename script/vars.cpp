// Script variables: the table, element stores and reads, array storage, the definitions file
// walk, the declaration commands, the assignment command and its operator tables.
#include "script/vars.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/memory_budget.h"
#include "script/eval.h"
#include "script/operators_local.h"
#include "script/script_set.h"
#include "script/task.h"

VarRecord* g_VariableTable;
int32_t g_VariableCount;
uint64_t g_VariableShapeEpoch = 1;
IntAssignOperator g_IntAssignOperators[ASSIGN_OPERATOR_COUNT];
RealAssignOperator g_RealAssignOperators[ASSIGN_OPERATOR_COUNT];

namespace {

constexpr int32_t MSG_TOO_MANY_ELEMENTS = 101100;
constexpr int32_t MSG_NO_ELEMENTS = 101110;
constexpr int32_t MSG_WRONG_TYPE = 101140;
constexpr int32_t MSG_NO_MEMORY = 100010;
constexpr int32_t MSG_DEFINITION_RANGE = 900070;
constexpr int32_t MSG_NO_VARIABLE = 108010;
constexpr size_t MAX_TEXT_ELEMENT = 65534;   // the capacity is kept in 16 bits

// Storage is counted against the script memory budget before it is made; an allocation past the
// budget fails as one the system refused. Both give null then, with nothing counted.
void* HeldAlloc(VarRecord* var, size_t count, size_t unit) {
  uint64_t bytes = (uint64_t)count * unit;
  if (!TakeScriptMemory(bytes)) return nullptr;
  void* p = calloc(count ? count : 1, unit);
  if (!p) return GiveScriptMemory(bytes), nullptr;
  var->mHeldBytes += bytes;
  return p;
}
void HeldFree(VarRecord* var, void* p, uint64_t bytes) {
  free(p);
  GiveScriptMemory(bytes);
  var->mHeldBytes -= bytes;
}

void FreeStorage(VarRecord* var) {
  g_VariableShapeEpoch++;
  GiveScriptMemory(var->mHeldBytes);
  var->mHeldBytes = 0;
  free(var->mInts);
  free(var->mReals);
  if (var->mTexts && var->mTextCapacity) {
    for (int64_t k = 0; k < var->mCount; k++)
      if (var->mTextCapacity[k]) free(var->mTexts[k]);
  }
  free(var->mTexts);
  free(var->mTextCapacity);
  free(var->mSharedText);
  var->mInts = nullptr;
  var->mReals = nullptr;
  var->mTexts = nullptr;
  var->mTextCapacity = nullptr;
  var->mSharedText = nullptr;
}

// The element's index when it lies inside the variable, else -1.
inline int64_t ElementIndex(const VarRecord* var, int32_t element) {
  return element >= 0 && element < var->mCount ? element : -1;
}

int NoMemory() {
  ReportScriptError(MSG_NO_MEMORY, 1);
  return -1;
}

// Replaces a variable's storage with `count` elements of its type; every element zero or the
// empty text. The old storage is freed first.
int AllocStorage(VarRecord* var, uint8_t type, int64_t count) {
  FreeStorage(var);
  var->mCount = 0;
  size_t n = (size_t)count;
  if (type == VAR_INT) {
    var->mInts = static_cast<int64_t*>(HeldAlloc(var, n, sizeof(int64_t)));
    if (!var->mInts) return NoMemory();
  } else if (type == VAR_REAL) {
    var->mReals = static_cast<double*>(HeldAlloc(var, n, sizeof(double)));
    if (!var->mReals) return NoMemory();
  } else {
    var->mTexts = static_cast<char**>(HeldAlloc(var, n, sizeof(char*)));
    var->mTextCapacity = static_cast<uint16_t*>(HeldAlloc(var, n, sizeof(uint16_t)));
    if (!var->mTexts || !var->mTextCapacity) {
      FreeStorage(var);
      return NoMemory();
    }
  }
  var->mCount = count;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Operator routines.

inline int64_t* IntSlot(int32_t v, int32_t element) {
  VarRecord* var = GetVariable(v);
  if (!var || !var->mInts || ElementIndex(var, element) < 0) return nullptr;
  return &var->mInts[element];
}
inline double* RealSlot(int32_t v, int32_t element) {
  VarRecord* var = GetVariable(v);
  if (!var || !var->mReals || ElementIndex(var, element) < 0) return nullptr;
  return &var->mReals[element];
}

template <int kOp>
void AssignIntElement(int32_t v, int32_t e, int64_t x) {
  if (int64_t* p = IntSlot(v, e)) IntAssign<kOp>(p, x);
}
template <int kOp>
void AssignRealElement(int32_t v, int32_t e, double x) {
  if (double* p = RealSlot(v, e)) RealAssign<kOp>(p, x);
}

#define KIVOR_INT_ENTRY(name, code) AssignIntElement<code>,
#define KIVOR_REAL_ENTRY(name, code) AssignRealElement<code>,
const IntAssignOperator kIntAssignOperators[ASSIGN_OPERATOR_COUNT] = {KIVOR_ASSIGN_OPERATORS(KIVOR_INT_ENTRY)};
const RealAssignOperator kRealAssignOperators[ASSIGN_OPERATOR_COUNT] = {KIVOR_ASSIGN_OPERATORS(KIVOR_REAL_ENTRY)};
#undef KIVOR_INT_ENTRY
#undef KIVOR_REAL_ENTRY

// ---------------------------------------------------------------------------------------------
// The definitions file.

struct DefinitionReader {
  const uint8_t* data;
  size_t size;
  size_t at;
  bool Need(size_t n) const { return at <= size && size - at >= n; }
  uint64_t Read(int bytes) {
    uint64_t v = 0;
    for (int k = 0; k < bytes; k++) v |= (uint64_t)data[at + k] << (8 * k);
    at += bytes;
    return v;
  }
};

struct Definition {
  uint8_t scope;
  uint16_t file;
  uint16_t variable;
  uint8_t type;
  uint8_t dimCount;
  int32_t dims[VAR_MAX_DIMS];
  int64_t intValue;
  double realValue;
  const uint8_t* expr;
  uint32_t exprLength;
};

// Reads the next definition; false when the file ends early or holds a bad field.
bool ReadDefinition(DefinitionReader* r, Definition* d) {
  if (!r->Need(7)) return false;
  d->scope = (uint8_t)r->Read(1);
  d->file = (uint16_t)r->Read(2);
  d->variable = (uint16_t)r->Read(2);
  d->type = (uint8_t)r->Read(1);
  d->dimCount = (uint8_t)r->Read(1);
  if (d->type < VAR_INT || d->type > VAR_STRING || d->dimCount > VAR_MAX_DIMS) return false;
  if (!r->Need((size_t)d->dimCount * 4)) return false;
  for (int k = 0; k < VAR_MAX_DIMS; k++) d->dims[k] = k < d->dimCount ? (int32_t)r->Read(4) : 0;
  if (d->type == VAR_STRING) {
    if (!r->Need(2)) return false;
    d->exprLength = (uint32_t)r->Read(2);
    if (!r->Need(d->exprLength)) return false;
    d->expr = r->data + r->at;
    r->at += d->exprLength;
  } else {
    if (!r->Need(8)) return false;
    uint64_t bits = r->Read(8);
    d->intValue = (int64_t)bits;
    memcpy(&d->realValue, &bits, sizeof(double));
  }
  return true;
}

}  // namespace

bool AllocVariableTable(int32_t count) {
  FreeVariableTable();
  g_VariableShapeEpoch++;
  if (count <= 0) return true;
  g_VariableTable = static_cast<VarRecord*>(calloc((size_t)count, sizeof(VarRecord)));
  if (!g_VariableTable) {
    ReportError(MSG_NO_MEMORY, 1);
    return false;
  }
  g_VariableCount = count;
  return true;
}

void FreeVariableTable() {
  for (int32_t v = 0; v < g_VariableCount; v++) FreeStorage(&g_VariableTable[v]);
  free(g_VariableTable);
  g_VariableTable = nullptr;
  g_VariableCount = 0;
  g_VariableShapeEpoch++;
}

int StoreIntElement(int32_t v, int32_t element, int64_t value) {
  VarRecord* var = GetVariable(v);
  if (!var || ElementIndex(var, element) < 0) return -1;
  if (var->mType == VAR_INT && var->mInts) var->mInts[element] = value;
  else if (var->mType == VAR_REAL && var->mReals) var->mReals[element] = (double)value;
  else ReportScriptError(MSG_WRONG_TYPE, 1);
  return 0;
}

int StoreRealElement(int32_t v, int32_t element, double value) {
  VarRecord* var = GetVariable(v);
  if (!var || ElementIndex(var, element) < 0) return -1;
  if (var->mType == VAR_INT && var->mInts) var->mInts[element] = RealToInt64(value);
  else if (var->mType == VAR_REAL && var->mReals) var->mReals[element] = value;
  else ReportScriptError(MSG_WRONG_TYPE, 1);
  return 0;
}

int StoreStringElementN(int32_t v, int32_t element, const char* text, size_t length) {
  VarRecord* var = GetVariable(v);
  if (!var || ElementIndex(var, element) < 0) return -1;
  if (var->mType != VAR_STRING || !var->mTexts) {
    ReportScriptError(MSG_WRONG_TYPE, 1);
    return -1;
  }
  if (length > MAX_TEXT_ELEMENT - 1) return -1;
  size_t used = text ? length : 0;
  char* own = var->mTextCapacity[element] ? var->mTexts[element] : nullptr;
  // The empty text needs no buffer of its own.
  if (!own && used == 0) {
    var->mTexts[element] = nullptr;
    return 0;
  }
  size_t need = length + 1;
  if (!own || var->mTextCapacity[element] < need) {
    uint64_t grown = need - var->mTextCapacity[element];
    if (!TakeScriptMemory(grown)) return NoMemory();
    char* buffer = static_cast<char*>(realloc(own, need));
    if (!buffer) return GiveScriptMemory(grown), NoMemory();
    var->mHeldBytes += grown;
    var->mTexts[element] = buffer;
    var->mTextCapacity[element] = (uint16_t)need;
  }
  // The text may be this element's own buffer (a system variable's cache).
  memmove(var->mTexts[element], text ? text : "", text ? length : 0);
  var->mTexts[element][text ? length : 0] = 0;
  return 0;
}

int StoreStringElement(int32_t v, int32_t element, const char* text) {
  return StoreStringElementN(v, element, text, text ? strlen(text) : 0);
}

int64_t ReadIntElement(int32_t v, int32_t element) {
  VarRecord* var = GetVariable(v);
  if (!var || ElementIndex(var, element) < 0) return 0;
  if (v < FIRST_USER_VARIABLE) return ReadSystemIntVariable(v, element);
  return var->mInts ? var->mInts[element] : 0;
}

double ReadRealElement(int32_t v, int32_t element) {
  VarRecord* var = GetVariable(v);
  if (!var || ElementIndex(var, element) < 0) return 0.0;
  if (v < FIRST_USER_VARIABLE) return ReadSystemRealVariable(v, element);
  return var->mReals ? var->mReals[element] : 0.0;
}

const char* ReadStringElement(int32_t v, int32_t element) {
  VarRecord* var = GetVariable(v);
  if (!var || ElementIndex(var, element) < 0 || var->mType != VAR_STRING || !var->mTexts) return nullptr;
  if (v < FIRST_USER_VARIABLE) {
    static char scratch[TEXT_VALUE_BYTES];
    scratch[0] = 0;
    ReadSystemStringVariable(v, element, scratch);
    scratch[TEXT_VALUE_BYTES - 1] = 0;
    if (StoreStringElement(v, element, scratch) != 0) return nullptr;
  }
  return var->mTexts[element] ? var->mTexts[element] : "";
}

int ComputeElementCount(int32_t v) {
  g_VariableShapeEpoch++;
  VarRecord* var = GetVariable(v);
  if (!var) return -1;
  int64_t count = 1;
  for (int k = 0; k < var->mDimCount && k < VAR_MAX_DIMS; k++) {
    if (var->mDims[k] <= 0) {
      ReportScriptError(MSG_NO_ELEMENTS, 1);
      return -1;
    }
    count *= var->mDims[k];
    if (count > VAR_MAX_ELEMENTS) {
      ReportScriptErrorF(MSG_TOO_MANY_ELEMENTS, 1, (int)VAR_MAX_ELEMENTS);
      return -1;
    }
  }
  var->mCount = count;
  return 0;
}

int ResizeArray(int32_t v, int64_t newCount) {
  g_VariableShapeEpoch++;
  VarRecord* var = GetVariable(v);
  if (!var || var->mType < VAR_INT || var->mType > VAR_STRING) return 0;
  // The new size is checked like a declaration before any storage changes.
  VarRecord shape = *var;
  int32_t saved = var->mDims[0];
  uint8_t savedDims = var->mDimCount;
  int64_t oldCount = var->mCount;
  if (var->mDimCount == 0) var->mDimCount = 1;
  var->mDims[0] = newCount > INT32_MAX ? INT32_MAX : newCount < INT32_MIN ? INT32_MIN : (int32_t)newCount;
  var->mCount = oldCount;
  if (ComputeElementCount(v) != 0) {
    var->mDims[0] = saved;
    var->mDimCount = savedDims;
    var->mCount = oldCount;
    return -1;
  }
  int64_t total = var->mCount;
  var->mCount = oldCount;
  int64_t keep = oldCount < total ? oldCount : total;
  if (var->mType == VAR_INT || var->mType == VAR_REAL) {
    size_t unit = var->mType == VAR_INT ? sizeof(int64_t) : sizeof(double);
    void* old = var->mType == VAR_INT ? (void*)var->mInts : (void*)var->mReals;
    void* fresh = HeldAlloc(var, (size_t)total, unit);
    if (!fresh) {
      *var = shape;
      return NoMemory();
    }
    if (old) memcpy(fresh, old, (size_t)keep * unit);
    if (old) HeldFree(var, old, (uint64_t)oldCount * unit);
    if (var->mType == VAR_INT) var->mInts = static_cast<int64_t*>(fresh);
    else var->mReals = static_cast<double*>(fresh);
  } else {
    char** texts = static_cast<char**>(HeldAlloc(var, (size_t)total, sizeof(char*)));
    uint16_t* caps = texts ? static_cast<uint16_t*>(HeldAlloc(var, (size_t)total, sizeof(uint16_t))) : nullptr;
    if (!texts || !caps) {
      if (texts) HeldFree(var, texts, (uint64_t)total * sizeof(char*));
      *var = shape;
      return NoMemory();
    }
    for (int64_t k = 0; k < oldCount; k++) {
      if (k < keep && var->mTexts) {
        texts[k] = var->mTexts[k];
        caps[k] = var->mTextCapacity[k];
      } else if (var->mTexts && var->mTextCapacity[k]) {
        HeldFree(var, var->mTexts[k], var->mTextCapacity[k]);
      }
    }
    // New elements are the empty text, which needs no buffer.
    if (var->mTexts) HeldFree(var, var->mTexts, (uint64_t)oldCount * sizeof(char*));
    if (var->mTextCapacity) HeldFree(var, var->mTextCapacity, (uint64_t)oldCount * sizeof(uint16_t));
    var->mTexts = texts;
    var->mTextCapacity = caps;
  }
  var->mCount = total;
  return 0;
}

int AllocIntArray(int32_t v, int64_t value) {
  VarRecord* var = GetVariable(v);
  if (!var) return -1;
  FreeStorage(var);
  var->mType = VAR_INT;
  if (ComputeElementCount(v) != 0) {
    var->mCount = 0;
    return -1;
  }
  if (AllocStorage(var, VAR_INT, var->mCount) != 0) return -1;
  for (int64_t k = 0; k < var->mCount; k++) var->mInts[k] = value;
  return 0;
}

int AllocRealArray(int32_t v, double value) {
  VarRecord* var = GetVariable(v);
  if (!var) return -1;
  FreeStorage(var);
  var->mType = VAR_REAL;
  if (ComputeElementCount(v) != 0) {
    var->mCount = 0;
    return -1;
  }
  if (AllocStorage(var, VAR_REAL, var->mCount) != 0) return -1;
  for (int64_t k = 0; k < var->mCount; k++) var->mReals[k] = value;
  return 0;
}

int AllocStringArray(int32_t v, const char* text, size_t length) {
  VarRecord* var = GetVariable(v);
  if (!var) return -1;
  FreeStorage(var);
  var->mType = VAR_STRING;
  if (ComputeElementCount(v) != 0) {
    var->mCount = 0;
    return -1;
  }
  if (AllocStorage(var, VAR_STRING, var->mCount) != 0) return -1;
  // Every element starts as the one shared copy of the initial text (or as the empty text).
  if (!text || length == 0) return 0;
  if (length > MAX_TEXT_ELEMENT - 1) return -1;
  var->mSharedText = static_cast<char*>(HeldAlloc(var, length + 1, 1));
  if (!var->mSharedText) return NoMemory();
  memcpy(var->mSharedText, text, length);
  var->mSharedText[length] = 0;
  for (int64_t k = 0; k < var->mCount; k++) var->mTexts[k] = var->mSharedText;
  return 0;
}

void UpperCaseAscii(char* text) {
  for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p;) {
    if (g_LeadByteTable[*p] && p[1]) {
      p += 2;
      continue;
    }
    if (*p >= 'a' && *p <= 'z') *p = (unsigned char)(*p - 'a' + 'A');
    p++;
  }
}

int CreateScriptVariables(int32_t key) {
  if (!g_VariableDefinitions || g_VariableDefinitionsSize < 10) return 0;
  DefinitionReader r{g_VariableDefinitions, g_VariableDefinitionsSize, 8};
  uint16_t count = (uint16_t)r.Read(2);
  static char* text;
  for (uint16_t n = 0; n < count; n++) {
    Definition d;
    // The file was checked whole when it was loaded; a short one simply ends here.
    if (!ReadDefinition(&r, &d)) return 0;
    bool global = d.scope == 1 || d.scope == 3;
    bool wanted = key < 0 ? global : (d.scope == 2 && d.file == key);
    if (d.variable >= g_VariableCount) {
      ReportError(MSG_DEFINITION_RANGE, 1);
      return -1;
    }
    if (!wanted) continue;
    VarRecord* var = &g_VariableTable[d.variable];
    var->mDimCount = d.dimCount;
    memcpy(var->mDims, d.dims, sizeof var->mDims);
    int result;
    if (d.type == VAR_INT) {
      result = AllocIntArray(d.variable, d.intValue);
    } else if (d.type == VAR_REAL) {
      result = AllocRealArray(d.variable, d.realValue);
    } else {
      if (!text && !(text = static_cast<char*>(malloc(TEXT_VALUE_BYTES)))) return NoMemory();
      text[0] = 0;
      int32_t length = EvalStringExpr(text, TEXT_VALUE_BYTES, d.expr, d.exprLength);
      result = AllocStringArray(d.variable, text, (size_t)length);
    }
    if (result != 0) return -1;
  }
  return 0;
}

// Checks the definitions file whole: every definition readable and inside the file.
int ParseVariableDefinitions(const uint8_t* data, size_t size) {
  if (size < 10) return -1;
  DefinitionReader r{data, size, 8};
  uint16_t count = (uint16_t)r.Read(2);
  for (uint16_t n = 0; n < count; n++) {
    Definition d;
    if (!ReadDefinition(&r, &d)) return -1;
  }
  g_VariableDefinitions = data;
  g_VariableDefinitionsSize = size;
  return 0;
}

void InitAssignOperatorTable() {
  memcpy(g_IntAssignOperators, kIntAssignOperators, sizeof g_IntAssignOperators);
  memcpy(g_RealAssignOperators, kRealAssignOperators, sizeof g_RealAssignOperators);
}

// ---------------------------------------------------------------------------------------------
// Commands.

namespace {

// The shared body of the three declaration commands.
int Declare(int code, uint8_t type) {
  if (DecodeCommandArguments(code) != 0) return -1;
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  if (count < 1) return 0;
  const uint8_t* expr;
  uint32_t length;
  if (!ArgumentExpression(&args[0], &expr, &length)) return -1;
  g_DeclarationMode = 1;
  EvalIntegerExpr(expr, length);
  g_DeclarationMode = 0;
  if (g_QuitFlag) return -1;
  int32_t v = g_RefVariable;
  VarRecord* var = GetVariable(v);
  if (!var) {
    ReportScriptError(MSG_NO_VARIABLE, 1);
    return -1;
  }
  int32_t dims[VAR_MAX_DIMS] = {};
  int32_t dimCount = g_SubscriptCount;
  for (int32_t k = 0; k < dimCount; k++) dims[k] = (int32_t)g_Subscripts[k];
  static char* text;
  int64_t intValue = 0;
  double realValue = 0.0;
  int32_t textLength = 0;
  if (type == VAR_STRING) {
    if (!text && !(text = static_cast<char*>(malloc(TEXT_VALUE_BYTES)))) return NoMemory();
    text[0] = 0;
  }
  if (count >= 2) {
    if (type == VAR_INT) intValue = EvalArgumentInt(&args[1]);
    else if (type == VAR_REAL) realValue = EvalArgumentReal(&args[1], 5);
    else textLength = EvalArgumentString(&args[1], text, TEXT_VALUE_BYTES, true);
    if (g_QuitFlag) return -1;
  }
  FreeStorage(var);
  var->mDimCount = (uint8_t)dimCount;
  memcpy(var->mDims, dims, sizeof var->mDims);
  int result = type == VAR_INT    ? AllocIntArray(v, intValue)
               : type == VAR_REAL ? AllocRealArray(v, realValue)
                                  : AllocStringArray(v, text, (size_t)textLength);
  return result == 0 ? 0 : -1;
}

}  // namespace

int CmdDeclareInt() { return Declare(42, VAR_INT); }
int CmdDeclareReal() { return Declare(26, VAR_REAL); }
int CmdDeclareString() { return Declare(81, VAR_STRING); }

int CmdAssign() {
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  if (count < 2) {
    ReportScriptError(MSG_BROKEN_COMMAND, 1);
    return -1;
  }
  EvalArgumentInt(&args[0]);
  if (g_QuitFlag) return -1;
  int32_t v = g_RefVariable;
  int32_t e = (int32_t)g_RefElement;
  if (v < FIRST_USER_VARIABLE) return AssignSystemVariable(v, e, &args[1]);
  VarRecord* var = GetVariable(v);
  uint8_t op = args[0].mOperator;
  uint8_t type = var ? var->mType : (uint8_t)VAR_NONE;
  if (op >= ASSIGN_OPERATOR_COUNT) {
    ReportScriptError(MSG_BROKEN_COMMAND, 1);
    return -1;
  }
  if (type == VAR_INT) {
    int64_t value = EvalArgumentInt(&args[1]);
    g_IntAssignOperators[op](v, e, value);
    return 0;
  }
  if (type == VAR_REAL) {
    double value = EvalArgumentReal(&args[1], 10);
    g_RealAssignOperators[op](v, e, value);
    return 0;
  }
  if (type == VAR_STRING && op <= 1) {
    static char* text;
    if (!text && !(text = static_cast<char*>(malloc(TEXT_VALUE_BYTES)))) return NoMemory();
    size_t used = 0;
    text[0] = 0;
    if (op == 1) {
      const char* old = ReadStringElement(v, e);
      if (old) CopyTextBounded(text, TEXT_VALUE_BYTES, old);
      used = strlen(text);
    }
    int32_t n = EvalArgumentString(&args[1], text + used, TEXT_VALUE_BYTES - used, false);
    StoreStringElementN(v, e, text, used + (size_t)(n > 0 ? n : 0));
    return 0;
  }
  ReportScriptError(MSG_WRONG_TYPE, 1);
  return -1;
}

bool BuiltinAssignOperators() {
  return memcmp(g_IntAssignOperators, kIntAssignOperators, sizeof g_IntAssignOperators) == 0 &&
         memcmp(g_RealAssignOperators, kRealAssignOperators, sizeof g_RealAssignOperators) == 0;
}
