// The compiled set: loaders, project settings, labels, linking, the command table and hostile
// files, each field out of range in turn.
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/window.h"
#include "files/files.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/vars.h"
#include "text/text.h"
#include "tests/support/script_fixture.h"
#include "tools/lib/binary_writer.h"
#include "tools/lib/command_defs.h"

namespace {

class SetTest : public ScriptTest {
 protected:
  // Rewrites one set file in the project folder.
  void Replace(const std::string& name, const std::string& bytes) {
    std::string path = name;
    for (char& c : path)
      if (c == '\\') c = '/';
    folder_.Write(path, bytes);
  }
  std::string& File(const std::string& name) { return set_.files[name]; }
  static void Put32(std::string* bytes, size_t at, uint32_t v) {
    for (int k = 0; k < 4; k++) (*bytes)[at + k] = (char)(v >> (8 * k));
  }
};

const char* const kSmallProject = R"(
global int x = 1
global str s[2] = "a"
file main.txt
*SYSTEM_START
x += 1
wait frames=1
*OTHER
jump SYSTEM_START
)";

TEST_F(SetTest, BootStartsTheSystemTaskAtItsLabel) {
  ASSERT_TRUE(Boot(kSmallProject));
  ScriptTask* task = SystemTask();
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->mCommandIndex, 0);
  EXPECT_GT(task->mCommandCount, 0);
  RunPasses(1);
  EXPECT_EQ(Int("x"), 2);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(g_ScriptFileCount, 1);
  EXPECT_STREQ(g_ScriptFileNames[0], "main.txt");
}

TEST_F(SetTest, CommandTableRoundTripsThroughTheLoader) {
  ASSERT_TRUE(Boot(kSmallProject));
  const std::vector<CommandSpec>& specs = CommandSpecs();
  ASSERT_EQ(specs.size(), (size_t)COMMAND_COUNT);
  EXPECT_EQ(g_CommandDefCount, COMMAND_COUNT);
  for (int c = 0; c < COMMAND_COUNT; c++) {
    ASSERT_LE(specs[c].params.size(), (size_t)MAX_COMMAND_PARAMS) << specs[c].name;
    EXPECT_EQ(specs[c].name, g_CommandDefs[c].mName) << c;
    ASSERT_EQ(specs[c].params.size(), g_CommandDefs[c].mParamCount) << c;
    for (size_t p = 0; p < specs[c].params.size(); p++) {
      EXPECT_EQ(specs[c].params[p].name, g_CommandDefs[c].mParamNames[p]) << c;
      EXPECT_EQ(specs[c].params[p].valueType, g_CommandDefs[c].mValueTypes[p]) << c;
      EXPECT_EQ(specs[c].params[p].checkKind, g_CommandDefs[c].mCheckKinds[p]) << c;
    }
  }
  // The flow commands read parameters by fixed ids.
  EXPECT_EQ(specs[35].params.size(), 49u);
  EXPECT_EQ(specs[68].params.size(), 48u);
  EXPECT_EQ(specs[105].params.size(), 23u);
  EXPECT_EQ(FindParamId(105, "text"), 22);
  // The options command declares parameter ids up to 111, as the compiler does.
  EXPECT_EQ(g_CommandDefs[15].mParamCount, 112);
  // The set carries the C runtime's texts of error numbers 0-36.
  EXPECT_STREQ(g_RuntimeErrorTexts[0], "No error");
  EXPECT_STREQ(g_RuntimeErrorTexts[13], "Permission denied");
  EXPECT_STREQ(g_RuntimeErrorTexts[16], "Resource device");
  EXPECT_STREQ(g_RuntimeErrorTexts[36], "Resource deadlock avoided");
}

TEST_F(SetTest, FindLabelMatchesHashAndName) {
  ASSERT_TRUE(Boot(kSmallProject));
  EXPECT_GE(FindLabel("SYSTEM_START", 12), 0);
  EXPECT_GE(FindLabel("OTHER", 5), 0);
  EXPECT_EQ(FindLabel("OTHE", 4), -1);
  EXPECT_EQ(FindLabel("other", 5), -1);
  // Two labels of one hash: the name decides.
  g_Labels.mRecords[0].mHash = g_Labels.mRecords[1].mHash;
  uint32_t top = g_Labels.mRecords[0].mHash >> 24;
  g_Labels.mFirstIndex[top] = 0;
  const char* second = g_Labels.mRecords[1].mName;
  EXPECT_EQ(FindLabel(second, strlen(second)), 1);
}

