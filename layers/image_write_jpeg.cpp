// The JPEG writer: baseline JPEG through libjpeg at the caller's quality, alpha dropped.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <jerror.h>

#include "app/engine.h"
#include "layers/image_codecs.h"
#include "platform/platform.h"

namespace {

constexpr size_t OUTPUT_BUFFER_BYTES = 65536;

struct JpegFileDest {
  jpeg_destination_mgr mPub;   // first, so the library's pointer leads back to the record
  PlatFile* mFile;
  JOCTET mBuffer[OUTPUT_BUFFER_BYTES];
};

struct JpegWriteError {
  jpeg_error_mgr mPub;
  jmp_buf mJump;
};

void JpegInitDestination(j_compress_ptr info) {
  JpegFileDest* d = reinterpret_cast<JpegFileDest*>(info->dest);
  d->mPub.next_output_byte = d->mBuffer;
  d->mPub.free_in_buffer = OUTPUT_BUFFER_BYTES;
}

boolean JpegEmptyOutputBuffer(j_compress_ptr info) {
  JpegFileDest* d = reinterpret_cast<JpegFileDest*>(info->dest);
  if (PlatFileWrite(d->mFile, d->mBuffer, OUTPUT_BUFFER_BYTES) != OUTPUT_BUFFER_BYTES) ERREXIT(info, JERR_FILE_WRITE);
  JpegInitDestination(info);
  return TRUE;
}

void JpegTermDestination(j_compress_ptr info) {
  JpegFileDest* d = reinterpret_cast<JpegFileDest*>(info->dest);
  size_t used = OUTPUT_BUFFER_BYTES - d->mPub.free_in_buffer;
  if (PlatFileWrite(d->mFile, d->mBuffer, used) != used) ERREXIT(info, JERR_FILE_WRITE);
}

void JpegWriteErrorExit(j_common_ptr info) { longjmp(reinterpret_cast<JpegWriteError*>(info->err)->mJump, 1); }
void JpegWriteMessage(j_common_ptr) {}

// Everything the recovery point needs afterwards lives here.
struct JpegWrite {
  jpeg_compress_struct mInfo;
  JpegWriteError mError;
  JpegFileDest* mDest;
  JSAMPLE* mRow;
  bool mCreated;
};

bool RunJpegWrite(JpegWrite* w, const uint8_t* pixels, int32_t width, int32_t height, int quality) {
  if (setjmp(w->mError.mJump)) return false;
  jpeg_create_compress(&w->mInfo);
  w->mCreated = true;
  w->mInfo.dest = &w->mDest->mPub;
  w->mDest->mPub.init_destination = JpegInitDestination;
  w->mDest->mPub.empty_output_buffer = JpegEmptyOutputBuffer;
  w->mDest->mPub.term_destination = JpegTermDestination;
  w->mInfo.image_width = (JDIMENSION)width;
  w->mInfo.image_height = (JDIMENSION)height;
  w->mInfo.input_components = 3;
  w->mInfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&w->mInfo);
  jpeg_set_quality(&w->mInfo, quality, TRUE);
  jpeg_start_compress(&w->mInfo, TRUE);
  w->mRow = static_cast<JSAMPLE*>(malloc((size_t)width * 3 + 1));
  if (!w->mRow) ERREXIT(&w->mInfo, JERR_OUT_OF_MEMORY);
  while (w->mInfo.next_scanline < w->mInfo.image_height) {
    const uint8_t* src = pixels + (size_t)w->mInfo.next_scanline * width * 4;
    for (int32_t x = 0; x < width; x++, src += 4) {
      w->mRow[x * 3] = src[2], w->mRow[x * 3 + 1] = src[1], w->mRow[x * 3 + 2] = src[0];
    }
    JSAMPROW row = w->mRow;
    jpeg_write_scanlines(&w->mInfo, &row, 1);
  }
  jpeg_finish_compress(&w->mInfo);
  return true;
}

}  // namespace

int WriteJpegFile(const std::string& realPath, const uint8_t* pixels, int32_t width, int32_t height, int quality) {
  PlatFile* f = BeginImageFile(realPath);
  if (!f) return -1;
  JpegWrite* w = static_cast<JpegWrite*>(calloc(1, sizeof(JpegWrite)));
  JpegFileDest* dest = static_cast<JpegFileDest*>(calloc(1, sizeof(JpegFileDest)));
  if (!w || !dest) return free(w), free(dest), FinishImageFile(f, realPath, false), -1;
  w->mDest = dest;
  dest->mFile = f;
  w->mInfo.err = jpeg_std_error(&w->mError.mPub);
  w->mError.mPub.error_exit = JpegWriteErrorExit;
  w->mError.mPub.output_message = JpegWriteMessage;
  bool ok = RunJpegWrite(w, pixels, width, height, quality);
  if (w->mCreated) jpeg_destroy_compress(&w->mInfo);
  free(w->mRow);
  free(w);
  free(dest);
  return FinishImageFile(f, realPath, ok);
}

int SaveImageJpeg(LayerRecord* record, const char* path, int quality) {
  if (!record->mPixels) return -1;
  return WriteJpegFile(GameWritePath(g_ExeFolderReal, path), record->mPixels, record->mWidth, record->mHeight, quality);
}
