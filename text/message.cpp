// The message record: creation, clearing, and the appending of characters and control entries.
#include <cstring>
#include <new>

#include "app/engine.h"
#include "layers/layer.h"
#include "text/text.h"

MessageRecord* g_Message;
int32_t g_MessageAdvanceKeys[4] = {1, 13, 1023, 1023};
int32_t g_MessageSkipKeys[4] = {17, 1023, 1023, 1023};
int32_t g_MessageInstant;
uint32_t g_MessageCharTime;

namespace {

template <typename T>
bool AllocArray(T** out) {
  *out = new (std::nothrow) T[MESSAGE_BUFFER_BYTES]();
  return *out != nullptr;
}

// One character entry with the live style. The caller has checked the room.
void AppendCharEntry(bool doubleByte) {
  MessageRecord* m = g_Message;
  int32_t e = m->mEntryCount++;
  m->mCode[e] = doubleByte ? MSG_CODE_CHAR2 : MSG_CODE_CHAR1;
  m->mCellWidth[e] = (int16_t)m->mWidth;
  m->mCellHeight[e] = (int16_t)m->mHeight;
  m->mDelay[e] = (int16_t)(doubleByte ? m->mCharDelay : m->mCharDelay / 2);
  m->mEntryColour1[e] = m->mColour1;
  m->mEntryColour2[e] = m->mColour2;
  m->mEntryGradient[e] = m->mGradient;
  m->mEntryRotation[e] = m->mRotation;
  m->mEntryBold[e] = m->mBold;
  m->mCode[e + 1] = 0;
}

// Appends text bytes and one entry per character; a lead byte in the last position stands
// alone, so the terminator is never taken as its trail byte.
int AppendCharacters(const char* bytes, int32_t length, bool printableOnly) {
  MessageRecord* m = g_Message;
  if (m->mEntryCount + length > MESSAGE_ENTRY_LIMIT) return ReportScriptError(102000, 1), -1;
  char* out = m->mText + m->mTextLength;
  int32_t i = 0, written = 0;
  while (i < length) {
    uint8_t b = (uint8_t)bytes[i];
    if (g_LeadByteTable[b] && i + 1 < length) {
      out[written++] = bytes[i];
      out[written++] = bytes[i + 1];
      i += 2;
      AppendCharEntry(true);
      continue;
    }
    out[written++] = printableOnly && (b < 0x20 || b > 0x7E) ? ' ' : (char)b;
    i++;
    AppendCharEntry(false);
  }
  m->mTextLength += written;
  m->mText[m->mTextLength] = '\0';
  return 0;
}

}  // namespace

void CreateMessageRecord() {
  MessageRecord* m = new (std::nothrow) MessageRecord{};
  if (!m) return ReportError(100010, 1);
  bool ok = AllocArray(&m->mText) && AllocArray(&m->mCode) && AllocArray(&m->mCellWidth) &&
            AllocArray(&m->mCellHeight) && AllocArray(&m->mDelay) && AllocArray(&m->mEntryColour1) &&
            AllocArray(&m->mEntryColour2) && AllocArray(&m->mEntryGradient) &&
            AllocArray(&m->mEntryRotation) && AllocArray(&m->mEntryBold);
  if (!ok) return ReportError(100010, 1);
  m->mEndNewLine = m->mEndNewPage = m->mEndClickWait = 1;
  m->mShown = 1;
  m->mWidth = m->mHeight = 20;
  m->mColour1 = 0xFFFFFF;
  m->mColour2 = 0xFFFFFFFF;
  m->mGradient = 1;
  m->mAntialias = 1;
  m->mFinished = 1;
  g_Message = m;
  ClearMessage();
}

int ClearMessage() {
  MessageRecord* m = g_Message;
  if (!m || m->mFinished != 1) return 0;
  m->mFinished = 0;
  m->mTextLength = m->mEntryCount = m->mTextPos = m->mCurrentEntry = 0;
  m->mRestartTiming = 1;
  memset(m->mText, 0, MESSAGE_BUFFER_BYTES);
  memset(m->mCode, 0, MESSAGE_BUFFER_BYTES);
  memset(m->mCellWidth, 0, MESSAGE_BUFFER_BYTES * sizeof(int16_t));
  memset(m->mCellHeight, 0, MESSAGE_BUFFER_BYTES * sizeof(int16_t));
  memset(m->mDelay, 0, MESSAGE_BUFFER_BYTES * sizeof(int16_t));
  memset(m->mEntryColour1, 0, MESSAGE_BUFFER_BYTES * sizeof(uint32_t));
  memset(m->mEntryColour2, 0, MESSAGE_BUFFER_BYTES * sizeof(uint32_t));
  memset(m->mEntryGradient, 0, MESSAGE_BUFFER_BYTES);
  memset(m->mEntryRotation, 0, MESSAGE_BUFFER_BYTES);
  memset(m->mEntryBold, 0, MESSAGE_BUFFER_BYTES);
  return 0;
}

int AppendMessageText(const char* bytes, int32_t length) {
  if (length < 0 || g_Message->mTextLength + (int64_t)length > MESSAGE_TEXT_LIMIT)
    return ReportScriptError(102000, 1), -1;
  return AppendCharacters(bytes, length, false);
}

int AppendMessageValue(const char* bytes, int32_t length) {
  if (length < 0 || g_Message->mTextLength + (int64_t)length >= MESSAGE_TEXT_LIMIT)
    return ReportScriptError(102000, 1), -1;
  if (length > MESSAGE_VALUE_LIMIT) return ReportScriptError(102030, 1), -1;
  return AppendCharacters(bytes, length, true);
}

int AppendMessageControl(uint8_t code, bool withCellSize) {
  MessageRecord* m = g_Message;
  if (m->mEntryCount >= MESSAGE_ENTRY_LIMIT) return ReportScriptError(102000, 1), -1;
  int32_t e = m->mEntryCount++;
  m->mCode[e] = code;
  if (withCellSize) {
    m->mCellWidth[e] = (int16_t)m->mWidth;
    m->mCellHeight[e] = (int16_t)m->mHeight;
  }
  m->mCode[e + 1] = 0;
  return 0;
}

int CloseMessageBlock() {
  MessageRecord* m = g_Message;
  // Only a failed start-up leaves no record; the run must end rather than wait for a message
  // that can never be typed out.
  if (!m) return ReportScriptError(100010, 1), -1;
  if (m->mShown != 0) {
    if (m->mEndClickWait && AppendMessageControl(MSG_CODE_CLICK, false) < 0) return -1;
    if (m->mEndNewLine && AppendMessageControl(MSG_CODE_NEWLINE, true) < 0) return -1;
    if (m->mEndNewPage && AppendMessageControl(MSG_CODE_PAGE, false) < 0) return -1;
  } else {
    m->mFinished = 1;
  }
  return AppendMessageControl(MSG_CODE_END, false);
}

int ForgetMessageLayer(NameNode* node) {
  if (!g_Message || !node || g_Message->mLayer != node) return 0;
  g_Message->mLayer = nullptr;
  return 1;
}
