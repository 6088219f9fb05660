// System variables against what the headless platform and the engine state were fed: time,
// memory, desktop, cursors per window, key counters, window events, dropped files, call
// values; and the assignments scripts may make (the key rule, window events, folders).
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/input.h"
#include "app/window.h"
#include "platform/headless/headless.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/vars.h"
#include "tests/script/script_fixture.h"
#include "text/text.h"

namespace {

// Every system variable the tests read, at its fixed number.
const char* const kSystemVariables =
    "message 101150 \"E101150\"\n"
    "message 107010 \"E107010\"\n"
    "global int now@0[17]\n"
    "global int ticks@1[6]\n"
    "global int memtotal@5\n"
    "global int memload@6\n"
    "global int memfree@7\n"
    "global int os@2\n"
    "global real pi@10\n"
    "global str args@12[9]\n"
    "global int argcount@13\n"
    "global str dropped@14[4]\n"
    "global int dropcount@15\n"
    "global int loopcounter@48\n"
    "global int intargs@50[17]\n"
    "global real realargs@51[17]\n"
    "global str textargs@52[17]\n"
    "global int argcounts@53[17]\n"
    "global int intreturns@54[17]\n"
    "global int returncounts@57[17]\n"
    "global int taskints@58[17]\n"
    "global str taskname@115\n"
    "global int toptasks@116\n"
    "global int frames@99\n"
    "global int desktop@104[1]\n"
    "global int desktopwidth@105\n"
    "global int desktopheight@106\n"
    "global int maximized@107\n"
    "global int menucommand@122\n"
    "global int mainx@123\n"
    "global int win3x@126\n"
    "global int mainy@128\n"
    "global int win4y@132\n"
    "global int keyhold@134[1024]\n"
    "global int lastkey@135\n"
    "global int mapped0@137\n"
    "global int mapped5@142\n"
    "global int axis1@267[20]\n"
    "global int buttons@270[600]\n"
    "global int press0@271\n"
    "global int axispress0@400[20]\n"
    "global int buttonpress@404[600]\n"
    "global int keymap0@405\n"
    "global int axisslot1@534[20]\n"
    "global int buttonslot@537[600]\n"
    "global str byte@117[256]\n"
    "global str layerfolder@118\n"
    "global str taskfolder@120\n"
    "global str exefolder@93\n";

class SysVarsTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    ASSERT_EQ(CreateWindowRecords(), 0);
    ResetInputState();
    FreeDroppedFiles();
  }
  void TearDown() override {
    FreeDroppedFiles();
    ResetInputState();
    ScriptTest::TearDown();
  }
  bool BootWith(const std::string& listing) { return Boot(std::string(kSystemVariables) + listing); }
  void Drop(std::initializer_list<const char*> paths) {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    FreeDroppedFiles();
    g_DroppedFiles.mPaths = static_cast<char (*)[DROPPED_PATH_BYTES]>(calloc(paths.size(), DROPPED_PATH_BYTES));
    uint32_t n = 0;
    for (const char* p : paths) strcpy(g_DroppedFiles.mPaths[n++], p);
    g_DroppedFiles.mCount = g_DroppedFiles.mStored = n;
  }
};

