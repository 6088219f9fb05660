// Image decoders and writers over whole files in memory: BMP, PNG, JPEG, GIF and .kcg in,
// BMP, PNG and JPEG out; the target record they fill and the GIF frame record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "layers/layer.h"

// One decoded GIF image: where it sits on the logical screen, the graphic-control values in
// force when it was read and its own copy of the palette. `mIndexes` (width x height palette
// indexes, rows top-down) lives in the same allocation, right after the record.
struct GifFrame {
  int32_t mLeft, mTop, mWidth, mHeight;
  int32_t mDisposal, mTransparent, mDelay, mTransparentIndex, mLoopCount;
  uint8_t mPalette[256 * 3];   // R, G, B
  uint8_t* mIndexes;
  size_t mCapacity;            // index bytes the allocation holds
};
constexpr int GIF_FRAME_SLOTS = 8192;

// Where a decoder puts an image. The decoder checks the header, then calls `mAllocate` once
// with the final size; the callback returns width * 4 * height + width * 4 + 4 writable bytes
// (B, G, R, A rows top-down) or null after it has reported the failure itself.
struct DecodeTarget {
  uint8_t* (*mAllocate)(DecodeTarget* target, int32_t width, int32_t height);
  void* mOwner;                  // the allocator's own record
  const char* mFileName;         // resolved name, for messages (code page 932)
  int32_t mWidth, mHeight;
  uint8_t* mPixels;
  uint8_t mHasAlpha;
  GifFrame** mGifFrames;         // GIF_FRAME_SLOTS entries; the GIF decoder creates it when null
  int32_t mGifFrameCount;        // frames of the latest GIF decode
};

// Sizes the target's image through its allocator and records the result in the target.
inline uint8_t* AllocTargetImage(DecodeTarget* target, int32_t width, int32_t height) {
  uint8_t* pixels = target->mAllocate(target, width, height);
  if (!pixels) return nullptr;
  target->mWidth = width, target->mHeight = height, target->mPixels = pixels;
  return pixels;
}

inline uint16_t ReadLe16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Decoders: 0 on success; otherwise the failure has been reported as the format asks
// (JPEG and GIF failures leave the final numbered message to the caller).
int DecodeBmpMemory(const uint8_t* data, size_t size, DecodeTarget* target);
int DecodePngMemory(const uint8_t* data, size_t size, DecodeTarget* target);
int DecodeJpegMemory(const uint8_t* data, size_t size, DecodeTarget* target);
int DecodeGifMemory(const uint8_t* data, size_t size, DecodeTarget* target);
int DecodeKcgMemory(const uint8_t* data, size_t size, DecodeTarget* target);

// Draws stored GIF frame `n` of the target's table into its pixels, clipped to the image.
void RenderGifFrame(DecodeTarget* target, int n);

// The 56-byte .kcg header, field by field.
constexpr size_t KCG_HEADER_BYTES = 56;
struct KcgHeader {
  uint8_t mMagic[4];
  int32_t mWidth, mHeight;
  uint32_t mCompression;          // 0 raw, 1 two zlib parts
  uint32_t mPart1Size, mPart1Stored;
  uint32_t mPart2Size, mPart2Stored;
};
bool ParseKcgHeader(const uint8_t* data, size_t size, KcgHeader* header);
// Inflates one zlib part into exactly `capacity` bytes at most; true when the stream is whole.
bool InflateKcgPart(uint8_t* dest, uint32_t capacity, const uint8_t* source, uint32_t sourceSize);

// Writers: the image is B, G, R, A rows top-down. Each returns 0, -1 when the file cannot be
// created (after the "File Create Error." box) and -2 when the encoder or the write failed (a
// failed write after the "File Write Error." box). The image goes into a temporary file beside
// the target that replaces it only when whole, so a failure leaves the old file as it was.
int WriteBmpFile(const std::string& realPath, const uint8_t* pixels, int32_t width, int32_t height);
// Without `hasAlpha` every pixel is written opaque.
int WritePngFile(const std::string& realPath, const uint8_t* pixels, int32_t width, int32_t height,
                 bool hasAlpha, int level);
int WriteJpegFile(const std::string& realPath, const uint8_t* pixels, int32_t width, int32_t height,
                  int quality);
// The writers' file: Begin opens the temporary file (null after the "File Create Error." box);
// Finish closes it and, when the encoder succeeded and the data reached the device, renames it
// over the target. 0, or -2 with the temporary file removed.
struct PlatFile;
PlatFile* BeginImageFile(const std::string& realPath);
int FinishImageFile(PlatFile* f, const std::string& realPath, bool encoded);

// The layer writers of the file command: the layer's image saved at `path` (an engine path,
// relative to the game folder). 0, -1 when the file cannot be created, -2 when the encoder
// failed; the PNG writer also returns 1 when a fatal message is pending.
int SaveImageBmp(LayerRecord* record, const char* path);
int SaveImagePng(LayerRecord* record, const char* path, int level);
int SaveImageJpeg(LayerRecord* record, const char* path, int quality);
