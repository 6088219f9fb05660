// Helpers of the image tests: fixture files, a decode target that owns its pixels, and the
// numbered-message texts that let a test see which message a decoder gave.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "app/engine.h"
#include "layers/image_codecs.h"

inline std::string ReadFixture(const std::string& name) {
  std::ifstream in(std::string(KIVOR_SOURCE_DIR) + "/tests/images/data/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint8_t* AllocateOwnedImage(DecodeTarget* target, int32_t width, int32_t height) {
  size_t bytes = (size_t)width * 4 * height + (size_t)width * 4 + 4;
  uint8_t* pixels = static_cast<uint8_t*>(realloc(target->mPixels, bytes));
  if (pixels) target->mPixels = pixels;
  return pixels;
}

// A decode target whose pixels and GIF frames are freed with it.
struct OwnedTarget : DecodeTarget {
  OwnedTarget() {
    memset(static_cast<DecodeTarget*>(this), 0, sizeof(DecodeTarget));
    mAllocate = AllocateOwnedImage;
    mFileName = "fixture";
  }
  ~OwnedTarget() {
    free(mPixels);
    FreeGifFrames(mGifFrames);
  }
  OwnedTarget(const OwnedTarget&) = delete;
  OwnedTarget& operator=(const OwnedTarget&) = delete;
  // The image as width, height (little-endian 32-bit) and B, G, R, A rows, with the
  // transparent-pixel rule applied, like the reference files.
  std::string Normalised() const {
    std::string out(8, '\0');
    for (int i = 0; i < 4; i++) out[i] = (char)(mWidth >> (8 * i)), out[4 + i] = (char)(mHeight >> (8 * i));
    for (size_t i = 0; i < (size_t)mWidth * mHeight; i++) {
      const uint8_t* p = mPixels + i * 4;
      if (p[3] == 0) out += std::string("\x80\x80\x80\x00", 4);
      else out.append(reinterpret_cast<const char*>(p), 4);
    }
    return out;
  }
};

// Gives every message a decoder may raise a text that starts with its id.
inline void InstallMessageIds() {
  static const int32_t kIds[] = {100030, 100070, 100080, 100090, 100091, 100092, 100200,
                                 100210, 100215, 100220, 101250, 104010};
  static std::string texts[sizeof kIds / sizeof kIds[0]];
  g_MessageTable.count = 0;
  for (size_t i = 0; i < sizeof kIds / sizeof kIds[0]; i++) {
    texts[i] = "E" + std::to_string(kIds[i]) + " %s";
    g_MessageTable.ids[i] = kIds[i];
    g_MessageTable.texts[i] = texts[i].c_str();
    g_MessageTable.count++;
  }
}

// The id of the message the error dialog showed, or 0. Messages with built-in texts are
// recognised by their text formatted with the fixture's file name.
inline int ShownMessageId(const char* fileName = "fixture") {
  const char* text = LastErrorDialogText();
  const char* e = strstr(text, "E1");
  if (e) return atoi(e + 1);
  for (int32_t id : {100010, 104010, 104030, 104060}) {
    char built[MESSAGE_TEXT_BYTES];
    snprintf(built, sizeof built, LookupMessageText(id), fileName);
    if (*text && strstr(text, built)) return id;
  }
  return 0;
}
