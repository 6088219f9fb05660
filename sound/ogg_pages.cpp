// The Ogg page check a sound's image passes before vorbisfile sees any of it: every page the
// library could find is whole and sound, and the pages of each stream follow on consistently.
#include <cstring>

#include "sound/sound.h"

namespace {

constexpr size_t OGG_HEADER_BYTES = 27;
constexpr uint8_t OGG_CONTINUED = 0x01;
constexpr uint8_t OGG_FIRST = 0x02;
constexpr uint8_t OGG_LAST = 0x04;
// Multiplexed streams open at the same time; a chain opens its links one after another.
constexpr int OGG_OPEN_STREAMS_MAX = 16;

struct OggCrcTable {
  uint32_t v[256];
  OggCrcTable() {
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t r = i << 24;
      for (int j = 0; j < 8; j++) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      v[i] = r;
    }
  }
};
const OggCrcTable g_OggCrc;

uint32_t Le32(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24); }

uint32_t CrcUpdate(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; i++) crc = (crc << 8) ^ g_OggCrc.v[((crc >> 24) ^ p[i]) & 0xFF];
  return crc;
}

// The size of the whole page at `at` when its header and body lie inside the image and its
// checksum matches, else 0. The checksum covers the page with its own field counted as zero.
size_t WholePageAt(const uint8_t* image, size_t size, size_t at) {
  if (size - at < OGG_HEADER_BYTES || memcmp(image + at, "OggS", 4) != 0) return 0;
  const uint8_t* page = image + at;
  size_t segments = page[26];
  if (size - at - OGG_HEADER_BYTES < segments) return 0;
  size_t body = 0;
  for (size_t i = 0; i < segments; i++) body += page[OGG_HEADER_BYTES + i];
  size_t length = OGG_HEADER_BYTES + segments + body;
  if (size - at < length) return 0;
  static const uint8_t zeros[4] = {0, 0, 0, 0};
  uint32_t crc = CrcUpdate(0, page, 22);
  crc = CrcUpdate(crc, zeros, 4);
  crc = CrcUpdate(crc, page + 26, length - 26);
  return crc == Le32(page + 22) ? length : 0;
}

struct OggStreamState {
  uint32_t serial;
  uint32_t nextSequence;
  bool packetOpen;   // the last lacing value so far was 255: the next page continues a packet
};

struct OggPageWalk {
  OggStreamState open[OGG_OPEN_STREAMS_MAX];
  int openCount;
  bool dataSeen;   // a page that begins no stream has been taken
  bool chained;    // and a stream began after it
};

OggStreamState* FindOpenStream(OggPageWalk* w, uint32_t serial) {
  for (int i = 0; i < w->openCount; i++)
    if (w->open[i].serial == serial) return &w->open[i];
  return nullptr;
}

// One whole page in file order: false when it does not follow on from its stream's pages.
bool TakePage(OggPageWalk* w, const uint8_t* page) {
  uint8_t flags = page[5];
  if (page[4] != 0 || (flags & ~(OGG_CONTINUED | OGG_FIRST | OGG_LAST)) != 0) return false;
  uint32_t serial = Le32(page + 14);
  uint32_t sequence = Le32(page + 18);
  OggStreamState* s = FindOpenStream(w, serial);
  if (flags & OGG_FIRST) {
    // A serial is taken again only after its stream ended (a later link of a chain).
    if (s || w->openCount == OGG_OPEN_STREAMS_MAX) return false;
    s = &w->open[w->openCount++];
    *s = {serial, sequence, false};
    if (w->dataSeen) w->chained = true;
  } else {
    w->dataSeen = true;
  }
  if (!s || sequence != s->nextSequence) return false;
  // The continued flag says exactly whether the stream's previous page left a packet open.
  if (((flags & OGG_CONTINUED) != 0) != s->packetOpen) return false;
  size_t segments = page[26];
  if (segments > 0) s->packetOpen = page[OGG_HEADER_BYTES + segments - 1] == 255;
  s->nextSequence = sequence + 1;
  if (flags & OGG_LAST) {
    if (s->packetOpen) return false;
    *s = w->open[--w->openCount];
  }
  return true;
}

}  // namespace

bool CheckOggPages(const uint8_t* image, size_t size, bool* chained) {
  if (chained) *chained = false;
  if (!image) return false;
  OggPageWalk w{};
  size_t pages = 0;
  size_t pageEnd = 0;   // end of the last whole page
  const uint8_t* at = image;
  const uint8_t* end = image + size;
  // The library finds pages by their capture pattern wherever it starts reading, after a seek
  // too: every position where a whole page with a matching checksum begins counts, and none
  // may lie inside another. Bytes between pages that hold no page are skipped, as it skips
  // them.
  while (end - at >= 4) {
    const uint8_t* hit = static_cast<const uint8_t*>(memmem(at, (size_t)(end - at), "OggS", 4));
    if (!hit) break;
    size_t offset = (size_t)(hit - image);
    size_t length = WholePageAt(image, size, offset);
    at = hit + 1;
    if (length == 0) continue;
    if (offset < pageEnd || !TakePage(&w, hit)) return false;
    pageEnd = offset + length;
    pages++;
  }
  if (chained) *chained = w.chained;
  return pages > 0;
}
