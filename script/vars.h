// Script variables: the variable record and table, element stores and reads, array storage,
// the declaration and assignment commands and the assignment-operator table.
#pragma once

#include <cstddef>
#include <cstdint>

struct CommandArgument;

enum : uint8_t { VAR_NONE = 0, VAR_INT = 1, VAR_REAL = 2, VAR_STRING = 3 };

constexpr int VAR_MAX_DIMS = 8;
constexpr int64_t VAR_MAX_ELEMENTS = 4000000;
constexpr int32_t FIRST_USER_VARIABLE = 1000;
constexpr int TEXT_VALUE_BYTES = 4096;   // every text value stays below this size

struct VarRecord {
  uint8_t mType;
  uint8_t mDimCount;
  int32_t mDims[VAR_MAX_DIMS];
  int64_t mCount;
  int64_t* mInts;
  double* mReals;
  // A text element owns its buffer when its capacity is above 0. Otherwise it is null (the
  // empty text) or the declaration's initial text, kept once in `mSharedText` for all the
  // elements that still hold it, so a large array costs its tables, not a buffer an element.
  char** mTexts;
  uint16_t* mTextCapacity;
  char* mSharedText;
  // What the storage above counts against the script memory budget (app/memory_budget.h).
  uint64_t mHeldBytes;
};

extern VarRecord* g_VariableTable;
extern int32_t g_VariableCount;   // records 0 .. count - 1

// The record of `v`, or null when the table does not hold that number.
inline VarRecord* GetVariable(int32_t v) {
  return v >= 0 && v < g_VariableCount ? &g_VariableTable[v] : nullptr;
}

// Element 0 of user variable `v` when it holds plain integers, else null.
inline int64_t* PlainIntSlot(int32_t v) {
  VarRecord* var = GetVariable(v);
  return var && var->mType == VAR_INT && var->mInts && var->mCount > 0 ? var->mInts : nullptr;
}

// Raised whenever a variable's type, shape or storage may have changed (and with the table
// itself), so code that keeps pointers to elements knows when to look them up again. Element
// stores leave it alone.
extern uint64_t g_VariableShapeEpoch;

// Allocates `count` zero-filled records (freeing any earlier table); false after 100010.
bool AllocVariableTable(int32_t count);
// Frees every variable's storage and the table itself.
void FreeVariableTable();

int StoreIntElement(int32_t v, int32_t element, int64_t value);
int StoreRealElement(int32_t v, int32_t element, double value);
int StoreStringElement(int32_t v, int32_t element, const char* text);
int StoreStringElementN(int32_t v, int32_t element, const char* text, size_t length);
int64_t ReadIntElement(int32_t v, int32_t element);
double ReadRealElement(int32_t v, int32_t element);
const char* ReadStringElement(int32_t v, int32_t element);

int ResizeArray(int32_t v, int64_t newCount);
int ComputeElementCount(int32_t v);
int AllocIntArray(int32_t v, int64_t value);
int AllocRealArray(int32_t v, double value);
int AllocStringArray(int32_t v, const char* text, size_t length);
void UpperCaseAscii(char* text);

// Creates the variables of the definitions file: key -1 the global scopes, else the local
// definitions of that script file. 0, or -1 after a message.
int CreateScriptVariables(int32_t key);

// The one defined conversion of a double to a 64-bit integer: toward zero, NaN gives 0 and
// values outside the range give the nearest end.
int64_t RealToInt64(double value);

// The assignment operators by their code 0-8 (=, +=, -=, *=, /=, %=, &=, |=, ^=): one table
// for integer elements, one for real elements. An element outside the variable is ignored.
constexpr int ASSIGN_OPERATOR_COUNT = 9;
using IntAssignOperator = void (*)(int32_t v, int32_t element, int64_t value);
using RealAssignOperator = void (*)(int32_t v, int32_t element, double value);
extern IntAssignOperator g_IntAssignOperators[ASSIGN_OPERATOR_COUNT];
extern RealAssignOperator g_RealAssignOperators[ASSIGN_OPERATOR_COUNT];
// Whether both tables hold the routines InitAssignOperatorTable puts there.
bool BuiltinAssignOperators();

int CmdDeclareInt();
int CmdDeclareReal();
int CmdDeclareString();
int CmdAssign();

// System variables (numbers below 1000), computed when read and assigned by the assignment
// command; defined by the system-variable code.
int64_t ReadSystemIntVariable(int32_t v, int32_t element);
double ReadSystemRealVariable(int32_t v, int32_t element);
int ReadSystemStringVariable(int32_t v, int32_t element, char* buffer);
// The assignment command's branch for a system variable: the value's argument record is
// evaluated by the system code itself. 0, or -1 after a message.
int AssignSystemVariable(int32_t v, int32_t element, const CommandArgument* value);
