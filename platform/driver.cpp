// The platform's start-up: the heap's shape for pictures, then the backend driver, whose empty
// slots get safe defaults.
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/gl/gpu_gl.h"
#include "platform/gpu.h"
#include "platform/headless/headless.h"
#include "platform/movie/movie_player.h"
#include "platform/sdl/sdl_driver.h"

PlatformDriver* g_Platform = &g_HeadlessDriver;
PlatformMediaDriver* g_PlatformMedia = &g_HeadlessMediaDriver;
PlatformDesktop* g_PlatformDesktop = &g_HeadlessDesktop;

namespace {

PlatformDriver g_Active;
PlatformDesktop g_ActiveDesktop;

void FillDesktopDefaults(PlatformDesktop* d) {
  const PlatformDesktop& h = g_HeadlessDesktop;
  if (!d->SetMenuBar) d->SetMenuBar = h.SetMenuBar;
  if (!d->PopupMenu) d->PopupMenu = h.PopupMenu;
  if (!d->ShowTrayIcon) d->ShowTrayIcon = h.ShowTrayIcon;
  if (!d->RemoveTrayIcon) d->RemoveTrayIcon = h.RemoveTrayIcon;
  if (!d->SetTrayMenu) d->SetTrayMenu = h.SetTrayMenu;
  if (!d->MinimizeWindow) d->MinimizeWindow = h.MinimizeWindow;
  if (!d->MaximizeWindow) d->MaximizeWindow = h.MaximizeWindow;
  if (!d->IsWindowMinimized) d->IsWindowMinimized = h.IsWindowMinimized;
  if (!d->SetWindowZOrder) d->SetWindowZOrder = h.SetWindowZOrder;
  if (!d->SetMaximizeBox) d->SetMaximizeBox = h.SetMaximizeBox;
  if (!d->FlashWindow) d->FlashWindow = h.FlashWindow;
  if (!d->SetWindowShape) d->SetWindowShape = h.SetWindowShape;
  if (!d->SetWindowFrame) d->SetWindowFrame = h.SetWindowFrame;
}

// Defaults for slots a backend leaves empty: harmless no-ops, taken from the headless
// backend where the slot has to answer something.
void FillDefaults(PlatformDriver* d) {
  const PlatformDriver& h = g_HeadlessDriver;
  if (!d->Init) d->Init = h.Init;
  if (!d->Quit) d->Quit = h.Quit;
  if (!d->GetTicks) d->GetTicks = h.GetTicks;
  if (!d->Sleep) d->Sleep = h.Sleep;
  if (!d->ChoiceBox) d->ChoiceBox = h.ChoiceBox;
  if (!d->CreateWindow) d->CreateWindow = h.CreateWindow;
  if (!d->DestroyWindow) d->DestroyWindow = h.DestroyWindow;
  if (!d->ShowWindow) d->ShowWindow = h.ShowWindow;
  if (!d->SetWindowTitle) d->SetWindowTitle = h.SetWindowTitle;
  if (!d->SetWindowSize) d->SetWindowSize = h.SetWindowSize;
  if (!d->PresentFrame) d->PresentFrame = h.PresentFrame;
  if (!d->PresentFrameChanges) d->PresentFrameChanges = h.PresentFrameChanges;
  if (!d->GetDesktopMode) d->GetDesktopMode = h.GetDesktopMode;
  if (!d->PollEvent) d->PollEvent = h.PollEvent;
  if (!d->GetWindowRect) d->GetWindowRect = h.GetWindowRect;
  if (!d->SetWindowPosition) d->SetWindowPosition = h.SetWindowPosition;
  if (!d->SetWindowSizeLimits) d->SetWindowSizeLimits = h.SetWindowSizeLimits;
  if (!d->SetWindowResizable) d->SetWindowResizable = h.SetWindowResizable;
  if (!d->RestoreWindow) d->RestoreWindow = h.RestoreWindow;
  if (!d->RaiseWindow) d->RaiseWindow = h.RaiseWindow;
  if (!d->BeginWindowDrag) d->BeginWindowDrag = h.BeginWindowDrag;
  if (!d->GetMonitors) d->GetMonitors = h.GetMonitors;
  if (!d->GetWindowMonitor) d->GetWindowMonitor = h.GetWindowMonitor;
  if (!d->GetDisplayModes) d->GetDisplayModes = h.GetDisplayModes;
  if (!d->SetFullScreen) d->SetFullScreen = h.SetFullScreen;
  if (!d->ShowCursor) d->ShowCursor = h.ShowCursor;
  if (!d->SetCursorShape) d->SetCursorShape = h.SetCursorShape;
  if (!d->SetCustomCursor) d->SetCustomCursor = h.SetCustomCursor;
  if (!d->WarpMouse) d->WarpMouse = h.WarpMouse;
  if (!d->JoystickCount) d->JoystickCount = h.JoystickCount;
  if (!d->ReadJoystick) d->ReadJoystick = h.ReadJoystick;
  if (!d->GetLocalTime) d->GetLocalTime = PlatHostLocalTime;
  if (!d->GetMemoryStatus) d->GetMemoryStatus = PlatHostMemoryStatus;
  if (!d->GetCursorPosition) d->GetCursorPosition = h.GetCursorPosition;
  if (!d->SetClipboardText) d->SetClipboardText = h.SetClipboardText;
  if (!d->GetClipboardText) d->GetClipboardText = h.GetClipboardText;
  if (!d->TextInputBox) d->TextInputBox = h.TextInputBox;
  if (!d->gpu) d->gpu = PlatChosenGpu();
}

bool Use(const PlatformDriver& d, const PlatformDesktop& desktop, PlatformMediaDriver* media) {
  g_Active = d;
  FillDefaults(&g_Active);
  if (!g_Active.Init()) return false;
  g_Platform = &g_Active;
  g_ActiveDesktop = desktop;
  FillDesktopDefaults(&g_ActiveDesktop);
  g_PlatformDesktop = &g_ActiveDesktop;
  g_PlatformMedia = media;
  return true;
}

}  // namespace

