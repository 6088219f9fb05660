// Save-data files: staging compressed slots of variables and layer images, writing them into
// ".sd" files, and loading a slot back into a variable or a layer.
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/memory_budget.h"
#include "files/files.h"
#include "files/savedata.h"
#include "layers/layer.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"

uint8_t* g_SaveStaging[SAVE_SLOTS];
int32_t g_SaveStagedSize[SAVE_SLOTS];

namespace {

constexpr int CMD_SAVE_LOAD = 46;
constexpr int CMD_SAVE_WRITE = 75;
constexpr int CMD_SAVE_DROP = 76;
constexpr int CMD_SAVE_RESERVED = 77;
constexpr uint32_t SAVE_MAGIC = 0x4453564B;   // "KVSD" read as one little-endian word
constexpr int32_t SAVE_VERSION = 480;
constexpr uint32_t SAVE_HEAD_BYTES = 16 + 4 * SAVE_SLOTS;   // 4112
constexpr uint32_t ENTRY_HEAD_BYTES = 16;
constexpr uint32_t LAYER_RECORD_IMAGE = 1600;
constexpr uint32_t LAYER_PAYLOAD_HEAD = 8 + LAYER_RECORD_IMAGE;   // 1608
constexpr size_t SAVE_NAME_MAX = 32;
constexpr uint32_t MAX_SIZE_WORD = 40000000;
// The largest payload any entry can have: a layer of 8192 x 8192 pixels.
constexpr uint64_t MAX_PAYLOAD = (uint64_t)8192 * 4 * 8192 + LAYER_PAYLOAD_HEAD;
constexpr int32_t MAX_TEXT_LENGTH = 4096;

uint32_t GetU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
void PutU32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v, p[1] = (uint8_t)(v >> 8), p[2] = (uint8_t)(v >> 16), p[3] = (uint8_t)(v >> 24);
}
void AppendU32(std::vector<uint8_t>* out, uint32_t v) {
  uint8_t b[4];
  PutU32(b, v);
  out->insert(out->end(), b, b + 4);
}

const char* CommandName(int code) {
  return code >= 0 && code < g_CommandDefCount && g_CommandDefs[code].mName ? g_CommandDefs[code].mName : "";
}

const char* ParamName(int code, int id) {
  if (code < 0 || code >= g_CommandDefCount || id < 0 || id >= g_CommandDefs[code].mParamCount) return "";
  const char* n = g_CommandDefs[code].mParamNames[id];
  return n ? n : "";
}

// What arguments 3 and 4 (+5) name: a variable element, a whole variable, or a layer.
struct SaveTarget {
  int32_t variable = 0;
  int32_t element = 0;
  bool whole = false;
  NameNode* layer = nullptr;
  char layerPath[OBJECT_PATH_BYTES] = {};
};

// The layer of arguments 4 and 5; false (after a message where one is due) when it is missing.
bool ResolveLayerArgument(int code, SaveTarget* t) {
  int pathArg = ParamPosition(3), numberArg = ParamPosition(4);
  std::string path = g_ArgString[pathArg] ? g_ArgString[pathArg] : "";
  if (numberArg) path += "." + std::to_string(g_ArgInteger[numberArg]);
  if (path.size() >= OBJECT_PATH_BYTES) path.resize(OBJECT_PATH_BYTES - 1);
  if (NormalizeObjectPath(t->layerPath, path.c_str(), g_LayerFolder, false) < 0) return false;
  t->layer = FindNodeByPath(g_LayerRoot, t->layerPath, NAME_LOOKUP_LEAF);
  if (!t->layer) {
    ReportScriptErrorF(101250, 1, CommandName(code), t->layerPath);
    return false;
  }
  return true;
}

void ResolveVariableArgument(SaveTarget* t) {
  int varArg = ParamPosition(2);
  if (!varArg) return;
  t->variable = g_ArgReference[varArg];
  t->whole = g_ArgRefFlag[varArg] != 0;
  int64_t e = g_ArgRefElement[varArg];
  // An element beyond 32 bits names no element; stores and reads drop it.
  t->element = e >= 0 && e <= INT32_MAX ? (int32_t)e : -1;
}

