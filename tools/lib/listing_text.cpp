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

namespace {

std::string Located(const std::string& file, size_t line, const std::string& what) {
  return file + ":" + std::to_string(line) + ": " + what;
}

// The line (from 1) holding byte `at`.
size_t LineOf(const std::string& text, size_t at) {
  size_t line = 1;
  for (size_t k = 0; k < at && k < text.size(); k++) line += text[k] == '\n';
  return line;
}

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back((char)c);
  } else if (c < 0x800) {
    out->push_back((char)(0xC0 | c >> 6));
    out->push_back((char)(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back((char)(0xE0 | c >> 12));
    out->push_back((char)(0x80 | (c >> 6 & 0x3F)));
    out->push_back((char)(0x80 | (c & 0x3F)));
  } else {
    out->push_back((char)(0xF0 | c >> 18));
    out->push_back((char)(0x80 | (c >> 12 & 0x3F)));
    out->push_back((char)(0x80 | (c >> 6 & 0x3F)));
    out->push_back((char)(0x80 | (c & 0x3F)));
  }
}

// UTF-16 after its byte-order mark, as UTF-8; false (with the line) on a broken surrogate pair
// or an odd byte at the end.
bool Utf16ToUtf8(const std::string& bytes, bool bigEndian, const std::string& file, std::string* out,
                 std::string* error) {
  auto unit = [&](size_t at) {
    uint8_t a = (uint8_t)bytes[at], b = (uint8_t)bytes[at + 1];
    return bigEndian ? (uint32_t)(a << 8 | b) : (uint32_t)(b << 8 | a);
  };
  size_t line = 1;
  for (size_t at = 2; at < bytes.size(); at += 2) {
    bool broken = at + 1 >= bytes.size();
    uint32_t c = broken ? 0 : unit(at);
    if (!broken && c >= 0xD800 && c <= 0xDBFF) {
      uint32_t low = at + 3 < bytes.size() ? unit(at + 2) : 0;
      broken = low < 0xDC00 || low > 0xDFFF;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      at += 2;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      broken = true;
    }
    if (broken) {
      *error = Located(file, line, "broken UTF-16; save the listing as UTF-8");
      return false;
    }
    line += c == '\n';
    AppendUtf8(c, out);
  }
  return true;
}

// Code page 932 as the engine reads it: single bytes 00-7F and A1-DF, or a lead byte 81-9F /
// E0-FC with a trail byte 40-7E / 80-FC. The offset of the first byte that breaks it, or npos.
size_t FirstNonCp932(const std::string& s) {
  for (size_t k = 0; k < s.size(); k++) {
    uint8_t b = (uint8_t)s[k];
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) continue;
    bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    uint8_t t = k + 1 < s.size() ? (uint8_t)s[k + 1] : 0;
    if (!lead || t < 0x40 || t == 0x7F || t > 0xFC) return k;
    k++;
  }
  return std::string::npos;
}

// The first line of `text` that `convert` refuses (the whole text was refused).
template <typename Convert>
size_t FirstRefusedLine(const std::string& text, Convert convert, std::string* refused) {
  size_t lineNumber = 1;
  for (size_t start = 0; start <= text.size(); lineNumber++) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start), converted;
    if (!convert(line, &converted)) {
      *refused = line;
      return lineNumber;
    }
    start = end + 1;
  }
  return 0;
}

const char kSaveAsUtf8[] = "the listing is neither UTF-8 nor code page 932; save it as UTF-8";

}  // namespace

bool TextToCp932(const std::string& bytes, const std::string& file, std::string* out, std::string* error) {
  out->clear();
  std::string text;
  bool le = bytes.compare(0, 2, "\xFF\xFE") == 0, be = bytes.compare(0, 2, "\xFE\xFF") == 0;
  if (le || be) {
    if (!Utf16ToUtf8(bytes, be, file, &text, error)) return false;
  } else {
    text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    size_t nul = text.find('\0');
    if (nul != std::string::npos) {
      *error = Located(file, LineOf(text, nul),
                       "a NUL byte: is the listing UTF-16 without a byte-order mark? Save it as UTF-8");
      return false;
    }
  }
  auto toCp932 = [](const std::string& in, std::string* converted) {
    return PlatUtf8ToCp932(in.data(), in.size(), converted);
  };
  if (IsUtf8(text)) {
    // One conversion of the whole text; only a refused one is looked at line by line.
    if (toCp932(text, out)) return true;
    std::string line;
    size_t n = FirstRefusedLine(text, toCp932, &line);
    *error = Located(file, n, UnconvertibleCharacter(line) + " has no code page 932 form");
    out->clear();
    return false;
  }
  // Not UTF-8: the text must be code page 932 already, and every byte pair one that code page
  // has a character for.
  size_t bad = FirstNonCp932(text);
  if (bad != std::string::npos) {
    *error = Located(file, LineOf(text, bad), kSaveAsUtf8);
    return false;
  }
  std::string check;
  auto fromCp932 = [](const std::string& in, std::string* converted) {
    return PlatCp932ToUtf8(in.data(), in.size(), converted);
  };
  if (!fromCp932(text, &check)) {
    std::string line;
    *error = Located(file, FirstRefusedLine(text, fromCp932, &line), kSaveAsUtf8);
    return false;
  }
  *out = text;
  return true;
}

bool NameToCp932(const std::string& name, std::string* out) {
  if (!IsUtf8(name)) {
    *out = name;
    return true;
  }
  return PlatUtf8ToCp932(name.data(), name.size(), out);
}
