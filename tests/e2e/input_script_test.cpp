// The headless backend's timed input scripts: what each line becomes, which lines are refused,
// and that events wait for their time on the clock.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "tests/support/engine_fixture.h"

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
