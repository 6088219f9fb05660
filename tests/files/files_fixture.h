// Shared set-up of the file tests: a temporary program folder that is also the project folder,
// fresh file sources and helpers to write packs and to read the last message.
#pragma once

#include <string>
#include <vector>

#include "files/files.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/pack_writer.h"

class FilesTest : public HeadlessTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes a pack built from `files` at `name` (relative, '/' separated).
  std::string WritePack(const std::string& name, const std::vector<PackWriterFile>& files,
                        std::vector<PackWriterEntryLayout>* layout = nullptr, uint32_t version = 480);
  // Reads a whole file through the lookup; "<none>" when it is not found, "<fail>" when the read fails.
  std::string Load(const char* name);
  // True when the last dialog shows the built-in text whose UTF-8 fragment is given.
  bool DialogShows(const char* utf8Fragment);
  void ClearMessage();

  TempFolder folder_;
};

PackWriterFile Stored(const std::string& name, const std::string& bytes, bool repair = true);
PackWriterFile Zipped(const std::string& name, const std::string& bytes, bool repair = true);
// Bytes that compress well but not trivially, `size` long, varied by `seed`.
std::string SampleBytes(size_t size, uint32_t seed);
