// The loaders of the compiled script set (message texts, command table, variable table size,
// script list, variable definitions, labels, project settings), the label lookup and the boot.
#include "script/script_set.h"

#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "files/files.h"
#include "script/nametree.h"
#include "script/task.h"
#include "script/vars.h"

LabelTable g_Labels;
CommandDef g_CommandDefs[COMMAND_COUNT];
int32_t g_CommandDefCount;
const char* g_RuntimeErrorTexts[37];
uint8_t g_KeyMap[256];
int32_t g_ScriptFileCount;
char** g_ScriptFileNames;
int32_t* g_ScriptFileValues;
ScriptFileRecord** g_ScriptFiles;
int32_t g_ProjectValue;
const uint8_t* g_VariableDefinitions;
size_t g_VariableDefinitionsSize;
uint8_t g_ProjectSizingBorder;
uint8_t g_ProjectFramedWindows;

namespace {

constexpr int32_t MSG_NO_MEMORY = 100010;
constexpr int32_t MSG_VERSION = 105000;
constexpr int32_t MSG_TITLE_LENGTH = 901000;
constexpr int32_t MSG_GAME_SIZE = 901020;
constexpr int32_t MSG_SCRIPT_NUMBER = 901030;
constexpr int32_t MSG_MISSING_LABEL = 108180;
constexpr int32_t MAX_SCRIPT_FILES = 65536;    // file numbers are 16-bit
constexpr int32_t MAX_VARIABLES = 65536;       // variable numbers are 16-bit

// Set files whose buffers stay alive because tables point into them.
uint8_t* g_MessageFile;
uint8_t* g_CommandFile;
uint8_t* g_DefinitionsFile;

// A bounded little-endian reader over one file image.
struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at;
  bool Need(size_t n) const { return at <= size && size - at >= n; }
  uint64_t Read(int bytes) {
    uint64_t v = 0;
    for (int k = 0; k < bytes; k++) v |= (uint64_t)data[at + k] << (8 * k);
    at += (size_t)bytes;
    return v;
  }
  // A NUL-terminated text inside the file; null when the file ends first.
  const char* Text() {
    if (at >= size) return nullptr;
    const void* end = memchr(data + at, 0, size - at);
    if (!end) return nullptr;
    const char* text = reinterpret_cast<const char*>(data + at);
    at = (size_t)(static_cast<const uint8_t*>(end) - data) + 1;
    return text;
  }
};

const char* g_ParsingName = "";

int Broken() {
  ReportErrorF(MSG_BROKEN_SET_FILE, 1, g_ParsingName);
  return -1;
}

// Reads a set file whole through the file sources; its messages are LoadDataFile's.
uint8_t* ReadSetFile(const char* name, size_t* size) {
  FileLocation location{};
  if (LoadDataFile(name, &location) != 0 || !location.mData) return nullptr;
  *size = location.mSize;
  g_ParsingName = name;
  return location.mData;
}

void FreeLabels() {
  for (int32_t k = 0; k < g_Labels.mCount; k++) free(g_Labels.mRecords[k].mName);
  free(g_Labels.mRecords);
  memset(&g_Labels, 0, sizeof g_Labels);
}

void FreeScriptList() {
  for (int32_t k = 0; k < g_ScriptFileCount; k++) {
    if (g_ScriptFileNames) free(g_ScriptFileNames[k]);
    if (g_ScriptFiles && g_ScriptFiles[k]) FreeScriptFileRecord(g_ScriptFiles[k]);
  }
  free(g_ScriptFileNames);
  free(g_ScriptFileValues);
  free(g_ScriptFiles);
  g_ScriptFileNames = nullptr;
  g_ScriptFileValues = nullptr;
  g_ScriptFiles = nullptr;
  g_ScriptFileCount = 0;
}

}  // namespace

int ParseMessageTable(const uint8_t* data, size_t size) {
  Reader r{data, size, 8};
  if (!r.Need(8)) return Broken();
  int32_t count = (int32_t)r.Read(4);
  r.at = 16;
  g_MessageTable.count = 0;
  for (int k = 0; k < MESSAGE_TABLE_MAX; k++) g_MessageTable.texts[k] = "";
  // Texts past the table's 256 entries are ignored.
  for (int32_t k = 0; k < count && k < MESSAGE_TABLE_MAX; k++) {
    if (!r.Need(4)) return Broken();
    int32_t id = (int32_t)r.Read(4);
    const char* text = r.Text();
    if (!text) return Broken();
    g_MessageTable.ids[k] = id;
    g_MessageTable.texts[k] = text;
    g_MessageTable.count = k + 1;
  }
  return 0;
}

