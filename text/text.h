// Message text's exports: the font table, the eight text style slots, glyph rendering into a
// one-bit canvas, the glyph blitters and DrawTextChar.
#pragma once

#include <cstddef>
#include <cstdint>

struct NameNode;
struct PlatGlyphFont;

constexpr int TEXT_STYLE_SLOTS = 8;
constexpr int MAX_CELL_WIDTH = 256;   // the canvas-side table ends here

// ---------------------------------------------------------------------------------------------
// Font table (built once, never changed). Scripts number fonts from 1: font n is row n - 1.
// Start-up only starts it: the table, and the slots' fonts, are there once EnsureFontTable has
// run, which every function below that reads them calls first; code that reads the globals or a
// slot's mFontIndex directly calls it itself. All on the thread that runs the frames.

extern char** g_FontFaces;     // owned face names, code page 932
extern uint8_t* g_FontScript;  // 0: the row is for the Japanese script, 1: any other
extern uint8_t* g_FontPitch;   // 1 proportional, 0 fixed
extern int32_t g_FontCount;

// Lists the installed faces, gives every slot the default face and fills the glyph tables.
void BuildFontTable();
// Starts listing the faces on a thread of its own (nothing when the table is built or being
// built); the glyph tables and slot styles come from InitGlyphTables.
void StartFontTable();
// Builds the table from the started list (waiting for it), or from a list made now when none
// was started; nothing once built.
void EnsureFontTable();
// Waits for a started listing and drops its list (shutdown: no lister outlives the run).
void EndFontLister();
// Deletes every slot's font and canvas (shutdown).
void ReleaseGdiObjects();
int GetFontCount();
const char* GetFontFaceName(int32_t row);   // "" outside the table
int GetFontScript(int32_t row);

// ---------------------------------------------------------------------------------------------
// Text style slots. Slot 0 is the message style: setting it also sets the message record's
// live style.

struct TextStyle {
  int32_t mFontIndex;   // row of the font table
  int32_t mWidth;       // cell width in pixels (the font size)
  int32_t mHeight;      // cell height, the line advance
  int32_t mBold;
  uint32_t mColour1;    // 0xRRGGBB
  uint32_t mColour2;    // 0xRRGGBB; 0xFFFFFFFF stands for colour 1
  uint8_t mGradient;    // 0..8
  uint8_t mRotation;    // 0..3 (quarter turns)
  uint8_t mAntialias;
  uint8_t mComposite;   // 1 composite over the layer, 0 overwrite the cell
};

// A slot's glyph objects: made at its first glyph, remade when the cache key changes.
struct GlyphSlot {
  PlatGlyphFont* mFont;      // owned
  uint8_t* mBits;            // owned one-bit canvas, mSide x mSide, 0 = ink
  int32_t mSide;
  size_t mByteSize;          // mSide * mSide / 8
  // Cache key: what the objects were made for; -1 until the first glyph.
  int32_t mKeyWidth;
  int32_t mKeyHeight;
  int32_t mKeyFontHeight;
  int8_t mKeyBold;
  int32_t mKeyFontIndex;
};

extern TextStyle g_TextStyles[TEXT_STYLE_SLOTS];
extern GlyphSlot g_GlyphSlots[TEXT_STYLE_SLOTS];
extern int32_t g_TextStyleSlot;   // the slot the font functions work on; commands reset it to 0

// Ink bits per nibble of a canvas byte: (ink in the high nibble) * 256 + ink in the low nibble.
extern int32_t g_InkCountTable[256];
extern uint8_t g_CoverageAlpha[32];        // min(18 * n, 255) for n ink bits of 16
extern int32_t g_GlyphCanvasSide[MAX_CELL_WIDTH + 1];

void InitGlyphTables();
int SelectTextStyleSlot(int32_t slot);   // refuses slots outside 0..7 (keeps the current one)
int SetSlotFontIndex(int32_t row);       // 1 when set
int SelectSlotFontByName(const char* name);   // first row with that exact name; 1 when found
int32_t GetSlotFontIndex();
const char* GetSlotFaceName();
int GetSlotFontPitch();

