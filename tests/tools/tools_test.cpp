// The tools as a game author runs them: their command lines, UTF-8 listings turned into code
// page 932 (or refused with their line), and the example game of tools/README.md built with the
// README's own commands and played headless to its end.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "files/files.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/loose_files.h"
#include "tests/tools/tools_fixture.h"
#include "tools/lib/assembler.h"

namespace {

std::string Cp932(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8.data(), utf8.size(), &out));
  return out;
}

TEST(Tools, EveryToolAnswersHelpAndRefusesUnknownOptions) {
  TempFolder folder;
  for (const char* tool : {"kvasm", "kvpack", "kvbundle", "kvtone", "kvimage"}) {
    for (const char* help : {"--help", "-h"}) {
      // Help wins wherever it stands, and is never taken for a file name.
      Result r = Shell(folder.path(), kTools + tool + " x " + help);
      EXPECT_EQ(r.status, 0) << tool << " " << help;
      EXPECT_EQ(r.output.rfind(std::string("usage: ") + tool, 0), 0u) << r.output;
    }
    Result r = Shell(folder.path(), kTools + tool + " --frobnicate a b c d e");
    EXPECT_EQ(r.status, 2) << tool;
    EXPECT_NE(r.output.find("unknown option --frobnicate"), std::string::npos) << r.output;
    r = Shell(folder.path(), kTools + tool);   // too few operands
    EXPECT_EQ(r.status, 2) << tool;
    EXPECT_NE(r.output.find("usage: "), std::string::npos) << r.output;
  }
  std::vector<std::string> names;
  ASSERT_TRUE(PlatListFolder(folder.path(), &names));
  EXPECT_TRUE(names.empty());
}

// A listing with Japanese in a message, a title, a text and a label name.
const char kJapaneseListing[] =
    "config width=160 height=48 title=\"日本語のタイトル\"\n"
    "message 104060 \"[%s]ファイルが\\n存在しません。\"\n"
    "global str name = \"太郎\"\n"
    "file はじめ.txt\n"
    "*SYSTEM_START\n"
    "text \"吾輩は猫である。～①\"\n"
    "jump 終わり\n"
    "*終わり\n"
    "end\n";

TEST(Tools, KvasmTakesUtf8AndCodePage932ListingsAlike) {
  TempFolder folder;
  // What the assembler makes of the listing in the engine's encoding is the reference.
  AssembledSet expected;
  ASSERT_TRUE(AssembleListing(Cp932(kJapaneseListing), &expected)) << expected.error;
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"utf8.txt", kJapaneseListing},
      {"bom.txt", std::string("\xEF\xBB\xBF") + kJapaneseListing},
      {"cp932.txt", Cp932(kJapaneseListing)},
  };
  for (const Case& c : cases) {
    folder.Write(c.name, c.bytes);
    std::string out = std::string("out_") + c.name;
    Result r = Shell(folder.path(), kTools + "kvasm " + c.name + " " + out);
    ASSERT_EQ(r.status, 0) << c.name << ": " << r.output;
    for (const auto& [file, bytes] : expected.files) {
      std::string path = file;
      for (char& ch : path)
        if (ch == '\\') ch = '/';
      EXPECT_EQ(ReadFile(folder.path() + "/" + out + "/" + path), bytes) << c.name << " " << file;
    }
  }
}

TEST(Tools, KvasmRefusesACharacterWithoutACodePage932FormWithItsLine) {
  TempFolder folder;
  struct Case {
    const char* listing;
    const char* says;
  };
  const Case cases[] = {
      {"config width=160 height=48\nfile start.txt\n*SYSTEM_START\nx = \"😀\"\n",
       "kvasm: game.txt:4: '😀' (U+1F600) has no code page 932 form"},
      // Korean has no code page 932 form either; the first such character is named.
      {"# 한국어\n", "kvasm: game.txt:1: '한' (U+D55C) has no code page 932 form"},
      // An assembly error also names the file and the line.
      {"config width=160 height=48\nfile start.txt\n*SYSTEM_START\nnosuchcommand a=1\n",
       "kvasm: game.txt:4: unknown command nosuchcommand"},
  };
  for (const Case& c : cases) {
    folder.Write("game.txt", c.listing);
    Result r = Shell(folder.path(), kTools + "kvasm game.txt out");
    EXPECT_EQ(r.status, 1) << c.listing;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_FALSE(PlatFolderExists(folder.path() + "/out")) << c.listing;
  }
}

