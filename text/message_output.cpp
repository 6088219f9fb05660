// Typewriter output of the message record: character timing on the millisecond clock, click
// waits, skipping, pages and line breaking, and the release of the waiting task.
#include <cstring>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/input.h"
#include "layers/layer.h"
#include "platform/platform.h"
#include "script/task.h"
#include "text/text.h"

namespace {

// Characters that never begin a line while they can still hang in its last cell, and opening
// brackets that never end one; written in UTF-8 and turned into code page 932 once.
const char* const kNoLineStartUtf8 = "）』」、。ッョュャォェゥィァっょゅゃぉぇぅぃぁ";
const char* const kNoLineEndUtf8 = "（『「";

struct LineBreakTables {
  std::string noLineStart, noLineEnd, exclamation, question;
  LineBreakTables() {
    PlatUtf8ToCp932(kNoLineStartUtf8, strlen(kNoLineStartUtf8), &noLineStart);
    PlatUtf8ToCp932(kNoLineEndUtf8, strlen(kNoLineEndUtf8), &noLineEnd);
    PlatUtf8ToCp932("！", strlen("！"), &exclamation);
    PlatUtf8ToCp932("？", strlen("？"), &question);
  }
};

const LineBreakTables& Tables() {
  static const LineBreakTables tables;
  return tables;
}

// True when the two bytes at `c` are one of the table's double-byte characters.
bool InTable(const std::string& table, const char* c) {
  for (size_t i = 0; i + 1 < table.size(); i += 2)
    if (table[i] == c[0] && table[i + 1] == c[1]) return true;
  return false;
}

int64_t KeyHold(int32_t key) {
  if (key < 0 || key >= KEY_NONE) return 0;
  return g_KeyState.mHoldFrames[key];
}

bool AnyKeyHeld(const int32_t keys[4]) {
  for (int i = 0; i < 4; i++)
    if (KeyHold(keys[i]) > 0) return true;
  return false;
}

bool AnyKeyPressed(const int32_t keys[4]) {
  for (int i = 0; i < 4; i++)
    if (KeyHold(keys[i]) == 1) return true;
  return false;
}

// Passing a click wait restarts the timing, so the next character waits a full delay.
void PassClick() {
  g_Message->mRestartTiming = 1;
  g_Message->mWaitingClick = 0;
  g_Message->mCurrentEntry += 1;
}

int16_t EntryHeight(int32_t e) {
  return e >= 0 && e < g_Message->mEntryCount ? g_Message->mCellHeight[e] : 0;
}

// Draws the character of entry `e` at `textPos` with its style at the pen and moves the pen.
void DrawEntryChar(int32_t e, const char* character, NameNode* layer) {
  MessageRecord* m = g_Message;
  m->mCursorX += DrawTextChar(character, m->mEntryColour1[e], m->mEntryColour2[e],
                              m->mEntryGradient[e], m->mEntryRotation[e], m->mCellWidth[e],
                              m->mCellHeight[e], m->mEntryBold[e], m->mAntialias, 0, m->mCursorX,
                              m->mCursorY, m->mComposite, layer);
}

}  // namespace

int WaitCharDelay() {
  MessageRecord* m = g_Message;
  if (g_MessageInstant || m->mTextPos <= 0) return 0;
  uint32_t elapsed = PlatGetTicks() - g_MessageCharTime;
  int16_t stored = m->mDelay[m->mCurrentEntry];
  // A negative delay would read as a huge unsigned one and stall the message: none at all.
  uint32_t delay = stored > 0 ? (uint32_t)stored : 0;
  if (delay > elapsed) return -1;
  g_MessageCharTime += delay;
  return 0;
}

