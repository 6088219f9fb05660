// The SDL backend shows a window that no device will present without loading OpenGL, whose
// driver costs a start more than all the rest; a window the device may present is still made
// for OpenGL.
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gpu.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

namespace {

bool OpenGlLoaded() {
  bool found = false;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        const char* name = info->dlpi_name ? info->dlpi_name : "";
        if (strstr(name, "libGL") || strstr(name, "libEGL") || strstr(name, "_dri.so")) *static_cast<bool*>(data) = true;
        return 0;
      },
      &found);
  return found;
}

int RunChild(const char* child) {
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  setenv("KIVOR_SDL_LAUNCH_CHILD", "1", 1);
  int status = PlatStartProcess({"timeout", "120", KIVOR_XVFB_RUN, "-a", "-s", "-screen 0 320x240x24", PlatExecutablePath(),
                                 std::string("--gtest_filter=") + child, "--gtest_also_run_disabled_tests"},
                                true);
  unsetenv("KIVOR_SDL_LAUNCH_CHILD");
  return status;
}

bool ChildRuns() { return getenv("KIVOR_SDL_LAUNCH_CHILD") != nullptr; }

// Makes, shows and presents the main window as start-up does, the device expected or not.
void ShowAFrame(bool deviceExpected) {
  PlatGpuExpectDevice(deviceExpected);
  ASSERT_TRUE(PlatformInit("sdl"));
  ASSERT_TRUE(g_Platform->CreateWindow(0, 64, 48, "launch"));
  g_Platform->ShowWindow(0, true);
  std::vector<uint8_t> picture(64 * 48 * 4, 0x80);
  g_Platform->PresentFrame(0, picture.data(), 64, 48, 64 * 4, 0, 0, 64, 48);
}

TEST(SdlLaunch, AWindowNoDeviceWillPresentIsShownWithoutOpenGl) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("timeout")) GTEST_SKIP() << "xvfb-run or timeout is not installed";
  EXPECT_EQ(RunChild("SdlLaunchChild.DISABLED_NoDevice"), 0);
}

TEST(SdlLaunchChild, DISABLED_NoDevice) {
  if (!ChildRuns()) GTEST_SKIP();
  ShowAFrame(false);
  EXPECT_FALSE(OpenGlLoaded());
  // A new size gives the window a new surface, still without OpenGL.
  g_Platform->SetWindowSize(0, 96, 64);
  PlatEventRecord e;
  for (int i = 0; i < 50; i++) {
    while (g_Platform->PollEvent(&e)) {
    }
    PlatSleep(10);
  }
  std::vector<uint8_t> picture(96 * 64 * 4, 0x40);
  g_Platform->PresentFrame(0, picture.data(), 96, 64, 96 * 4, 0, 0, 96, 64);
  EXPECT_FALSE(OpenGlLoaded());
  PlatformQuit();
}

TEST(SdlLaunch, AWindowTheDeviceMayPresentIsMadeForOpenGl) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("timeout")) GTEST_SKIP() << "xvfb-run or timeout is not installed";
  EXPECT_EQ(RunChild("SdlLaunchChild.DISABLED_DeviceExpected"), 0);
}

TEST(SdlLaunchChild, DISABLED_DeviceExpected) {
  if (!ChildRuns()) GTEST_SKIP();
  if (getenv("KIVOR_GPU")) GTEST_SKIP() << "KIVOR_GPU chooses the device here";
  ShowAFrame(true);
  EXPECT_TRUE(OpenGlLoaded());
  PlatformQuit();
}

}  // namespace
