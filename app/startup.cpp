// The program's entry and exit: single instance, the start-up order, shutdown and restart.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "app/engine.h"
#include "app/appended_block.h"
#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/menus.h"
#include "app/window.h"
#include "files/files.h"
#include "layers/blend_tables.h"
#include "media/emote.h"
#include "media/emote_player.h"
#include "media/media.h"
#include "platform/gpu.h"
#include "platform/platform.h"
#include "render/gpu.h"
#include "script/script_set.h"

std::recursive_mutex g_CriticalSection;
std::atomic<uint8_t> g_QuitFlag;
char g_ExePath[MAX_PATH_BYTES + 1];
char g_InstanceName[MAX_PATH_BYTES + 1];
char g_ExeFolder[MAX_PATH_BYTES + 1];
char g_ProjectFolder[MAX_PATH_BYTES + 1];
char g_AppDataFolder[MAX_PATH_BYTES + 1];
char g_DocumentsFolder[MAX_PATH_BYTES + 1];
std::string g_ExeFolderReal;
std::string g_ProjectFolderReal;
char g_CommandArgs[COMMAND_ARG_SLOTS][MAX_PATH_BYTES + 1];
int g_CommandArgCount;
LocalTime g_StartLocalTime;
int32_t g_WindowSlotState[4] = {-1, -1, -1, -1};
Size2 g_ClientAreaSize;
Size2 g_InitialWindowSize;
Size2 g_OutputSize;
uint8_t* g_ScreenBuffer;
uint8_t g_GameThreadFinished = 0xFF;
uint8_t g_SoundThreadFinished = 0xFF;
uint8_t g_RestartRequested;
uint8_t g_ReadOnlyFolder;
uint8_t g_JoysticksPresent;
uint8_t g_InitDone;
uint8_t g_PathCharTable[256];
uint8_t g_EngineOptions[128];
int g_ExitStatus;

namespace {

std::string g_ExePathReal;     // the running program, for a restart
std::string g_GameArgument;    // the --game folder as given, handed on to a restart

// The command line: this program's options first, then the game's arguments. The options end
// at "--" or at the first argument that does not start with '-' (a lone "-" is an argument);
// from there on every argument goes to the scripts as it stands, whatever it looks like.
struct ProgramOptions {
  const char* game = nullptr;        // --game's folder
  bool gameWithoutFolder = false;    // --game was the last argument
  bool help = false, version = false;
  const char* unknown = nullptr;     // the first option this program does not know
  int firstArgument = 1;             // index of the game's first argument
};

ProgramOptions ReadOptions(int argc, char** argv) {
  ProgramOptions o;
  int i = 1;
  for (; i < argc; i++) {
    const char* a = argv[i];
    if (!strcmp(a, "--")) {
      i++;
      break;
    }
    if (a[0] != '-' || !a[1]) break;
    if (!strcmp(a, "--game")) {
      if (i + 1 >= argc) {
        o.gameWithoutFolder = true;
        continue;
      }
      o.game = argv[++i];
    } else if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
      o.help = true;
    } else if (!strcmp(a, "--version")) {
      o.version = true;
    } else if (!o.unknown) {
      o.unknown = a;
    }
  }
  o.firstArgument = i;
  return o;
}

// A folder holds a game when the compiled project or a pack is there.
bool FolderHoldsGame(const std::string& folder) {
  std::vector<std::string> names;
  if (!PlatListFolder(folder, &names)) return false;
  for (const std::string& n : names) {
    if (EndsWithNoCase(n.c_str(), ".kpk")) return true;
    if (EndsWithNoCase(n.c_str(), "kvbin/") && n.size() == 6) return true;
  }
  return false;
}

// A real folder in the Windows form the engine keeps: code page 932, lower-cased ASCII,
// '\' separators, one final '\'.
void ToEngineFolder(const std::string& real, char* out, size_t outSize) {
  std::string cp932;
  if (!PlatUtf8ToCp932(real.data(), real.size(), &cp932)) cp932 = real;
  for (char& c : cp932)
    if (c == '/') c = '\\';
  if (cp932.empty() || cp932.back() != '\\') cp932 += '\\';
  CopyTextBounded(out, outSize, cp932.c_str());
  ToLowerAscii(out);
}