int ParseCommandTable(const uint8_t* data, size_t size) {
  Reader r{data, size, 8};
  if (!r.Need(8)) return Broken();
  int32_t count = (int32_t)r.Read(4);
  r.at = 16;
  memset(g_CommandDefs, 0, sizeof g_CommandDefs);
  g_CommandDefCount = 0;
  if (count < 0) return Broken();
  for (int32_t c = 0; c < count; c++) {
    const char* name = r.Text();
    if (!name || !r.Need(1)) return Broken();
    uint8_t params = (uint8_t)r.Read(1);
    CommandDef scratch;
    // Commands past the handler table's slots are read over and kept nowhere.
    CommandDef& def = c < COMMAND_COUNT ? g_CommandDefs[c] : scratch;
    def.mName = name;
    def.mParamCount = params;
    for (int p = 0; p < params; p++) {
      const char* pname = r.Text();
      if (!pname || !r.Need(2)) return Broken();
      def.mParamNames[p] = pname;
      def.mValueTypes[p] = (uint8_t)r.Read(1);
      def.mCheckKinds[p] = (uint8_t)r.Read(1);
      if (def.mValueTypes[p] > VALUE_CODE || def.mCheckKinds[p] > MAX_CHECK_KIND) return Broken();
    }
  }
  g_CommandDefCount = count < COMMAND_COUNT ? count : COMMAND_COUNT;
  for (const char*& text : g_RuntimeErrorTexts) {
    text = r.Text();
    if (!text) return Broken();
  }
  if (!r.Need(256)) return Broken();
  memcpy(g_KeyMap, data + r.at, 256);
  FillCommandHandlers();
  return 0;
}

int ParseVariableTableSize(const uint8_t* data, size_t size) {
  Reader r{data, size, 4};
  if (!r.Need(12)) return Broken();
  int32_t version = (int32_t)r.Read(4);
  if (version != SCRIPT_SET_VERSION) {
    ReportError(MSG_VERSION, 1);
    return -1;
  }
  int32_t highest = (int32_t)r.Read(4);
  g_ProjectValue = (int32_t)r.Read(4);
  if (highest < 0 || highest >= MAX_VARIABLES) return Broken();
  return AllocVariableTable(highest + 1) ? 0 : -1;
}

int ParseScriptList(const uint8_t* data, size_t size) {
  Reader r{data, size, 8};
  if (!r.Need(4)) return Broken();
  int32_t count = (int32_t)r.Read(4);
  if (count < 0 || count > MAX_SCRIPT_FILES) return Broken();
  FreeScriptList();
  g_ScriptFileCount = count;
  if (AllocScriptRecords() != 0) return -1;
  for (int32_t k = 0; k < count; k++) {
    if (!r.Need(8)) return Broken();
    int32_t number = (int32_t)r.Read(4);
    int32_t length = (int32_t)r.Read(4);
    if (number < 0 || number >= count) {
      ReportError(MSG_SCRIPT_NUMBER, 1);
      return -1;
    }
    if (length < 0 || !r.Need((size_t)length + 20)) return Broken();
    char* name = static_cast<char*>(malloc((size_t)length + 1));
    if (!name) {
      ReportError(MSG_NO_MEMORY, 1);
      return -1;
    }
    memcpy(name, data + r.at, (size_t)length);
    name[length] = 0;
    r.at += (size_t)length + 16;
    free(g_ScriptFileNames[number]);
    g_ScriptFileNames[number] = name;
    g_ScriptFileValues[k] = (int32_t)r.Read(4);
  }
  return 0;
}

