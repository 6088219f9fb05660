// Building fused code: compiled expressions turned into ops, the common commands of a linked
// file into op lists, and the look-up of each list's variables for the variable shapes of the
// moment. An op list stands for exactly what the byte walk and the handler would do; whatever
// it cannot stand for is left to them.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/engine.h"
#include "script/eval.h"
#include "script/flow_local.h"
#include "script/fused_local.h"
#include "script/script_set.h"
#include "script/sysvars.h"
#include "script/task.h"
#include "script/vars.h"

FusedOp g_GenericFusedOp{};

namespace {

constexpr int CMD_CALL = 35;
constexpr int CMD_RETURN = 68;
constexpr int MAX_WALK_SLOTS = 1000;    // the walk's stack holds 1024 values
constexpr int MAX_POOL_TEXTS = 1000;    // and 1023 texts
constexpr int MAX_SUBSCRIPT_DEPTH = 126;

enum : uint8_t { LANE_INT, LANE_REAL, LANE_TEXT, LANE_OPEN };

// A value of the walk's stack as the compiler follows it: its lane, the op that pushed it when
// that op is the last one and a literal or variable (so a binary op may take it in), and for an
// open subscripted access its variable and where it opened.
struct Entry {
  uint8_t lane;
  int64_t op;
  int32_t variable;
  int32_t walkBase;
};

inline bool IsCommandEnd(uint16_t code) {
  return code == F_IF || code == F_ELSE_IF || code == F_ELSE || code == F_END_IF || code == F_LOOP_END ||
         code == F_FLOW || code == F_CALL || code == F_RETURN || code == P_INT || code == P_REAL || code == P_TEXT ||
         code == S_TEXT || code == S_TEXT_E || (code >= S_INT && code < F_CODES);
}

// The store codes: whether a store writes reals, writes the target element, takes a literal.
inline bool StoresReal(uint16_t code) {
  return (code >= S_REAL && code < S_INTK) || code >= S_REALK;
}

uint8_t TypeNow(int32_t v) {
  const VarRecord* var = GetVariable(v);
  return var ? var->mType : (uint8_t)VAR_NONE;
}

// Compiles the evaluations of one command (or one argument program) into ops.
class Builder {
 public:
  Builder(std::vector<FusedOp>* ops, std::string* texts) : ops_(ops), texts_(texts) {}

  // The references as the evaluations so far leave them, and the flags of the last one.
  void ResetReferences() {
    refVariable_ = -1;
    refElement_ = REF_ELEMENT_ZERO;
    bare_ = 0;
    subscripts_ = 0;
  }
  // Stamps what the evaluations leave on the op that ends them.
  void EndEvaluation(FusedOp* op) const {
    op->mRefVariable = refVariable_;
    op->mRefElement = refElement_;
    op->mRefBare = bare_;
    op->mRefSubscripts = (uint8_t)subscripts_;
  }

  // Appends the ops of an expression evaluated in `mode` (EVAL_MODE_*). The value ends on the
  // value stack (an integer in modes 1 and 3, a real in mode 2) or on the text stack (modes 3
  // and 4; a numeric result becomes "no text"). With `target`, the expression
  // must be an assignment target: one variable, whose element (if subscripted) is checked and
  // kept by A_TARGET. false when the expression is left to the byte walk.
  bool Expression(const uint8_t* expr, uint32_t length, uint8_t mode, bool target = false);
  int32_t TargetVariable() const { return targetVariable_; }
  // The text of the ops from `first` on when they are one text literal, else null.
  const char* LiteralSince(size_t first, size_t* length) const {
    if (ops_->size() != first + 1 || (*ops_)[first].mCode != T_LIT) return nullptr;
    *length = (size_t)(*ops_)[first].mEnd;
    return texts_->data() + (*ops_)[first].mValue;
  }
  size_t OpCount() const { return ops_->size(); }
  // Whether the ops from `first` on read an element (which writes the subscript list).
  bool ReadsElementSince(size_t first) const {
    for (size_t k = first; k < ops_->size(); k++) {
      uint16_t c = (*ops_)[k].mCode;
      if (c == I_ELEM || c == R_ELEM || c == T_ELEM) return true;
    }
    return false;
  }
  // The ops from `first` on when they are one literal push of `code`: its value, and the op
  // dropped.
  bool TakeLiteralSince(size_t first, uint16_t code, int64_t* value) {
    if (ops_->size() != first + 1 || (*ops_)[first].mCode != code) return false;
    *value = (*ops_)[first].mValue;
    ops_->pop_back();
    return true;
  }
  FusedOp* OpAt(size_t k) { return &(*ops_)[k]; }
  void DropOp(size_t k) { ops_->erase(ops_->begin() + (ptrdiff_t)k); }
  // Bytes kept with the file's texts; their offset.
  int64_t AddText(const std::string& bytes) {
    int64_t at = (int64_t)texts_->size();
    texts_->append(bytes);
    return at;
  }
  bool TargetIsElement() const { return targetElement_; }

  FusedOp* Add(uint16_t code) {
    FusedOp op{};
    op.mCode = code;
    op.mRun = code;
    op.mRefVariable = -1;
    ops_->push_back(op);
    return &ops_->back();
  }

 private:
  bool Refuse() { return false; }
  // The variable a variable item names, which the evaluation now refers to (element 0).
  int32_t ReferTo(const uint8_t* operand, uint32_t length) {
    refVariable_ = OperandVariableNumber(operand, length);
    refElement_ = REF_ELEMENT_ZERO;
    return refVariable_;
  }
  bool PushNumber(uint8_t lane, int64_t i, double r);
  bool PushVariable(uint8_t lane, int32_t v);
  bool CloseElement(bool target, bool last);
  bool Negate();
  bool ToText();
  bool Binary(int op);
  bool BinaryForm(uint8_t lane, int op);
  bool Push(Entry e);
  size_t LaneDepth(uint8_t lane) const;
  bool LastIsLeaf(const Entry& e, uint16_t constCode, uint16_t varCode) const {
    return e.op >= 0 && (size_t)e.op + 1 == ops_->size() &&
           ((*ops_)[(size_t)e.op].mCode == constCode || (*ops_)[(size_t)e.op].mCode == varCode);
  }

