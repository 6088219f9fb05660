// Fuzz target: a listing as kvasm reads it: its text turned into code page 932, assembled into
// a compiled set, and the set packed, as `kvasm --pack` does without touching the disk.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/lib/assembler.h"
#include "tools/lib/listing_text.h"
#include "tools/lib/pack_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The harness's platform, as every target has it (and its guard that no input starts a program).
  FuzzStart();
  std::string listing, error;
  if (!TextToCp932(std::string(reinterpret_cast<const char*>(data), size), "fuzz.txt", &listing, &error)) return 0;
  AssembledSet set;
  if (!AssembleListing(listing, &set)) return 0;
  std::vector<PackWriterFile> files;
  for (const auto& [name, bytes] : set.files) files.push_back({name, bytes});
  BuildPack(files, PackWriterOptions{}, nullptr, &error);
  return 0;
}
