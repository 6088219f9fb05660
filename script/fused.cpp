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
#include "script/flow_local.h"
#include "script/fused_local.h"
#include "script/script_set.h"
#include "script/sysvars.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

// Texts built at each level of the text stack, and the joined text of a '+=' assignment.
char g_TextScratch[FUSED_TEXT_STACK][TEXT_VALUE_BYTES];
char g_JoinedText[TEXT_VALUE_BYTES];

// By REF_ELEMENT_*: 0, the element of the last element read, and the assignment's target
// element: what an evaluation's end names as the references' element. (Kept here, not in the
// loop's registers, which its op pointer and stack tops need more.)
int64_t g_RefElements[3];
int64_t& g_ElementRead = g_RefElements[REF_ELEMENT_READ];
int64_t& g_TargetElement = g_RefElements[REF_ELEMENT_TARGET];

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

// Reals share the one value stack with integers, as their bits: the lanes of an expression
// never meet but in a conversion, and one stack keeps one register for its top.
inline double RealBits(int64_t bits) {
  double d;
  memcpy(&d, &bits, sizeof d);
  return d;
}
inline int64_t BitsOf(double d) {
  int64_t bits;
  memcpy(&bits, &d, sizeof bits);
  return bits;
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

// Whether an if command can open its block without the handler (which makes missing records
// and refuses a 64th level).
inline bool IfBlockFits(const ScriptTask* task) {
  int depth = task->mBlockDepth;
  return depth < FLOW_MAX_LEVELS && task->mBlocks[depth] && task->mBlocks[depth + 1];
}

// The subscripts of an access that lie on the value stack (a literal one is the op's own).
inline int StackSubscripts(const FusedOp* o) { return (int)o->mCount - ((o->mFlags & FUSED_CONST_OPERAND) ? 1 : 0); }

// The element an access names: its subscripts (a literal one, or the last in `top` and the
// others below `sp`), written to the subscript list as the walk writes them, then checked.
inline bool AccessedElement(const FusedOp* o, int64_t top, const int64_t* sp, int64_t* index) {
  int count = o->mCount;
  if (count == 1 && o->mLimit) {
    int64_t sub = (o->mFlags & FUSED_CONST_OPERAND) ? o->mValue : top;
    g_Subscripts[0] = sub;
    if ((uint64_t)sub >= (uint64_t)o->mLimit) return false;
    *index = (int64_t)((uint64_t)sub * (uint64_t)o->mStride);
    return true;
  }
  int64_t subs[EVAL_MAX_SUBSCRIPTS];
  if (o->mFlags & FUSED_CONST_OPERAND) subs[0] = o->mValue;
  else
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
    kCode[I_ELEM_CALL] = &&i_elem_call;
    kCode[R_ELEM_CALL] = &&r_elem_call;
    kCode[I_CALLK] = &&i_callk;
    kCode[I_CALLK_ARG] = &&i_callk_arg;
    kCode[I_CALLK_RETURN] = &&i_callk_return;
    kCode[R_CALLK] = &&r_callk;
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
    kCode[F_ELSE] = &&f_else;
    kCode[F_END_IF] = &&f_end_if;
    kCode[F_LOOP_END] = &&f_loop_end;
    kCode[F_FLOW] = &&f_flow;
    kCode[F_ARG_I] = &&f_arg_i;
    kCode[F_ARG_IV] = &&f_arg_iv;
    kCode[F_ARG_T] = &&f_arg_t;
    kCode[F_ARG_C] = &&f_arg_c;
    kCode[F_CALL] = &&f_decoded;
    kCode[F_RETURN] = &&f_decoded;
    kCode[F_CALL_INTS] = &&f_call_ints;
    kCode[F_RETURN_INTS] = &&f_return_ints;
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
  kCode[S_REAL_E + code] = &&s_real_e_##name;   \
  kCode[S_INTK + code] = &&s_intk_##name;       \
  kCode[S_INTK_E + code] = &&s_intk_e_##name;   \
  kCode[S_REALK + code] = &&s_realk_##name;     \
  kCode[S_REALK_E + code] = &&s_realk_e_##name;
    KIVOR_ASSIGN_OPERATORS(KIVOR_STORES)
#undef KIVOR_STORES
    g_GenericFusedOp.mLabel = &&generic;
  }

  FusedCommand* commands = nullptr;
  uint32_t count = 0;
  uint64_t epoch = g_VariableShapeEpoch;
  int32_t i = 0;
  uint32_t n = steps ? *steps : 0;
  int yield = 0;
  int64_t istack[FUSED_STACK + 1], *sp = istack, tos = 0;
  const char* tp[FUSED_TEXT_STACK];
  uint32_t tn[FUSED_TEXT_STACK];
  int td = 0;
  const FusedOp* o;

#define KIVOR_NEXT goto*(++o)->mLabel
// An evaluation has ended at this op: the references it leaves (the globals are the
// references as the evaluations so far have left them).
#define KIVOR_END_EVALUATION()                                                                 \
  do {                                                                                         \
    if (o->mRefVariable >= 0) {                                                                \
      g_RefVariable = o->mRefVariable;                                                         \
      g_RefElement = g_RefElements[o->mRefElement];                                            \
    }                                                                                          \
    g_RefBare = o->mRefBare;                                                                   \
    g_SubscriptCount = o->mRefSubscripts;                                                      \
  } while (0)
// The command is done: count it and go on with command `to`. Each command op dispatches the
// next command itself, so each has its own indirect branch to predict.
#define KIVOR_GO_ON(to)                                                                                \
  do {                                                                                                 \
    i = (to);                                                                                          \
    if ((++n & (LONG_TURN_POLL_STEPS - 1)) == 0 && n >= LONG_TURN_STEPS) goto long_turn;               \
    if ((uint32_t)i >= count) goto off_the_end;                                                        \
    g_CurrentCommand = i;                                                                              \
    o = commands[i].mEpoch == epoch ? commands[i].mRun : ResolveFusedCommand(&commands[i], epoch, kCode);     \
    sp = istack;                                                                                       \
    td = 0;                                                                                            \
    goto* o->mLabel;                                                                              \
  } while (0)

// A flow command has moved the task: on from where it stands, unless the command ended the
// turn. A jump, call or return into another file goes on in that file's ops, looked up for the
// variable shapes as they are now (loading a file may have declared variables).
#define KIVOR_FLOW_ON()                            \
  do {                                             \
    if (yield != 0 || g_QuitFlag) goto handled;    \
    if (task->mFused != commands) {                \
      if (!task->mFused) goto handled;             \
      commands = task->mFused;                     \
      count = (uint32_t)task->mCommandCount;       \
      epoch = g_VariableShapeEpoch;                \
    }                                              \
    KIVOR_GO_ON(task->mCommandIndex);              \
  } while (0)

  if (program) {
    o = program->mEpoch == epoch ? program->mRun : ResolveFusedCommand(program, epoch, kCode);
    goto* o->mLabel;
  }
  commands = task->mFused;
  count = (uint32_t)task->mCommandCount;
  i = task->mCommandIndex;
  goto dispatch;

long_turn:
  // As in the plain loop: a turn this long is a loop without a wait; answer the window now and
  // then.
  WritePendingSlots();
  task->mCommandIndex = i;
  *steps = n;
  AnswerWindowDuringLongTurn();
  if (g_QuitFlag || !FusedTurnAllowed() || task->mFused != commands) return 0;
  epoch = g_VariableShapeEpoch;
dispatch:
  if ((uint32_t)i >= count) goto off_the_end;
  g_CurrentCommand = i;
  o = commands[i].mEpoch == epoch ? commands[i].mRun : ResolveFusedCommand(&commands[i], epoch, kCode);
  sp = istack;
  td = 0;
  goto* o->mLabel;
off_the_end:
  // Off the end of the file: the plain loop reports it.
  WritePendingSlots();
  task->mCommandIndex = i;
  *steps = n;
  return 0;

generic:
  if (program) return 0;
  WritePendingSlots();
  task->mCommandIndex = i + 1;
  yield = task->mHandlers[i]();
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
    WritePendingSlots();
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
  *sp++ = tos;
  tos = o->mValue;
  KIVOR_NEXT;
r_int:
  *sp++ = tos;
  tos = BitsOf((double)*static_cast<const int64_t*>(o->mSlot));
  KIVOR_NEXT;
r_realv:
  *sp++ = tos;
  tos = *static_cast<const int64_t*>(o->mSlot);
  KIVOR_NEXT;
r_sys:
  *sp++ = tos;
  tos = BitsOf((double)ReadSystemIntVariable(o->mVariable, 0));
  KIVOR_NEXT;
r_sysr:
  *sp++ = tos;
  tos = BitsOf(ReadSystemRealVariable(o->mVariable, 0));
  KIVOR_NEXT;
r_ref:
  *sp++ = tos;
  tos = BitsOf(0.0);
  KIVOR_NEXT;
r_neg:
  tos = BitsOf(-RealBits(tos));
  KIVOR_NEXT;
cvt_ri:
  tos = RealToInt64(RealBits(tos));
  KIVOR_NEXT;

  // Elements: an access replaces its subscripts on the stack with the element.
#define KIVOR_POP_SUBSCRIPTS()            \
  do {                                    \
    if (int popped = StackSubscripts(o)) { \
      sp -= popped;                       \
      tos = *sp;                          \
    }                                     \
  } while (0)
#define KIVOR_ELEMENT(label, value)                  \
  label : if (!AccessedElement(o, tos, sp, &g_ElementRead)) goto generic; \
  if (int stacked = StackSubscripts(o)) sp -= stacked - 1;      \
  else *sp++ = tos;                                  \
  tos = (value);                                     \
  KIVOR_NEXT;
  KIVOR_ELEMENT(i_elem_int, static_cast<const int64_t*>(o->mSlot)[g_ElementRead])
  KIVOR_ELEMENT(i_elem_real, RealToInt64(static_cast<const double*>(o->mSlot)[g_ElementRead]))
  KIVOR_ELEMENT(i_elem_sys, ReadSystemIntVariable(o->mVariable, (int32_t)g_ElementRead))
  KIVOR_ELEMENT(i_elem_sysr, RealToInt64(ReadSystemRealVariable(o->mVariable, (int32_t)g_ElementRead)))
  KIVOR_ELEMENT(i_elem_call, CallFrameValue(o->mVariable, (int32_t)g_ElementRead))
  KIVOR_ELEMENT(r_elem_call, BitsOf((double)CallFrameValue(o->mVariable, (int32_t)g_ElementRead)))
  // A call value by a literal subscript (its element in mEnd).
#define KIVOR_CALLK(label, value) \
  label:                          \
  g_Subscripts[0] = o->mValue;    \
  g_ElementRead = o->mEnd;        \
  *sp++ = tos;                    \
  tos = (value);                  \
  KIVOR_NEXT;
  KIVOR_CALLK(i_callk, CallFrameValue(o->mVariable, o->mEnd))
  KIVOR_CALLK(i_callk_arg, InnermostSlotValue<50>(o->mEnd))
  KIVOR_CALLK(i_callk_return, InnermostSlotValue<54>(o->mEnd))
  KIVOR_CALLK(r_callk, BitsOf((double)CallFrameValue(o->mVariable, o->mEnd)))
#undef KIVOR_CALLK
  KIVOR_ELEMENT(r_elem_int, BitsOf((double)static_cast<const int64_t*>(o->mSlot)[g_ElementRead]))
  KIVOR_ELEMENT(r_elem_real, static_cast<const int64_t*>(o->mSlot)[g_ElementRead])
  KIVOR_ELEMENT(r_elem_sys, BitsOf((double)ReadSystemIntVariable(o->mVariable, (int32_t)g_ElementRead)))
  KIVOR_ELEMENT(r_elem_sysr, BitsOf(ReadSystemRealVariable(o->mVariable, (int32_t)g_ElementRead)))
#undef KIVOR_ELEMENT
t_elem_text:
  if (!AccessedElement(o, tos, sp, &g_ElementRead)) goto generic;
  KIVOR_POP_SUBSCRIPTS();
  tp[td] = static_cast<char* const*>(o->mSlot)[g_ElementRead];
  goto text_pushed;
a_target:
  if (!AccessedElement(o, tos, sp, &g_TargetElement)) goto generic;
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
  tn[td] = (uint32_t)FormatReal(g_TextScratch[td], RealBits(tos));
  tp[td] = g_TextScratch[td];
  td++;
  tos = *--sp;
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
  tos = *--sp;
  tp[td] = nullptr;
  tn[td++] = 0;
  KIVOR_NEXT;

  // Integer and real binary operators in their forms.
#define KIVOR_FORMS(name, code)                                                                       \
  i_##name##_ss : tos = IntBinary<code>(sp[-1], tos);                                                \
  sp--;                                                                                               \
  KIVOR_NEXT;                                                                                         \
  i_##name##_tk : tos = IntBinary<code>(tos, o->mValue);                                              \
  KIVOR_NEXT;                                                                                         \
  i_##name##_tv : tos = IntBinary<code>(tos, *static_cast<const int64_t*>(o->mSlot));                 \
  KIVOR_NEXT;                                                                                         \
  i_##name##_vk : *sp++ = tos;                                                                        \
  tos = IntBinary<code>(*static_cast<const int64_t*>(o->mSlot), o->mValue);                           \
  KIVOR_NEXT;                                                                                         \
  i_##name##_vv : *sp++ = tos;                                                                        \
  tos = IntBinary<code>(*static_cast<const int64_t*>(o->mSlot), *static_cast<const int64_t*>(o->mRightSlot)); \
  KIVOR_NEXT;                                                                                         \
  i_##name##_kv : *sp++ = tos;                                                                        \
  tos = IntBinary<code>(o->mValue, *static_cast<const int64_t*>(o->mSlot));                           \
  KIVOR_NEXT;                                                                                         \
  r_##name##_ss : tos = BitsOf(RealBinary<code>(RealBits(sp[-1]), RealBits(tos)));                     \
  sp--;                                                                                               \
  KIVOR_NEXT;                                                                                         \
  r_##name##_tk : tos = BitsOf(RealBinary<code>(RealBits(tos), RealBits(o->mValue)));                 \
  KIVOR_NEXT;                                                                                         \
  r_##name##_tv : tos = BitsOf(RealBinary<code>(RealBits(tos), *static_cast<const double*>(o->mSlot))); \
  KIVOR_NEXT;                                                                                         \
  r_##name##_vk : *sp++ = tos;                                                                        \
  tos = BitsOf(RealBinary<code>(*static_cast<const double*>(o->mSlot), RealBits(o->mValue)));         \
  KIVOR_NEXT;                                                                                         \
  r_##name##_vv : *sp++ = tos;                                                                        \
  tos = BitsOf(RealBinary<code>(*static_cast<const double*>(o->mSlot), *static_cast<const double*>(o->mRightSlot))); \
  KIVOR_NEXT;                                                                                         \
  r_##name##_kv : *sp++ = tos;                                                                        \
  tos = BitsOf(RealBinary<code>(RealBits(o->mValue), *static_cast<const double*>(o->mSlot)));         \
  KIVOR_NEXT;
  KIVOR_BINARY_OPERATORS(KIVOR_FORMS)
#undef KIVOR_FORMS

  // Assignments: the operator table's arithmetic on the scalar or the target element.
// Each store ends its command and dispatches the next itself.
#define KIVOR_STORED()         \
  do {                         \
    KIVOR_END_EVALUATION();    \
    KIVOR_GO_ON(i + 1);        \
  } while (0)
#define KIVOR_STORES(name, code)                                                             \
  s_int_##name : IntAssign<code>(static_cast<int64_t*>(o->mSlot), tos);                       \
  KIVOR_STORED();                                                                            \
  s_int_e_##name : IntAssign<code>(static_cast<int64_t*>(o->mSlot) + g_TargetElement, tos);   \
  KIVOR_STORED();                                                                            \
  s_real_##name : RealAssign<code>(static_cast<double*>(o->mSlot), RealBits(tos));            \
  KIVOR_STORED();                                                                            \
  s_real_e_##name : RealAssign<code>(static_cast<double*>(o->mSlot) + g_TargetElement, RealBits(tos)); \
  KIVOR_STORED();                                                                            \
  s_intk_##name : IntAssign<code>(static_cast<int64_t*>(o->mSlot), o->mValue);                \
  KIVOR_STORED();                                                                            \
  s_intk_e_##name : IntAssign<code>(static_cast<int64_t*>(o->mSlot) + g_TargetElement, o->mValue); \
  KIVOR_STORED();                                                                            \
  s_realk_##name : RealAssign<code>(static_cast<double*>(o->mSlot), RealBits(o->mValue));     \
  KIVOR_STORED();                                                                            \
  s_realk_e_##name : RealAssign<code>(static_cast<double*>(o->mSlot) + g_TargetElement, RealBits(o->mValue)); \
  KIVOR_STORED();
  KIVOR_ASSIGN_OPERATORS(KIVOR_STORES)
#undef KIVOR_STORES
#undef KIVOR_STORED
s_text: {
  // As the assignment command stores a text: '=' the value cut to a text value; '+=' the
  // element's text, then as much of the value as still fits.
  int32_t e = o->mRun == S_TEXT_E ? (int32_t)g_TargetElement : 0;
  const char* value = tp[td - 1];
  uint32_t length = tn[td - 1];
  if (o->mValue == 0) {
    StoreStringElementN(o->mVariable, e, value ? value : "",
                        value ? FittingLength(value, length, TEXT_VALUE_BYTES - 1) : 0);
  } else {
    const VarRecord* var = static_cast<const VarRecord*>(o->mSlot);
    CopyTextBounded(g_JoinedText, TEXT_VALUE_BYTES, var->mTexts[e] ? var->mTexts[e] : "");
    size_t used = strlen(g_JoinedText);
    size_t add = value ? FittingLength(value, length, TEXT_VALUE_BYTES - 1 - used) : 0;
    if (add) memcpy(g_JoinedText + used, value, add);
    StoreStringElementN(o->mVariable, e, g_JoinedText, used + add);
  }
  KIVOR_END_EVALUATION();
  if (g_QuitFlag) {
    // A store that ran out of memory has given its fatal message: the plain loop stops here.
    WritePendingSlots();
    task->mCommandIndex = i + 1;
    *steps = n + 1;
    return 0;
  }
  KIVOR_GO_ON(i + 1);
}

  // Blocks: the checks the handler makes before it evaluates (else it is the handler's), the
  // condition, then the block record and the jump the handler's own code makes.
f_if_enter:
  if (!IfBlockFits(task)) goto generic;
  KIVOR_NEXT;
f_if: {
  // The record of the next depth exists: opening the block cannot fail.
  if (!IfBlockFits(task)) goto generic;
  KIVOR_END_EVALUATION();
  const CommandArgument* args = task->mArgRecords[i];
  RecordIfBlock(task, i, args);
  task->mBlockDepth++;
  KIVOR_GO_ON(tos != 0 ? i + 1 : IfSkipTarget(task, args));
}
f_else_if_enter:
  if (task->mBlockDepth == 0) goto generic;
  KIVOR_NEXT;
f_else_if:
  if (task->mBlockDepth == 0) goto generic;
  KIVOR_END_EVALUATION();
  task->mCommandIndex = i + 1;
  yield = ElseIfDecided(task, task->mArgRecords[i], task->mArgCounts[i], tos != 0);
  if (yield == 0) KIVOR_GO_ON(task->mCommandIndex);
  goto handled;

  // Else, end-if and loop end: the handlers' own steps.
#define KIVOR_STEP(step)                                    \
  do {                                                      \
    task->mCommandIndex = i + 1;                            \
    if ((yield = step(task)) == 0) KIVOR_GO_ON(task->mCommandIndex); \
    goto handled;                                           \
  } while (0)
f_else:
  KIVOR_STEP(ElseStep);
f_end_if:
  KIVOR_STEP(EndIfStep);
f_loop_end:
  KIVOR_STEP(LoopEndStep);
#undef KIVOR_STEP

  // A handler that evaluates nothing and changes no variable: called in the loop.
f_flow:
  task->mCommandIndex = i + 1;
  yield = task->mHandlers[i]();
  KIVOR_FLOW_ON();

  // The call and return commands, decoded as decoding goes: each record's value once it has
  // passed its check (a value that fails is the handler's to report, having decoded what it
  // decodes before it), written where decoding writes values, the rest noted; then the
  // command's own work, from the values' places worked out when the file was fused.
#define KIVOR_NOTE_RECORD(code) NoteDecodedRecord(o->mCount, static_cast<const CommandArgument*>(o->mRightSlot), code)
#define KIVOR_KEEP_REFERENCES()                     \
  do {                                              \
    g_ArgReference[o->mCount] = g_RefVariable;      \
    g_ArgRefElement[o->mCount] = g_RefElement;      \
    g_ArgRefFlag[o->mCount] = g_RefBare;            \
  } while (0)
f_arg_i:
  if (o->mRight && !ArgumentCheckPasses((uint8_t)o->mRight, tos)) goto generic;
  KIVOR_END_EVALUATION();
  KIVOR_NOTE_RECORD(nullptr);
  g_ArgInteger[o->mCount] = tos;
  KIVOR_KEEP_REFERENCES();
  tos = *--sp;
  KIVOR_NEXT;
f_arg_iv: {
  int64_t value = *static_cast<const int64_t*>(o->mSlot);
  if (o->mRight && !ArgumentCheckPasses((uint8_t)o->mRight, value)) goto generic;
  KIVOR_END_EVALUATION();
  KIVOR_NOTE_RECORD(nullptr);
  g_ArgInteger[o->mCount] = value;
  KIVOR_KEEP_REFERENCES();
  KIVOR_NEXT;
}
f_arg_t: {
  char* slot = g_ArgString[o->mCount];
  if (!slot || (o->mRight && !ArgumentCheckPasses((uint8_t)o->mRight, g_ArgInteger[o->mCount]))) goto generic;
  KIVOR_END_EVALUATION();
  KIVOR_NOTE_RECORD(nullptr);
  if (o->mFlags & FUSED_CONST_OPERAND) {
    // A literal is copied when the slots are written.
    g_PendingText[o->mCount] = static_cast<const char*>(o->mSlot);
    g_PendingTextLength[o->mCount] = (uint32_t)o->mEnd;
  } else {
    // As the text evaluator copies a result: cut to fit; no text leaves the buffer as it was
    // (and a literal still noted for it is what it holds).
    if (tp[td - 1]) {
      g_PendingText[o->mCount] = nullptr;
      size_t length = FittingLength(tp[td - 1], tn[td - 1], TEXT_VALUE_BYTES - 1);
      memcpy(slot, tp[td - 1], length);
      slot[length] = 0;
    }
    td--;
  }
  KIVOR_KEEP_REFERENCES();
  KIVOR_NEXT;
}
f_arg_c:
  if (o->mRight && !ArgumentCheckPasses((uint8_t)o->mRight, g_ArgInteger[o->mCount])) goto generic;
  KIVOR_NOTE_RECORD(ArgumentCode(*static_cast<const CommandArgument*>(o->mRightSlot)));
  KIVOR_NEXT;
#undef KIVOR_KEEP_REFERENCES
#undef KIVOR_NOTE_RECORD
f_decoded:
  NoteDecodedCommand(static_cast<const CommandArgument*>(o->mSlot), (uint8_t)o->mEnd);
  task->mCommandIndex = i + 1;
  if (o->mFlags & FUSED_PLANNED) {
    // Value k from its place in the plan: the integer or text the decode kept there, or the
    // real parameter's expression.
    const uint8_t* plan = static_cast<const uint8_t*>(o->mRightSlot);
    const CommandArgument* records = static_cast<const CommandArgument*>(o->mSlot);
    auto from = [plan, records](int k) {
      uint8_t at = plan[2 * k - 1];
      switch (plan[2 * k - 2]) {
        case FRAME_VALUE_INT: return FrameValue{FRAME_VALUE_INT, g_ArgInteger[at], nullptr, 0, nullptr};
        case FRAME_VALUE_REAL:
          return FrameValue{FRAME_VALUE_REAL, 0, g_PendingCode[at], records[at - 1].mExprLength, nullptr};
        case FRAME_VALUE_TEXT: return FrameValue{FRAME_VALUE_TEXT, 0, nullptr, 0, g_PendingText[at]};
        default: return FrameValue{FRAME_VALUE_NONE, 0, nullptr, 0, nullptr};
      }
    };
    if (o->mRun == F_CALL) {
      yield = FillCallFrame(task, o->mCount, o->mFlags & FUSED_ONLY_LABEL, from);
      if (yield == 0) yield = EnterCall(task, o->mTarget);
    } else {
      yield = ReturnWithValues(task, o->mCount, o->mEnd > 0, from);
    }
  } else {
    WritePendingSlots();
    yield = o->mRun == F_CALL ? CallDecoded(o->mTarget) : ReturnDecoded();
  }
  KIVOR_FLOW_ON();
  // Planned with integers only (the common case): the same frame work with the value kind known.
#define KIVOR_INTEGERS()                                                                    \
  const uint8_t* plan = static_cast<const uint8_t*>(o->mRightSlot);                         \
  auto integer = [plan](int k) {                                                            \
    return FrameValue{FRAME_VALUE_INT, g_ArgInteger[plan[2 * k - 1]], nullptr, 0, nullptr}; \
  };                                                                                        \
  NoteDecodedCommand(static_cast<const CommandArgument*>(o->mSlot), (uint8_t)o->mEnd);      \
  task->mCommandIndex = i + 1
f_call_ints: {
  KIVOR_INTEGERS();
  yield = FillCallFrame(task, o->mCount, o->mFlags & FUSED_ONLY_LABEL, integer);
  if (yield == 0) yield = EnterCall(task, o->mTarget);
  KIVOR_FLOW_ON();
}
f_return_ints: {
  KIVOR_INTEGERS();
  yield = ReturnWithValues(task, o->mCount, o->mEnd > 0, integer);
  KIVOR_FLOW_ON();
}
#undef KIVOR_INTEGERS

  // The end of an argument program.
p_int:
  result->mInt = tos;
  goto program_done;
p_real:
  result->mReal = RealBits(tos);
  goto program_done;
p_text:
  result->mText = tp[td - 1];
  result->mTextLength = tn[td - 1];
program_done:
  KIVOR_END_EVALUATION();
  return 1;
#undef KIVOR_POP_SUBSCRIPTS
#undef KIVOR_FLOW_ON
#undef KIVOR_GO_ON
#undef KIVOR_END_EVALUATION
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
