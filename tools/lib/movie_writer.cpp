// AVI movies of uncompressed pictures (see movie_writer.h): the RIFF header list with one video
// stream, the pictures' chunks and their index.
#include "tools/lib/movie_writer.h"

#include "tools/lib/binary_writer.h"

namespace {

void Chunk(BinaryWriter* w, const char* id, const std::string& body) {
  w->Bytes(id, 4);
  w->U32((uint32_t)body.size());
  w->Bytes(body);
  if (body.size() & 1) w->U8(0);
}

std::string List(const char* type, const std::string& body) {
  BinaryWriter w;
  w.Bytes(type, 4);
  w.Bytes(body);
  return w.Data();
}

}  // namespace

std::string RawAviMovie(int width, int height, uint32_t scale, uint32_t rate, int frames, uint8_t level) {
  uint32_t row = ((uint32_t)width * 3 + 3) & ~3u;
  uint32_t image = row * (uint32_t)height;
  uint32_t microseconds = rate ? (uint32_t)((uint64_t)scale * 1000000 / rate) : 0;

  BinaryWriter avih;
  for (uint32_t v : {microseconds, image * 25, 0u, 0x10u, (uint32_t)frames, 0u, 1u, image, (uint32_t)width,
                     (uint32_t)height, 0u, 0u, 0u, 0u})
    avih.U32(v);
  BinaryWriter strh;
  strh.Bytes("vidsDIB ", 8);
  strh.U32(0);   // flags
  strh.U16(0);   // priority
  strh.U16(0);   // language
  for (uint32_t v : {0u, scale, rate, 0u, (uint32_t)frames, image, 0xFFFFFFFFu, 0u}) strh.U32(v);
  for (int v : {0, 0, width, height}) strh.U16((uint16_t)v);
  BinaryWriter strf;
  for (uint32_t v : {40u, (uint32_t)width, (uint32_t)height}) strf.U32(v);
  strf.U16(1);    // planes
  strf.U16(24);   // bits per pixel
  for (uint32_t v : {0u, image, 0u, 0u, 0u, 0u}) strf.U32(v);

  BinaryWriter strl;
  Chunk(&strl, "strh", strh.Data());
  Chunk(&strl, "strf", strf.Data());
  BinaryWriter hdrl;
  Chunk(&hdrl, "avih", avih.Data());
  Chunk(&hdrl, "LIST", List("strl", strl.Data()));

  BinaryWriter movi, idx1;
  for (int i = 0; i < frames; i++) {
    uint32_t offset = 4 + (uint32_t)movi.Size();
    Chunk(&movi, "00db", std::string(image, (char)(level + i * 30)));
    idx1.Bytes("00db", 4);
    for (uint32_t v : {0x10u, offset, image}) idx1.U32(v);
  }
  BinaryWriter riff;
  riff.Bytes("AVI ", 4);
  Chunk(&riff, "LIST", List("hdrl", hdrl.Data()));
  Chunk(&riff, "LIST", List("movi", movi.Data()));
  Chunk(&riff, "idx1", idx1.Data());
  BinaryWriter file;
  Chunk(&file, "RIFF", riff.Data());
  return file.Data();
}
