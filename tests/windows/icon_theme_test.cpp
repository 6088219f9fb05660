// Box icons come from the desktop's icon theme: the folder of the theme whose size matches is
// taken, else the nearest; icons the theme lacks come from the themes it inherits, then from
// hicolor; folders of other scales and pictures that are not PNG are passed over.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "layers/image_codecs.h"
#include "platform/icon_theme.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

namespace {

// A square PNG of one colour (B, G, R, A) at `path`, its folders made.
void WritePicture(const std::string& path, int side, uint32_t argb) {
  std::string folder = path.substr(0, path.rfind('/'));
  ASSERT_EQ(PlatStartProcess({"mkdir", "-p", folder}, true), 0);
  std::vector<uint8_t> pixels((size_t)side * side * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = (uint8_t)argb, pixels[i + 1] = (uint8_t)(argb >> 8), pixels[i + 2] = (uint8_t)(argb >> 16);
    pixels[i + 3] = (uint8_t)(argb >> 24);
  }
  ASSERT_EQ(WritePngFile(path, pixels.data(), side, side, true, 6), 0);
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Themes under a data folder of their own, found through XDG_DATA_DIRS.
class IconTheme : public ::testing::Test {
 protected:
  void SetUp() override {
    savedDirs_ = getenv("XDG_DATA_DIRS") ? getenv("XDG_DATA_DIRS") : "";
    savedHome_ = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_DIRS", folder_.path().c_str(), 1);
    setenv("XDG_DATA_HOME", (folder_.path() + "/nothing").c_str(), 1);
    std::string icons = folder_.path() + "/icons/";
    // Adwaita: 16 and 48 fixed, a threshold folder of 24, a scalable folder of SVGs only, and
    // a doubled-scale folder; it inherits "Base".
    WritePicture(icons + "Adwaita/16x16/status/dialog-warning.png", 16, 0xFF000010);
    WritePicture(icons + "Adwaita/48x48/status/dialog-warning.png", 48, 0xFF000048);
    WritePicture(icons + "Adwaita/24x24/status/dialog-question.png", 24, 0xFF000024);
    WritePicture(icons + "Adwaita/32x32@2/status/dialog-error.png", 64, 0xFF000064);
    WriteText(icons + "Adwaita/scalable/status/dialog-warning.svg", "<svg/>");
    WriteText(icons + "Adwaita/index.theme",
              "[Icon Theme]\nName=Adwaita\nInherits=Base\n"
              "Directories=16x16/status,48x48/status,24x24/status,scalable/status,32x32@2/status\n\n"
              "[16x16/status]\nSize=16\nType=Fixed\n\n[48x48/status]\nSize=48\nType=Fixed\n\n"
              "[24x24/status]\nSize=24\nType=Threshold\nThreshold=4\n\n"
              "[scalable/status]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n\n"
              "[32x32@2/status]\nSize=32\nScale=2\nType=Fixed\n");
    WritePicture(icons + "Base/32x32/status/dialog-information.png", 32, 0xFF000032);
    WriteText(icons + "Base/index.theme", "[Icon Theme]\nName=Base\nDirectories=32x32/status\n\n"
                                          "[32x32/status]\nSize=32\nType=Fixed\n");
    WritePicture(icons + "hicolor/32x32/apps/dialog-error.png", 32, 0xFF0000AA);
    WriteText(icons + "hicolor/index.theme", "[Icon Theme]\nName=hicolor\nDirectories=32x32/apps\n\n"
                                             "[32x32/apps]\nSize=32\nType=Fixed\n");
  }
  void TearDown() override {
    setenv("XDG_DATA_DIRS", savedDirs_.c_str(), 1);
    if (savedHome_.empty()) unsetenv("XDG_DATA_HOME");
    else setenv("XDG_DATA_HOME", savedHome_.c_str(), 1);
  }
  TempFolder folder_;
  std::string savedDirs_, savedHome_;
};

TEST_F(IconTheme, TheFolderOfTheSizeOrTheNearestOneGivesThePicture) {
  struct Case {
    const char* name;
    int size;
    int side;          // 0: not found
    uint32_t colour;
  };
  const Case cases[] = {
      {"dialog-warning", 16, 16, 0xFF000010},     // the matching fixed folder
      {"dialog-warning", 40, 48, 0xFF000048},     // 48 is nearer than 16; the SVG is no picture
      {"dialog-warning", 20, 16, 0xFF000010},     // 16 is nearer than 48
      {"dialog-question", 32, 24, 0xFF000024},   // 24 within 4 serves 20..28 only, but is the nearest
      {"dialog-information", 32, 32, 0xFF000032}, // from the inherited theme
      {"dialog-error", 32, 32, 0xFF0000AA},      // the doubled-scale folder is passed over: hicolor's
      {"no-such-icon", 32, 0, 0},
      {"../16x16/status/dialog-warning", 16, 0, 0},   // names never reach outside the themes
  };
  for (const Case& c : cases) {
    PlatIcon icon;
    bool found = PlatLoadThemeIcon(c.name, c.size, &icon);
    EXPECT_EQ(found, c.side != 0) << c.name << " " << c.size;
    if (!found) continue;
    EXPECT_EQ(icon.width, c.side) << c.name << " " << c.size;
    EXPECT_EQ(icon.height, c.side) << c.name << " " << c.size;
    ASSERT_EQ(icon.argb.size(), (size_t)c.side * c.side);
    EXPECT_EQ(icon.argb[0], c.colour) << c.name << " " << c.size;
  }
}

TEST_F(IconTheme, ABrokenThemeFindsNothingAndNeverLoops) {
  std::string icons = folder_.path() + "/icons/";
  // A theme that inherits itself and a PNG that is not one.
  WriteText(icons + "Adwaita/index.theme", "[Icon Theme]\nInherits=Adwaita,Adwaita\nDirectories=16x16/status\n"
                                           "[16x16/status]\nSize=16\nType=Fixed\n");
  WriteText(icons + "Adwaita/16x16/status/dialog-warning.png", "not a picture");
  PlatIcon icon;
  EXPECT_FALSE(PlatLoadThemeIcon("dialog-warning", 16, &icon));
  EXPECT_FALSE(PlatLoadThemeIcon("dialog-question", 16, &icon));
}

// The theme Debian ships: its dialog icons at the size a box shows.
TEST(InstalledIconTheme, AdwaitaHasTheFourBoxIconsAt48Pixels) {
  if (!PlatFileExists("/usr/share/icons/Adwaita/index.theme")) GTEST_SKIP() << "adwaita-icon-theme is not installed";
  for (const char* name : {"dialog-information", "dialog-question", "dialog-warning", "dialog-error"}) {
    PlatIcon icon;
    ASSERT_TRUE(PlatLoadThemeIcon(name, 48, &icon)) << name;
    EXPECT_EQ(icon.width, 48) << name;
    EXPECT_EQ(icon.height, 48) << name;
  }
}

}  // namespace
