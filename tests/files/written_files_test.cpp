// Files the game writes never follow a link another user planted: a link on the way to a
// written file (the file itself or a folder above it) is taken only when it and the place it
// leads to belong to the player or the system. Links of another user are made as root (lchown),
// so the cases that need one skip for other users.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/runtime_process.h"

namespace {

constexpr uid_t OTHER = 65534;

// A place to write to: `ours` and `theirs` (a folder of the other user), each holding
// "old.txt", and links in `links` made as each case says.
class WrittenFiles : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "links of another user are made as root";
    top_.Write("ours/old.txt", "ours");
    top_.Write("theirs/old.txt", "theirs");
    ASSERT_EQ(chown(Path("theirs").c_str(), OTHER, OTHER), 0);
    ASSERT_EQ(chown(Path("theirs/old.txt").c_str(), OTHER, OTHER), 0);
    ASSERT_TRUE(PlatCreateFolder(Path("links")));
  }
  std::string Path(const std::string& name) const { return top_.path() + "/" + name; }
  // A link at links/`name` to `to`, owned by `owner`.
  std::string Link(const std::string& name, const std::string& to, uid_t owner) {
    std::string at = Path("links/" + name);
    EXPECT_EQ(symlink(Path(to).c_str(), at.c_str()), 0);
    EXPECT_EQ(lchown(at.c_str(), owner, owner), 0);
    return at;
  }

  TempFolder top_;
};

struct LinkCase {
  const char* name;
  const char* to;          // what the link leads to
  uid_t owner;             // who owns the link
  const char* written;     // the path written, below links/
  const char* changed;     // the file that then holds "new", null when the write is refused
};

const LinkCase kLinkCases[] = {
    {"our link to our file", "ours/old.txt", 0, "file", "ours/old.txt"},
    {"our link to our folder", "ours", 0, "folder/old.txt", "ours/old.txt"},
    {"their link to our file", "ours/old.txt", OTHER, "file", nullptr},
    {"their link to our folder", "ours", OTHER, "folder/old.txt", nullptr},
    {"their link to a file not yet there", "ours/new.txt", OTHER, "file", nullptr},
    {"our link to their file", "theirs/old.txt", 0, "file", nullptr},
    {"our link to their folder", "theirs", 0, "folder/old.txt", nullptr},
};

TEST_F(WrittenFiles, ALinkIsFollowedOnlyWhenItAndWhereItLeadsAreOurs) {
  for (const char* mode : {"wb", "ab"}) {
    for (const LinkCase& c : kLinkCases) {
      SCOPED_TRACE(std::string(c.name) + ", " + mode);
      top_.Write("ours/old.txt", "ours");
      PlatDeleteFile(Path("ours/new.txt"));
      std::string written = std::string(c.written);
      Link(written.substr(0, written.find('/')), c.to, c.owner);
      PlatFile* f = PlatFileOpen(Path("links/" + written), mode);
      if (f) {
        PlatFileWrite(f, "new", 3);
        PlatFileClose(f);
      }
      EXPECT_EQ(f != nullptr, c.changed != nullptr);
      if (!f) EXPECT_EQ(errno, EACCES);
      if (c.changed) EXPECT_EQ(ReadWholeFile(Path(c.changed)), std::string(mode) == "wb" ? "new" : "oursnew");
      EXPECT_EQ(ReadWholeFile(Path("ours/old.txt")), c.changed ? ReadWholeFile(Path(c.changed)) : "ours");
      EXPECT_EQ(ReadWholeFile(Path("theirs/old.txt")), "theirs");
      EXPECT_FALSE(PlatFileExists(Path("ours/new.txt")));
      PlatDeleteFile(Path("links/" + written.substr(0, written.find('/'))));
    }
  }
}

// Temporary files, new folders and the rename that puts a new file in place walk the same way.
TEST_F(WrittenFiles, TemporaryFilesFoldersAndRenamesKeepOutOfAnotherUsersLinks) {
  Link("folder", "ours", OTHER);
  std::string temporary;
  EXPECT_EQ(PlatFileCreateTemporary(Path("links/folder/save.sd"), &temporary), nullptr);
  EXPECT_FALSE(PlatCreateFolder(Path("links/folder/made")));
  top_.Write("staged.tmp", "new");
  EXPECT_FALSE(PlatRenameReplace(Path("staged.tmp"), Path("links/folder/old.txt")));
  EXPECT_EQ(ReadWholeFile(Path("ours/old.txt")), "ours");
  EXPECT_FALSE(PlatFolderExists(Path("ours/made")));
  // Through a link of our own all three go.
  Link("mine", "ours", 0);
  PlatFile* f = PlatFileCreateTemporary(Path("links/mine/save.sd"), &temporary);
  ASSERT_NE(f, nullptr);
  PlatFileClose(f);
  EXPECT_TRUE(PlatFileExists(temporary));
  EXPECT_TRUE(PlatCreateFolder(Path("links/mine/made")));
  EXPECT_TRUE(PlatRenameReplace(Path("staged.tmp"), Path("links/mine/old.txt")));
  EXPECT_EQ(ReadWholeFile(Path("ours/old.txt")), "new");
}

// Two temporary files of one target never share a name, and both lie beside the target.
TEST(TemporaryFiles, EachHasANameOfItsOwn) {
  TempFolder folder;
  std::string target = folder.path() + "/save.sd", first, second;
  PlatFile* a = PlatFileCreateTemporary(target, &first);
  PlatFile* b = PlatFileCreateTemporary(target, &second);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(PlatFilePath(a), first);
  EXPECT_EQ(first.rfind(folder.path() + "/", 0), 0u);
  EXPECT_EQ(second.rfind(folder.path() + "/", 0), 0u);
  PlatFileClose(a);
  PlatFileClose(b);
  EXPECT_TRUE(PlatFileExists(first) && PlatFileExists(second));
}

// A path that ends in a separator names a folder: no file of that name is made for it, but a
// folder is.
TEST(TemporaryFiles, APathEndingInASeparatorIsNoFile) {
  TempFolder folder;
  EXPECT_EQ(PlatFileOpen(folder.path() + "/x/", "wb"), nullptr);
  EXPECT_FALSE(PlatFileExists(folder.path() + "/x"));
  EXPECT_TRUE(PlatCreateFolder(folder.path() + "/x/"));
  EXPECT_TRUE(PlatFolderExists(folder.path() + "/x"));
}

// The debug log, which a script appends to a line at a time, is such a file too.
TEST_F(WrittenFiles, TheDebugLogDoesNotFollowAnotherUsersLink) {
  g_ExeFolderReal = Path("links");
  Link("debuglog.txt", "ours/old.txt", OTHER);
  AppendDebugLog("planted");
  EXPECT_EQ(ReadWholeFile(Path("ours/old.txt")), "ours");
  g_ExeFolderReal.clear();
}

}  // namespace
