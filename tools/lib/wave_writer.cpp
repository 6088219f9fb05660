// RIFF WAVE files for the demo's sounds and the sound tests.
#include "tools/lib/wave_writer.h"

#include "tools/lib/binary_writer.h"

std::string WaveFile(uint16_t tag, int channels, int rate, int bits, const std::string& data, int fmtBytes) {
  BinaryWriter fmt;
  fmt.U16(tag);
  fmt.U16((uint16_t)channels);
  fmt.U32((uint32_t)rate);
  fmt.U32((uint32_t)(rate * channels * bits / 8));
  fmt.U16((uint16_t)(channels * bits / 8));
  fmt.U16((uint16_t)bits);
  while ((int)fmt.Size() < fmtBytes) fmt.U8(0);
  std::string body = fmt.Data().substr(0, (size_t)fmtBytes);
  BinaryWriter w;
  w.Bytes("RIFF");
  w.U32((uint32_t)(4 + 8 + body.size() + 8 + data.size() + (data.size() & 1)));
  w.Bytes("WAVE");
  w.Bytes("fmt ");
  w.U32((uint32_t)body.size());
  w.Bytes(body);
  w.Bytes("data");
  w.U32((uint32_t)data.size());
  w.Bytes(data);
  if (data.size() & 1) w.U8(0);
  return w.Data();
}

std::string Pcm16(const std::vector<int16_t>& samples) {
  BinaryWriter w;
  for (int16_t s : samples) w.U16((uint16_t)s);
  return w.Data();
}
