// Shift-JIS (code page 932) string helpers used by every subsystem.
#include <cstring>

#include "app/engine.h"
#include "platform/platform.h"

namespace {

constexpr bool IsLead(int b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

struct LeadTable {
  uint8_t entries[256];
  constexpr LeadTable() : entries() {
    for (int b = 0; b < 256; b++) entries[b] = IsLead(b) ? 1 : 0;
  }
};

constexpr LeadTable kLeadTable;

}  // namespace

const uint8_t g_LeadByteTable[256] = {
#define ROW(b) kLeadTable.entries[b]
#define ROW16(b) ROW(b), ROW(b + 1), ROW(b + 2), ROW(b + 3), ROW(b + 4), ROW(b + 5), ROW(b + 6), ROW(b + 7), \
    ROW(b + 8), ROW(b + 9), ROW(b + 10), ROW(b + 11), ROW(b + 12), ROW(b + 13), ROW(b + 14), ROW(b + 15)
    ROW16(0x00), ROW16(0x10), ROW16(0x20), ROW16(0x30), ROW16(0x40), ROW16(0x50), ROW16(0x60), ROW16(0x70),
    ROW16(0x80), ROW16(0x90), ROW16(0xA0), ROW16(0xB0), ROW16(0xC0), ROW16(0xD0), ROW16(0xE0), ROW16(0xF0),
#undef ROW16
#undef ROW
};

void ToLowerAscii(char* text) {
  for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p;) {
    if (g_LeadByteTable[*p]) {
      // A lone lead byte at the end must not step over the terminator.
      p += p[1] ? 2 : 1;
      continue;
    }
    if (*p >= 'A' && *p <= 'Z') *p += 32;
    p++;
  }
}

bool EndsWithNoCase(const char* text, const char* suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  if (n < m) return false;
  const char* t = text + n - m;
  for (size_t i = 0; i < m; i++) {
    unsigned char a = t[i], b = suffix[i];
    if (a >= 'A' && a <= 'Z') a += 32;
    if (b >= 'A' && b <= 'Z') b += 32;
    if (a != b) return false;
  }
  return true;
}

int GetFileNamePart(char* dest, size_t destSize, const char* path) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
  const unsigned char* sep = nullptr;
  while (*p) {
    if (g_LeadByteTable[*p]) {
      p += p[1] ? 2 : 1;
      continue;
    }
    if (*p == '\\' || *p == '/') sep = p;
    p++;
  }
  if (destSize > 0) dest[0] = 0;
  if (!sep || sep[1] == 0) return 0;
  CopyTextBounded(dest, destSize, reinterpret_cast<const char*>(sep + 1));
  return 1;
}

void CopyTextBounded(char* dest, size_t destSize, const char* src) {
  if (destSize == 0) return;
  size_t i = 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
  while (s[i]) {
    size_t len = g_LeadByteTable[s[i]] && s[i + 1] ? 2 : 1;
    if (i + len > destSize - 1) break;
    i += len;
  }
  memcpy(dest, src, i);
  dest[i] = 0;
}

std::string ToCp932Text(const char* utf8) {
  std::string out;
  if (!PlatUtf8ToCp932(utf8, strlen(utf8), &out)) out = utf8;
  return out;
}
