// Numbered messages, the error dialog, message boxes, the trace sink and the debug log.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "app/message_texts.h"
#include "platform/platform.h"

MessageTable g_MessageTable;
const char* g_ErrorFile;
int32_t g_ErrorLine = 1;
uint8_t g_ErrorDialogShown;
uint8_t g_FatalReported;
const char* g_ErrorDialogTitle = "KIVOR Debug Info.";
uint8_t g_DebugMode;
uint8_t g_DebugLogHeaderDone;
bool (*g_ScriptLocation)(const char** file, int32_t* line);

namespace {

// The texts are written in UTF-8 and turned into the engine's code page once, on first use, so
// every caller sees code page 932 like the table's texts.
const auto& kBuiltinTexts = kBuiltinMessageTexts;
constexpr int kBuiltinCount = sizeof kBuiltinMessageTexts / sizeof kBuiltinMessageTexts[0];
const auto& kOwnTexts = kOwnMessageTexts;
constexpr int kOwnCount = sizeof kOwnMessageTexts / sizeof kOwnMessageTexts[0];
const char* const kUnknownIdText =
    "[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。";
const char* const kLocationPrefix = "[対象ファイル]\n%s\n\n[場所]\n%d 行目\n\n[内容]\n\n";

struct Cp932Texts {
  std::string builtin[kBuiltinCount];
  std::string own[kOwnCount];
  std::string unknown, prefix;
  Cp932Texts() {
    for (int i = 0; i < kBuiltinCount; i++) Convert(kBuiltinTexts[i].utf8, &builtin[i]);
    for (int i = 0; i < kOwnCount; i++) Convert(kOwnTexts[i].utf8, &own[i]);
    Convert(kUnknownIdText, &unknown);
    Convert(kLocationPrefix, &prefix);
  }
  static void Convert(const char* utf8, std::string* out) {
    if (!PlatUtf8ToCp932(utf8, strlen(utf8), out)) *out = utf8;
  }
};

const Cp932Texts& Texts() {
  static const Cp932Texts texts;
  return texts;
}

char g_MessageText[MESSAGE_TEXT_BYTES];
char g_FinalText[MESSAGE_TEXT_BYTES];
std::string g_LastDialogText;

std::string ToUtf8(const char* cp932) {
  std::string out;
  if (!PlatCp932ToUtf8(cp932, strlen(cp932), &out)) out = cp932;
  return out;
}

// A text from the message table used as a format with no arguments: only "%%" is a
// conversion it may hold, so every other '%' is copied as it stands.
void FormatWithoutArguments(char* dest, size_t destSize, const char* text) {
  size_t o = 0;
  for (size_t i = 0; text[i] && o + 1 < destSize; i++) {
    if (text[i] == '%' && text[i + 1] == '%') i++;
    dest[o++] = text[i];
  }
  dest[o] = 0;
}

// The message about to be shown, by its id, on stderr and in the debug log: the box shows only
// what the game's table says (perhaps no more than the unknown-id text), and a player or an
// author reading the log still learns which message it was. The library notices are no error.
void NameShownMessage(int32_t id, int fatal, const char* text) {
  if (g_ErrorDialogShown || id == 100000) return;
  fprintf(stderr, "kivor: message %d (%s)\n", (int)id, fatal ? "fatal" : "not fatal");
  fflush(stderr);
  if (g_ExeFolderReal.empty()) return;
  char line[MESSAGE_TEXT_BYTES + 64];
  int n = snprintf(line, sizeof line, "message %d (%s): ", (int)id, fatal ? "fatal" : "not fatal");
  const size_t start = n > 0 ? (size_t)n : 0;
  size_t o = start;
  // One line of the log, as a box's echo on stderr is: each run of line breaks within the text
  // becomes " / ".
  bool pendingBreak = false;
  for (size_t i = 0; text[i] && o + 5 < sizeof line; i++) {
    if (text[i] == '\r' || text[i] == '\n') {
      pendingBreak = true;
      continue;
    }
    if (pendingBreak && o > start) {
      memcpy(line + o, " / ", 3);
      o += 3;
    }
    pendingBreak = false;
    if (g_LeadByteTable[(uint8_t)text[i]] && text[i + 1]) line[o++] = text[i++];   // a character stays whole
    line[o++] = text[i];
  }
  line[o] = 0;
  AppendDebugLog(line);
}

void Report(int32_t id, int fatal, bool located, const MessageArg* args, int count) {
  const char* text = located ? BuildLocatedMessage(id, fatal) : BuildMessage(id, fatal);
  if (fatal) g_FatalReported = 1;
  if (args) FormatMessageText(g_FinalText, sizeof g_FinalText, text, args, count);
  else FormatWithoutArguments(g_FinalText, sizeof g_FinalText, text);
  NameShownMessage(id, fatal, g_FinalText);
  ShowErrorDialog(g_FinalText);
}

// Widths and precisions beyond this are cut to it: no message needs more, and a text cannot
// ask for a field larger than the buffers.
constexpr int MAX_FIELD = 256;

// A width or precision written in digits, bounded.
int ReadFieldNumber(const char** p) {
  int n = 0;
  while (**p >= '0' && **p <= '9') {
    if (n <= MAX_FIELD) n = n * 10 + (**p - '0');
    (*p)++;
  }
  return n > MAX_FIELD ? MAX_FIELD : n;
}

int64_t ArgAsInt(const MessageArg& a) {
  if (a.mKind == MessageArg::INT) return a.mInt;
  if (a.mReal != a.mReal) return 0;
  if (a.mReal >= 9.2e18) return INT64_MAX;
  if (a.mReal <= -9.2e18) return INT64_MIN;
  return (int64_t)a.mReal;
}

double ArgAsReal(const MessageArg& a) { return a.mKind == MessageArg::REAL ? a.mReal : (double)a.mInt; }

}  // namespace