int ParseLabelTable(const uint8_t* data, size_t size) {
  Reader r{data, size, 8};
  if (!r.Need(4 + 1024)) return Broken();
  int32_t count = (int32_t)r.Read(4);
  // Each label takes at least 13 bytes, which bounds the count by the file.
  if (count < 0 || (uint64_t)count * 13 > size) return Broken();
  FreeLabels();
  g_Labels.mRecords = static_cast<LabelRecord*>(calloc(count > 0 ? (size_t)count : 1, sizeof(LabelRecord)));
  if (!g_Labels.mRecords) {
    ReportError(MSG_NO_MEMORY, 1);
    return -1;
  }
  for (int k = 0; k < 256; k++) g_Labels.mFirstIndex[k] = (int32_t)r.Read(4);
  g_Labels.mFirstIndex[0] = 0;
  for (int32_t k = 0; k < count; k++) {
    if (!r.Need(1)) return Broken();
    uint8_t length = (uint8_t)r.Read(1);
    if (!r.Need((size_t)length + 12)) return Broken();
    LabelRecord& label = g_Labels.mRecords[k];
    label.mName = static_cast<char*>(malloc((size_t)length + 1));
    if (!label.mName) {
      ReportError(MSG_NO_MEMORY, 1);
      return -1;
    }
    memcpy(label.mName, data + r.at, length);
    label.mName[length] = 0;
    r.at += length;
    label.mHash = (uint32_t)r.Read(4);
    label.mPosition = (int32_t)r.Read(4);
    label.mScriptFile = (uint16_t)r.Read(2);
    label.mBlockDepth = (uint8_t)r.Read(1);
    label.mLoopDepth = (uint8_t)r.Read(1);
    g_Labels.mCount = k + 1;
  }
  return 0;
}

int ParseProjectSettings(const uint8_t* data, size_t size) {
  Reader r{data, size, 0x10};
  if (!r.Need(0x4E - 0x10)) return Broken();
  int32_t width = (int32_t)r.Read(4);
  int32_t height = (int32_t)r.Read(4);
  uint8_t show = (uint8_t)r.Read(4);
  if (width == 0 && height == 0) {
    width = g_DesktopSize.width;
    height = g_DesktopSize.height;
  } else if (width < 128 || width > 8192 || height < 16 || height > 8192) {
    ReportError(MSG_GAME_SIZE, 1);
    return 1;
  }
  r.at = 0x28;
  int32_t gameThread = (int32_t)r.Read(4);
  if (gameThread != 0 && gameThread != 1) {
    ReportError(MSG_GAME_SIZE, 1);
    return 1;
  }
  uint8_t debug = (uint8_t)r.Read(4);
  uint8_t sound = (uint8_t)r.Read(4);
  uint8_t sizing = (uint8_t)r.Read(4);
  uint8_t framed = (uint8_t)r.Read(4);
  r.Read(4);
  uint8_t sourceFirst = (uint8_t)r.Read(4);
  uint8_t sourceSecond = (uint8_t)r.Read(4);
  r.at = 0x4C;
  uint16_t titleLength = (uint16_t)r.Read(2);
  if (titleLength > 128) {
    ReportError(MSG_TITLE_LENGTH, 1);
    return 1;
  }
  if (!r.Need(titleLength)) {
    Broken();
    return 1;
  }
  WindowRecord* main = g_WindowRecords[0];
  if (main) {
    main->mWidth = width;
    main->mHeight = height;
    main->mVisible = show;
    memcpy(main->mTitle, data + r.at, titleLength);
    main->mTitle[titleLength] = 0;
    if (titleLength == 0) CopyTextBounded(main->mTitle, sizeof main->mTitle, " ");
  }
  g_GameThreadMode = (uint8_t)gameThread;
  g_DebugMode = debug;
  g_SoundEnabled = sound;
  g_ProjectSizingBorder = sizing;
  g_ProjectFramedWindows = framed;
  memcpy(g_ImageExtensionOrder, data + 0x1C, 8);
  memcpy(g_SoundExtensionOrder, data + 0x24, 4);
  g_SourceOrderFlags[0] = sourceFirst;
  g_SourceOrderFlags[1] = sourceSecond;
  return 0;
}

int LoadProjectSettings() {
  size_t size;
  uint8_t* data = ReadSetFile("kvbin\\kvcfg.kbn", &size);
  if (!data) return -1;
  int result = ParseProjectSettings(data, size);
  free(data);
  return result;
}

int LoadMessageTable() {
  size_t size;
  uint8_t* data = ReadSetFile("kvbin\\kve.kbn", &size);
  if (!data) return -1;
  int result = ParseMessageTable(data, size);
  if (result != 0) {
    g_MessageTable.count = 0;
    free(data);
    return result;
  }
  free(g_MessageFile);
  g_MessageFile = data;
  return 0;
}

