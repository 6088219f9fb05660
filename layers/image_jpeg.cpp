// The JPEG decoder: libjpeg reading from the file image in memory, one row per call straight
// into the layer, with the engine's own source manager and error exit.
#include <cstring>

#include "app/engine.h"
#include "layers/image_codecs.h"
#include "layers/image_jpeg_local.h"

namespace {

const JOCTET kFakeEndOfImage[2] = {0xFF, JPEG_EOI};

void JpegInitSource(j_decompress_ptr info) {
  JpegMemorySource* source = reinterpret_cast<JpegMemorySource*>(info->src);
  source->mPub.next_input_byte = source->mData;
  source->mPub.bytes_in_buffer = 0;
  source->mHandedOver = false;
}

// The whole file image is handed over once. Asked again, the data has run out: a truncated
// file gets an end-of-image marker so the rows decoded so far are kept, instead of the
// decoder reading the file from its start a second time.
boolean JpegFillInputBuffer(j_decompress_ptr info) {
  JpegMemorySource* source = reinterpret_cast<JpegMemorySource*>(info->src);
  if (!source->mHandedOver) {
    source->mHandedOver = true;
    source->mPub.next_input_byte = source->mData;
    source->mPub.bytes_in_buffer = source->mSize;
    if (source->mSize) return TRUE;
  }
  WARNMS(info, JWRN_JPEG_EOF);
  source->mPub.next_input_byte = kFakeEndOfImage;
  source->mPub.bytes_in_buffer = 2;
  return TRUE;
}

// Skipping past the end leaves nothing in the buffer; the next read then meets the end.
void JpegSkipInputData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* source = info->src;
  size_t skip = (size_t)count < source->bytes_in_buffer ? (size_t)count : source->bytes_in_buffer;
  source->next_input_byte += skip;
  source->bytes_in_buffer -= skip;
}

void JpegTermSource(j_decompress_ptr) {}

void JpegErrorExit(j_common_ptr info) { longjmp(reinterpret_cast<JpegErrorManager*>(info->err)->mJump, 1); }

// Warnings and traces are not shown.
void JpegOutputMessage(j_common_ptr) {}

}  // namespace

bool CreateJpegDecoder(JpegDecoder* d) {
  memset(d, 0, sizeof *d);
  d->mInfo.err = jpeg_std_error(&d->mError.mPub);
  d->mError.mPub.error_exit = JpegErrorExit;
  d->mError.mPub.output_message = JpegOutputMessage;
  if (setjmp(d->mError.mJump)) {
    jpeg_destroy_decompress(&d->mInfo);
    d->mCreated = false;
    return false;
  }
  jpeg_create_decompress(&d->mInfo);
  d->mSource.mPub.init_source = JpegInitSource;
  d->mSource.mPub.fill_input_buffer = JpegFillInputBuffer;
  d->mSource.mPub.skip_input_data = JpegSkipInputData;
  d->mSource.mPub.resync_to_restart = jpeg_resync_to_restart;
  d->mSource.mPub.term_source = JpegTermSource;
  d->mInfo.src = &d->mSource.mPub;
  d->mCreated = true;
  return true;
}

void DestroyJpegDecoder(JpegDecoder* d) {
  if (d->mCreated) jpeg_destroy_decompress(&d->mInfo);
  d->mCreated = false;
}

void SetJpegSource(JpegDecoder* d, const uint8_t* data, size_t size) {
  d->mSource.mData = data;
  d->mSource.mSize = size;
  d->mSource.mHandedOver = false;
}

bool JpegFitsItsFile(const JpegDecoder* d) {
  constexpr uint64_t kMostPixelsPerByte = 512;
  uint64_t pixels = (uint64_t)d->mInfo.image_width * d->mInfo.image_height;
  return !d->mInfo.arith_code && pixels <= kMostPixelsPerByte * (uint64_t)d->mSource.mSize;
}

bool RequestBgraOutput(JpegDecoder* d) {
  J_COLOR_SPACE space = d->mInfo.jpeg_color_space;
  if (space != JCS_GRAYSCALE && space != JCS_YCbCr && space != JCS_RGB) return false;
  d->mInfo.out_color_space = JCS_EXT_BGRA;
  return true;
}

void ReadJpegRows(JpegDecoder* d, uint8_t* image, bool bgra, JSAMPROW sampleRow) {
  jpeg_decompress_struct* info = &d->mInfo;
  size_t width = info->output_width;
  while (info->output_scanline < info->output_height) {
    uint8_t* dest = image + (size_t)info->output_scanline * width * 4;
    if (bgra) {
      JSAMPROW row = dest;
      jpeg_read_scanlines(info, &row, 1);
      continue;
    }
    jpeg_read_scanlines(info, &sampleRow, 1);
    for (size_t x = 0; x < width; x++, dest += 4) dest[0] = dest[1] = dest[2] = sampleRow[x], dest[3] = 255;
  }
}

namespace {

// Locals that must survive a jump back to the recovery point live in this record.
struct JpegLoad {
  JpegDecoder mDecoder;
  int mResult;
};

int RunJpegLoad(JpegLoad* load, const uint8_t* data, size_t size, DecodeTarget* target) {
  JpegDecoder* d = &load->mDecoder;
  if (!CreateJpegDecoder(d)) return -2;
  if (setjmp(d->mError.mJump)) return -2;
  SetJpegSource(d, data, size);
  jpeg_read_header(&d->mInfo, TRUE);
  // Checked before the decompressor sizes its buffers, so a forged size costs nothing.
  if (d->mInfo.image_width > (JDIMENSION)MAX_IMAGE_SIDE || d->mInfo.image_height > (JDIMENSION)MAX_IMAGE_SIDE)
    return ReportScriptErrorF(100091, 1, target->mFileName), -3;
  if (!JpegFitsItsFile(d)) return -2;
  bool bgra = RequestBgraOutput(d);
  jpeg_start_decompress(&d->mInfo);
  JDIMENSION width = d->mInfo.output_width, height = d->mInfo.output_height;
  if (width > (JDIMENSION)MAX_IMAGE_SIDE || height > (JDIMENSION)MAX_IMAGE_SIDE)
    return ReportScriptErrorF(100091, 1, target->mFileName), -3;
  JSAMPARRAY sample = d->mInfo.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&d->mInfo), JPOOL_IMAGE,
                                                 width * d->mInfo.output_components + 16, 1);
  uint8_t* image = AllocTargetImage(target, (int32_t)width, (int32_t)height);
  if (!image) return -3;
  ReadJpegRows(d, image, bgra, sample[0]);
  jpeg_finish_decompress(&d->mInfo);
  return 0;
}

}  // namespace

int DecodeJpegMemory(const uint8_t* data, size_t size, DecodeTarget* target) {
  JpegLoad load;
  load.mResult = RunJpegLoad(&load, data, size, target);
  DestroyJpegDecoder(&load.mDecoder);
  return load.mResult;
}
