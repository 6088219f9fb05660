// The GIF decoder: block parser, LZW with codes up to 12 bits, the frame table and the drawing
// of a stored frame into the layer image.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/image_codecs.h"
#include "layers/pixel_kernels.h"

namespace {

// Reads past the end give zeros, so a truncated file decodes what it holds.
struct GifCursor {
  const uint8_t* mData;
  size_t mSize;
  size_t mPos;
};

bool GifAtEnd(const GifCursor* c) { return c->mPos >= c->mSize; }
uint8_t GifReadByte(GifCursor* c) { return c->mPos < c->mSize ? c->mData[c->mPos++] : 0; }
uint16_t GifReadU16(GifCursor* c) {
  uint16_t low = GifReadByte(c);
  return (uint16_t)(low | GifReadByte(c) << 8);
}
void GifSkip(GifCursor* c, size_t n) { c->mPos = n < c->mSize - c->mPos ? c->mPos + n : c->mSize; }
void GifReadBlock(GifCursor* c, uint8_t* dest, size_t n) {
  for (size_t i = 0; i < n; i++) dest[i] = GifReadByte(c);
}
// Skips data sub-blocks through the zero-size one that ends them, however many there are.
void GifSkipSubBlocks(GifCursor* c) {
  while (!GifAtEnd(c)) {
    uint8_t n = GifReadByte(c);
    if (!n) return;
    GifSkip(c, n);
  }
}

constexpr int LZW_CODES = 4096;
constexpr int NO_CODE = -1;

struct LzwState {
  int mRootSize, mClear, mEnd;
  int mNextCode;       // next free table index
  int mCodeSize, mLimit;
  int mPrevious;       // NO_CODE after a clear
  int mFirstChar;      // first character of the previous string
  uint32_t mBits;
  int mBitCount;
  uint8_t mBlock[255];
  int mBlockSize, mBlockPos;
  bool mDataEnded;     // the zero-size sub-block (or the end of the file) was read
  bool mStreamEnded;   // the end code was read
  uint16_t mPrefix[LZW_CODES];
  uint8_t mSuffix[LZW_CODES];
  uint8_t mStack[LZW_CODES + 1];  // a string in reverse; carried into the next row when longer
  int mStackCount;
};

void LzwReset(LzwState* s) {
  s->mCodeSize = s->mRootSize + 1;
  s->mLimit = 1 << s->mCodeSize;
  s->mNextCode = s->mClear + 2;
  s->mPrevious = NO_CODE;
}

// The next code, least-significant bit first across the data sub-blocks; NO_CODE once the
// data has ended.
int LzwReadCode(LzwState* s, GifCursor* c) {
  while (s->mBitCount < s->mCodeSize) {
    if (s->mBlockPos == s->mBlockSize) {
      if (s->mDataEnded) return NO_CODE;
      uint8_t n = GifAtEnd(c) ? 0 : GifReadByte(c);
      if (!n) return s->mDataEnded = true, NO_CODE;
      GifReadBlock(c, s->mBlock, n);
      s->mBlockSize = n;
      s->mBlockPos = 0;
    }
    s->mBits |= (uint32_t)s->mBlock[s->mBlockPos++] << s->mBitCount;
    s->mBitCount += 8;
  }
  int code = (int)(s->mBits & ((1u << s->mCodeSize) - 1));
  s->mBits >>= s->mCodeSize;
  s->mBitCount -= s->mCodeSize;
  return code;
}

// Decodes the next `width` indexes. A bad code or the end of the data ends the row early;
// its remaining pixels keep what the frame held.
void GifDecodeRow(LzwState* s, GifCursor* c, uint8_t* dest, int width) {
  int x = 0;
  while (x < width) {
    if (s->mStackCount) {
      dest[x++] = s->mStack[--s->mStackCount];
      continue;
    }
    if (s->mStreamEnded) return;
    int code = LzwReadCode(s, c);
    if (code == NO_CODE) return;
    if (code == s->mClear) {
      LzwReset(s);
      continue;
    }
    if (code == s->mEnd) {
      s->mStreamEnded = true;
      return;
    }
    if (s->mPrevious == NO_CODE) {
      if (code > s->mClear) return;
      dest[x++] = (uint8_t)code;
      s->mPrevious = s->mFirstChar = code;
      continue;
    }
    int current = code;
    if (code >= s->mNextCode) {
      // Only the code about to be defined may be used early: the previous string plus its
      // own first character.
      if (code > s->mNextCode) return;
      s->mStack[s->mStackCount++] = (uint8_t)s->mFirstChar;
      code = s->mPrevious;
    }
    while (code > s->mClear) {
      if (s->mStackCount >= LZW_CODES) return;
      s->mStack[s->mStackCount++] = s->mSuffix[code];
      code = s->mPrefix[code];
    }
    s->mStack[s->mStackCount++] = (uint8_t)code;
    s->mFirstChar = code;
    // A full table takes no further entries until the next clear code.
    if (s->mNextCode < LZW_CODES) {
      s->mPrefix[s->mNextCode] = (uint16_t)s->mPrevious;
      s->mSuffix[s->mNextCode] = (uint8_t)code;
      s->mNextCode++;
      if (s->mNextCode >= s->mLimit && s->mCodeSize < 12) s->mCodeSize++, s->mLimit <<= 1;
    }
    s->mPrevious = current;
  }
}

// Parse state carried from block to block: each frame takes the values last read.
struct GifParse {
  uint8_t mPalette[256 * 3];
  int32_t mDisposal, mTransparent, mDelay, mTransparentIndex, mLoopCount;
};

void ReadColourTable(GifCursor* c, uint8_t packed, GifParse* p) {
  int entries = 2 << (packed & 7);
  GifReadBlock(c, p->mPalette, (size_t)entries * 3);
}

GifFrame* AllocGifFrame(GifFrame** slot, size_t pixels) {
  GifFrame* frame = *slot;
  if (!frame || frame->mCapacity < pixels) {
    frame = static_cast<GifFrame*>(realloc(frame, sizeof(GifFrame) + pixels + 16));
    if (!frame) return nullptr;
    *slot = frame;
    frame->mCapacity = pixels;
  }
  size_t capacity = frame->mCapacity;
  memset(frame, 0, sizeof(GifFrame));
  frame->mCapacity = capacity;
  frame->mIndexes = reinterpret_cast<uint8_t*>(frame + 1);
  // Rows that end early keep a defined index.
  memset(frame->mIndexes, 0, pixels);
  return frame;
}

// What the frames of one file may take together, in pixels. LZW codes at most 12 bits into a
// string of at most 4096 pixels, so no file holds more than about 2730 pixels a byte: the
// budget is that bound with room to spare, at least 2048 x 2048 pixels whatever the file
// (spacers and small pictures on a large screen), and never above 128 MB of indexes plus 64 a
// byte. A few forged descriptors can claim neither gigabytes nor a full-size picture.
uint64_t FrameBudget(size_t fileSize) {
  uint64_t coded = 4096 * (uint64_t)fileSize;
  if (coded < ((uint64_t)1 << 22)) coded = (uint64_t)1 << 22;
  uint64_t ceiling = ((uint64_t)128 << 20) + 64 * (uint64_t)fileSize;
  return coded < ceiling ? coded : ceiling;
}

// One image descriptor and its data; 0, or -1 to fail the load.
int ReadGifImage(GifCursor* c, GifParse* p, DecodeTarget* target, GifFrame** slot, uint64_t* budget) {
  int32_t left = GifReadU16(c), top = GifReadU16(c);
  int32_t width = GifReadU16(c), height = GifReadU16(c);
  uint8_t packed = GifReadByte(c);
  if (packed & 0x80) ReadColourTable(c, packed, p);
  if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) return ReportScriptErrorF(100091, 1, target->mFileName), -1;
  if ((uint64_t)width * height > *budget) return -1;
  *budget -= (uint64_t)width * height;
  GifFrame* frame = AllocGifFrame(slot, (size_t)width * height);
  if (!frame) return -1;
  frame->mLeft = left, frame->mTop = top, frame->mWidth = width, frame->mHeight = height;
  frame->mDisposal = p->mDisposal, frame->mTransparent = p->mTransparent, frame->mDelay = p->mDelay;
  frame->mTransparentIndex = p->mTransparentIndex, frame->mLoopCount = p->mLoopCount;
  memcpy(frame->mPalette, p->mPalette, sizeof frame->mPalette);

