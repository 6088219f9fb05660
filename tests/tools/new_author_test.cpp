// A new author's game built from tools/README.md alone: the README's commands, a listing with no
// declarations beyond its own, played headless with a scripted click. It reads the click, the
// cursor and the loop counter from the system variables, and its cut-off picture stops it with
// that picture's numbered message.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "layers/image_codecs.h"
#include "tests/support/engine_fixture.h"
#include "tests/tools/tools_fixture.h"

namespace {

const char kListing[] = R"(# night.txt: a title, a styled message window, a click, a loop and a face.
config width=320 height=240 title="夜" show=1
global int total = 0
global str note = ""
file start.txt
*SYSTEM_START
layer name="back" file="" width=320 height=240 priority=0 visible=1
layer name="text" file="" width=300 height=60 x=10 y=170 priority=11 visible=1
textstyle slot=0 width=16 height=20 colour1=0xFFFF00 colour2=0xFFFF00 composite=1
messageconfig layer="text" delay=0 endclick=0
text "クリックしてください"
messageend
*WAIT_CLICK
wait frames=1
if $136 == 0
  jump WAIT_CLICK
endif
note = "author: click " + str($136) + " at " + str($123) + "," + str($128)
enginecall code=51 text=note
loop 3
  total += $48
endloop
note = "author: loops " + str(total)
enginecall code=51 text=note
layer name="face" file="face.png" priority=5 visible=1
note = "author: past the face"
enginecall code=51 text=note
end
)";

// The README's commands, with the picture copied beside the compiled files before packing.
std::string ReadmeCommands() {
  std::string readme = ReadFile(std::string(KIVOR_SOURCE_DIR) + "/tools/README.md");
  size_t at = readme.find("```sh\n");
  size_t end = readme.find("\n```", at + 6);
  if (at == std::string::npos || end == std::string::npos) return "";
  std::string commands = readme.substr(at + 6, end + 1 - at - 6);
  for (size_t k = commands.find("hello"); k != std::string::npos; k = commands.find("hello", k + 1))
    commands.replace(k, 5, "night");
  size_t pack = commands.find("kvpack");
  if (pack == std::string::npos) return "";
  return commands.insert(pack, "cp face.png stage/\n");
}

TEST(NewAuthor, AGameFromTheReadmeReadsTheSystemVariablesAndNamesItsBrokenPicture) {
  std::string commands = ReadmeCommands();
  ASSERT_NE(commands.find("kvasm night.txt stage"), std::string::npos) << commands;
  ASSERT_NE(commands.find("kivor --game night"), std::string::npos) << commands;
  TempFolder folder;
  folder.Write("night.txt", kListing);
  // A 16 x 16 PNG cut off halfway: the header reads, the picture data ends early.
  std::vector<uint8_t> pixels(16 * 16 * 4, 0x80);
  ASSERT_EQ(WritePngFile(folder.path() + "/whole.png", pixels.data(), 16, 16, false, 6), 0);
  std::string png = ReadFile(folder.path() + "/whole.png");
  ASSERT_GT(png.size(), 60u);
  folder.Write("face.png", png.substr(0, png.size() / 2));
  folder.Write("input.txt", "600 click 0 100 80\n30000 quit\n");
  folder.Write("build.sh", commands);
  std::string env = "export PATH=" + kTools + ":" + KIVOR_BINARY_DIR +
                    ":$PATH KIVOR_PLATFORM=headless KIVOR_INPUT_SCRIPT=" + folder.path() + "/input.txt ASAN_OPTIONS=detect_leaks=0; ";
  Result r = Shell(folder.path(), env + ". ./build.sh");
  std::string log = ReadFile(folder.path() + "/night/debuglog.txt");
  EXPECT_NE(log.find("author: click 1 at 100,80\n"), std::string::npos) << log << r.output;
  EXPECT_NE(log.find("author: loops 6\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("author: past the face"), std::string::npos) << log;
  // The error box (echoed on stderr headless) shows the picture's own message, with its name.
  EXPECT_NE(r.output.find("[face.png]ファイルを / PNGとして読み込めませんでした。"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("エラー文字列の指定ミス"), std::string::npos) << r.output;
}

}  // namespace
