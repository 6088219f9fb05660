// The image-processing command: resolves up to four layers, reads the rectangle and values,
// and runs the first operation whose selector the script gave.
#include "layers/image_process.h"

#include <cstdint>
#include <cstring>

#include "app/engine.h"
#include "layers/compose_ops.h"
#include "layers/image_filters.h"
#include "layers/image_scale.h"
#include "layers/layer.h"
#include "layers/layer_args.h"
#include "render/gpu.h"
#include "script/nametree.h"
#include "script/task.h"
#include "text/text.h"

namespace {

// Parameters by number, as the command table declares them.
enum : int {
  P_LAYER = 1,          // 1..4, the four layer paths
  P_NUMBER = 5,         // 5..8, numbers appended to them
  P_A = 10,
  P_B = 11,
  P_TEXT = 12,
  P_X1 = 13, P_Y1 = 14, P_X2 = 15, P_Y2 = 16,
  P_WIDTH = 17, P_HEIGHT = 18,
  P_X1C = 19, P_Y1C = 20, P_X2C = 21, P_Y2C = 22,
  P_WIDTHC = 23, P_HEIGHTC = 24,
  P_LEFT = 25, P_RIGHT = 26, P_TOP = 27, P_BOTTOM = 28,
  P_SCALE = 29,         // 29..33 the scaling methods
  P_ROTATE = 34,
  P_COMPOSE = 39, P_COMPOSE_ALPHA = 40, P_CROSS_FADE = 41, P_RULE = 42, P_DIFFERENCES = 43,
  P_MATCHES = 44,
  P_CANVAS = 46,
};

enum OpKind : uint8_t {
  OP_SCALE, OP_ROTATE, OP_FILTER, OP_FILL, OP_STYLE, OP_TEXT, OP_COMPOSE, OP_COMPOSE_ALPHA,
  OP_CROSS_FADE, OP_RULE, OP_DIFFERENCES, OP_MATCHES, OP_TRIM, OP_CANVAS, OP_SWAP, OP_PASTE, OP_CAPTURE
};

// One selector in the order the command tries them. `bound` is the largest value a may take
// (-1: not checked); `rectMessage` refuses an explicit rectangle; `secondMessage` refuses a
// call without a second layer.
struct Selector {
  int mParam;
  OpKind mKind;
  int32_t mCode;          // filter code, scaling method base, fill mode or swap mode
  int64_t mBound;
  int32_t mRectMessage;
  int32_t mSecondMessage;
};

const Selector kSelectors[] = {
    {29, OP_SCALE, 10, -1, 0, 0},
    {30, OP_SCALE, 20, -1, 0, 0},
    {31, OP_SCALE, 30, -1, 0, 0},
    {32, OP_SCALE, 40, -1, 0, 0},
    {33, OP_SCALE, 50, -1, 0, 0},
    {34, OP_ROTATE, 10, -1, 101282, 0},
    {36, OP_FILTER, 29, 256, 0, 0},
    {37, OP_FILTER, 12, 0xFFFFFF, 0, 0},
    {38, OP_FILTER, 38, 0xFFFFFF, 0, 0},
    {47, OP_FILTER, 1, 256, 0, 0},
    {48, OP_FILTER, 19, 256, 0, 0},
    {49, OP_FILTER, 37, 1, 0, 0},
    {50, OP_FILTER, 11, 1, 0, 0},
    {51, OP_FILTER, 20, 256, 101283, 0},
    {52, OP_FILTER, 2, 256, 0, 0},
    {53, OP_FILTER, 3, 256, 0, 0},
    {54, OP_FILTER, 4, 256, 0, 0},
    {56, OP_FILTER, 6, 256, 0, 0},
    {57, OP_FILTER, 7, 256, 0, 0},
    {55, OP_FILTER, 5, 256, 0, 0},
    {58, OP_FILTER, 10, 256, 101284, 0},
    {59, OP_FILTER, 21, -1, 0, 0},
    {60, OP_FILTER, 22, -1, 0, 0},
    {61, OP_FILTER, 23, -1, 0, 0},
    {66, OP_FILTER, 39, -1, 0, 0},
    {62, OP_FILTER, 27, 1, 0, 0},
    {63, OP_FILL, 1, -1, 0, 0},
    {64, OP_FILL, 2, -1, 0, 0},
    {65, OP_FILL, 3, -1, 0, 0},
    {67, OP_STYLE, 0, -1, 0, 0},
    {68, OP_TEXT, 0, -1, 0, 0},
    {P_COMPOSE, OP_COMPOSE, 0, -1, 0, 101298},
    {P_COMPOSE_ALPHA, OP_COMPOSE_ALPHA, 0, -1, 0, 101298},
    {P_CROSS_FADE, OP_CROSS_FADE, 0, -1, 0, 101298},
    {P_RULE, OP_RULE, 0, -1, 0, 101298},
    {P_DIFFERENCES, OP_DIFFERENCES, 0, -1, 0, 101298},
    {P_MATCHES, OP_MATCHES, 0, -1, 0, 101298},
    {45, OP_TRIM, 0, 15, 0, 0},
    {P_CANVAS, OP_CANVAS, 0, -1, 0, 0},
    {69, OP_FILTER, 8, -1, 0, 101296},
    {70, OP_FILTER, 9, -1, 0, 101296},
    {71, OP_SWAP, 1, -1, 101281, 101297},
    {72, OP_SWAP, 2, -1, 101281, 101297},
    {73, OP_PASTE, 0, -1, 0, 0},
    {74, OP_CAPTURE, 0, -1, 0, 0},
};

// What one call works on, after lookup and clamping.
struct ProcessCall {
  NameNode* mLayers[4];   // p1..p4; those past the layer count are null
  int32_t mCount;         // 0..3: how many layers after the first were named
  int64_t mA;
  int32_t mB;
  int64_t mX1, mY1, mX2, mY2;             // pixels
  int64_t mX1c, mY1c, mX2c, mY2c;         // 1/100 pixel
  int64_t mWidthC, mHeightC;
};

int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : v > hi ? hi : v; }