int BreakMessageLine(NameNode* layerNode) {
  MessageRecord* m = g_Message;
  LayerRecord* layer = GetLayerRecord(layerNode);
  int64_t W = layer ? layer->mWidth : 0, H = layer ? layer->mHeight : 0;
  int32_t e = m->mCurrentEntry;
  int64_t w = m->mCellWidth[e], next = EntryHeight(e + 1);
  bool doubleByte = m->mCode[e] == MSG_CODE_CHAR2 && m->mTextPos + 2 <= m->mTextLength;
  const char* c = m->mText + m->mTextPos;
  auto drop = [&]() {
    m->mTextPos = m->mTextLength;
    return -1;
  };
  auto newLineThenPageTest = [&]() {
    m->mCursorX = 0;
    m->mCursorY += m->mCellHeight[e];
    return m->mCursorY + next + 2 >= H ? drop() : 0;
  };
  if (m->mCursorY + next + 2 >= H) return drop();
  if (m->mCursorX + w + 2 >= W) return newLineThenPageTest();
  if (m->mCursorX + 2 * w + 2 >= W) {
    if (!doubleByte || !InTable(Tables().noLineStart, c)) return newLineThenPageTest();
    char character[3] = {c[0], c[1], 0};
    DrawEntryChar(e, character, layerNode);
    m->mTextPos += 2;
    return -1;
  }
  if (m->mCursorX + 4 * w + 2 >= W && doubleByte) {
    const LineBreakTables& t = Tables();
    bool pair = InTable(t.exclamation, c) && e + 1 < m->mEntryCount &&
                m->mCode[e + 1] == MSG_CODE_CHAR2 && m->mTextPos + 4 <= m->mTextLength &&
                InTable(t.question, c + 2);
    if (pair) {
      char first[3] = {c[0], c[1], 0}, second[3] = {c[2], c[3], 0};
      DrawEntryChar(e, first, layerNode);
      DrawEntryChar(e, second, layerNode);
      m->mTextPos += 4;
      m->mCurrentEntry += 1;
      return -1;
    }
    if (InTable(t.noLineEnd, c)) return newLineThenPageTest();
  }
  return 0;
}

void OutputMessageEntries() {
  MessageRecord* m = g_Message;
  NameNode* layerNode = m->mLayer;
  if (!layerNode) return;
  bool drawn = false;
  while (m->mCurrentEntry < m->mEntryCount) {
    int32_t e = m->mCurrentEntry;
    if (m->mRestartTiming) {
      m->mRestartTiming = 0;
      g_MessageCharTime = PlatGetTicks();
    }
    switch (m->mCode[e]) {
      case MSG_CODE_CHAR1:
      case MSG_CODE_CHAR2: {
        if (WaitCharDelay() < 0) return;
        // After a dropped page the text is spent: the remaining characters draw nothing.
        int32_t left = m->mTextLength - m->mTextPos;
        if (left <= 0 || BreakMessageLine(layerNode) < 0) break;
        int length = m->mCode[e] == MSG_CODE_CHAR2 && left >= 2 ? 2 : 1;
        char character[3] = {m->mText[m->mTextPos], length == 2 ? m->mText[m->mTextPos + 1] : '\0', 0};
        DrawEntryChar(e, character, layerNode);
        m->mTextPos += length;
        drawn = true;
        break;
      }
      case MSG_CODE_CLICK:
        m->mWaitingClick = 1;
        g_MessageInstant = 0;
        return;
      case MSG_CODE_END:
        break;
      case MSG_CODE_PAGE:
      case 'p': {
        LayerRecord* layer = GetLayerRecord(layerNode);
        if (layer && layer->mPixels) memset(layer->mPixels, 0, (size_t)layer->mWidth * 4 * layer->mHeight);
        m->mCursorX = m->mCursorY = 0;
        drawn = true;
        break;
      }
      case MSG_CODE_NEWLINE:
      case 'r':
        m->mCursorX = 0;
        m->mCursorY += m->mCellHeight[e];
        break;
      default:
        return ReportError(900010, 1);
    }
    m->mCurrentEntry += 1;
    if (drawn) InvalidateLayer(layerNode);
  }
  g_MessageInstant = 0;
}

void AdvanceMessage(ScriptTask* task) {
  MessageRecord* m = g_Message;
  if (!task->mWaitingForMessage || !m) return;
  if (m->mShown != 1) {
    ClearMessage();
    task->mWaitingForMessage = 0;
    return;
  }
  if (AnyKeyHeld(g_MessageSkipKeys)) {
    if (m->mWaitingClick) PassClick();
    else g_MessageInstant = 1;
  }
  OutputMessageEntries();
  if (m->mEntryCount > 0 && (AnyKeyPressed(g_MessageAdvanceKeys) || AnyKeyHeld(g_MessageSkipKeys))) {
    if (m->mWaitingClick) PassClick();
    else if (m->mCurrentEntry < m->mEntryCount) g_MessageInstant = 1;
  }
  if (m->mCurrentEntry < m->mEntryCount) return;
  if (m->mCurrentEntry > 0) m->mFinished = 1;
  ClearMessage();
  task->mWaitingForMessage = 0;
}