  std::vector<FusedOp>* ops_;
  std::string* texts_;
  std::vector<Entry> stack_;
  int depth_ = 0, walk_ = 0, poolTexts_ = 0;
  uint8_t mode_ = EVAL_MODE_INT;
  int32_t refVariable_ = -1;
  uint8_t refElement_ = REF_ELEMENT_ZERO, bare_ = 0;
  int32_t subscripts_ = 0;
  int32_t targetVariable_ = -1;
  bool targetElement_ = false;
};

size_t Builder::LaneDepth(uint8_t lane) const {
  size_t n = 0;
  for (const Entry& e : stack_) n += e.lane == lane;
  return n;
}

bool Builder::Push(Entry e) {
  stack_.push_back(e);
  walk_++;
  if (walk_ > MAX_WALK_SLOTS) return Refuse();
  if (e.lane == LANE_TEXT && (++poolTexts_ > MAX_POOL_TEXTS || LaneDepth(LANE_TEXT) > FUSED_TEXT_STACK)) return Refuse();
  // Integers and reals share one stack.
  if ((e.lane == LANE_INT || e.lane == LANE_REAL) && LaneDepth(LANE_INT) + LaneDepth(LANE_REAL) >= FUSED_STACK)
    return Refuse();
  return true;
}

bool Builder::PushNumber(uint8_t lane, int64_t i, double r) {
  FusedOp* op = Add(lane == LANE_INT ? I_CONST : R_CONST);
  if (lane == LANE_INT) op->mValue = i;
  else memcpy(&op->mValue, &r, sizeof r);
  return Push(Entry{lane, (int64_t)ops_->size() - 1, -1, 0});
}

bool Builder::PushVariable(uint8_t lane, int32_t v) {
  uint8_t type = TypeNow(v);
  if (type == VAR_STRING) {
    // System texts are computed (and some report) when read: the walk keeps them.
    if (v < FIRST_USER_VARIABLE) return Refuse();
    Add(T_VAR)->mVariable = (uint16_t)v;
    return Push(Entry{LANE_TEXT, -1, -1, 0});
  }
  uint16_t code;
  if (lane == LANE_INT) code = v >= FIRST_USER_VARIABLE && type == VAR_INT ? I_VAR : I_LOAD;
  else code = v >= FIRST_USER_VARIABLE && type == VAR_REAL ? R_VAR : R_LOAD;
  Add(code)->mVariable = (uint16_t)v;
  return Push(Entry{lane, (int64_t)ops_->size() - 1, -1, 0});
}

// ')' closes the innermost access: its subscripts (integers) are popped and the element pushed,
// or, for the target of an assignment, checked and kept.
bool Builder::CloseElement(bool target, bool last) {
  size_t open = stack_.size();
  while (open > 0 && stack_[open - 1].lane != LANE_OPEN) open--;
  if (open == 0) return Refuse();
  Entry access = stack_[open - 1];
  size_t count = stack_.size() - open;
  if (count > EVAL_MAX_SUBSCRIPTS) return Refuse();
  for (size_t k = open; k < stack_.size(); k++)
    if (stack_[k].lane != LANE_INT) return Refuse();
  // One literal subscript pushed just before becomes the access's operand.
  bool literal = count == 1 && LastIsLeaf(stack_.back(), I_CONST, I_CONST);
  int64_t subscript = literal ? ops_->back().mValue : 0;
  if (literal) ops_->pop_back();
  stack_.resize(open - 1);
  depth_--;
  walk_ = access.walkBase;
  int32_t v = access.variable;
  refVariable_ = v;
  subscripts_ = (int32_t)count;
  if (target) {
    if (!last || depth_ != 0 || !stack_.empty() || v < FIRST_USER_VARIABLE) return Refuse();
    FusedOp* op = Add(A_TARGET);
    op->mVariable = (uint16_t)v;
    op->mCount = (uint8_t)count;
    if (literal) {
      op->mFlags = FUSED_CONST_OPERAND;
      op->mValue = subscript;
    }
    refElement_ = REF_ELEMENT_TARGET;
    targetVariable_ = v;
    targetElement_ = true;
    return true;
  }
  refElement_ = REF_ELEMENT_READ;
  uint8_t type = TypeNow(v);
  uint8_t lane = (mode_ & 1) || depth_ > 0 ? LANE_INT : LANE_REAL;
  uint16_t code;
  if (type == VAR_STRING) {
    if (v < FIRST_USER_VARIABLE) return Refuse();
    code = T_ELEM;
    lane = LANE_TEXT;
  } else if (type == VAR_INT || type == VAR_REAL) {
    code = lane == LANE_INT ? I_ELEM : R_ELEM;
  } else {
    return Refuse();
  }
  FusedOp* op = Add(code);
  op->mVariable = (uint16_t)v;
  op->mCount = (uint8_t)count;
  if (literal) {
    op->mFlags = FUSED_CONST_OPERAND;
    op->mValue = subscript;
  }
  return Push(Entry{lane, -1, -1, 0});
}

bool Builder::Negate() {
  if (stack_.empty()) return Refuse();
  Entry& e = stack_.back();
  if (e.lane == LANE_INT) {
    if (LastIsLeaf(e, I_CONST, I_CONST)) ops_->back().mValue = IntNegate(ops_->back().mValue);
    else {
      Add(I_NEG);
      e.op = -1;
    }
    return true;
  }
  if (e.lane == LANE_REAL) {
    if (LastIsLeaf(e, R_CONST, R_CONST)) {
      double d;
      memcpy(&d, &ops_->back().mValue, sizeof d);
      d = -d;
      memcpy(&ops_->back().mValue, &d, sizeof d);
    } else {
      Add(R_NEG);
      e.op = -1;
    }
    return true;
  }
  return Refuse();
}

bool Builder::ToText() {
  if (stack_.empty()) return Refuse();
  Entry& e = stack_.back();
  if (e.lane != LANE_INT && e.lane != LANE_REAL) return Refuse();
  Add(e.lane == LANE_INT ? T_STR : T_STRR);
  e = Entry{LANE_TEXT, -1, -1, 0};
  if (++poolTexts_ > MAX_POOL_TEXTS || LaneDepth(LANE_TEXT) > FUSED_TEXT_STACK) return Refuse();
  return true;
}

// A binary op of two numbers of one lane: a literal and a variable pushed just before it become
// its operands, and two literals fold into one.
bool Builder::BinaryForm(uint8_t lane, int op) {
  Entry b = stack_.back();
  Entry a = stack_[stack_.size() - 2];
  stack_.pop_back();
  walk_--;
  uint16_t constCode = lane == LANE_INT ? I_CONST : R_CONST;
  uint16_t varCode = lane == LANE_INT ? I_VAR : R_VAR;
  uint16_t base = (uint16_t)((lane == LANE_INT ? I_BIN : R_BIN) + FORM_COUNT * op);
  bool rightLeaf = LastIsLeaf(b, constCode, varCode);
  bool leftLeaf = rightLeaf && a.op >= 0 && (size_t)a.op + 2 == ops_->size() &&
                  ((*ops_)[(size_t)a.op].mCode == constCode || (*ops_)[(size_t)a.op].mCode == varCode);
  Entry& result = stack_.back();
  if (leftLeaf) {
    FusedOp left = (*ops_)[(size_t)a.op];
    FusedOp right = ops_->back();
    ops_->pop_back();
    FusedOp& out = ops_->back();
    bool leftVar = left.mCode == varCode, rightVar = right.mCode == varCode;
    if (!leftVar && !rightVar) {
      if (lane == LANE_INT) {
        out.mValue = IntBinaryOp(op, left.mValue, right.mValue);
      } else {
        double x, y;
        memcpy(&x, &left.mValue, sizeof x);
        memcpy(&y, &right.mValue, sizeof y);
        double z = RealBinaryOp(op, x, y);
        memcpy(&out.mValue, &z, sizeof z);
      }
      result.op = a.op;
      return true;
    }
    int form = !rightVar ? FORM_VAR_CONST : leftVar ? FORM_VAR_VAR : FORM_CONST_VAR;
    out = FusedOp{};
    out.mCode = out.mRun = (uint16_t)(base + form);
    out.mRefVariable = -1;
    if (form == FORM_VAR_CONST) {
      out.mVariable = left.mVariable;
      out.mValue = right.mValue;
    } else if (form == FORM_VAR_VAR) {
      out.mVariable = left.mVariable;
      out.mRight = right.mVariable;
    } else {
      out.mVariable = right.mVariable;
      out.mValue = left.mValue;
    }
    result.op = -1;
    return true;
  }
  if (rightLeaf) {
    FusedOp& out = ops_->back();
    bool rightVar = out.mCode == varCode;
    out.mCode = out.mRun = (uint16_t)(base + (rightVar ? FORM_TOP_VAR : FORM_TOP_CONST));
    result.op = -1;
    return true;
  }
  Add((uint16_t)(base + FORM_STACK));
  result.op = -1;
  return true;
}

bool Builder::Binary(int op) {
  if (stack_.size() < 2) return Refuse();
  Entry& a = stack_[stack_.size() - 2];
  Entry& b = stack_.back();
  if (a.lane == LANE_OPEN || b.lane == LANE_OPEN) return Refuse();
  if (a.lane == LANE_TEXT || b.lane == LANE_TEXT) {
    // Texts meet texts only in '+', '=' and '!'; a number beside a text is the walk's to refuse.
    if (a.lane != LANE_TEXT || b.lane != LANE_TEXT) return Refuse();
    if (op == BIN_ADD) {
      Add(T_CAT);
    } else if (op == BIN_EQ || op == BIN_NE) {
      if (!((mode_ & 1) || depth_ > 0)) return Refuse();
      Add(op == BIN_EQ ? I_TEQ : I_TNE);
      a.lane = LANE_INT;
      if (LaneDepth(LANE_INT) + LaneDepth(LANE_REAL) >= FUSED_STACK) return Refuse();
    } else {
      return Refuse();
    }
    a.op = -1;
    stack_.pop_back();
    walk_--;
    return true;
  }
  if (a.lane != b.lane) return Refuse();
  return BinaryForm(a.lane, op);
}

bool Builder::Expression(const uint8_t* expr, uint32_t length, uint8_t mode, bool target) {
  stack_.clear();
  depth_ = 0;
  walk_ = 0;
  poolTexts_ = 0;
  mode_ = mode;
  bare_ = 0;
  subscripts_ = 0;
  targetVariable_ = -1;
  targetElement_ = false;
  uint32_t at = 0, n;
  uint8_t item;
  const uint8_t* p;
  int items = 0;
  while (NextExpressionItem(expr, length, &at, &item, &p, &n)) {
    bool last = at + 3 > length;
    if (item == ',') continue;
    items++;
    uint8_t lane = (mode & 1) || depth_ > 0 ? LANE_INT : LANE_REAL;
    bool ok;
    // A target is one variable, or one access whose subscripts are any expressions.
    if (target && depth_ == 0 && item != 'H' && item != 'V') return Refuse();
    switch (item) {
      case 'B':
      case 'W':
      case 'I':
      case 'L': {
        uint32_t bytes = item == 'B' ? 1 : item == 'W' ? 2 : item == 'I' ? 4 : 8;
        uint64_t bits = ReadExpressionOperand(p, n, bytes);
        int64_t v = item == 'B' ? (int8_t)bits : item == 'W' ? (int16_t)bits : item == 'I' ? (int32_t)bits : (int64_t)bits;
        ok = PushNumber(lane, v, (double)v);
        break;
      }
      case 'F': {
        uint64_t bits = ReadExpressionOperand(p, n, 8);
        double d;
        memcpy(&d, &bits, sizeof d);
        ok = PushNumber(lane, RealToInt64(d), d);
        break;
      }
      case 'M': {
        char text[TEXT_VALUE_BYTES];
        uint32_t textLength = DecodeTextLiteral(p, n, text);
        FusedOp* op = Add(T_LIT);
        op->mValue = (int64_t)texts_->size();
        op->mEnd = (int32_t)textLength;
        texts_->append(text, textLength);
        texts_->push_back(0);
        ok = Push(Entry{LANE_TEXT, -1, -1, 0});
        break;
      }
      case 'H': {
        int32_t v = ReferTo(p, n);
        if (target && depth_ == 0) {
          // The target alone: its value is read and dropped, which changes nothing.
          if (!last || v < FIRST_USER_VARIABLE) return Refuse();
          targetVariable_ = v;
          return true;
        }
        ok = PushVariable(lane, v);
        break;
      }
      case 'v': {
        int32_t v = ReferTo(p, n);
        bare_ = 1;
        Add(lane == LANE_INT ? I_REF : R_REF)->mVariable = (uint16_t)v;
        ok = Push(Entry{lane, -1, -1, 0});
        break;
      }
      case 'V': {
        int32_t v = ReferTo(p, n);
        // The walk keeps the opening position in 8 bits and its depth below 128.
        if (depth_ >= MAX_SUBSCRIPT_DEPTH || walk_ >= 255) return Refuse();
        depth_++;
        stack_.push_back(Entry{LANE_OPEN, -1, v, walk_});
        walk_++;
        ok = true;
        break;
      }
      case ')': {
        bool outer = target && depth_ == 1;
        ok = CloseElement(outer, last);
        if (ok && outer) return true;
        break;
      }
      case 'R':
        ok = Negate();
        break;
      case 's':
        ok = ToText();
        break;
      default: {
        int op = BinaryOperatorOf(item);
        ok = op >= 0 && Binary(op);
        break;
      }
    }
    if (!ok) return false;
  }
  if (target || items == 0 || depth_ != 0 || stack_.size() != 1) return Refuse();
  uint8_t lane = stack_.back().lane;
  if (mode == EVAL_MODE_INT) return lane == LANE_INT;
  if (mode == EVAL_MODE_REAL) return lane == LANE_REAL;
  if (lane == LANE_TEXT) return true;
  Add(lane == LANE_INT ? T_NONE_I : T_NONE_R);
  return true;
}

// The expression of argument record `a` of `file`, when it lies inside the expression segment.
bool RecordExpression(const ScriptFileRecord* file, const CommandArgument& a, const uint8_t** expr, uint32_t* length) {
  uint64_t end = (uint64_t)a.mExprOffset + a.mExprLength;
  if (!file->mExpressions || end > file->mExpressionSize) return false;
  *expr = file->mExpressions + a.mExprOffset;
  *length = a.mExprLength;
  return true;
}

inline bool ValidKind(uint8_t kind) { return kind >= 1 && kind <= 4; }

// An integer consumer's evaluation of a record of kind `kind` (EvalArgumentInt): integer
// arithmetic for kinds 1 and 3, real arithmetic truncated for 2 and 4.
bool IntegerValue(Builder* b, const ScriptFileRecord* file, const CommandArgument& a) {
  const uint8_t* expr;
  uint32_t length;
  if (!ValidKind(a.mKind) || !RecordExpression(file, a, &expr, &length)) return false;
  bool real = a.mKind == 2 || a.mKind == 4;
  if (!b->Expression(expr, length, real ? EVAL_MODE_REAL : EVAL_MODE_INT)) return false;
  if (real) b->Add(CVT_RI);
  return true;
}

bool TextValue(Builder* b, const ScriptFileRecord* file, const CommandArgument& a, uint8_t kind) {
  const uint8_t* expr;
  uint32_t length;
  if (!ValidKind(kind) || !RecordExpression(file, a, &expr, &length)) return false;
  return b->Expression(expr, length, kind == 4 ? EVAL_MODE_TEXT_REAL : EVAL_MODE_TEXT_INT);
}

// The assignment command: the target (one user variable or its element), the value in the
// arithmetic its type asks for, and the store by the assignment operator.
bool FuseAssignment(Builder* b, const ScriptFileRecord* file, const CommandArgument* args, uint8_t count) {
  if (count < 2 || args[0].mOperator >= ASSIGN_OPERATOR_COUNT || !ValidKind(args[0].mKind)) return false;
  const uint8_t* expr;
  uint32_t length;
  if (!RecordExpression(file, args[0], &expr, &length)) return false;
  uint8_t targetMode = args[0].mKind == 2 || args[0].mKind == 4 ? EVAL_MODE_REAL : EVAL_MODE_INT;
  if (!b->Expression(expr, length, targetMode, true)) return false;
  int32_t v = b->TargetVariable();
  bool element = b->TargetIsElement();
  uint8_t type = TypeNow(v);
  uint8_t op = args[0].mOperator;
  FusedOp* store;
  size_t first = b->OpCount();
  int64_t literal;
  if (type == VAR_INT) {
    if (!IntegerValue(b, file, args[1])) return false;
    bool constant = b->TakeLiteralSince(first, I_CONST, &literal);
    store = b->Add((uint16_t)((constant ? (element ? S_INTK_E : S_INTK) : (element ? S_INT_E : S_INT)) + op));
    if (constant) store->mValue = literal;
  } else if (type == VAR_REAL) {
    if (!ValidKind(args[1].mKind) || !RecordExpression(file, args[1], &expr, &length) ||
        !b->Expression(expr, length, EVAL_MODE_REAL))
      return false;
    bool constant = b->TakeLiteralSince(first, R_CONST, &literal);
    store = b->Add((uint16_t)((constant ? (element ? S_REALK_E : S_REALK) : (element ? S_REAL_E : S_REAL)) + op));
    if (constant) store->mValue = literal;
  } else if (type == VAR_STRING && op <= 1) {
    if (!TextValue(b, file, args[1], args[1].mKind)) return false;
    store = b->Add(element ? S_TEXT_E : S_TEXT);
    store->mValue = op;
  } else {
    return false;
  }
  store->mVariable = (uint16_t)v;
  b->EndEvaluation(store);
  return true;
}

// Where value k (1..16) of a call or return comes from once decoded, as FillCallFrame and
// ReturnWithValues take it: the integer, real or text parameter's position, or none. Worked out
// from the records alone, as decoding would set the table of positions. false when a value
// would come from a slot the decode does not set (a parameter of another value type, a text
// that is not a literal): such a command writes its slots first and takes them from there.
bool PlanFrameValues(const CommandDef& def, const CommandArgument* args, uint8_t count, int values, int intBase,
                     int realBase, int textBase, const bool* literal, std::string* plan) {
  uint8_t position[MAX_COMMAND_PARAMS] = {};
  for (uint8_t p = 1; p <= count; p++) position[args[p - 1].mParamId] = p;
  auto typeAt = [&](int p) { return def.mValueTypes[args[p - 1].mParamId]; };
  for (int k = 1; k <= values; k++) {
    int id[3] = {intBase + k, realBase + k, textBase + k};
    uint8_t from = FRAME_VALUE_NONE, at = 0;
    for (int j = 0; j < 3 && !at; j++) {
      if (id[j] < 0 || id[j] >= MAX_COMMAND_PARAMS || !position[id[j]]) continue;
      at = position[id[j]];
      from = j == 0 ? FRAME_VALUE_INT : j == 1 ? FRAME_VALUE_REAL : FRAME_VALUE_TEXT;
      uint8_t want = j == 0 ? VALUE_INTEGER : j == 1 ? VALUE_CODE : VALUE_STRING;
      if (typeAt(at) != want || (from == FRAME_VALUE_TEXT && !literal[at])) return false;
    }
    plan->push_back((char)from);
    plan->push_back((char)at);
  }
  return true;
}

// The call and return commands: each argument record evaluated as DecodeCommandArguments would
// evaluate it and kept, then the command's own work. When the values' places and the label
// are known here, the decode is only noted, and written to the slots when anything may read
// them; the frame is filled from the kept values.
bool FuseDecodedCommand(Builder* b, const ScriptFileRecord* file, int32_t i, int code, const CommandArgument* args,
                        uint8_t count) {
  if (code < 0 || code >= COMMAND_COUNT || count > FUSED_DECODED_ARGS) return false;
  const CommandDef& def = g_CommandDefs[code];
  // A call whose label text is a constant, and whose label the link could not keep (label 0
  // reads as unresolved), has it looked up once here, as the call would each time.
  int32_t namedLabel = -1;
  bool literal[FUSED_DECODED_ARGS + 1] = {};
  for (uint8_t p = 1; p <= count; p++) {
    const CommandArgument& a = args[p - 1];
    if (a.mParamId >= def.mParamCount) return false;
    uint8_t type = def.mValueTypes[a.mParamId];
    FusedOp* keep;
    size_t first = b->OpCount();
    if (type == VALUE_INTEGER) {
      if (!IntegerValue(b, file, a)) return false;
      // An integer variable alone is read by the op itself.
      int64_t unused;
      uint16_t variable = b->OpCount() == first + 1 ? b->OpAt(first)->mVariable : 0;
      bool alone = b->TakeLiteralSince(first, I_VAR, &unused);
      keep = b->Add(F_ARG_I);
      if (alone) {
        keep->mFlags = FUSED_VAR_OPERAND;
        keep->mVariable = variable;
      }
      b->EndEvaluation(keep);
    } else if (type == VALUE_STRING) {
      if (!TextValue(b, file, a, code == CMD_CALL ? 3 : a.mKind)) return false;
      size_t length;
      const char* text = b->LiteralSince(first, &length);
      if (code == CMD_CALL && a.mParamId == 0) {
        // The call looks the text up as far as its first zero byte.
        namedLabel = text ? FindLabel(text, strnlen(text, length)) : -1;
      }
      int64_t offset = text ? b->OpAt(first)->mValue : 0;
      if (text) b->TakeLiteralSince(first, T_LIT, &offset);
      keep = b->Add(F_ARG_T);
      if (text) {
        // A literal text is copied from where it lies.
        keep->mFlags = FUSED_CONST_OPERAND;
        keep->mValue = offset;
        keep->mEnd = (int32_t)length;
        literal[p] = true;
      }
      b->EndEvaluation(keep);
    } else {
      if (code == CMD_CALL && a.mParamId == 0) namedLabel = -1;
      keep = b->Add(F_ARG_C);
    }
    keep->mCount = p;
    keep->mRight = def.mCheckKinds[a.mParamId];
    keep->mRightSlot = const_cast<CommandArgument*>(&a);
  }
  FusedOp* op = b->Add(code == CMD_CALL ? F_CALL : F_RETURN);
  op->mValue = code;
  op->mTarget = namedLabel;
  op->mSlot = const_cast<CommandArgument*>(args);
  op->mEnd = count;
  // The static plan: the values' places, the call's label and whether it gives only that.
  int values = file->mCallCounts[i] > FLOW_MAX_VALUES ? FLOW_MAX_VALUES : file->mCallCounts[i];
  std::string plan;
  bool planned = code == CMD_CALL ? PlanFrameValues(def, args, count, values, 0, 16, 32, literal, &plan)
                                  : PlanFrameValues(def, args, count, values, -1, 15, 31, literal, &plan);
  if (code == CMD_CALL && planned) {
    uint8_t labelPos = 0;
    for (uint8_t p = 1; p <= count; p++)
      if (args[p - 1].mParamId == 0) labelPos = p;
    int32_t index = labelPos ? args[labelPos - 1].mKind | args[labelPos - 1].mOperator << 8 : -1;
    if (index == 0) index = namedLabel;
    planned = index >= 0 && index < g_Labels.mCount;
    op->mTarget = index;
    if (count == 1 && labelPos == 1) op->mFlags |= FUSED_ONLY_LABEL;
  }
  if (planned) {
    op->mFlags |= FUSED_PLANNED;
    bool integers = true;
    for (size_t k = 0; k < plan.size(); k += 2) integers = integers && plan[k] == (char)FRAME_VALUE_INT;
    if (integers) op->mFlags |= FUSED_INT_VALUES;
    op->mCount = (uint8_t)values;
    op->mStride = b->AddText(plan);
  } else {
    op->mTarget = namedLabel;
  }
  return true;
}

// Appends the fused form of command i; false when it runs through its handler alone. The
// choice goes by the linked handler, so a handler slot filled otherwise is always called.
bool FuseCommand(Builder* b, const ScriptFileRecord* file, int32_t i) {
  CommandHandler handler = file->mHandlers[i];
  const CommandArgument* args = file->mArgRecords[i];
  uint8_t count = file->mArgCounts[i];
  b->ResetReferences();
  if (handler == CmdAssign) return FuseAssignment(b, file, args, count);
  if (handler == CmdIf || (handler == CmdElseIf && count > 0)) {
    bool opening = handler == CmdIf;
    if (opening && count < 3) return false;
    // The checks come ahead of the condition only when its evaluation writes the subscript
    // list, which the handler, refusing, would not write.
    size_t enter = b->OpCount();
    b->Add(opening ? F_IF_ENTER : F_ELSE_IF_ENTER);
    if (!IntegerValue(b, file, args[0])) return false;
    if (!b->ReadsElementSince(enter)) b->DropOp(enter);
    b->EndEvaluation(b->Add(opening ? F_IF : F_ELSE_IF));
    return true;
  }
  if (handler == CmdElse || handler == CmdEndIf || handler == CmdLoopEnd) {
    b->Add(handler == CmdElse ? F_ELSE : handler == CmdEndIf ? F_END_IF : F_LOOP_END);
    return true;
  }
  // Commands that evaluate nothing are called as they are, without handing over the loop.
  bool resolvedJump = handler == CmdJump && count > 0 && (args[0].mExprLength & ~LABEL_INDEX_MASK);
  if (handler == CmdElseIf || resolvedJump) {
    b->Add(F_FLOW);
    return true;
  }
  if (handler == CmdCall) return FuseDecodedCommand(b, file, i, CMD_CALL, args, count);
  if (handler == CmdReturn) return FuseDecodedCommand(b, file, i, CMD_RETURN, args, count);
  return false;
}

// ---------------------------------------------------------------------------------------------
// Looking variables up.

// An integer (or real) user variable with its storage, else null.
inline int64_t* PlainInts(int32_t v) { return PlainIntSlot(v); }
inline double* PlainReals(int32_t v) {
  VarRecord* var = GetVariable(v);
  return var && var->mType == VAR_REAL && var->mReals && var->mCount > 0 ? var->mReals : nullptr;
}

// A read of variable v as a number: which push, and what it reads.
bool ResolveLoad(FusedOp* o, bool real) {
  int32_t v = o->mVariable;
  VarRecord* var = GetVariable(v);
  uint8_t type = var ? var->mType : (uint8_t)VAR_NONE;
  o->mValue = 0;
  if (v < FIRST_USER_VARIABLE) {
    if (type == VAR_INT) o->mRun = real ? R_SYS : v == 48 ? I_LOOP : I_SYS;
    else if (type == VAR_REAL) o->mRun = real ? R_SYSR : I_SYSR;
    else if (type == VAR_STRING) return false;
    else o->mRun = real ? R_CONST : I_CONST;
    return true;
  }
  if (!var || type == VAR_STRING) return false;
  // A declared variable without elements reads 0, as an undeclared one does.
  if (type == VAR_INT && var->mInts && var->mCount > 0) {
    o->mRun = real ? R_INT : I_INT;
    o->mSlot = var->mInts;
  } else if (type == VAR_REAL && var->mReals && var->mCount > 0) {
    o->mRun = real ? R_REALV : I_REALV;
    o->mSlot = var->mReals;
  } else {
    o->mRun = real ? R_CONST : I_CONST;
  }
  return true;
}

// An element access: the variable's record, and for one subscript its bound and stride, taken
// whenever the one subscript's element lies inside the storage as the walk's checks would find.
bool ResolveElement(FusedOp* o, bool target) {
  int32_t v = o->mVariable;
  VarRecord* var = GetVariable(v);
  if (!var) return false;
  o->mRightSlot = var;
  bool user = v >= FIRST_USER_VARIABLE;
  uint8_t type = var->mType;
  if (user) {
    if (type == VAR_INT && var->mInts && var->mCount > 0) o->mSlot = var->mInts;
    else if (type == VAR_REAL && var->mReals && var->mCount > 0) o->mSlot = var->mReals;
    else if (type == VAR_STRING && var->mTexts && var->mCount > 0) o->mSlot = var->mTexts;
    else return false;
  } else if (target || (type != VAR_INT && type != VAR_REAL)) {
    return false;
  }
  // One subscript: below the first size (or 0 without sizes), times the sizes after it.
  o->mLimit = 0;
  if (o->mCount == 1) {
    int64_t limit = var->mDimCount == 0 ? 1 : var->mDims[0];
    uint64_t stride = 1;
    for (int k = 1; k < var->mDimCount && k < VAR_MAX_DIMS; k++) stride *= (uint64_t)(int64_t)var->mDims[k];
    if (var->mDimCount == 0) stride = 0;
    bool inside = limit > 0 && (!user || (stride <= (uint64_t)var->mCount &&
                                          (uint64_t)(limit - 1) * stride < (uint64_t)var->mCount));
    if (inside) {
      o->mLimit = limit;
      o->mStride = (int64_t)stride;
    }
  }
  // A call value by a literal subscript inside the sizes: its element is known now.
  bool known = !user && type == VAR_INT && IsCallValueVariable(v) && o->mLimit && (o->mFlags & FUSED_CONST_OPERAND) &&
               (uint64_t)o->mValue < (uint64_t)o->mLimit;
  if (known) {
    uint64_t element = (uint64_t)o->mValue * (uint64_t)o->mStride;
    known = element <= INT32_MAX;
    o->mEnd = (int32_t)element;
  }
  if (known && (o->mCode == I_ELEM || o->mCode == R_ELEM)) {
    // An argument or return value of a slot is read without the subscript's range check.
    bool slot = o->mEnd >= 1 && o->mEnd < CALL_VALUE_SLOTS;
    if (o->mCode == R_ELEM) o->mRun = R_CALLK;
    else o->mRun = slot && v == 50 ? I_CALLK_ARG : slot && v == 54 ? I_CALLK_RETURN : I_CALLK;
    return true;
  }
  switch (o->mCode) {
    case I_ELEM:
      o->mRun = !user ? (type == VAR_INT ? (IsCallValueVariable(v) ? I_ELEM_CALL : I_ELEM_SYS) : I_ELEM_SYSR)
                      : type == VAR_INT ? I_ELEM_INT : I_ELEM_REAL;
      return user ? type != VAR_STRING : true;
    case R_ELEM:
      o->mRun = !user ? (type == VAR_INT ? (IsCallValueVariable(v) ? R_ELEM_CALL : R_ELEM_SYS) : R_ELEM_SYSR)
                      : type == VAR_INT ? R_ELEM_INT : R_ELEM_REAL;
      return user ? type != VAR_STRING : true;
    case T_ELEM:
      o->mRun = T_ELEM_TEXT;
      return user && type == VAR_STRING;
    default:
      o->mRun = A_TARGET;
      return true;
  }
}

// The type an assignment's store was compiled for.
uint8_t StoreType(uint16_t code) {
  if (code == S_TEXT || code == S_TEXT_E) return VAR_STRING;
  return StoresReal(code) ? VAR_REAL : VAR_INT;
}

// Looks one op's variables up; false when the op cannot be taken for them.
bool ResolveOp(FusedOp* o) {
  uint16_t c = o->mCode;
  o->mRun = c;
  switch (c) {
    case I_VAR:
    case I_LOAD:
      return ResolveLoad(o, false);
    case R_VAR:
    case R_LOAD:
      return ResolveLoad(o, true);
    case I_REF:
    case R_REF:
      return o->mVariable < FIRST_USER_VARIABLE || GetVariable(o->mVariable);
    case I_ELEM:
    case R_ELEM:
    case T_ELEM:
      return ResolveElement(o, false);
    case A_TARGET: {
      // The store at the end of the command says which type the target must hold.
      const FusedOp* store = o;
      while (!IsCommandEnd(store->mCode)) store++;
      const VarRecord* var = GetVariable(o->mVariable);
      return var && var->mType == StoreType(store->mCode) && ResolveElement(o, true);
    }
    case T_VAR: {
      VarRecord* var = GetVariable(o->mVariable);
      if (!var || var->mType != VAR_STRING || !var->mTexts || var->mCount <= 0) return false;
      o->mRun = T_VARV;
      o->mSlot = var->mTexts;
      return true;
    }
    case F_CALL:
    case F_RETURN:
      if ((o->mFlags & FUSED_PLANNED) && (o->mFlags & FUSED_INT_VALUES))
        o->mRun = c == F_CALL ? F_CALL_INTS : F_RETURN_INTS;
      return true;
    case F_ARG_I:
      if (!(o->mFlags & FUSED_VAR_OPERAND)) return true;
      o->mRun = F_ARG_IV;
      return (o->mSlot = PlainInts(o->mVariable)) != nullptr;
    case S_TEXT:
    case S_TEXT_E: {
      VarRecord* var = GetVariable(o->mVariable);
      o->mSlot = var;
      return var && var->mType == VAR_STRING && var->mTexts && var->mCount > 0;
    }
    default:
      break;
  }
  if (c >= I_BIN && c < S_INT) {
    bool real = c >= R_BIN;
    int form = (c - (real ? R_BIN : I_BIN)) % FORM_COUNT;
    bool left = form == FORM_TOP_VAR || form == FORM_VAR_CONST || form == FORM_VAR_VAR || form == FORM_CONST_VAR;
    if (left && !(o->mSlot = real ? (void*)PlainReals(o->mVariable) : (void*)PlainInts(o->mVariable))) return false;
    if (form == FORM_VAR_VAR && !(o->mRightSlot = real ? (void*)PlainReals(o->mRight) : (void*)PlainInts(o->mRight)))
      return false;
    return true;
  }
  if (c >= S_INT && c < F_CODES) {
    bool real = StoresReal(c);
    VarRecord* var = GetVariable(o->mVariable);
    if (!var) return false;
    if (real) o->mSlot = var->mType == VAR_REAL && var->mCount > 0 ? var->mReals : nullptr;
    else o->mSlot = var->mType == VAR_INT && var->mCount > 0 ? var->mInts : nullptr;
    return o->mSlot != nullptr;
  }
  return true;
}

}  // namespace

