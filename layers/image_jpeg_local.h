// The libjpeg decompressor with its memory source and recovery point, shared by the JPEG
// decoder and the frame sets, which keep one decompressor alive across frames.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

struct JpegErrorManager {
  jpeg_error_mgr mPub;   // first, so the library's error pointer leads back to the record
  jmp_buf mJump;
};

struct JpegMemorySource {
  jpeg_source_mgr mPub;  // first, for the same reason
  const uint8_t* mData;
  size_t mSize;
  bool mHandedOver;
};

// Every library call on `mInfo` must run below a setjmp on `mError.mJump` set in a frame that
// is still live: each decode sets its own before it calls in.
struct JpegDecoder {
  jpeg_decompress_struct mInfo;
  JpegErrorManager mError;
  JpegMemorySource mSource;
  bool mCreated;
};

// Sets up the error manager and the memory source and creates the decompressor; false when
// the library failed (the decompressor is then destroyed).
bool CreateJpegDecoder(JpegDecoder* d);
void DestroyJpegDecoder(JpegDecoder* d);
// The next image to decode; the bytes must stay alive until the decode ends.
void SetJpegSource(JpegDecoder* d, const uint8_t* data, size_t size);
// After jpeg_read_header: false when the file cannot hold the picture it declares. Huffman
// coding spends at least a bit on each 8 x 8 block of the fullest component, so no file holds
// more than 512 pixels a byte; a cut or forged file that claims more is refused before
// anything is sized or decoded. Arithmetic coding, with which a few bytes can claim any
// size, is refused as well.
bool JpegFitsItsFile(const JpegDecoder* d);
// After jpeg_read_header: asks for B, G, R, A output where the library converts it itself.
// Returns true when rows come out as width x 4 bytes of B, G, R, 255.
bool RequestBgraOutput(JpegDecoder* d);
// After jpeg_start_decompress: reads every output row into `image` (output width x 4 bytes
// per row, rows top-down). Rows the library does not convert go through `sampleRow`
// (output width x components + 16 bytes): the first width bytes are taken as grey levels.
void ReadJpegRows(JpegDecoder* d, uint8_t* image, bool bgra, JSAMPROW sampleRow);