size_t FormatMessageText(char* dest, size_t size, const char* format, const MessageArg* args, int count) {
  if (!dest || size == 0) return 0;
  size_t o = 0;
  auto put = [&](const char* text, size_t n) {
    if (n > size - 1 - o) n = size - 1 - o;
    memcpy(dest + o, text, n);
    o += n;
  };
  int next = 0;
  auto take = [&]() -> const MessageArg* { return next < count ? &args[next++] : nullptr; };
  const char* p = format ? format : "";
  while (*p && o + 1 < size) {
    if (*p != '%') {
      put(p++, 1);
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      put(p++, 1);
      continue;
    }
    // The conversion is rebuilt from parts we checked, never passed on as the text wrote it.
    std::string spec = "%";
    bool left = false;
    while (*p && strchr("-+ #0", *p)) {
      if (*p == '-') left = true;
      else if (spec.find(*p) == std::string::npos) spec += *p;
      p++;
    }
    int width = -1, precision = -1;
    if (*p == '*') {
      p++;
      const MessageArg* a = take();
      int64_t w = a ? ArgAsInt(*a) : 0;
      if (w < 0) left = true;
      width = w > MAX_FIELD || w < -MAX_FIELD ? MAX_FIELD : (int)(w < 0 ? -w : w);
    } else if (*p >= '0' && *p <= '9') {
      width = ReadFieldNumber(&p);
    }
    if (*p == '.') {
      p++;
      if (*p == '*') {
        p++;
        const MessageArg* a = take();
        int64_t v = a ? ArgAsInt(*a) : -1;
        precision = v < 0 ? -1 : (int)(v > MAX_FIELD ? MAX_FIELD : v);
      } else {
        precision = ReadFieldNumber(&p);
      }
    }
    // Length: h, hh, l, ll, L, q, j, z, t and the I64, I32 and I forms of the other platform.
    int bits = 32;
    for (;;) {
      if (*p == 'h') bits = bits == 16 ? 8 : 16, p++;
      else if (*p && strchr("lLqjzt", *p)) bits = 64, p++;
      else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') bits = 64, p += 3;
      else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') bits = 32, p += 3;
      else if (*p == 'I') bits = 64, p++;
      else break;
    }
    char conv = *p;
    if (!conv || !strchr("diuoxXcseEfFgGn", conv)) {
      put(start, (size_t)(p - start));   // not a conversion: the text stands as written
      continue;
    }
    p++;
    if (conv == 'n') continue;
    const MessageArg* a = take();
    if (!a) continue;
    if (left) spec.insert(1, "-");
    if (width >= 0) spec += std::to_string(width);
    if (precision >= 0) spec += "." + std::to_string(precision);
    char field[2 * MAX_FIELD + 400];
    // A text given where a number is asked for (or the other way round) prints as what it is.
    if (a->mKind == MessageArg::TEXT || conv == 's') {
      if (a->mKind == MessageArg::TEXT) {
        snprintf(field, sizeof field, (spec + "s").c_str(), a->mText ? a->mText : "");
      } else if (a->mKind == MessageArg::INT) {
        snprintf(field, sizeof field, (spec + "lld").c_str(), (long long)a->mInt);
      } else {
        snprintf(field, sizeof field, (spec + "g").c_str(), a->mReal);
      }
    } else if (strchr("eEfFgG", conv)) {
      snprintf(field, sizeof field, (spec + conv).c_str(), ArgAsReal(*a));
    } else if (conv == 'c') {
      snprintf(field, sizeof field, (spec + "c").c_str(), (int)(unsigned char)ArgAsInt(*a));
    } else if (conv == 'd' || conv == 'i') {
      int64_t v = ArgAsInt(*a);
      long long shown = bits == 64 ? v : bits == 16 ? (int16_t)v : bits == 8 ? (int8_t)v : (int32_t)v;
      snprintf(field, sizeof field, (spec + "lld").c_str(), shown);
    } else {
      uint64_t v = (uint64_t)ArgAsInt(*a);
      unsigned long long shown = bits == 64 ? v : bits == 16 ? (uint16_t)v : bits == 8 ? (uint8_t)v : (uint32_t)v;
      snprintf(field, sizeof field, (spec + "ll" + conv).c_str(), shown);
    }
    put(field, strlen(field));
  }
  dest[o] = 0;
  return o;
}

