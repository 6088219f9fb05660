// The variable utility and information commands through assembled scripts: conversions, text
// pieces by characters, case and width, array resize, insert and delete, and variable facts.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "script/vars.h"
#include "tests/script/script_fixture.h"

namespace {

const char* const kMessages =
    "message 101450 \"E101450 %s %s\"\n"
    "message 108200 \"E108200\"\n"
    "message 108220 \"E108220\"\n"
    "message 120010 \"E120010\"\n"
    "message 120020 \"E120020\"\n"
    "message 120110 \"E120110\"\n"
    "message 120120 \"E120120\"\n";

const char* const kVariables =
    "global int n = 0\n"
    "global real r = 0\n"
    "global str s = \"\"\n"
    "global str t = \"\"\n"
    "global int arr[3] = 0\n"
    "global real reals[2] = 0\n"
    "global str texts[3] = \"\"\n"
    "global int grid[2,2] = 0\n";

class VarUtilityTest : public ScriptTest {
 protected:
  // Boots a project whose main task runs `commands` once; the variables above exist.
  bool BootWith(const std::string& commands) {
    return Boot(std::string(kMessages) + kVariables + "file main.txt\n*SYSTEM_START\n" + commands +
                "\nwait frames=1000\n");
  }
  void SetText(const char* name, const std::string& text) {
    StoreStringElementN(Var(name), 0, text.data(), text.size());
  }
  void SetInts(const char* name, std::initializer_list<int64_t> values) {
    int e = 0;
    for (int64_t v : values) StoreIntElement(Var(name), e++, v);
  }
};

TEST_F(VarUtilityTest, ConversionBetweenNumberAndText) {
  struct Case {
    const char* command;   // converts from its 'a' into its 'b'
    const char* source;    // text put into s first (when the command reads s)
    int64_t intValue;      // the value in n before the command, or what n must hold after
    const char* text;      // what t must hold after (text results)
    int message;
  };
  const Case cases[] = {
      {"varutil a=n b=t convert=1", "", -5, "-5", 0},
      {"varutil a=s b=n convert=1", "0xff", 255, nullptr, 0},
      {"varutil a=s b=n convert=1", "12.5", 12, nullptr, 0},
      {"varutil a=s b=n convert=1", "", 0, nullptr, 0},
      {"varutil a=s b=n convert=1", "1-2", 1, nullptr, 0},
      {"varutil a=s b=n convert=1", "-9223372036854775808", INT64_MIN, nullptr, 0},
      {"varutil a=s b=n convert=1", "1a", 0, nullptr, 108210},
      {"varutil a=s b=n convert=1", "0XFF", 0, nullptr, 108210},
      {"varutil a=n b=r convert=1", "", 0, nullptr, 108200},
      {"varutil a=s b=t convert=1", "", 0, nullptr, 108200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " / " + c.source);
    ClearMessage();
    g_QuitFlag = 0;
    ASSERT_TRUE(BootWith(c.command));
    SetText("s", c.source);
    if (c.text) SetInts("n", {c.intValue});
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), c.message);
    if (c.message != 0) continue;
    if (c.text) EXPECT_EQ(Text("t"), c.text);
    else EXPECT_EQ(Int("n"), c.intValue);
  }
  ClearMessage();
  g_QuitFlag = 0;
  ASSERT_TRUE(BootWith("r = 1.5\nvarutil a=r b=t convert=1"));
  RunPasses(1);
  EXPECT_EQ(Text("t"), "1.500000");
}

