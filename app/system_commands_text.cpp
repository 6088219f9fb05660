// The text-table command: a project file of comma-separated cells, counted or read into a
// string variable cell by cell.
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "files/files.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int CMD_READ_TEXT_TABLE = 8;

// One pass over the bytes; `store` (may be null) receives each cell in order. Returns the number
// of cells, counting from 1 as the count query reports it.
template <typename Store>
int64_t ScanCells(const uint8_t* p, size_t size, Store store) {
  int64_t count = 1;
  size_t cellStart = 0;
  bool inCell = false, doubleQuote = false, singleQuote = false, lineEmpty = true, commaSeen = false;
  size_t i = 0;
  while (i < size) {
    uint8_t b = p[i];
    if (b == ',' && !doubleQuote && !singleQuote) {
      store(p + cellStart, i - cellStart);
      count++;
      cellStart = i + 1;
      commaSeen = true;
      inCell = false;
      lineEmpty = false;
      i++;
      continue;
    }
    if (b == '\r' || b == '\n') {
      size_t endLength = (b == '\r' && i + 1 < size && p[i + 1] == '\n') ? 2 : 1;
      if (commaSeen) {
        store(p + cellStart, i - cellStart);
        count++;
      } else if (lineEmpty) {
        store(p + i, 0);
        count++;
      }
      doubleQuote = singleQuote = inCell = commaSeen = false;
      lineEmpty = true;
      i += endLength;
      cellStart = i;
      continue;
    }
    if (b == '"') {
      doubleQuote = !doubleQuote;
    } else if (b == '\'') {
      singleQuote = !singleQuote;
    } else if ((b == ' ' || b == '\t') && !inCell) {
      cellStart = i + 1;
    } else {
      inCell = true;
      lineEmpty = false;
      // A trail byte is never read as a comma, quote or line end.
      if (g_LeadByteTable[b] && i + 1 < size) i++;
    }
    i++;
  }
  return count;
}

// A cell as the scripts see it: at most TEXT_VALUE_BYTES - 1 bytes, cut on a character boundary.
size_t CellLength(const uint8_t* cell, size_t length) {
  if (length < TEXT_VALUE_BYTES) return length;
  size_t i = 0;
  while (i < length) {
    size_t n = g_LeadByteTable[cell[i]] ? 2 : 1;
    if (i + n > TEXT_VALUE_BYTES - 1) break;
    i += n;
  }
  return i;
}

// The name as the lookup takes it: ASCII lower case and '\' separators.
void FileNameForLookup(char* name, size_t size, const char* given) {
  CopyTextBounded(name, size, given);
  ToLowerAscii(name);
  for (char* p = name; *p;) {
    if (g_LeadByteTable[(uint8_t)*p] && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '/') *p = '\\';
    p++;
  }
}

}  // namespace

int CmdReadTextTable() {
  if (DecodeCommandArguments(CMD_READ_TEXT_TABLE) != 0) return -1;
  int fileArg = ParamPosition(0), countArg = ParamPosition(1), readArg = ParamPosition(2), out = ParamPosition(3);
  char name[MAX_PATH_BYTES + 1];
  FileNameForLookup(name, sizeof name, fileArg && g_ArgString[fileArg] ? g_ArgString[fileArg] : "");
  FileLocation location;
  if (LoadDataFile(name, &location) != 0) return -1;
  int32_t v = out ? g_ArgReference[out] : -1;
  if (readArg) {
    // The copy ends in a line end of its own, which closes the file's last line.
    size_t size = (size_t)location.mSize;
    uint8_t* copy = static_cast<uint8_t*>(malloc(size + 2));
    if (!copy) {
      free(location.mData);
      ReportErrorF(104030, 1, name);
      return -1;
    }
    if (size) memcpy(copy, location.mData, size);
    copy[size] = '\r';
    copy[size + 1] = '\n';
    int64_t element = 0;
    ScanCells(copy, size + 2, [&](const uint8_t* cell, size_t length) {
      if (out && element <= INT32_MAX)
        StoreStringElementN(v, (int32_t)element, reinterpret_cast<const char*>(cell), CellLength(cell, length));
      element++;
    });
    free(copy);
  } else if (countArg) {
    int64_t count = ScanCells(location.mData, location.mSize, [](const uint8_t*, size_t) {});
    if (out) {
      int64_t e = g_ArgRefElement[out];
      StoreIntElement(v, e >= 0 && e <= INT32_MAX ? (int32_t)e : -1, count);
    }
  }
  free(location.mData);
  return 0;
}