TEST_F(SetTest, ProjectSettingsFillTheMainWindowAndFlags) {
  ASSERT_EQ(CreateWindowRecords(), 0);
  struct Case {
    int32_t width, height;
    std::string title;
    int32_t gameThread;
    int expected;   // 0 loaded, 1 refused
    int message;
  } cases[] = {
      {800, 600, "Game", 0, 0, 0},        {0, 0, "", 1, 0, 0},           {0, 600, "x", 0, 1, 901020},
      {127, 600, "x", 0, 1, 901020},      {800, 15, "x", 0, 1, 901020},  {8193, 600, "x", 0, 1, 901020},
      {800, 600, "x", 2, 1, 901020},      {800, 600, std::string(129, 't'), 0, 1, 901000},
      {800, 600, std::string(128, 't'), 0, 0, 0},
  };
  g_DesktopSize = {1920, 1080, 32, 60};
  for (const Case& c : cases) {
    ClearMessage();
    BinaryWriter w;
    w.Bytes(std::string(16, '\0'));
    w.U32((uint32_t)c.width);
    w.U32((uint32_t)c.height);
    w.U32(0x101);   // only the low byte is kept
    w.Bytes(std::string("\x02\x01\x03\x04\x05\x00\x00\x00", 8));
    w.Bytes(std::string("\x02\x01\x00\x00", 4));
    w.U32((uint32_t)c.gameThread);
    w.U32(1);   // development mode
    w.U32(0);
    w.U32(0);
    w.U32(1);
    w.U32(0);
    w.U32(1);
    w.U32(0);
    w.U32(0);
    w.U16((uint16_t)c.title.size());
    w.Bytes(c.title);
    std::string message = std::string("message ") + std::to_string(c.message) + " \"E" + std::to_string(c.message) + "\"";
    g_MessageTable.count = 2;
    g_MessageTable.ids[0] = 901020;
    g_MessageTable.texts[0] = "E901020";
    g_MessageTable.ids[1] = 901000;
    g_MessageTable.texts[1] = "E901000";
    int result = ParseProjectSettings(reinterpret_cast<const uint8_t*>(w.Data().data()), w.Size());
    EXPECT_EQ(result, c.expected) << c.width << "x" << c.height;
    EXPECT_EQ(ShownMessage(), c.message) << c.width << "x" << c.height;
    if (result != 0) continue;
    WindowRecord* main = g_WindowRecords[0];
    EXPECT_EQ(main->mWidth, c.width ? c.width : 1920);
    EXPECT_EQ(main->mHeight, c.height ? c.height : 1080);
    EXPECT_EQ(main->mVisible, 1);
    EXPECT_STREQ(main->mTitle, c.title.empty() ? " " : c.title.c_str());
    EXPECT_EQ(g_GameThreadMode, c.gameThread);
    EXPECT_EQ(g_DebugMode, 1);
    EXPECT_EQ(g_ImageExtensionOrder[0], 2);
    EXPECT_EQ(g_SoundExtensionOrder[0], 2);
    EXPECT_EQ(g_SourceOrderFlags[0], 1);
  }
  g_MessageTable.count = 0;
  g_GameThreadMode = 0;
  g_DebugMode = 0;
}

// Each case breaks one field of one set file; booting must refuse with the named message and
// never read outside the file.
TEST_F(SetTest, HostileSetFilesAreRefused) {
  struct Case {
    const char* what;
    const char* file;
    std::function<void(std::string*)> damage;
    int message;
  };
  const Case cases[] = {
      {"version", "kvbin\\kvt.kbn", [](std::string* b) { Put32(b, 4, 479); }, 105000},
      {"negative variable count", "kvbin\\kvt.kbn", [](std::string* b) { Put32(b, 8, 0xFFFFFFFF); }, 105010},
      {"huge variable count", "kvbin\\kvt.kbn", [](std::string* b) { Put32(b, 8, 0x7FFFFFFF); }, 105010},
      {"short variable table", "kvbin\\kvt.kbn", [](std::string* b) { b->resize(9); }, 105010},
      {"file number", "kvbin\\kvt_list.kbn", [](std::string* b) { Put32(b, 12, 5); }, 901030},
      {"name length", "kvbin\\kvt_list.kbn", [](std::string* b) { Put32(b, 16, 0x7FFFFFF0); }, 105010},
      {"file count", "kvbin\\kvt_list.kbn", [](std::string* b) { Put32(b, 8, 0x7FFFFFFF); }, 105010},
      {"short command table", "kvbin\\kvc.kbn", [](std::string* b) { b->resize(40); }, 105010},
      {"value type", "kvbin\\kvc.kbn", [](std::string* b) { (*b)[16 + 10 + 1 + 6 + 1 + 5] = 3; }, 105010},
      {"check kind", "kvbin\\kvc.kbn", [](std::string* b) { (*b)[16 + 10 + 1 + 6 + 1 + 6] = 29; }, 105010},
      {"parameter count", "kvbin\\kvc.kbn", [](std::string* b) { (*b)[16 + 10] = (char)101; }, 105010},
      {"message count", "kvbin\\kve.kbn", [](std::string* b) { Put32(b, 8, 100000); }, 105010},
      {"label count", "kvbin\\kvl.kbn", [](std::string* b) { Put32(b, 8, 0x10000000); }, 105010},
      {"short labels", "kvbin\\kvl.kbn", [](std::string* b) { b->resize(b->size() - 3); }, 105010},
      {"dimension count", "kvbin\\kvv.kbn", [](std::string* b) { (*b)[10 + 6] = 9; }, 105010},
      {"variable type", "kvbin\\kvv.kbn", [](std::string* b) { (*b)[10 + 5] = 4; }, 105010},
      {"definition beyond the table", "kvbin\\kvv.kbn", [](std::string* b) { (*b)[10 + 4] = (char)0x7F; }, 900070},
      {"no start label", "kvbin\\kvl.kbn", [](std::string* b) { b->resize(8 + 4 + 1024); Put32(b, 8, 0); }, 108180},
  };
  for (const Case& c : cases) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Write(kSmallProject));
    std::string bytes = File(c.file);
    c.damage(&bytes);
    Replace(c.file, bytes);
    // The message table itself may be the broken file; its own ids then show the unknown-id
    // text, so the message table is swapped for a sound one in that case.
    EXPECT_NE(BootScripts(), 0) << c.what;
    EXPECT_EQ(g_QuitFlag, 1) << c.what;
    if (strcmp(c.file, "kvbin\\kve.kbn") != 0) {
      EXPECT_EQ(ShownMessage(), c.message) << c.what << ": " << LastErrorDialogText();
    }
  }
}

