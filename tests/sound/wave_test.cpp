// Sound data from memory: the RIFF chunk walk, WAV and Ogg images that must be refused with
// their codes, non-PCM WAV converted to 16-bit PCM, and the built-in silent image.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "platform/headless/headless.h"
#include "tests/sound/sound_fixture.h"
#include "tools/lib/binary_writer.h"

namespace {

using WaveTest = SoundTest;

std::string Chunk(const char* id, const std::string& body, int32_t claimedSize = -1) {
  BinaryWriter w;
  w.Bytes(id, 4);
  w.U32(claimedSize < 0 ? (uint32_t)body.size() : (uint32_t)claimedSize);
  w.Bytes(body);
  if (body.size() & 1) w.U8(0);
  return w.Data();
}

std::string Riff(const std::string& chunks, const char* form = "WAVE") {
  BinaryWriter w;
  w.Bytes("RIFF");
  w.U32((uint32_t)(4 + chunks.size()));
  w.Bytes(form, 4);
  w.Bytes(chunks);
  return w.Data();
}

std::string Fmt16(int channels, int rate, int bits) {
  BinaryWriter w;
  w.U16(1);
  w.U16((uint16_t)channels);
  w.U32((uint32_t)rate);
  w.U32((uint32_t)(rate * channels * bits / 8));
  w.U16((uint16_t)(channels * bits / 8));
  w.U16((uint16_t)bits);
  return w.Data();
}

// Opens `bytes` as the record's image the way a load does; returns the code.
int OpenImage(SoundRecord* r, const std::string& bytes, uint8_t format) {
  r->mImage = static_cast<uint8_t*>(malloc(bytes.size() + 1));
  memcpy(r->mImage, bytes.data(), bytes.size());
  r->mImageSize = (int32_t)bytes.size();
  r->mFormat = format;
  r->mDataKind = SOUND_DATA_PCM;
  return OpenSoundData(r);
}

TEST_F(WaveTest, ChunkWalkFindsChunksInAnyOrderWithinTheFile) {
  std::string pcm = "\x01\x02\x03\x04";
  struct Case {
    const char* name;
    std::string image;
    int found;
    uint32_t dataSize;
  } cases[] = {
      {"data before fmt", Riff(Chunk("data", pcm) + Chunk("fmt ", Fmt16(1, 8000, 8))), 1, 4},
      {"odd chunk padded", Riff(Chunk("LIST", "abc") + Chunk("fmt ", Fmt16(1, 8000, 8)) + Chunk("data", pcm)), 1, 4},
      {"data size beyond the file", Riff(Chunk("fmt ", Fmt16(1, 8000, 8)) + Chunk("data", pcm, 0x7FFFFFF0)), 1, 4},
      {"fmt of 12 bytes", Riff(Chunk("fmt ", Fmt16(1, 8000, 8).substr(0, 12)) + Chunk("data", pcm)), 0, 0},
      {"not a wave", Riff(Chunk("fmt ", Fmt16(1, 8000, 8)), "AVI "), 0, 0},
      {"chunk size runs off the end", Riff(Chunk("junk", "", 0x7FFFFFFF) + Chunk("fmt ", Fmt16(1, 8000, 8))), 1, 0},
  };
  for (const Case& c : cases) {
    const uint8_t *fmt, *data;
    uint32_t fmtSize, dataSize;
    const uint8_t* image = reinterpret_cast<const uint8_t*>(c.image.data());
    EXPECT_EQ(FindWaveChunks(image, c.image.size(), &fmt, &fmtSize, &data, &dataSize), c.found) << c.name;
    EXPECT_EQ(dataSize, c.dataSize) << c.name;
    if (data) { EXPECT_EQ(memcmp(data, pcm.data(), dataSize), 0) << c.name; }
  }
}

TEST_F(WaveTest, HostileWaveImagesAreRefusedWithTheirCodes) {
  std::string pcm(400, '\x10');
  struct Case {
    const char* name;
    std::string image;
    int code;
  } cases[] = {
      {"empty", "", -10040},
      {"not RIFF", "RIFX" + std::string(40, 0), -10040},
      {"not WAVE", Riff(Chunk("fmt ", Fmt16(1, 8000, 8)) + Chunk("data", pcm), "WAVF"), -10050},
      {"no fmt", Riff(Chunk("data", pcm)), -10060},
      {"no data", Riff(Chunk("fmt ", Fmt16(1, 8000, 8))), -10080},
      {"fmt of 12 bytes", Riff(Chunk("fmt ", Fmt16(1, 8000, 8).substr(0, 12)) + Chunk("data", pcm)), -10090},
      {"three channels", Riff(Chunk("fmt ", Fmt16(3, 8000, 16)) + Chunk("data", pcm)), -1120},
      {"zero rate", Riff(Chunk("fmt ", Fmt16(1, 0, 16)) + Chunk("data", pcm)), -1120},
      {"unknown encoding", WaveFile(0x4242, 1, 8000, 16, pcm), -10200},
      {"file ends inside the data", Riff(Chunk("fmt ", Fmt16(1, 8000, 8)) + Chunk("data", pcm)).substr(0, 60), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NameNode* n = AddSound(c.name, SOUND_FORMAT_WAVE);
    EXPECT_EQ(OpenImage(Rec(n), c.image, SOUND_FORMAT_WAVE), c.code);
    if (c.code == 0) {
      EXPECT_EQ(Rec(n)->mPcmSize, 60 - 44);
      EXPECT_EQ(Rec(n)->mLengthMs, 2);
    }
  }
}

// A "fmt " body with every field as given, consistent or not.
std::string FmtRaw(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t bytesPerSecond, uint16_t align,
                   uint16_t bits) {
  BinaryWriter w;
  w.U16(tag);
  w.U16(channels);
  w.U32(rate);
  w.U32(bytesPerSecond);
  w.U16(align);
  w.U16(bits);
  return w.Data();
}

TEST_F(WaveTest, ForgedFormatsAreRefusedBeforeAnyBufferIsSizedFromThem) {
  // Buffers hold one second: a forged rate or block align would size gigabytes from a few
  // bytes of header, and without an output device the whole of it would be filled.
  std::string pcm(16, '\x10');
  std::string floats(32, '\0');
  struct Case {
    const char* name;
    std::string image;
    int code;
  } cases[] = {
      {"rate of a billion", Riff(Chunk("fmt ", FmtRaw(1, 1, 0x40000000, 0x80000000u, 2, 16)) + Chunk("data", pcm)), -1120},
      {"rate of 2^32 - 1", Riff(Chunk("fmt ", FmtRaw(1, 2, 0xFFFFFFFFu, 0, 4, 16)) + Chunk("data", pcm)), -1120},
      {"rate of 50", Riff(Chunk("fmt ", FmtRaw(1, 1, 50, 100, 2, 16)) + Chunk("data", pcm)), -1120},
      {"block align of 65535", Riff(Chunk("fmt ", FmtRaw(1, 1, 44100, 0, 0xFFFF, 16)) + Chunk("data", pcm)), -1120},
      {"block align of 0", Riff(Chunk("fmt ", FmtRaw(1, 2, 44100, 0, 0, 8)) + Chunk("data", pcm)), -1120},
      {"float at a rate of 2^31 - 1", Riff(Chunk("fmt ", FmtRaw(3, 2, 0x7FFFFFFF, 0xFFFFFFF8u, 8, 32)) + Chunk("data", floats)), -10200},
      {"float at a rate of 10", WaveFile(3, 1, 10, 32, floats), -10200},
      {"rate at the mixer's top", Riff(Chunk("fmt ", FmtRaw(1, 2, 200000, 800000, 4, 16)) + Chunk("data", pcm)), 0},
  };
  for (uint8_t device : {1, 0}) {
    g_SoundDevice = device;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (device ? " with a device" : " without a device"));
      NameNode* n = AddSound(c.name, SOUND_FORMAT_WAVE);
      SoundRecord* r = Rec(n);
      EXPECT_EQ(OpenImage(r, c.image, SOUND_FORMAT_WAVE), c.code);
      if (c.code < 0) {
        EXPECT_EQ(r->mStaging, nullptr);
        EXPECT_EQ(r->mCarry, nullptr);
      } else {
        EXPECT_EQ(r->mBufferBytes, 800000u);
        EXPECT_EQ(r->mBuffer != nullptr, device == 1);
      }
    }
  }
  g_SoundDevice = 1;
}

