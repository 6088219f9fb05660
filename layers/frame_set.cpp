// Frame sets: files of many JPEG frames with optional grey masks, attached to a layer,
// unscrambled once, and decoded frame by frame straight into the layer's image.
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "files/files.h"
#include "layers/frame_set.h"
#include "layers/image_codecs.h"
#include "layers/image_jpeg_local.h"
#include "layers/layer.h"

namespace {

constexpr size_t FRAME_SET_HEADER_BYTES = 32;

// One decompressor for every frame and mask of every set, made at the first frame.
JpegDecoder g_FrameDecoder;

uint32_t FrameOffset(const FrameSetRecord* set, int i) { return ReadLe32(set->mOffsets + 4 * (size_t)i); }
int32_t ColourLength(const FrameSetRecord* set, int i) { return (int32_t)ReadLe32(set->mColourLengths + 4 * (size_t)i); }
int32_t MaskLength(const FrameSetRecord* set, int i) { return (int32_t)ReadLe32(set->mMaskLengths + 4 * (size_t)i); }

// The bytes one frame is unscrambled over: its colour part and the mask part right after it.
struct FrameRange {
  uint64_t start;
  uint64_t end;
};

int CompareRanges(const void* a, const void* b) {
  uint64_t x = static_cast<const FrameRange*>(a)->start, y = static_cast<const FrameRange*>(b)->start;
  return x < y ? -1 : x > y ? 1 : 0;
}

// Frames are unscrambled in place, so every frame's bytes must lie inside the file, after the
// tables, and apart from every other frame's: one frame's unscrambling must never rewrite the
// tables or another frame. Checked once, for all frames, before any byte changes.
bool FrameSetFits(const uint8_t* file, size_t size) {
  if (size < FRAME_SET_HEADER_BYTES) return false;
  int32_t count = (int32_t)ReadLe32(file + 8);
  uint64_t tablesEnd = FRAME_SET_HEADER_BYTES + 12 * (uint64_t)count;
  if (count < 0 || tablesEnd > size) return false;
  if (count == 0) return true;
  FrameRange* ranges = static_cast<FrameRange*>(malloc((size_t)count * sizeof(FrameRange)));
  if (!ranges) return false;
  const uint8_t* offsets = file + FRAME_SET_HEADER_BYTES;
  size_t used = 0;
  bool fits = true;
  for (int32_t i = 0; i < count && fits; i++) {
    uint64_t offset = ReadLe32(offsets + 4 * (size_t)i);
    int32_t colour = (int32_t)ReadLe32(offsets + 4 * ((size_t)count + i));
    int32_t mask = (int32_t)ReadLe32(offsets + 4 * (2 * (size_t)count + i));
    uint64_t end = offset + (colour > 0 ? (uint64_t)colour : 0) + (mask > 0 ? (uint64_t)mask : 0);
    if (end > size) fits = false;
    else if (end > offset) {
      // A frame without bytes changes nothing wherever it points.
      if (offset < tablesEnd) fits = false;
      else ranges[used++] = {offset, end};
    }
  }
  if (fits) {
    qsort(ranges, used, sizeof(FrameRange), CompareRanges);
    for (size_t i = 1; i < used && fits; i++) fits = ranges[i].start >= ranges[i - 1].end;
  }
  free(ranges);
  return fits;
}

void Unscramble(uint8_t* bytes, int32_t length) {
  for (int32_t j = 0; j < length; j++) bytes[j] ^= (uint8_t)((j & 15) + 16);
}

}  // namespace

void FreeFrameSet(LayerRecord* record) {
  if (!record || !record->mFrameSet) return;
  free(record->mFrameSet->mFile);
  free(record->mFrameSet);
  record->mFrameSet = nullptr;
}

int LoadFrameSet(NameNode* node, const char* fileName) {
  LayerRecord* record = GetLayerRecord(node);
  if (!record) return -1;
  FileLocation location;
  if (LoadDataFile(fileName, &location) != 0) return ReportScriptErrorF(104010, 1, fileName), -1;
  if (!FrameSetFits(location.mData, location.mSize)) {
    free(location.mData);
    return ReportScriptErrorF(104010, 1, fileName), -1;
  }
  FreeFrameSet(record);
  FrameSetRecord* set = static_cast<FrameSetRecord*>(calloc(1, sizeof(FrameSetRecord)));
  if (!set) return free(location.mData), ReportError(100010, 1), 0;
  uint8_t* file = location.mData;
  set->mFrameCount = (int32_t)ReadLe32(file + 8);
  set->mHasMask = (int32_t)ReadLe32(file + 12);
  for (int i = 0; i < 3; i++) set->mHeaderValues[i] = (int32_t)ReadLe32(file + 16 + 4 * i);
  set->mFile = file;
  set->mFileSize = location.mSize;
  set->mOffsets = file + FRAME_SET_HEADER_BYTES;
  set->mColourLengths = set->mOffsets + 4 * (size_t)set->mFrameCount;
  set->mMaskLengths = set->mColourLengths + 4 * (size_t)set->mFrameCount;
  for (int32_t i = 0; i < set->mFrameCount; i++) {
    uint8_t* colour = file + FrameOffset(set, i);
    int32_t colourLength = ColourLength(set, i) > 0 ? ColourLength(set, i) : 0;
    Unscramble(colour, colourLength);
    Unscramble(colour + colourLength, MaskLength(set, i));
  }
  record->mFrameSet = set;
  return 0;
}