// A project without its start label and without message texts is told which label is missing.
TEST_F(SetTest, AMissingStartLabelIsNamedWithoutAMessageTable) {
  ASSERT_TRUE(Write("file main.txt\n*OTHER\nwait frames=1\n"));
  BinaryWriter empty;
  empty.Bytes(std::string(16, '\0'));
  Replace("kvbin\\kve.kbn", empty.Data());
  EXPECT_NE(BootScripts(), 0);
  EXPECT_EQ(g_QuitFlag, 1);
  std::string shown;
  ASSERT_TRUE(PlatCp932ToUtf8(LastErrorDialogText(), strlen(LastErrorDialogText()), &shown));
  EXPECT_EQ(shown, "ラベル[SYSTEM_START]が\n見つかりません。");
}

TEST_F(SetTest, AMissingSetFileNamesItself) {
  ASSERT_TRUE(Write(kSmallProject));
  PlatDeleteFile(folder_.path() + "/kvbin/kvl.kbn");
  EXPECT_NE(BootScripts(), 0);
  EXPECT_NE(std::string(LastErrorDialogText()).find("kvbin\\kvl.kbn"), std::string::npos);
  EXPECT_EQ(g_QuitFlag, 1);
}

// Each case breaks one field of the compiled script; the file must be refused at link time
// (and never run), or the command must stop with a message when it runs.
TEST_F(SetTest, HostileScriptFilesNeverRunOutsideTheirSegments) {
  struct Case {
    const char* what;
    std::function<void(ScriptImage*)> damage;
    int message;
  };
  const Case cases[] = {
      {"command code", [](ScriptImage* s) { s->commands[0].code = 110; }, 105010},
      {"argument count past the records", [](ScriptImage* s) { s->commands.back().argCount = 50; }, 105010},
      {"too many arguments", [](ScriptImage* s) { s->commands[0].argCount = 100; }, 105010},
      {"parameter id", [](ScriptImage* s) { s->arguments[0].paramId = 2; }, 105010},
      {"expression offset", [](ScriptImage* s) { s->arguments[1].offset = 0xFFFFFFF0; }, 900060},
      {"expression length", [](ScriptImage* s) { s->arguments[1].length = 0xFFFFFF; }, 900060},
      {"evaluator kind", [](ScriptImage* s) { s->arguments[1].kind = 7; }, 900060},
      {"jump label index", [](ScriptImage* s) {
         s->commands[0].code = 34;
         s->commands[0].argCount = 1;
         s->commands[1].argCount += 1;
         s->arguments[0].length = 0x1FFFFFFF;
       }, 108180},
      {"block end position", [](ScriptImage* s) {
         // An if whose condition is false and whose end lies far past the file.
         s->commands[1] = {36, 3, 0, 1};
         s->arguments.resize(2);
         s->arguments.push_back({0, 1, 0, 0, 0});
         s->arguments.push_back({1, 1, 0, 0, 0});
         s->arguments.push_back({2, 1, 0, 9999, 0});
       }, 900080},
      {"runs off the end", [](ScriptImage* s) { s->commands.resize(1); }, 900080},
  };
  for (const Case& c : cases) {
    ClearMessage();
    ResetScriptSet();
    // Command 0 assigns (two records), command 1 waits (one record).
    ASSERT_TRUE(Write("global int x = 0\nfile main.txt\n*SYSTEM_START\nx = 5\nwait frames=1\n"));
    ScriptImage image = set_.scripts[0];
    c.damage(&image);
    Replace("kvbin\\kvt00000.kbn", EncodeScriptFile(image));
    if (BootScripts() == 0) RunPasses(2);
    EXPECT_EQ(g_QuitFlag, 1) << c.what;
    EXPECT_EQ(ShownMessage(), c.message) << c.what << ": " << LastErrorDialogText();
  }
}