namespace {

// Editors that take a line number, by file name: the parameter format gets, in the order the
// table's `order` gives, q = a double quote, p = the path, l = the line.
struct EditorParams {
  const char* name;
  const char* format;
  const char* order;
};

const EditorParams kEditors[] = {
    {"apsaly.exe", " /j%d %s", "lp"},          {"EmEditor.exe", " %c%s%c /l %d", "qpql"},
    {"Ginnie.exe", " %c%s%c /r%d", "qpql"},    {"GinnieFE.exe", " %c%s%c /r%d", "qpql"},
    {"Jcref.exe", " %c%s%c /r%d", "qpql"},     {"JmEdit2.exe", " %c%s%c/%d", "qpql"},
    {"K2Editor.exe", " %s /j%d", "pl"},        {"MIW.exe", " %c%s+%d%c", "qplq"},
    {"oseditor2.exe", " /j%d %s", "lp"},       {"otbedit.exe", " %s /r%d", "pl"},
    {"QXW32.exe", " -J%d %c%s%c", "lqpq"},     {"tepa.exe", " /j%d %c%s%c", "lqpq"},
    {"TeraPad.exe", " /jl=%d %s", "lp"},       {"whinny.exe", " %c%s/%d%c", "qplq"},
    {"WZEDITOR.exe", " %s /j%d", "pl"},        {"sakura.exe", " %c%s%c -Y=%d", "qpql"},
    {"hidemaru.exe", " /j%d %c%s%c", "lqpq"},
};

// Builds the editor's parameters by walking the format: each conversion takes the next
// argument kind from `order`.
std::string FormatEditorParams(const EditorParams* e, const std::string& path, int line) {
  std::string out;
  const char* order = e ? e->order : "p";
  const char* format = e ? e->format : " %s";
  for (const char* f = format; *f; f++) {
    if (*f != '%' || !f[1]) {
      out += *f;
      continue;
    }
    f++;
    char kind = *order ? *order++ : 'p';
    if (kind == 'q') out += '"';
    else if (kind == 'p') out += path;
    else out += std::to_string(line);
  }
  return out;
}

// The Edit button: the author's editor ($VISUAL, then $EDITOR, else the desktop's opener)
// opens the failing script, with the line where the editor is known to take one.
void OpenErrorInEditor() {
  if (!g_ErrorFile) return;
  std::string path = ExeFolderPath(g_ErrorFile);
  const char* editor = getenv("VISUAL");
  if (!editor || !*editor) editor = getenv("EDITOR");
  std::string program = editor && *editor ? editor : "xdg-open";
  char name[MAX_PATH_BYTES + 1];
  GetFileNamePart(name, sizeof name, program.c_str());
  if (!name[0]) CopyTextBounded(name, sizeof name, program.c_str());
  const EditorParams* params = nullptr;
  for (const EditorParams& e : kEditors)
    if (EndsWithNoCase(name, e.name) && strlen(name) == strlen(e.name)) params = &e;
  // The parameters are one string on Windows; here they become separate arguments, split on
  // the spaces that the formats put between them.
  std::string all = FormatEditorParams(params, path, g_ErrorLine);
  std::vector<std::string> argv{program};
  std::string cur;
  for (char c : all) {
    if (c == ' ') {
      if (!cur.empty()) argv.push_back(cur);
      cur.clear();
    } else if (c != '"') {
      cur += c;
    }
  }
  if (!cur.empty()) argv.push_back(cur);
  PlatStartProcess(argv, false);
}

}  // namespace

const char* LookupMessageText(int32_t id) {
  const char* candidate = nullptr;
  for (int i = 0; i < g_MessageTable.count && i < MESSAGE_TABLE_MAX; i++) {
    if (g_MessageTable.ids[i] == id) {
      candidate = g_MessageTable.texts[i];
      break;
    }
  }
  for (int i = 0; i < kBuiltinCount; i++)
    if (kBuiltinTexts[i].id == id) return Texts().builtin[i].c_str();
  if (candidate) return candidate;
  for (int i = 0; i < kOwnCount; i++)
    if (kOwnTexts[i].id == id) return Texts().own[i].c_str();
  return Texts().unknown.c_str();
}

