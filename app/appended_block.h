// The block a packaging step appends to the program file (packs and a screen-saver image), and
// the screen-saver command line.
#pragma once

#include <cstdint>
#include <string>

// The program file records where the block starts in a record of its own data (see
// app/appended_block.cpp); 4 means nothing is appended, 0 that the record cannot be read.
extern uint32_t g_BlockOffset;
extern uint64_t g_ExeFileSize;
extern uint64_t g_AppendedPackOffset;
extern uint8_t g_ScreenSaverMode;

// The offset the running program's record holds.
uint32_t ReadBlockOffsetRecord();
// Reads the block header of the program file `programReal` at g_BlockOffset: fills
// g_AppendedPackOffset and g_ScreenSaverMode and returns the file's size (0 when it cannot be
// opened).
uint64_t ReadAppendedBlockHeader(const std::string& programReal);
// 1 when g_BlockOffset is not 0 and the block's magic stands there.
int HasAppendedBlock(const std::string& programReal);
// The whole start-up step for the program file `programReal`: the record, the header, the
// packs in the program file and the screen-saver command line. Non-zero when the program must
// end now.
int ReadAppendedBlock(const std::string& programReal);
// The same with the record's value given (tests read it from a bundled file).
int ReadAppendedBlockAt(const std::string& programReal, uint32_t blockOffset);
// Non-zero when the screen-saver command line ends the program at once.
int HandleScreenSaverCommandLine();
