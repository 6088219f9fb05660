// The application shell's exports: start-up and shutdown, the frame loop and its pacing,
// numbered messages, settings, the shared lock and the Shift-JIS string helpers.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>

struct NameNode;
struct WindowRecord;

// ---------------------------------------------------------------------------------------------
// Process-wide state (start-up, paths, command line).

constexpr int MAX_PATH_BYTES = 260;

// The one lock of the program: the sound thread's passes against the script side's sound
// requests, the threads' finished flags, the debug log and the dropped-file list.
extern std::recursive_mutex g_CriticalSection;

// Set by a quit request, the end command, the close command and fatal numbered messages;
// a non-fatal numbered message clears it. Every thread and the script runner test it.
extern std::atomic<uint8_t> g_QuitFlag;

// Windows-style paths in code page 932: lower-cased, '\' separators, folders end in '\'.
extern char g_ExePath[MAX_PATH_BYTES + 1];
extern char g_InstanceName[MAX_PATH_BYTES + 1];
extern char g_ExeFolder[MAX_PATH_BYTES + 1];
extern char g_ProjectFolder[MAX_PATH_BYTES + 1];
extern char g_AppDataFolder[MAX_PATH_BYTES + 1];
extern char g_DocumentsFolder[MAX_PATH_BYTES + 1];
// The same folders as real host paths (UTF-8, '/' separators, no trailing '/'), for I/O.
extern std::string g_ExeFolderReal;
extern std::string g_ProjectFolderReal;

// Copies of the program's arguments 0..8 (0 = the program path); missing slots are "".
constexpr int COMMAND_ARG_SLOTS = 9;
extern char g_CommandArgs[COMMAND_ARG_SLOTS][MAX_PATH_BYTES + 1];
extern int g_CommandArgCount;   // arguments less one, at most 8