// Copies one argument into a slot: host arguments are UTF-8, scripts read code page 932.
void StoreArgument(int slot, const char* arg) {
  std::string cp932;
  if (!PlatUtf8ToCp932(arg, strlen(arg), &cp932)) cp932 = arg;
  CopyTextBounded(g_CommandArgs[slot], sizeof g_CommandArgs[slot], cp932.c_str());
}

bool IsSwitch(const char* arg, const char* name) {
  return strlen(arg) == strlen(name) && EndsWithNoCase(arg, name);
}

void AllocateScreenBuffer() {
  int w = g_OutputSize.width, h = g_OutputSize.height;
  if (w > 8192) {
    ShowErrorBox("", ToCp932Text("ＣＧサイズが大きすぎます。X=%d, Y=%d").c_str(), w, h);
    ReportError(100010, 1);
    free(g_ScreenBuffer);
    g_ScreenBuffer = nullptr;
    return;
  }
  size_t bytes = (size_t)(w > 0 ? w : 0) * 4 + (size_t)(w > 0 ? w : 0) * 4 * (size_t)(h > 0 ? h : 0) + 4;
  // A fresh block, not cleared: the scalers write the whole of it before any of it is shown, and
  // a game shown at its own size never touches it (nor its pages).
  free(g_ScreenBuffer);
  g_ScreenBuffer = static_cast<uint8_t*>(malloc(bytes));
  if (!g_ScreenBuffer) ReportError(104030, 1);
}

}  // namespace

std::string ExeFolderPath(const char* name) {
  std::string real;
  PlatResolvePath(g_ExeFolderReal, name, &real);
  return real;
}

std::string UserGameFolder() {
  std::string game = g_ExeFolderReal.substr(g_ExeFolderReal.rfind('/') + 1);
  if (game.empty()) game = "game";
  return PlatAppDataFolder() + "/kivor/" + game;
}

namespace {

// The place of `name` below `base`, moved into the user's folder for the game when the game
// folder is read-only. Only files inside the game folder move; a name that leaves it keeps
// its place.
std::string PlaceOf(const std::string& base, const char* name, bool* moved) {
  std::string real;
  PlatResolvePath(base, name, &real);
  *moved = g_ReadOnlyFolder && !base.empty() && real.compare(0, base.size() + 1, base + "/") == 0;
  if (!*moved) return real;
  // The user's copy is matched without regard to case, as the game folder is: a file written
  // as "Save\A.bmp" is the one read back and written again as "save\a.bmp".
  std::string relative = real.substr(base.size() + 1), spelled, place;
  if (!PlatUtf8ToCp932(relative.data(), relative.size(), &spelled)) return UserGameFolder() + "/" + relative;
  PlatResolvePath(UserGameFolder(), spelled.c_str(), &place);
  return place;
}

}  // namespace

std::string GameWritePath(const std::string& base, const char* name) {
  bool moved;
  std::string place = PlaceOf(base, name, &moved);
  if (!moved) return place;
  // The user's folders may not exist yet, from the data home down.
  for (size_t at = place.find('/', 1); at != std::string::npos; at = place.find('/', at + 1))
    if (!PlatFolderExists(place.substr(0, at))) PlatCreateFolder(place.substr(0, at));
  return place;
}

std::string GameCopyPath(const std::string& base, const char* name) {
  bool moved;
  std::string place = PlaceOf(base, name, &moved);
  return moved ? place : "";
}

std::string GameReadBackPath(const std::string& base, const char* name) {
  bool moved;
  std::string place = PlaceOf(base, name, &moved);
  if (moved && PlatFileExists(place)) return place;
  std::string real;
  PlatResolvePath(base, name, &real);
  return real;
}

