// The file command (preload, layer image saving, folders, copies, deletion, starting programs)
// and the file query command.
#include "files/file_commands.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/engine.h"
#include "files/files.h"
#include "layers/image_codecs.h"
#include "layers/layer.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"

std::string g_DocumentOpener = "xdg-open";

namespace {

constexpr int CMD_FILE = 21;
constexpr int CMD_FILE_QUERY = 22;
constexpr int32_t MSG_NO_LAYER = 101250;
// Names and paths from scripts are handled in buffers of this size.
constexpr size_t NAME_BYTES = 264;
constexpr size_t COPY_CHUNK = 64 * 1024;

enum { FORMAT_BMP, FORMAT_PNG, FORMAT_JPEG };

// A script name in canonical form: ASCII lower case and '\' separators, double-byte characters
// stepped over whole. `cut` tells that the name did not fit and was cut on a character
// boundary; such a name no longer names the file the script meant and is not acted on.
struct ScriptName {
  char mText[NAME_BYTES];
  bool mGiven;
  bool mCut;
};

void CanonicalName(ScriptName* name, int position) {
  name->mText[0] = 0;
  name->mGiven = position != 0;
  name->mCut = false;
  if (!position) return;
  const char* src = g_ArgString[position] ? g_ArgString[position] : "";
  CopyTextBounded(name->mText, sizeof name->mText, src);
  name->mCut = strlen(name->mText) != strlen(src);
  ToLowerAscii(name->mText);
  for (char* p = name->mText; *p;) {
    if (g_LeadByteTable[(uint8_t)*p] && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '/') *p = '\\';
    p++;
  }
}

// Whether the text ends with a '\' that is a character of its own, not a trail byte.
bool EndsWithSeparator(const char* text) {
  bool last = false;
  for (const char* p = text; *p;) {
    if (g_LeadByteTable[(uint8_t)*p] && p[1]) {
      last = false;
      p += 2;
      continue;
    }
    last = *p == '\\';
    p++;
  }
  return last;
}

// An engine name without its final separators, so a folder name names the folder itself.
std::string Trimmed(const char* name) {
  std::string text = name;
  while (!text.empty() && EndsWithSeparator(text.c_str())) text.pop_back();
  return text;
}

// The real path of an engine name below the game folder.
std::string RealPathOf(const char* name) { return ExeFolderPath(Trimmed(name).c_str()); }

// Where the game writes what it names below the game folder: the user's folder for the game
// when the game folder is read-only.
std::string WritePathOf(const char* name) { return GameWritePath(g_ExeFolderReal, Trimmed(name).c_str()); }

// Where the game finds again what it names: in a read-only game folder, the user's copy when
// the game made one (a file it wrote, a folder it made), else the game folder's own. Queries,
// removal and the programs started see what the game wrote, as its reads do.
std::string FoundPathOf(const char* name) {
  std::string copy = GameCopyPath(g_ExeFolderReal, Trimmed(name).c_str());
  if (!copy.empty() && (PlatFileExists(copy) || PlatFolderExists(copy))) return copy;
  return RealPathOf(name);
}

std::string ToHostText(const char* cp932) {
  std::string out;
  if (!PlatCp932ToUtf8(cp932, strlen(cp932), &out)) return cp932;
  return out;
}

int32_t ReferencedElement(int position) {
  int64_t e = g_ArgRefElement[position];
  return e >= 0 && e <= INT32_MAX ? (int32_t)e : -1;
}

int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// Copies through a temporary file beside the target, so a failed copy never leaves a half
// written target in place of the old one. Failures are silent, as for every step here.
void CopyFileReplacing(const char* from, const char* to) {
  std::string source = GameReadBackPath(g_ExeFolderReal, Trimmed(from).c_str()), target = WritePathOf(to);
  if (!PlatFileExists(source)) return;
  PlatFile* in = PlatFileOpen(source, "rb");
  if (!in) return;
  std::string temporary;
  PlatFile* out = PlatFileCreateTemporary(target, &temporary);
  if (!out) {
    PlatFileClose(in);
    return;
  }
  std::vector<uint8_t> chunk(COPY_CHUNK);
  int64_t left = PlatFileSize(in);
  bool ok = left >= 0;
  while (ok && left > 0) {
    size_t want = left < (int64_t)chunk.size() ? (size_t)left : chunk.size();
    ok = PlatFileRead(in, chunk.data(), want) == want && PlatFileWrite(out, chunk.data(), want) == want;
    left -= (int64_t)want;
  }
  PlatFileClose(in);
  ok = ok && PlatFileFlush(out);
  PlatFileClose(out);
  if (!ok || !PlatRenameReplace(temporary, target)) PlatDeleteFile(temporary);
}

// Splits a parameter text as a program's command line is read: blanks separate, double quotes
// group (and are removed).
std::vector<std::string> SplitParameters(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  bool quoted = false, any = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) parts.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) parts.push_back(current);
  return parts;
}

