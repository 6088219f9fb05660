// The whole boundary between the engine and the host system: clock, threads, files, text
// conversion, processes, windows, events and dialogs. Engine code includes only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Backend-independent services (platform/posix/).

// Text: the engine's text is code page 932; the host file system and SDL speak UTF-8.
// Both return false (and leave out empty) when the input is not valid in its encoding.
bool PlatCp932ToUtf8(const char* cp932, size_t length, std::string* out);
bool PlatUtf8ToCp932(const char* utf8, size_t length, std::string* out);

// Paths. The engine names files as Windows does: '\' separators, ASCII case ignored,
// code page 932 bytes. These turn such a name into the real UTF-8 path on disk.
// `PlatResolvePath` resolves `name` below `base` (a real folder, or "" for the current
// folder; an absolute `name` ignores it): every component is matched without regard to case
// and the real spelling is returned. Returns false when some component does not exist, and
// then `out` holds the best guess (existing prefix plus the remaining components as given),
// which is what a caller creating a new file should use.
bool PlatResolvePath(const std::string& base, const char* name, std::string* out);
// The one absolute path of an existing file or folder, with no link, "." or ".." left in it;
// the path as given when it cannot be resolved.
std::string PlatCanonicalPath(const std::string& realPath);
bool PlatFileExists(const std::string& realPath);   // a regular file
bool PlatFolderExists(const std::string& realPath);
bool PlatIsProgramFile(const std::string& realPath);   // a regular file the user may execute
std::string PlatExecutablePath();     // real path of the running program
std::string PlatAppDataFolder();      // XDG data home, no trailing '/'
std::string PlatDocumentsFolder();    // XDG documents folder, no trailing '/'
std::string PlatConfigFolder();       // XDG config home, no trailing '/'
std::string PlatCurrentFolder();
bool PlatSetCurrentFolder(const std::string& realPath);
// The current folder the program was started in (the start-up moves to the game folder): what a
// relative path given on the command line or in the environment is taken from.
std::string PlatStartFolder();
// Sorted names (real spelling) of the entries of a folder; folders get a trailing '/'.
bool PlatListFolder(const std::string& realPath, std::vector<std::string>* names);

// Whole-file and stream I/O on real paths. A PlatFile is owned by its opener and closed with
// PlatFileClose. Modes are "rb", "wb", "ab", "r+b". Writing (like making a folder or renaming
// into one) walks the path a name at a time and follows a link on the way only when the link
// and the place it leads to belong to this user or the system: a link someone else planted
// never takes a written file elsewhere (errno EACCES).
struct PlatFile;
PlatFile* PlatFileOpen(const std::string& realPath, const char* mode);
// A new, empty file beside `target` under a name of this writer's own (the process and a
// counter), opened "wb"; its path goes to `temporary`. Two writers of one target never share
// a temporary file. Null (errno set) when it cannot be made.
PlatFile* PlatFileCreateTemporary(const std::string& target, std::string* temporary);
const std::string& PlatFilePath(PlatFile* f);   // the path it was opened by
int64_t PlatFileSize(PlatFile* f);
bool PlatFileSeek(PlatFile* f, int64_t offset);
size_t PlatFileRead(PlatFile* f, void* buffer, size_t bytes);
size_t PlatFileWrite(PlatFile* f, const void* buffer, size_t bytes);
bool PlatFileFlush(PlatFile* f);      // to the device, not just the C library
bool PlatFileWriteFailed(PlatFile* f);   // some write on it came up short (a full disk, a bad device)
// Test hook: after `bytes` more bytes every file write fails as on a full disk (-1: never).
void PlatSimulateDiskFull(int64_t bytes);
void PlatFileClose(PlatFile* f);
// Replaces `to` with `from` in one step (both on one file system), the folder synced after.
bool PlatRenameReplace(const std::string& from, const std::string& to);
bool PlatDeleteFile(const std::string& realPath);
bool PlatCreateFolder(const std::string& realPath);
bool PlatDeleteFolder(const std::string& realPath);   // only when empty

// Processes: the program and its arguments as separate strings; never through a shell.
// With wait set, returns the exit status (or -1); otherwise 0 once started, -1 on failure.
int PlatStartProcess(const std::vector<std::string>& argv, bool wait);

