// The Shift-JIS helpers against iconv's CP932 and the cases that trip byte-wise code.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"

TEST(LeadByteTable, AgreesWithCp932OverEveryByte) {
  // A byte leads a character when iconv reads it with some trail byte as one character but
  // refuses it alone. Rows that CP932 leaves wholly unassigned are refused either way; the
  // table still marks them, as Windows does, so every character keeps its length.
  const std::string unassignedRows = "\x85\x86\xEB\xEC\xEF";
  for (int b = 0; b < 256; b++) {
    std::string out;
    char one[1] = {(char)b};
    bool alone = PlatCp932ToUtf8(one, 1, &out);
    bool asPair = false;
    for (int t = 0x40; t <= 0xFC && !asPair; t++) {
      char two[2] = {(char)b, (char)t};
      asPair = PlatCp932ToUtf8(two, 2, &out);
    }
    if (unassignedRows.find((char)b) != std::string::npos) {
      EXPECT_EQ(g_LeadByteTable[b], 1) << "byte " << b;
      continue;
    }
    EXPECT_EQ(g_LeadByteTable[b], (asPair && !alone) ? 1 : 0) << "byte " << b;
  }
}

TEST(ToLowerAscii, LowersAsciiAndKeepsTrailBytes) {
  // 0x83 0x41 is a katakana whose trail byte is 'A'.
  char text[] = "ABC\x83\x41Z";
  ToLowerAscii(text);
  EXPECT_STREQ(text, "abc\x83\x41z");
  char lone[] = "X\x83";
  ToLowerAscii(lone);
  EXPECT_STREQ(lone, "x\x83");
}

TEST(EndsWithNoCase, Cases) {
  struct Case {
    const char* text;
    const char* suffix;
    bool expected;
  } cases[] = {
      {"TITLE.PNG", ".png", true}, {"title.png", ".PNG", true}, {"g", ".png", false},
      {"a.jpg", ".png", false},    {"", "", true},
  };
  for (const Case& c : cases) EXPECT_EQ(EndsWithNoCase(c.text, c.suffix), c.expected) << c.text;
}

TEST(GetFileNamePart, Cases) {
  struct Case {
    const char* path;
    int result;
    const char* name;
  } cases[] = {
      {"bg\\title.png", 1, "title.png"},
      {"a/b/c.ogg", 1, "c.ogg"},
      {"plain.txt", 0, ""},
      {"folder\\", 0, ""},
      {"", 0, ""},
      // 0x95 0x5C is one character whose trail byte is a backslash.
      {"\x95\x5C.txt", 0, ""},
      {"d\\\x95\x5C.txt", 1, "\x95\x5C.txt"},
  };
  for (const Case& c : cases) {
    char out[64] = "junk";
    EXPECT_EQ(GetFileNamePart(out, sizeof out, c.path), c.result) << c.path;
    EXPECT_STREQ(out, c.name) << c.path;
  }
}

TEST(CopyTextBounded, CutsOnACharacterBoundary) {
  char out[4];
  CopyTextBounded(out, sizeof out, "ab\x83\x41");
  EXPECT_STREQ(out, "ab");
  CopyTextBounded(out, sizeof out, "abcdef");
  EXPECT_STREQ(out, "abc");
}
