#include <gtest/gtest.h>

#include "tests/test_util.h"

TEST(Smoke, BinaryRuns) {
  TempDir dir;
  RunResult r = run_palvane(dir, {});
  EXPECT_GE(r.status, 0);
}