// The canonical file name: lower-cased, '/' as '\', at most 32 bytes, no folder part, ".sd".
bool CanonicalSaveName(int code, const char* given, std::string* path) {
  char name[TEXT_VALUE_BYTES];
  CopyTextBounded(name, sizeof name, given ? given : "");
  ToLowerAscii(name);
  bool separator = false;
  for (unsigned char* p = reinterpret_cast<unsigned char*>(name); *p;) {
    if (g_LeadByteTable[*p] && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '/') *p = '\\';
    if (*p == '\\') separator = true;
    p++;
  }
  if (strlen(name) > SAVE_NAME_MAX) {
    ReportScriptErrorF(102160, 1, CommandName(code), name);
    return false;
  }
  if (separator) {
    ReportScriptErrorF(102150, 1, CommandName(code), name);
    return false;
  }
  std::string canonical = name;
  if (!EndsWithNoCase(name, ".sd")) canonical += ".sd";
  *path = std::string(g_SaveFolder) + canonical;
  return true;
}


// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& real, std::vector<uint8_t>* out) {
  PlatFile* f = PlatFileOpen(real, "rb");
  if (!f) return false;
  int64_t size = PlatFileSize(f);
  bool ok = size >= 0 && (uint64_t)size < ((uint64_t)1 << 32);
  if (ok) {
    out->resize((size_t)size);
    ok = PlatFileRead(f, out->data(), out->size()) == out->size();
  }
  PlatFileClose(f);
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Staging.

// The payload of a variable (whole or one element); false when the variable does not exist.
bool BuildVariablePayload(const SaveTarget& t, std::vector<uint8_t>* out) {
  const VarRecord* var = GetVariable(t.variable);
  if (!var) return false;
  int type = var->mType;
  if (!t.whole) {
    AppendU32(out, (uint32_t)type);
    AppendU32(out, 0);
    if (type == VAR_INT || type == VAR_REAL) {
      AppendU32(out, 8);
      uint64_t bits;
      if (type == VAR_INT) {
        bits = (uint64_t)ReadIntElement(t.variable, t.element);
      } else {
        double d = ReadRealElement(t.variable, t.element);
        memcpy(&bits, &d, 8);
      }
      AppendU32(out, (uint32_t)bits);
      AppendU32(out, (uint32_t)(bits >> 32));
    } else if (type == VAR_STRING) {
      const char* s = ReadStringElement(t.variable, t.element);
      uint32_t len = s ? (uint32_t)strlen(s) : 0;
      AppendU32(out, len + 4);
      AppendU32(out, len);
      out->insert(out->end(), s, s + len);
    }
    return true;
  }
  AppendU32(out, (uint32_t)type);
  AppendU32(out, var->mDimCount);
  for (int i = 0; i < var->mDimCount && i < VAR_MAX_DIMS; i++) AppendU32(out, (uint32_t)var->mDims[i]);
  uint32_t count = (uint32_t)var->mCount;
  if (type == VAR_INT || type == VAR_REAL) {
    AppendU32(out, 8 * count);
    for (uint32_t k = 0; k < count; k++) {
      uint64_t bits;
      if (type == VAR_INT) bits = (uint64_t)var->mInts[k];
      else memcpy(&bits, &var->mReals[k], 8);
      AppendU32(out, (uint32_t)bits);
      AppendU32(out, (uint32_t)(bits >> 32));
    }
  } else if (type == VAR_STRING) {
    size_t sizeAt = out->size();
    AppendU32(out, 0);
    for (uint32_t k = 0; k < count; k++) {
      // Read through the element function so system text variables are computed first.
      const char* s = ReadStringElement(t.variable, (int32_t)k);
      uint32_t len = s ? (uint32_t)strlen(s) : 0;
      AppendU32(out, len);
      out->insert(out->end(), s, s + len);
    }
    PutU32(out->data() + sizeAt, (uint32_t)(out->size() - sizeAt - 4));
  }
  return true;
}

