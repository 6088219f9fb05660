// Variable utility and information commands: number and text conversion, take and remove by
// characters, case and width conversion, array resize, insert and delete, variable facts.
#include "script/var_utility.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "layers/layer.h"
#include "platform/platform.h"
#include "script/eval.h"
#include "script/sjis_width_case.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int CMD_VARIABLE_UTILITY = 91;
constexpr int CMD_VARIABLE_INFO = 92;

constexpr int32_t MSG_WRONG_TYPE = 101140;
constexpr int32_t MSG_EMPTY_TEXT = 101450;
constexpr int32_t MSG_CONVERT_KINDS = 108200;
constexpr int32_t MSG_NOT_A_NUMBER = 108210;
constexpr int32_t MSG_NOT_TEXT = 108220;
constexpr int32_t MSG_TAKE_START = 120010;
constexpr int32_t MSG_TAKE_COUNT = 120020;
constexpr int32_t MSG_REMOVE_START = 120110;
constexpr int32_t MSG_REMOVE_COUNT = 120120;

// Parameter ids of the utility command.
enum : int {
  U_A = 0, U_B, U_REMOVE, U_TAKE, U_START, U_COUNT, U_CONVERT, U_UPPER_ASCII, U_UPPER_MB,
  U_LOWER_ASCII, U_LOWER_MB, U_TO_FULL, U_TO_HALF, U_RESIZE, U_INSERT, U_DELETE,
};
// Parameter ids of the information command.
enum : int {
  I_A = 0, I_D, I_TYPE, I_WIDTH, I_DIMS, I_DIM1, I_DIM8 = I_DIM1 + 7, I_LENGTH, I_SEARCH, I_FIND_INT,
  I_FIND_REAL, I_FIND_TEXT, I_FROM,
};

// A variable argument: the variable and element its expression referred to (variable 0,
// element 0 when the script did not give it).
struct Ref {
  int32_t v;
  int32_t e;
};

Ref RefOf(int id) {
  int pos = ParamPosition(id);
  if (!pos) return Ref{0, 0};
  int64_t e = g_ArgRefElement[pos];
  // An element no 32-bit index can name is outside every variable: -1 makes the stores refuse it.
  return Ref{g_ArgReference[pos], e >= 0 && e <= INT32_MAX ? (int32_t)e : -1};
}

uint8_t TypeOf(int32_t v) {
  const VarRecord* var = GetVariable(v);
  return var ? var->mType : (uint8_t)VAR_NONE;
}

int64_t IntParam(int id) {
  int pos = ParamPosition(id);
  return pos ? g_ArgInteger[pos] : 0;
}

const char* TextOf(Ref r) {
  const char* text = ReadStringElement(r.v, r.e);
  return text ? text : "";
}

int Fail(int32_t id) {
  ReportScriptError(id, 1);
  return -1;
}

int ArrayBox(const char* utf8) {
  ShowErrorBox(nullptr, "%s", ToCp932Text(utf8).c_str());
  return -1;
}

// The text operations need a text A, and a text B when B was given.
bool TextOperands(Ref a, Ref b) {
  return TypeOf(a.v) == VAR_STRING && (!ParamPosition(U_B) || TypeOf(b.v) == VAR_STRING);
}

size_t CharLength(const char* text, size_t pos) { return 1 + g_LeadByteTable[(uint8_t)text[pos]]; }

// _atoi64 rules: optional sign, then digits up to the first other byte; wraps, never traps.
int64_t ParseDecimal(const char* text) {
  const char* p = text;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; p++) value = value * 10u + (uint64_t)(*p - '0');
  return (int64_t)(negative ? 0u - value : value);
}

int Convert(Ref a, Ref b) {
  uint8_t ta = TypeOf(a.v), tb = TypeOf(b.v);
  bool numericA = ta == VAR_INT || ta == VAR_REAL, numericB = tb == VAR_INT || tb == VAR_REAL;
  if ((numericA && numericB) || ta == tb) return Fail(MSG_CONVERT_KINDS);
  char out[64];
  if (ta == VAR_INT) {
    snprintf(out, sizeof out, "%" PRId64, ReadIntElement(a.v, a.e));
    StoreStringElement(b.v, b.e, out);
    return 0;
  }
  if (ta == VAR_REAL) {
    // "%f" of the largest doubles runs to over 300 digits.
    char wide[512];
    snprintf(wide, sizeof wide, "%f", ReadRealElement(a.v, a.e));
    StoreStringElement(b.v, b.e, wide);
    return 0;
  }
  if (ta != VAR_STRING) return 0;
  const char* text = TextOf(a);
  if (text[0] == '0' && text[1] == 'x') {
    char decimal[32];
    if (HexTextToDecimal(decimal, text) != 0) return -1;
    StoreIntElement(b.v, b.e, ParseDecimal(decimal));
    return 0;
  }
  bool real = false;
  size_t n = 0;
  for (; text[n] != 0; n++) {
    char c = text[n];
    if (g_LeadByteTable[(uint8_t)c]) break;
    if (c == '.') real = true;
    else if ((c < '0' || c > '9') && c != '-') break;
  }
  if (text[n] != 0) return Fail(MSG_NOT_A_NUMBER);
  if (real) StoreRealElement(b.v, b.e, strtod(text, nullptr));
  else StoreIntElement(b.v, b.e, ParseDecimal(text));
  return 0;
}

