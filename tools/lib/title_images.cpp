// The demo's title-screen pictures: a background gradient, a striped band and a soft glow.
#include "tools/lib/title_images.h"

#include "tools/lib/binary_writer.h"

// Background drawn normally, the band multiplied over it, the glow added on top.
const TitleImage kTitleImages[TITLE_IMAGE_COUNT] = {
    {"title_bg.bmp", 640, 480, 0, 0, 0},
    {"title_band.bmp", 640, 160, 0, 160, 3},
    {"title_glow.bmp", 320, 120, 160, 40, 1},
};

void TitlePixel(int index, int x, int y, uint8_t bgr[3]) {
  switch (index) {
    case TITLE_BACKGROUND:
      bgr[0] = (uint8_t)(40 + x * 180 / 639);
      bgr[1] = (uint8_t)(30 + y * 200 / 479);
      bgr[2] = (uint8_t)(200 - x * 150 / 639);
      return;
    case TITLE_BAND:
      bgr[0] = (uint8_t)(255 - x * 128 / 639);
      bgr[1] = (uint8_t)(160 + y * 90 / 159);
      bgr[2] = (uint8_t)(128 + (x / 40) % 2 * 100);
      return;
    default: {
      int dx = x < 160 ? 160 - x : x - 160, dy = y < 60 ? 60 - y : y - 60;
      int d = dx + 2 * dy;
      int v = d >= 280 ? 0 : 120 - d * 120 / 280;
      bgr[0] = (uint8_t)(v / 2);
      bgr[1] = (uint8_t)v;
      bgr[2] = (uint8_t)v;
      return;
    }
  }
}

std::string MakeBmp24(int width, int height, const std::function<void(int x, int y, uint8_t bgr[3])>& pixel) {
  uint32_t rowBytes = ((uint32_t)width * 3 + 3) & ~3u;
  uint32_t pixelBytes = rowBytes * (uint32_t)height;
  BinaryWriter w;
  w.Bytes("BM");
  w.U32(54 + pixelBytes);
  w.U32(0);
  w.U32(54);
  w.U32(40);
  w.U32((uint32_t)width);
  w.U32((uint32_t)height);
  w.U16(1);
  w.U16(24);
  w.U32(0);
  w.U32(pixelBytes);
  w.U32(2835);
  w.U32(2835);
  w.U32(0);
  w.U32(0);
  for (int y = height - 1; y >= 0; y--) {
    for (int x = 0; x < width; x++) {
      uint8_t bgr[3];
      pixel(x, y, bgr);
      w.Bytes(bgr, 3);
    }
    for (uint32_t pad = (uint32_t)width * 3; pad < rowBytes; pad++) w.U8(0);
  }
  return w.Data();
}

std::string MakeTitleBmp(int index) {
  const TitleImage& image = kTitleImages[index];
  return MakeBmp24(image.mWidth, image.mHeight, [index](int x, int y, uint8_t bgr[3]) { TitlePixel(index, x, y, bgr); });
}