namespace {

// Pictures are the big allocations, and a start writes several megabytes of fresh memory before
// its first frame, which the system hands out a 4 KB fault at a time (on some virtual machines
// tens of microseconds each). So pictures come from the main heap rather than a mapping of their
// own handed back at every free, and the heap's first 64 MB lie on huge pages, which arrive
// 2 MB a fault; freed pictures are reused rather than faulted in again. Once per process.
void PrepareHeap() {
  static bool done;
  if (done) return;
  done = true;
  constexpr uintptr_t HUGE_PAGE = 2u << 20;
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  mallopt(M_TOP_PAD, 64 << 20);
  void* probe = malloc(HUGE_PAGE);   // grows the heap by the pad
  uintptr_t start = (reinterpret_cast<uintptr_t>(probe) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  free(probe);
  uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0)) & ~(HUGE_PAGE - 1);
  // Under a sanitizer's allocator the probe lies elsewhere and nothing is advised.
  if (probe && end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// The display the environment names: X's, else Wayland's; empty when none.
std::string NamedDisplay() {
  const char* x = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  return x && *x ? x : wayland && *wayland ? wayland : "";
}

std::string g_DisplayFailure;

// The SDL backend; a display it found but could not open is noted as the reason.
bool UseSdl() {
  if (Use(g_SdlDriver, g_SdlDesktop, &g_SdlMediaDriver)) return true;
  if (!SdlVideoFailure().empty()) {
    std::string display = NamedDisplay();
    g_DisplayFailure = "cannot open the display " + (display.empty() ? std::string("(none named)") : display) +
                       " (" + SdlVideoFailure() + ")";
  }
  return false;
}

}  // namespace

bool PlatformInit(const char* which) {
  PrepareHeap();
  g_DisplayFailure.clear();
  if (!which || !*which) which = getenv("KIVOR_PLATFORM");
  if (which && !strcmp(which, "headless")) return Use(g_HeadlessDriver, g_HeadlessDesktop, &g_HeadlessMediaDriver);
  if (which && !strcmp(which, "sdl")) return UseSdl();
  if (!NamedDisplay().empty()) {
    if (UseSdl()) return true;
    // A display that is named but cannot be opened is no place for a game nobody would see.
    if (!g_DisplayFailure.empty()) return false;
  }
  return Use(g_HeadlessDriver, g_HeadlessDesktop, &g_HeadlessMediaDriver);
}

const std::string& PlatformDisplayFailure() { return g_DisplayFailure; }

PlatGpuDriver* PlatGpu() { return g_Platform->gpu; }

void PlatformQuit() {
  // The movie's thread and voice end with the game, whichever backend played it.
  PlatMovieClose();
  g_Platform->Quit();
  g_Platform = &g_HeadlessDriver;
  g_PlatformDesktop = &g_HeadlessDesktop;
  g_PlatformMedia = &g_HeadlessMediaDriver;
}

namespace {

// The length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), 0 when broken.
size_t Utf8SequenceLength(const uint8_t* p, size_t left) {
  uint8_t b = p[0];
  size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || n > left) return 0;
  for (size_t k = 1; k < n; k++)
    if ((p[k] & 0xC0) != 0x80) return 0;
  uint32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
  for (size_t k = 1; k < n; k++) c = c << 6 | (p[k] & 0x3F);
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return n;
}

// A box text on one line: its line breaks become " / ", other control bytes spaces and broken
// UTF-8 bytes '?', so a terminal shows it whole and a log keeps one box per line.
void AppendOneLine(std::string* line, const char* text) {
  if (!text) return;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
  size_t left = strlen(text);
  const size_t start = line->size();
  bool pendingBreak = false;
  while (left > 0) {
    if (*p == '\n' || *p == '\r') {
      pendingBreak = true;
      p++, left--;
      continue;
    }
    if (pendingBreak) {
      // Breaks at the start are dropped; runs of them are one.
      if (line->size() > start) *line += " / ";
      pendingBreak = false;
    }
    size_t n = Utf8SequenceLength(p, left);
    if (n == 0) {
      *line += '?';
      n = 1;
    } else if (n == 1 && (*p < 0x20 || *p == 0x7F)) {
      *line += ' ';
    } else {
      line->append(reinterpret_cast<const char*>(p), n);
    }
    p += n, left -= n;
  }
}

}  // namespace