const FusedOp* ResolveFusedCommand(FusedCommand* c, uint64_t epoch, const void* const* labels) {
  c->mEpoch = epoch;
  c->mRun = &g_GenericFusedOp;
  if (!c->mOps) return c->mRun;
  for (FusedOp* o = c->mOps;; o++) {
    if (!ResolveOp(o)) return c->mRun;
    o->mLabel = labels[o->mRun];
    if (IsCommandEnd(o->mCode)) break;
  }
  return c->mRun = c->mOps;
}

namespace {

// Gives every op its final pointers once the op and text stores have their places.
void PlaceOps(FusedOp* ops, size_t count, const char* texts) {
  for (size_t k = 0; k < count; k++)
    if (ops[k].mCode == T_LIT || (ops[k].mCode == F_ARG_T && (ops[k].mFlags & FUSED_CONST_OPERAND)))
      ops[k].mSlot = const_cast<char*>(texts + ops[k].mValue);
    else if ((ops[k].mCode == F_CALL || ops[k].mCode == F_RETURN) && (ops[k].mFlags & FUSED_PLANNED))
      ops[k].mRightSlot = const_cast<char*>(texts + ops[k].mStride);
}

}  // namespace

bool FuseScriptFile(ScriptFileRecord* file) {
  int32_t n = file->mCommandCount;
  if (n <= 0 || !file->mHandlers) return true;
  std::vector<FusedOp> ops;
  std::string texts;
  Builder builder(&ops, &texts);
  std::vector<size_t> starts((size_t)n, SIZE_MAX);
  for (int32_t i = 0; i < n; i++) {
    size_t at = ops.size();
    if (FuseCommand(&builder, file, i)) starts[(size_t)i] = at;
    else ops.resize(at);
  }
  // Each argument record's integer program, for the handlers' own evaluations.
  size_t records = file->mArgStoreCount;
  std::vector<size_t> programStarts(records, SIZE_MAX);
  for (size_t k = 0; k < records; k++) {
    const CommandArgument& a = file->mArgStore[k];
    const uint8_t* expr;
    uint32_t length;
    size_t at = ops.size();
    builder.ResetReferences();
    if (RecordExpression(file, a, &expr, &length) && builder.Expression(expr, length, EVAL_MODE_INT)) {
      builder.EndEvaluation(builder.Add(P_INT));
      programStarts[k] = at;
    } else {
      ops.resize(at);
    }
  }
  FusedCommand* commands = static_cast<FusedCommand*>(calloc((size_t)n, sizeof(FusedCommand)));
  FusedCommand* programs = static_cast<FusedCommand*>(calloc(records > 0 ? records : 1, sizeof(FusedCommand)));
  FusedOp* store = static_cast<FusedOp*>(malloc((ops.size() > 0 ? ops.size() : 1) * sizeof(FusedOp)));
  char* textStore = static_cast<char*>(malloc(texts.size() > 0 ? texts.size() : 1));
  if (!commands || !programs || !store || !textStore) {
    free(commands);
    free(programs);
    free(store);
    free(textStore);
    return false;
  }
  if (!ops.empty()) memcpy(store, ops.data(), ops.size() * sizeof(FusedOp));
  if (!texts.empty()) memcpy(textStore, texts.data(), texts.size());
  PlaceOps(store, ops.size(), textStore);
  // Epoch 0 is older than any shape, so each list looks its variables up when first run.
  for (int32_t i = 0; i < n; i++) {
    commands[i].mRun = &g_GenericFusedOp;
    commands[i].mOps = starts[(size_t)i] != SIZE_MAX ? store + starts[(size_t)i] : nullptr;
  }
  for (size_t k = 0; k < records; k++) {
    programs[k].mRun = &g_GenericFusedOp;
    programs[k].mOps = programStarts[k] != SIZE_MAX ? store + programStarts[k] : nullptr;
    file->mArgStore[k].mProgram = programs[k].mOps ? &programs[k] : nullptr;
  }
  file->mFused = commands;
  file->mFusedPrograms = programs;
  file->mFusedOps = store;
  file->mFusedTexts = textStore;
  return true;
}

