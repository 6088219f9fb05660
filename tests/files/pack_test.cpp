// Pack archives written by the pack writer: the folder scan, update packs, stored and zlib
// entries, hash check and repair, and hostile directories and entries.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "files/files.h"
#include "tests/files/files_fixture.h"

namespace {

void PutU32(std::string* bytes, size_t pos, uint32_t v) {
  for (int i = 0; i < 4; i++) (*bytes)[pos + i] = (char)(v >> (8 * i));
}

}  // namespace

TEST_F(FilesTest, StoredAndCompressedEntriesReadBack) {
  std::string big = SampleBytes(70000, 1);
  WritePack("data.kpk", {Stored("bg/title.png", "stored bytes"), Zipped("BG/Big.PNG", big),
                         Zipped("empty.txt", ""), Stored("nothing.bin", "")});
  ASSERT_EQ(BuildPackIndex(), 0);
  EXPECT_EQ(g_PackIndex.mCount, 4);
  EXPECT_EQ(Load("bg\\title.png"), "stored bytes");
  EXPECT_EQ(Load("bg\\big.png"), big);
  EXPECT_EQ(Load("empty.txt"), "");
  EXPECT_EQ(Load("nothing.bin"), "");
  FileLocation loc{};
  ASSERT_EQ(LocateFile(&loc, "bg\\big.png", false), FILE_SOURCE_PACK);
  EXPECT_EQ(loc.mType, FILE_TYPE_PNG);
  // The hash is of the name as the caller spells it, so another case misses the entry.
  EXPECT_EQ(Load("BG\\BIG.PNG"), "<none>");
  EXPECT_EQ(g_PackedRelease, 0);
  EXPECT_EQ(g_QuitFlag.load(), 0);
}

TEST_F(FilesTest, ScanFindsTheProgramFolderAndPacSubFoldersOnly) {
  WritePack("data.kpk", {Stored("a.txt", "A")});
  WritePack("PAC/more.KPK", {Stored("b.txt", "B")});
  WritePack("pac/pac/deep.kpk", {Stored("c.txt", "C")});
  WritePack("other/side.kpk", {Stored("d.txt", "D")});
  folder_.Write("fake.kpk", "not a pack at all");
  folder_.Write("x.kp", "short");
  ASSERT_EQ(BuildPackIndex(), 0);
  EXPECT_EQ(g_PackCount, 2);
  EXPECT_EQ(Load("a.txt"), "A");
  EXPECT_EQ(Load("b.txt"), "B");
  EXPECT_EQ(Load("c.txt"), "<none>");
  EXPECT_EQ(Load("d.txt"), "<none>");
}

TEST_F(FilesTest, UpdatePacksReplaceEarlierEntriesHighestLast) {
  WritePack("base.kpk", {Stored("a.txt", "base a"), Stored("b.txt", "base b"), Stored("c.txt", "base c")});
  WritePack("update2.kpk", {Stored("a.txt", "update2 a")});
  WritePack("Update1.kpk", {Stored("A.TXT", "update1 a"), Zipped("b.txt", "update1 b")});
  WritePack("zzz.kpk", {Stored("z.txt", "z")});
  ASSERT_EQ(BuildPackIndex(), 0);
  ASSERT_EQ(g_PackCount, 4);
  EXPECT_EQ(g_PackPaths[2].mPath, ".\\update1.kpk");
  EXPECT_EQ(g_PackPaths[3].mPath, ".\\update2.kpk");
  EXPECT_EQ(Load("a.txt"), "update2 a");
  EXPECT_EQ(Load("b.txt"), "update1 b");
  EXPECT_EQ(Load("c.txt"), "base c");
  EXPECT_EQ(Load("z.txt"), "z");
}

TEST_F(FilesTest, TheProjectSettingsInAPackMakeAPackedRelease) {
  WritePack("data.kpk", {Stored("KVBIN/KVCFG.KBN", "cfg")});
  ASSERT_EQ(BuildPackIndex(), 0);
  EXPECT_EQ(g_PackedRelease, 1);
}

