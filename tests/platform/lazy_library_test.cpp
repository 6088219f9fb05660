// Host libraries bound at their first call: the stand-ins reach the real functions with every
// kind of argument, many threads may make the first call at once, a missing library is
// reported rather than fatal, and the program itself starts without any of them.
#include <SDL.h>
#include <fontconfig/fontconfig.h>
#include <sndfile.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/lazy/lazy_library.h"

namespace {

// Arguments in general registers, in vector registers, and through a variadic list (whose
// count of vector registers travels in a register of its own).
TEST(LazyLibrary, AStandInCallsTheRealFunctionWithItsArguments) {
  EXPECT_EQ(SDL_strlen("kivor"), 5u);
  EXPECT_DOUBLE_EQ(SDL_pow(2.0, 10.0), 1024.0);
  char text[64];
  SDL_snprintf(text, sizeof text, "%d %.2f %s %.1f", 5, 2.5, "x", -0.5);
  EXPECT_STREQ(text, "5 2.50 x -0.5");
  EXPECT_GT(FcGetVersion(), 0);
  const char* version = sf_version_string();
  ASSERT_NE(version, nullptr);
  EXPECT_NE(strstr(version, "libsndfile"), nullptr) << version;
}

TEST(LazyLibrary, ManyThreadsMakingTheFirstCallAtOnceAllReachTheFunction) {
  // SDL_atoi is called nowhere else in this program, so these calls are its first.
  std::vector<int> results(16, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; i++)
    threads.emplace_back([&results, i] { results[i] = SDL_atoi(std::to_string(1000 + i).c_str()); });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < 16; i++) EXPECT_EQ(results[i], 1000 + i);
}

TEST(LazyLibrary, AMissingLibraryIsReportedToWhoeverAsksFirst) {
  const char names[] = "kivor_missing_function";
  const uint32_t offsets[] = {0};
  void* slots[1] = {nullptr};
  LazyLibrary missing{"libkivor-missing-for-test.so.0", names, offsets, slots, 1, 0, nullptr};
  const char* why = nullptr;
  EXPECT_FALSE(LazyLibraryOpen(&missing, &why));
  ASSERT_NE(why, nullptr);
  EXPECT_NE(strstr(why, "libkivor-missing-for-test"), nullptr) << why;
  EXPECT_EQ(missing.handle, nullptr);
}

TEST(LazyLibrary, OpeningALibraryTwiceKeepsTheFirstHandle) {
  EXPECT_TRUE(LazyLibraryOpen(&g_LazySndfile));
  void* first = g_LazySndfile.handle;
  EXPECT_TRUE(LazyLibraryOpen(&g_LazySndfile));
  EXPECT_EQ(g_LazySndfile.handle, first);
  EXPECT_NE(first, nullptr);
}

// The loader lists what a program needs at its start without running it (as ldd does).
TEST(LazyLibrary, TheProgramStartsWithoutTheLibrariesItBindsLater) {
  std::string command = std::string("LD_TRACE_LOADED_OBJECTS=1 '") + KIVOR_BINARY_DIR + "/kivor'";
  FILE* listing = popen(command.c_str(), "r");
  ASSERT_NE(listing, nullptr);
  std::string loaded;
  char line[512];
  while (fgets(line, sizeof line, listing)) loaded += line;
  ASSERT_EQ(pclose(listing), 0) << loaded;
  EXPECT_NE(loaded.find("libc.so"), std::string::npos) << loaded;
  for (const char* later : {"libSDL2", "libX11", "libXext", "libdbus", "libfontconfig", "libfreetype", "libsndfile",
                            "libvorbisfile", "libpulse", "libGL"})
    EXPECT_EQ(loaded.find(later), std::string::npos) << later << " is loaded at start:\n" << loaded;
}

}  // namespace
