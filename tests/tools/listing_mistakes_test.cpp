// Mistakes and hostile input in a listing, as kvasm reports them: "FILE:LINE: what is wrong",
// status 1 and nothing written; and the encodings a listing may come in.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tests/tools/tools_fixture.h"
#include "tools/lib/message_table.h"

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int k = 0; k < n; k++) out += s;
  return out;
}

const std::string kStart = "file start.txt\n*SYSTEM_START\n";

struct Mistake {
  const char* what;
  std::string listing;
  std::string says;   // what follows "kvasm: game.txt:"
};

TEST(KvasmMistakes, EachIsToldWithItsLineAndNothingIsWritten) {
  const Mistake cases[] = {
      {"a file line without a name", "config width=160 height=48\nfile \n*SYSTEM_START\n", "2: file needs a name"},
      {"a config key without its value", "config width=\n", "1: config width needs a number or a text"},
      {"a config key that does not exist", "config widht=320\n", "1: config has no key widht"},
      {"an undeclared variable", kStart + "end\nnn = 5\n", "4: unknown variable nn"},
      {"an undeclared array element", kStart + "grid[1] += 2\n", "3: unknown variable grid"},
      {"an unclosed if, told where it opened", kStart + "if 1\n  wait frames=1\nwait frames=2\nend\n",
       "3: this if is not closed (endif missing)"},
      {"an unclosed loop inside a closed if", kStart + "if 1\n  loop 2\n  wait frames=1\nendif\nend\n",
       "4: this loop is not closed (endloop missing)"},
      {"an unclosed loop in an earlier file",
       kStart + "loop 2\nwait frames=1\nfile second.txt\n*OTHER\nend\n", "3: this loop is not closed"},
      {"the number given on both sides of the sizes", "global int x@50[17]@51\n",
       "1: the variable's number is given twice"},
      {"'@' without its number", "global int x[3]@\n", "1: '@' needs a variable number from 0 to 65535"},
      {"a variable number out of range", "global int x@70000\n", "1: '@' needs a variable number from 0 to 65535"},
      {"array sizes that never close", "global int grid[3, 4\n", "1: expected ',' or ']' after an array size"},
      {"an array size that is no number", "global int grid[x]\n", "1: array sizes must be numbers"},
      {"'$' without a number", kStart + "$ = 1\n", "3: '$' needs a variable number from 0 to 65535"},
      {"a number with two points", "global real r = 1.2.3\n", "1: bad number 1.2.3"},
      {"a real beyond an integer's range", "global int x = 1" + std::string(70, '0') + ".5\n",
       "1: the value is out of an integer's range"},
      {"10,000 nested parentheses",
       "global int x\n" + kStart + "x = " + Repeat("(", 10000) + "1" + Repeat(")", 10000) + "\n",
       "4: expression nested more than 200 deep"},
      {"10,000 unary minus signs", "global int x\n" + kStart + "x = " + Repeat("-", 10000) + "1\n",
       "4: expression nested more than 200 deep"},
      {"a text value longer than a text holds", "global str s\n" + kStart + "s = \"" + std::string(5000, 'a') + "\"\n",
       "4: a text value longer than 4095 bytes"},
      {"a label name longer than 255 bytes", kStart + "*" + std::string(300, 'L') + "\n",
       "3: a label name longer than 255 bytes"},
      {"17 integers in a call", kStart + "call SUB " + Repeat("1, ", 16) + "1\n*SUB\nreturn\n",
       "3: more than 16 values of one type"},
      {"blocks nested deeper than a label records", kStart + Repeat("if 1\n", 300) + Repeat("endif\n", 300),
       "258: blocks and loops nested more than 255 deep"},
      {"a command before any file", "wait frames=1\n", "1: no file started"},
      {"a message id that is not a number", "message abc \"x\"\n", "1: expected message ID \"text\""},
      // The runtime's own texts fill the table first; the listing's new ids take what is left.
      {"more message texts than the table holds",
       [] {
         std::string s;
         for (int k = 0; k < 256; k++) s += "message " + std::to_string(700000 + k) + " \"x\"\n";
         return s;
       }(),
       std::to_string(256 - StandardMessageTable().size() + 1) + ": the message table holds at most 256 texts"},
  };
  TempFolder folder;
  for (const Mistake& c : cases) {
    folder.Write("game.txt", c.listing);
    Result r = Shell(folder.path(), kTools + "kvasm game.txt out");
    EXPECT_EQ(r.status, 1) << c.what << ": " << r.output;
    EXPECT_NE(r.output.find("kvasm: game.txt:" + c.says), std::string::npos) << c.what << ": " << r.output;
    EXPECT_FALSE(PlatFolderExists(folder.path() + "/out")) << c.what;
  }
}