int64_t ArgOr(int param, int64_t fallback) { return ArgGiven(param) ? ArgInt(param) : fallback; }

// Values a and b are expressions the command evaluates itself, by their evaluator kind.
int64_t EvalValue(int param) {
  int p = ParamPosition(param - 1);
  if (!p) return 0;
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  if (!args || p > count) return 0;
  return EvalArgumentInt(&args[p - 1]);
}

// Path of layer k (0..3) with its number, normalised against the layer folder: 0 a leaf,
// 1 a group, -1 after a message.
int32_t NormalizeLayerPath(int k, char* path) {
  char name[OBJECT_PATH_BYTES];
  if (ArgGiven(P_NUMBER + k)) AppendLayerNumber(name, sizeof name, ArgText(P_LAYER + k), ArgInt(P_NUMBER + k));
  else CopyTextBounded(name, sizeof name, ArgText(P_LAYER + k));
  int32_t kind = NormalizeObjectPath(path, name, g_LayerFolder, false);
  if (kind < 0) return -1;
  return ArgGiven(P_NUMBER + k) ? 0 : kind;
}

// Marks a group's whole canvas dirty and composes it now, so the operation sees what it shows.
void RecomposeGroupNow(NameNode* node) {
  LayerRecord* r = GetLayerRecord(node);
  r->mDirtyValid = 1;
  r->mWholeDirty = 1;
  r->mDirtyRect[0] = 0;
  r->mDirtyRect[1] = 0;
  r->mDirtyRect[2] = int64_t(r->mWidth) - 1;
  r->mDirtyRect[3] = int64_t(r->mHeight) - 1;
  ApplyPendingLayerStateAll();
  RecomposeLayer(node);
}

// Finds or creates the layer of p2, p3 or p4. Null after a message (result -1 in *failed).
NameNode* ResolveOtherLayer(int k, bool* failed) {
  *failed = true;
  // Without its path the layer would resolve to the layer folder itself.
  if (!ArgGiven(P_LAYER + k) || ArgText(P_LAYER + k)[0] == 0) return nullptr;
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeLayerPath(k, path);
  if (kind < 0) return nullptr;
  if (kind == 1) {
    ReportScriptErrorF(101291, 1, CurrentCommandName(), path);
    return nullptr;
  }
  NameNode* node = FindNodeByPath(g_LayerRoot, path, NAME_LOOKUP_LEAF);
  if (!node) {
    node = CreateNamedNode(g_LayerRoot, path, false, 1);
    if (!node || !AttachNewLayerRecord(node)) return nullptr;
  } else if (!GetLayerRecord(node) && !AttachNewLayerRecord(node)) {
    return nullptr;
  }
  InvalidateLayer(node);
  *failed = false;
  return node;
}

bool ClampsRectangle() {
  for (int p = P_SCALE; p <= P_SCALE + 4; p++)
    if (ArgGiven(p)) return false;
  for (int p = P_COMPOSE; p <= P_MATCHES; p++)
    if (ArgGiven(p)) return false;
  return !ArgGiven(P_CANVAS);
}

