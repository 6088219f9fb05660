// Small games that query layers and files, preload, copy, write images and save, packed and loose.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

#include "files/files.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/runtime_process.h"
#include "tools/lib/assembler.h"
#include "tools/lib/image_formats.h"
#include "tools/lib/listing_text.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/title_images.h"

namespace {

// A 24-bit BMP of one colour, 0xRRGGBB.
std::string Plain(int width, int height, uint32_t rgb) {
  return MakeBmp24(width, height, [rgb](int, int, uint8_t bgr[3]) {
    bgr[0] = (uint8_t)rgb, bgr[1] = (uint8_t)(rgb >> 8), bgr[2] = (uint8_t)(rgb >> 16);
  });
}

// A 10 x 10 .kcg, transparent but for an opaque block (2..5, 3..7) of 0x090807 whose corner
// (2, 3) is opaque white and whose (3, 3) is white at alpha 128.
std::string Sprite() {
  std::string pixels(10 * 10 * 4, '\0');
  auto put = [&](int x, int y, uint32_t argb) {
    for (int k = 0; k < 4; k++) pixels[((size_t)y * 10 + x) * 4 + k] = (char)(argb >> (8 * k));
  };
  for (int y = 3; y <= 7; y++)
    for (int x = 2; x <= 5; x++) put(x, y, 0xFF090807);
  put(2, 3, 0xFFFFFFFF);
  put(3, 3, 0x80FFFFFF);
  return MakeKcg(10, 10, pixels, true);
}

// The game's files: name, bytes and the pack entry's type code (-1: by the extension).
struct GameFile {
  std::string name, bytes;
  int type;
};

std::vector<GameFile> GameFileList() {
  return {
      {"a.bmp", Plain(8, 6, 0x123456), -1},               // 54 + 6 rows of 24 bytes = 198 bytes
      {"b.bmp", Plain(8, 6, 0x654321), -1},
      {"sub2/i.bmp", Plain(4, 4, 0xC80A14), -1},          // 54 + 4 rows of 12 bytes = 102 bytes
      {"other.bmp", Plain(3, 5, 0x010203), -1},
      {"snd.wav", std::string("RIFF\x24\0\0\0WAVE", 12), -1},
  };
}

const char kListing[] = R"(config width=128 height=48 title="Files"
global int v = 0
global int arr[4] = 0
global str names[2] = ""
global str note = ""
file start.txt
*SYSTEM_START
# A layer's shown opacity changes at the next frame; its pixels are read in window or layer
# coordinates, and the box around its visible pixels side by side.
layer name="al" file="sprite" x=20 y=10 priority=5 visible=1 opacity=100
layerquery name="al" opacity=1 out=v
note = "Q opacity " + str(v)
layerquery name="al" priority=1 out=v
note = note + " priority " + str(v)
wait frames=1
layerquery name="al" opacity=1 out=v
note = note + " next " + str(v)
enginecall code=51 text=note
layerquery name="al" argb=0 px=23 py=13 out=v
note = "Q argb " + str(v)
layerquery name="al" argb=0 px=22 py=13 out=v
note = note + " " + str(v)
layerquery name="al" alpha=0 px=23 py=13 out=v
note = note + " alpha " + str(v)
layerquery name="al" pixel=0 px=22 py=13 out=v
note = note + " pixel " + str(v)
layerquery name="al" pixel=0 px=5 py=5 out=v
note = note + " outside " + str(v)
layerquery name="al" colour=1 px=0 py=0 out=v
note = note + " clear " + str(v)
enginecall code=51 text=note
layerquery name="al" box=1 px=1 out=v
note = "Q box " + str(v)
layerquery name="al" box=1 px=2 out=v
note = note + " " + str(v)
layerquery name="al" box=1 px=3 out=v
note = note + " " + str(v)
layerquery name="al" box=1 px=4 out=v
note = note + " " + str(v)
layerquery name="al" box=1 px=5 out=v
note = note + " " + str(v)
enginecall code=51 text=note
v = 77
layerquery name="missing" width=1 out=v
note = "Q missing " + str(v)
layer name="bg" number=3 file="Sub2\\I" visible=1
layerquery name="bg.3" priority=1 out=v
note = note + " bg3 " + str(v)
layerquery name="bg" number=3 width=1 out=v
note = note + " " + str(v)
layerquery name="bg.3" colour=1 px=3 py=3 out=v
note = note + " " + str(v)
enginecall code=51 text=note
# Existence asks every source; the size is the loose file's only; a path is a folder.
filequery data="a.bmp" exists=1 out=v
note = "F data " + str(v)
filequery data="A.BMP" exists=1 out=v
note = note + " " + str(v)
filequery data="a.bmp" size=1 out=v
note = note + " size " + str(v)
filequery data="sub2/i.bmp" size=1 out=v
note = note + " " + str(v)
filequery data="nothing.bin" exists=1 out=v
note = note + " none " + str(v)
enginecall code=51 text=note
filequery image="b" exists=1 out=v
note = "F image " + str(v)
filequery image="sprite" exists=1 out=v
note = note + " kcg " + str(v)
filequery image="b.bmp" exists=1 out=v
note = note + " named " + str(v)
filequery sound="snd" exists=1 out=v
note = note + " sound " + str(v)
filequery path="sub2" exists=1 out=v
note = note + " folder " + str(v)
filequery path="a.bmp" exists=1 out=v
note = note + " " + str(v)
enginecall code=51 text=note
# A preloaded file outlives its loose copy.
file file="b" preloadimage=1
file file="nothing" preloadimage=2
file file="b.bmp" delete=1
filequery data="b.bmp" exists=1 out=v
note = "P exists " + str(v)
filequery data="b.bmp" size=1 out=v
note = note + " size " + str(v)
layer name="pb" file="B" priority=6 visible=0
layerquery name="pb" width=1 out=v
note = note + " width " + str(v)
layerquery name="pb" colour=1 px=1 py=1 out=v
note = note + " colour " + str(v)
enginecall code=51 text=note
# Copies and folders are the file system's; a written image is found as any other.
file file="a.bmp" dest="a2.bmp" copy=1
filequery data="a2.bmp" size=1 out=v
note = "C copy " + str(v)
file folder="made/deep" mkdir=1
filequery path="made/deep" exists=1 out=v
note = note + " mkdir " + str(v)
layer name="c1" file="a" priority=7 visible=0
file layer="c1" file="Out1" bmp=1
filequery data="out1.bmp" size=1 out=v
note = note + " out1 " + str(v)
layer name="c1r" file="OUT1" priority=8 visible=0
layerquery name="c1r" colour=1 px=2 py=2 out=v
note = note + " " + str(v)
file folder="made/deep" delete=1
filequery path="made/deep" exists=1 out=v
note = note + " rmdir " + str(v)
filequery path="made" exists=1 out=v
note = note + " " + str(v)
enginecall code=51 text=note
# Save data: a new file, an entry appended, both read back.
arr[0] = 10
arr[1] = 20
arr[2] = 30
arr[3] = 40
savewrite file="Slot1" slot=3 var=ref(arr)
filequery data="save/slot1.sd" size=1 out=v
note = "S size " + str(v)
names[0] = "alpha"
names[1] = "be"
savewrite slot=5 var=ref(names)
savewrite file="slot1.SD"
filequery data="save/slot1.sd" size=1 out=v
note = note + " " + str(v)
arr[2] = 0
names[1] = "zz"
saveload file="SLOT1" slot=3 var=ref(arr)
saveload file="slot1" slot=5 var=ref(names)
note = note + " back " + str(arr[2]) + " " + names[1]
enginecall code=51 text=note
layer name="c2" file="other" priority=4 visible=1
savewrite file="slot1" slot=7 layer="c2"
layer name="c2" file="a"
saveload file="slot1" slot=7 layer="c2"
layerquery name="c2" width=1 out=v
note = "S layer " + str(v)
layerquery name="c2" height=1 out=v
note = note + "x" + str(v)
layerquery name="c2" priority=1 out=v
note = note + " priority " + str(v)
layerquery name="c2" colour=1 px=1 py=1 out=v
note = note + " colour " + str(v)
enginecall code=51 text=note
end
)";

