// The script tests' shared set-up.
#include "tests/support/script_fixture.h"

#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "files/files.h"
#include "script/eval.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/vars.h"

const char* const kStandardMessages =
    "message 101000 \"E101000 %s %s %lld %d %d\"\n"
    "message 101010 \"E101010 %s %s %lld %d\"\n"
    "message 101020 \"E101020 %s %s %lld\"\n"
    "message 101030 \"E101030 %s %s %lld\"\n"
    "message 101100 \"E101100 %d\"\n"
    "message 101110 \"E101110\"\n"
    "message 101140 \"E101140\"\n"
    "message 101210 \"E101210 %s %s %lld %d\"\n"
    "message 101220 \"E101220 %s %s %lld\"\n"
    "message 101300 \"E101300 %s %s %s\"\n"
    "message 101600 \"E101600 %s %s %d\"\n"
    "message 105000 \"E105000\"\n"
    "message 105010 \"E105010 %s\"\n"
    "message 107010 \"E107010\"\n"
    "message 108010 \"E108010\"\n"
    "message 108120 \"E108120\"\n"
    "message 108180 \"E108180 %s\"\n"
    "message 108210 \"E108210\"\n"
    "message 160010 \"E160010\"\n"
    "message 160020 \"E160020\"\n"
    "message 900030 \"E900030\"\n"
    "message 900050 \"E900050\"\n"
    "message 900060 \"E900060\"\n"
    "message 900070 \"E900070\"\n"
    "message 900080 \"E900080\"\n"
    "message 901000 \"E901000\"\n"
    "message 901020 \"E901020\"\n"
    "message 901030 \"E901030\"\n";

bool ResetScriptEngine(const std::string& folder) {
  g_ExeFolderReal = folder;
  g_ProjectFolderReal = folder;
  ComputeScriptKey(g_ScriptKey);
  // A whole start earlier in the same program may have left its packs behind.
  FreePackIndex();
  g_PackedRelease = 0;
  g_SourceOrderFlags[0] = 1;
  InitEvaluatorTables();
  InitAssignOperatorTable();
  InitOpcodeTable(1);
  ResetScriptSet();
  if (g_TaskRoot) FreeTaskTree(g_TaskRoot);
  g_TaskRoot = nullptr;
  if (CreateTaskTreeRoot() != 0) return false;
  g_ScriptPassCounter = 0;
  g_KeepRunningInactive = 1;
  g_InactivePause = 0;
  g_DebugMode = 0;
  g_DeclarationMode = 0;
  return true;
}

void ReleaseScriptEngine() {
  ResetScriptSet();
  FreeAllTasks();
  g_ExeFolderReal.clear();
  g_ProjectFolderReal.clear();
}

void ScriptTest::SetUp() {
  HeadlessTest::SetUp();
  ASSERT_TRUE(ResetScriptEngine(folder_.path()));
}

void ScriptTest::TearDown() {
  ReleaseScriptEngine();
  HeadlessTest::TearDown();
}

bool ScriptTest::Write(const std::string& listing) {
  set_ = AssembledSet{};
  if (!AssembleListing(std::string(kStandardMessages) + listing, &set_)) {
    ADD_FAILURE() << set_.error;
    return false;
  }
  return WriteLooseSet(folder_.path(), set_);
}

bool ScriptTest::Boot(const std::string& listing) {
  if (!Write(listing)) return false;
  // Cases that boot several projects in one test start each from a fresh main task.
  if (ScriptTask* task = SystemTask()) {
    task->mWaitFrames = 0;
    task->mWaitUntil = 0;
    task->mCallDepth = 0;
    task->mPassStamp = 0;
  }
  return BootScripts() == 0;
}

void ScriptTest::RunPasses(int passes) {
  for (int k = 0; k < passes && !g_QuitFlag; k++) {
    g_ScriptPassCounter++;
    RunScriptTasks();
  }
}

int ScriptTest::Var(const std::string& name) {
  auto it = set_.variables.find(name);
  EXPECT_NE(it, set_.variables.end()) << name;
  return it == set_.variables.end() ? -1 : it->second;
}

int64_t ScriptTest::Int(const std::string& name, int32_t element) { return ReadIntElement(Var(name), element); }
double ScriptTest::Real(const std::string& name, int32_t element) { return ReadRealElement(Var(name), element); }
std::string ScriptTest::Text(const std::string& name, int32_t element) {
  const char* s = ReadStringElement(Var(name), element);
  return s ? s : "<null>";
}

int ScriptTest::ShownMessage() {
  // The text follows the location prefix's last blank line, or stands alone.
  std::string text = LastErrorDialogText();
  for (size_t i = 0; i + 1 < text.size(); i++)
    if ((i == 0 || text[i - 1] == '\n') && text[i] == 'E' && text[i + 1] >= '1' && text[i + 1] <= '9')
      return atoi(text.c_str() + i + 1);
  return 0;
}

ScriptTask* ScriptTest::SystemTask() {
  NameNode* node = FindNodeByPath(g_TaskRoot, "SYSTEM", NAME_LOOKUP_LEAF);
  return node ? static_cast<ScriptTask*>(node->mPayload) : nullptr;
}

void ScriptTest::ClearMessage() {
  ResetMessageState();
  g_QuitFlag = 0;
}
