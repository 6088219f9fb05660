// The headless backend's timed input scripts: what each line becomes, which lines are refused,
// and that events wait for their time on the clock.
#include <png.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"
#include "tools/lib/title_images.h"

namespace {

class InputScriptTest : public HeadlessTest {};

TEST_F(InputScriptTest, EachLineBecomesItsEvents) {
  std::vector<HeadlessTimedEvent> script;
  std::string error;
  ASSERT_TRUE(HeadlessParseInputScript("# a comment\n"
                                       "\n"
                                       "10 click 1 30 -4   # trailing comment\n"
                                       "10 key 0 13\n"
                                       "250 close 2\n"
                                       "900 quit\n"
                                       "950 keydown 0 162\n"
                                       "990 keyup 0 162\n",
                                       &script, &error))
      << error;
  ASSERT_EQ(script.size(), 6u);
  struct Expected {
    uint32_t at;
    std::vector<PlatEventType> types;
    int window, x, y, key;
  } expected[] = {
      {10, {PLAT_EVENT_MOUSE_MOVE, PLAT_EVENT_MOUSE_DOWN, PLAT_EVENT_MOUSE_UP}, 1, 30, -4, 0},
      {10, {PLAT_EVENT_KEY_DOWN, PLAT_EVENT_KEY_UP}, 0, 0, 0, 13},
      {250, {PLAT_EVENT_CLOSE}, 2, 0, 0, 0},
      {900, {PLAT_EVENT_QUIT}, -1, 0, 0, 0},
      {950, {PLAT_EVENT_KEY_DOWN}, 0, 0, 0, 162},
      {990, {PLAT_EVENT_KEY_UP}, 0, 0, 0, 162},
  };
  for (size_t i = 0; i < script.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(script[i].at, expected[i].at);
    ASSERT_EQ(script[i].events.size(), expected[i].types.size());
    for (size_t k = 0; k < script[i].events.size(); k++) {
      const PlatEventRecord& e = script[i].events[k];
      EXPECT_EQ(e.type, expected[i].types[k]);
      EXPECT_EQ(e.window, expected[i].window);
      EXPECT_EQ(e.x, expected[i].x);
      EXPECT_EQ(e.y, expected[i].y);
      EXPECT_EQ(e.key, expected[i].key);
    }
  }
  EXPECT_EQ(script[0].events[1].button, 0);   // the left button
}

TEST_F(InputScriptTest, AnswerAndShotLinesKeepTheirText) {
  std::vector<HeadlessTimedEvent> script;
  std::string error;
  ASSERT_TRUE(HeadlessParseInputScript("5 text 山田 #1 of 2 \r\n"
                                       "6 text\n"
                                       "7 button 3   # the third\n"
                                       "8 shot 2 out/title screen.png  # a comment\n",
                                       &script, &error))
      << error;
  ASSERT_EQ(script.size(), 4u);
  EXPECT_EQ(script[0].kind, HeadlessTimedEvent::TEXT_ANSWER);
  EXPECT_EQ(script[0].text, "山田 #1 of 2 ");   // typed text runs to the end of its line
  EXPECT_EQ(script[1].kind, HeadlessTimedEvent::TEXT_ANSWER);
  EXPECT_EQ(script[1].text, "");
  EXPECT_EQ(script[2].kind, HeadlessTimedEvent::BUTTON_ANSWER);
  EXPECT_EQ(script[2].number, 2);                 // counted from 1 in the script
  EXPECT_EQ(script[3].kind, HeadlessTimedEvent::SHOT);
  EXPECT_EQ(script[3].number, 2);
  EXPECT_EQ(script[3].text, "out/title screen.png");
  for (const HeadlessTimedEvent& t : script) EXPECT_TRUE(t.events.empty());
}

// A box waits for its answer line; a line that came before any box answers the next one.
TEST_F(InputScriptTest, BoxesTakeTheirAnswersInOrderAndWaitForThem) {
  std::vector<HeadlessTimedEvent> script;
  std::string error;
  ASSERT_TRUE(HeadlessParseInputScript("100 text early\n"
                                       "500 button 2\n"
                                       "600 click 0 1 1\n"
                                       "900 text late\n",
                                       &script, &error))
      << error;
  HeadlessSetInputScript(script);
  PlatEventRecord e;
  HeadlessSetTicks(200);
  EXPECT_FALSE(g_Platform->PollEvent(&e));   // the early text is queued, not an event
  const char* labels[] = {"Yes", "No", "Cancel"};
  EXPECT_EQ(g_Platform->ChoiceBox("c", "t", labels, 3, 0, 2, PLAT_ICON_NONE), 1);
  EXPECT_EQ(PlatGetTicks(), 500u);
  std::string typed;
  ASSERT_TRUE(g_Platform->TextInputBox("c", "p", "def", 0, &typed));
  EXPECT_EQ(typed, "early");
  EXPECT_EQ(PlatGetTicks(), 500u);
  ASSERT_TRUE(g_Platform->TextInputBox("c", "p", "def", 0, &typed));
  EXPECT_EQ(typed, "late");
  EXPECT_EQ(PlatGetTicks(), 900u);
  // The click the player gave while the box was up comes out after it.
  ASSERT_TRUE(g_Platform->PollEvent(&e));
  EXPECT_EQ(e.type, PLAT_EVENT_MOUSE_MOVE);
  // No line left: the box takes its default.
  ASSERT_TRUE(g_Platform->TextInputBox("c", "p", "def", 0, &typed));
  EXPECT_EQ(typed, "def");
  EXPECT_EQ(g_Platform->ChoiceBox("c", "t", labels, 3, 0, 2, PLAT_ICON_NONE), 0);
}

TEST_F(InputScriptTest, BadLinesAreRefusedWithTheirNumber) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"click 0 1 1\n", "line 1: a time"},
      {"-5 quit\n", "line 1: a time"},
      {"10 quit\n5 quit\n", "line 2: times must not go backwards"},
      {"10 click 4 1 1\n", "line 1: click takes"},
      {"10 click 0 1\n", "line 1: click takes"},
      {"10 key 0 256\n", "line 1: a key event takes"},
      {"10 keydown 0\n", "line 1: a key event takes"},
      {"10 close\n", "line 1: close takes"},
      {"10 jump\n", "line 1: the event is one of"},
      {"10 quit now\n", "line 1: unexpected text"},
      {"99999999999 quit\n", "line 1: a time"},
      {"10 button 0\n", "line 1: button takes"},
      {"10 button 5\n", "line 1: button takes"},
      {"10 button\n", "line 1: button takes"},
      {"10 shot 0\n", "line 1: shot takes"},
      {"10 shot 4 a.png\n", "line 1: shot takes"},
      {"10 shot 0   # only a comment\n", "line 1: shot takes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<HeadlessTimedEvent> script;
    std::string error;
    EXPECT_FALSE(HeadlessParseInputScript(c.text, &script, &error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
}

TEST_F(InputScriptTest, EventsComeOutOnlyOnceTheClockReachesTheirTime) {
  std::vector<HeadlessTimedEvent> script;
  std::string error;
  ASSERT_TRUE(HeadlessParseInputScript("100 key 0 65\n100 quit\n300 close 0\n", &script, &error)) << error;
  HeadlessSetInputScript(script);
  PlatEventRecord e;
  HeadlessSetTicks(99);
  EXPECT_FALSE(g_Platform->PollEvent(&e));
  HeadlessSetTicks(150);
  std::vector<PlatEventType> seen;
  while (g_Platform->PollEvent(&e)) seen.push_back(e.type);
  // The release waits for a later drain, or the game's snapshot would never see the key down;
  // the lines after it wait behind it.
  EXPECT_EQ(seen, (std::vector<PlatEventType>{PLAT_EVENT_KEY_DOWN}));
  seen.clear();
  HeadlessSetTicks(151);
  while (g_Platform->PollEvent(&e)) seen.push_back(e.type);
  EXPECT_EQ(seen, (std::vector<PlatEventType>{PLAT_EVENT_KEY_UP, PLAT_EVENT_QUIT}));
  HeadlessSetTicks(300);
  ASSERT_TRUE(g_Platform->PollEvent(&e));
  EXPECT_EQ(e.type, PLAT_EVENT_CLOSE);
  EXPECT_FALSE(g_Platform->PollEvent(&e));
}

}  // namespace

namespace {

void ShotPixel(int x, int y, uint8_t bgr[3]) {
  bgr[0] = (uint8_t)(x * 3);
  bgr[1] = (uint8_t)(y * 2);
  bgr[2] = (uint8_t)(x ^ y);
}

// A game that asks a yes/no question and a name, writes both answers to its log, and shows one
// picture while it waits.
const char kAskingGame[] =
    "config width=160 height=120 title=\"Ask\" show=1\n"
    "global str name = \"\"\nglobal str note = \"\"\nglobal int r = 0\n"
    "file start.txt\n*SYSTEM_START\n"
    "layer name=\"bg\" file=\"bg.bmp\" priority=1 visible=1\n"
    "wait frames=2\n"
    "messagebox caption=\"Q\" text=\"Go on?\" yesno=1 result=r\n"
    "if r == 2\nnote = \"answered no\"\nelse\nnote = \"answered yes\"\nendif\n"
    "enginecall code=51 text=note\n"
    "messagebox caption=\"Name\" text=\"Who?\" default=\"Anon\" dialog=1 maxlength=20 input=name\n"
    "enginecall code=51 text=name\n"
    "wait frames=100000\n";

// The picture of a PNG file as B, G, R rows, read by libpng itself.
std::vector<uint8_t> ReadPngBgr(const std::string& path, int* width, int* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_BGR;
  std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
  *width = (int)image.width;
  *height = (int)image.height;
  return out;
}

}  // namespace

// What an author's CI does: a whole game run from a script of input that answers its boxes and
// writes its screen, the script and the picture named relative to where the run was started.
TEST_F(EndToEndTest, AScriptedRunAnswersBoxesAndWritesScreenshots) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(kAskingGame, &set)) << set.error;
  ASSERT_TRUE(WritePackedSet(game_.path(), set));
  game_.Write("bg.bmp", MakeBmp24(160, 120, ShotPixel));
  TempFolder work;
  std::string rel = std::filesystem::relative(work.path(), PlatStartFolder()).string();
  ASSERT_FALSE(rel.empty());
  ASSERT_NE(rel[0], '/');
  work.Write("input.txt",
             "1000 button 2\n"
             "1500 text 山田 太郎\n"
             "3000 shot 0 " + rel + "/shots/title screen.png\n"
             "3100 quit\n");
  work.Write("shots/.keep", "");
  setenv("KIVOR_INPUT_SCRIPT", (rel + "/input.txt").c_str(), 1);
  int status = Run();
  unsetenv("KIVOR_INPUT_SCRIPT");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(LogLines("answered"), std::vector<std::string>{"answered no"});
  std::string name;
  ASSERT_TRUE(PlatUtf8ToCp932("山田 太郎", strlen("山田 太郎"), &name));
  EXPECT_EQ(LogLines(name), std::vector<std::string>{name});
  int w = 0, h = 0;
  std::vector<uint8_t> shot = ReadPngBgr(work.path() + "/shots/title screen.png", &w, &h);
  ASSERT_EQ(w, 160);
  ASSERT_EQ(h, 120);
  for (int y = 0; y < 120; y++)
    for (int x = 0; x < 160; x++) {
      uint8_t expected[3];
      ShotPixel(x, y, expected);
      ASSERT_EQ(memcmp(&shot[((size_t)y * 160 + x) * 3], expected, 3), 0) << x << "," << y;
    }
}

TEST_F(EndToEndTest, AnInputScriptThatCannotBeReadEndsTheRunWithTheReason) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(kAskingGame, &set)) << set.error;
  ASSERT_TRUE(WritePackedSet(game_.path(), set));
  game_.Write("bg.bmp", MakeBmp24(160, 120, ShotPixel));
  setenv("KIVOR_INPUT_SCRIPT", "no/such/input.txt", 1);
  testing::internal::CaptureStderr();
  int status = Run();
  std::string err = testing::internal::GetCapturedStderr();
  unsetenv("KIVOR_INPUT_SCRIPT");
  EXPECT_EQ(status, HEADLESS_BAD_SCRIPT_STATUS);
  EXPECT_NE(err.find(PlatStartFolder() + "/no/such/input.txt: cannot read it"), std::string::npos) << err;
}
