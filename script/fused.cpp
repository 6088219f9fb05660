// Fused command code: built from a linked file's integer programs and flow records, and run by
// one direct-threaded loop. Values, references, stack records and positions come out exactly as
// the handlers leave them; an op that cannot be taken has changed nothing yet and hands its
// command to the handler, which then decides (and reports) as it always does.
#include "script/fused.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/engine.h"
#include "script/eval.h"
#include "script/int_program_local.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

// Fused op codes: those of integer programs, whose closing op is never fused and whose code
// calls the handler here, then the command ops (the stores of assignments come before these).
enum : int { F_GENERIC = IP_END, F_IF = IP_CODES, F_ELSE_IF, F_ELSE, F_END_IF, F_LOOP_END, F_JUMP, F_CODES };
static_assert(F_CODES <= 256, "fused op codes are bytes");

constexpr int MAX_OPEN_LEVELS = TASK_STACK_SLOTS - 1;

const FusedOp kGenericOp{};

// Whether command `position` of the task's file is run by `kind`: the handlers refuse records
// that lead anywhere else, so such a command goes to its handler.
inline bool LandsOn(const ScriptTask* task, int64_t position, CommandHandler kind) {
  return position >= 0 && position < task->mCommandCount && task->mHandlers[position] == kind;
}

inline bool CommandOp(int code) { return code >= IP_STORE || code == F_GENERIC; }

// Which variable fields an op reads or writes.
uint8_t ReadsOf(int code) {
  if (code == IP_VARIABLE || (code >= IP_STORE && code < IP_CODES)) return 1;
  if (code < IP_BINARY || code >= IP_STORE) return 0;
  switch ((code - IP_BINARY) % FORM_COUNT) {
    case FORM_TOP_VAR:
    case FORM_VAR_CONST: return 1;
    case FORM_VAR_VAR: return 3;
    case FORM_CONST_VAR: return 2;
    default: return 0;
  }
}

// Appends a program's ops without its closing op; returns the closing op's value (the variable
// the evaluation refers to last, -1 none).
int64_t AppendProgram(std::vector<FusedOp>* ops, const IntProgramOp* program) {
  int k = 0;
  for (; program[k].mCode != IP_END; k++) {
    const IntProgramOp& p = program[k];
    FusedOp f{};
    f.mCode = p.mCode;
    f.mReads = ReadsOf(p.mCode);
    f.mVariable = p.mVariable;
    f.mRight = p.mRight;
    f.mValue = p.mValue;
    ops->push_back(f);
  }
  return program[k].mValue;
}

// The argument records that EvalArgumentInt hands to the integer program of their kind.
inline bool IntegerProgram(const CommandArgument& a) { return a.mProgram && (a.mKind == 1 || a.mKind == 3); }

void AppendCommandOp(std::vector<FusedOp>* ops, int code, int64_t value, int32_t target, int32_t end) {
  FusedOp f{};
  f.mCode = (uint8_t)code;
  f.mValue = value;
  f.mTarget = target;
  f.mEnd = end;
  ops->push_back(f);
}

// Appends the fused form of command i; false when it runs through its handler alone. The
// choice goes by the linked handler, so a handler slot filled otherwise is always called.
bool FuseCommand(const ScriptFileRecord* file, int32_t i, std::vector<FusedOp>* ops) {
  CommandHandler handler = file->mHandlers[i];
  const CommandArgument* a = file->mArgRecords[i];
  uint8_t count = file->mArgCounts[i];
  if (handler == CmdAssignPlainInt && file->mAssignPrograms && file->mAssignPrograms[i]) {
    int64_t last = AppendProgram(ops, file->mAssignPrograms[i]);
    ops->back().mValue = last;   // the store carries the references the command leaves
    return true;
  }
  if (handler == CmdIf && count >= 3 && IntegerProgram(a[0])) {
    int64_t last = AppendProgram(ops, a[0].mProgram);
    AppendCommandOp(ops, F_IF, last, (int32_t)a[1].mExprLength, (int32_t)a[2].mExprLength);
    return true;
  }
  if (handler == CmdElseIf && count >= 1 && IntegerProgram(a[0])) {
    int64_t last = AppendProgram(ops, a[0].mProgram);
    AppendCommandOp(ops, F_ELSE_IF, last, count >= 2 ? (int32_t)a[1].mExprLength : 0, 0);
    return true;
  }
  if (handler == CmdJump && count > 0 && (a[0].mExprLength & ~LABEL_INDEX_MASK)) {
    AppendCommandOp(ops, F_JUMP, a[0].mExprLength & LABEL_INDEX_MASK, 0, 0);
    return true;
  }
  int code = handler == CmdElse ? F_ELSE : handler == CmdEndIf ? F_END_IF : handler == CmdLoopEnd ? F_LOOP_END : -1;
  if (code < 0) return false;
  AppendCommandOp(ops, code, -1, 0, 0);
  return true;
}