TEST_F(FilesTest, RefusedPackSets) {
  PackWriterOptions current, old;
  old.version = 233;
  std::string error;
  std::string one = BuildPack({Stored("Same.txt", "1")}, current, nullptr, &error);
  std::string crowded = one;
  PutU32(&crowded, 8, (uint32_t)MAX_PACK_ENTRIES + 1);
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> packs;
    const char* message;    // UTF-8 fragment of the built-in text
    int fatal;
  } cases[] = {
      {"old version", {{"one.kpk", BuildPack({Stored("a", "1")}, old, nullptr, &error)}},
       "パックファイル仕様が現在の仕様と一致しません。", 1},
      {"same name in two ordinary packs",
       {{"one.kpk", one}, {"two.kpk", BuildPack({Stored("same.txt", "2")}, current, nullptr, &error)}},
       "重複しています。", 0},
      {"same name twice in one ordinary pack",
       {{"one.kpk", BuildPack({Stored("a.txt", "1"), Zipped("A.TXT", "2")}, current, nullptr, &error)}},
       "重複しています。", 0},
      {"too many entries", {{"one.kpk", crowded}}, "合計 100000 個を超えました。", 1},
  };
  for (const Case& c : cases) {
    TempFolder other;
    g_ExeFolderReal = other.path();
    for (const auto& [name, bytes] : c.packs) other.Write(name, bytes);
    ClearMessage();
    EXPECT_EQ(BuildPackIndex(), -1) << c.what;
    EXPECT_TRUE(DialogShows(c.message)) << c.what << ": " << LastErrorDialogText();
    EXPECT_EQ(g_QuitFlag.load(), c.fatal) << c.what;
  }

  TempFolder many;
  g_ExeFolderReal = many.path();
  for (int i = 0; i <= MAX_PACKS; i++) many.Write("p" + std::to_string(1000 + i) + ".kpk", BuildPack({}, current, nullptr, &error));
  ClearMessage();
  EXPECT_EQ(BuildPackIndex(), -1);
  EXPECT_TRUE(DialogShows("パックファイルを同時に扱えるのは 100 個までです。")) << LastErrorDialogText();

  // A later version is read like the current one.
  g_ExeFolderReal = folder_.path();
  WritePack("new.kpk", {Stored("n.txt", "new")}, nullptr, 300);
  ClearMessage();
  ASSERT_EQ(BuildPackIndex(), 0);
  EXPECT_EQ(Load("n.txt"), "new");
}

// Packers that keep each file's own spelling store names that differ only in ASCII case (the
// hash is always of the lower-cased spelling). Such names are different entries, in one pack
// or in two; only the same stored spelling is a duplicate.
TEST_F(FilesTest, NamesThatDifferOnlyInAsciiCaseAreDifferentEntries) {
  // The stored name is complemented, so upper-casing a letter clears bit 5 of its inverse.
  auto spell = [](std::string* pack, const PackWriterEntryLayout& entry, const std::string& stored) {
    for (size_t i = 0; i < stored.size(); i++) (*pack)[entry.directoryPos + 5 + i] = (char)~stored[i];
  };
  PackWriterOptions options;
  std::string error;
  std::vector<PackWriterEntryLayout> layout;
  std::string one = BuildPack({Stored("bg\\title.png", "lower"), Stored("bg\\title.png", "upper")}, options, &layout, &error);
  ASSERT_EQ(layout.size(), 2u);
  spell(&one, layout[1], "BG\\Title.PNG");
  folder_.Write("one.kpk", one);
  ClearMessage();
  ASSERT_EQ(BuildPackIndex(), 0) << LastErrorDialogText();
  EXPECT_EQ(g_PackIndex.mCount, 2);
  EXPECT_EQ(g_QuitFlag.load(), 0);
  std::string got = Load("bg\\title.png");
  EXPECT_TRUE(got == "lower" || got == "upper") << got;

  TempFolder two;
  g_ExeFolderReal = two.path();
  std::string first = BuildPack({Stored("Readme.TXT", "1")}, options, &layout, &error);
  spell(&first, layout[0], "Readme.TXT");
  two.Write("first.kpk", first);
  two.Write("second.kpk", BuildPack({Stored("readme.txt", "2")}, options, nullptr, &error));
  ClearMessage();
  ASSERT_EQ(BuildPackIndex(), 0) << LastErrorDialogText();
  EXPECT_EQ(g_PackIndex.mCount, 2);

  // The same stored spelling twice is still a duplicate.
  std::string again = BuildPack({Stored("Readme.TXT", "3")}, options, &layout, &error);
  spell(&again, layout[0], "Readme.TXT");
  two.Write("second.kpk", again);
  ClearMessage();
  EXPECT_EQ(BuildPackIndex(), -1);
  EXPECT_TRUE(DialogShows("重複しています。")) << LastErrorDialogText();
}

TEST_F(FilesTest, WithoutPacksEveryPackLookupFindsNothing) {
  ASSERT_EQ(BuildPackIndex(), 0);
  EXPECT_EQ(g_PackIndex.mCount, 0);
  FileLocation loc{};
  EXPECT_EQ(FindInPacks(&loc, "a.txt"), 0);
}