  // Minimum code sizes up to 11 still start with codes of 12 bits at most; codes below the
  // clear code that no palette entry has are kept as their low byte.
  int rootSize = GifReadByte(c);
  if (rootSize < 1 || rootSize > 11) return -1;
  LzwState* s = static_cast<LzwState*>(calloc(1, sizeof(LzwState)));
  if (!s) return -1;
  s->mRootSize = rootSize;
  s->mClear = 1 << rootSize;
  s->mEnd = s->mClear + 1;
  LzwReset(s);
  if (packed & 0x40) {
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; pass++)
      for (int y = kStart[pass]; y < height; y += kStep[pass]) GifDecodeRow(s, c, frame->mIndexes + (size_t)y * width, width);
  } else {
    for (int y = 0; y < height; y++) GifDecodeRow(s, c, frame->mIndexes + (size_t)y * width, width);
  }
  // The reader may already have met the zero-size sub-block that ends the data.
  if (!s->mDataEnded) GifSkipSubBlocks(c);
  free(s);
  return 0;
}

void ReadGraphicControl(GifCursor* c, GifParse* p) {
  uint8_t size = GifReadByte(c);
  if (size >= 4) {
    uint8_t packed = GifReadByte(c);
    p->mDisposal = (packed >> 2) & 7;
    p->mTransparent = packed & 1;
    p->mDelay = GifReadU16(c);
    p->mTransparentIndex = GifReadByte(c);
    size -= 4;
  }
  GifSkip(c, size);
  GifSkipSubBlocks(c);
}