// Looks up the elements a command's ops name for the current variable shapes: its ops when all
// of them hold plain integers, else the handler's op.
const FusedOp* Resolve(FusedCommand* c, uint64_t epoch) {
  c->mEpoch = epoch;
  c->mRun = &kGenericOp;
  if (!c->mOps) return c->mRun;
  for (FusedOp* o = c->mOps;; o++) {
    if ((o->mReads & 1) && !(o->mSlot = PlainIntSlot(o->mVariable))) return c->mRun;
    if ((o->mReads & 2) && !(o->mRightSlot = PlainIntSlot(o->mRight))) return c->mRun;
    if (CommandOp(o->mCode)) break;
  }
  return c->mRun = c->mOps;
}

}  // namespace

bool FuseScriptFile(ScriptFileRecord* file) {
  int32_t n = file->mCommandCount;
  if (n <= 0 || !file->mHandlers) return true;
  std::vector<FusedOp> ops;
  std::vector<size_t> starts((size_t)n, SIZE_MAX);
  for (int32_t i = 0; i < n; i++) {
    size_t at = ops.size();
    if (FuseCommand(file, i, &ops)) starts[(size_t)i] = at;
  }
  FusedCommand* commands = static_cast<FusedCommand*>(calloc((size_t)n, sizeof(FusedCommand)));
  FusedOp* store = static_cast<FusedOp*>(malloc((ops.size() > 0 ? ops.size() : 1) * sizeof(FusedOp)));
  if (!commands || !store) {
    free(commands);
    free(store);
    return false;
  }
  if (!ops.empty()) memcpy(store, ops.data(), ops.size() * sizeof(FusedOp));
  for (int32_t i = 0; i < n; i++) {
    // Epoch 0 is older than any shape, so each command looks its variables up when first run.
    commands[i].mRun = &kGenericOp;
    commands[i].mOps = starts[(size_t)i] != SIZE_MAX ? store + starts[(size_t)i] : nullptr;
  }
  file->mFused = commands;
  file->mFusedOps = store;
  return true;
}

bool FusedTurnAllowed() {
  return !g_DebugMode && (g_KeepRunningInactive || !g_InactivePause) && !g_DeclarationMode && NormalOpcodeTable() &&
         g_IntEvaluators[1] == EvalIntegerExpr && g_IntEvaluators[3] == EvalIntegerExpr && BuiltinIntAssignOperators();
}