TEST_F(SysVarsTest, IntegerReadsMatchWhatTheHostAndEngineWereFed) {
  ASSERT_TRUE(BootWith("file main.txt\n*SYSTEM_START\nwait frames=1000\n"));
  PlatLocalTime t{2025, 7, 3, 16, 21, 5, 9, 250};   // Thursday 16 July 2025, 21:05:09.250
  HeadlessSetLocalTime(&t);
  PlatMemoryStatus m{1000, 250};
  HeadlessSetMemoryStatus(&m);
  HeadlessSetDesktopMode(2560, 1440, 24, 75);
  HeadlessSetTicks(123456);
  g_StartLocalTime = LocalTime{2020, 1, 0, 5, 1, 2, 3, 4};   // Sunday 5 January 2020
  g_ScriptTimers[2] = 123000;
  g_FrameCounter = 77;
  g_WindowRecords[0]->mCursorX = 11;
  g_WindowRecords[0]->mCursorY = 22;
  g_WindowRecords[2]->mCursorX = 33;
  g_WindowRecords[3]->mCursorY = 44;
  g_MaximizeClicked = 2;
  g_MenuCommand = -70000000000;
  g_LastKeyDown = 0x41;
  g_KeyMap[0] = 1;
  g_KeyMap[5] = 32;
  g_KeyState.mHoldFrames[1] = 3;
  g_KeyState.mHoldFrames[32] = -8;
  g_KeyState.mPressCount[1] = 12;
  g_KeyState.mHoldFrames[420 + 1] = 5;    // joystick 1, down axis
  g_KeyState.mPressCount[420 + 1] = 6;
  g_KeyState.mHoldFrames[425] = 9;        // joystick 1, button 2
  g_KeyState.mPressCount[425] = 10;
  g_KeyState.mHoldFrames[1000] = 4;
  struct Case {
    const char* name;
    int32_t element;
    int64_t expected;
  };
  const Case cases[] = {
      {"now", 0, 2025}, {"now", 1, 7}, {"now", 2, 16}, {"now", 3, 3}, {"now", 4, 21}, {"now", 6, 9}, {"now", 7, 250},
      {"now", 8, 2020}, {"now", 10, 5}, {"now", 11, 0}, {"now", 15, 4}, {"now", 16, 0},
      {"ticks", 0, 123456}, {"ticks", 3, 456}, {"ticks", 5, 0},
      {"memtotal", 0, 1000}, {"memfree", 0, 250}, {"memload", 0, 75},
      {"desktop", 0, 24}, {"desktopwidth", 0, 2560}, {"desktopheight", 0, 1440},
      {"frames", 0, 77}, {"maximized", 0, 2}, {"menucommand", 0, -70000000000}, {"lastkey", 0, 0x41},
      {"mainx", 0, 11}, {"mainy", 0, 22}, {"win3x", 0, 33}, {"win4y", 0, 44},
      {"keyhold", 1, 3}, {"keyhold", 0, 0}, {"keyhold", 1000, 4},
      {"mapped0", 0, 3}, {"mapped5", 0, -8}, {"press0", 0, 12}, {"keymap0", 0, 1},
      {"axis1", 1, 5}, {"axispress0", 1, 0}, {"buttons", 33, 9}, {"buttonpress", 33, 10}, {"buttons", 34, 0},
      // Joystick numbers past the sixteenth name no slot.
      {"axis1", 16, 0}, {"buttons", 16 * 32, 0}, {"axisslot1", 16, 0}, {"buttonslot", 16 * 32, 0},
      {"axisslot1", 1, 420 + 1}, {"buttonslot", 33, 425}, {"buttonslot", 0, 388},
      {"toptasks", 0, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(Int(c.name, c.element), c.expected) << c.name << "[" << c.element << "]";
  EXPECT_DOUBLE_EQ(Real("pi"), 3.141592653589793);
  EXPECT_EQ(Text("byte", 65), "A");
  EXPECT_EQ(Text("byte", 0), "");
  EXPECT_EQ(ShownMessage(), 0);
}

TEST_F(SysVarsTest, DroppedFilesReadInsideTheListOnly) {
  ASSERT_TRUE(BootWith("file main.txt\n*SYSTEM_START\nwait frames=1000\n"));
  Drop({"c:\\a.png", "c:\\folder\\"});
  EXPECT_EQ(Int("dropcount"), 2);
  EXPECT_EQ(Text("dropped", 1), "c:\\folder\\");
  EXPECT_EQ(ShownMessage(), 0);
  Text("dropped", 2);
  EXPECT_EQ(ShownMessage(), 107010);
}

TEST_F(SysVarsTest, AssignmentsFollowTheKeyRuleAndTheWritableList) {
  ASSERT_TRUE(BootWith(R"(
global int n = 0
file main.txt
*SYSTEM_START
mapped0 = 5
mapped5 = -5
keyhold[2] = 7
keyhold[3] = -7
keyhold[0] = -9
press0 = 5
buttons[33] = 4
buttons[16 * 32] = 4
axispress0[1] = 8
dropcount = 99
maximized = 0x1FF
layerfolder = "W0/menu"
wait frames=1000
)"));
  g_KeyMap[0] = 10;                  // up
  g_KeyMap[5] = 11;                  // up
  g_KeyState.mKeyEdge[2] = 2;        // down
  g_KeyState.mKeyEdge[3] = 2;        // down
  g_KeyState.mKeyEdge[425] = 2;      // joystick 1, button 1 down
  g_KeyState.mHoldFrames[10] = -3;
  g_KeyState.mHoldFrames[11] = -3;
  Drop({"x", "y"});
  g_DroppedFiles.mCount = 1;
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(g_KeyState.mHoldFrames[10], 0);    // an up key takes no press
  EXPECT_EQ(g_KeyState.mHoldFrames[11], -5);
  EXPECT_EQ(g_KeyState.mHoldFrames[2], 7);
  EXPECT_EQ(g_KeyState.mHoldFrames[3], 0);     // a down key takes no release
  EXPECT_EQ(g_KeyState.mHoldFrames[0], 0);     // key 0 is not written
  EXPECT_EQ(g_KeyState.mPressCount[10], 5);    // press counters are stored as given
  EXPECT_EQ(g_KeyState.mHoldFrames[425], 4);
  EXPECT_EQ(g_KeyState.mPressCount[420], 8);
  EXPECT_EQ(g_DroppedFiles.mCount, 2u);        // never past the stored list
  EXPECT_EQ(g_MaximizeClicked, 0xFF);
  EXPECT_STREQ(g_LayerFolder, "W0/menu");

  struct Refused {
    const char* assignment;
    int message;
  };
  const Refused refused[] = {{"os = 1", 101150}, {"argcount = 1", 101150}, {"taskfolder = \"x\"", 101150},
                             {"pi = 2", 0}, {"byte[3] = \"x\"", 101150}};
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.assignment);
    ClearMessage();
    ASSERT_TRUE(BootWith(std::string("file main.txt\n*SYSTEM_START\n") + r.assignment + "\nwait frames=1000\n"));
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), r.message);
  }
}

