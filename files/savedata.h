// Save-data files: the staging of slots and the save commands.
#pragma once

#include <cstdint>

constexpr int SAVE_SLOTS = 1024;

// Staged entries by slot - 1: the header (kind, 1, 0, 0, P, R) and P compressed bytes; a
// size of 0 means the slot is not staged.
extern uint8_t* g_SaveStaging[SAVE_SLOTS];
extern int32_t g_SaveStagedSize[SAVE_SLOTS];

// Frees the staging of one slot index 0..1023, or of every slot with -1.
void FreeSaveStaging(int index);

int CmdSaveDataWrite();
int CmdSaveDataLoad();
int CmdSaveDataDrop();
int CmdSaveReserved77();