int RunFusedCommands(ScriptTask* task, uint32_t* steps) {
  // Direct threading: every op ends with its own jump to the next op's code.
  static void* const kCode[F_CODES] = {
      &&generic, &&push_const, &&push_variable, &&negate,
#define KIVOR_FORMS(op) &&op##_ss, &&op##_tk, &&op##_tv, &&op##_vk, &&op##_vv, &&op##_kv,
      KIVOR_FORMS(add) KIVOR_FORMS(sub) KIVOR_FORMS(mul) KIVOR_FORMS(div) KIVOR_FORMS(mod) KIVOR_FORMS(band)
      KIVOR_FORMS(bor) KIVOR_FORMS(bxor) KIVOR_FORMS(land) KIVOR_FORMS(lor) KIVOR_FORMS(eq) KIVOR_FORMS(ne)
      KIVOR_FORMS(gt) KIVOR_FORMS(lt) KIVOR_FORMS(ge) KIVOR_FORMS(le)
#undef KIVOR_FORMS
      &&store_set, &&store_add, &&store_sub, &&store_mul, &&store_div, &&store_mod, &&store_and, &&store_or,
      &&store_xor, &&f_if, &&f_else_if, &&f_else, &&f_end_if, &&f_loop_end, &&f_jump,
  };
  FusedCommand* commands = task->mFused;
  uint32_t count = (uint32_t)task->mCommandCount;
  uint64_t epoch = g_VariableShapeEpoch;
  int32_t i = task->mCommandIndex;   // the command running (or about to run)
  int32_t last = g_CurrentCommand;   // the command that ran last
  uint32_t n = *steps;
  // The references of the evaluations run here, handed to the globals before anything that
  // can read them: whether any ran, and the variable read last (-1 none).
  bool evaluated = false;
  int64_t lastVariable = -1;
  int64_t stack[INT_PROGRAM_MAX_OPS + 1];
  int64_t* sp = stack;
  int64_t tos = 0, a, b;
  int64_t* slot;
  const FusedOp* o;
  int depth, blocks, loops, yield;
  BlockRecord* block;
  LoopRecord* loop;
  const LabelRecord* label;

#define KIVOR_NEXT goto* kCode[(++o)->mCode]
// The command is done: count it and go on with command `to`.
#define KIVOR_GO_ON(to) \
  do {                  \
    last = i;           \
    i = (to);           \
    goto counted;       \
  } while (0)
#define KIVOR_FLUSH()                                 \
  do {                                                \
    if (evaluated) {                                  \
      g_RefBare = 0;                                  \
      g_SubscriptCount = 0;                           \
      if (lastVariable >= 0) {                        \
        g_RefVariable = (int32_t)lastVariable;        \
        g_RefElement = 0;                             \
      }                                               \
    }                                                 \
    evaluated = false;                                \
    lastVariable = -1;                                \
    g_CurrentCommand = last;                          \
  } while (0)

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
  o = commands[i].mEpoch == epoch ? commands[i].mRun : Resolve(&commands[i], epoch);
  sp = stack;
  goto* kCode[o->mCode];

generic:
  KIVOR_FLUSH();
  task->mCommandIndex = i + 1;
  g_CurrentCommand = i;
  yield = task->mHandlers[i]();
  if (++n >= LONG_TURN_STEPS && (n & (LONG_TURN_POLL_STEPS - 1)) == 0) {
    *steps = n;
    AnswerWindowDuringLongTurn();
  }
  *steps = n;
  if (yield != 0 || g_QuitFlag) return yield;
  // The handler may have switched files, changed variables or the conditions of this loop.
  if (!task->mFused || !FusedTurnAllowed()) return 0;
  commands = task->mFused;
  count = (uint32_t)task->mCommandCount;
  epoch = g_VariableShapeEpoch;
  last = i;
  i = task->mCommandIndex;
  goto dispatch;

push_const:
  *sp++ = tos;
  tos = o->mValue;
  KIVOR_NEXT;
push_variable:
  *sp++ = tos;
  tos = *o->mSlot;
  KIVOR_NEXT;
negate:
  tos = (int64_t)(0 - (uint64_t)tos);
  KIVOR_NEXT;
#define KIVOR_BINARY(op, value) \
  op##_ss : a = *--sp;          \
  b = tos;                      \
  tos = (value);                \
  KIVOR_NEXT;                   \
  op##_tk : a = tos;            \
  b = o->mValue;                \
  tos = (value);                \
  KIVOR_NEXT;                   \
  op##_tv : a = tos;            \
  b = *o->mSlot;                \
  tos = (value);                \
  KIVOR_NEXT;                   \
  op##_vk : a = *o->mSlot;      \
  b = o->mValue;                \
  *sp++ = tos;                  \
  tos = (value);                \
  KIVOR_NEXT;                   \
  op##_vv : a = *o->mSlot;      \
  b = *o->mRightSlot;           \
  *sp++ = tos;                  \
  tos = (value);                \
  KIVOR_NEXT;                   \
  op##_kv : a = o->mValue;      \
  b = *o->mRightSlot;           \
  *sp++ = tos;                  \
  tos = (value);                \
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

  // Assignments: the integer operators on element 0 of a plain integer, as the operator table
  // computes them.
#define KIVOR_STORE(op, statement) \
  store_##op : slot = o->mSlot;    \
  statement;                       \
  goto assigned;
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
assigned:
  evaluated = true;
  lastVariable = o->mValue;
  KIVOR_GO_ON(i + 1);

f_if:
  depth = task->mBlockDepth;
  if (depth >= MAX_OPEN_LEVELS || !task->mBlocks[depth] || !task->mBlocks[depth + 1]) goto generic;
  block = task->mBlocks[depth];
  block->mOpener = i;
  block->mLoopDepth = task->mLoopDepth;
  block->mEnd = o->mEnd;
  task->mBlockDepth = (uint8_t)(depth + 1);
  evaluated = true;
  if (o->mValue >= 0) lastVariable = o->mValue;
  KIVOR_GO_ON(tos != 0 ? i + 1 : o->mTarget ? o->mTarget : o->mEnd);
f_else_if:
  depth = task->mBlockDepth;
  if (depth == 0) goto generic;
  blocks = tos != 0 ? i + 1 : o->mTarget ? o->mTarget : task->mBlocks[depth - 1]->mEnd;
  if (tos == 0 && !o->mTarget && !LandsOn(task, blocks, CmdEndIf)) goto generic;
  evaluated = true;
  if (o->mValue >= 0) lastVariable = o->mValue;
  KIVOR_GO_ON(blocks);
f_else:
  depth = task->mBlockDepth;
  if (depth == 0 || !LandsOn(task, task->mBlocks[depth - 1]->mEnd, CmdEndIf)) goto generic;
  KIVOR_GO_ON(task->mBlocks[depth - 1]->mEnd);
f_end_if:
  depth = task->mBlockDepth;
  if (depth == 0) goto generic;
  task->mBlockDepth = (uint8_t)(depth - 1);
  task->mBlocks[depth - 1]->mEnd = 0;
  KIVOR_GO_ON(i + 1);
f_loop_end:
  depth = task->mLoopDepth;
  if (depth == 0) goto generic;
  loop = task->mLoops[depth - 1];
  if (loop->mLimit == -1 || loop->mCounter < loop->mLimit) {
    if (!LandsOn(task, (int64_t)loop->mStart - 1, CmdLoop)) goto generic;
    loop->mCounter++;
    task->mBlockDepth = loop->mBlockDepth;
    KIVOR_GO_ON(loop->mStart);
  }
  task->mLoopDepth = (uint8_t)(depth - 1);
  loop->mCounter = 0;
  loop->mLimit = 0;
  loop->mStart = 0;
  KIVOR_GO_ON(i + 1);
f_jump:
  // A resolved label in this file; another file's label goes through the handler.
  if (o->mValue >= g_Labels.mCount) goto generic;
  label = &g_Labels.mRecords[o->mValue];
  if (label->mScriptFile != task->mScriptFile) goto generic;
  blocks = label->mBlockDepth;
  loops = label->mLoopDepth;
  if (task->mCallDepth > 0) {
    blocks += task->mFrames[task->mCallDepth - 1]->mBlockDepth;
    loops += task->mFrames[task->mCallDepth - 1]->mLoopDepth;
  }
  if (blocks > MAX_OPEN_LEVELS || loops > MAX_OPEN_LEVELS) goto generic;
  for (depth = 0; depth <= blocks; depth++)
    if (!task->mBlocks[depth]) goto generic;
  for (depth = 0; depth <= loops; depth++)
    if (!task->mLoops[depth]) goto generic;
  task->mBlockDepth = (uint8_t)blocks;
  task->mLoopDepth = (uint8_t)loops;
  KIVOR_GO_ON(label->mPosition);
#undef KIVOR_GO_ON
#undef KIVOR_FLUSH
#undef KIVOR_NEXT
}
