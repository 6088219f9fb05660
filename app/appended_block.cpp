// The appended block and the screen-saver mode: the program file carries a record of where a
// block appended to it starts; the block holds packs and a screen-saver image.
//
// The record stands in the program's read-only data: a 12-byte marker and a little-endian u32,
// the block's offset in the file. A program as built holds 4 there (nothing appended); the
// packaging step (tools/kvbundle) finds the marker in a copy of the program, appends the block
// and writes its offset into the u32. The loader maps that data from the file, so the running
// program reads its own record from memory.
#include "app/appended_block.h"

#include <cstring>

#include "app/engine.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/platform.h"

uint32_t g_BlockOffset;
uint64_t g_ExeFileSize;
uint64_t g_AppendedPackOffset;
uint8_t g_ScreenSaverMode;

namespace {

uint8_t g_BlockHeaderValid;   // the last header read had the magic and fields inside the file

constexpr uint32_t NOTHING_APPENDED = 4;
constexpr uint32_t BLOCK_HEADER_BYTES = 16;

// The marker's bytes are "KIVOR.BLOCK@" (the packaging tool searches for exactly these).
__attribute__((used)) volatile const uint8_t g_BlockOffsetRecord[16] = {
    'K', 'I', 'V', 'O', 'R', '.', 'B', 'L', 'O', 'C', 'K', '@', NOTHING_APPENDED, 0, 0, 0};

uint32_t GetU32(const uint8_t* p) { return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

// The engine's boxes take code page 932; these texts are written here in UTF-8.
std::string Cp932(const char* utf8) {
  std::string out;
  if (!PlatUtf8ToCp932(utf8, strlen(utf8), &out)) out = utf8;
  return out;
}

// The switch letter of a command-line argument ("/x" or "-x", either case), or 0.
char SwitchLetter(const char* arg) {
  if (strlen(arg) < 2 || (arg[0] != '/' && arg[0] != '-')) return 0;
  char c = arg[1];
  return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c;
}

}  // namespace

uint32_t ReadBlockOffsetRecord() {
  uint8_t value[4];
  for (int i = 0; i < 4; i++) value[i] = g_BlockOffsetRecord[12 + i];
  return GetU32(value);
}

// Every field is checked against the file: a header that does not fit, or whose pack offset or
// image lies beyond the file's end, counts as no block.
uint64_t ReadAppendedBlockHeader(const std::string& programReal) {
  g_AppendedPackOffset = 0;
  g_ScreenSaverMode = 0;
  g_BlockHeaderValid = 0;
  PlatFile* f = PlatFileOpen(programReal, "rb");
  if (!f) return 0;
  int64_t size = PlatFileSize(f);
  if (size < 0) size = 0;
  uint8_t header[BLOCK_HEADER_BYTES];
  if (g_BlockOffset != 0 && (uint64_t)g_BlockOffset + BLOCK_HEADER_BYTES <= (uint64_t)size &&
      PlatFileSeek(f, g_BlockOffset) && PlatFileRead(f, header, sizeof header) == sizeof header &&
      memcmp(header, "KVER", 4) == 0) {
    uint64_t packOffset = GetU32(header + 4);
    uint64_t imageSize = GetU32(header + 8);
    uint64_t rest = (uint64_t)size - g_BlockOffset;
    if (packOffset <= rest && BLOCK_HEADER_BYTES + imageSize <= rest) {
      g_AppendedPackOffset = packOffset;
      g_ScreenSaverMode = imageSize != 0 ? 1 : 0;
      g_BlockHeaderValid = 1;
    }
  }
  PlatFileClose(f);
  return (uint64_t)size;
}

int HasAppendedBlock(const std::string& programReal) {
  if (g_BlockOffset == 0) return 0;
  PlatFile* f = PlatFileOpen(programReal, "rb");
  if (!f) return 0;
  uint8_t magic[4];
  bool found = PlatFileSeek(f, g_BlockOffset) && PlatFileRead(f, magic, 4) == 4 && memcmp(magic, "KVER", 4) == 0;
  PlatFileClose(f);
  return found ? 1 : 0;
}

int ReadAppendedBlock(const std::string& programReal) { return ReadAppendedBlockAt(programReal, ReadBlockOffsetRecord()); }

int ReadAppendedBlockAt(const std::string& programReal, uint32_t blockOffset) {
  g_PacksInExecutable = 0;
  g_PackBaseInExecutable = 0;
  g_PackFileInExecutable.clear();
  g_BlockOffset = blockOffset;
  g_ExeFileSize = ReadAppendedBlockHeader(programReal);
  if (g_BlockOffset == 0) ShowErrorBox("", "FS");
  if (g_BlockOffset != NOTHING_APPENDED && g_ExeFileSize > 0 && g_BlockOffset > 0 &&
      g_ExeFileSize != g_BlockOffset && g_BlockHeaderValid && HasAppendedBlock(programReal)) {
    g_PackedRelease = 1;
    g_PacksInExecutable = 1;
    g_PackBaseInExecutable = (uint64_t)g_BlockOffset + g_AppendedPackOffset;
    g_PackFileInExecutable = programReal;
  }
  if (g_ScreenSaverMode) return HandleScreenSaverCommandLine();
  return 0;
}

// The desktop's screen-saver switches. There is no preview window to draw into on this host:
// a preview request ends the program at once, as the password request does; the settings
// request and a start without switches show the about box; anything else (the start request
// "/s") runs the game in screen-saver mode.
int HandleScreenSaverCommandLine() {
  int count = g_CommandArgCount + 1;
  char letter = count >= 2 ? SwitchLetter(g_CommandArgs[1]) : 0;
  if (count == 3 && (letter == 'p' || letter == 'a')) return 1;
  if ((count == 2 && letter == 'c') || count == 1) {
    ShowErrorBox(Cp932("情報").c_str(), "%s", Cp932("スクリーンセーバー\n\nVersion 1.00").c_str());
    return 1;
  }
  return 0;
}
