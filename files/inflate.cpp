// Bounded zlib inflation: streaming into a buffer that grows with the output, never past the
// size the caller declared.
#include <zlib.h>

#include <climits>
#include <cstdlib>

#include "files/files.h"

namespace {

constexpr size_t FIRST_CHUNK = 64 * 1024;

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

// Grows `*buffer` towards `cap`, doubling; false when there is no memory.
bool Grow(uint8_t** buffer, size_t* capacity, size_t cap) {
  size_t next = *capacity > cap / 2 ? cap : *capacity * 2;
  uint8_t* grown = static_cast<uint8_t*>(realloc(*buffer, next));
  if (!grown) return false;
  *buffer = grown;
  *capacity = next;
  return true;
}

}  // namespace

int InflateExact(const uint8_t* packed, size_t packedSize, size_t expected, uint8_t** out) {
  *out = nullptr;
  if (expected > InflateLimit(packedSize)) return INFLATE_BROKEN;
  // One byte past the declared size is room enough to tell a stream that runs on.
  size_t cap = expected + 1;
  size_t capacity = Smaller(cap, FIRST_CHUNK > packedSize * 4 ? FIRST_CHUNK : packedSize * 4);
  uint8_t* buffer = static_cast<uint8_t*>(malloc(capacity));
  if (!buffer) return INFLATE_NO_MEMORY;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    free(buffer);
    return INFLATE_NO_MEMORY;
  }
  size_t fed = 0, produced = 0;
  int result = INFLATE_OK;
  for (;;) {
    if (produced == capacity) {
      if (capacity == cap) {
        result = INFLATE_TOO_LONG;
        break;
      }
      if (!Grow(&buffer, &capacity, cap)) {
        result = INFLATE_NO_MEMORY;
        break;
      }
    }
    if (z.avail_in == 0 && fed < packedSize) {
      size_t chunk = Smaller(packedSize - fed, UINT_MAX);
      z.next_in = const_cast<Bytef*>(packed + fed);
      z.avail_in = (uInt)chunk;
      fed += chunk;
    }
    size_t room = Smaller(capacity - produced, UINT_MAX);
    z.next_out = buffer + produced;
    z.avail_out = (uInt)room;
    int r = inflate(&z, Z_NO_FLUSH);
    produced += room - z.avail_out;
    if (r == Z_STREAM_END) break;
    if (r == Z_OK) continue;
    // No progress with room left and nothing more to feed: the stream was cut.
    if (r == Z_BUF_ERROR && produced == capacity) continue;
    result = r == Z_MEM_ERROR ? INFLATE_NO_MEMORY : INFLATE_BROKEN;
    break;
  }
  inflateEnd(&z);
  if (result == INFLATE_OK && produced != expected) result = produced > expected ? INFLATE_TOO_LONG : INFLATE_SHORT;
  if (result != INFLATE_OK) {
    free(buffer);
    return result;
  }
  *out = buffer;
  return INFLATE_OK;
}
