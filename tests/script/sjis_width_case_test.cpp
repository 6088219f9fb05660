// Code page 932 width and case conversion against iconv's CP932 and the wide-character case
// functions, over every single-byte and double-byte code.
#include <clocale>
#include <cstdint>
#include <cwctype>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "script/sjis_width_case.h"

namespace {

// One Unicode code point from UTF-8, or -1 when the text is not exactly one.
long SingleCodePoint(const std::string& s) {
  if (s.empty()) return -1;
  unsigned char c = (unsigned char)s[0];
  size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  if (s.size() != n) return -1;
  long cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t i = 1; i < n; i++) cp = cp << 6 | ((unsigned char)s[i] & 0x3F);
  return cp;
}

std::string Utf8(long cp) {
  std::string s;
  if (cp < 0x80) {
    s += (char)cp;
  } else if (cp < 0x800) {
    s += (char)(0xC0 | cp >> 6);
    s += (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += (char)(0xE0 | cp >> 12);
    s += (char)(0x80 | (cp >> 6 & 0x3F));
    s += (char)(0x80 | (cp & 0x3F));
  } else {
    s += (char)(0xF0 | cp >> 18);
    s += (char)(0x80 | (cp >> 12 & 0x3F));
    s += (char)(0x80 | (cp >> 6 & 0x3F));
    s += (char)(0x80 | (cp & 0x3F));
  }
  return s;
}

// The code page 932 code of a code point: one byte, two bytes (lead byte high), or -1.
long Cp932Of(long cp) {
  std::string out, in = Utf8(cp);
  if (!PlatUtf8ToCp932(in.data(), in.size(), &out) || out.empty() || out.size() > 2) return -1;
  return out.size() == 1 ? (unsigned char)out[0] : ((unsigned char)out[0] << 8 | (unsigned char)out[1]);
}

long CodePointOf(uint16_t code) {
  std::string out;
  char bytes[2] = {(char)(code >> 8), (char)code};
  bool ok = code < 0x100 ? PlatCp932ToUtf8(bytes + 1, 1, &out) : PlatCp932ToUtf8(bytes, 2, &out);
  return ok ? SingleCodePoint(out) : -1;
}

}  // namespace

TEST(Cp932Width, PrintableAsciiTakesItsFullWidthForm) {
  // Four characters keep the forms Japanese text has always given them instead of the
  // full-width block's own.
  struct Traditional {
    uint8_t byte;
    long codePoint;
  };
  const Traditional traditional[] = {{'"', 0x201D}, {'\'', 0x2019}, {'\\', 0xFFE5}, {'~', 0xFFE3}};
  for (int b = 0x20; b <= 0x7E; b++) {
    long expected = b == ' ' ? 0x3000 : 0xFF01 + (b - 0x21);
    for (const Traditional& t : traditional)
      if (t.byte == b) expected = t.codePoint;
    EXPECT_EQ(HalfToFullWidth((uint8_t)b), Cp932Of(expected)) << "byte " << b;
  }
  EXPECT_EQ(HalfToFullWidth(' '), 0x8140);
  EXPECT_EQ(HalfToFullWidth('A'), 0x8260);
  EXPECT_EQ(HalfToFullWidth('\\'), 0x818F);
  EXPECT_EQ(HalfToFullWidth('~'), 0x8150);
}

TEST(Cp932Width, HalfWidthKatakanaTakeFullWidthKatakanaAndOtherBytesNone) {
  for (int b = 0; b < 256; b++) {
    uint16_t full = HalfToFullWidth((uint8_t)b);
    if (b >= 0x20 && b <= 0x7E) continue;
    if (b < 0xA1 || b > 0xDF) {
      EXPECT_EQ(full, b) << "byte " << b;
      continue;
    }
    ASSERT_GE(full, 0x8140) << "byte " << b;
    long cp = CodePointOf(full);
    // Punctuation lands in the CJK symbols, the rest in the katakana block.
    EXPECT_TRUE((cp >= 0x3000 && cp <= 0x30FF)) << "byte " << b << " gave U+" << std::hex << cp;
  }
  EXPECT_EQ(HalfToFullWidth(0xB1), 0x8341);   // a
  EXPECT_EQ(HalfToFullWidth(0xA6), 0x8392);   // wo
  EXPECT_EQ(HalfToFullWidth(0xDE), 0x814A);   // voiced mark
}

