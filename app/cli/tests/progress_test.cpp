#include "app/cli/progress.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace korvanel::cli {
namespace {

using std::chrono::milliseconds;

TEST(ProgressLine, RowsRateAndTimeLeft) {
  EXPECT_EQ(ProgressLine(0, 1000, milliseconds(0)), "0/1000 rows");
  EXPECT_EQ(ProgressLine(0, 1000, milliseconds(5000)), "0/1000 rows");
  EXPECT_EQ(ProgressLine(250, 1000, milliseconds(10'000)), "250/1000 rows  25.0/s  ETA 0:30");
  EXPECT_EQ(ProgressLine(1, 10'000, milliseconds(1'000)), "1/10000 rows  1.0/s  ETA 2:46:39");
  EXPECT_EQ(ProgressLine(1000, 1000, milliseconds(4'000)), "1000/1000 rows  250.0/s");
}

TEST(ProgressDisplay, MessagesClearTheLineAndNothingIsLeftOnScreen) {
  test_support::TempDir dir;
  const std::string path = dir.File("stderr");
  {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    {
      ProgressDisplay progress(fileno(file), true, 2);
      progress.Update(1);
      progress.Message("row 1 failed");
      progress.Update(2);
    }
    std::fclose(file);
  }
  const std::string shown = test_support::ReadFile(path);
  EXPECT_NE(shown.find("\r\x1b[Krow 1 failed\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("2/2 rows"), std::string::npos);
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K");

  const std::string quietPath = dir.File("quiet");
  FILE* file = std::fopen(quietPath.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  {
    ProgressDisplay progress(fileno(file), false, 2);
    progress.Update(1);
    progress.Message("row 1 failed");
  }
  std::fclose(file);
  EXPECT_EQ(test_support::ReadFile(quietPath), "row 1 failed\n");
}

}  // namespace
}  // namespace korvanel::cli
