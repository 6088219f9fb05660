// The list of tests a newcomer sees (ctest): the children that tests start in processes of
// their own (another user, a virtual X server) are not in it, so no run reports a test as
// "Not Run (Disabled)".
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/engine_fixture.h"

namespace {

TEST(CtestListing, ListsNoChildOfAnotherTest) {
  if (!ProgramOnPath("ctest")) GTEST_SKIP() << "ctest is not installed";
  FILE* listing = popen(("ctest --test-dir '" + std::string(KIVOR_BINARY_DIR) + "' --show-only=json-v1").c_str(), "r");
  ASSERT_NE(listing, nullptr);
  std::string all;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, listing)) > 0) all.append(chunk, n);
  EXPECT_EQ(pclose(listing), 0) << all;
  EXPECT_NE(all.find("\"ExitStatus.HelpAndVersionAnswerOnStandardOutput\""), std::string::npos) << all.substr(0, 2000);
  // A disabled test would be run by its real name, and carry the DISABLED property.
  size_t at = all.find("DISABLED");
  EXPECT_EQ(at, std::string::npos) << all.substr(at == std::string::npos ? 0 : (at > 300 ? at - 300 : 0), 600);
}

}  // namespace