// Take (keep the piece) or remove (drop it) by character start and count.
int TakeOrRemove(Ref a, Ref b, bool take) {
  if (!TextOperands(a, b)) return Fail(MSG_NOT_TEXT);
  std::string text = TextOf(a);
  const char* s = text.c_str();
  size_t length = text.size();
  int64_t start = IntParam(U_START), count = IntParam(U_COUNT);
  size_t from = 0;
  for (int64_t i = 1; i < start; i++) {
    from += CharLength(s, from);
    if (from >= length) return Fail(take ? MSG_TAKE_START : MSG_REMOVE_START);
  }
  size_t to = from;
  for (int64_t i = 0; i < count; i++) {
    if (to >= length) return Fail(take ? MSG_TAKE_COUNT : MSG_REMOVE_COUNT);
    to += CharLength(s, to);
  }
  // A lead byte in the last byte would step one past the end.
  if (to > length) to = length;
  std::string result = take ? text.substr(from, to - from) : text.substr(0, from) + text.substr(to);
  Ref target = ParamPosition(U_B) ? b : a;
  StoreStringElementN(target.v, target.e, result.data(), result.size());
  return 0;
}

int ConvertWidth(Ref a, Ref b, bool toFull) {
  if (!TextOperands(a, b)) return Fail(MSG_NOT_TEXT);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(TextOf(a));
  // A full-width result can be twice as long as its text: it is built whole, never cut.
  std::string out;
  while (*p != 0) {
    if (g_LeadByteTable[*p] && p[1] != 0) {
      uint16_t code = (uint16_t)(p[0] << 8 | p[1]);
      uint16_t half = toFull ? code : FullToHalfWidth(code);
      if (half == code) {
        out += (char)p[0];
        out += (char)p[1];
      } else {
        out += (char)half;
      }
      p += 2;
      continue;
    }
    uint16_t full = toFull && !g_LeadByteTable[*p] ? HalfToFullWidth(*p) : *p;
    if (full == *p) {
      out += (char)*p;
    } else {
      out += (char)(full >> 8);
      out += (char)full;
    }
    p++;
  }
  StoreStringElementN(b.v, b.e, out.data(), out.size());
  return 0;
}

int ConvertCase(Ref a, Ref b, int id) {
  if (!TextOperands(a, b)) return Fail(MSG_NOT_TEXT);
  std::string text = TextOf(a);
  // Without a text in B there is nothing to convert: its store has given the message.
  if (StoreStringElement(b.v, b.e, text.c_str()) != 0 || TypeOf(b.v) != VAR_STRING) return -1;
  text = TextOf(b);
  if (id == U_UPPER_ASCII) UpperCaseAscii(text.data());
  else if (id == U_UPPER_MB) UpperCaseMultibyte(text.data());
  else if (id == U_LOWER_ASCII) ToLowerAscii(text.data());
  else LowerCaseMultibyte(text.data());
  StoreStringElementN(b.v, b.e, text.data(), text.size());
  return 0;
}

const VarRecord* OneDimensional(Ref a, const char* box) {
  const VarRecord* var = GetVariable(a.v);
  if (!var || var->mDimCount != 1) {
    ArrayBox(box);
    return nullptr;
  }
  return var;
}

int Resize(Ref a) {
  const VarRecord* var = OneDimensional(a, "配列サイズを変更しようとしましたが、この変数は１次元配列ではありません。");
  if (!var) return -1;
  int pos = ParamPosition(U_RESIZE);
  int64_t size = ApplyAssignOp(g_ArgOperator[pos], var->mDims[0], g_ArgInteger[pos]);
  if (size < 1) return ArrayBox("変更後の配列サイズが不正です。");
  if (size == var->mDims[0]) return 0;
  return ResizeArray(a.v, size) == 0 ? 0 : -1;
}

// Element `to` takes the value of element `from`, or the type's empty value when from < 0.
void CopyElement(int32_t v, uint8_t type, int32_t from, int32_t to) {
  if (type == VAR_INT) {
    StoreIntElement(v, to, from < 0 ? 0 : ReadIntElement(v, from));
  } else if (type == VAR_REAL) {
    StoreRealElement(v, to, from < 0 ? 0.0 : ReadRealElement(v, from));
  } else if (type == VAR_STRING) {
    const char* text = from < 0 ? "" : ReadStringElement(v, from);
    StoreStringElement(v, to, text ? text : "");
  }
}

int Insert(Ref a) {
  const VarRecord* var = OneDimensional(a, "配列挿入処理をしようとしましたが、この変数は１次元配列ではありません。");
  if (!var) return -1;
  int64_t index = IntParam(U_INSERT);
  int32_t n = var->mDims[0];
  uint8_t type = var->mType;
  // A negative index names no element: nothing moves.
  if (index < 0 || n < 1) return 0;
  if (index >= n - 1) {
    CopyElement(a.v, type, -1, n - 1);
    return 0;
  }
  for (int32_t k = n - 2; k >= (int32_t)index; k--) CopyElement(a.v, type, k, k + 1);
  CopyElement(a.v, type, -1, (int32_t)index);
  return 0;
}