void ReadRectangle(ProcessCall* c) {
  const LayerRecord* r = GetLayerRecord(c->mLayers[0]);
  int64_t w = r->mWidth, h = r->mHeight;
  c->mX1 = ArgOr(P_X1, 0);
  c->mY1 = ArgOr(P_Y1, 0);
  c->mX2 = ArgOr(P_X2, w - 1);
  c->mY2 = ArgOr(P_Y2, h - 1);
  bool clamp = ClampsRectangle();
  if (clamp) {
    c->mX1 = Clamp64(c->mX1, 0, w - 1);
    c->mX2 = Clamp64(c->mX2, 0, w - 1);
    c->mY1 = Clamp64(c->mY1, 0, h - 1);
    c->mY2 = Clamp64(c->mY2, 0, h - 1);
  }
  // Scripts may give any 64-bit value; the hundredfold defaults wrap rather than overflow.
  auto times100 = [](int64_t v) { return int64_t(uint64_t(v) * 100u); };
  c->mX1c = ArgOr(P_X1C, times100(c->mX1));
  c->mY1c = ArgOr(P_Y1C, times100(c->mY1));
  c->mX2c = ArgOr(P_X2C, times100(c->mX2));
  c->mY2c = ArgOr(P_Y2C, times100(c->mY2));
  if (clamp) {
    c->mX1c = Clamp64(c->mX1c, 0, 100 * (w - 1));
    c->mX2c = Clamp64(c->mX2c, 0, 100 * (w - 1));
    c->mY1c = Clamp64(c->mY1c, 0, 100 * (h - 1));
    c->mY2c = Clamp64(c->mY2c, 0, 100 * (h - 1));
  }
  c->mWidthC = ArgOr(P_WIDTHC, times100(ArgOr(P_WIDTH, 0)));
  c->mHeightC = ArgOr(P_HEIGHTC, times100(ArgOr(P_HEIGHT, 0)));
}

bool AnyRectangleGiven() { return ArgGiven(P_X1) || ArgGiven(P_Y1) || ArgGiven(P_X2) || ArgGiven(P_Y2); }

// The checks of a selector's row, in the order the command makes them; false after a message.
bool PassesChecks(const Selector& s, const ProcessCall& c) {
  if (s.mBound >= 0 && uint32_t(c.mA) > uint64_t(s.mBound)) {
    ReportScriptErrorF(101000, 1, CurrentCommandName(), CurrentParameterName(P_A), (long long)c.mA, 0,
                       int(s.mBound));
    return false;
  }
  if (s.mRectMessage && AnyRectangleGiven()) {
    ReportScriptErrorF(s.mRectMessage, 1, CurrentCommandName(), CurrentParameterName(s.mParam));
    return false;
  }
  if (s.mSecondMessage && c.mCount < 1) {
    ReportScriptErrorF(s.mSecondMessage, 1, CurrentCommandName(), CurrentParameterName(s.mParam));
    return false;
  }
  return true;
}

// Both output sides of a scaling must make an image the layer code can hold.
bool ScaleSizeFits(const ProcessCall& c) {
  const int64_t sizes[2] = {c.mWidthC / 100, c.mHeightC / 100};
  for (int i = 0; i < 2; i++) {
    if (sizes[i] >= 1 && sizes[i] <= MAX_IMAGE_SIDE) continue;
    ReportScriptErrorF(101000, 1, CurrentCommandName(), CurrentParameterName(P_WIDTH + i), (long long)sizes[i], 1,
                       int(MAX_IMAGE_SIDE));
    return false;
  }
  return true;
}

int32_t Int32(int64_t v) { return int32_t(Clamp64(v, INT32_MIN, INT32_MAX)); }

int RunFilter(const ProcessCall& c, int32_t code, int32_t mode) {
  return ApplyImageFilter(code, c.mLayers[0], c.mLayers[1], Int32(c.mX1), Int32(c.mY1), Int32(c.mX2), Int32(c.mY2),
                          c.mA, c.mB, c.mCount, mode);
}

// Draws the text of p12 into the first layer with the current style slot, from (x1, y1).
int DrawText(const ProcessCall& c) {
  if (!ArgGiven(P_TEXT)) return -1;
  const TextStyle& style = g_TextStyles[g_TextStyleSlot];
  const char* text = ArgText(P_TEXT);
  int64_t x = c.mX1;
  while (*text) {
    char character[3] = {text[0], 0, 0};
    size_t length = 1;
    if (g_LeadByteTable[uint8_t(text[0])] && text[1]) character[1] = text[1], length = 2;
    x += DrawTextChar(character, style.mColour1, style.mColour2, style.mGradient, style.mRotation, style.mWidth,
                      style.mHeight, style.mBold, style.mAntialias, int32_t(c.mA), x, c.mY1, style.mComposite,
                      c.mLayers[0]);
    text += length;
  }
  return 0;
}