TEST_F(VarUtilityTest, TakeAndRemoveCountCharactersNotBytes) {
  // Three double-byte characters: full-width A, B, C.
  const std::string wide = "\x82\x60\x82\x61\x82\x62";
  struct Case {
    const char* command;
    std::string source;
    std::string expected;   // of t, or of s when the command has no b
    int message;
  };
  const Case cases[] = {
      {"varutil a=s b=t take=1 start=2 count=3", "abcde", "bcd", 0},
      {"varutil a=s b=t take=1 start=0 count=2", "abcde", "ab", 0},
      {"varutil a=s b=t take=1 start=1 count=2", "abcde", "ab", 0},
      {"varutil a=s b=t take=1 start=5 count=1", "abcde", "e", 0},
      {"varutil a=s b=t take=1 start=2 count=0", "abcde", "", 0},
      {"varutil a=s b=t take=1 start=6 count=1", "abcde", "", 120010},
      {"varutil a=s b=t take=1 start=5 count=2", "abcde", "", 120020},
      {"varutil a=s b=t take=1 start=2 count=1", wide, "\x82\x61", 0},
      // A lead byte as the text's last byte is taken without reading past the end.
      {"varutil a=s b=t take=1 start=2 count=1", "a\x82", "\x82", 0},
      {"varutil a=s b=t remove=1 start=2 count=3", "abcde", "ae", 0},
      {"varutil a=s b=t remove=1 start=2 count=0", "abcde", "abcde", 0},
      {"varutil a=s remove=1 start=2 count=1", wide, "\x82\x60\x82\x62", 0},
      {"varutil a=s b=t remove=1 start=9 count=1", "abc", "", 120110},
      {"varutil a=s b=t remove=1 start=3 count=2", "abc", "", 120120},
      {"varutil a=n b=t take=1 start=1 count=1", "", "", 108220},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ClearMessage();
    g_QuitFlag = 0;
    ASSERT_TRUE(BootWith(c.command));
    SetText("s", c.source);
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), c.message);
    if (c.message != 0) continue;
    bool toB = strstr(c.command, "b=t") != nullptr;
    EXPECT_EQ(Text(toB ? "t" : "s"), c.expected);
  }
}

TEST_F(VarUtilityTest, WidthAndCaseConversions) {
  struct Case {
    const char* command;
    std::string source;
    std::string expected;   // of t
  };
  const Case cases[] = {
      {"varutil a=s b=t wide=1", "A1", "\x82\x60\x82\x50"},
      {"varutil a=s b=t wide=1", "\xB1 ", "\x83\x41\x81\x40"},
      {"varutil a=s b=t wide=1", "\x88\x9F", "\x88\x9F"},
      {"varutil a=s b=t narrow=1", "\x82\x60\x82\x50\x83\x41", "A1\xB1"},
      {"varutil a=s b=t narrow=1", "\x88\x9F\x83\x4B", "\x88\x9F\x83\x4B"},
      {"varutil a=s b=t wide=1", "", ""},
      {"varutil a=s b=t upper=1", "ab\x82\x81", "AB\x82\x81"},
      {"varutil a=s b=t mbupper=1", "ab\x82\x81", "AB\x82\x60"},
      {"varutil a=s b=t lower=1", "AB\x82\x60", "ab\x82\x60"},
      {"varutil a=s b=t mblower=1", "AB\x82\x60\x83\x9F", "ab\x82\x81\x83\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ClearMessage();
    g_QuitFlag = 0;
    ASSERT_TRUE(BootWith(c.command));
    SetText("s", c.source);
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), 0);
    EXPECT_EQ(Text("t"), c.expected);
  }
  // A text of 4000 characters doubles past the size of one text value and is kept whole.
  ClearMessage();
  ASSERT_TRUE(BootWith("varutil a=s b=t wide=1"));
  SetText("s", std::string(4000, 'a'));
  RunPasses(1);
  std::string wide = Text("t");
  ASSERT_EQ(wide.size(), 8000u);
  EXPECT_EQ(wide.substr(7998), "\x82\x81");
}