struct LocalTime {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
extern LocalTime g_StartLocalTime;

extern int32_t g_WindowSlotState[4];   // -1 closed, 1 open
struct Size2 {
  int32_t width, height;
};
extern Size2 g_ClientAreaSize;
extern Size2 g_InitialWindowSize;
extern Size2 g_OutputSize;
extern uint8_t* g_ScreenBuffer;        // output width * 4 + width * 4 * height + 4 bytes
extern uint8_t g_GameThreadFinished;   // 0xFF not started, 0 running, 1 ended (under the lock)
extern uint8_t g_SoundThreadFinished;
extern uint8_t g_RestartRequested;
extern uint8_t g_ReadOnlyFolder;
extern uint8_t g_JoysticksPresent;
extern uint8_t g_InitDone;
extern uint8_t g_PathCharTable[256];
extern uint8_t g_EngineOptions[128];

// Shift-JIS lead bytes (0x81-0x9F, 0xE0-0xFC): a character starting with byte b is
// 1 + g_LeadByteTable[b] bytes long.
extern const uint8_t g_LeadByteTable[256];

// Lower-cases 'A'-'Z' in place, stepping over double-byte characters whole.
void ToLowerAscii(char* text);
// True when `text` ends in `suffix` without regard to ASCII case (byte comparison).
bool EndsWithNoCase(const char* text, const char* suffix);
// Copies the part after the last '\' or '/' of `path` into `dest` (which holds `destSize`
// bytes) and returns 1; 0 with an empty `dest` when there is no such part.
int GetFileNamePart(char* dest, size_t destSize, const char* path);
// Copies `src` into `dest` (`destSize` bytes with the terminator), cut on a character boundary.
void CopyTextBounded(char* dest, size_t destSize, const char* src);
// One of our own UTF-8 texts (a box, a caption) in the engine's code page; kept as it is when
// it cannot be converted.
std::string ToCp932Text(const char* utf8);

// Entry and exit. `EngineMain` is the whole program: it returns the exit status, one of these
// or 128 + the number of the signal that ended the run.
enum : int { EXIT_NORMAL = 0, EXIT_ERROR = 1, EXIT_USAGE = 2, EXIT_NO_INPUT = 3 };
int EngineMain(int argc, char** argv);
// The status a normal end gives: a run that ends otherwise than by the game or the player sets
// it (a headless run left without input).
extern int g_ExitStatus;
int8_t StartEngine();
// The development link: starts the outside script compiler and takes the compiled files (the
// in-memory file list) and the project folder from it. 0 on success; non-zero ends start-up.
int RunScriptCompiler();
void FreeCompilerFiles();   // forgets the in-memory file list (a new run of the link, tests)
void Shutdown();
void InitGlobalsOnce();
void CheckFolderWritable();
void CreateRootNodes();
void InitPaths();
void CopyCommandLine(int argc, char** argv);
int CreateWindowRecords();
void BeginTimerPeriod();
void EndTimerPeriod();
// The real path of a name relative to the executable folder, Windows rules applied.
std::string ExeFolderPath(const char* name);
// When the game folder cannot be written (g_ReadOnlyFolder), what the game writes there goes
// into the user's folder for this game instead: $XDG_DATA_HOME/kivor/<game folder's name>.
std::string UserGameFolder();
// Where a file named below `base` (the game or project folder, real) is written: below `base`,
// or at the same place below UserGameFolder when the game folder is read-only (the user's
// folders on the way are made).
std::string GameWritePath(const std::string& base, const char* name);
// Where such a file is read back: the user's copy when the folder is read-only and the copy
// exists, else the file below `base`.
std::string GameReadBackPath(const std::string& base, const char* name);
// The place of the user's copy of a name below `base` (nothing is made); "" when the game
// folder is writable or the name leaves it.
std::string GameCopyPath(const std::string& base, const char* name);

// ---------------------------------------------------------------------------------------------
// Main loop and frame step.

// The game-logic thread draws into the windows, so before the main window goes the main
// thread raises the quit flag and waits for that thread to end (at once without the thread,
// or when called on it).
void EndGameThread();
// Called by the script runner while one turn runs on without yielding (a loop without a
// wait): without the game-logic thread nobody else answers the window, so this takes its
// events (a close, a quit request, a quit signal) as the main loop would.
void AnswerWindowDuringLongTurn();

extern std::atomic<uint8_t> g_Running;
extern std::atomic<uint8_t> g_ModalSuspend;
extern uint64_t g_FrameCounter;
extern uint64_t g_ScriptPassCounter;
extern int32_t g_FrameRate;             // frames per second, kept in 1..1000
extern int32_t g_FrameSkip;
extern uint32_t g_FramePeriodAccumulator;
extern uint32_t g_LastImageLoadTime;
extern uint32_t g_FrameTime;
extern uint32_t g_SecondStartTime;
extern uint32_t g_SecondLoops;
extern uint32_t g_SecondDrawn;
extern uint32_t g_FramesPerSecond[2];   // loops, drawn frames of the last whole second
extern uint8_t g_SkipDrawing;
extern uint8_t g_NextSkipDrawing;
extern uint8_t g_FirstFrameDone;
extern int32_t g_ExtraPassRequest;
extern uint8_t g_DesktopRedrawCountdown;
extern int32_t g_FrameStyleCountdown;
// Written by the frame step, read by the sound thread's passes too.
extern std::atomic<uint8_t> g_InactivePause;
extern std::atomic<uint8_t> g_KeepRunningInactive;
extern uint64_t g_PauseStartTime;
extern uint32_t g_ScriptTimers[4];
extern uint8_t g_ScriptTimerRunning[4];    // 0 while a script has paused the timer
extern uint32_t g_ScriptTimerPausedAt[4];  // the clock when it was paused, 0 while running
extern uint8_t g_ScreenSaverBlock;         // while set, the desktop's screen saver may not start
extern int32_t g_ActiveWindowIndex;     // as the frame step's input tick last took it
extern uint8_t g_GameThreadMode;        // from the project settings

constexpr int32_t MIN_FRAME_RATE = 1;
constexpr int32_t MAX_FRAME_RATE = 1000;
// Sets the frame rate, refusing values outside 1..1000 (returns false then).
bool SetFrameRate(int32_t fps);

void RunMainLoop();
int RunFrame();
int WaitFrame();
void PumpMessages();                  // drains the platform's events (main thread)
void PollActiveWindowInput();
void RequestQuit();
void StartGameThread();
void RunFramesUntilQuit();
// Waits while the inactive pause lasts: 1 when the task's turn ends (quit or loop ended),
// 0 when the pause is over and the instruction's own handler is to run.
int PausePump();
void CheckInactivePause();
void BeginInactivePause();
void EndInactivePause();
void UpdateFullScreenMenuBar();
void CountDrawnFrame();
void NoteImageLoadTime();             // image and save loads never count as frame lateness

// ---------------------------------------------------------------------------------------------
// Numbered messages.

constexpr int MESSAGE_TEXT_BYTES = 1024;
constexpr int MESSAGE_TABLE_MAX = 256;

struct MessageTable {
  int32_t ids[MESSAGE_TABLE_MAX];
  const char* texts[MESSAGE_TABLE_MAX];   // owned by whoever filled the table
  int32_t count;
};
extern MessageTable g_MessageTable;
extern const char* g_ErrorFile;
extern int32_t g_ErrorLine;
extern uint8_t g_ErrorDialogShown;
extern uint8_t g_FatalReported;   // a fatal numbered message was reported in this run
extern const char* g_ErrorDialogTitle;
extern uint8_t g_DebugMode;
extern uint8_t g_DebugLogHeaderDone;

const char* LookupMessageText(int32_t id);
char* BuildMessage(int32_t id, int fatal);
char* BuildLocatedMessage(int32_t id, int fatal);
void ReportError(int32_t id, int fatal);
void ReportScriptError(int32_t id, int fatal);

// The arguments of a numbered message travel typed: a message text comes from the game's own
// table, so it must never take more arguments, or other kinds, than its caller passed.
struct MessageArg {
  enum Kind : uint8_t { INT, REAL, TEXT } mKind;
  int64_t mInt;
  double mReal;
  const char* mText;
};
inline MessageArg ToMessageArg(const char* text) { return {MessageArg::TEXT, 0, 0.0, text}; }
inline MessageArg ToMessageArg(double value) { return {MessageArg::REAL, 0, value, nullptr}; }
template <typename T, typename = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
MessageArg ToMessageArg(T value) {
  return {MessageArg::INT, (int64_t)value, 0.0, nullptr};
}
// Formats `format` into `dest` (`size` bytes, always terminated when size > 0) with `count`
// arguments: the printf conversions d i u o x X c s e E f F g G with flags, width, precision
// and length; a conversion without an argument prints nothing, %n is never honoured, widths
// and precisions are bounded, and what is not a conversion is copied as it stands. Returns the
// length written.
size_t FormatMessageText(char* dest, size_t size, const char* format, const MessageArg* args, int count);
// The body of ReportErrorF and ReportScriptErrorF (located).
void ReportErrorArgs(int32_t id, int fatal, bool located, const MessageArg* args, int count);
template <typename... A>
void ReportErrorF(int32_t id, int fatal, A... args) {
  const MessageArg list[] = {ToMessageArg(args)..., ToMessageArg(0)};
  ReportErrorArgs(id, fatal, false, list, (int)sizeof...(A));
}
template <typename... A>
void ReportScriptErrorF(int32_t id, int fatal, A... args) {
  const MessageArg list[] = {ToMessageArg(args)..., ToMessageArg(0)};
  ReportErrorArgs(id, fatal, true, list, (int)sizeof...(A));
}
void ShowErrorDialog(const char* text);
int ShowErrorBox(const char* caption, const char* format, ...);
void TraceMessage(const char* caption, const char* format, ...);
void AppendDebugLog(const char* text);
// The text the last error dialog showed (empty before any); for tests and headless runs.
const char* LastErrorDialogText();
// Resets the once-per-run message state; start-up calls it, tests call it between cases.
void ResetMessageState();

// Where a located message comes from: filled by the script engine when a task runs.
// Returns false when no task runs; else the running script's file name and line.
extern bool (*g_ScriptLocation)(const char** file, int32_t* line);

int CmdEngineCall();
int CmdUnassigned();
int CmdEnd();
int CmdClipboardCopy();
int CmdClipboardPaste();
int CmdReserved7();
int CmdReadTextTable();
int CmdMessageBox();
int CmdSetOptions();
int CmdReserved16();
int CmdFrameRate();
int CmdRegistryRead();
int CmdScreenAndTimers();
int CmdScriptFileQuery();

// ---------------------------------------------------------------------------------------------
// Settings files and system information.

extern uint8_t g_MovieBackend;        // 0 MCI, 1 DirectShow
extern uint8_t g_AllowSse;
extern uint8_t g_AllowSse2;
extern uint8_t g_WorkerCap;           // 4, or 1 when the settings ask for one worker
extern uint8_t g_ChangeDisplayMode;
extern uint8_t g_FitMode;
extern int32_t g_GpuFilterLevel;
extern uint8_t g_BilinearScaling;
extern uint8_t g_GpuDrawing;
extern uint8_t g_GpuSceneMode;
extern uint8_t g_ReportCaptionDoubleClick;
extern uint8_t g_UserFlag10;          // readable by scripts only
extern uint8_t g_SoftwareVertexProcessing;
extern int32_t g_TextureFormat;       // 21 (32-bit) or 26 (16-bit)
extern uint8_t g_TextureFilterChoice;
extern uint8_t g_DisableComposition;
extern uint32_t g_SettingsWords[32];  // the raw words as read (kept and unused ones included)
extern Size2 g_TextureTileLimit;
extern int32_t g_SamplerFilters[2];
extern int32_t g_MipFilter;
extern uint8_t g_SaveLocation;
extern char g_SaveFolder[MAX_PATH_BYTES + 1];
extern uint8_t g_OsVersionCode;
extern int8_t g_ProcessorCount;
extern uint8_t g_WorkerCount;
struct DesktopMode {
  int32_t width, height, bitsPerPixel, refreshRate;
};
extern DesktopMode g_DesktopSize;
extern int32_t g_DirectXVersion;
extern uint8_t g_NameLengthTable[256];
extern uint8_t g_ScriptKey[4];

void ResetEngineSettings();
int LoadEngineSettings();
int LoadSaveLocation();
int ReadSystemInfo();
uint8_t BuildScrambleTables();
int WriteSystemReport();
// Applies the 32 words of a user settings file to the settings globals (defaults first).
void ApplyEngineSettingsWords(const uint32_t words[32], bool fileRead);
void BuildSaveFolder();
