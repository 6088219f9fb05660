// Appends the runtime's block to a copy of a program and records the block's offset in it.
#include "tools/lib/program_bundle.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/lib/binary_writer.h"

namespace {

// Built at run time from shifted bytes, so the only copy of the marker in a program is the
// record itself (tests bundle copies of programs that hold this code too).
volatile int g_MarkerShift = 1;

std::string BlockMarker() {
  std::string marker = "LJWPS/CMPDLA";
  for (char& c : marker) c = (char)(c - g_MarkerShift);
  return marker;
}

}  // namespace

int64_t FindBlockOffsetRecord(const std::string& program) {
  std::string marker = BlockMarker();
  size_t at = program.find(marker);
  if (at == std::string::npos || at + marker.size() + 4 > program.size()) return -1;
  if (program.find(marker, at + 1) != std::string::npos) return -2;
  return (int64_t)(at + marker.size());
}

std::string BuildAppendedBlock(const std::string& pack, const std::string& image) {
  BinaryWriter w;
  w.Bytes("KVER");
  w.U32(pack.empty() ? 0 : (uint32_t)(16 + image.size()));
  w.U32((uint32_t)image.size());
  w.U32(0);
  return w.Data() + image + pack;
}

bool BundleProgram(const std::string& program, const std::string& pack, const std::string& image,
                   std::string* out, std::string* error) {
  int64_t record = FindBlockOffsetRecord(program);
  if (record < 0) {
    *error = record == -1 ? "the program has no block-offset record" : "the program holds the record twice";
    return false;
  }
  std::string block = BuildAppendedBlock(pack, image);
  if (program.size() + block.size() > 0xFFFFFFFFu) {
    *error = "the bundle would be larger than 4 GiB";
    return false;
  }
  *out = program + block;
  uint32_t offset = (uint32_t)program.size();
  for (int i = 0; i < 4; i++) (*out)[(size_t)record + i] = (char)(offset >> (8 * i));
  return true;
}

bool BundleProgramFile(const std::string& programPath, const std::string& outPath, const std::string& pack,
                       const std::string& image, std::string* error) {
  std::ifstream in(programPath, std::ios::binary);
  if (!in) {
    *error = "cannot read " + programPath;
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  std::string bundled;
  if (!BundleProgram(bytes.str(), pack, image, &bundled, error)) return false;
  std::ofstream o(outPath, std::ios::binary | std::ios::trunc);
  o.write(bundled.data(), (std::streamsize)bundled.size());
  o.close();
  if (!o) {
    *error = "cannot write " + outPath;
    return false;
  }
  std::error_code ec;
  std::filesystem::permissions(outPath, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                            std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                            std::filesystem::perms::others_exec, ec);
  return true;
}