void InitPaths() {
  g_ExePathReal = PlatExecutablePath();
  std::string exeFolder = g_ExePathReal.substr(0, g_ExePathReal.rfind('/'));
  // The game folder plays the executable folder's part: the program's own folder when a game
  // ships beside it, else the --game folder (taken by CopyCommandLine), else the own folder.
  if (g_ExeFolderReal.empty() || FolderHoldsGame(exeFolder)) g_ExeFolderReal = exeFolder;
  if (g_ExeFolderReal.empty()) g_ExeFolderReal = PlatCurrentFolder();
  ToEngineFolder(g_ExeFolderReal, g_ExeFolder, sizeof g_ExeFolder);
  std::string exeName = g_ExePathReal.substr(g_ExePathReal.rfind('/') + 1);
  std::string path = std::string(g_ExeFolder) + exeName;
  CopyTextBounded(g_ExePath, sizeof g_ExePath, path.c_str());
  ToLowerAscii(g_ExePath);
  // The instance is named after the game folder itself, not the way this start spelled it
  // (a link, "..", a relative path), so every start of the game meets the same lock.
  char canonical[MAX_PATH_BYTES + 1];
  ToEngineFolder(PlatCanonicalPath(g_ExeFolderReal), canonical, sizeof canonical);
  std::string instance = std::string(canonical) + exeName;
  CopyTextBounded(g_InstanceName, sizeof g_InstanceName, instance.c_str());
  ToLowerAscii(g_InstanceName);
  for (unsigned char* p = reinterpret_cast<unsigned char*>(g_InstanceName); *p;) {
    if (g_LeadByteTable[*p] && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '\\') *p = ':';
    p++;
  }
  char folder[MAX_PATH_BYTES + 1];
  ToEngineFolder(PlatAppDataFolder(), folder, sizeof folder);
  folder[strlen(folder) - 1] = 0;   // these two have no final separator
  CopyTextBounded(g_AppDataFolder, sizeof g_AppDataFolder, folder);
  ToEngineFolder(PlatDocumentsFolder(), folder, sizeof folder);
  folder[strlen(folder) - 1] = 0;
  CopyTextBounded(g_DocumentsFolder, sizeof g_DocumentsFolder, folder);
}

void CopyCommandLine(int argc, char** argv) {
  memset(g_CommandArgs, 0, sizeof g_CommandArgs);
  g_CommandArgCount = 0;
  ProgramOptions options = ReadOptions(argc, argv);
  // "--game DIR" names the game folder and is not one of the game's arguments.
  if (options.game) {
    std::string real;
    PlatResolvePath(PlatCurrentFolder(), options.game, &real);
    g_ExeFolderReal = real;
    g_GameArgument = real;
  }
  int slot = 0;
  if (argc > 0) StoreArgument(slot++, argv[0]);
  for (int i = options.firstArgument; i < argc; i++) {
    if (slot < COMMAND_ARG_SLOTS) StoreArgument(slot++, argv[i]);
    else slot++;
  }
  g_CommandArgCount = slot > 0 ? (slot - 1 > 8 ? 8 : slot - 1) : 0;
}

void InitGlobalsOnce() {
  if (g_InitDone) return;
  g_InitDone = 1;
  SeedRandom(PlatGetTicks());
  srand((unsigned)time(nullptr));
  g_PathCharTable[(uint8_t)'.'] = g_PathCharTable[(uint8_t)'/'] = g_PathCharTable[(uint8_t)':'] = 1;
  InitBlendTables();
  InitEvaluatorTables();
  InitKeyEdgeTable();
  InitAssignOperatorTable();
  InitOpcodeTable(1);
  memset(g_EngineOptions, 1, sizeof g_EngineOptions);
  CreateMessageRecord();
  // The installed faces are listed once the first frame is shown (RunFrame).
  InitGlyphTables();
  g_DirectXVersion = 0;
}

void CheckFolderWritable() {
  std::string probe;
  PlatFile* f = PlatFileCreateTemporary(g_ProjectFolderReal + "/ini", &probe);
  if (!f) {
    g_ReadOnlyFolder = 1;
    return;
  }
  PlatFileClose(f);
  if (!PlatDeleteFile(probe)) g_ReadOnlyFolder = 1;
}

void CreateRootNodes() {
  CreateLayerTreeRoot();
  CreateTaskTreeRoot();
  CreateSoundTreeRoot();
  CreateMenuTreeRoot();
}

void BeginTimerPeriod() {
  g_FramesPerSecond[0] = g_FramesPerSecond[1] = 0;
  g_SecondLoops = g_SecondDrawn = 0;
}

void EndTimerPeriod() {}

