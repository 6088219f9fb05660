// Conversion of the tools' input text into code page 932, line by line, so a character that
// has no form there is reported with its file and line.
#include "tools/lib/listing_text.h"

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace {

// The length of the well-formed UTF-8 sequence at `at`, 0 when broken.
size_t SequenceLength(const std::string& s, size_t at) {
  uint8_t b = (uint8_t)s[at];
  size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  uint32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
  for (size_t k = 1; k < n; k++) {
    uint8_t t = (uint8_t)s[at + k];
    if ((t & 0xC0) != 0x80) return 0;
    c = c << 6 | (t & 0x3F);
  }
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return n;
}

uint32_t CodePoint(const std::string& s, size_t at, size_t n) {
  uint8_t b = (uint8_t)s[at];
  uint32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
  for (size_t k = 1; k < n; k++) c = c << 6 | ((uint8_t)s[at + k] & 0x3F);
  return c;
}

// Names the first character of a UTF-8 line that code page 932 lacks.
std::string UnconvertibleCharacter(const std::string& line) {
  for (size_t at = 0; at < line.size();) {
    size_t n = SequenceLength(line, at);
    if (n == 0) break;
    std::string one;
    if (!PlatUtf8ToCp932(line.data() + at, n, &one)) {
      char code[16];
      snprintf(code, sizeof code, "U+%04X", CodePoint(line, at, n));
      return "'" + line.substr(at, n) + "' (" + code + ")";
    }
    at += n;
  }
  return "a character";
}

}  // namespace

bool IsUtf8(const std::string& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    size_t n = SequenceLength(bytes, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

bool TextToCp932(const std::string& bytes, const std::string& file, std::string* out, std::string* error) {
  out->clear();
  std::string text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
  if (!IsUtf8(text)) {
    *out = bytes;
    return true;
  }
  size_t lineNumber = 1;
  for (size_t start = 0; start <= text.size(); lineNumber++) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string converted;
    if (!PlatUtf8ToCp932(text.data() + start, end - start, &converted)) {
      *error = file + ":" + std::to_string(lineNumber) + ": " + UnconvertibleCharacter(text.substr(start, end - start)) +
               " has no code page 932 form";
      out->clear();
      return false;
    }
    *out += converted;
    if (end < text.size()) *out += '\n';
    start = end + 1;
  }
  return true;
}

bool NameToCp932(const std::string& name, std::string* out) {
  if (!IsUtf8(name)) {
    *out = name;
    return true;
  }
  return PlatUtf8ToCp932(name.data(), name.size(), out);
}