void BuildLayerPayload(const LayerRecord* r, std::vector<uint8_t>* out) {
  uint64_t pixels = r->mPixels ? (uint64_t)r->mWidth * 4 * r->mHeight : 0;
  AppendU32(out, LAYER_RECORD_IMAGE);
  AppendU32(out, (uint32_t)pixels);
  size_t at = out->size();
  // The record image: only the size words are read back; the rest stays zero.
  out->resize(at + LAYER_RECORD_IMAGE, 0);
  PutU32(out->data() + at + 120, (uint32_t)(r->mPixels ? r->mWidth : 0));
  PutU32(out->data() + at + 124, (uint32_t)(r->mPixels ? r->mHeight : 0));
  if (pixels) out->insert(out->end(), r->mPixels, r->mPixels + pixels);
}

// Stages slot `s` (1..1024): header (kind, 1, 0, 0, P, R) and the compressed payload.
bool StageEntry(int s, const SaveTarget& t) {
  std::vector<uint8_t> payload;
  bool isLayer = t.layer != nullptr;
  if (isLayer) {
    LayerRecord* r = GetLayerRecord(t.layer);
    if (!r) return false;
    BuildLayerPayload(r, &payload);
  } else if (!BuildVariablePayload(t, &payload)) {
    return false;
  }
  uLong bound = compressBound((uLong)payload.size());
  uint64_t capacity = 12 + (uint64_t)bound;
  if (capacity > INT32_MAX) return false;
  // Staged entries wait for the write with everything else scripts make the runtime hold.
  if (!TakeScriptMemory(capacity)) {
    ReportScriptError(100010, 1);
    return false;
  }
  uint8_t* buffer = static_cast<uint8_t*>(malloc((size_t)capacity));
  if (!buffer) {
    GiveScriptMemory(capacity);
    ReportScriptError(100010, 1);
    return false;
  }
  buffer[0] = isLayer ? 1 : 0;
  buffer[1] = 1;
  buffer[2] = buffer[3] = 0;
  uLongf packed = bound;
  int z = compress2(buffer + 12, &packed, payload.data(), (uLong)payload.size(), 1);
  if (z != Z_OK) {
    free(buffer);
    GiveScriptMemory(capacity);
    ShowErrorBox(nullptr, "Compress Error.");
    return false;
  }
  // The entry keeps only what it packed.
  uint64_t staged = 12 + (uint64_t)packed;
  if (uint8_t* fitted = static_cast<uint8_t*>(realloc(buffer, (size_t)staged))) buffer = fitted;
  GiveScriptMemory(capacity - staged);
  PutU32(buffer + 4, (uint32_t)packed);
  PutU32(buffer + 8, (uint32_t)payload.size());
  g_SaveStaging[s - 1] = buffer;
  g_SaveStagedSize[s - 1] = (int32_t)(12 + packed);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Writing.

struct SaveHead {
  int32_t entryCount;
  uint32_t table[SAVE_SLOTS];
};

void AppendStaged(int s, std::vector<uint8_t>* out, SaveHead* head) {
  head->table[s - 1] = (uint32_t)out->size();
  AppendU32(out, (uint32_t)s);
  out->insert(out->end(), g_SaveStaging[s - 1], g_SaveStaging[s - 1] + g_SaveStagedSize[s - 1]);
}

// Walks the entries of an existing file in order; false when one runs past the file or names
// a slot outside 1..1024.
struct OldEntry {
  uint32_t offset, length, slot;
};
bool WalkEntries(const std::vector<uint8_t>& file, std::vector<OldEntry>* entries) {
  size_t at = SAVE_HEAD_BYTES;
  while (at < file.size()) {
    if (file.size() - at < ENTRY_HEAD_BYTES) return false;
    uint32_t slot = GetU32(&file[at]);
    uint32_t packed = GetU32(&file[at + 8]);
    if (slot < 1 || slot > SAVE_SLOTS || packed > file.size() - at - ENTRY_HEAD_BYTES) return false;
    entries->push_back({(uint32_t)at, ENTRY_HEAD_BYTES + packed, slot});
    at += ENTRY_HEAD_BYTES + packed;
  }
  return true;
}

// Builds the new contents of the file from the old ones (or none) and the staged slots.
// 0, or the message to give (108030/108040) when the old file is not a save file.
int BuildSaveContents(const std::vector<uint8_t>* old, std::vector<uint8_t>* out) {
  SaveHead head{};
  out->clear();
  if (!old) {
    out->resize(SAVE_HEAD_BYTES, 0);
    PutU32(out->data(), SAVE_MAGIC);
    PutU32(out->data() + 4, SAVE_VERSION);
    for (int s = 1; s <= SAVE_SLOTS; s++) {
      if (g_SaveStagedSize[s - 1] <= 0) continue;
      AppendStaged(s, out, &head);
      head.entryCount++;
    }
  } else {
    if (old->size() < 8 || GetU32(old->data()) != SAVE_MAGIC) return 108030;
    if ((int32_t)GetU32(old->data() + 4) != SAVE_VERSION) return 108040;
    if (old->size() < SAVE_HEAD_BYTES) return 108030;
    head.entryCount = (int32_t)GetU32(old->data() + 8);
    // The table is rebuilt from the entries themselves, so a stale or hostile table entry
    // never survives into the new file.
    std::vector<OldEntry> entries;
    if (!WalkEntries(*old, &entries)) return 108030;
    // Entries keep their place; a replaced slot takes its old entry's position.
    out->assign(old->begin(), old->begin() + SAVE_HEAD_BYTES);
    std::vector<bool> written(SAVE_SLOTS, false);
    for (const OldEntry& e : entries) {
      int s = (int)e.slot;
      if (g_SaveStagedSize[s - 1] > 0 && !written[s - 1]) {
        AppendStaged(s, out, &head);
        written[s - 1] = true;
      } else {
        head.table[s - 1] = (uint32_t)out->size();
        out->insert(out->end(), old->begin() + e.offset, old->begin() + e.offset + e.length);
      }
    }
    for (int s = 1; s <= SAVE_SLOTS; s++) {
      if (g_SaveStagedSize[s - 1] <= 0 || written[s - 1]) continue;
      AppendStaged(s, out, &head);
      head.entryCount++;
    }
  }
  PutU32(out->data() + 8, (uint32_t)head.entryCount);
  PutU32(out->data() + 12, SAVE_SLOTS);
  for (int s = 0; s < SAVE_SLOTS; s++) PutU32(out->data() + 16 + 4 * s, head.table[s]);
  return 0;
}

// The text of the C library's error number, from the project's command table when it has one.
const char* ErrorNumberText(int err) {
  constexpr int count = (int)(sizeof g_RuntimeErrorTexts / sizeof g_RuntimeErrorTexts[0]);
  if (err >= 0 && err < count && g_RuntimeErrorTexts[err]) return g_RuntimeErrorTexts[err];
  return "";
}

// Writes `bytes` to a temporary file of this writer's own beside `real`, flushes it and renames
// it over `real`, so a failed write never touches the old file and two writers never write into
// one temporary file. 0, or the error number.
int ReplaceFile(const std::string& real, const std::vector<uint8_t>& bytes) {
  std::string temp;
  PlatFile* f = PlatFileCreateTemporary(real, &temp);
  if (!f) return errno ? errno : EIO;
  bool ok = PlatFileWrite(f, bytes.data(), bytes.size()) == bytes.size() && PlatFileFlush(f);
  int err = ok ? 0 : (errno ? errno : ENOSPC);
  PlatFileClose(f);
  if (ok && !PlatRenameReplace(temp, real)) {
    ok = false;
    err = errno ? errno : EIO;
  }
  if (!ok) PlatDeleteFile(temp);
  return err;
}

void CreateSaveFolder(const std::string& realFile) {
  std::string folder = realFile.substr(0, realFile.rfind('/'));
  // Make the folder and any missing parents (the save folder may lie under the user's home).
  for (size_t at = 1; at != std::string::npos; at = folder.find('/', at + 1)) {
    std::string part = folder.substr(0, folder.find('/', at));
    if (!part.empty() && !PlatFolderExists(part)) PlatCreateFolder(part);
    if (folder.find('/', at) == std::string::npos) break;
  }
  if (!PlatFolderExists(folder)) PlatCreateFolder(folder);
}

int WriteStagedToFile(int code, const std::string& path) {
  // Save paths are relative to the project folder unless absolute; a read-only game keeps its
  // saves in the user's folder for it.
  std::string real = GameWritePath(g_ProjectFolderReal, path.c_str());
  std::string current = GameReadBackPath(g_ProjectFolderReal, path.c_str());
  std::vector<uint8_t> old, contents;
  bool exists = PlatFileExists(current);
  if (exists && !ReadWholeFile(current, &old)) {
    ReportScriptErrorF(102140, 1, CommandName(code), path.c_str(), EIO, ErrorNumberText(EIO));
    return -1;
  }
  int bad = BuildSaveContents(exists ? &old : nullptr, &contents);
  if (bad) {
    ReportScriptError(bad, 1);
    return -1;
  }
  if (!PlatFileExists(real)) CreateSaveFolder(real);
  errno = 0;
  int err = ReplaceFile(real, contents);
  if (err) {
    ReportScriptErrorF(102140, 1, CommandName(code), path.c_str(), err, ErrorNumberText(err));
    return -1;
  }
  FreeSaveStaging(-1);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Loading.

// An inflated slot payload (malloc'd by the inflater), read like a byte vector.
struct SlotPayload {
  uint8_t* bytes = nullptr;
  size_t length = 0;
  SlotPayload() = default;
  SlotPayload(const SlotPayload&) = delete;
  SlotPayload& operator=(const SlotPayload&) = delete;
  ~SlotPayload() { free(bytes); }
  size_t size() const { return length; }
  const uint8_t* data() const { return bytes; }
  const uint8_t& operator[](size_t i) const { return bytes[i]; }
};

// Reads slot `s` of a save file and inflates its payload. 1 with the kind and payload, 0 when
// the command ends normally (an empty slot), -1 after a message.
int ReadSlotPayload(int code, const std::string& path, int s, uint8_t* kind, SlotPayload* payload) {
  std::string real = GameReadBackPath(g_ProjectFolderReal, path.c_str());
  std::vector<uint8_t> file;
  if (!ReadWholeFile(real, &file)) {
    ReportScriptErrorF(102100, 1, CommandName(code), ParamName(code, 0), path.c_str());
    return -1;
  }
  if (file.size() < 4 || GetU32(file.data()) != SAVE_MAGIC) {
    ReportScriptError(108030, 1);
    return -1;
  }
  if (file.size() < 8 || (int32_t)GetU32(file.data() + 4) != SAVE_VERSION) {
    ReportScriptError(108040, 1);
    return -1;
  }
  if (file.size() < SAVE_HEAD_BYTES) {
    ShowErrorBox(nullptr, "Load Error.");
    return -1;
  }
  uint32_t offset = GetU32(&file[16 + 4 * (s - 1)]);
  if (offset == 0) {
    ReportScriptErrorF(102110, 1, CommandName(code), ParamName(code, 1));
    return 0;
  }
  if (offset < SAVE_HEAD_BYTES || offset > file.size() || file.size() - offset < ENTRY_HEAD_BYTES) {
    ShowErrorBox(nullptr, "Load Error.");
    return -1;
  }
  *kind = file[offset + 4];
  uint32_t packed = GetU32(&file[offset + 8]);
  uint32_t raw = GetU32(&file[offset + 12]);
  // The unpacked size is held to what the packed bytes can give, and memory is taken only as
  // the stream really inflates.
  if (packed > file.size() - offset - ENTRY_HEAD_BYTES || raw > MAX_PAYLOAD || raw > InflateLimit(packed) ||
      InflateExact(&file[offset + ENTRY_HEAD_BYTES], packed, raw, &payload->bytes) != INFLATE_OK) {
    ShowErrorBox(nullptr, "Load Error.");
    return -1;
  }
  payload->length = raw;
  return 1;
}

int LoadIntoLayer(const SaveTarget& t, const SlotPayload& payload) {
  if (payload.size() < LAYER_PAYLOAD_HEAD || GetU32(payload.data()) != LAYER_RECORD_IMAGE) {
    ReportScriptError(108110, 1);
    return -1;
  }
  int32_t width = (int32_t)GetU32(&payload[8 + 120]);
  int32_t height = (int32_t)GetU32(&payload[8 + 124]);
  if (width > 8192 || height > 8192 || width < 1 || height < 1) {
    ShowErrorBox("", ToCp932Text("ＣＧサイズが大きすぎます。X=%d, Y=%d").c_str(), width, height);
    ReportError(100010, 1);
    return -1;
  }
  uint64_t pixels = (uint64_t)width * 4 * (uint64_t)height;
  if (GetU32(&payload[4]) != pixels || payload.size() - LAYER_PAYLOAD_HEAD != pixels) {
    ShowErrorBox(nullptr, "Load Error.");
    return -1;
  }
  // The new image is made before the old layer goes, so a failure leaves the old one intact.
  ImageBuffer* image = AllocImageBuffer(nullptr, width, height, nullptr);
  if (!image) return -1;
  memcpy(image, &payload[LAYER_PAYLOAD_HEAD], (size_t)pixels);
  InvalidateLayer(t.layer);
  FreeLayerNode(t.layer);
  NameNode* node = CreateTreeNode(g_LayerRoot, t.layerPath, false, 1);
  LayerRecord* r = node ? AttachNewLayerRecord(node) : nullptr;
  if (!r) {
    FreeImageBuffer(image);
    if (node) FreeLayerNode(node);
    return -1;
  }
  r->mWidth = width;
  r->mHeight = height;
  r->mPixels = image;
  NoteImageLoadTime();
  InvalidateLayer(node);
  return 0;
}

int DeclaringCommand(int type) { return type == VAR_INT ? 42 : type == VAR_REAL ? 26 : 81; }

int LoadIntoVariable(int code, const std::string& path, const SaveTarget& t, const SlotPayload& payload) {
  const VarRecord* var = GetVariable(t.variable);
  if (!var) return -1;
  if (payload.size() < 8) {
    ShowErrorBox(nullptr, "Load Error.");
    return -1;
  }
  uint32_t type = GetU32(payload.data());
  int32_t dims = (int32_t)GetU32(payload.data() + 4);
  if (type != var->mType) {
    if (type < 1 || type > 3) ReportScriptError(900000, 1);
    else if (var->mType >= 1 && var->mType <= 3)
      ReportScriptErrorF(102120, 1, CommandName(code), CommandName(DeclaringCommand(var->mType)));
    return -1;
  }
  if (dims < 0 || dims > VAR_MAX_DIMS) {
    ReportScriptError(900000, 1);
    return -1;
  }
  size_t at = 8 + 4 * (size_t)dims;
  if (payload.size() < at + 4) {
    ShowErrorBox(nullptr, "Load Error.");
    return -1;
  }
  uint32_t size = GetU32(&payload[at]);
  if (size > MAX_SIZE_WORD) {
    ReportScriptError(108070, 1);
    return -1;
  }
  if ((t.whole && dims != var->mDimCount) || (!t.whole && dims > 0)) {
    ReportScriptError(108080, 1);
    return -1;
  }
  int64_t count = 1;
  for (int i = 0; i < dims && t.whole; i++) {
    if ((int32_t)GetU32(&payload[8 + 4 * i]) != var->mDims[i]) {
      ReportScriptError(108090, 1);
      return -1;
    }
  }
  if (t.whole) count = var->mCount;
  at += 4;
  if (payload.size() - at < size) {
    ShowErrorBox(nullptr, "Load Error.");
    return -1;
  }
  int32_t first = t.whole ? 0 : t.element;
  if (type == VAR_INT || type == VAR_REAL) {
    // Whole values only, and never past the variable's storage.
    if (first < 0 || first >= var->mCount) return 0;
    uint64_t room = (uint64_t)(var->mCount - first) * 8;
    uint64_t bytes = size < room ? size : room;
    bytes -= bytes % 8;
    if (type == VAR_INT) memcpy(var->mInts + first, &payload[at], (size_t)bytes);
    else memcpy(var->mReals + first, &payload[at], (size_t)bytes);
    return 0;
  }
  size_t end = at + size;
  for (int64_t k = 0; k < count; k++) {
    if (end - at < 4) break;
    int32_t len = (int32_t)GetU32(&payload[at]);
    at += 4;
    if (len < 0 || len > MAX_TEXT_LENGTH || (size_t)len > end - at) {
      ShowErrorBox("",
                   ToCp932Text("※不正セーブファイルの可能性※\r\n\r\n[%s]\r\n\r\nこのままこのセーブファイルを読み込むと、"
                   "予期せぬ動作をおこなう恐れがあります。\r\n読み込みを強制的に中断します。").c_str(),
                   path.c_str());
      return -1;
    }
    int32_t element = t.whole ? (int32_t)k : t.element;
    StoreStringElementN(t.variable, element, reinterpret_cast<const char*>(&payload[at]), (size_t)len);
    at += (size_t)len;
  }
  return 0;
}

// The slot argument: 1..1024, else refused like a slot the file does not hold.
bool SlotArgument(int code, int* slot) {
  int position = ParamPosition(1);
  int32_t s = position ? (int32_t)(uint32_t)g_ArgInteger[position] : 0;
  if (s < 1 || s > SAVE_SLOTS) {
    ReportScriptErrorF(102110, 1, CommandName(code), ParamName(code, 1));
    return false;
  }
  *slot = s;
  return true;
}

}  // namespace

void FreeSaveStaging(int index) {
  if (index == -1) {
    for (int i = 0; i < SAVE_SLOTS; i++) {
      if (g_SaveStaging[i]) GiveScriptMemory((uint32_t)g_SaveStagedSize[i]);
      free(g_SaveStaging[i]);
      g_SaveStaging[i] = nullptr;
      g_SaveStagedSize[i] = 0;
    }
    return;
  }
  if (index < 0 || index >= SAVE_SLOTS || g_SaveStagedSize[index] < 1) return;
  GiveScriptMemory((uint32_t)g_SaveStagedSize[index]);
  free(g_SaveStaging[index]);
  g_SaveStaging[index] = nullptr;
  g_SaveStagedSize[index] = 0;
}

int CmdSaveDataWrite() {
  if (DecodeCommandArguments(CMD_SAVE_WRITE) != 0) return -1;
  SaveTarget t;
  if (ParamPosition(3) && !ResolveLayerArgument(CMD_SAVE_WRITE, &t)) return -1;
  ResolveVariableArgument(&t);
  std::string path;
  int fileArg = ParamPosition(0);
  if (fileArg && !CanonicalSaveName(CMD_SAVE_WRITE, g_ArgString[fileArg], &path)) return -1;
  if (ParamPosition(1)) {
    int s;
    if (!SlotArgument(CMD_SAVE_WRITE, &s)) return -1;
    if (g_SaveStagedSize[s - 1] != 0) {
      ReportScriptErrorF(102170, 1, CommandName(CMD_SAVE_WRITE), ParamName(CMD_SAVE_WRITE, 1), s);
      return -1;
    }
    StageEntry(s, t);
  }
  if (!fileArg) return 0;
  return WriteStagedToFile(CMD_SAVE_WRITE, path);
}

int CmdSaveDataLoad() {
  if (DecodeCommandArguments(CMD_SAVE_LOAD) != 0) return -1;
  SaveTarget t;
  if (ParamPosition(3) && !ResolveLayerArgument(CMD_SAVE_LOAD, &t)) return -1;
  std::string path;
  int fileArg = ParamPosition(0);
  if (!CanonicalSaveName(CMD_SAVE_LOAD, fileArg ? g_ArgString[fileArg] : "", &path)) return -1;
  ResolveVariableArgument(&t);
  int s;
  if (!SlotArgument(CMD_SAVE_LOAD, &s)) return -1;
  uint8_t kind = 0;
  SlotPayload payload;
  int read = ReadSlotPayload(CMD_SAVE_LOAD, path, s, &kind, &payload);
  if (read <= 0) return read;
  NoteImageLoadTime();
  if (t.layer) {
    if (kind == 0) {
      ReportScriptError(108100, 1);
      return -1;
    }
    return LoadIntoLayer(t, payload);
  }
  if (kind == 1) {
    ReportScriptError(108050, 1);
    return -1;
  }
  return LoadIntoVariable(CMD_SAVE_LOAD, path, t, payload);
}

int CmdSaveDataDrop() {
  if (DecodeCommandArguments(CMD_SAVE_DROP) != 0) return -1;
  FreeSaveStaging(-1);
  return 0;
}

int CmdSaveReserved77() { return DecodeCommandArguments(CMD_SAVE_RESERVED) != 0 ? -1 : 0; }