int8_t StartEngine() {
  LoadEngineSettings();
  LoadSaveLocation();
  InitPixelKernels();
  ReadSystemInfo();
  if (g_OsVersionCode >= 1 && g_OsVersionCode <= 19) {
    ShowErrorBox(ToCp932Text("エラー").c_str(), ToCp932Text("Windows95/NT3.5/NT4 では起動できません。").c_str());
    return -1;
  }
  if (BuildScrambleTables() != 0) return -1;
  if (IsSwitch(g_CommandArgs[1], "/kvcfg")) {
    // The settings tool is a separate program beside the runtime.
    std::string tool = g_ExePathReal.substr(0, g_ExePathReal.rfind('/') + 1) + "kivor-config";
    PlatStartProcess({tool, "/kvcfg"}, false);
    return -1;
  }
  if (IsSwitch(g_CommandArgs[1], "/info")) {
    g_ErrorDialogTitle = "License Information";
    ReportError(100000, 1);
    return -1;
  }
  if (BuildPackIndex() != 0) return -1;
  if (g_PackedRelease) {
    CopyTextBounded(g_ProjectFolder, sizeof g_ProjectFolder, g_ExeFolder);
    g_ProjectFolderReal = g_ExeFolderReal;
  } else if (RunScriptCompiler() != 0) {
    return -1;
  }
  InitGlobalsOnce();
  CheckFolderWritable();
  if (CreateWindowRecords() != 0) return -1;
  if (LoadProjectSettings() != 0) return -1;
  WindowRecord* main = g_WindowRecords[0];
  if (g_ScreenSaverMode) {
    main->mWidth = g_DesktopSize.width;
    main->mHeight = g_DesktopSize.height;
  }
  g_ClientAreaSize = {main->mWidth, main->mHeight};
  g_InitialWindowSize = g_ClientAreaSize;
  g_OutputSize = g_ClientAreaSize;
  if (g_OutputSize.width > g_DesktopSize.width || g_OutputSize.height > g_DesktopSize.height)
    g_OutputSize = {g_DesktopSize.width / 2, g_DesktopSize.height / 2};
  AllocateScreenBuffer();
  SetupWindowRecord(main, main->mTitle);
  g_WindowSlotState[0] = 1;
  // The window command's resizable switch and the restore after a maximise start from the
  // project's own setting.
  g_WindowResizable = g_ProjectSizingBorder;
  PlatGpuExpectDevice(g_GpuSceneMode || g_GpuDrawing);
  if (!CreateGameWindow(main, main->mTitle)) {
    ShowErrorBox(ToCp932Text("エラー").c_str(), ToCp932Text("ウィンドウが生成できませんでした。").c_str());
    return -1;
  }
  // A screen saver covers the desktop: here that is the full screen of the window's monitor.
  if (g_ScreenSaverMode) SetFullScreen(1);
  BeginTimerPeriod();
  CreateMenuBarWindow();
  CreateRootNodes();
  if (g_SoundEnabled) g_SoundEnabled = InitDirectSound() == 1 ? 1 : 0;
  g_JoysticksPresent = InitJoysticks() ? 1 : 0;
  g_FramePeriodAccumulator = 0;
  g_LastImageLoadTime = PlatGetTicks();
  g_SecondStartTime = g_LastImageLoadTime;
  PlatLocalTime t = PlatGetLocalTime();
  g_StartLocalTime = {(uint16_t)t.year, (uint16_t)t.month, (uint16_t)t.dayOfWeek, (uint16_t)t.day,
                      (uint16_t)t.hour, (uint16_t)t.minute, (uint16_t)t.second, (uint16_t)t.milliseconds};
  LoadEmoteBridge();
  if (g_EmoteAvailable) {
    g_GpuSceneMode = 1;
    g_GpuDrawing = 0;
    if (g_BilinearScaling > 1) g_BilinearScaling = 1;
    g_ChangeDisplayMode = 0;
  }
  if (g_GpuSceneMode || g_GpuDrawing) WriteSystemReport();
  if (BootScripts() != 0) {
    RequestQuit();
    return 1;
  }
  StartWorkerThreads();
  if (InitSoundSystem() != 0) return -1;
  StartGameThread();
  uint32_t now = PlatGetTicks();
  for (uint32_t& timer : g_ScriptTimers) timer = now;
  if ((g_GpuSceneMode || g_GpuDrawing) && StartDirect3D() != 0) return -1;
  return 0;
}

void Shutdown() {
  auto waitFinished = [](uint8_t* flag) {
    for (;;) {
      uint8_t state;
      {
        std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
        state = *flag;
      }
      // 0xFF: never started; 1: ended.
      if (state != 0) return;
      PlatSleep(1);
    }
  };
  waitFinished(&g_SoundThreadFinished);
  waitFinished(&g_GameThreadFinished);
  g_QuitFlag = 1;
  StopWorkerThreads();
  ShutdownEmotePlayers();
  ShutdownDirect3D();
  ReleaseMovieGraph();
  CloseMciMovie();
  ReleaseDirectSound();
  DestroyAllMenuSets();
  RemoveTrayIcon();
  EndTimerPeriod();
  // No face lister may outlive the run.
  EndFontLister();
  ReleaseGdiObjects();
  FreeSaveStaging(-1);
  ReleaseFlashControl();
  DestroyFlashWindow();
  FreeEmoteBridge();
  for (int i = 0; i < 4; i++) {
    if (g_WindowRecords[i] && g_WindowRecords[i]->mHasWindow) {
      g_Platform->DestroyWindow(i);
      g_WindowRecords[i]->mHasWindow = 0;
    }
  }
}