// Named locks between processes of one user, in place of named mutexes: the lock is held
// until released (which removes its file) or until the process ends. With `wait`, waits while
// another process holds it. Returns a lock id (>= 0) when taken, -1 when another process
// holds it, -2 when the lock file cannot be made or opened (`why` then says why). The lock
// files lie in the user's private folder below /tmp, whatever the environment says, so every
// start of one user finds the same lock.
int PlatLockAcquire(const std::string& name, bool wait = false, std::string* why = nullptr);
void PlatLockRelease(int lockId);
// Whether a folder is fit for one user's private files: a real folder (not a link) owned by
// `owner` that no other user may write; otherwise `why` says what is wrong.
bool PlatCheckPrivateFolder(const std::string& folder, uint32_t owner, std::string* why);
// Test hook: the folder below which each user's private folder "kivor-UID" is made (the lock
// files, and the home of a user who has none); "" gives back /tmp.
void PlatSetPrivateFolderBase(const std::string& base);

// While caught (on), SIGTERM, SIGINT and SIGHUP ask for a clean end instead of killing the
// process: PlatQuitSignal gives the number of the first such signal received since the call
// (0: none). A second one ends the process at once. The other signals whose default ends a
// program (SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM and the like) still end it so, but first remove
// the files of the locks held and say so on stderr, as a second quit signal does. Off gives
// them all their default action back.
void PlatCatchQuitSignals(bool on);
int PlatQuitSignal();
const char* PlatSignalName(int sig);   // "SIGTERM", or "?" for one this program does not name
// For a program whose output may go nowhere; once, before anything is written: a closed
// descriptor 0-2 is opened on /dev/null (so no file opened later takes its number), and a write
// to a pipe whose reader has gone fails instead of ending the program with SIGPIPE. Programs
// it starts get SIGPIPE's default back.
void PlatGuardStandardStreams();

// A program the caller watches until it ends: an id (>= 0) once started, -1 on failure.
// PlatProcessEnded is true once it has ended (and then forgets the id).
int PlatStartWatchedProcess(const std::vector<std::string>& argv);
bool PlatProcessEnded(int processId);

// Named shared memory between this program and a program it starts. A name is scoped to the
// creating process, so two runs never meet: the creator makes the block (zero-filled,
// read-write) and its child opens the same name with PlatSharedMemoryOpenParent. Closing
// unmaps; the creator's close also removes the name.
struct PlatSharedMemory;
PlatSharedMemory* PlatSharedMemoryCreate(const char* name, size_t bytes);
PlatSharedMemory* PlatSharedMemoryOpenParent(const char* name, size_t bytes);
uint8_t* PlatSharedMemoryData(PlatSharedMemory* m);
void PlatSharedMemoryClose(PlatSharedMemory* m);

// Shared libraries, looked up by file name; entry points by name.
void* PlatLoadLibrary(const std::string& realPath);
void* PlatLibrarySymbol(void* library, const char* name);
void PlatFreeLibrary(void* library);

// Host facts. The local time and the memory status come through the driver record (so the
// headless backend can stand in fixed values): engine code calls PlatGetLocalTime and
// PlatGetMemoryStatus below; PlatHost* are the host's own readers that the backends use.
struct PlatLocalTime {
  int year, month, dayOfWeek, day, hour, minute, second, milliseconds;   // dayOfWeek 0 = Sunday
};
PlatLocalTime PlatHostLocalTime();
int PlatProcessorCount();
struct PlatMemoryStatus {
  uint64_t totalPhysical, availablePhysical;
};
PlatMemoryStatus PlatHostMemoryStatus();

// Auto-reset events, the pixel workers' hand-off. Safe from any thread.
struct PlatEvent;
PlatEvent* PlatEventCreate(bool signalled);
void PlatEventSet(PlatEvent* e);
void PlatEventReset(PlatEvent* e);
void PlatEventWait(PlatEvent* e);     // no time-out; clears the event as it returns
void PlatEventDestroy(PlatEvent* e);

// ---------------------------------------------------------------------------------------------
// Backend services: one driver record, chosen at start-up (platform/sdl/, platform/headless/).

