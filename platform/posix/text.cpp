// Code page 932 <-> UTF-8 through iconv ("CP932": the Windows table, not plain Shift-JIS).
#include <iconv.h>

#include <cerrno>
#include <mutex>

#include "platform/platform.h"

namespace {

bool Convert(const char* from, const char* to, const char* in, size_t length, std::string* out) {
  out->clear();
  // Both encodings are ASCII below 0x80, byte for byte: such text (most names and paths) needs
  // no converter, and a start with only such text never loads the code page's module.
  size_t ascii = 0;
  while (ascii < length && (unsigned char)in[ascii] < 0x80) ascii++;
  if (ascii == length) {
    out->assign(in, length);
    return true;
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
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
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - dstLeft);
  *out = std::move(result);
  return true;
}

}  // namespace

bool PlatCp932ToUtf8(const char* cp932, size_t length, std::string* out) {
  return Convert("CP932", "UTF-8", cp932, length, out);
}

bool PlatUtf8ToCp932(const char* utf8, size_t length, std::string* out) {
  return Convert("UTF-8", "CP932", utf8, length, out);
}