int RunSelector(const Selector& s, const ProcessCall& c) {
  NameNode* const* l = c.mLayers;
  switch (s.mKind) {
    case OP_SCALE: {
      // The first scaling selector is nearest-neighbour outright; the others add their value.
      int64_t method = s.mParam == P_SCALE ? s.mCode : s.mCode + ArgInt(s.mParam);
      return ScaleLayerImage(l[0], l[1], c.mX1c, c.mY1c, c.mX2c, c.mY2c, c.mWidthC, c.mHeightC, c.mCount,
                             Int32(method));
    }
    case OP_ROTATE: {
      const LayerRecord* r = GetLayerRecord(l[0]);
      return RotateLayerImage(l[0], l[1], 0, 0, r->mWidth - 1, r->mHeight - 1, c.mA, c.mCount,
                              Int32(s.mCode + ArgInt(s.mParam)));
    }
    case OP_FILTER:
      return RunFilter(c, s.mCode, 0);
    case OP_FILL:
      if (ArgInt(s.mParam) >= 2 && GetLayerRecord(l[1])) GetLayerRecord(l[1])->mHasAlpha = 1;
      return RunFilter(c, 24, s.mCode);
    case OP_COMPOSE:
      return ComposeLayerOnto(l[0], l[1], c.mX1, c.mY1);
    case OP_COMPOSE_ALPHA:
      return ComposeOntoAlpha(l[0], l[1], c.mX1, c.mY1);
    case OP_CROSS_FADE:
      return ComposeThroughMask(l[0], l[1], l[2], c.mX1, c.mY1, c.mA);
    case OP_RULE:
      return RuleTransition(l[0], l[1], l[2], l[3], c.mX1, c.mY1, c.mA, c.mB);
    case OP_DIFFERENCES:
      return KeepDifferences(l[0], l[1], c.mX1, c.mY1);
    case OP_MATCHES:
      return KeepMatches(l[0], l[1], c.mX1, c.mY1);
    case OP_TRIM:
      return TrimTransparentBorder(l[0], l[1], c.mCount, int32_t(c.mA));
    case OP_CANVAS:
      return ResizeCanvas(l[0], l[1], c.mCount, ArgOr(P_LEFT, 0), ArgOr(P_RIGHT, 0), ArgOr(P_TOP, 0),
                          ArgOr(P_BOTTOM, 0));
    case OP_SWAP:
      return SwapLayers(l[0], l[1], s.mCode) < 0 ? -1 : 0;
    case OP_PASTE:
      PasteSprite(l[0], l[1]);
      g_GpuRedrawRequest = 1;
      return 0;
    case OP_CAPTURE:
      CaptureScene(l[0], l[1]);
      return 0;
    case OP_STYLE:
    case OP_TEXT:
      break;
  }
  return 0;
}

int ProcessImage() {
  if (DecodeLayerArguments(CMD_IMAGE_PROCESS) != 0) return -1;
  ProcessCall c{};
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeLayerPath(0, path);
  if (kind < 0) return -1;
  NameNode* first = FindNodeByPath(g_LayerRoot, path, kind == 1 ? NAME_LOOKUP_GROUP : NAME_LOOKUP_LEAF);
  if (!first || !GetLayerRecord(first)) return 0;
  if (first->mIsGroup) RecomposeGroupNow(first);
  c.mLayers[0] = first;
  c.mCount = ArgGiven(P_LAYER + 3) ? 3 : ArgGiven(P_LAYER + 2) ? 2 : ArgGiven(P_LAYER + 1) ? 1 : 0;
  for (int k = 1; k <= c.mCount; k++) {
    bool failed;
    c.mLayers[k] = ResolveOtherLayer(k, &failed);
    if (failed) return -1;
  }
  c.mA = EvalValue(P_A);
  c.mB = int32_t(EvalValue(P_B));
  ReadRectangle(&c);

  for (const Selector& s : kSelectors) {
    if (!ArgGiven(s.mParam)) continue;
    if (!PassesChecks(s, c)) return -1;
    if (s.mKind == OP_SCALE && !ScaleSizeFits(c)) return -1;
    // Style and text run first and hand on to the selectors after them.
    if (s.mKind == OP_STYLE) {
      SelectTextStyleSlot(Int32(ArgInt(s.mParam)));
      continue;
    }
    if (s.mKind == OP_TEXT) {
      if (DrawText(c) != 0) return -1;
      continue;
    }
    return RunSelector(s, c) < 0 ? -1 : 0;
  }
  return 0;
}

}  // namespace

int CmdImageProcess() {
  int result = ProcessImage();
  SelectTextStyleSlot(0);
  return result;
}