// Window events in the engine's vocabulary. Keys are Windows virtual-key codes (1..255).
enum PlatEventType : uint8_t {
  PLAT_EVENT_NONE,
  PLAT_EVENT_QUIT,          // the user asked the whole program to end; key = the exit status a
                            // backend asks for when it ends the run itself, 0 otherwise
  PLAT_EVENT_CLOSE,         // window's close button
  PLAT_EVENT_FOCUS_GAINED,
  PLAT_EVENT_FOCUS_LOST,
  PLAT_EVENT_MINIMIZED,
  PLAT_EVENT_MAXIMIZED,
  PLAT_EVENT_RESTORED,
  PLAT_EVENT_RESIZED,       // x, y = new client size in pixels
  PLAT_EVENT_MOVED,         // x, y = new position
  PLAT_EVENT_EXPOSED,
  PLAT_EVENT_KEY_DOWN,      // key = virtual-key code
  PLAT_EVENT_KEY_UP,
  PLAT_EVENT_MOUSE_MOVE,    // x, y = client pixels
  PLAT_EVENT_MOUSE_DOWN,    // button 0 left, 1 right, 2 middle, 3/4 extra; clicks = 2 on a double click
  PLAT_EVENT_MOUSE_UP,
  PLAT_EVENT_WHEEL,         // wheel = signed notches, 120 per notch as Windows counts
  PLAT_EVENT_DROP_FILE,     // text = the dropped paths of one drop (UTF-8), '\n' between them
  PLAT_EVENT_JOY_ADDED,     // joystick = device index
  PLAT_EVENT_JOY_REMOVED,
  PLAT_EVENT_MENU_COMMAND,  // key = id of the menu-bar item chosen in the window
  PLAT_EVENT_TRAY,          // the tray icon: button 0 left press, 1 right release; clicks = 2 on a double click
  PLAT_EVENT_MOVIE_END,     // the movie of this window played to its end (see PlatformMediaDriver)
};

struct PlatEventRecord {
  PlatEventType type;
  int window;               // window slot 0..3, -1 for none
  int key;
  int x, y;
  int button, clicks;
  int wheel;
  int joystick;
  std::string text;
};

struct PlatRect {
  int x, y, width, height;
};

struct PlatDisplayMode {
  int width, height, bitsPerPixel, refreshRate;
};

struct PlatJoystickState {
  uint32_t x, y;
  uint32_t buttons;
};

struct PlatGpuDriver;   // platform/gpu.h

// Message box buttons and answers, in Windows' numbering so callers can keep their logic.
enum : int { PLAT_MB_OK = 0, PLAT_MB_OKCANCEL = 1, PLAT_MB_YESNOCANCEL = 3, PLAT_MB_YESNO = 4 };
enum : int { PLAT_ID_OK = 1, PLAT_ID_CANCEL = 2, PLAT_ID_YES = 6, PLAT_ID_NO = 7 };
// Message box icons, numbered as the message-box command numbers them.
enum : int { PLAT_ICON_NONE = 0, PLAT_ICON_INFORMATION = 1, PLAT_ICON_QUESTION = 2, PLAT_ICON_WARNING = 3,
             PLAT_ICON_ERROR = 4 };

// The driver record. Every slot is filled (`PlatformInit` gives unset slots safe defaults), so
// callers never test for null. Unless a slot says otherwise, call it from the main thread.
struct PlatformDriver {
  const char* name;
  bool (*Init)();
  void (*Quit)();

  // Milliseconds, wrapping at 2^32, from an arbitrary origin. Any thread.
  uint32_t (*GetTicks)();
  // Sleep at least `ms` milliseconds. Any thread.
  void (*Sleep)(uint32_t ms);

  // System-modal dialog with a text, up to four buttons (labels UTF-8, a '&' marks the access
  // key and is not shown) and an icon (PLAT_ICON_*). Returns the index of the chosen button;
  // closing the box chooses `cancelIndex`.
  int (*ChoiceBox)(const char* caption, const char* text, const char* const* labels, int count,
                   int defaultIndex, int cancelIndex, int icon);