// The loop count is the sub-block with id 1 of an application extension.
void ReadApplication(GifCursor* c, GifParse* p) {
  GifSkip(c, GifReadByte(c));
  while (!GifAtEnd(c)) {
    uint8_t n = GifReadByte(c);
    if (!n) return;
    uint8_t block[255];
    GifReadBlock(c, block, n);
    if (n >= 3 && block[0] == 1) p->mLoopCount = ReadLe16(block + 1);
  }
}

}  // namespace

void FreeGifFrames(GifFrame** table) {
  if (!table) return;
  for (int i = 0; i < GIF_FRAME_SLOTS; i++) free(table[i]);
  free(table);
}

int DecodeGifMemory(const uint8_t* data, size_t size, DecodeTarget* target) {
  GifCursor c = {data, size, 0};
  GifParse p;
  memset(&p, 0, sizeof p);
  p.mLoopCount = 1;
  GifSkip(&c, 6);
  int32_t screenWidth = GifReadU16(&c), screenHeight = GifReadU16(&c);
  uint8_t packed = GifReadByte(&c);
  GifSkip(&c, 2);
  if (packed & 0x80) ReadColourTable(&c, packed, &p);
  if (screenWidth > MAX_IMAGE_SIDE || screenHeight > MAX_IMAGE_SIDE) return ReportScriptErrorF(100091, 1, target->mFileName), -1;
  // A screen without pixels is a broken file, not a large one.
  if (screenWidth == 0 || screenHeight == 0) return -1;
  if (!target->mGifFrames) target->mGifFrames = static_cast<GifFrame**>(calloc(GIF_FRAME_SLOTS, sizeof(GifFrame*)));
  if (!target->mGifFrames) return -1;
  int frames = 0;
  uint64_t budget = FrameBudget(size);
  // The end of the file ends the blocks like the trailer; so does a full frame table.
  while (!GifAtEnd(&c) && frames < GIF_FRAME_SLOTS) {
    uint8_t block = GifReadByte(&c);
    if (block == 0x3B) break;
    if (block == 0x2C) {
      if (ReadGifImage(&c, &p, target, &target->mGifFrames[frames], &budget) != 0) return target->mGifFrameCount = frames, -1;
      frames++;
      continue;
    }
    if (block != 0x21) return target->mGifFrameCount = frames, -1;
    uint8_t label = GifReadByte(&c);
    if (label == 0xF9) ReadGraphicControl(&c, &p);
    else if (label == 0xFF) ReadApplication(&c, &p);
    else if (label == 0x01) GifSkip(&c, GifReadByte(&c)), GifSkipSubBlocks(&c);
    else GifSkipSubBlocks(&c);
  }
  target->mGifFrameCount = frames;
  uint8_t* image = AllocTargetImage(target, screenWidth, screenHeight);
  if (!image) return 1;
  // Screen pixels that frame 0 does not cover are transparent, in the fill colour that the
  // transparent-pixel rule gives them; the rule itself then runs over frame 0's pixels alone,
  // so a large screen costs one fill and the per-pixel work stays with what the file holds.
  g_PixelKernels.fillPixels(image, (size_t)screenWidth * screenHeight * 4, g_TransparentFill);
  if (p.mTransparent) target->mHasAlpha = 1;
  if (frames) {
    RenderGifFrame(target, 0);
    const GifFrame* f = target->mGifFrames[0];
    if (f && f->mLeft < screenWidth && f->mTop < screenHeight) {
      int32_t right = (int32_t)std::min<int64_t>((int64_t)f->mLeft + f->mWidth, screenWidth);
      int32_t bottom = (int32_t)std::min<int64_t>((int64_t)f->mTop + f->mHeight, screenHeight);
      FillTransparentPixelsIn(image, screenWidth, f->mLeft, f->mTop, right, bottom);
    }
  }
  return 0;
}

void RenderGifFrame(DecodeTarget* target, int n) {
  if (!target->mGifFrames || n < 0 || n >= target->mGifFrameCount || !target->mPixels) return;
  const GifFrame* f = target->mGifFrames[n];
  if (!f) return;
  for (int32_t i = 0; i < f->mHeight; i++) {
    int64_t y = (int64_t)f->mTop + i;
    if (y >= target->mHeight) break;
    const uint8_t* src = f->mIndexes + (size_t)i * f->mWidth;
    uint8_t* row = target->mPixels + (size_t)y * target->mWidth * 4;
    for (int32_t j = 0; j < f->mWidth; j++) {
      int64_t x = (int64_t)f->mLeft + j;
      if (x >= target->mWidth) break;
      int k = src[j];
      uint8_t* dest = row + x * 4;
      dest[0] = f->mPalette[k * 3 + 2], dest[1] = f->mPalette[k * 3 + 1], dest[2] = f->mPalette[k * 3];
      dest[3] = f->mTransparent && k == f->mTransparentIndex ? 0 : 255;
    }
  }
}
