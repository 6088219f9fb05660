// The file tests' shared set-up.
#include "tests/files/files_fixture.h"

#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "platform/platform.h"
#include "tests/support/loose_files.h"

void FilesTest::SetUp() {
  HeadlessTest::SetUp();
  FillNameLengthTable(g_NameLengthTable);
  UseLooseFolder(folder_.path());
}

void FilesTest::TearDown() {
  FreePackIndex();
  g_ExeFolderReal.clear();
  g_ProjectFolderReal.clear();
  HeadlessTest::TearDown();
}

std::string FilesTest::WritePack(const std::string& name, const std::vector<PackWriterFile>& files,
                                 std::vector<PackWriterEntryLayout>* layout, uint32_t version) {
  PackWriterOptions options;
  options.version = version;
  std::string error;
  std::string bytes = BuildPack(files, options, layout, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  folder_.Write(name, bytes);
  return bytes;
}

std::string FilesTest::Load(const char* name) {
  FileLocation loc{};
  int found = LocateFile(&loc, name, true);
  if (found == 0) return "<none>";
  if (found < 0 || ReadLocatedFile(&loc, name) != 0) return "<fail>";
  std::string bytes(reinterpret_cast<const char*>(loc.mData), loc.mSize);
  free(loc.mData);
  return bytes;
}

bool FilesTest::DialogShows(const char* utf8Fragment) {
  std::string cp932;
  PlatUtf8ToCp932(utf8Fragment, strlen(utf8Fragment), &cp932);
  return std::string(LastErrorDialogText()).find(cp932) != std::string::npos;
}

void FilesTest::ClearMessage() {
  ResetMessageState();
  g_QuitFlag = 0;
}

PackWriterFile Stored(const std::string& name, const std::string& bytes, bool repair) {
  PackWriterFile f;
  f.name = name;
  f.bytes = bytes;
  f.compress = false;
  f.repair = repair;
  return f;
}

PackWriterFile Zipped(const std::string& name, const std::string& bytes, bool repair) {
  PackWriterFile f = Stored(name, bytes, repair);
  f.compress = true;
  return f;
}

std::string SampleBytes(size_t size, uint32_t seed) {
  std::string s(size, 0);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; i++) {
    x = x * 1103515245u + 12345u;
    // Few distinct symbols: zlib shrinks it, yet every block differs.
    s[i] = (char)('a' + ((x >> 16) % 7));
  }
  return s;
}
