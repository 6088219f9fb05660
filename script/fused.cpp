// Running fused code: one direct-threaded loop over the ops of a task's commands, or of one
// argument program. Values, references, stack records and positions come out exactly as the
// byte walk and the handlers leave them; an op that cannot be taken has changed nothing the
// handler would not change in the same way, and hands its command to the handler, which then
// decides (and reports) as it always does.
#include "script/fused.h"

#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "script/eval.h"
#include "script/fused_local.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int MAX_OPEN_LEVELS = TASK_STACK_SLOTS - 1;

// Texts built at each level of the text stack, the decoded text arguments kept until their
// decode, and the joined text of a '+=' assignment.
char g_TextScratch[FUSED_TEXT_STACK][TEXT_VALUE_BYTES];
char g_ArgumentTexts[FUSED_DECODED_ARGS + 1][TEXT_VALUE_BYTES];
char g_JoinedText[TEXT_VALUE_BYTES];

bool StandardEvaluators() {
  for (int k = 1; k <= 4; k++) {
    bool real = k == 2 || k == 4;
    if (g_IntEvaluators[k] != (real ? EvalRealExprToInteger : EvalIntegerExpr)) return false;
    if (g_RealEvaluators[k + 5] != (real ? EvalRealExpr : EvalIntegerExprToReal)) return false;
    if (g_RealEvaluators[k + 10] != EvalRealExpr) return false;
    if (g_StringEvaluators[k] != (k == 4 ? EvalStringExprReal : EvalStringExpr)) return false;
  }
  return true;
}

// What a handler may change among the conditions of fused code.
inline bool TurnFlagsAllow() { return !g_DebugMode && (g_KeepRunningInactive || !g_InactivePause); }

inline double RealBits(int64_t bits) {
  double d;
  memcpy(&d, &bits, sizeof d);
  return d;
}

int64_t InnermostLoopCounter() {
  const ScriptTask* t = g_CurrentTask;
  if (!t || t->mLoopDepth == 0 || !t->mLoops[t->mLoopDepth - 1]) return 0;
  return t->mLoops[t->mLoopDepth - 1]->mCounter;
}

// The flat element of `count` subscripts of `var` (number v), computed and checked as the
// walk does; false where the walk refuses (and where its index would fall outside storage).
bool ElementIndex(const VarRecord* var, int32_t v, const int64_t* subs, int count, int64_t* index) {
  uint64_t at = 0;
  for (int k = 0; k < count; k++) {
    int64_t sub = subs[k];
    if (k >= var->mDimCount) {
      if (sub != 0) return false;
      continue;
    }
    if (sub < 0 || sub >= var->mDims[k]) return false;
    uint64_t stride = 1;
    for (int j = k + 1; j < var->mDimCount && j < VAR_MAX_DIMS; j++) stride *= (uint64_t)(int64_t)var->mDims[j];
    at += (uint64_t)sub * stride;
  }
  int64_t flat = (int64_t)at;
  if (v >= FIRST_USER_VARIABLE && (flat < 0 || flat >= var->mCount)) return false;
  *index = flat;
  return true;
}

// The element an access names: its subscripts on the integer stack (the last in `top`, the
// others below `sp`), written to the subscript list as the walk writes them, then checked.
inline bool AccessedElement(const FusedOp* o, int64_t top, const int64_t* sp, int64_t* index) {
  int count = o->mCount;
  if (count == 1 && o->mLimit) {
    g_Subscripts[0] = top;
    if ((uint64_t)top >= (uint64_t)o->mLimit) return false;
    *index = (int64_t)((uint64_t)top * (uint64_t)o->mStride);
    return true;
  }
  int64_t subs[EVAL_MAX_SUBSCRIPTS];
  for (int k = 0; k < count; k++) subs[k] = k == count - 1 ? top : sp[k - count + 1];
  for (int k = 0; k < count; k++) g_Subscripts[k] = subs[k];
  return ElementIndex(static_cast<const VarRecord*>(o->mRightSlot), o->mVariable, subs, count, index);
}

