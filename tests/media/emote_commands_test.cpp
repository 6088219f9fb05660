// The E-mote commands run from assembled scripts against the stand-in bridge.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/emote_player.h"
#include "tests/media/media_fixture.h"

namespace {

using EmoteCommand = EmoteScriptTest;

const char* const kLoad = "layer name=\"c\" file=\"chara.psb\" priority=1\n";

struct LogCase {
  const char* script;
  const char* prefix;     // the calls looked at
  const char* expected;   // ends every such call, in order, '|' between them
};

const LogCase kLogCases[] = {
    {"emote layer=\"c\" factor1=128", "SetFactor1", " 0.5"},
    {"emote layer=\"c\" factor2=512", "SetFactor2", " 1"},
    {"emote layer=\"c\" factor3=-5", "SetFactor3", " 0"},
    {"emote layer=\"c\" name=\"smile\" play=2", "SetTimelineBlend", " smile 0 0 0 0| smile 1 0 0 0"},
    {"emote layer=\"c\" name=\"smile\" play=2 blend=50 time=100", "SetTimelineBlend", " smile 0 6 0 0| smile 0.5 6 0 0"},
    {"emote layer=\"c\" name=\"walk\" play=1", "PlayTimeline", " walk 1"},
    {"emote layer=\"c\" name=\"walk\" play=7", "PlayTimeline", ""},
    {"emote layer=\"c\" name=\"walk\" stop=1", "StopTimeline", " walk"},
    {"emote layer=\"c\" name=\"smile\" stop=2 time=1000", "FadeOutTimeline", " smile 60 0"},
    {"emote layer=\"c\" trigger=1", "Trigger", ""},
    {"emote layer=\"c\" switch=5", "SetSwitch", " 1"},
    {"emote layer=\"c\" effect=1 effect1=3", "StartEffect", " 3 1 1 1 1"},
    {"emote layer=\"c\" effect=0", "StopEffect", ""},
    {"emote layer=\"c\" variables=\"x\x81\x92" "2000\x81\x92\"", "SetVariable", " x 2 0 0"},
    // A layer that does not exist makes the command do nothing.
    {"emote layer=\"nothere\" factor1=0", "SetFactor1", ""},
};

std::string Joined(const std::vector<std::string>& calls, const std::string& prefix) {
  std::string out;
  for (size_t i = 0; i < calls.size(); i++) {
    // Everything after the prefix and the player handle.
    size_t handle = calls[i].find(' ', prefix.size() + 1);
    out += (i ? "|" : "") + (handle == std::string::npos ? std::string() : calls[i].substr(handle));
  }
  return out;
}

TEST_F(EmoteCommand, CommandsReachTheLayersPlayer) {
  for (const LogCase& c : kLogCases) {
    SCOPED_TRACE(c.script);
    TearDown();
    SetUp();
    ASSERT_TRUE(RunScript(std::string(kLoad) + c.script));
    ASSERT_NE(Layer("c"), nullptr);
    ASSERT_NE(Layer("c")->mEmotePlayer, nullptr);
    std::vector<std::string> calls = Calls(c.prefix);
    if (!*c.expected && std::string(c.prefix) != "Trigger" && std::string(c.prefix) != "StopEffect") {
      EXPECT_TRUE(calls.empty());
      continue;
    }
    if (!*c.expected) EXPECT_EQ(calls.size(), 1u);
    else EXPECT_EQ(Joined(calls, c.prefix), c.expected);
  }
}

TEST_F(EmoteCommand, SwitchWithoutALayerReachesEveryPlayer) {
  ASSERT_TRUE(RunScript(std::string(kLoad) + "layer name=\"d\" file=\"chara.psb\" priority=2\n"
                        "layer name=\"plain\" file=\"\" priority=3\n"
                        "emote layer=\"plain\" enabled=0\nemote enabled=0"));
  EXPECT_EQ(Calls("SetEnabled").size(), 2u);
  EXPECT_EQ(Layer("c")->mEmoteEnabled, 0);
  EXPECT_EQ(Layer("d")->mEmoteEnabled, 0);
  EXPECT_EQ(Layer("plain")->mEmoteEnabled, 1);
}

TEST_F(EmoteCommand, ArraysSetAsManyVariablesAsBothHold) {
  ASSERT_TRUE(RunScript(
      "names[0] = \"a\"\nnames[1] = \"b\"\nnames[2] = \"c\"\nnames[3] = \"d\"\nnames[4] = \"e\"\n"
      "values[0] = 0.5\nvalues[3] = -2.0\n" +
      std::string(kLoad) + "emote layer=\"c\" names=names values=values count=10 time=50"));
  std::vector<std::string> calls = Calls("SetVariable");
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_NE(calls[0].find(" a 0.5 3 0"), std::string::npos) << calls[0];
  EXPECT_NE(calls[3].find(" d -2 3 0"), std::string::npos) << calls[3];
}

TEST_F(EmoteCommand, QueriesReadThePlayersState) {
  struct Case {
    const char* script;
    int64_t expected;
  };
  const Case cases[] = {
      {"emote layer=\"c\" name=\"walk\" play=1\nemotequery layer=\"c\" name=\"walk\" timeline=1 out=r", 1},
      {"emote layer=\"c\" name=\"walk\" play=1\nemotequery layer=\"c\" timeline=1 out=r", 1},
      {"emotequery layer=\"c\" timeline=1 out=r", 0},
      {"emote layer=\"c\" name=\"walk\" play=1\nemotequery layer=\"c\" name=\"walk\" track=1 out=r", 1},
      {"emote layer=\"c\" name=\"walk\" play=1\nemotequery layer=\"c\" track=1 out=r", 0},
      {"emotequery layer=\"c\" animating=1 out=r", 0},
      {"emotequery layer=\"nothere\" animating=1 out=r", -7},
      {"emotequery layer=\"c\" out=r", -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    TearDown();
    SetUp();
    ASSERT_TRUE(RunScript(std::string(kLoad) + c.script));
    EXPECT_EQ(Int("r"), c.expected);
  }
}

TEST_F(EmoteCommand, VariableQueryGivesTheList) {
  ASSERT_TRUE(RunScript(std::string(kLoad) +
                        "emote layer=\"c\" variables=\"x\x81\x92" "2000\x81\x92\"\n"
                        "emotequery layer=\"c\" variables=1 out=s"));
  EXPECT_EQ(Text("s"), "x\x81\x92" "2000\x81\x92");
}

TEST_F(EmoteCommand, FreeingTheLayerDeletesItsPlayer) {
  ASSERT_TRUE(RunScript(std::string(kLoad) + "emote layer=\"c\" name=\"walk\" play=1\nlayerdelete name=\"c\""));
  EXPECT_EQ(Calls("DeletePlayer").size(), 1u);
  for (LayerRecord* r : g_EmotePlayers) EXPECT_EQ(r, nullptr);
}

}  // namespace