namespace {

// The library calls of one frame; the caller holds the recovery point.
int DecodeFrameInto(const uint8_t* colour, int32_t colourLength, NameNode* node) {
  LayerRecord* record = GetLayerRecord(node);
  if (!record) return -1;
  JpegDecoder* d = &g_FrameDecoder;
  SetJpegSource(d, colour, colourLength > 0 ? (size_t)colourLength : 0);
  jpeg_read_header(&d->mInfo, TRUE);
  if (!JpegFitsItsFile(d)) {
    jpeg_abort_decompress(&d->mInfo);
    return -2;
  }
  int32_t width = (int32_t)d->mInfo.image_width, height = (int32_t)d->mInfo.image_height;
  if (width != record->mWidth || height != record->mHeight || !record->mPixels) {
    // Sized before the decompressor allocates anything, so an oversized frame costs nothing;
    // the allocation refuses it with its own message.
    InvalidateLayer(node);
    ImageBuffer* pixels = AllocImageBuffer(nullptr, width, height, nullptr);
    if (!pixels) {
      jpeg_abort_decompress(&d->mInfo);
      return -1;
    }
    memset(pixels, 0, (size_t)width * height * 4);
    FreeImageBuffer(record->mPixels);
    record->mPixels = pixels;
    record->mWidth = width;
    record->mHeight = height;
    InvalidateLayer(node);
  }
  bool bgra = RequestBgraOutput(d);
  jpeg_start_decompress(&d->mInfo);
  JSAMPARRAY sample = d->mInfo.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&d->mInfo), JPOOL_IMAGE,
                                                 d->mInfo.output_width * d->mInfo.output_components + 16, 1);
  ReadJpegRows(d, record->mPixels, bgra, sample[0]);
  jpeg_finish_decompress(&d->mInfo);
  jpeg_abort_decompress(&d->mInfo);
  return 0;
}

void DecodeMaskInto(const uint8_t* mask, int32_t maskLength, NameNode* node) {
  LayerRecord* record = GetLayerRecord(node);
  if (!record || !record->mPixels) return;
  JpegDecoder* d = &g_FrameDecoder;
  SetJpegSource(d, mask, (size_t)maskLength);
  jpeg_read_header(&d->mInfo, TRUE);
  if (d->mInfo.num_components != 1 || !JpegFitsItsFile(d) || d->mInfo.image_width > (JDIMENSION)MAX_IMAGE_SIDE ||
      d->mInfo.image_height > (JDIMENSION)MAX_IMAGE_SIDE) {
    jpeg_abort_decompress(&d->mInfo);
    return;
  }
  jpeg_start_decompress(&d->mInfo);
  JSAMPARRAY sample = d->mInfo.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&d->mInfo), JPOOL_IMAGE,
                                                 d->mInfo.output_width + 16, 1);
  // A mask of another size than its frame writes only where the two overlap.
  size_t columns = d->mInfo.output_width < (JDIMENSION)record->mWidth ? d->mInfo.output_width : record->mWidth;
  while (d->mInfo.output_scanline < d->mInfo.output_height && (int32_t)d->mInfo.output_scanline < record->mHeight) {
    uint8_t* row = record->mPixels + (size_t)d->mInfo.output_scanline * record->mWidth * 4;
    jpeg_read_scanlines(&d->mInfo, sample, 1);
    for (size_t x = 0; x < columns; x++) row[x * 4 + 3] = sample[0][x];
  }
  jpeg_abort_decompress(&d->mInfo);
}

}  // namespace

int DecodeJpegFrame(const uint8_t* colour, const uint8_t* mask, int32_t colourLength, int32_t maskLength,
                    NameNode* node) {
  if (!g_FrameDecoder.mCreated && !CreateJpegDecoder(&g_FrameDecoder)) return -2;
  // The recovery point is set for this decode, so an error in any frame fails that frame.
  if (setjmp(g_FrameDecoder.mError.mJump)) {
    jpeg_abort_decompress(&g_FrameDecoder.mInfo);
    return -2;
  }
  return DecodeFrameInto(colour, colourLength, node);
}

void DecodeJpegMask(const uint8_t* mask, int32_t maskLength, NameNode* node) {
  if (!g_FrameDecoder.mCreated || maskLength <= 0) return;
  if (setjmp(g_FrameDecoder.mError.mJump)) {
    jpeg_abort_decompress(&g_FrameDecoder.mInfo);
    return;
  }
  DecodeMaskInto(mask, maskLength, node);
}

void ShowFrameSetFrame(NameNode* node, int64_t n) {
  LayerRecord* record = GetLayerRecord(node);
  if (!record || !record->mFrameSet || !record->mFrameSet->mFile) return;
  FrameSetRecord* set = record->mFrameSet;
  if (set->mFrameCount <= 0) return;
  int32_t frame = n < 0 ? 0 : n >= set->mFrameCount ? set->mFrameCount - 1 : (int32_t)n;
  record->mHasAlpha = set->mHasMask == 1;
  const uint8_t* colour = set->mFile + FrameOffset(set, frame);
  int32_t colourLength = ColourLength(set, frame) > 0 ? ColourLength(set, frame) : 0;
  const uint8_t* mask = colour + colourLength;
  int decoded = DecodeJpegFrame(colour, mask, colourLength, MaskLength(set, frame), node);
  if (decoded == 0 && set->mHasMask != 0) DecodeJpegMask(mask, MaskLength(set, frame), node);
  InvalidateLayer(node);
}