// A compiler writes the message end's two marks into the first two words of its one record;
// they are not an argument, so neither a "parameter id" beyond the command's nor any byte of
// them is refused or lost.
TEST_F(SetTest, MessageEndKeepsBothMarksWordForWord) {
  if (!g_Message) CreateMessageRecord();
  const uint32_t marks[][2] = {{5, 6}, {0x01020300, 0xFFFFFFFF}, {0xFFFFFFFF, 0}};
  for (const auto& m : marks) {
    SCOPED_TRACE(m[0]);
    ClearMessage();
    ResetScriptSet();
    // The message end of the project before left the task waiting for its message.
    if (ScriptTask* task = SystemTask()) task->mWaitingForMessage = 0;
    ASSERT_TRUE(Boot("file main.txt\n*SYSTEM_START\nmessageend " + std::to_string(m[0]) + ", " +
                     std::to_string(m[1]) + "\nwait frames=1\n"));
    ASSERT_EQ(set_.scripts[0].commands.at(0).code, 70);
    ASSERT_EQ(set_.scripts[0].commands.at(0).argCount, 1);
    ASSERT_EQ(g_ScriptFiles[0]->mLinked, 1);
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), 0);
    ScriptTask* task = SystemTask();
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->mMessageMark1, m[0]);
    EXPECT_EQ(task->mMessageMark2, m[1]);
  }
  // Another command's record that names a parameter the command does not declare is still
  // refused, and a message end whose records run past the file too.
  const std::function<void(ScriptImage*)> damages[] = {
      [](ScriptImage* s) { s->arguments[0].paramId = 2; },
      [](ScriptImage* s) { s->commands[2].argCount = 9; },
  };
  for (const auto& damage : damages) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Write("global int x = 0\nfile main.txt\n*SYSTEM_START\nx = 5\nwait frames=1\nmessageend 1, 2\n"));
    ScriptImage image = set_.scripts[0];
    damage(&image);
    Replace("kvbin\\kvt00000.kbn", EncodeScriptFile(image));
    EXPECT_NE(BootScripts(), 0);
    EXPECT_EQ(ShownMessage(), 105010);
  }
}

TEST_F(SetTest, ATruncatedScriptFileIsNeverRun) {
  ASSERT_TRUE(Write(kSmallProject));
  std::string bytes = File("kvbin\\kvt00000.kbn");
  for (size_t cut : {(size_t)0, (size_t)20, bytes.size() - 1}) {
    ClearMessage();
    ResetScriptSet();
    Replace("kvbin\\kvt00000.kbn", bytes.substr(0, cut));
    EXPECT_NE(BootScripts(), 0) << cut;
    ASSERT_NE(g_ScriptFiles, nullptr);
    ASSERT_NE(g_ScriptFiles[0], nullptr);
    EXPECT_EQ(g_ScriptFiles[0]->mLinked, 0) << cut;
    EXPECT_EQ(g_ScriptFiles[0]->mCommandCount, 0) << cut;
    EXPECT_EQ(LoadScriptFile(0), 1);
  }
}

TEST_F(SetTest, CallLabelsAreResolvedToSixteenBitsAndLabelZeroStaysByName) {
  ASSERT_TRUE(Boot(R"(
global int n = 0
file main.txt
*SYSTEM_START
call SUB
call SYSTEM_START_AGAIN
wait frames=1
*SUB
n += 1
return
*SYSTEM_START_AGAIN
n += 10
return
)"));
  const ScriptFileRecord* file = g_ScriptFiles[0];
  int sub = FindLabel("SUB", 3);
  for (int i = 0; i < file->mCommandCount; i++) {
    if (file->mCommandCodes[i] != 35) continue;
    const CommandArgument& a = file->mArgRecords[i][0];
    int stored = a.mKind | a.mOperator << 8;
    const char* name = i == 0 ? "SUB" : "SYSTEM_START_AGAIN";
    int index = FindLabel(name, strlen(name));
    EXPECT_EQ(stored, index == 0 ? 0 : index) << name;
  }
  EXPECT_GE(sub, 0);
  RunPasses(1);
  EXPECT_EQ(Int("n"), 11);
}

}  // namespace