namespace {

const char kVersion[] = "kivor 0.1.0";

const char kUsageLine[] = "Usage: kivor [--game FOLDER] [--] [ARGUMENT]...\n";

const char kUsage[] =
    "Plays the KIVOR game in FOLDER, a folder holding kvbin/ or .kpk packs; without --game, the\n"
    "game in the program's own folder. The ARGUMENTs (at most 8) are handed to the game's\n"
    "scripts; as the first of them, /info shows the library notices and /kvcfg starts the\n"
    "settings tool. The options come first: the first ARGUMENT, or \"--\", ends them, and what\n"
    "follows reaches the scripts as it stands (after \"--\" also an ARGUMENT that starts with -).\n"
    "\n"
    "  --game FOLDER  the game folder\n"
    "  --help         show this text and end\n"
    "  --version      show the version and end\n"
    "\n"
    "Saves, the debug log and the files a game writes go into the game folder, or into\n"
    "$XDG_DATA_HOME/kivor/GAME (default ~/.local/share/kivor/GAME) when the game folder\n"
    "cannot be written.\n"
    "KIVOR_PLATFORM=sdl or =headless chooses the backend; KIVOR_INPUT_SCRIPT=FILE gives a\n"
    "headless run its input.\n"
    "\n"
    "Exit status: 0 the game ended or the player quit (or the game is already running);\n"
    "1 the game could not start or stopped on an error; 2 a bad command line or no game\n"
    "found; 3 a headless run ended waiting for input it had no way to get; 128+N ended\n"
    "by signal N (SIGTERM, SIGINT and SIGHUP end the game cleanly).\n";

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("kivor: ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
}

// What the command line asks before any game is looked at: 0 go on, else the exit status
// (with `done` set when the run ends here).
int ReadProgramOptions(int argc, char** argv, bool* done) {
  *done = true;
  ProgramOptions options = ReadOptions(argc, argv);
  if (options.unknown) {
    Say("unknown option %s (kivor --help)", options.unknown);
    fputs(kUsageLine, stderr);
    return EXIT_USAGE;
  }
  if (options.help) {
    fputs(kUsageLine, stdout);
    fputs(kUsage, stdout);
    return EXIT_NORMAL;
  }
  if (options.version) {
    printf("%s\n", kVersion);
    return EXIT_NORMAL;
  }
  if (options.gameWithoutFolder) {
    Say("--game needs a folder (kivor --help)");
    return EXIT_USAGE;
  }
  *done = false;
  return EXIT_NORMAL;
}

// Why the game folder cannot hold a game, or "" when it may.
std::string GameFolderFault(const std::string& folder) {
  if (PlatFileExists(folder)) return folder + " is a file, not a game folder";
  if (!PlatFolderExists(folder)) return "there is no folder " + folder;
  std::vector<std::string> names;
  if (!PlatListFolder(folder, &names)) return "cannot read the folder " + folder;
  return "";
}

// True when there is something to start: packs in the program, a compiled project or pack
// in the game folder, or the development compiler that makes one.
bool GameFound() {
  if (g_PacksInExecutable || FolderHoldsGame(g_ExeFolderReal)) return true;
  std::string real;
  return PlatResolvePath(g_ExeFolderReal, "system\\RUDud\\RUDud", &real) && PlatFileExists(real);
}

}  // namespace

