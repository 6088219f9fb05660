// kvpack and kvbundle on what a pack cannot hold: movies, which play only as loose files, and
// two names that differ only in case, which a pack would store as one.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/engine_fixture.h"
#include "tests/tools/tools_fixture.h"
#include "tools/lib/pack_writer.h"

namespace {

// The names a pack holds, as stored (lower case, '\' separators).
std::vector<std::string> PackNames(const std::string& pack) {
  std::vector<std::string> names, dropped;
  std::string out, error;
  EXPECT_TRUE(FilterPack(pack, [&](const std::string& name) { return names.push_back(name), false; }, &out, &dropped,
                         &error))
      << error;
  EXPECT_EQ(out, pack);   // dropping nothing gives the same pack
  return names;
}

TEST(KvpackMovies, MoviesAreLeftOutWithAWarning) {
  TempFolder stage, game;
  stage.Write("bg.png", "PNG");
  stage.Write("movie/opening.mpg", "MPEG");
  stage.Write("movie/ending.MP4", "MP4");
  stage.Write("flash/title.swf", "SWF");
  Result r = Shell(stage.path(), kTools + "kvpack . " + game.path() + "/data.kpk");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* movie : {"movie/opening.mpg", "movie/ending.MP4", "flash/title.swf"})
    EXPECT_NE(r.output.find(std::string("kvpack: warning: ./") + movie + " left out: movies play only as loose files"),
              std::string::npos)
        << movie << ": " << r.output;
  EXPECT_EQ(PackNames(ReadFile(game.path() + "/data.kpk")), std::vector<std::string>{"bg.png"});
}

TEST(KvpackNames, TwoNamesThatDifferOnlyInCaseAreRefusedNamingBoth) {
  struct Case {
    std::vector<std::string> files;
    std::string says;
  };
  const Case cases[] = {
      {{"Face.png", "face.png"}, "./Face.png and ./face.png differ only in case"},
      {{"img/A.bmp", "IMG/a.bmp", "z.txt"}, "./IMG/a.bmp and ./img/A.bmp differ only in case"},
  };
  for (const Case& c : cases) {
    TempFolder stage, game;
    for (const std::string& f : c.files) stage.Write(f, f);
    Result r = Shell(stage.path(), kTools + "kvpack . " + game.path() + "/data.kpk");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("kvpack: " + c.says), std::string::npos) << r.output;
    EXPECT_TRUE(ReadFile(game.path() + "/data.kpk").empty());
  }
}

TEST(KvbundleMovies, MoviesInThePackAreLeftOutWithAWarning) {
  std::vector<PackWriterFile> files(3);
  files[0].name = "bg.png";
  files[0].bytes = std::string(3000, 'p');   // long enough for a repair record of three blocks
  files[1].name = "movie\\closing.mpg";
  files[1].bytes = "MPEG";
  files[2].name = "bgm.ogg";
  files[2].bytes = "OGG";
  files[2].compress = false;
  files[2].repair = false;
  std::string error;
  std::string pack = BuildPack(files, PackWriterOptions{}, nullptr, &error);
  ASSERT_FALSE(pack.empty()) << error;
  TempFolder folder;
  folder.Write("data.kpk", pack);
  Result r = Shell(folder.path(), kTools + "kvbundle " + KIVOR_BINARY_DIR + "/kivor data.kpk game");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("kvbundle: warning: movie\\closing.mpg left out: movies play only as loose files"),
            std::string::npos)
      << r.output;
  // The bundle ends with the pack that the two other files alone make.
  std::string expected = BuildPack({files[0], files[2]}, PackWriterOptions{}, nullptr, &error);
  std::string bundle = ReadFile(folder.path() + "/game");
  ASSERT_GT(bundle.size(), expected.size());
  EXPECT_EQ(bundle.substr(bundle.size() - expected.size()), expected);
}

}  // namespace