int Delete(Ref a) {
  const VarRecord* var = OneDimensional(a, "配列削除処理をしようとしましたが、この変数は１次元配列ではありません。");
  if (!var) return -1;
  int32_t index = (int32_t)IntParam(U_DELETE);
  int32_t n = var->mDims[0];
  uint8_t type = var->mType;
  if (index < 0 || index > n - 1) return 0;
  for (int32_t k = index + 1; k <= n - 1; k++) CopyElement(a.v, type, k, k - 1);
  CopyElement(a.v, type, -1, n - 1);
  return 0;
}

int64_t Search(Ref a) {
  const VarRecord* var = GetVariable(a.v);
  if (!var || var->mType == VAR_NONE) return 0;
  int64_t n = var->mDims[0] < var->mCount ? var->mDims[0] : var->mCount;
  int64_t from = IntParam(I_FROM);
  if (from < 0) from = 0;
  int findPos = ParamPosition(I_FIND_TEXT);
  const char* wanted = findPos && g_ArgString[findPos] ? g_ArgString[findPos] : "";
  for (int64_t k = from; k < n; k++) {
    int32_t e = (int32_t)k;
    bool equal = false;
    if (var->mType == VAR_INT) {
      equal = ReadIntElement(a.v, e) == IntParam(I_FIND_INT);
    } else if (var->mType == VAR_REAL) {
      equal = ReadRealElement(a.v, e) == (double)IntParam(I_FIND_REAL);
    } else {
      const char* text = ReadStringElement(a.v, e);
      equal = strcmp(text ? text : "", wanted) == 0;
    }
    if (equal) return k;
  }
  return -1;
}

}  // namespace

int CmdVariableUtility() {
  if (DecodeCommandArguments(CMD_VARIABLE_UTILITY) != 0) return -1;
  Ref a = RefOf(U_A), b = RefOf(U_B);
  if (ParamPosition(U_CONVERT)) return Convert(a, b);
  if (ParamPosition(U_TAKE)) return TakeOrRemove(a, b, true);
  if (ParamPosition(U_REMOVE)) return TakeOrRemove(a, b, false);
  const int order[] = {U_TO_FULL, U_TO_HALF, U_UPPER_ASCII, U_UPPER_MB, U_LOWER_ASCII, U_LOWER_MB, U_RESIZE, U_INSERT, U_DELETE};
  for (int id : order) {
    if (!ParamPosition(id)) continue;
    int result;
    if (id == U_TO_FULL || id == U_TO_HALF) result = ConvertWidth(a, b, id == U_TO_FULL);
    else if (id == U_RESIZE) result = Resize(a);
    else if (id == U_INSERT) result = Insert(a);
    else if (id == U_DELETE) result = Delete(a);
    else result = ConvertCase(a, b, id);
    if (result != 0 || g_QuitFlag) return -1;
  }
  return 0;
}

int CmdVariableInfo() {
  if (DecodeCommandArguments(CMD_VARIABLE_INFO) != 0) return -1;
  Ref a = RefOf(I_A), d = RefOf(I_D);
  const VarRecord* var = GetVariable(a.v);
  for (int id = I_TYPE; id <= I_SEARCH; id++) {
    if (!ParamPosition(id)) continue;
    if (id == I_TYPE) {
      StoreIntElement(d.v, d.e, var ? var->mType : 0);
    } else if (id == I_WIDTH || id == I_LENGTH) {
      if (TypeOf(a.v) != VAR_STRING) return Fail(MSG_NOT_TEXT);
      const char* text = TextOf(a);
      if (id == I_WIDTH) {
        if (text[0] == 0) {
          const CommandDef& def = g_CommandDefs[CMD_VARIABLE_INFO];
          const char* param = def.mParamNames[I_WIDTH] ? def.mParamNames[I_WIDTH] : "";
          ReportScriptErrorF(MSG_EMPTY_TEXT, 1, def.mName ? def.mName : "", param);
          return -1;
        }
        StoreIntElement(d.v, d.e, g_LeadByteTable[(uint8_t)text[0]] ? 2 : 1);
      } else {
        size_t length = strlen(text), pos = 0;
        int64_t chars = 0;
        for (; pos < length; chars++) pos += CharLength(text, pos);
        StoreIntElement(d.v, d.e, chars);
      }
    } else if (id == I_DIMS) {
      StoreIntElement(d.v, d.e, var ? var->mDimCount : 0);
    } else if (id >= I_DIM1 && id <= I_DIM8) {
      int k = id - I_DIM1;
      StoreIntElement(d.v, d.e, var && k < var->mDimCount ? var->mDims[k] : 0);
    } else {
      StoreIntElement(d.v, d.e, Search(a));
    }
    return g_QuitFlag ? -1 : 0;
  }
  return 0;
}