TEST_F(WaveTest, FloatSamplesBeyondFullScaleOrNotANumberAreClamped) {
  const float nan = std::nanf(""), inf = HUGE_VALF;
  struct Case {
    float in;
    int16_t out;
  } cases[] = {{nan, 0}, {-nan, 0}, {inf, 32767}, {-inf, -32768}, {1e30f, 32767}, {-1e30f, -32768},
               {1.0f, 32767}, {-1.0f, -32768}, {0.5f, 16384}, {-0.25f, -8192}, {0.0f, 0}};
  BinaryWriter floats;
  for (const Case& c : cases) {
    uint32_t bits;
    memcpy(&bits, &c.in, 4);
    floats.U32(bits);
  }
  NameNode* n = AddSound("floats", SOUND_FORMAT_WAVE);
  SoundRecord* r = Rec(n);
  ASSERT_EQ(OpenImage(r, WaveFile(3, 1, 8000, 32, floats.Data()), SOUND_FORMAT_WAVE), 0);
  ASSERT_EQ(r->mPcmSize, (int32_t)(2 * (sizeof cases / sizeof cases[0])));
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ((int16_t)(r->mPcm[2 * i] | (r->mPcm[2 * i + 1] << 8)), cases[i].out);
  }
}

TEST_F(WaveTest, NonPcmWaveIsConvertedOnceAndTimedByTheConvertedData) {
  // A float WAV of one second and an IMA ADPCM WAV written by libsndfile.
  std::vector<float> samples;
  for (int i = 0; i < 8000; i++) samples.push_back((float)((i % 200) - 100) / 128.0f);
  BinaryWriter floats;
  for (float f : samples) {
    uint32_t bits;
    memcpy(&bits, &f, 4);
    floats.U32(bits);
  }
  std::string adpcmPath = folder_.path() + "/adpcm.wav";
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM;
  SNDFILE* sf = sf_open(adpcmPath.c_str(), SFM_WRITE, &info);
  ASSERT_NE(sf, nullptr);
  sf_write_float(sf, samples.data(), (sf_count_t)samples.size());
  sf_close(sf);
  std::string adpcm;
  if (FILE* f = fopen(adpcmPath.c_str(), "rb")) {
    char buf[4096];
    size_t k;
    while ((k = fread(buf, 1, sizeof buf, f)) > 0) adpcm.append(buf, k);
    fclose(f);
  }
  struct Case {
    const char* name;
    std::string image;
    int tolerance;
  } cases[] = {{"float", WaveFile(3, 1, 8000, 32, floats.Data()), 1}, {"ima adpcm", adpcm, 2000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NameNode* n = AddSound(c.name, SOUND_FORMAT_WAVE);
    SoundRecord* r = Rec(n);
    ASSERT_EQ(OpenImage(r, c.image, SOUND_FORMAT_WAVE), 0);
    EXPECT_EQ(r->mDataKind, SOUND_DATA_CONVERTED);
    EXPECT_EQ(r->mWaveFormat.mBits, 16);
    EXPECT_EQ(r->mWaveFormat.mRate, 8000u);
    EXPECT_GE(r->mPcmSize, 8000 * 2);
    EXPECT_NEAR(r->mLengthMs, 1000, 70);
    EXPECT_EQ(r->mLengthMs, (int64_t)r->mPcmSize * 1000 / 16000);
    int16_t s = (int16_t)(r->mPcm[2 * 150] | (r->mPcm[2 * 150 + 1] << 8));
    EXPECT_NEAR(s, 50 * 32768 / 128, c.tolerance);
    // A resume opens the converted data again as it stands.
    ReleaseSoundBuffers(r);
    int32_t size = r->mPcmSize;
    ASSERT_EQ(OpenSoundData(r), 0);
    EXPECT_EQ(r->mPcmSize, size);
    EXPECT_NE(r->mBuffer, nullptr);
  }
}

TEST_F(WaveTest, HostileOggImagesAreRefusedWithTheirCodes) {
  if (std::system("command -v oggenc >/dev/null 2>&1") != 0) GTEST_SKIP() << "oggenc not installed";
  // Each stream gets its own serial number: oggenc picks one from the clock, so two encodes in
  // the same second would otherwise chain into what looks like one stream.
  auto encode = [&](const std::string& name, int channels, int serial) {
    folder_.Write(name + ".wav", WaveFile(1, channels, 8000, 16, Pcm16(Noise16(4000 * channels, 5))));
    std::string base = folder_.path() + "/" + name;
    std::string cmd = "oggenc -Q -s " + std::to_string(serial) + " -o '" + base + ".ogg' '" + base + ".wav'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::string out;
    if (FILE* f = fopen((base + ".ogg").c_str(), "rb")) {
      char buf[4096];
      size_t k;
      while ((k = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, k);
      fclose(f);
    }
    return out;
  };
  std::string mono = encode("mono", 1, 101);
  std::string other = encode("other", 1, 202);
  std::string six = encode("six", 6, 303);
  std::string garbage = "OggS" + std::string(300, '\x5a');
  struct Case {
    const char* name;
    std::string image;
    int code;
  } cases[] = {
      {"valid", mono, 0},
      {"garbage after the capture pattern", garbage, -1030},
      {"cut in the headers", mono.substr(0, 60), -1030},
      {"two chained streams", mono + other, -1045},
      {"six channels", six, -1050},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NameNode* n = AddSound(c.name, SOUND_FORMAT_OGG);
    EXPECT_EQ(OpenImage(Rec(n), c.image, SOUND_FORMAT_OGG), c.code);
  }
}

TEST_F(WaveTest, TheMasterNodePlaysHalfASecondOfSilenceAtEightKilohertz) {
  const uint8_t* fmt;
  const uint8_t* data;
  uint32_t fmtSize, dataSize;
  ASSERT_EQ(FindWaveChunks(g_SilentWave, SILENT_WAVE_BYTES, &fmt, &fmtSize, &data, &dataSize), 1);
  EXPECT_EQ(dataSize, 4000u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), dataSize), std::string(4000, '\x80'));
  HeadlessUseRealClock(true);
  ASSERT_EQ(InitSoundSystem(), 0);
  NameNode* master = FindNodeByPath(g_SoundRoot, "ROOT", NAME_LOOKUP_LEAF);
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(master->mOrderKey, SOUND_MASTER_KEY);
  for (int i = 0; i < 10000 && Rec(master)->mState < SOUND_STATE_RAMPING; i++) PlatSleep(1);
  g_Running = 0;
  for (int i = 0; i < 10000 && g_SoundThreadFinished != 1; i++) PlatSleep(1);
  ASSERT_EQ(g_SoundThreadFinished, 1);
  SoundRecord* r = Rec(master);
  EXPECT_EQ(r->mWaveFormat.mRate, 8000u);
  EXPECT_EQ(r->mLengthMs, 500);
  EXPECT_EQ(r->mImage, nullptr);   // every sound is released when the thread ends
  EXPECT_EQ(r->mTargetVolume, 2);
}

}  // namespace
