// The text style commands: setting a style slot (27) and reading styles and fonts back (28).
#include "app/engine.h"
#include "layers/layer.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "text/text.h"

namespace {

constexpr int CMD_TEXT_STYLE = 27;
constexpr int CMD_TEXT_INFO = 28;

int Param(int n) { return ParamPosition(n - 1); }
bool Given(int n) { return Param(n) != 0; }
int64_t IntParam(int n) { return g_ArgInteger[Param(n)]; }

// A font number (from 1) checked against the table: 101010 below 1, 101240 above the count.
bool CheckFontNumber(int code, int param, int64_t n) {
  const CommandDef& def = g_CommandDefs[code];
  const char* paramName = def.mParamNames[param - 1] ? def.mParamNames[param - 1] : "";
  const char* command = def.mName ? def.mName : "";
  if (n < 1) return ReportScriptErrorF(101010, 1, command, paramName, (long long)n, 1), false;
  if (n > g_FontCount)
    return ReportScriptErrorF(101240, 1, command, paramName, (long long)n, (int)g_FontCount), false;
  return true;
}

// One style field set through its argument's operator, starting from the message record's
// mirror of slot 0 whichever slot is chosen.
int64_t Operate(int n, int64_t live, int64_t max) {
  int p = Param(n);
  return ApplyAssignOpClamped(g_ArgOperator[p], live, g_ArgInteger[p], 0, max);
}

}  // namespace

int CmdTextStyle() {
  if (DecodeCommandArguments(CMD_TEXT_STYLE) != 0) return -1;
  EnsureFontTable();
  // Only slots 0..7 exist; a script naming another one changes nothing.
  if (Given(1) && (IntParam(1) < 0 || IntParam(1) >= TEXT_STYLE_SLOTS)) return 0;
  if (Given(1)) SelectTextStyleSlot((int32_t)IntParam(1));
  TextStyle& style = g_TextStyles[g_TextStyleSlot];
  MessageRecord* m = g_Message;
  bool mirror = g_TextStyleSlot == 0;
  if (Given(2)) {
    if (!CheckFontNumber(CMD_TEXT_STYLE, 2, IntParam(2))) return SelectTextStyleSlot(0), -1;
    SetSlotFontIndex((int32_t)IntParam(2) - 1);
  }
  if (Given(3)) SelectSlotFontByName(g_ArgString[Param(3)]);
  if (Given(4)) {
    style.mAntialias = (uint8_t)IntParam(4);
    if (mirror) m->mAntialias = style.mAntialias;
  }
  if (Given(5)) {
    style.mColour1 = (uint32_t)Operate(5, m->mColour1, 0xFFFFFF);
    if (mirror) m->mColour1 = style.mColour1;
  }
  if (Given(6)) {
    style.mColour2 = (uint32_t)Operate(6, m->mColour2, 0xFFFFFF);
    if (mirror) m->mColour2 = style.mColour2;
  }
  if (Given(7)) {
    style.mGradient = (uint8_t)Operate(7, m->mGradient, 8);
    if (mirror) m->mGradient = style.mGradient;
  }
  if (Given(8)) {
    style.mRotation = (uint8_t)Operate(8, m->mRotation, 8);
    if (mirror) m->mRotation = style.mRotation;
  }
  if (Given(9)) {
    style.mComposite = (uint8_t)Operate(9, m->mComposite, 1);
    if (mirror) m->mComposite = style.mComposite;
  }
  if (Given(10)) {
    style.mWidth = (int32_t)Operate(10, m->mWidth, 256);
    if (mirror) m->mWidth = style.mWidth;
  }
  if (Given(11)) {
    style.mHeight = (int32_t)Operate(11, m->mHeight, 256);
    if (mirror) m->mHeight = style.mHeight;
  }
  if (Given(12)) {
    style.mBold = (int32_t)Operate(12, m->mBold, 1);
    if (mirror) m->mBold = (uint8_t)style.mBold;
  }
  SelectTextStyleSlot(0);
  return 0;
}

int CmdTextInfo() {
  if (DecodeCommandArguments(CMD_TEXT_INFO) != 0) return -1;
  EnsureFontTable();
  int target = Param(19);
  auto storeInt = [&](int64_t value) {
    if (target) StoreIntElement(g_ArgReference[target], (int32_t)g_ArgRefElement[target], value);
    return 0;
  };
  MessageRecord* m = g_Message;
  const int64_t live[9] = {(int8_t)m->mAntialias, m->mColour1, m->mColour2, (int8_t)m->mGradient,
                           (int8_t)m->mRotation, (int8_t)m->mComposite, m->mWidth, m->mHeight,
                           (int8_t)m->mBold};
  for (int n = 3; n <= 11; n++)
    if (Given(n)) return storeInt(live[n - 3]);
  if (Given(12) && IntParam(12) == 1) return storeInt(g_FontCount);
  if (Given(13)) return storeInt(0);
  if (Given(15) || Given(16)) {
    // Without a text there is nothing to measure.
    if (!Given(18) || g_ArgString[Param(18)][0] == '\0') return storeInt(0);
    int32_t advance = 0, height = 0;
    RenderGlyph(g_ArgString[Param(18)], m->mWidth, m->mHeight, m->mBold, m->mAntialias, &advance, &height);
    return storeInt(Given(15) ? advance : height);
  }
  bool faceName = Given(2) && IntParam(2) == 1, script = Given(14) && IntParam(14) == 1;
  if (faceName || script) {
    int64_t n = Given(1) ? IntParam(1) : GetSlotFontIndex() + 1;
    if (!CheckFontNumber(CMD_TEXT_INFO, 1, n)) return -1;
    if (!faceName) return storeInt((int8_t)g_FontScript[n - 1]);
    if (target) StoreStringElement(g_ArgReference[target], (int32_t)g_ArgRefElement[target], g_FontFaces[n - 1]);
    return 0;
  }
  return storeInt(0);
}
