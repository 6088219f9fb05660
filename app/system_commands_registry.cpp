// The registry-read command over the runtime's own value store: one text file per root key in
// the user's config folder, since this host has no registry.
//
// Store format: the file "<config>/kivor/registry/<ROOT>.txt" (ROOT as HKEY_CURRENT_USER etc.)
// in code page 932, one value a line: sub key, TAB, value name, TAB, value bytes. In each field
// "%XX" (two hex digits) stands for one byte, so tabs, line ends, '%' and zero bytes can be
// written; an empty value name is the key's default value. Lines starting with '#' and lines
// without two TABs are skipped. Key and value names compare without regard to ASCII case.
#include <cstring>
#include <string>

#include "app/engine.h"
#include "platform/platform.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int CMD_REGISTRY_READ = 67;
constexpr size_t VALUE_BUFFER_BYTES = 1024;
constexpr int64_t MAX_STORE_BYTES = 16 << 20;

const char* const kRoots[] = {
    "HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};

// The one place the store's files are named.
std::string RegistryStorePath(const char* root) {
  return PlatConfigFolder() + "/kivor/registry/" + root + ".txt";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DecodeField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); i++) {
    int hi, lo;
    if (field[i] == '%' && i + 2 < field.size() && (hi = HexDigit(field[i + 1])) >= 0 && (lo = HexDigit(field[i + 2])) >= 0) {
      out += (char)(hi * 16 + lo);
      i += 2;
      continue;
    }
    out += field[i];
  }
  return out;
}

// Names compare byte for byte but ASCII letters without case; a double-byte character's trail
// byte is compared as it is.
bool EqualNames(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    uint8_t x = (uint8_t)a[i], y = (uint8_t)b[i];
    if (g_LeadByteTable[x] && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      i++;
      continue;
    }
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

bool ReadStore(const char* root, std::string* text) {
  PlatFile* f = PlatFileOpen(RegistryStorePath(root), "rb");
  if (!f) return false;
  int64_t size = PlatFileSize(f);
  bool ok = size >= 0 && size <= MAX_STORE_BYTES;
  if (ok) {
    text->resize((size_t)size);
    ok = PlatFileRead(f, text->data(), (size_t)size) == (size_t)size;
  }
  PlatFileClose(f);
  return ok;
}

// Fills `buffer` (emptied first) with the value's bytes: 0, or -1 when the key or the value is
// not there or the value does not fit the buffer.
int ReadRegistryValue(const char* root, const char* subKey, const char* valueName, uint8_t* buffer, size_t size) {
  memset(buffer, 0, size);
  if (!root || !subKey) return -1;
  std::string store;
  if (!ReadStore(root, &store)) return -1;
  std::string key = subKey, value = valueName ? valueName : "";
  size_t at = 0;
  while (at < store.size()) {
    size_t end = store.find('\n', at);
    if (end == std::string::npos) end = store.size();
    std::string line = store.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t tab1 = line.find('\t');
    size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    if (!EqualNames(DecodeField(line.substr(0, tab1)), key)) continue;
    if (!EqualNames(DecodeField(line.substr(tab1 + 1, tab2 - tab1 - 1)), value)) continue;
    std::string data = DecodeField(line.substr(tab2 + 1));
    if (data.size() > size) return -1;
    memcpy(buffer, data.data(), data.size());
    return 0;
  }
  return -1;
}

}  // namespace

int CmdRegistryRead() {
  if (DecodeCommandArguments(CMD_REGISTRY_READ) != 0) return -1;
  int keyArg = ParamPosition(0), valueArg = ParamPosition(1), out = ParamPosition(2);
  if (!out) return 0;
  const char* root = nullptr;
  std::string subKey;
  bool haveKey = keyArg != 0;
  if (haveKey) {
    std::string path = g_ArgString[keyArg] ? g_ArgString[keyArg] : "";
    for (size_t i = 0; i < path.size(); i++) {
      if (g_LeadByteTable[(uint8_t)path[i]] && i + 1 < path.size()) {
        i++;
        continue;
      }
      if (path[i] == '/') path[i] = '\\';
    }
    for (const char* r : kRoots) {
      std::string prefix = std::string(r) + "\\";
      if (path.compare(0, prefix.size(), prefix) == 0) {
        root = r;
        subKey = path.substr(prefix.size());
        break;
      }
    }
    if (!root) return 0;
  }
  uint8_t buffer[VALUE_BUFFER_BYTES + 1];
  const char* valueName = valueArg && g_ArgString[valueArg] ? g_ArgString[valueArg] : nullptr;
  int r = ReadRegistryValue(root, haveKey ? subKey.c_str() : nullptr, valueName, buffer, VALUE_BUFFER_BYTES);
  buffer[VALUE_BUFFER_BYTES] = 0;   // a value that fills the buffer still ends as a text
  int32_t v = g_ArgReference[out];
  int64_t e64 = g_ArgRefElement[out];
  int32_t e = e64 >= 0 && e64 <= INT32_MAX ? (int32_t)e64 : -1;
  const VarRecord* var = GetVariable(v);
  if (!var) return 0;
  if (r == 0) {
    if (var->mType == VAR_STRING) StoreStringElement(v, e, reinterpret_cast<const char*>(buffer));
    return 0;
  }
  if (var->mType == VAR_INT) StoreIntElement(v, e, 0);
  else if (var->mType == VAR_REAL) StoreRealElement(v, e, 0.0);
  else if (var->mType == VAR_STRING) StoreStringElement(v, e, "");
  return 0;
}