// Listings in encodings other than the two a listing may be in: refused at the first line that
// is neither, or converted when the encoding says what it is.
TEST(KvasmMistakes, AListingInAnotherEncodingIsRefusedAtItsFirstBadLine) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string says;
  };
  const Case cases[] = {
      // "café" in Latin-1: é (0xE9) followed by a quote is no code page 932 pair.
      {"Latin-1", "config width=160 height=48\n" + kStart + "text \"caf\xE9\"\n",
       "4: the listing is neither UTF-8 nor code page 932; save it as UTF-8"},
      {"Latin-1 at the end of a line", kStart + "# na\xEF\x76\xE9\n", "3: the listing is neither"},
      {"UTF-16 without its byte-order mark", std::string("f\0i\0l\0e\0", 8) + "\n", "1: a NUL byte"},
      {"UTF-16 cut in a surrogate pair", std::string("\xFF\xFE", 2) + std::string("a\0\n\0\x3D\xD8", 6),
       "2: broken UTF-16"},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    folder.Write("game.txt", c.bytes);
    Result r = Shell(folder.path(), kTools + "kvasm game.txt out");
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.output.find("kvasm: game.txt:" + c.says), std::string::npos) << c.what << ": " << r.output;
    EXPECT_FALSE(PlatFolderExists(folder.path() + "/out")) << c.what;
  }
}

std::string Utf16(const std::string& utf8, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (size_t k = 0; k < utf8.size();) {
    uint8_t b = (uint8_t)utf8[k];
    uint32_t c;
    size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
    for (size_t j = 1; j < n; j++) c = c << 6 | ((uint8_t)utf8[k + j] & 0x3F);
    k += n;
    uint16_t unit = (uint16_t)c;   // the listing below stays in the basic plane
    out += bigEndian ? std::string{(char)(unit >> 8), (char)unit} : std::string{(char)unit, (char)(unit >> 8)};
  }
  return out;
}

TEST(KvasmMistakes, AUtf16ListingWithItsMarkIsAssembledLikeItsUtf8Twin) {
  const std::string listing = "config width=160 height=48 title=\"猫\"\n" + kStart + "text \"吾輩は猫である。\"\nend\n";
  TempFolder folder;
  folder.Write("utf8.txt", listing);
  folder.Write("le.txt", Utf16(listing, false));
  folder.Write("be.txt", Utf16(listing, true));
  for (const char* name : {"utf8", "le", "be"}) {
    Result r = Shell(folder.path(), kTools + "kvasm " + name + ".txt out_" + name);
    ASSERT_EQ(r.status, 0) << name << ": " << r.output;
  }
  for (const char* file : {"kvt00000.kbn", "kvcfg.kbn"}) {
    std::string reference = ReadFile(folder.path() + "/out_utf8/kvbin/" + file);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(ReadFile(folder.path() + "/out_le/kvbin/" + file), reference) << file;
    EXPECT_EQ(ReadFile(folder.path() + "/out_be/kvbin/" + file), reference) << file;
  }
}

// Big listings are assembled or refused, never a crash: 10 MB of lines, a line of 4 MB, and a
// block nested as deep as a label can record.
TEST(KvasmMistakes, HugeListingsAreAssembledOrRefused) {
  struct Case {
    const char* what;
    std::string listing;
    int status;
  };
  std::string manyLines = "global int n = 0\n" + kStart;
  while (manyLines.size() < 10u * 1024 * 1024) manyLines += "n += 1 # counting the lines of a long listing\n";
  manyLines += "end\n";
  const Case cases[] = {
      {"10 MB of lines", manyLines, 0},
      {"a comment line of 4 MB", kStart + "# " + std::string(4u << 20, 'c') + "\nend\n", 0},
      {"a text line of 4 MB", kStart + "text \"" + std::string(4u << 20, 't') + "\"\n", 1},
      {"an expression of 200,000 terms", "global int n\n" + kStart + "n = 1" + Repeat(" + 1", 200000) + "\n", 0},
      {"blocks 255 deep", kStart + Repeat("if 1\n", 255) + Repeat("endif\n", 255) + "end\n", 0},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    folder.Write("game.txt", c.listing);
    Result r = Shell(folder.path(), kTools + "kvasm game.txt out");
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.output.substr(0, 300);
    if (c.status == 1) {
      EXPECT_NE(r.output.find("kvasm: game.txt:3: "), std::string::npos) << c.what;
    }
    Shell(folder.path(), "rm -rf out");
  }
}

}  // namespace