class GameFiles : public EndToEndTest {
 protected:
  // The compiled set in data.kpk; the game's files in the pack too, or loose beside it.
  void Build(const std::string& listing, bool packed) {
    AssembledSet set;
    ASSERT_TRUE(AssembleListing(listing, &set)) << set.error;
    std::vector<PackWriterFile> files;
    for (const auto& [name, bytes] : set.files) files.push_back({name, bytes});
    // The sprite is an engine image, so it lives in the pack under an image kind's name.
    PackWriterFile sprite{"sprite.png", Sprite()};
    sprite.type = FILE_TYPE_KCG;
    files.push_back(sprite);
    for (const GameFile& f : GameFileList()) {
      if (packed) {
        PackWriterFile entry{f.name, f.bytes};
        entry.type = f.type;
        files.push_back(entry);
      } else {
        game_.Write(f.name, f.bytes);
      }
    }
    std::string error;
    ASSERT_TRUE(WritePackFile(game_.path() + "/data.kpk", files, PackWriterOptions{}, &error)) << error;
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> out;
    for (const char* prefix : {"Q ", "F ", "P ", "C ", "S "})
      for (std::string line : LogLines(prefix)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
      }
    return out;
  }
};

// Values a packed game and a loose one share: layer queries, names without a source kind of
// their own, the cache, written files and save data. The save file holds the 4112-byte head,
// then each entry's 16-byte header and its level-1 zlib payload: 32 bytes for the integer
// array (type 1, 1 dimension of 4, S = 32, four 64-bit values), 31 for the text array.
std::vector<std::string> Expected(bool packed) {
  const std::string looseSize = packed ? "0" : "198", looseSubSize = packed ? "0" : "102";
  return {
      "Q opacity 256 priority 5 next 100",
      "Q argb -2130706433 -1 alpha 128 pixel 16777215 outside -1 clear 8421504",
      "Q box 3 7 2 5 0",
      "Q missing 0 bg3 3 4 13109780",
      "F data 1 1 size " + looseSize + " " + looseSubSize + " none 0",
      "F image 1 kcg 1 named 1 sound 1 folder " + std::string(packed ? "0" : "1") + " 0",
      "P exists 1 size 0 width 8 colour 6636321",
      "C copy " + looseSize + " mkdir 1 out1 198 1193046 rmdir 0 1",
      "S size 4160 4207 back 30 be",
      "S layer 3x5 priority 1 colour 66051",
  };
}