// ---------------------------------------------------------------------------------------------
// Glyphs.

// A one-bit glyph canvas (0 bits are ink) and a BGRA picture to draw into.
struct GlyphCanvas {
  const uint8_t* mBits;
  int32_t mSide;   // bits per row and rows; a multiple of 32
};
struct PixelTarget {
  uint8_t* mPixels;   // B, G, R, A, rows of mWidth * 4 bytes
  int32_t mWidth;
  int32_t mHeight;
};

// Remakes the current slot's font and canvas when the key changed: 0 nothing to do,
// 1 remade, -1 failure (message given).
int PrepareGlyphFont(int32_t cellWidth, int32_t cellHeight, int32_t bold, int32_t fontHeight,
                     int32_t side);
// Draws the character (one or two bytes) into the current slot's canvas and measures it.
int RenderGlyph(const char* text, int32_t cellWidth, int32_t cellHeight, int32_t bold,
                int32_t antialias, int32_t* advance, int32_t* height);
// The current slot's canvas as RenderGlyph left it.
GlyphCanvas CurrentGlyphCanvas();

// Corner colours of a cell for a gradient kind and rotation: red, green, blue of top-left,
// top-right, bottom-left, bottom-right.
void GetGradientCorners(int32_t gradient, int32_t rotation, uint32_t colour1, uint32_t colour2,
                        uint8_t corners[4][3]);

// Blit a canvas glyph into a picture with the cell's top-left at (x, y). A cell that does not
// lie wholly inside the picture is not drawn; returns true when it was drawn.
bool BlitGlyphMonoTo(const GlyphCanvas& canvas, const PixelTarget& target, uint32_t colour1,
                     uint32_t colour2, int32_t gradient, int32_t rotation, int32_t w, int32_t h,
                     int64_t x, int64_t y, int32_t composite);
bool BlitGlyphAntialiasedTo(const GlyphCanvas& canvas, const PixelTarget& target,
                            uint32_t colour1, uint32_t colour2, int32_t gradient,
                            int32_t rotation, int32_t w, int32_t h, int64_t x, int64_t y,
                            int32_t composite);

// Renders the character once and draws it with outline (edge 1..10: nine copies around the
// pen) or drop shadow (edge above 10: three copies offset by edge - 10). Returns the advance;
// `drawn` (may be null) tells whether any copy reached the picture.
int32_t DrawTextCharTo(const PixelTarget& target, const char* text, uint32_t colour1,
                       uint32_t colour2, int32_t gradient, int32_t rotation, int32_t cellWidth,
                       int32_t cellHeight, int32_t bold, int32_t antialias, int32_t edge,
                       int64_t x, int64_t y, int32_t composite, bool* drawn);

// The same, into a layer node's pixels: sets the layer's has-alpha flag and marks the layer
// dirty when anything was drawn. Returns the advance.
int32_t DrawTextChar(const char* text, uint32_t colour1, uint32_t colour2, int32_t gradient,
                     int32_t rotation, int32_t cellWidth, int32_t cellHeight, int32_t bold,
                     int32_t antialias, int32_t edge, int64_t x, int64_t y, int32_t composite,
                     NameNode* layer);

// ---------------------------------------------------------------------------------------------
// The message record: the one message being built or typed out, cut into entries.

enum : uint8_t {
  MSG_CODE_CHAR1 = '1',      // one single-byte character of the text
  MSG_CODE_CHAR2 = '2',      // one double-byte character
  MSG_CODE_CLICK = 'C',      // wait for an advance key
  MSG_CODE_END = 'E',        // end of a message block
  MSG_CODE_PAGE = 'P',       // clear the layer, pen to 0, 0 ('p' too)
  MSG_CODE_NEWLINE = 'R',    // pen to the next line ('r' too)
};

constexpr int32_t MESSAGE_BUFFER_BYTES = 8192;   // text bytes and entries, terminator included
constexpr int32_t MESSAGE_TEXT_LIMIT = 8190;     // text bytes a message may hold
constexpr int32_t MESSAGE_VALUE_LIMIT = 1024;    // bytes of one appended value
// The last entry slot keeps the code array's terminator.
constexpr int32_t MESSAGE_ENTRY_LIMIT = MESSAGE_BUFFER_BYTES - 1;