int EngineMain(int argc, char** argv) {
  PlatGuardStandardStreams();
  bool done;
  int status = ReadProgramOptions(argc, argv, &done);
  if (done) return status;
  g_GameArgument.clear();
  g_ExeFolderReal.clear();
  CopyCommandLine(argc, argv);
  if (!g_GameArgument.empty()) {
    std::string fault = GameFolderFault(g_GameArgument);
    if (!fault.empty()) {
      Say("%s", fault.c_str());
      return EXIT_USAGE;
    }
  }
  // The game's first argument as a folder, from where the program was started: it may be the
  // game meant, when no other is found.
  ProgramOptions options = ReadOptions(argc, argv);
  std::string firstArgument = options.firstArgument < argc ? argv[options.firstArgument] : "", firstAsFolder;
  if (!firstArgument.empty()) PlatResolvePath(PlatCurrentFolder(), firstArgument.c_str(), &firstAsFolder);
  InitPaths();
  // From here a quit signal ends the run cleanly, and every other signal that ends it still
  // takes the lock files with it.
  PlatCatchQuitSignals(true);
  // Starts of other games wait here for a moment rather than end: only this game's own lock
  // below means that it already runs.
  std::string why;
  int startupLock = PlatLockAcquire("kivor1", true, &why);
  if (startupLock == -2) Say("cannot take the start-up lock (%s); starting anyway", why.c_str());
  int instanceLock = PlatLockAcquire(g_InstanceName, false, &why);
  if (instanceLock == -1) {
    // Another start of this game runs; it keeps the player's attention.
    Say("the game in %s is already running", g_ExeFolderReal.c_str());
    PlatLockRelease(startupLock);
    PlatCatchQuitSignals(false);
    return EXIT_NORMAL;
  }
  if (instanceLock == -2) Say("cannot take the game's lock (%s); a second start will not be noticed", why.c_str());
  PlatLockRelease(startupLock);
  PlatSetCurrentFolder(g_ExeFolderReal);
  g_ProjectFolderReal = g_ExeFolderReal;
  if (!PlatformInit(nullptr)) {
    // A display that cannot be opened ends the start: a game run where nobody sees it would
    // hold the game's lock for ever.
    if (!PlatformDisplayFailure().empty()) {
      Say("%s", PlatformDisplayFailure().c_str());
      PlatLockRelease(instanceLock);
      return EXIT_ERROR;
    }
    PlatformInit("headless");
  }
  int w, h, bpp, refresh;
  g_Platform->GetDesktopMode(&w, &h, &bpp, &refresh);
  g_DesktopSize = {w, h, bpp, refresh < 60 ? -1 : refresh};
  ResetMessageState();
  g_ExitStatus = EXIT_NORMAL;
  auto endBeforeStart = [&](int code) {
    PlatformQuit();
    PlatLockRelease(instanceLock);
    PlatCatchQuitSignals(false);
    return code;
  };
  if (ReadAppendedBlock(g_ExePathReal) != 0) return endBeforeStart(EXIT_NORMAL);
  bool switchOnly = IsSwitch(g_CommandArgs[1], "/info") || IsSwitch(g_CommandArgs[1], "/kvcfg");
  bool noGame = !switchOnly && !GameFound();
  if (noGame) {
    Say("no game found in %s: it holds no kvbin/ folder and no .kpk pack", g_ExeFolderReal.c_str());
    if (g_GameArgument.empty()) {
      // Nobody named a folder: a usage hint serves better than the notices box.
      if (!firstAsFolder.empty() && FolderHoldsGame(firstAsFolder))
        Say("%s holds a game: start it with kivor --game %s", firstArgument.c_str(), firstArgument.c_str());
      else
        Say("start a game with: kivor --game FOLDER (kivor --help)");
      return endBeforeStart(EXIT_USAGE);
    }
  }
  g_QuitFlag = 0;
  g_Running = 1;
  int8_t started = StartEngine();
  if (started == 0) RunMainLoop();
  Shutdown();
  PlatformQuit();
  PlatLockRelease(instanceLock);
  int signalNumber = PlatQuitSignal();
  PlatCatchQuitSignals(false);
  if (g_RestartRequested) {
    std::vector<std::string> restart{g_ExePathReal};
    if (!g_GameArgument.empty()) restart.insert(restart.end(), {"--game", g_GameArgument});
    PlatStartProcess(restart, false);
  }
  free(g_ScreenBuffer);
  g_ScreenBuffer = nullptr;
  if (noGame) return EXIT_USAGE;
  if (signalNumber) {
    Say("ended by signal %d (%s)", signalNumber, PlatSignalName(signalNumber));
    return 128 + signalNumber;
  }
  if (g_FatalReported && !switchOnly) return EXIT_ERROR;
  if (started < 0 && !switchOnly) {
    Say("the game in %s could not start", g_ExeFolderReal.c_str());
    return EXIT_ERROR;
  }
  return g_ExitStatus;
}
