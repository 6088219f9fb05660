// The demo's title-screen pictures, computed from closed formulas so the build can write them
// and the end-to-end tests can compute every expected frame from the same numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct TitleImage {
  const char* mFile;   // file name in the game folder
  int mWidth, mHeight;
  int mX, mY;          // where the demo places the layer on the 640 x 480 screen
  uint8_t mBlend;      // blend mode the demo gives the layer
};

enum : int { TITLE_BACKGROUND = 0, TITLE_BAND = 1, TITLE_GLOW = 2, TITLE_IMAGE_COUNT = 3 };
constexpr int TITLE_SCREEN_WIDTH = 640, TITLE_SCREEN_HEIGHT = 480;

extern const TitleImage kTitleImages[TITLE_IMAGE_COUNT];

// Blue, green and red of pixel (x, y) of image `index`.
void TitlePixel(int index, int x, int y, uint8_t bgr[3]);

// An uncompressed 24-bit bottom-up BMP (no alpha, so the layer draws with the plain rows);
// `pixel` gives blue, green and red of (x, y).
std::string MakeBmp24(int width, int height, const std::function<void(int x, int y, uint8_t bgr[3])>& pixel);
std::string MakeTitleBmp(int index);