// A file named in UTF-8 on disk is found in the pack by the code page 932 name a script gives.
TEST(Tools, KvpackStoresUtf8NamesInCodePage932) {
  TempFolder stage, game;
  stage.Write("画像/顔.bmp", "FACE");
  stage.Write("plain.txt", "PLAIN");
  Result r = Shell(stage.path(), kTools + "kvpack . " + game.path() + "/data.kpk");
  ASSERT_EQ(r.status, 0) << r.output;
  FillNameLengthTable(g_NameLengthTable);
  UseLooseFolder(game.path());
  ASSERT_EQ(BuildPackIndex(), 0);
  auto load = [](const std::string& name) {
    FileLocation loc{};
    if (LocateFile(&loc, name.c_str(), true) != FILE_SOURCE_PACK || ReadLocatedFile(&loc, name.c_str()) != 0)
      return std::string("<none>");
    std::string bytes(reinterpret_cast<const char*>(loc.mData), loc.mSize);
    free(loc.mData);
    return bytes;
  };
  EXPECT_EQ(load(Cp932("画像\\顔.bmp")), "FACE");
  EXPECT_EQ(load("plain.txt"), "PLAIN");
  FreePackIndex();
  g_ExeFolderReal.clear();
  g_ProjectFolderReal.clear();
}

// The text of the first fenced block of `fence` ("```kvasm") in the README.
std::string FencedBlock(const std::string& readme, const std::string& fence) {
  size_t start = readme.find("\n" + fence + "\n");
  if (start == std::string::npos) return "";
  start += fence.size() + 2;
  size_t end = readme.find("\n```", start);
  return end == std::string::npos ? "" : readme.substr(start, end + 1 - start);
}

TEST(ToolsReadme, TheExampleGameBuildsAndEndsNormally) {
  std::string readme = ReadFile(std::string(KIVOR_SOURCE_DIR) + "/tools/README.md");
  std::string listing = FencedBlock(readme, "```kvasm"), commands = FencedBlock(readme, "```sh");
  ASSERT_FALSE(listing.empty());
  ASSERT_NE(commands.find("kivor --game hello"), std::string::npos) << commands;
  TempFolder folder;
  folder.Write("hello.txt", listing);
  folder.Write("build.sh", commands);
  std::string path = "PATH=" + kTools + ":" + KIVOR_BINARY_DIR + ":$PATH";
  Result r = Shell(folder.path(), "export " + path + " KIVOR_PLATFORM=headless ASAN_OPTIONS=detect_leaks=0; set -e; . ./build.sh");
  EXPECT_EQ(r.status, 0) << r.output;
  std::string log = ReadFile(folder.path() + "/hello/debuglog.txt");
  EXPECT_NE(log.find("hello: step 1\nhello: step 2\nhello: step 3\nhello: counted to 3\n"), std::string::npos) << log;
}

// The input script a game's CI would start from is read as the README shows it.
TEST(ToolsReadme, TheInputScriptExampleReadsAsItIsDescribed) {
  std::string readme = ReadFile(std::string(KIVOR_SOURCE_DIR) + "/tools/README.md");
  std::vector<HeadlessTimedEvent> script;
  std::string error;
  ASSERT_TRUE(HeadlessParseInputScript(FencedBlock(readme, "```input"), &script, &error)) << error;
  ASSERT_EQ(script.size(), 9u);
  EXPECT_EQ(script[4].kind, HeadlessTimedEvent::BUTTON_ANSWER);
  EXPECT_EQ(script[4].number, 1);
  EXPECT_EQ(script[5].kind, HeadlessTimedEvent::TEXT_ANSWER);
  EXPECT_EQ(script[5].text, "山田 太郎");
  EXPECT_EQ(script[6].kind, HeadlessTimedEvent::SHOT);
  EXPECT_EQ(script[6].text, "shots/title.png");
}

}  // namespace