TEST_F(GameFiles, APackedGameAnswersItsQueriesAsTheFilesAndPartsSay) {
  ASSERT_NO_FATAL_FAILURE(Build(kListing, true));
  ASSERT_EQ(Run(), 0) << DebugLog();
  EXPECT_EQ(Lines(), Expected(true));
}

TEST_F(GameFiles, ALooseGameAnswersAsThePackedOneButForLooseSizesAndFolders) {
  ASSERT_NO_FATAL_FAILURE(Build(kListing, false));
  ASSERT_EQ(Run(), 0) << DebugLog();
  EXPECT_EQ(Lines(), Expected(false));
}

// A game that saves, restarts itself and finds its save: the started-again runtime reads back
// the variables and the layer image the first run wrote.
TEST_F(GameFiles, ASaveWrittenBeforeARestartIsLoadedByTheNextRun) {
  const char listing[] = R"(config width=128 height=48 title="Restart"
global int v = 0
global int arr[3] = 0
global str names[2] = ""
global str note = ""
file start.txt
*SYSTEM_START
filequery data="save/g.sd" exists=1 out=v
if v == 1
  saveload file="g" slot=1 var=ref(arr)
  saveload file="g" slot=2 var=names[1]
  layer name="keep" file="" priority=9 visible=1
  saveload file="g" slot=3 layer="keep"
  layerquery name="keep" width=1 out=v
  note = "second run " + str(arr[0]) + "," + str(arr[1]) + "," + str(arr[2]) + " [" + names[0] + "][" + names[1] + "] " + str(v)
  layerquery name="keep" colour=1 px=2 py=4 out=v
  note = note + " " + str(v)
  enginecall code=51 text=note
  end
endif
arr[0] = 7
arr[1] = -8
arr[2] = 9
names[0] = "一つ"
layer name="shot" file="other" priority=2 visible=1
savewrite slot=1 var=ref(arr)
savewrite slot=2 var=names[0]
savewrite file="g" slot=3 layer="shot"
note = "first run saved"
enginecall code=51 text=note
end restart=1
)";
  std::string cp932, error;
  ASSERT_TRUE(TextToCp932(listing, "restart.txt", &cp932, &error)) << error;
  ASSERT_NO_FATAL_FAILURE(Build(cp932, true));
  pid_t pid = StartRuntime({"--game", game_.path()}, [] {});
  ASSERT_EQ(WaitForEnd(pid), 0);
  // The first run has ended; the run it started writes its line once it has loaded the save,
  // and lets the game's lock go when it ends.
  auto start = std::chrono::steady_clock::now();
  auto tooLong = [&] { return std::chrono::steady_clock::now() - start > std::chrono::minutes(2); };
  std::string log = game_.path() + "/debuglog.txt";
  ASSERT_TRUE(WaitForText(log, "second run", tooLong)) << ReadWholeFile(log);
  while (!GameLockFiles(game_.path()).empty() && !tooLong()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::vector<std::string> lines = LogLines("second run");
  ASSERT_EQ(lines.size(), 1u);
  std::string line = lines[0];
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // The element saved from names[0] goes back into names[1]; names[0] stays empty.
  EXPECT_EQ(line, "second run 7,-8,9 [][\x88\xEA\x82\xC2] 3 66051");
  EXPECT_EQ(LogLines("first run saved").size(), 1u);
}

