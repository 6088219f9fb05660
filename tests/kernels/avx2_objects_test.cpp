// The AVX2 files are built for AVX2 as a whole (CMakeLists.txt), so their objects may define
// nothing that other files share: an inline function of a header or a template instance
// defined there could be the copy the linker keeps for the whole program, and a processor
// without AVX2 would then run AVX2 code outside the AVX2 rows.
#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

namespace {

TEST(Avx2Objects, DefineNothingThatOtherFilesShare) {
  if (!ProgramOnPath("nm")) GTEST_SKIP() << "nm is not installed";
  for (const char* source : {"blend_rows_avx2.cpp", "kernels_avx2.cpp"}) {
    SCOPED_TRACE(source);
    std::string object = std::string(KIVOR_BINARY_DIR) + "/CMakeFiles/kivor_engine.dir/layers/" + source + ".o";
    ASSERT_TRUE(PlatFileExists(object)) << object;
    FILE* listing = popen(("nm --defined-only '" + object + "'").c_str(), "r");
    ASSERT_NE(listing, nullptr);
    char line[4096];
    int symbols = 0;
    while (fgets(line, sizeof line, listing)) {
      std::istringstream fields(line);
      std::string address, kind, name;
      if (!(fields >> address >> kind >> name)) continue;
      symbols++;
      // Weak and unique definitions are the shared ones; the exception personality's reference
      // is data every C++ object carries.
      bool shared = kind == "W" || kind == "V" || kind == "u" || kind == "w" || kind == "v";
      if (name == "DW.ref.__gxx_personality_v0") shared = false;
      EXPECT_FALSE(shared) << name << " (" << kind << ")";
    }
    EXPECT_EQ(pclose(listing), 0);
    EXPECT_GT(symbols, 0);
  }
}

}  // namespace