char* BuildMessage(int32_t id, int fatal) {
  g_ErrorFile = nullptr;
  g_ErrorLine = 1;
  CopyTextBounded(g_MessageText, sizeof g_MessageText, LookupMessageText(id));
  g_QuitFlag = fatal ? 1 : 0;
  return g_MessageText;
}

char* BuildLocatedMessage(int32_t id, int fatal) {
  BuildMessage(id, fatal);
  const char* file = nullptr;
  int32_t line = 1;
  if (!g_ScriptLocation || !g_ScriptLocation(&file, &line) || !file) return g_MessageText;
  char prefixed[MESSAGE_TEXT_BYTES];
  int n = snprintf(prefixed, sizeof prefixed, Texts().prefix.c_str(), file, line);
  if (n < 0) return g_MessageText;
  size_t used = strlen(prefixed);
  CopyTextBounded(prefixed + used, sizeof prefixed - used, LookupMessageText(id));
  // The prefix is formatted; what follows stays a format for the Report functions, so any
  // '%' in the file name must not be read as a conversion later.
  std::string safe;
  for (size_t i = 0; prefixed[i]; i++) {
    safe += prefixed[i];
    if (i < used && prefixed[i] == '%') safe += '%';
  }
  CopyTextBounded(g_MessageText, sizeof g_MessageText, safe.c_str());
  g_ErrorFile = file;
  g_ErrorLine = line;
  return g_MessageText;
}

void ReportError(int32_t id, int fatal) { Report(id, fatal, false, nullptr, 0); }

void ReportScriptError(int32_t id, int fatal) { Report(id, fatal, true, nullptr, 0); }

void ReportErrorArgs(int32_t id, int fatal, bool located, const MessageArg* args, int count) {
  static const MessageArg kNone = ToMessageArg(0);
  Report(id, fatal, located, args ? args : &kNone, args ? count : 0);
}

void ShowErrorDialog(const char* text) {
  if (g_ErrorDialogShown) return;
  g_ErrorDialogShown = 1;
  g_LastDialogText = text;
  std::string title = ToUtf8(g_ErrorDialogTitle);
  std::string body = ToUtf8(text);
  // In development mode the Edit button opens the failing script and the dialog stays.
  static const char* const kEditExit[] = {"編集(&E)", "終了(&X)"};
  static const char* const kExit[] = {"終了(&X)"};
  if (g_DebugMode == 1 && g_ErrorFile) {
    while (g_Platform->ChoiceBox(title.c_str(), body.c_str(), kEditExit, 2, 0, 1, PLAT_ICON_NONE) == 0) OpenErrorInEditor();
  } else {
    g_Platform->ChoiceBox(title.c_str(), body.c_str(), kExit, 1, 0, 0, PLAT_ICON_NONE);
  }
}

int ShowErrorBox(const char* caption, const char* format, ...) {
  char text[MESSAGE_TEXT_BYTES];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::string body = ToUtf8(text);
  return PlatMessageBox(caption ? ToUtf8(caption).c_str() : "Error", body.c_str(), PLAT_MB_OK);
}

void TraceMessage(const char* caption, const char* format, ...) {}

void AppendDebugLog(const char* text) {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  PlatFile* f = PlatFileOpen(GameWritePath(g_ExeFolderReal, "debuglog.txt"), "ab");
  if (!f) return;
  auto put = [f](const std::string& s) { PlatFileWrite(f, s.data(), s.size()); };
  if (PlatFileSize(f) >= 10485760) {
    std::string warning;
    Cp932Texts::Convert(
        "log が 10MB を超えました。\n\nこのまま続けていくと動作が遅くなっていく可能性があります。\n\n"
        "_ROUTE.TXT を削除していただくか、\n別の場所に待避させてください。",
        &warning);
    put(warning);
  }
  if (!g_DebugLogHeaderDone) {
    g_DebugLogHeaderDone = 1;
    const char* separator = "//----------------------------------------------------------------------------\n";
    PlatLocalTime t = PlatGetLocalTime();
    char stamp[96];
    std::string mark;
    Cp932Texts::Convert("■", &mark);
    snprintf(stamp, sizeof stamp, "//%s%02d/%02d/%02d time=%02d:%02d:%02d\n", mark.c_str(), t.year % 100, t.month,
             t.day, t.hour, t.minute, t.second);
    put(separator);
    put(stamp);
    put(separator);
  }
  put(text);
  put("\n");
  PlatFileClose(f);
}

const char* LastErrorDialogText() { return g_LastDialogText.c_str(); }

void ResetMessageState() {
  g_ErrorDialogShown = 0;
  g_FatalReported = 0;
  g_ErrorFile = nullptr;
  g_ErrorLine = 1;
  g_LastDialogText.clear();
  g_ErrorDialogTitle = "KIVOR Debug Info.";
}

int CmdUnassigned() {
  ReportScriptError(900050, 1);
  return -1;
}
