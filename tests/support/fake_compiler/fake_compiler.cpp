// A stand-in for the outside script compiler: started as "system/RUDud/RUDud kv" by the
// runtime, it follows the plan in system/RUDud/plan.txt and hands files over through the
// runtime's shared memory blocks. Plan lines:
//   end-early              end before reporting ready
//   result N               the result byte (default 1)
//   count N                the file count reported (default: the files listed)
//   size N                 the data size reported (default: what the files need)
//   folder TEXT            the folder written back (default: the runtime's folder, unchanged)
//   file NAME PATH         a file named NAME with the bytes of PATH (relative to the game folder)
//   raw HEX                bytes appended to the data as they are (for broken entries)
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace {

void Put32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; i++) *out += (char)(v >> (8 * i));
}

uint32_t Get32(const volatile uint8_t* p) { return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

void Set32(volatile uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || strcmp(argv[1], "kv") != 0) return 3;
  std::ifstream planFile("system/RUDud/plan.txt");
  std::string data, folder, line;
  bool endEarly = false, haveFolder = false;
  int64_t result = 1, count = -1, size = -1;
  uint32_t files = 0;
  while (std::getline(planFile, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "end-early") endEarly = true;
    else if (word == "result") words >> result;
    else if (word == "count") words >> count;
    else if (word == "size") words >> size;
    else if (word == "folder") {
      std::getline(words >> std::ws, folder);
      haveFolder = true;
    } else if (word == "file") {
      std::string name, path;
      words >> name >> path;
      std::ifstream in(path, std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      Put32(&data, (uint32_t)name.size() + 1);
      data += name;
      data += '\0';
      Put32(&data, (uint32_t)bytes.str().size());
      data += bytes.str();
      files++;
    } else if (word == "raw") {
      std::string hex;
      words >> hex;
      for (size_t i = 0; i + 1 < hex.size(); i += 2) data += (char)strtol(hex.substr(i, 2).c_str(), nullptr, 16);
    }
  }
  if (endEarly) return 0;
  PlatSharedMemory* control = PlatSharedMemoryOpenParent("KIVORCompilerFileMapObject", 512);
  if (!control) return 4;
  volatile uint8_t* c = PlatSharedMemoryData(control);
  if (Get32(c + 128) != 480) return 5;
  uint32_t reportedSize = size >= 0 ? (uint32_t)size : (uint32_t)data.size();
  Set32(c + 16, count >= 0 ? (uint32_t)count : files);
  Set32(c + 20, reportedSize);
  Set32(c + 0, 1);
  for (int i = 0; Get32(c + 4) != 1; i++) {
    if (i > 3000) return 6;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  uint32_t blockSize = reportedSize ? reportedSize : 16;
  PlatSharedMemory* block = PlatSharedMemoryOpenParent("KIVORCompilerFileMapObject2", blockSize);
  if (!block) return 7;
  volatile uint8_t* d = PlatSharedMemoryData(block);
  for (size_t i = 0; i < data.size() && i < blockSize; i++) d[i] = (uint8_t)data[i];
  c[12] = (uint8_t)result;
  if (haveFolder) {
    size_t n = folder.size() < 379 ? folder.size() : 379;
    for (size_t i = 0; i < n; i++) c[132 + i] = (uint8_t)folder[i];
    c[132 + n] = 0;
  }
  PlatSharedMemoryClose(block);
  PlatSharedMemoryClose(control);
  return 0;
}