  // Windows: slot 0..3. Sizes in client pixels. Create returns false on failure.
  bool (*CreateWindow)(int slot, int width, int height, const char* titleUtf8);
  void (*DestroyWindow)(int slot);
  void (*ShowWindow)(int slot, bool show);
  void (*SetWindowTitle)(int slot, const char* titleUtf8);
  void (*SetWindowSize)(int slot, int width, int height);
  // Puts a BGRA picture (rows of `pitch` bytes, top row first) into the rectangle dx, dy,
  // dw x dh of the window's client area, stretched (nearest pixel) when the sizes differ, and
  // shows the client area. The rest of the client area keeps what it showed (black at first
  // and after every size change). The picture is copied. Any thread: a backend whose window
  // system is bound to the main thread shows the picture at the main thread's next poll.
  void (*PresentFrame)(int slot, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy,
                       int dw, int dh);
  // PresentFrame of an unstretched picture at dx, dy of which only `changed` (picture pixels)
  // may differ from the picture presented there last: the backend copies just that part while
  // it still holds that picture at the same place and size, and the whole picture otherwise.
  void (*PresentFrameChanges)(int slot, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy,
                              const PlatRect& changed);
  // The desktop's mode: size in pixels, bits per pixel and refresh rate in Hz.
  void (*GetDesktopMode)(int* width, int* height, int* bitsPerPixel, int* refreshRate);
  // Takes the next pending event; false when there is none.
  bool (*PollEvent)(PlatEventRecord* out);

  // Window placement. The rectangle is the client area in desktop coordinates.
  bool (*GetWindowRect)(int slot, PlatRect* out);
  void (*SetWindowPosition)(int slot, int x, int y);
  // Smallest and largest client size the user may drag the window to (0 = no limit).
  void (*SetWindowSizeLimits)(int slot, int minWidth, int minHeight, int maxWidth, int maxHeight);
  void (*SetWindowResizable)(int slot, bool resizable);
  void (*RestoreWindow)(int slot);   // leaves the minimised or maximised state
  void (*RaiseWindow)(int slot);     // to the front, with the input focus
  // The window follows the mouse while the left button stays down, as a caption drag does
  // (the window manager moves it where it can).
  void (*BeginWindowDrag)(int slot);

  // Monitors (desktop rectangles, in the system's order) and their display modes. Each fills
  // at most `max` entries and returns how many there are in all.
  int (*GetMonitors)(PlatRect* out, int max);
  int (*GetWindowMonitor)(int slot);   // the monitor under the window's centre, 0 when unknown
  int (*GetDisplayModes)(int monitor, PlatDisplayMode* out, int max);
  // Full screen on the window's monitor. With a mode, the monitor switches to it (false when
  // refused, and the window stays as it was); without one it keeps its mode. Off restores the
  // desktop mode and the window's previous size.
  bool (*SetFullScreen)(int slot, bool on, const PlatDisplayMode* mode);

  // The mouse cursor (over the game windows).
  void (*ShowCursor)(bool show);
  // The system shapes, numbered as the cursor command does: 0 arrow, 1 I-beam, 2 wait,
  // 3 cross, 4 up arrow, 5 size NW-SE, 6 size NE-SW, 7 size W-E, 8 size N-S, 9 size all,
  // 10 no, 11 hand, 12 arrow with wait, 13 help.
  void (*SetCursorShape)(int shape);
  // A cursor from a BGRA picture (straight alpha); false when it cannot be made.
  bool (*SetCustomCursor)(const uint8_t* bgra, int width, int height, int hotX, int hotY);
  void (*WarpMouse)(int slot, int x, int y);   // client coordinates

  // Joysticks: how many the system has (at most 16 are read) and one reading of joystick
  // `index`: axes 0..65535 with the centre at exactly 0x7FFF, one bit per button.
  int (*JoystickCount)();
  bool (*ReadJoystick)(int index, PlatJoystickState* out);
  // Host facts; any thread.
  PlatLocalTime (*GetLocalTime)();
  PlatMemoryStatus (*GetMemoryStatus)();
  // The pointer's position in desktop pixels; false when it cannot be read.
  bool (*GetCursorPosition)(int* x, int* y);