// Runs ops: a task's commands from its command index (program null), or one argument program.
// For commands returns as RunFusedCommands; for a program 1 with `result` set, or 0 when the
// program cannot run now.
int Interpret(ScriptTask* task, FusedCommand* program, uint32_t* steps, FusedResult* result) {
  static void* kCode[F_CODES];
  if (!kCode[F_GENERIC]) {
    for (void*& c : kCode) c = &&generic;
    kCode[I_CONST] = &&i_const;
    kCode[I_INT] = &&i_int;
    kCode[I_REALV] = &&i_realv;
    kCode[I_SYS] = &&i_sys;
    kCode[I_SYSR] = &&i_sysr;
    kCode[I_LOOP] = &&i_loop;
    kCode[I_REF] = &&i_ref;
    kCode[I_NEG] = &&i_neg;
    kCode[R_CONST] = &&r_const;
    kCode[R_INT] = &&r_int;
    kCode[R_REALV] = &&r_realv;
    kCode[R_SYS] = &&r_sys;
    kCode[R_SYSR] = &&r_sysr;
    kCode[R_REF] = &&r_ref;
    kCode[R_NEG] = &&r_neg;
    kCode[CVT_RI] = &&cvt_ri;
    kCode[I_ELEM_INT] = &&i_elem_int;
    kCode[I_ELEM_REAL] = &&i_elem_real;
    kCode[I_ELEM_SYS] = &&i_elem_sys;
    kCode[I_ELEM_SYSR] = &&i_elem_sysr;
    kCode[R_ELEM_INT] = &&r_elem_int;
    kCode[R_ELEM_REAL] = &&r_elem_real;
    kCode[R_ELEM_SYS] = &&r_elem_sys;
    kCode[R_ELEM_SYSR] = &&r_elem_sysr;
    kCode[T_ELEM_TEXT] = &&t_elem_text;
    kCode[T_LIT] = &&t_lit;
    kCode[T_VARV] = &&t_varv;
    kCode[T_STR] = &&t_str;
    kCode[T_STRR] = &&t_strr;
    kCode[T_CAT] = &&t_cat;
    kCode[I_TEQ] = &&i_teq;
    kCode[I_TNE] = &&i_tne;
    kCode[T_NONE_I] = &&t_none_i;
    kCode[T_NONE_R] = &&t_none_r;
    kCode[A_TARGET] = &&a_target;
    kCode[S_TEXT] = &&s_text;
    kCode[S_TEXT_E] = &&s_text;
    kCode[F_IF_ENTER] = &&f_if_enter;
    kCode[F_IF] = &&f_if;
    kCode[F_ELSE_IF_ENTER] = &&f_else_if_enter;
    kCode[F_ELSE_IF] = &&f_else_if;
    kCode[F_FLOW] = &&f_flow;
    kCode[F_ARG_I] = &&f_arg_i;
    kCode[F_ARG_T] = &&f_arg_t;
    kCode[F_CALL] = &&f_decoded;
    kCode[F_RETURN] = &&f_decoded;
    kCode[P_INT] = &&p_int;
    kCode[P_REAL] = &&p_real;
    kCode[P_TEXT] = &&p_text;
#define KIVOR_FORMS(name, code)                                        \
  kCode[I_BIN + FORM_COUNT * code + FORM_STACK] = &&i_##name##_ss;     \
  kCode[I_BIN + FORM_COUNT * code + FORM_TOP_CONST] = &&i_##name##_tk; \
  kCode[I_BIN + FORM_COUNT * code + FORM_TOP_VAR] = &&i_##name##_tv;   \
  kCode[I_BIN + FORM_COUNT * code + FORM_VAR_CONST] = &&i_##name##_vk; \
  kCode[I_BIN + FORM_COUNT * code + FORM_VAR_VAR] = &&i_##name##_vv;   \
  kCode[I_BIN + FORM_COUNT * code + FORM_CONST_VAR] = &&i_##name##_kv; \
  kCode[R_BIN + FORM_COUNT * code + FORM_STACK] = &&r_##name##_ss;     \
  kCode[R_BIN + FORM_COUNT * code + FORM_TOP_CONST] = &&r_##name##_tk; \
  kCode[R_BIN + FORM_COUNT * code + FORM_TOP_VAR] = &&r_##name##_tv;   \
  kCode[R_BIN + FORM_COUNT * code + FORM_VAR_CONST] = &&r_##name##_vk; \
  kCode[R_BIN + FORM_COUNT * code + FORM_VAR_VAR] = &&r_##name##_vv;   \
  kCode[R_BIN + FORM_COUNT * code + FORM_CONST_VAR] = &&r_##name##_kv;
    KIVOR_BINARY_OPERATORS(KIVOR_FORMS)
#undef KIVOR_FORMS
#define KIVOR_STORES(name, code)                 \
  kCode[S_INT + code] = &&s_int_##name;         \
  kCode[S_INT_E + code] = &&s_int_e_##name;     \
  kCode[S_REAL + code] = &&s_real_##name;       \
  kCode[S_REAL_E + code] = &&s_real_e_##name;
    KIVOR_ASSIGN_OPERATORS(KIVOR_STORES)
#undef KIVOR_STORES
  }

  FusedCommand* commands = nullptr;
  uint32_t count = 0;
  uint64_t epoch = g_VariableShapeEpoch;
  int32_t i = 0;
  uint32_t n = steps ? *steps : 0;
  int yield = 0;
  // The references as the evaluations so far have left them, handed to the globals before
  // anything can read them.
  int32_t refVariable = g_RefVariable;
  int64_t refElement = g_RefElement;
  uint8_t refBare = g_RefBare;
  int32_t refSubscripts = g_SubscriptCount;
  // The element of the last element read, and the assignment's target element.
  int64_t elem = 0, target = 0;
  int64_t istack[FUSED_STACK + 1], *sp = istack, tos = 0, a, b;
  double rstack[FUSED_STACK + 1], *rsp = rstack, rtos = 0;
  const char* tp[FUSED_TEXT_STACK];
  uint32_t tn[FUSED_TEXT_STACK];
  int td = 0;
  DecodedArgument decoded[FUSED_DECODED_ARGS + 1];
  const FusedOp* o;
  const CommandArgument* args;
  const VarRecord* var;
  int depth;

#define KIVOR_NEXT goto* kCode[(++o)->mRun]
#define KIVOR_FLUSH()                 \
  do {                                \
    g_RefVariable = refVariable;      \
    g_RefElement = refElement;        \
    g_RefBare = refBare;              \
    g_SubscriptCount = refSubscripts; \
  } while (0)
#define KIVOR_RELOAD()                \
  do {                                \
    refVariable = g_RefVariable;      \
    refElement = g_RefElement;        \
    refBare = g_RefBare;              \
    refSubscripts = g_SubscriptCount; \
  } while (0)
// An evaluation has ended at this op: the references it leaves.
#define KIVOR_END_EVALUATION()                                                                 \
  do {                                                                                         \
    if (o->mRefVariable >= 0) {                                                                \
      refVariable = o->mRefVariable;                                                           \
      refElement = o->mRefElement == REF_ELEMENT_READ ? elem : o->mRefElement == REF_ELEMENT_TARGET ? target : 0; \
    }                                                                                          \
    refBare = o->mRefBare;                                                                     \
    refSubscripts = o->mRefSubscripts;                                                         \
  } while (0)
// The command is done: count it and go on with command `to`.
#define KIVOR_GO_ON(to) \
  do {                  \
    i = (to);           \
    goto counted;       \
  } while (0)

  if (program) {
    o = program->mEpoch == epoch ? program->mRun : ResolveFusedCommand(program, epoch);
    goto* kCode[o->mRun];
  }
  commands = task->mFused;
  count = (uint32_t)task->mCommandCount;
  i = task->mCommandIndex;
  goto dispatch;

counted:
  // As in the plain loop: a turn this long is a loop without a wait; answer the window now and
  // then.
  if ((++n & (LONG_TURN_POLL_STEPS - 1)) == 0 && n >= LONG_TURN_STEPS) {
    KIVOR_FLUSH();
    task->mCommandIndex = i;
    *steps = n;
    AnswerWindowDuringLongTurn();
    if (g_QuitFlag || !FusedTurnAllowed() || task->mFused != commands) return 0;
    epoch = g_VariableShapeEpoch;
  }
dispatch:
  if ((uint32_t)i >= count) {
    // Off the end of the file: the plain loop reports it.
    KIVOR_FLUSH();
    task->mCommandIndex = i;
    *steps = n;
    return 0;
  }
  g_CurrentCommand = i;
  o = commands[i].mEpoch == epoch ? commands[i].mRun : ResolveFusedCommand(&commands[i], epoch);
  sp = istack;
  rsp = rstack;
  td = 0;
  goto* kCode[o->mRun];

generic:
  if (program) return 0;
  KIVOR_FLUSH();
  task->mCommandIndex = i + 1;
  yield = task->mHandlers[i]();
  KIVOR_RELOAD();
  // The handler may have switched files, changed variables or the conditions of this loop.
  if (!TurnFlagsAllow()) {
    if (++n >= LONG_TURN_STEPS && (n & (LONG_TURN_POLL_STEPS - 1)) == 0) AnswerWindowDuringLongTurn();
    *steps = n;
    return yield;
  }
handled:
  if (++n >= LONG_TURN_STEPS && (n & (LONG_TURN_POLL_STEPS - 1)) == 0) {
    *steps = n;
    AnswerWindowDuringLongTurn();
  }
  *steps = n;
  if (yield != 0 || g_QuitFlag || !task->mFused) {
    KIVOR_FLUSH();
    return yield;
  }
  commands = task->mFused;
  count = (uint32_t)task->mCommandCount;
  epoch = g_VariableShapeEpoch;
  i = task->mCommandIndex;
  goto dispatch;

  // Integer pushes.
i_const:
  *sp++ = tos;
  tos = o->mValue;
  KIVOR_NEXT;
i_int:
  *sp++ = tos;
  tos = *static_cast<const int64_t*>(o->mSlot);
  KIVOR_NEXT;
i_realv:
  *sp++ = tos;
  tos = RealToInt64(*static_cast<const double*>(o->mSlot));
  KIVOR_NEXT;
i_sys:
  *sp++ = tos;
  tos = ReadSystemIntVariable(o->mVariable, 0);
  KIVOR_NEXT;
i_sysr:
  *sp++ = tos;
  tos = RealToInt64(ReadSystemRealVariable(o->mVariable, 0));
  KIVOR_NEXT;
i_loop:
  *sp++ = tos;
  tos = InnermostLoopCounter();
  KIVOR_NEXT;
i_ref:
  *sp++ = tos;
  tos = 0;
  KIVOR_NEXT;
i_neg:
  tos = IntNegate(tos);
  KIVOR_NEXT;

  // Real pushes.
r_const:
  *rsp++ = rtos;
  rtos = RealBits(o->mValue);
  KIVOR_NEXT;
r_int:
  *rsp++ = rtos;
  rtos = (double)*static_cast<const int64_t*>(o->mSlot);
  KIVOR_NEXT;
r_realv:
  *rsp++ = rtos;
  rtos = *static_cast<const double*>(o->mSlot);
  KIVOR_NEXT;
r_sys:
  *rsp++ = rtos;
  rtos = (double)ReadSystemIntVariable(o->mVariable, 0);
  KIVOR_NEXT;
r_sysr:
  *rsp++ = rtos;
  rtos = ReadSystemRealVariable(o->mVariable, 0);
  KIVOR_NEXT;
r_ref:
  *rsp++ = rtos;
  rtos = 0.0;
  KIVOR_NEXT;
r_neg:
  rtos = -rtos;
  KIVOR_NEXT;
cvt_ri:
  *sp++ = tos;
  tos = RealToInt64(rtos);
  rtos = *--rsp;
  KIVOR_NEXT;

  // Elements. An integer access replaces its subscripts with the element; a real or text
  // access pops them and pushes the element in its own lane.
#define KIVOR_POP_SUBSCRIPTS()      \
  do {                              \
    if (o->mCount > 0) {            \
      sp -= o->mCount;              \
      tos = *sp;                    \
    }                               \
  } while (0)
#define KIVOR_INT_ELEMENT(label, value)              \
  label : if (!AccessedElement(o, tos, sp, &elem)) goto generic; \
  if (o->mCount == 0) *sp++ = tos;                   \
  else sp -= o->mCount - 1;                          \
  tos = (value);                                     \
  KIVOR_NEXT;
  KIVOR_INT_ELEMENT(i_elem_int, static_cast<const int64_t*>(o->mSlot)[elem])
  KIVOR_INT_ELEMENT(i_elem_real, RealToInt64(static_cast<const double*>(o->mSlot)[elem]))
  KIVOR_INT_ELEMENT(i_elem_sys, ReadSystemIntVariable(o->mVariable, (int32_t)elem))
  KIVOR_INT_ELEMENT(i_elem_sysr, RealToInt64(ReadSystemRealVariable(o->mVariable, (int32_t)elem)))
#undef KIVOR_INT_ELEMENT
#define KIVOR_REAL_ELEMENT(label, value)             \
  label : if (!AccessedElement(o, tos, sp, &elem)) goto generic; \
  KIVOR_POP_SUBSCRIPTS();                            \
  *rsp++ = rtos;                                     \
  rtos = (value);                                    \
  KIVOR_NEXT;
  KIVOR_REAL_ELEMENT(r_elem_int, (double)static_cast<const int64_t*>(o->mSlot)[elem])
  KIVOR_REAL_ELEMENT(r_elem_real, static_cast<const double*>(o->mSlot)[elem])
  KIVOR_REAL_ELEMENT(r_elem_sys, (double)ReadSystemIntVariable(o->mVariable, (int32_t)elem))
  KIVOR_REAL_ELEMENT(r_elem_sysr, ReadSystemRealVariable(o->mVariable, (int32_t)elem))
#undef KIVOR_REAL_ELEMENT
t_elem_text:
  if (!AccessedElement(o, tos, sp, &elem)) goto generic;
  KIVOR_POP_SUBSCRIPTS();
  tp[td] = static_cast<char* const*>(o->mSlot)[elem];
  goto text_pushed;
a_target:
  if (!AccessedElement(o, tos, sp, &target)) goto generic;
  KIVOR_POP_SUBSCRIPTS();
  KIVOR_NEXT;

  // Texts.
t_lit:
  tp[td] = static_cast<const char*>(o->mSlot);
  tn[td++] = (uint32_t)o->mEnd;
  KIVOR_NEXT;
t_varv:
  tp[td] = static_cast<char* const*>(o->mSlot)[0];
text_pushed:
  // A variable's text is taken as the walk copies it: cut to fit a text value.
  if (!tp[td]) tp[td] = "";
  tn[td] = (uint32_t)FittingLength(tp[td], strlen(tp[td]), TEXT_VALUE_BYTES - 1);
  td++;
  KIVOR_NEXT;
t_str:
  tn[td] = (uint32_t)FormatInteger(g_TextScratch[td], tos);
  tp[td] = g_TextScratch[td];
  td++;
  tos = *--sp;
  KIVOR_NEXT;
t_strr:
  tn[td] = (uint32_t)FormatReal(g_TextScratch[td], rtos);
  tp[td] = g_TextScratch[td];
  td++;
  rtos = *--rsp;
  KIVOR_NEXT;
t_cat: {
  // The left text is extended in its own level's buffer, as the walk extends its pool entry.
  char* buffer = g_TextScratch[td - 2];
  if (tp[td - 2] != buffer) {
    memcpy(buffer, tp[td - 2], tn[td - 2]);
    tp[td - 2] = buffer;
  }
  size_t add = FittingLength(tp[td - 1], tn[td - 1], TEXT_VALUE_BYTES - 1 - tn[td - 2]);
  memmove(buffer + tn[td - 2], tp[td - 1], add);
  tn[td - 2] += (uint32_t)add;
  td--;
  KIVOR_NEXT;
}
i_teq:
i_tne: {
  bool same = tn[td - 2] == tn[td - 1] && memcmp(tp[td - 2], tp[td - 1], tn[td - 1]) == 0;
  td -= 2;
  *sp++ = tos;
  tos = same == (o->mRun == I_TEQ);
  KIVOR_NEXT;
}
t_none_i:
  tos = *--sp;
  tp[td] = nullptr;
  tn[td++] = 0;
  KIVOR_NEXT;
t_none_r:
  rtos = *--rsp;
  tp[td] = nullptr;
  tn[td++] = 0;
  KIVOR_NEXT;

  // Integer and real binary operators in their forms.
#define KIVOR_FORMS(name, code)                                                                       \
  i_##name##_ss : a = *--sp;                                                                          \
  tos = IntBinary<code>(a, tos);                                                                      \
  KIVOR_NEXT;                                                                                         \
  i_##name##_tk : tos = IntBinary<code>(tos, o->mValue);                                              \
  KIVOR_NEXT;                                                                                         \
  i_##name##_tv : tos = IntBinary<code>(tos, *static_cast<const int64_t*>(o->mSlot));                 \
  KIVOR_NEXT;                                                                                         \
  i_##name##_vk : *sp++ = tos;                                                                        \
  tos = IntBinary<code>(*static_cast<const int64_t*>(o->mSlot), o->mValue);                           \
  KIVOR_NEXT;                                                                                         \
  i_##name##_vv : *sp++ = tos;                                                                        \
  a = *static_cast<const int64_t*>(o->mSlot);                                                         \
  b = *static_cast<const int64_t*>(o->mRightSlot);                                                    \
  tos = IntBinary<code>(a, b);                                                                        \
  KIVOR_NEXT;                                                                                         \
  i_##name##_kv : *sp++ = tos;                                                                        \
  tos = IntBinary<code>(o->mValue, *static_cast<const int64_t*>(o->mSlot));                           \
  KIVOR_NEXT;                                                                                         \
  r_##name##_ss : rtos = RealBinary<code>(*--rsp, rtos);                                              \
  KIVOR_NEXT;                                                                                         \
  r_##name##_tk : rtos = RealBinary<code>(rtos, RealBits(o->mValue));                                 \
  KIVOR_NEXT;                                                                                         \
  r_##name##_tv : rtos = RealBinary<code>(rtos, *static_cast<const double*>(o->mSlot));               \
  KIVOR_NEXT;                                                                                         \
  r_##name##_vk : *rsp++ = rtos;                                                                      \
  rtos = RealBinary<code>(*static_cast<const double*>(o->mSlot), RealBits(o->mValue));                \
  KIVOR_NEXT;                                                                                         \
  r_##name##_vv : *rsp++ = rtos;                                                                      \
  rtos = RealBinary<code>(*static_cast<const double*>(o->mSlot), *static_cast<const double*>(o->mRightSlot)); \
  KIVOR_NEXT;                                                                                         \
  r_##name##_kv : *rsp++ = rtos;                                                                      \
  rtos = RealBinary<code>(RealBits(o->mValue), *static_cast<const double*>(o->mSlot));                \
  KIVOR_NEXT;
  KIVOR_BINARY_OPERATORS(KIVOR_FORMS)
#undef KIVOR_FORMS

  // Assignments: the operator table's arithmetic on the scalar or the target element.
#define KIVOR_STORES(name, code)                                         \
  s_int_##name : IntAssign<code>(static_cast<int64_t*>(o->mSlot), tos);   \
  goto stored;                                                           \
  s_int_e_##name : IntAssign<code>(static_cast<int64_t*>(o->mSlot) + target, tos); \
  goto stored;                                                           \
  s_real_##name : RealAssign<code>(static_cast<double*>(o->mSlot), rtos); \
  goto stored;                                                           \
  s_real_e_##name : RealAssign<code>(static_cast<double*>(o->mSlot) + target, rtos); \
  goto stored;
  KIVOR_ASSIGN_OPERATORS(KIVOR_STORES)
#undef KIVOR_STORES
stored:
  KIVOR_END_EVALUATION();
  KIVOR_GO_ON(i + 1);
s_text: {
  // As the assignment command stores a text: '=' the value cut to a text value; '+=' the
  // element's text, then as much of the value as still fits.
  int32_t e = o->mRun == S_TEXT_E ? (int32_t)target : 0;
  const char* value = tp[td - 1];
  uint32_t length = tn[td - 1];
  if (o->mValue == 0) {
    StoreStringElementN(o->mVariable, e, value ? value : "",
                        value ? FittingLength(value, length, TEXT_VALUE_BYTES - 1) : 0);
  } else {
    var = static_cast<const VarRecord*>(o->mSlot);
    CopyTextBounded(g_JoinedText, TEXT_VALUE_BYTES, var->mTexts[e] ? var->mTexts[e] : "");
    size_t used = strlen(g_JoinedText);
    size_t add = value ? FittingLength(value, length, TEXT_VALUE_BYTES - 1 - used) : 0;
    if (add) memcpy(g_JoinedText + used, value, add);
    StoreStringElementN(o->mVariable, e, g_JoinedText, used + add);
  }
  KIVOR_END_EVALUATION();
  if (g_QuitFlag) {
    // A store that ran out of memory has given its fatal message: the plain loop stops here.
    KIVOR_FLUSH();
    task->mCommandIndex = i + 1;
    *steps = n + 1;
    return 0;
  }
  KIVOR_GO_ON(i + 1);
}

  // Blocks: the checks the handler makes before it evaluates (else it is the handler's), the
  // condition, then the block record and the jump the handler's own code makes.
f_if_enter:
  depth = task->mBlockDepth;
  if (depth >= MAX_OPEN_LEVELS || !task->mBlocks[depth] || !task->mBlocks[depth + 1]) goto generic;
  KIVOR_NEXT;
f_if:
  KIVOR_END_EVALUATION();
  args = task->mArgRecords[i];
  EnterIfBlock(task, i, args);
  if (tos != 0) KIVOR_GO_ON(i + 1);
  SkipIfBranch(task, args);
  KIVOR_GO_ON(task->mCommandIndex);
f_else_if_enter:
  if (task->mBlockDepth == 0) goto generic;
  KIVOR_NEXT;
f_else_if:
  KIVOR_END_EVALUATION();
  task->mCommandIndex = i + 1;
  yield = ElseIfDecided(task, task->mArgRecords[i], task->mArgCounts[i], tos != 0);
  if (yield == 0) KIVOR_GO_ON(task->mCommandIndex);
  goto handled;

  // A handler that evaluates nothing and changes no variable: called in the loop.
f_flow:
  task->mCommandIndex = i + 1;
  yield = task->mHandlers[i]();
  goto handled;

  // The call and return commands: each argument kept as its evaluation left it, then the
  // slots filled as decoding fills them and the command's own work done by its code.
f_arg_i:
  KIVOR_END_EVALUATION();
  decoded[o->mCount] = DecodedArgument{tos, nullptr, 0, refVariable, refElement, refBare};
  tos = *--sp;
  KIVOR_NEXT;
f_arg_t: {
  KIVOR_END_EVALUATION();
  const char* text = tp[td - 1];
  uint32_t length = tn[td - 1];
  // A text built in a level's buffer would be overwritten by the next argument's.
  if (text && text >= g_TextScratch[0] && text < g_TextScratch[FUSED_TEXT_STACK]) {
    memcpy(g_ArgumentTexts[o->mCount], text, length);
    text = g_ArgumentTexts[o->mCount];
  }
  decoded[o->mCount] = DecodedArgument{0, text, length, refVariable, refElement, refBare};
  td--;
  KIVOR_NEXT;
}
f_decoded:
  if (!CommitDecodedArguments((int)o->mValue, decoded)) goto generic;
  KIVOR_FLUSH();
  task->mCommandIndex = i + 1;
  yield = o->mRun == F_CALL ? CallDecoded() : ReturnDecoded();
  KIVOR_RELOAD();
  goto handled;

  // The end of an argument program.
p_int:
  result->mInt = tos;
  goto program_done;
p_real:
  result->mReal = rtos;
  goto program_done;
p_text:
  result->mText = tp[td - 1];
  result->mTextLength = tn[td - 1];
program_done:
  KIVOR_END_EVALUATION();
  KIVOR_FLUSH();
  return 1;
#undef KIVOR_POP_SUBSCRIPTS
#undef KIVOR_GO_ON
#undef KIVOR_END_EVALUATION
#undef KIVOR_RELOAD
#undef KIVOR_FLUSH
#undef KIVOR_NEXT
}

}  // namespace

bool FusedTurnAllowed() {
  return TurnFlagsAllow() && !g_DeclarationMode && NormalOpcodeTable() && StandardEvaluators() &&
         BuiltinAssignOperators();
}

int RunFusedCommands(ScriptTask* task, uint32_t* steps) { return Interpret(task, nullptr, steps, nullptr); }

bool RunArgumentProgram(FusedCommand* program, int64_t* value) {
  if (g_DeclarationMode || !NormalOpcodeTable()) return false;
  FusedResult result{};
  if (!Interpret(g_CurrentTask, program, nullptr, &result)) return false;
  *value = result.mInt;
  return true;
}

bool RunExpressionProgram(FusedCommand* program, FusedResult* result) {
  if (!program || g_DeclarationMode || !NormalOpcodeTable()) return false;
  *result = FusedResult{};
  return Interpret(g_CurrentTask, program, nullptr, result) != 0;
}
