// Code page 932 <-> UTF-8 through iconv ("CP932": the Windows table, not plain Shift-JIS).
#include <iconv.h>

#include <cerrno>
#include <mutex>

#include "platform/platform.h"

namespace {

// One converter per direction, opened at its first use and kept for the run: opening and
// closing one per text would load and unload the code page's module each time, from whichever
// thread converts (the face lister converts while the main thread does). A converter serves one
// text at a time.
struct Converter {
  const char* from;
  const char* to;
  iconv_t cd = (iconv_t)-1;
  std::mutex lock;
};
Converter g_ToUtf8{"CP932", "UTF-8"};
Converter g_ToCp932{"UTF-8", "CP932"};

bool Convert(Converter& c, const char* in, size_t length, std::string* out) {
  out->clear();
  // Both encodings are ASCII below 0x80, byte for byte: such text (most names and paths) needs
  // no converter, and a start with only such text never loads the code page's module.
  size_t ascii = 0;
  while (ascii < length && (unsigned char)in[ascii] < 0x80) ascii++;
  if (ascii == length) {
    out->assign(in, length);
    return true;
  }
  std::lock_guard<std::mutex> guard(c.lock);
  if (c.cd == (iconv_t)-1) c.cd = iconv_open(c.to, c.from);
  if (c.cd == (iconv_t)-1) return false;
  iconv_t cd = c.cd;
  // Each text starts from the converter's initial state, whatever the last one left.
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string result;
  result.resize(length * 4 + 16);
  char* src = const_cast<char*>(in);
  size_t srcLeft = length;
  char* dst = result.data();
  size_t dstLeft = result.size();
  bool ok = true;
  while (srcLeft > 0) {
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    if (r != (size_t)-1) continue;
    if (errno == E2BIG) {
      size_t used = result.size() - dstLeft;
      result.resize(result.size() * 2);
      dst = result.data() + used;
      dstLeft = result.size() - used;
      continue;
    }
    ok = false;
    break;
  }
  if (!ok) return false;
  result.resize(result.size() - dstLeft);
  *out = std::move(result);
  return true;
}

}  // namespace

bool PlatCp932ToUtf8(const char* cp932, size_t length, std::string* out) {
  return Convert(g_ToUtf8, cp932, length, out);
}

bool PlatUtf8ToCp932(const char* utf8, size_t length, std::string* out) {
  return Convert(g_ToCp932, utf8, length, out);
}