  // The desktop clipboard's text (UTF-8). Get is false when the clipboard holds no text.
  bool (*SetClipboardText)(const char* utf8);
  bool (*GetClipboardText)(std::string* utf8);
  // A modal dialog asking for one line of text: caption, prompt and default text in UTF-8, the
  // answer at most `maxLength` bytes in code page 932 (as the engine stores it) when above 0.
  // Left only with OK, so it always answers; false only when no dialog could be shown.
  bool (*TextInputBox)(const char* caption, const char* prompt, const char* defaultText, int maxLength,
                       std::string* out);

  // The GPU device service (platform/gpu.h); a record, not a function.
  PlatGpuDriver* gpu;
};

// The chosen driver; valid after PlatformInit. `which` is "sdl", "headless" or null/"" for the
// default: the KIVOR_PLATFORM environment variable, else sdl when a display can be opened, else
// headless.
extern PlatformDriver* g_Platform;
bool PlatformInit(const char* which);
// Why the last PlatformInit failed when it found SDL but could not open the display (the
// display's name and SDL's reason, one line); empty otherwise.
const std::string& PlatformDisplayFailure();
void PlatformQuit();

// The connection to the display lost (the X server ended or cut off) ends the process, status
// 1, with a line on stderr. First `stop` runs, once, on the thread whose call met the loss, so
// the engine can let its threads finish what they are writing; nothing may be shown any more.
void PlatSetDisplayLostHandler(void (*stop)());

// A message box of the classic kinds (PLAT_MB_*), answered with a PLAT_ID_* value. The buttons
// are labelled in the system's language (PlatBoxLabel); `defaultIndex` is the button Enter takes.
int PlatMessageBox(const char* captionUtf8, const char* textUtf8, int buttons, int icon = PLAT_ICON_NONE,
                   int defaultIndex = 0);
// The label of a standard box button (PLAT_ID_*) with its access key, in the system's language:
// the first of LC_ALL, LC_MESSAGES and LANG that is set names it, Japanese for "ja...", English
// otherwise. Any thread.
const char* PlatBoxLabel(int id);
// Writes a box's caption and text to stderr as one UTF-8 line, "[caption] text" with the text's
// line breaks shown as " / ". Every backend's ChoiceBox calls it before asking, so what a box
// says is read even where the host cannot show one. Any thread.
void PlatEchoBox(const char* captionUtf8, const char* textUtf8);
// Writes the answer a text-input box took to stderr the same way, as "[caption] > answer". Every
// backend's TextInputBox echoes its prompt with PlatEchoBox before asking and its answer with
// this after. Any thread.
void PlatEchoAnswer(const char* captionUtf8, const char* answerUtf8);

// ---------------------------------------------------------------------------------------------
// Desktop services beyond the basic window slots: menus, the tray icon and window attributes.
// Chosen together with the driver (same backend); every slot is filled. Main thread only.

// One item of a menu description. A description is a plain list: menu 0 is the top menu, and an
// item that opens a sub-menu names that menu's number; items appear in list order per menu.
struct PlatMenuItem {
  int32_t menu;          // the menu the item is in
  int32_t submenu;       // the menu it opens, -1 for none
  uint32_t id;           // what choosing it reports
  uint8_t separator;     // a line; caption, id and sub-menu unused
  uint8_t enabled;       // 0 greyed out
  uint8_t checked;
  std::string caption;   // UTF-8, '&' marks the access key
};

enum : int { PLAT_Z_TOP = 0, PLAT_Z_TOPMOST = 1, PLAT_Z_BOTTOM = 2, PLAT_Z_BEHIND_MAIN = 3, PLAT_Z_NOT_TOPMOST = 4 };