int LoadCommandTable() {
  size_t size;
  uint8_t* data = ReadSetFile("kvbin\\kvc.kbn", &size);
  if (!data) return -1;
  int result = ParseCommandTable(data, size);
  if (result != 0) {
    memset(g_CommandDefs, 0, sizeof g_CommandDefs);
    free(data);
    return result;
  }
  free(g_CommandFile);
  g_CommandFile = data;
  return 0;
}

int LoadVariableTableSize() {
  size_t size;
  uint8_t* data = ReadSetFile("kvbin\\kvt.kbn", &size);
  if (!data) return -1;
  int result = ParseVariableTableSize(data, size);
  free(data);
  return result;
}

int LoadScriptList() {
  size_t size;
  uint8_t* data = ReadSetFile("kvbin\\kvt_list.kbn", &size);
  if (!data) return -1;
  int result = ParseScriptList(data, size);
  free(data);
  return result;
}

int LoadVariableDefinitions() {
  size_t size;
  uint8_t* data = ReadSetFile("kvbin\\kvv.kbn", &size);
  if (!data) return -1;
  int result = ParseVariableDefinitions(data, size);
  if (result != 0) {
    free(data);
    return Broken();
  }
  free(g_DefinitionsFile);
  g_DefinitionsFile = data;
  return 0;
}

int LoadLabelTable() {
  size_t size;
  uint8_t* data = ReadSetFile("kvbin\\kvl.kbn", &size);
  if (!data) return -1;
  int result = ParseLabelTable(data, size);
  free(data);
  return result;
}

int AllocScriptRecords() {
  size_t n = g_ScriptFileCount > 0 ? (size_t)g_ScriptFileCount : 1;
  g_ScriptFileNames = static_cast<char**>(calloc(n, sizeof(char*)));
  g_ScriptFileValues = static_cast<int32_t*>(calloc(n, sizeof(int32_t)));
  g_ScriptFiles = static_cast<ScriptFileRecord**>(calloc(n, sizeof(ScriptFileRecord*)));
  if (!g_ScriptFileNames || !g_ScriptFileValues || !g_ScriptFiles) {
    ReportError(MSG_NO_MEMORY, 1);
    return -1;
  }
  return 0;
}

int32_t FindLabel(const char* name, size_t length) {
  uint32_t hash = NameHash(name, length);
  uint32_t start = (uint32_t)g_Labels.mFirstIndex[hash >> 24];
  if (start >= (uint32_t)g_Labels.mCount) return -1;
  for (int32_t k = (int32_t)start; k < g_Labels.mCount; k++) {
    const LabelRecord& label = g_Labels.mRecords[k];
    if (label.mHash == hash && strlen(label.mName) == length && memcmp(label.mName, name, length) == 0) return k;
  }
  return -1;
}

int BootScripts() {
  if (LoadMessageTable() != 0 || LoadCommandTable() != 0 || LoadVariableTableSize() != 0 ||
      LoadScriptList() != 0 || LoadVariableDefinitions() != 0 || CreateScriptVariables(-1) != 0 ||
      LoadLabelTable() != 0)
    return 1;
  g_ScriptLocation = CurrentScriptLocation;
  const char* start = "SYSTEM_START";
  int32_t index = FindLabel(start, strlen(start));
  if (index < 0) {
    ReportErrorF(MSG_MISSING_LABEL, 1, start);
    return 1;
  }
  NameNode* node = FindNodeByPath(g_TaskRoot, "SYSTEM", NAME_LOOKUP_LEAF);
  ScriptTask* task = node ? static_cast<ScriptTask*>(node->mPayload) : nullptr;
  if (!task) return -1;
  const LabelRecord& label = g_Labels.mRecords[index];
  if (!SwitchTaskFile(task, label.mScriptFile)) return 1;
  task->mCommandIndex = label.mPosition;
  task->mBlockDepth = label.mBlockDepth;
  task->mLoopDepth = label.mLoopDepth;
  return EnsureTaskStacks(task) ? 0 : 1;
}

void ResetScriptSet() {
  FreeScriptList();
  FreeLabels();
  FreeVariableTable();
  free(g_MessageFile);
  free(g_CommandFile);
  free(g_DefinitionsFile);
  g_MessageFile = g_CommandFile = g_DefinitionsFile = nullptr;
  g_VariableDefinitions = nullptr;
  g_VariableDefinitionsSize = 0;
  g_MessageTable.count = 0;
  memset(g_CommandDefs, 0, sizeof g_CommandDefs);
  g_CommandDefCount = 0;
}
