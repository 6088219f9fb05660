// Host facts through the platform driver: the headless backend answers fixed values when a
// test sets them and the host's own otherwise.
#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

class HostFactsTest : public HeadlessTest {};

TEST_F(HostFactsTest, FixedValuesStandInUntilReset) {
  PlatLocalTime t{2024, 2, 4, 29, 23, 59, 58, 999};
  PlatMemoryStatus m{8ull << 30, 3ull << 30};
  HeadlessSetLocalTime(&t);
  HeadlessSetMemoryStatus(&m);
  PlatLocalTime got = PlatGetLocalTime();
  EXPECT_EQ(got.year, 2024);
  EXPECT_EQ(got.dayOfWeek, 4);
  EXPECT_EQ(got.day, 29);
  EXPECT_EQ(got.milliseconds, 999);
  EXPECT_EQ(PlatGetMemoryStatus().totalPhysical, 8ull << 30);
  EXPECT_EQ(PlatGetMemoryStatus().availablePhysical, 3ull << 30);

  HeadlessReset();
  PlatLocalTime host = PlatGetLocalTime();
  EXPECT_GE(host.year, 2020);
  EXPECT_TRUE(host.month >= 1 && host.month <= 12);
  EXPECT_TRUE(host.dayOfWeek >= 0 && host.dayOfWeek <= 6);
  EXPECT_GT(PlatGetMemoryStatus().totalPhysical, 0u);
}