// A program is started with its parameters; anything else (a document, a folder, an address)
// goes to the desktop's opener. Never through a shell.
void StartProgram(const char* file, const char* parameters, bool wait) {
  std::string real = FoundPathOf(file);
  std::vector<std::string> argv;
  if (PlatIsProgramFile(real)) {
    argv.push_back(real);
    for (const std::string& p : SplitParameters(ToHostText(parameters))) argv.push_back(p);
  } else {
    argv.push_back(g_DocumentOpener);
    argv.push_back(PlatFileExists(real) || PlatFolderExists(real) ? real : ToHostText(file));
  }
  PlatStartProcess(argv, wait);
}

// Saves the layer of parameter 11 (and 12) as `file` with the format's extension.
// 0, or -1 after a message.
int SaveLayerImage(int layerArg, int numberArg, const ScriptName& file, int format, int level) {
  char path[TEXT_VALUE_BYTES];
  const char* layer = g_ArgString[layerArg] ? g_ArgString[layerArg] : "";
  if (numberArg) snprintf(path, sizeof path, "%s.%d", layer, (int32_t)g_ArgInteger[numberArg]);
  else CopyTextBounded(path, sizeof path, layer);
  char normal[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(normal, path, g_LayerFolder, false) < 0) return -1;
  LayerRecord* record = GetLayerRecord(FindNodeByPath(g_LayerRoot, normal, NAME_LOOKUP_LEAF));
  if (!record) {
    const char* command = g_CommandDefs[CMD_FILE].mName ? g_CommandDefs[CMD_FILE].mName : "";
    ReportScriptErrorF(MSG_NO_LAYER, 1, command, normal);
    return -1;
  }
  if (!file.mGiven || file.mCut || !file.mText[0]) return 0;
  static const char* const kExtensions[] = {".bmp", ".png", ".jpg"};
  std::string target = file.mText;
  if (!EndsWithNoCase(target.c_str(), kExtensions[format])) target += kExtensions[format];
  int r = format == FORMAT_BMP   ? SaveImageBmp(record, target.c_str())
          : format == FORMAT_PNG ? SaveImagePng(record, target.c_str(), level)
                                 : SaveImageJpeg(record, target.c_str(), level);
  return r != 0 ? -1 : 0;
}

// Parameters 16 and 17: the script's group 1..4. Other values are refused (nothing is read).
void PreloadInto(int position, const ScriptName& file, int kind) {
  int64_t group = g_ArgInteger[position];
  if (group < 1 || group > PRELOAD_GROUPS) return;
  if (!file.mGiven || file.mCut || !file.mText[0]) return;
  char name[NAME_BYTES];
  CopyTextBounded(name, sizeof name, file.mText);
  int32_t count = g_PreloadCache[group - 1].mCount;
  AddToPreloadCache((int)group - 1, count, name, kind, count >= PRELOAD_SLOTS);
}

bool AnyExists(const char* name, const char* const* extensions, int count) {
  if (DataFileExists(name)) return true;
  for (int i = 0; i < count; i++) {
    std::string withExtension = std::string(name) + extensions[i];
    if (DataFileExists(withExtension.c_str())) return true;
  }
  return false;
}

// Existence of the query's subject by its kind (1 path, 2 data file, 3 image, 4 sound).
bool SubjectExists(int kind, const char* name) {
  static const char* const kImageExtensions[] = {".bmp", ".png", ".jpg", ".gif", ".psd"};
  static const char* const kSoundExtensions[] = {".ogg", ".wav"};
  switch (kind) {
    case 1: return name[0] != 0 && (PlatFolderExists(FoundPathOf(name)) || PlatFolderExists(RealPathOf(name)));
    case 2: return DataFileExists(name);
    case 3: return AnyExists(name, kImageExtensions, 5);
    case 4: return AnyExists(name, kSoundExtensions, 2);
  }
  return false;
}

// The loose file's size, where the loose lookup reads it; a folder, a packed or a missing file
// has none.
int64_t LooseFileSize(const char* name) {
  std::string real = GameReadBackPath(g_ProjectFolderReal, name);
  if (real.empty() || !PlatFileExists(real)) return 0;
  PlatFile* f = PlatFileOpen(real, "rb");
  if (!f) return 0;
  int64_t size = PlatFileSize(f);
  PlatFileClose(f);
  return size < 0 ? 0 : size;
}

// The program that opens the named file: a program opens itself, any other file the desktop's
// opener; a missing file has none ("").
std::string AssociatedProgram(const char* name) {
  std::string real = FoundPathOf(name);
  if (PlatIsProgramFile(real)) return name;
  if (!PlatFileExists(real)) return "";
  std::string opener;
  if (!PlatUtf8ToCp932(g_DocumentOpener.data(), g_DocumentOpener.size(), &opener)) return "";
  return opener;
}

}  // namespace