// Damage to the stored bytes of one entry: which blocks, whether a repair record exists.
TEST_F(FilesTest, DamagedEntriesAreRepairedFromTheirRecordOrRefused) {
  struct Case {
    const char* what;
    bool compress;
    bool repair;
    std::vector<size_t> damaged;   // offsets into the stored bytes, each byte inverted
    bool readable;
  } cases[] = {
      {"stored, one block", false, true, {10, 500, 1023}, true},
      {"stored, short last block", false, true, {4100}, true},
      {"stored, no record", false, false, {10}, false},
      {"stored, two blocks at one position", false, true, {10, 1034}, false},
      {"zlib, one block", true, true, {200, 210}, true},
      {"zlib, no record", true, false, {200}, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string content = SampleBytes(c.compress ? 60000 : 4200, 7 + n);
    std::string packName = "p" + std::to_string(n++) + ".kpk";
    TempFolder other;
    g_ExeFolderReal = other.path();
    std::vector<PackWriterEntryLayout> layout;
    PackWriterOptions options;
    std::string error;
    std::string pack = BuildPack({c.compress ? Zipped("f.bin", content, c.repair) : Stored("f.bin", content, c.repair)},
                                 options, &layout, &error);
    ASSERT_EQ(layout.size(), 1u);
    for (size_t off : c.damaged) {
      ASSERT_LT(off, layout[0].storedSize) << c.what;
      pack[layout[0].dataPos + off] = (char)~pack[layout[0].dataPos + off];
    }
    other.Write(packName, pack);
    ClearMessage();
    ASSERT_EQ(BuildPackIndex(), 0) << c.what;
    std::string got = Load("f.bin");
    if (c.readable) {
      EXPECT_TRUE(got == content) << c.what;
      EXPECT_EQ(g_QuitFlag.load(), 0) << c.what;
    } else {
      EXPECT_EQ(got, "<fail>") << c.what;
      EXPECT_TRUE(DialogShows("パックファイル中に破損ファイルが見つかりました。")) << c.what;
      EXPECT_EQ(g_QuitFlag.load(), 1) << c.what;
    }
  }
}

// Hostile directories: the whole pack is refused at start-up with the format message.
TEST_F(FilesTest, HostileDirectoriesAreRefused) {
  std::vector<PackWriterEntryLayout> layout;
  std::string good = WritePack("data.kpk", {Stored("first.txt", "1"), Stored("second.txt", "2")}, &layout);
  struct Case {
    const char* what;
    size_t pos;
    uint32_t value;
    bool byte;
  } cases[] = {
      {"count past the directory", 8, 50000, false},
      {"count just past the entries", 8, 3, false},
      {"directory past the file", 12, 0x7FFFFFF0, false},
      {"directory cut inside an entry", 12, 40, false},
      // The last entry's name-length byte made to claim 255 bytes.
      {"name longer than the directory", layout[1].directoryPos + 4, 0, true},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    if (c.byte) {
      uint8_t table[256];
      FillNameLengthTable(table);
      uint8_t b = 0;
      for (int i = 0; i < 256; i++)
        if (table[i] == 255) b = (uint8_t)(255 - i);
      bad[c.pos] = (char)b;
    } else {
      PutU32(&bad, c.pos, c.value);
    }
    folder_.Write("data.kpk", bad);
    ClearMessage();
    EXPECT_EQ(BuildPackIndex(), -1) << c.what;
    EXPECT_TRUE(DialogShows("パックファイル仕様が現在の仕様と一致しません。")) << c.what;
  }
}

// Hostile entries: the entry is refused when read; the rest of the pack stays usable.
TEST_F(FilesTest, HostileEntriesAreRefusedWhenRead) {
  std::vector<PackWriterEntryLayout> layout;
  std::string content = SampleBytes(3000, 5);
  WritePack("data.kpk", {Zipped("z.bin", content, false), Stored("ok.txt", "fine")}, &layout);
  std::string good;
  {
    std::vector<PackWriterEntryLayout> again;
    PackWriterOptions options;
    std::string error;
    good = BuildPack({Zipped("z.bin", content, false), Stored("ok.txt", "fine")}, options, &again, &error);
  }
  // Fields after the name "z.bin" (5 bytes): type at +10, compression at +11, size at +12,
  // stored size at +16, data offset at +20.
  size_t entry = layout[0].directoryPos;
  struct Case {
    const char* what;
    size_t pos;
    uint32_t value;
    const char* message;
  } cases[] = {
      {"offset past the file", entry + 20, 0x10000000, "破損ファイル"},
      {"stored size past the file", entry + 16, 0x10000000, "破損ファイル"},
      {"size beyond any inflation", entry + 12, 0xFFFFFFF0, "破損ファイル"},
      {"stream shorter than declared", entry + 12, 3001, "破損ファイル"},
      {"stream longer than declared", entry + 12, 2999, "バッファ不足"},
      {"unknown compression", entry + 11, 7, "オープンできませんでした"},
      {"bad zlib stream", layout[0].dataPos, 0xDEADBEEF, "破損ファイル"},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    if (std::string(c.what) == "unknown compression") bad[c.pos] = (char)c.value;
    else PutU32(&bad, c.pos, c.value);
    folder_.Write("data.kpk", bad);
    ClearMessage();
    ASSERT_EQ(BuildPackIndex(), 0) << c.what;
    EXPECT_EQ(Load("z.bin"), "<fail>") << c.what;
    EXPECT_TRUE(DialogShows(c.message)) << c.what << ": " << LastErrorDialogText();
    EXPECT_EQ(Load("ok.txt"), "fine") << c.what;
  }
}

// Entries are found by their stored hash, and entries of one hash in index order: the packs'
// order of registration, then each directory's order. A directory in which many names share
// one hash still builds, and a name given twice among them is still a duplicate.
TEST_F(FilesTest, EntriesOfOneHashAreTakenInIndexOrder) {
  auto forge = [](std::string* pack, const PackWriterEntryLayout& entry, uint32_t hash, const char* stored) {
    PutU32(pack, entry.directoryPos, hash);
    for (size_t i = 0; stored && stored[i]; i++) (*pack)[entry.directoryPos + 5 + i] = (char)~stored[i];
  };
  uint32_t hash = MurmurHash2("x.txt", 5, 0);
  PackWriterOptions options;
  std::string error;
  std::vector<PackWriterEntryLayout> layout;
  // The program folder's packs register before those of "pac": "X.TXT" comes first.
  std::string first = BuildPack({Stored("y.txt", "first y"), Stored("x.txt", "first")}, options, &layout, &error);
  forge(&first, layout[1], hash, "X.TXT");
  // "y.txt" stored under the hash of "x.txt" is no longer found by its own name.
  forge(&first, layout[0], hash, nullptr);
  folder_.Write("data.kpk", first);
  WritePack("pac/more.kpk", {Stored("x.txt", "second")});
  ClearMessage();
  ASSERT_EQ(BuildPackIndex(), 0) << LastErrorDialogText();
  EXPECT_EQ(g_PackIndex.mCount, 3);
  EXPECT_EQ(Load("x.txt"), "first");
  EXPECT_EQ(Load("y.txt"), "<none>");

  // 3,000 names under one hash; then one of them twice.
  std::vector<PackWriterFile> files;
  for (int i = 0; i < 3000; i++) files.push_back(Stored("n" + std::to_string(i) + ".txt", std::to_string(i)));
  std::string crowd = BuildPack(files, options, &layout, &error);
  for (const PackWriterEntryLayout& entry : layout) forge(&crowd, entry, hash, nullptr);
  TempFolder other;
  g_ExeFolderReal = other.path();
  other.Write("data.kpk", crowd);
  ClearMessage();
  ASSERT_EQ(BuildPackIndex(), 0) << LastErrorDialogText();
  EXPECT_EQ(g_PackIndex.mCount, 3000);
  forge(&crowd, layout[2999], hash, "n1234.txt");
  other.Write("data.kpk", crowd);
  ClearMessage();
  EXPECT_EQ(BuildPackIndex(), -1);
  EXPECT_TRUE(DialogShows("重複しています。")) << LastErrorDialogText();
  EXPECT_NE(std::string(LastErrorDialogText()).find("n1234.txt"), std::string::npos) << LastErrorDialogText();
}

// The index is built pack by pack, entry by entry: a duplicate is the fault reported when it
// comes before a pack whose directory is broken.
TEST_F(FilesTest, ADuplicateBeforeABrokenPackIsTheFaultReported) {
  WritePack("data.kpk", {Stored("a.txt", "1"), Stored("A.txt", "2")});
  std::string broken = WritePack("pac/broken.kpk", {Stored("b.txt", "3")});
  PutU32(&broken, 12, 0x7FFFFFF0);
  folder_.Write("pac/broken.kpk", broken);
  ClearMessage();
  EXPECT_EQ(BuildPackIndex(), -1);
  EXPECT_TRUE(DialogShows("重複しています。")) << LastErrorDialogText();
  EXPECT_EQ(g_QuitFlag.load(), 0);
  // Without the duplicate the broken pack is the fault.
  WritePack("data.kpk", {Stored("a.txt", "1")});
  ClearMessage();
  EXPECT_EQ(BuildPackIndex(), -1);
  EXPECT_TRUE(DialogShows("パックファイル仕様が現在の仕様と一致しません。")) << LastErrorDialogText();
  EXPECT_EQ(g_QuitFlag.load(), 1);
}