TEST(Cp932Width, FullToHalfIsTheInverseAndLeavesOtherCharactersAlone) {
  for (int b = 0; b < 256; b++) {
    uint16_t full = HalfToFullWidth((uint8_t)b);
    if (full != b) {
      EXPECT_EQ(FullToHalfWidth(full), b) << "byte " << b;
    }
  }
  const uint16_t unchanged[] = {0x889F, 0x834B, 0x8394, 0x82A0, 0x8160, 0x815F, 0x41};
  for (uint16_t code : unchanged) EXPECT_EQ(FullToHalfWidth(code), code) << std::hex << code;
}

TEST(Cp932Case, EveryCodeAgreesWithTheWideCharacterCaseFunctions) {
  const char* previous = setlocale(LC_CTYPE, nullptr);
  std::string saved = previous ? previous : "C";
  ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  int changedUpper = 0, changedLower = 0;
  for (int code = 0; code < 0x10000; code++) {
    int lead = code >> 8, trail = code & 0xFF;
    if (code >= 0x100 && ((lead < 0x81 || (lead > 0x9F && lead < 0xE0) || lead > 0xFC) || trail < 0x40 ||
                          trail == 0x7F || trail > 0xFC))
      continue;
    long cp = CodePointOf((uint16_t)code);
    long upper = code, lower = code;
    if (cp >= 0) {
      long wu = (long)towupper((wint_t)cp), wl = (long)towlower((wint_t)cp);
      long u = wu != cp ? Cp932Of(wu) : code, l = wl != cp ? Cp932Of(wl) : code;
      // A case partner outside the code page, or a single byte for a double-byte letter,
      // leaves the character as it is.
      if (u >= 0 && (u >= 0x100) == (code >= 0x100)) upper = u;
      if (l >= 0 && (l >= 0x100) == (code >= 0x100)) lower = l;
    }
    // Single bytes change case only in ASCII.
    if (code >= 0x80 && code < 0x100) upper = lower = code;
    ASSERT_EQ(UpperCaseCp932((uint16_t)code), upper) << std::hex << code;
    ASSERT_EQ(LowerCaseCp932((uint16_t)code), lower) << std::hex << code;
    changedUpper += upper != code;
    changedLower += lower != code;
  }
  setlocale(LC_CTYPE, saved.c_str());
  // Latin, full-width Latin, Greek, Cyrillic and the roman numerals.
  EXPECT_EQ(changedUpper, 26 + 103);
  EXPECT_EQ(changedLower, 26 + 103);
}

TEST(Cp932Case, TextConversionStepsOverDoubleByteCharactersWhole) {
  struct Case {
    const char* in;
    const char* upper;
    const char* lower;
  };
  const Case cases[] = {
      {"abcXYZ", "ABCXYZ", "abcxyz"},
      // Full-width a (0x82 0x81): upper case gives full-width A (0x82 0x60).
      {"\x82\x81z", "\x82\x60Z", "\x82\x81z"},
      // A trail byte that looks like a letter is not changed: 0x83 0x61 is a katakana.
      {"\x83\x61q", "\x83\x61Q", "\x83\x61q"},
      // A lead byte without its trail byte stays.
      {"a\x82", "A\x82", "a\x82"},
  };
  for (const Case& c : cases) {
    std::string up = c.in, low = c.in;
    UpperCaseMultibyte(up.data());
    LowerCaseMultibyte(low.data());
    EXPECT_EQ(up, c.upper) << c.in;
    EXPECT_EQ(low, c.lower) << c.in;
  }
}