TEST_F(VarUtilityTest, ArrayResizeInsertAndDelete) {
  struct Case {
    const char* command;
    int64_t expected[3];
    int64_t size;
    bool box;
  };
  const Case cases[] = {
      {"varutil a=arr insert=1", {1, 0, 2}, 3, false},
      {"varutil a=arr insert=2", {1, 2, 0}, 3, false},
      {"varutil a=arr insert=5", {1, 2, 0}, 3, false},
      {"varutil a=arr insert=-1", {1, 2, 3}, 3, false},
      {"varutil a=arr delete=0", {2, 3, 0}, 3, false},
      {"varutil a=arr delete=2", {1, 2, 0}, 3, false},
      {"varutil a=arr delete=5", {1, 2, 3}, 3, false},
      {"varutil a=arr size=10", {1, 2, 3}, 10, false},
      {"varutil a=arr size+=2", {1, 2, 3}, 5, false},
      {"varutil a=arr size-=3", {1, 2, 3}, 3, true},
      {"varutil a=grid size=10", {1, 2, 3}, 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ClearMessage();
    g_QuitFlag = 0;
    HeadlessClearCalls();
    ASSERT_TRUE(BootWith(c.command));
    SetInts("arr", {1, 2, 3});
    RunPasses(1);
    const VarRecord* arr = GetVariable(Var("arr"));
    EXPECT_EQ(arr->mCount, c.size);
    for (int k = 0; k < 3; k++) EXPECT_EQ(Int("arr", k), c.expected[k]) << k;
    bool boxShown = false;
    for (const std::string& call : HeadlessCalls()) boxShown |= call.rfind("ChoiceBox", 0) == 0;
    EXPECT_EQ(boxShown, c.box);
  }
  // A size past the variable limit is refused before anything is allocated.
  ClearMessage();
  g_QuitFlag = 0;
  ASSERT_TRUE(BootWith("varutil a=arr size=0x7FFFFFFFFFFF"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 101100);
  EXPECT_EQ(GetVariable(Var("arr"))->mCount, 3);
}

TEST_F(VarUtilityTest, TextArraysShiftTheirTexts) {
  ASSERT_TRUE(BootWith("varutil a=texts insert=0\nvarutil a=texts delete=2"));
  StoreStringElement(Var("texts"), 0, "x");
  StoreStringElement(Var("texts"), 1, "y");
  StoreStringElement(Var("texts"), 2, "z");
  RunPasses(1);
  EXPECT_EQ(Text("texts", 0), "");
  EXPECT_EQ(Text("texts", 1), "x");
  EXPECT_EQ(Text("texts", 2), "");
}

TEST_F(VarUtilityTest, InformationAboutAVariable) {
  struct Case {
    const char* command;
    int64_t expected;
    int message;
  };
  const Case cases[] = {
      {"varinfo a=r d=n type=1", 2, 0},
      {"varinfo a=n d=n dims=1", 0, 0},
      {"varinfo a=n d=n dim1=1", 0, 0},
      {"varinfo a=grid d=n dims=1", 2, 0},
      {"varinfo a=grid d=n dim2=1", 2, 0},
      {"varinfo a=s d=n length=1", 3, 0},
      {"varinfo a=s d=n charwidth=1", 2, 0},
      {"varinfo a=t d=n charwidth=1", 0, 101450},
      {"varinfo a=n d=n length=1", 0, 108220},
      {"varinfo a=arr d=n search=1 findint=7", 1, 0},
      {"varinfo a=arr d=n search=1 findint=7 from=2", 2, 0},
      {"varinfo a=arr d=n search=1 findint=7 from=3", -1, 0},
      {"varinfo a=arr d=n search=1 findint=7 from=-4", 1, 0},
      {"varinfo a=arr d=n search=1 findint=8", -1, 0},
      {"varinfo a=reals d=n search=1 findreal=2", 1, 0},
      {"varinfo a=texts d=n search=1 findtext=\"b\"", 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ClearMessage();
    g_QuitFlag = 0;
    ASSERT_TRUE(BootWith(c.command));
    SetText("s", "\x82\x60" "b" "c");
    SetInts("arr", {3, 7, 7});
    StoreRealElement(Var("reals"), 0, 0.5);
    StoreRealElement(Var("reals"), 1, 2.0);
    StoreStringElement(Var("texts"), 1, "B");
    StoreStringElement(Var("texts"), 2, "b");
    SetInts("n", {99});
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), c.message);
    if (c.message == 0) EXPECT_EQ(Int("n"), c.expected);
  }
}

}  // namespace
