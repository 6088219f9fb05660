// The BMP writer: 24-bit bottom-up bitmaps, alpha dropped.
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/image_codecs.h"
#include "platform/platform.h"

namespace {

void PutLe16(uint8_t* p, uint16_t v) { p[0] = (uint8_t)v, p[1] = (uint8_t)(v >> 8); }
void PutLe32(uint8_t* p, uint32_t v) { PutLe16(p, (uint16_t)v), PutLe16(p + 2, (uint16_t)(v >> 16)); }

}  // namespace

int WriteBmpFile(const std::string& realPath, const uint8_t* pixels, int32_t width, int32_t height) {
  PlatFile* f = BeginImageFile(realPath);
  if (!f) return -1;
  size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3;
  size_t bytes = stride * height;
  // Padding bytes after each row's pixels are written as 0.
  uint8_t* body = static_cast<uint8_t*>(calloc(bytes ? bytes : 1, 1));
  if (!body) return FinishImageFile(f, realPath, false), -1;
  for (int32_t r = 0; r < height; r++) {
    const uint8_t* src = pixels + (size_t)(height - 1 - r) * width * 4;
    uint8_t* dest = body + r * stride;
    for (int32_t x = 0; x < width; x++, src += 4, dest += 3) dest[0] = src[0], dest[1] = src[1], dest[2] = src[2];
  }
  uint8_t header[54] = {'B', 'M'};
  PutLe32(header + 2, (uint32_t)(bytes + 54));
  PutLe32(header + 10, 54);
  PutLe32(header + 14, 40);
  PutLe32(header + 18, (uint32_t)width);
  PutLe32(header + 22, (uint32_t)height);
  PutLe16(header + 26, 1);
  PutLe16(header + 28, 24);
  bool ok = PlatFileWrite(f, header, sizeof header) == sizeof header && PlatFileWrite(f, body, bytes) == bytes;
  free(body);
  return FinishImageFile(f, realPath, ok);
}

int SaveImageBmp(LayerRecord* record, const char* path) {
  if (!record->mPixels) return -1;
  return WriteBmpFile(GameWritePath(g_ExeFolderReal, path), record->mPixels, record->mWidth, record->mHeight);
}