void FreeFusedCode(ScriptFileRecord* file) {
  free(file->mFused);
  free(file->mFusedPrograms);
  free(file->mFusedOps);
  free(file->mFusedTexts);
  file->mFused = nullptr;
  file->mFusedPrograms = nullptr;
  file->mFusedOps = nullptr;
  file->mFusedTexts = nullptr;
}

FusedCommand* CompileExpressionProgram(const uint8_t* expr, uint32_t length, uint8_t mode) {
  std::vector<FusedOp> ops;
  std::string texts;
  Builder builder(&ops, &texts);
  builder.ResetReferences();
  if (!builder.Expression(expr, length, mode)) return nullptr;
  builder.EndEvaluation(builder.Add(mode == EVAL_MODE_INT ? P_INT : mode == EVAL_MODE_REAL ? P_REAL : P_TEXT));
  // One allocation: the program record, its ops, then its texts.
  size_t bytes = sizeof(FusedCommand) + ops.size() * sizeof(FusedOp) + texts.size() + 1;
  uint8_t* block = static_cast<uint8_t*>(malloc(bytes));
  if (!block) return nullptr;
  FusedCommand* program = reinterpret_cast<FusedCommand*>(block);
  FusedOp* store = reinterpret_cast<FusedOp*>(block + sizeof(FusedCommand));
  char* textStore = reinterpret_cast<char*>(store + ops.size());
  memcpy(store, ops.data(), ops.size() * sizeof(FusedOp));
  memcpy(textStore, texts.data(), texts.size());
  PlaceOps(store, ops.size(), textStore);
  program->mRun = &g_GenericFusedOp;
  program->mOps = store;
  program->mEpoch = 0;
  return program;
}

void FreeExpressionProgram(FusedCommand* program) { free(program); }
