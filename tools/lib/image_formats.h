// Writers of the engine's own image formats and of small GIF files, for tests and benches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A .kcg file of B, G, R, A pixels (width x height x 4 bytes, rows top-down). Compressed files
// split the pixels in two zlib parts at `splitAt` bytes (half the image when negative).
std::string MakeKcg(int32_t width, int32_t height, const std::string& pixels, bool compressed, int64_t splitAt = -1);

// One frame of a frame-set file: a colour JPEG and, when the set has masks, a grey JPEG mask.
struct FrameSetEntry {
  std::string colour;
  std::string mask;
};
// A frame-set file, frame data scrambled as the engine stores it.
std::string MakeFrameSet(const std::vector<FrameSetEntry>& frames, bool hasMask, int32_t value1, int32_t value2,
                         int32_t value3);

// A GIF image: palette indexes of one frame and where it sits.
struct GifImageSpec {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> indexes;      // width x height, rows top-down (in display order)
  bool interlaced = false;
  bool hasControl = false;           // a graphic-control extension before the image
  bool transparent = false;
  uint8_t transparentIndex = 0;
  std::vector<uint8_t> localPalette; // R, G, B; empty = none
  int minCodeSize = 8;               // the LZW minimum code size, 8 to 11
};
struct GifSpec {
  int screenWidth = 0, screenHeight = 0;
  std::vector<uint8_t> globalPalette;  // R, G, B entries, a power of two from 2 to 256
  std::vector<GifImageSpec> images;
  std::string extraBlocks;             // raw bytes placed before the first image
  bool trailer = true;
};
// Codes are written with a clear code often enough that they never grow past the minimum code
// size + 1 bits.
std::string MakeGif(const GifSpec& layout);
