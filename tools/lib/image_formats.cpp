// Writers of .kcg, frame-set and GIF files for tests and benches.
#include "tools/lib/image_formats.h"

#include <zlib.h>

#include "tools/lib/binary_writer.h"

namespace {

std::string Deflate(const std::string& bytes) {
  uLongf size = compressBound(bytes.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size(), 6);
  out.resize(size);
  return out;
}

std::string Scramble(std::string bytes) {
  for (size_t j = 0; j < bytes.size(); j++) bytes[j] = (char)(bytes[j] ^ ((j & 15) + 16));
  return bytes;
}

int PaletteBits(size_t entries) {
  int bits = 1;
  while ((size_t)(2 << (bits - 1)) < entries && bits < 8) bits++;
  return bits;
}

// Codes of root size + 1 bits: a clear code before every (clear - 2) literals keeps the table
// from growing past them.
std::string LzwLiterals(const std::vector<uint8_t>& indexes, int rootSize) {
  const int clear = 1 << rootSize, end = clear + 1, size = rootSize + 1;
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  auto put = [&](int code) {
    bits |= (uint32_t)code << count;
    count += size;
    while (count >= 8) out += (char)(bits & 0xFF), bits >>= 8, count -= 8;
  };
  for (size_t i = 0; i < indexes.size(); i++) {
    if (i % (size_t)(clear - 2) == 0) put(clear);
    put(indexes[i]);
  }
  put(end);
  if (count) out += (char)(bits & 0xFF);
  return out;
}

}  // namespace

std::string MakeKcg(int32_t width, int32_t height, const std::string& pixels, bool compressed, int64_t splitAt) {
  BinaryWriter w;
  w.Bytes("KCG", 4);
  w.U32((uint32_t)width);
  w.U32((uint32_t)height);
  w.U32(0);
  w.U32(compressed ? 1 : 0);
  for (int i = 0; i < 3; i++) w.U32(0);
  if (!compressed) {
    for (int i = 0; i < 6; i++) w.U32(0);
    w.Bytes(pixels);
    return w.Data();
  }
  size_t split = splitAt < 0 ? pixels.size() / 2 : (size_t)splitAt;
  std::string part1 = Deflate(pixels.substr(0, split)), part2 = Deflate(pixels.substr(split));
  w.U32((uint32_t)split);
  w.U32((uint32_t)part1.size());
  w.U32(0);
  w.U32(0);
  w.U32((uint32_t)(pixels.size() - split));
  w.U32((uint32_t)part2.size());
  w.Bytes(part1);
  w.Bytes(part2);
  return w.Data();
}

std::string MakeFrameSet(const std::vector<FrameSetEntry>& frames, bool hasMask, int32_t value1, int32_t value2,
                         int32_t value3) {
  BinaryWriter w;
  uint32_t count = (uint32_t)frames.size();
  w.U32(0);
  w.U32(0);
  w.U32(count);
  w.U32(hasMask ? 1 : 0);
  w.U32((uint32_t)value1);
  w.U32((uint32_t)value2);
  w.U32((uint32_t)value3);
  w.U32(0);
  uint32_t offset = 32 + 12 * count;
  for (const FrameSetEntry& f : frames) {
    w.U32(offset);
    offset += (uint32_t)(f.colour.size() + (hasMask ? f.mask.size() : 0));
  }
  for (const FrameSetEntry& f : frames) w.U32((uint32_t)f.colour.size());
  for (const FrameSetEntry& f : frames) w.U32(hasMask ? (uint32_t)f.mask.size() : 0);
  for (const FrameSetEntry& f : frames) {
    w.Bytes(Scramble(f.colour));
    if (hasMask) w.Bytes(Scramble(f.mask));
  }
  return w.Data();
}

std::string MakeGif(const GifSpec& layout) {
  BinaryWriter w;
  w.Bytes("GIF89a", 6);
  w.U16((uint16_t)layout.screenWidth);
  w.U16((uint16_t)layout.screenHeight);
  bool global = !layout.globalPalette.empty();
  w.U8(global ? (uint8_t)(0x80 | (PaletteBits(layout.globalPalette.size() / 3) - 1)) : 0);
  w.U8(0);
  w.U8(0);
  if (global) w.Bytes(layout.globalPalette.data(), layout.globalPalette.size());
  w.Bytes(layout.extraBlocks);
  for (const GifImageSpec& image : layout.images) {
    if (image.hasControl) {
      w.Bytes("\x21\xF9\x04", 3);
      w.U8(image.transparent ? 1 : 0);
      w.U16(0);
      w.U8(image.transparentIndex);
      w.U8(0);
    }
    w.U8(0x2C);
    w.U16((uint16_t)image.left);
    w.U16((uint16_t)image.top);
    w.U16((uint16_t)image.width);
    w.U16((uint16_t)image.height);
    bool local = !image.localPalette.empty();
    w.U8((uint8_t)((image.interlaced ? 0x40 : 0) | (local ? 0x80 | (PaletteBits(image.localPalette.size() / 3) - 1) : 0)));
    if (local) w.Bytes(image.localPalette.data(), image.localPalette.size());
    // Interlaced images store their rows in pass order.
    std::vector<uint8_t> stored;
    if (image.interlaced) {
      static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; pass++)
        for (int y = kStart[pass]; y < image.height; y += kStep[pass])
          stored.insert(stored.end(), image.indexes.begin() + (size_t)y * image.width,
                        image.indexes.begin() + (size_t)(y + 1) * image.width);
    } else {
      stored = image.indexes;
    }
    w.U8((uint8_t)image.minCodeSize);
    std::string data = LzwLiterals(stored, image.minCodeSize);
    for (size_t i = 0; i < data.size(); i += 255) {
      std::string chunk = data.substr(i, 255);
      w.U8((uint8_t)chunk.size());
      w.Bytes(chunk);
    }
    w.U8(0);
  }
  if (layout.trailer) w.U8(0x3B);
  return w.Data();
}
