// The Ogg page check: streams vorbisfile may be given, streams refused before it sees them,
// and the refusal on every path that opens a decoder on a sound's image.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/sound/sound_fixture.h"

namespace {

uint32_t OggCrc(const std::string& bytes) {
  uint32_t crc = 0;
  for (unsigned char c : bytes) {
    crc ^= (uint32_t)c << 24;
    for (int k = 0; k < 8; k++) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

void PutLe(std::string* s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; i++) (*s)[at + i] = (char)(v >> (8 * i));
}

// One page as the fields say, its body made of `lacing` bytes of `fill`, checksum set.
struct OggPageSpec {
  uint8_t flags;
  uint32_t serial;
  uint32_t sequence;
  std::vector<uint8_t> lacing;
  uint8_t version = 0;
  int64_t granule = 0;
  char fill = 'x';
};

std::string WithChecksum(std::string page) {
  PutLe(&page, 22, 0, 4);
  PutLe(&page, 22, OggCrc(page), 4);
  return page;
}

std::string OggPage(const OggPageSpec& p) {
  std::string s = "OggS";
  s.resize(27, '\0');
  s[4] = (char)p.version;
  s[5] = (char)p.flags;
  PutLe(&s, 6, (uint64_t)p.granule, 8);
  PutLe(&s, 14, p.serial, 4);
  PutLe(&s, 18, p.sequence, 4);
  s[26] = (char)p.lacing.size();
  size_t body = 0;
  for (uint8_t v : p.lacing) s.push_back((char)v), body += v;
  s.append(body, p.fill);
  return WithChecksum(s);
}

// The whole pages of an image, in order, as they stand.
std::vector<std::string> SplitPages(const std::string& image) {
  std::vector<std::string> pages;
  size_t at = 0;
  while (at + 27 <= image.size()) {
    size_t segments = (uint8_t)image[at + 26], length = 27 + segments;
    for (size_t i = 0; i < segments; i++) length += (uint8_t)image[at + 27 + i];
    pages.push_back(image.substr(at, length));
    at += length;
  }
  return pages;
}

std::string Join(const std::vector<std::string>& pages) {
  std::string s;
  for (const std::string& p : pages) s += p;
  return s;
}

bool Check(const std::string& image) {
  return CheckOggPages(reinterpret_cast<const uint8_t*>(image.data()), image.size());
}

constexpr uint8_t CONTINUED = 1, FIRST = 2, LAST = 4;

TEST(OggPages, WellFormedStreamsPassAndInconsistentOnesAreRefused) {
  // Stream 7: a packet of 265 bytes, one of 5, and one of 510 bytes continued over two pages.
  std::string a0 = OggPage({FIRST, 7, 0, {30}});
  std::string a1 = OggPage({0, 7, 1, {255, 10, 5, 255}});
  std::string a2 = OggPage({CONTINUED, 7, 2, {255, 0}});
  std::string a3 = OggPage({LAST, 7, 3, {7}});
  std::string one = a0 + a1 + a2 + a3;
  std::string b0 = OggPage({FIRST, 9, 40, {12}}), b1 = OggPage({LAST, 9, 41, {3}});
  std::string hidden = a1;
  // A whole page of another stream inside the body of a page of this one.
  hidden.replace(hidden.size() - 300, b1.size(), b1);
  hidden = WithChecksum(hidden);
  std::string badCrc = a1;
  badCrc[40] ^= 1;
  std::string manyOpen;
  for (uint32_t s = 0; s < 17; s++) manyOpen += OggPage({FIRST, 100 + s, 0, {1}});
  struct Case {
    const char* what;
    std::string image;
    bool passes;
  } cases[] = {
      {"one stream from first page to last", one, true},
      {"two chained streams", one + b0 + b1, true},
      {"two streams interleaved", a0 + b0 + a1 + b1 + a2 + a3, true},
      {"a serial taken again after its stream ended", one + one, true},
      {"junk around the pages and a cut last page", "junk" + a0 + a1 + "OggS.." + a2 + a3.substr(0, 30), true},
      {"no stream that ends", a0 + a1, true},
      {"empty", "", false},
      {"no page at all", "OggS" + std::string(300, 'Z'), false},
      {"version 1", a0 + OggPage({0, 7, 1, {255, 10, 5, 255}, 1}) + a2 + a3, false},
      {"an unknown flag bit", a0 + OggPage({0x08, 7, 1, {255, 10, 5, 255}}) + a2 + a3, false},
      {"a page missing from the sequence", a0 + a2 + a3, false},
      {"a page repeated", a0 + a1 + a1 + a2 + a3, false},
      {"a page with a broken checksum leaves a gap", a0 + badCrc + a2 + a3, false},
      {"continued although no packet is open", a0 + OggPage({CONTINUED, 7, 1, {255, 10, 5, 255}}) + a2 + a3, false},
      {"an open packet not continued", a0 + a1 + OggPage({0, 7, 2, {255, 0}}) + a3, false},
      {"a first page that continues", OggPage({FIRST | CONTINUED, 7, 0, {30}}) + a1 + a2 + a3, false},
      {"a page of a stream never begun", a0 + OggPage({0, 8, 1, {255, 10, 5, 255}}) + a2 + a3, false},
      {"a first page for a stream still open", a0 + a1 + OggPage({FIRST, 7, 2, {255, 0}}) + a3, false},
      {"a page after the last", one + OggPage({0, 7, 4, {3}}), false},
      {"a stream ending inside a packet", a0 + a1 + a2 + OggPage({LAST, 7, 3, {255}}), false},
      {"a whole page hidden inside another", a0 + hidden + a2 + a3, false},
      {"seventeen streams open at once", manyOpen, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Check(c.image), c.passes);
  }
}

// A stream that begins after another stream's data starts a second link; streams that all
// begin before any data are one link of multiplexed streams.
TEST(OggPages, ChainsAreToldFromMultiplexedStreams) {
  std::string a0 = OggPage({FIRST, 7, 0, {30}}), a1 = OggPage({LAST, 7, 1, {7}});
  std::string b0 = OggPage({FIRST, 9, 0, {12}}), b1 = OggPage({LAST, 9, 1, {3}});
  const struct {
    const char* what;
    std::string image;
    bool chained;
  } cases[] = {
      {"one stream", a0 + a1, false},
      {"two streams begun together", a0 + b0 + a1 + b1, false},
      {"a second stream after the first ended", a0 + a1 + b0 + b1, true},
      {"the same stream again", a0 + a1 + a0 + a1, true},
      {"a second stream begun amid the first", a0 + OggPage({0, 7, 1, {5}}) + b0 + OggPage({LAST, 7, 2, {1}}) + b1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool chained = !c.chained;
    ASSERT_TRUE(CheckOggPages(reinterpret_cast<const uint8_t*>(c.image.data()), c.image.size(), &chained));
    EXPECT_EQ(chained, c.chained);
  }
}

class OggPagesSoundTest : public SoundTest {
 protected:
  std::string Encode(int seconds) {
    folder_.Write("src.wav", WaveFile(1, 1, 8000, 16, Pcm16(Noise16(8000 * seconds, 9))));
    std::string cmd = "oggenc -Q -s 4242 -o '" + folder_.path() + "/src.ogg' '" + folder_.path() + "/src.wav'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(folder_.path() + "/src.ogg", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  int Open(NameNode* n, const std::string& bytes) {
    SoundRecord* r = Rec(n);
    r->mImage = static_cast<uint8_t*>(malloc(bytes.size() + 1));
    memcpy(r->mImage, bytes.data(), bytes.size());
    r->mImageSize = (int32_t)bytes.size();
    r->mFormat = SOUND_FORMAT_OGG;
    r->mDataKind = SOUND_DATA_PCM;
    return OpenSoundData(r);
  }
};

TEST_F(OggPagesSoundTest, EveryDecoderOpenOnTheImageRefusesInconsistentPages) {
  if (!ProgramOnPath("oggenc")) GTEST_SKIP() << "oggenc not installed";
  std::string valid = Encode(3);
  std::vector<std::string> pages = SplitPages(valid);
  ASSERT_GE(pages.size(), 4u);
  ASSERT_EQ(Join(pages), valid);
  // A data page marked as continuing a packet the page before it finished.
  std::vector<std::string> continued = pages;
  continued[3][5] ^= CONTINUED;
  continued[3] = WithChecksum(continued[3]);
  // The last data page moved to another stream.
  std::vector<std::string> serial = pages;
  serial.back()[14] ^= 0x55;
  serial.back() = WithChecksum(serial.back());
  // Two data pages swapped.
  std::vector<std::string> swapped = pages;
  std::swap(swapped[2], swapped[3]);
  struct Case {
    const char* what;
    std::string image;
    int open;
  } cases[] = {
      {"as encoded", valid, 0},
      {"continued without an open packet", Join(continued), -1030},
      {"last page of another stream", Join(serial), -1030},
      {"pages out of order", Join(swapped), -1030},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NameNode* n = AddSound(c.what, SOUND_FORMAT_OGG);
    EXPECT_EQ(Open(n, c.image), c.open);
  }
  // The decoder a playing sound keeps is opened on the image as it stands then: an image that
  // no longer passes is refused there too, for the start seek and for a refill.
  NameNode* n = AddSound("kept", SOUND_FORMAT_OGG);
  ASSERT_EQ(Open(n, valid), 0);
  SoundRecord* r = Rec(n);
  std::string broken = Join(continued);
  ASSERT_EQ(broken.size(), valid.size());
  memcpy(r->mImage, broken.data(), broken.size());
  EXPECT_EQ(SeekOggStart(r, 0), -2010);
  EXPECT_EQ(FillHalfFromOgg(r), -3010);
  EXPECT_EQ(r->mOggStream, nullptr);
  memcpy(r->mImage, valid.data(), valid.size());
  EXPECT_EQ(SeekOggStart(r, 0), 0);
  EXPECT_NE(r->mOggStream, nullptr);
}

}  // namespace