// An installed game whose folder its player cannot write keeps what it writes in the player's
// folder for it, and its queries find it there: the size of its save and of an exported image,
// the folders it made (and no longer the one it removed). As root the run is made as nobody.
TEST_F(GameFiles, AReadOnlyGameFindsWhatItWroteInThePlayersFolder) {
  const char listing[] = R"(config width=128 height=48 title="Installed"
global int v = 0
global int arr[2] = 0
global str note = ""
file start.txt
*SYSTEM_START
arr[0] = 3
savewrite file="ro" slot=1 var=ref(arr)
filequery data="save/ro.sd" exists=1 out=v
note = "RO save " + str(v)
filequery data="save/ro.sd" size=1 out=v
note = note + " " + str(v)
filequery path="save" exists=1 out=v
note = note + " folder " + str(v)
file folder="Made/Deep" mkdir=1
filequery path="made/deep" exists=1 out=v
note = note + " made " + str(v)
layer name="pic" file="" width=24 height=8 priority=1 visible=1
file file="made/deep/one" layer="pic" bmp=1
filequery data="made/deep/one.bmp" size=1 out=v
note = note + " image " + str(v)
file file="made/deep/one.bmp" dest="made/two.bmp" copy=1
filequery data="made/two.bmp" size=1 out=v
note = note + " copy " + str(v)
file file="made/deep/one.bmp" delete=1 folder="made/deep"
filequery data="made/deep/one.bmp" exists=1 out=v
note = note + " deleted " + str(v)
filequery path="made/deep" exists=1 out=v
note = note + " removed " + str(v)
filequery path="made" exists=1 out=v
note = note + " " + str(v)
enginecall code=51 text=note
end
)";
  bool root = geteuid() == 0;
  TempFolder top;
  ASSERT_EQ(chmod(top.path().c_str(), 0755), 0);
  std::string game = top.path() + "/Installed", data = top.path() + "/data";
  ASSERT_TRUE(PlatCreateFolder(game));
  ASSERT_TRUE(PlatCreateFolder(data));
  ASSERT_EQ(chmod(data.c_str(), 01777), 0);
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(listing, &set)) << set.error;
  ASSERT_TRUE(WritePackedSet(game, set));
  ASSERT_EQ(chmod((game + "/data.kpk").c_str(), 0644), 0);
  ASSERT_EQ(chmod(game.c_str(), 0555), 0);
  pid_t pid = StartRuntime({"--game", game}, [&] {
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("TMPDIR", data.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    if (root && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                 setresuid(65534, 65534, 65534) != 0))
      _exit(126);
  });
  int status = WaitForEnd(pid);
  chmod(game.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  std::string user = data + "/kivor/Installed";
  // The save: the 4112-byte head, one entry's 16-byte header and the level-1 zlib payload of
  // the array (type 1, 1 dimension of 2, S = 16, the values 3 and 0), 23 bytes. The image:
  // 54 header bytes and 8 rows of 24 pixels, 72 bytes each.
  EXPECT_NE(ReadWholeFile(user + "/debuglog.txt")
                .find("RO save 1 4151 folder 1 made 1 image 630 copy 630 deleted 0 removed 0 1"),
            std::string::npos)
      << ReadWholeFile(user + "/debuglog.txt");
  EXPECT_TRUE(PlatFileExists(user + "/made/two.bmp"));
  EXPECT_FALSE(PlatFolderExists(user + "/made/deep"));
  std::vector<std::string> names;
  EXPECT_TRUE(PlatListFolder(game, &names));
  EXPECT_EQ(names, std::vector<std::string>{"data.kpk"});
}

}  // namespace