void PlatEchoBox(const char* caption, const char* text) {
  std::string line = "[";
  AppendOneLine(&line, caption);
  line += "] ";
  AppendOneLine(&line, text);
  line += '\n';
  // One write, so the lines of boxes from two threads never mix.
  fwrite(line.data(), 1, line.size(), stderr);
  fflush(stderr);
}

void PlatEchoAnswer(const char* caption, const char* answer) {
  std::string line = "[";
  AppendOneLine(&line, caption);
  line += "] > ";
  AppendOneLine(&line, answer);
  line += '\n';
  fwrite(line.data(), 1, line.size(), stderr);
  fflush(stderr);
}

const char* PlatBoxLabel(int id) {
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    locale = getenv(name);
    if (locale && locale[0]) break;
  }
  bool japanese = locale && strncmp(locale, "ja", 2) == 0;
  switch (id) {
    case PLAT_ID_CANCEL: return japanese ? "キャンセル" : "Cancel";
    case PLAT_ID_YES: return japanese ? "はい(&Y)" : "&Yes";
    case PLAT_ID_NO: return japanese ? "いいえ(&N)" : "&No";
    default: return "OK";
  }
}

int PlatMessageBox(const char* caption, const char* text, int buttons, int icon, int defaultIndex) {
  int ids[3] = {PLAT_ID_OK, PLAT_ID_CANCEL, 0};
  int count = 2;
  switch (buttons) {
    case PLAT_MB_OKCANCEL: break;
    case PLAT_MB_YESNO: ids[0] = PLAT_ID_YES, ids[1] = PLAT_ID_NO; break;
    case PLAT_MB_YESNOCANCEL: ids[0] = PLAT_ID_YES, ids[1] = PLAT_ID_NO, ids[2] = PLAT_ID_CANCEL, count = 3; break;
    default: count = 1; break;
  }
  const char* labels[3];
  for (int i = 0; i < count; i++) labels[i] = PlatBoxLabel(ids[i]);
  if (defaultIndex < 0 || defaultIndex >= count) defaultIndex = 0;
  // Closing the box answers its last button: Cancel, No, or the one OK.
  int i = g_Platform->ChoiceBox(caption, text, labels, count, defaultIndex, count - 1, icon);
  return ids[i >= 0 && i < count ? i : count - 1];
}