struct MessageRecord {
  NameNode* mLayer;          // text layer drawn into; null = no output
  int32_t mCharDelay;        // ms before a double-byte character; half for a single byte
  int32_t mEndNewLine;       // the block end appends a new line
  int32_t mEndNewPage;       // ... a new page
  int32_t mEndClickWait;     // ... a click wait
  int32_t mCursorX;          // pen, pixels in the layer; y is the top of the line
  int32_t mCursorY;
  int8_t mShown;             // 1 shown; 0 every message is dropped when it ends
  // The live style, a mirror of style slot 0, copied into each new entry.
  int32_t mWidth;
  int32_t mHeight;
  uint32_t mColour1;
  uint32_t mColour2;
  uint8_t mGradient;
  uint8_t mRotation;
  uint8_t mBold;
  uint8_t mComposite;        // read when drawing, not stored per entry
  uint8_t mAntialias;        // read when drawing, not stored per entry
  uint8_t mWaitingClick;     // output stands at a click wait
  uint8_t mFinished;         // the message is complete and may be cleared
  uint8_t mRestartTiming;    // output takes a new time base before its next entry
  char* mText;               // MESSAGE_BUFFER_BYTES, NUL-terminated
  uint8_t* mCode;            // one MSG_CODE_* per entry, NUL after the last
  int16_t* mCellWidth;
  int16_t* mCellHeight;
  int16_t* mDelay;
  uint32_t* mEntryColour1;
  uint32_t* mEntryColour2;
  uint8_t* mEntryGradient;
  uint8_t* mEntryRotation;
  uint8_t* mEntryBold;
  int32_t mTextLength;
  int32_t mEntryCount;
  int32_t mTextPos;          // output's read position in mText
  int32_t mCurrentEntry;     // next entry output handles
};

extern MessageRecord* g_Message;
// Key numbers (KeyStateTable slots; 1023 = none) that advance a message when pressed in this
// frame, and that skip while held.
extern int32_t g_MessageAdvanceKeys[4];
extern int32_t g_MessageSkipKeys[4];
extern int32_t g_MessageInstant;     // draw without delays until the next click wait or the end
extern uint32_t g_MessageCharTime;   // ms time base of the next character's delay

// Allocates the record and its arrays (start-up); an allocation failure is a fatal 100010.
void CreateMessageRecord();
// Empties a finished record (entries, text, positions); does nothing otherwise. Returns 0.
int ClearMessage();
// Append characters with the live style: the bytes as they are, or a value (single bytes
// outside the printable ASCII range become spaces). 0, or -1 after a fatal message.
int AppendMessageText(const char* bytes, int32_t length);
int AppendMessageValue(const char* bytes, int32_t length);
// Appends a control entry, with the live cell size when `withCellSize`. 0, or -1 after a
// fatal message when the entries are full.
int AppendMessageControl(uint8_t code, bool withCellSize);
// The block end's entries (click wait, new line, new page as configured, then the end).
int CloseMessageBlock();

// ---------------------------------------------------------------------------------------------
// Message output, run by the task runner for every task it visits.

struct ScriptTask;
// Types out the message the task waits for: reads the advance and skip keys, draws the
// characters that are due, and releases the task (clearing its wait) when the message is done.
void AdvanceMessage(ScriptTask* task);
void OutputMessageEntries();
int WaitCharDelay();                     // 0 draw now, -1 wait
int BreakMessageLine(NameNode* layer);   // 0 draw at the pen, -1 the entry is handled

// ---------------------------------------------------------------------------------------------
// Commands.

int CmdTextStyle();          // 27
int CmdTextInfo();           // 28
int CmdMessageEnd();         // 70
int CmdMessageConfig();      // 87
int CmdMessageConfigGet();   // 88
int CmdMessageText();        // 97
int CmdMessageValue();       // 101