TEST_F(SysVarsTest, CallValuesLoopCounterAndTaskFacts) {
  ASSERT_TRUE(BootWith(R"(
global int seen[8] = 0
global real realseen = 0
global str textseen = ""
global str nameseen = ""
file main.txt
*SYSTEM_START
seen[0] = argcounts[0]
call SUB 7, 2.5, "txt"
seen[4] = returncounts[0]
seen[5] = intreturns[1]
loop 3
  seen[6] = loopcounter
endloop
nameseen = taskname
wait frames=1000
*SUB
seen[1] = intargs[1]
seen[2] = argcounts[0]
seen[3] = argcounts[3] + argcounts[4]
realseen = realargs[2]
textseen = textargs[3]
return 9, 4
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  const int64_t expected[] = {0, 7, 3, 1, 2, 9, 3};
  for (int k = 0; k < 7; k++) EXPECT_EQ(Int("seen", k), expected[k]) << k;
  EXPECT_DOUBLE_EQ(Real("realseen"), 2.5);
  EXPECT_EQ(Text("textseen"), "txt");
  EXPECT_EQ(Text("nameseen"), "SYSTEM");
}

TEST_F(SysVarsTest, MessageTextAndCodesAreCopiedIntoTheRecordWithinItsLimits) {
  if (!g_Message) CreateMessageRecord();
  ASSERT_NE(g_Message, nullptr);
  ASSERT_TRUE(BootWith(R"(
global str msgtext@112
global str msgcodes@113
global str copy = ""
file main.txt
*SYSTEM_START
msgtext = "hello"
msgcodes = "11111"
copy = msgtext
wait frames=1000
)"));
  g_Message->mTextPos = 100;
  g_Message->mCurrentEntry = 100;
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_STREQ(g_Message->mText, "hello");
  EXPECT_EQ(g_Message->mTextLength, 5);
  EXPECT_EQ(g_Message->mEntryCount, 5);
  // Output positions past the new end are brought back to it.
  EXPECT_EQ(g_Message->mTextPos, 5);
  EXPECT_EQ(g_Message->mCurrentEntry, 5);
  EXPECT_EQ(Text("copy"), "hello");
  g_Message->mText[0] = 0;
  g_Message->mCode[0] = 0;
  g_Message->mTextLength = g_Message->mEntryCount = g_Message->mTextPos = g_Message->mCurrentEntry = 0;
}

}  // namespace