struct PlatformDesktop {
  // The window's menu bar from a description (count 0 removes it). A chosen item arrives as
  // PLAT_EVENT_MENU_COMMAND.
  void (*SetMenuBar)(int slot, const PlatMenuItem* items, int count);
  // Shows menu `menu` of a description as a pop-up at a desktop point, owned by the window, and
  // waits for the choice: the chosen item's id, 0 when the user chose nothing.
  uint32_t (*PopupMenu)(int slot, const PlatMenuItem* items, int count, int menu, int x, int y);
  // Shows or updates the tray icon: a 16 x 16 BGRA picture (straight alpha), or null for the
  // program's icon, and a tip (UTF-8). Clicks arrive as PLAT_EVENT_TRAY for window 0. False
  // when the host has no tray.
  bool (*ShowTrayIcon)(const uint8_t* bgra16x16, const char* tipUtf8);
  void (*RemoveTrayIcon)();
  // The tray icon's menu: menu `menu` of a description (count 0: none). A tray that draws menus
  // itself shows it on the icon's right click and reports the chosen item as a
  // PLAT_EVENT_MENU_COMMAND for window 0; other trays report the click (PLAT_EVENT_TRAY) and the
  // engine pops the menu up itself.
  void (*SetTrayMenu)(const PlatMenuItem* items, int count, int menu);
  // Minimise and maximise as the caption buttons do. A minimise is reported as an event; a
  // maximise asked for here need not be (SDL does not), and a window the user may not resize
  // may stay as it is (a window manager refuses it).
  void (*MinimizeWindow)(int slot);
  void (*MaximizeWindow)(int slot);
  bool (*IsWindowMinimized)(int slot);
  // Stacking order, PLAT_Z_*: behind-main places the window right behind window 0.
  void (*SetWindowZOrder)(int slot, int order);
  // Whether the caption shows a maximise button.
  void (*SetMaximizeBox)(int slot, bool shown);
  // Flashes the taskbar button `count` times, `intervalMs` apart (0: the cursor blink rate).
  void (*FlashWindow)(int slot, int count, int intervalMs);
  // Limits the window's visible shape to a set of client rectangles (count 0: the whole window).
  void (*SetWindowShape)(int slot, const PlatRect* rects, int count);
  // A window without frame has no caption and no border (before it is first shown).
  void (*SetWindowFrame)(int slot, bool framed);
};

extern PlatformDesktop* g_PlatformDesktop;

inline uint32_t PlatGetTicks() { return g_Platform->GetTicks(); }
inline void PlatSleep(uint32_t ms) { g_Platform->Sleep(ms); }
inline PlatLocalTime PlatGetLocalTime() { return g_Platform->GetLocalTime(); }
inline PlatMemoryStatus PlatGetMemoryStatus() { return g_Platform->GetMemoryStatus(); }

// ---------------------------------------------------------------------------------------------
// Movies and Flash content in child areas of a game window, chosen with the backend driver.
// Rectangles are client pixels of the parent window. Main thread only.
struct PlatformMediaDriver {
  // One movie at a time. Open plays the file (UTF-8 path) at once, replacing any open movie;
  // false when it cannot be played. Volume is an attenuation in 1/100 dB, -10000 (silent)..0.
  // A movie that plays to its end posts PLAT_EVENT_MOVIE_END to its parent window and stays
  // open (stopped) until closed.
  bool (*MovieOpen)(int slot, const char* pathUtf8, int x, int y, int width, int height, int volume);
  void (*MovieSetRect)(int x, int y, int width, int height);
  void (*MovieSetVolume)(int volume);
  void (*MoviePause)();            // stops where it is; Resume is a new Open
  void (*MovieClose)();            // nothing when none is open
  bool (*MovieIsPlaying)();
  uint32_t (*MoviePosition)();     // milliseconds played

  // Flash: a child area "kv_fls" (a handle above 0, or 0 when it cannot be made) and the one
  // player control in it. LoadFlashPlayer says whether the host has a Flash player at all.
  int (*FlashOpenWindow)(int slot, int x, int y, int width, int height);
  void (*FlashMoveWindow)(int handle, int x, int y, int width, int height);
  void (*FlashCloseWindow)(int handle);
  bool (*LoadFlashPlayer)();
  // Creates the control in the area, gives it the movie (UTF-8 path) and plays it; false when
  // no control was made. `totalFrames` receives the movie's frame count.
  bool (*FlashCreateControl)(int handle, const char* pathUtf8, int32_t* totalFrames);
  void (*FlashReleaseControl)();
  bool (*FlashIsPlaying)();
  int32_t (*FlashCurrentFrame)();
  // A variable of the movie's root as an integer; false when it is missing or not an integer.
  bool (*FlashGetVariable)(const char* nameUtf8, int64_t* value);
};

extern PlatformMediaDriver* g_PlatformMedia;