int CreateFolderPath(const char* path) {
  std::string prefix;
  for (const char* p = path; *p;) {
    if (g_LeadByteTable[(uint8_t)*p] && p[1]) {
      prefix.append(p, 2);
      p += 2;
      continue;
    }
    if (*p == '\\' && !prefix.empty()) PlatCreateFolder(WritePathOf(prefix.c_str()));
    prefix += *p++;
  }
  return 0;
}

int CmdFile() {
  if (DecodeCommandArguments(CMD_FILE) != 0) return -1;
  ScriptName file, dest, folder;
  CanonicalName(&file, ParamPosition(0));
  CanonicalName(&dest, ParamPosition(1));
  CanonicalName(&folder, ParamPosition(2));
  if (folder.mGiven && !folder.mCut && !EndsWithSeparator(folder.mText)) {
    size_t n = strlen(folder.mText);
    if (n + 1 < sizeof folder.mText) {
      folder.mText[n] = '\\';
      folder.mText[n + 1] = 0;
    } else {
      folder.mCut = true;
    }
  }
  const bool fileUsable = file.mGiven && !file.mCut && file.mText[0];
  const bool folderUsable = folder.mGiven && !folder.mCut;

  int format = FORMAT_PNG;
  int bmp = ParamPosition(12), png = ParamPosition(13), jpeg = ParamPosition(14);
  if (bmp && g_ArgInteger[bmp] == 1) format = FORMAT_BMP;
  if (png && g_ArgInteger[png] == 1) format = FORMAT_PNG;
  if (jpeg && g_ArgInteger[jpeg] == 1) format = FORMAT_JPEG;
  int quality = ParamPosition(9);
  int level = format == FORMAT_JPEG ? 90 : 5;
  if (quality && format == FORMAT_JPEG) level = (int)Clamp64(g_ArgInteger[quality], 1, 100);
  else if (quality) level = (int)Clamp64(g_ArgInteger[quality], 0, 9);

  int preloadImage = ParamPosition(15), preloadSound = ParamPosition(16);
  if (preloadImage && g_ArgInteger[preloadImage] != 0) PreloadInto(preloadImage, file, RESOURCE_IMAGE);
  if (preloadSound) PreloadInto(preloadSound, file, RESOURCE_SOUND);

  if (int layer = ParamPosition(10)) {
    if (SaveLayerImage(layer, ParamPosition(11), file, format, level) != 0) return -1;
  }
  if (ParamPosition(3) && folderUsable) CreateFolderPath(folder.mText);
  if (ParamPosition(4) && fileUsable && dest.mGiven && !dest.mCut && dest.mText[0])
    CopyFileReplacing(file.mText, dest.mText);
  if (ParamPosition(5)) {
    if (fileUsable) PlatDeleteFile(FoundPathOf(file.mText));
    if (folderUsable) PlatDeleteFolder(FoundPathOf(folder.mText));
  }
  int parameters = ParamPosition(8);
  const char* parameterText = parameters && g_ArgString[parameters] ? g_ArgString[parameters] : "";
  if (ParamPosition(6)) {
    if (fileUsable) StartProgram(file.mText, parameterText, false);
    return 0;
  }
  if (ParamPosition(7) && fileUsable) StartProgram(file.mText, parameterText, true);
  return 0;
}

int CmdFileQuery() {
  if (DecodeCommandArguments(CMD_FILE_QUERY) != 0) return -1;
  int kind = 0;
  for (int k = 4; k >= 1 && !kind; k--)
    if (ParamPosition(k - 1)) kind = k;
  int out = ParamPosition(7);
  if (!kind || !out) return 0;
  ScriptName subject;
  CanonicalName(&subject, ParamPosition(kind - 1));
  int32_t v = g_ArgReference[out], e = ReferencedElement(out);

  if (ParamPosition(4)) {
    bool exists = !subject.mCut && SubjectExists(kind, subject.mText);
    StoreIntElement(v, e, exists ? 1 : 0);
  } else if (ParamPosition(5)) {
    StoreIntElement(v, e, kind == 2 && !subject.mCut ? LooseFileSize(subject.mText) : 0);
  } else if (ParamPosition(6)) {
    const VarRecord* var = GetVariable(v);
    if (!var) return 0;
    if (var->mType == VAR_STRING) {
      std::string program = kind == 1 || subject.mCut ? "" : AssociatedProgram(subject.mText);
      char text[NAME_BYTES];
      CopyTextBounded(text, sizeof text, program.c_str());
      StoreStringElement(v, e, text);
    } else if (var->mType == VAR_INT) {
      StoreIntElement(v, e, 0);
    } else if (var->mType == VAR_REAL) {
      StoreRealElement(v, e, 0.0);
    }
  }
  return 0;
}
