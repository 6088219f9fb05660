// The message commands: literal text (97), values (101), the block end (70), the message
// settings (87) and their query (88).
#include <cinttypes>
#include <cstdio>

#include "app/engine.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "text/text.h"

namespace {

constexpr int CMD_MESSAGE_END = 70;
constexpr int CMD_MESSAGE_CONFIG = 87;
constexpr int CMD_MESSAGE_CONFIG_GET = 88;
constexpr int CMD_MESSAGE_TEXT = 97;
constexpr int CMD_MESSAGE_VALUE = 101;

// Position of parameter n (numbered from 1), 0 when the script did not give it.
int Param(int n) { return ParamPosition(n - 1); }

bool Given(int n) { return Param(n) != 0; }

int64_t IntParam(int n) { return g_ArgInteger[Param(n)]; }

bool ParamIsOne(int n) { return Given(n) && IntParam(n) == 1; }

// Key numbers index the 1024-slot key table; 0 and anything outside it mean no key.
int32_t KeyNumber(int64_t value) { return value > 0 && value < 1023 ? (int32_t)value : 1023; }

const char* CommandName() {
  const char* name = g_CommandDefs[CMD_MESSAGE_CONFIG].mName;
  return name ? name : "";
}

// A layer given a size without an image (an empty file name) is opaque black with the blank
// pixel at its top-left, drawn without its alpha. Typed into, its first page would stay a black
// box until the first page turn clears it to transparent; so it starts as a page turn leaves
// every later page: cleared, its alpha in use as the glyphs would set it. An image of its own,
// or a blank one drawn on since, is left as it is.
void StartOnAClearPage(NameNode* node) {
  LayerRecord* r = GetLayerRecord(node);
  if (!r || !r->mPixels || r->mHasAlpha || r->mWidth < 1 || r->mHeight < 1) return;
  const uint32_t* pixel = reinterpret_cast<const uint32_t*>(r->mPixels);
  size_t count = size_t(r->mWidth) * size_t(r->mHeight);
  if (pixel[0] != g_TransparentFill) return;
  for (size_t i = 1; i < count; i++)
    if (pixel[i] != 0xFF000000u) return;
  g_PixelKernels.zeroFill(r->mPixels, count * 4);
  r->mHasAlpha = 1;
  InvalidateLayer(node);
}

int SetMessageLayer(const char* path) {
  char normalized[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(normalized, path, g_LayerFolder, false) < 0) return -1;
  LayerRecord* old = GetLayerRecord(g_Message->mLayer);
  if (old) old->mIsMessageLayer = 0;
  NameNode* node = FindNodeByPath(g_LayerRoot, normalized, NAME_LOOKUP_LEAF);
  if (!node) return ReportScriptErrorF(101250, 1, CommandName(), path), -1;
  g_Message->mLayer = node;
  if (LayerRecord* r = GetLayerRecord(node)) r->mIsMessageLayer = 1;
  StartOnAClearPage(node);
  return 0;
}

}  // namespace

int CmdMessageText() {
  if (DecodeCommandArguments(CMD_MESSAGE_TEXT) != 0) return -1;
  uint8_t count = 0;
  CommandArgument* args = CurrentArguments(&count);
  if (count == 0) return 0;
  // The literal is taken as compiled, without evaluation.
  const uint8_t* bytes;
  uint32_t length;
  if (!ArgumentExpression(&args[0], &bytes, &length)) return -1;
  if (length > (uint32_t)MESSAGE_TEXT_LIMIT) return ReportScriptError(102000, 1), -1;
  return AppendMessageText((const char*)bytes, (int32_t)length);
}

int CmdMessageValue() {
  if (DecodeCommandArguments(CMD_MESSAGE_VALUE) != 0) return -1;
  uint8_t count = 0;
  CommandArgument* args = CurrentArguments(&count);
  if (count == 0) return 0;
  static char text[TEXT_VALUE_BYTES];
  int32_t length = 0;
  switch (args[0].mKind) {
    case 1:
      length = snprintf(text, sizeof text, "%" PRId64, EvalArgumentInt(&args[0]));
      break;
    case 2:
      length = snprintf(text, sizeof text, "%f", EvalArgumentReal(&args[0], 5));
      break;
    case 3:
      length = EvalArgumentString(&args[0], text, sizeof text, false);
      break;
    default:
      break;
  }
  if (length < 0) length = 0;
  if (length >= (int32_t)sizeof text) length = (int32_t)sizeof text - 1;
  return AppendMessageValue(text, length);
}

int CmdMessageEnd() {
  ScriptTask* task = g_CurrentTask;
  uint8_t count = 0;
  CommandArgument* args = CurrentArguments(&count);
  if (count > 0) {
    task->mMessageMark1 = (uint32_t)args[0].mParamId | (uint32_t)args[0].mSpare << 8 |
                          (uint32_t)args[0].mKind << 16 | (uint32_t)args[0].mOperator << 24;
    task->mMessageMark2 = args[0].mExprLength;
  }
  CloseMessageBlock();
  task->mWaitingForMessage = 1;
  return -1;
}

int CmdMessageConfig() {
  if (DecodeCommandArguments(CMD_MESSAGE_CONFIG) != 0) return -1;
  MessageRecord* m = g_Message;
  if (Given(1) && SetMessageLayer(g_ArgString[Param(1)]) < 0) return -1;
  // Values other than 0 and 1 would count as shown at the block end but hidden at output,
  // leaving a message that is never cleared.
  if (Given(2)) m->mShown = IntParam(2) != 0 ? 1 : 0;
  for (int i = 0; i < 4; i++) {
    if (Given(3 + i)) g_MessageAdvanceKeys[i] = KeyNumber(IntParam(3 + i));
    if (Given(7 + i)) g_MessageSkipKeys[i] = KeyNumber(IntParam(7 + i));
  }
  if (Given(11)) m->mCharDelay = (int32_t)IntParam(11);
  if (ParamIsOne(16)) {
    if (AppendMessageControl(MSG_CODE_CLICK, true) < 0) return -1;
    if (m->mShown != 0) return -1;
  }
  const uint8_t codes[4] = {MSG_CODE_NEWLINE, MSG_CODE_PAGE, 'r', 'p'};
  for (int i = 0; i < 4; i++)
    if (ParamIsOne(12 + i) && AppendMessageControl(codes[i], true) < 0) return -1;
  if (ParamIsOne(17)) {
    m->mFinished = 1;
    ClearMessage();
  }
  if (Given(18)) m->mEndNewLine = (int32_t)IntParam(18);
  if (Given(19)) m->mEndNewPage = (int32_t)IntParam(19);
  if (Given(20)) m->mEndClickWait = (int32_t)IntParam(20);
  return 0;
}

int CmdMessageConfigGet() {
  if (DecodeCommandArguments(CMD_MESSAGE_CONFIG_GET) != 0) return -1;
  int target = Param(9);
  if (!target) return 0;
  MessageRecord* m = g_Message;
  const int64_t values[7] = {m->mShown, m->mCursorX, m->mCursorY, (int8_t)m->mWaitingClick,
                             m->mEndNewLine, m->mEndNewPage, m->mEndClickWait};
  for (int n = 2; n <= 8; n++)
    if (Given(n))
      return StoreIntElement(g_ArgReference[target], (int32_t)g_ArgRefElement[target], values[n - 2]), 0;
  return 0;
}
