// The compiled script set: its files and loaders, linked script files, the label table, the
// command table and the command handler table, and the script boot.
#pragma once

#include <cstddef>
#include <cstdint>

struct FusedCommand;
struct FusedOp;

constexpr int COMMAND_COUNT = 110;
// A command's parameter count and each record's parameter id are bytes, and a compiler uses
// the whole range (the options command alone declares parameter ids up to 111), so the tables
// hold every value a byte names; what a record may use is bounded by its command's declaration.
constexpr int MAX_COMMAND_PARAMS = 256;   // parameter ids 0-255
constexpr int MAX_COMMAND_ARGS = 255;     // argument positions 1-255 (the record count is a byte)
constexpr int MAX_CHECK_KIND = 28;
constexpr int SCRIPT_SET_VERSION = 480;
constexpr uint32_t LABEL_INDEX_FLAG = 0x10000000;   // a jump's resolved label index
constexpr uint32_t LABEL_INDEX_MASK = 0x0FFFFFFF;

enum : uint8_t { VALUE_INTEGER = 0, VALUE_STRING = 1, VALUE_CODE = 2 };

// Messages this engine gives where the compiled set is broken in ways no named message covers.
constexpr int32_t MSG_BROKEN_SET_FILE = 105010;     // fatal, with the file name
constexpr int32_t MSG_BROKEN_COMMAND = 900060;      // fatal, located: a bad argument record
constexpr int32_t MSG_SCRIPT_ENDED = 900080;        // fatal, located: ran past the last command

// One argument record of a command, as compiled.
struct CommandArgument {
  uint8_t mParamId;
  uint8_t mSpare;       // byte 1: read only as part of the message end's first mark
  uint8_t mKind;        // evaluator kind 1-4
  uint8_t mOperator;    // assignment operator 0-8
  uint32_t mExprLength;
  uint32_t mExprOffset;
  FusedCommand* mProgram;   // the expression's integer program, null when it has none
};

using CommandHandler = int (*)();

// One linked script file. A record whose command count is 0 and whose arrays are null is the
// empty record of a file that could not be read or linked: it is never run.
struct ScriptFileRecord {
  int32_t mCommandCount;
  uint8_t mLinked;
  CommandHandler* mHandlers;      // per command
  uint8_t* mCallCounts;           // per command: byte 2 of the command
  uint8_t* mArgCounts;            // per command: argument record count
  CommandArgument** mArgRecords;  // per command: its first argument record
  CommandArgument* mArgStore;     // every record of the file
  size_t mArgStoreCount;
  uint8_t* mExpressions;          // segment C
  uint32_t mExpressionSize;
  uint32_t* mLines;               // per command: source line
  uint8_t* mCommandCodes;         // per command
  uint8_t* mImage;                // the file as read, unscrambled; segments C and D live in it
  FusedCommand* mFused;           // per command: its fused form; null when the file has none
  FusedCommand* mFusedPrograms;   // per argument record: its integer program
  FusedOp* mFusedOps;             // the ops the fused commands and programs point into
  char* mFusedTexts;              // the text literals the ops point into
};

struct LabelRecord {
  char* mName;
  uint32_t mHash;
  int32_t mPosition;
  uint16_t mScriptFile;
  uint8_t mBlockDepth;
  uint8_t mLoopDepth;
};

struct LabelTable {
  int32_t mCount;
  LabelRecord* mRecords;
  int32_t mFirstIndex[256];
};
extern LabelTable g_Labels;

// The command table of kvc.kbn.
struct CommandDef {
  const char* mName;
  uint8_t mParamCount;
  const char* mParamNames[MAX_COMMAND_PARAMS];
  uint8_t mValueTypes[MAX_COMMAND_PARAMS];
  uint8_t mCheckKinds[MAX_COMMAND_PARAMS];
};
extern CommandDef g_CommandDefs[COMMAND_COUNT];
extern int32_t g_CommandDefCount;
extern const char* g_RuntimeErrorTexts[37];
extern uint8_t g_KeyMap[256];

extern CommandHandler g_CommandHandlers[COMMAND_COUNT];
// Fills g_CommandHandlers: every slot the unassigned handler, then each subsystem's handlers.
void FillCommandHandlers();

// The script list: names and per-file values by file number.
extern int32_t g_ScriptFileCount;
extern char** g_ScriptFileNames;
extern int32_t* g_ScriptFileValues;
extern ScriptFileRecord** g_ScriptFiles;
extern int32_t g_ProjectValue;   // from kvt.kbn

// Parsers of the set files over a whole file in memory; the loaders read the file and call
// them. Each returns 0, or non-zero after a message. The message and command tables keep
// pointers into `data`, which must then stay alive.
int ParseMessageTable(const uint8_t* data, size_t size);
int ParseCommandTable(const uint8_t* data, size_t size);
int ParseVariableTableSize(const uint8_t* data, size_t size);
int ParseScriptList(const uint8_t* data, size_t size);
int ParseVariableDefinitions(const uint8_t* data, size_t size);
int ParseLabelTable(const uint8_t* data, size_t size);
int ParseProjectSettings(const uint8_t* data, size_t size);
// Links a script file image as file n. 1 linked, 0 refused (the record stays empty).
int LinkScriptFile(int32_t n, uint8_t* data, size_t size);

int LoadMessageTable();
int LoadCommandTable();
int LoadVariableTableSize();
int LoadScriptList();
int LoadVariableDefinitions();
int LoadLabelTable();
int AllocScriptRecords();
int LoadScriptFile(int32_t n);
void FreeScriptFileRecord(ScriptFileRecord* file);
int32_t FindLabel(const char* name, size_t length);
int LoadProjectSettings();
int BootScripts();
// Frees everything the loaders made, so a test can load another set.
void ResetScriptSet();

// The variable definitions file, kept for the links of later script files.
extern const uint8_t* g_VariableDefinitions;
extern size_t g_VariableDefinitionsSize;

int ReturnZero();

// Window style choices of the project settings: a sizing border, and framed (1) or pop-up (0)
// windows.
extern uint8_t g_ProjectSizingBorder;
extern uint8_t g_ProjectFramedWindows;
