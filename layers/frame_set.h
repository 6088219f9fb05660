// Frame sets attached to layers: the record, attaching, showing a frame, and the commands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "script/nametree.h"

// An attached frame-set file. The tables point into the file image (little-endian 32-bit
// entries, frame count of each), checked when the file was attached: every frame lies inside
// the file, after the tables and apart from every other frame.
struct FrameSetRecord {
  int32_t mFrameCount;
  int32_t mHasMask;              // 1: every frame has a grey mask that becomes its alpha
  int32_t mHeaderValues[3];      // returned to scripts only
  uint8_t* mFile;                // the whole file image, frames unscrambled; owned
  size_t mFileSize;
  const uint8_t* mOffsets;       // data offset of each frame, from the start of the file
  const uint8_t* mColourLengths;
  const uint8_t* mMaskLengths;   // 0 or less: no mask bytes
};

// Reads the file (exactly this name), unscrambles it and attaches it to the node's layer in
// place of any earlier set. 0, or -1 after the file messages and 104010.
int LoadFrameSet(NameNode* node, const char* fileName);
// Decodes frame n (clamped to the set) into the layer's image, its mask into the alpha bytes.
void ShowFrameSetFrame(NameNode* node, int64_t n);
// 0, -1 when the layer image could not be resized, -2 after a decoder error.
int DecodeJpegFrame(const uint8_t* colour, const uint8_t* mask, int32_t colourLength, int32_t maskLength,
                    NameNode* node);
void DecodeJpegMask(const uint8_t* mask, int32_t maskLength, NameNode* node);

// Commands 98, 99 and 100.
int CmdLayerFrameSet();
int CmdFrameSetRelease();
int CmdFrameSetQuery();
