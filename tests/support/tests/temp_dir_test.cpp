#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace korvanel::test_support {
namespace {

TEST(TempDir, IsAFreshFolderRemovedWithAllItHolds) {
  std::filesystem::path kept;
  {
    TempDir dir;
    TempDir other;
    kept = dir.path();
    EXPECT_TRUE(std::filesystem::is_directory(kept));
    EXPECT_NE(dir.path(), other.path());
    EXPECT_EQ(dir.EntryCount(), 0u);
    dir.Write("a.txt", "one");
    std::filesystem::create_directory(dir.PathOf("sub"));
    WriteFile(Utf8Of(dir.PathOf("sub") / "b.txt"), "two");
    EXPECT_EQ(dir.EntryCount(), 2u);
  }
  EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST(TempDir, FileNamesAreUtf8OnEveryPlatform) {
  TempDir dir;
  // "运单.txt"
  const std::string name = "\xE8\xBF\x90\xE5\x8D\x95.txt";
  const std::string path = dir.Write(name, std::string("a\0b\r\n", 5));
  EXPECT_EQ(path, dir.File(name));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / std::filesystem::path(u8"\u8FD0\u5355.txt")));
  EXPECT_EQ(ReadFile(path), std::string("a\0b\r\n", 5));
}

TEST(TempDir, ReadingWhatIsNotThereIsEmptyAndWritingThereThrows) {
  TempDir dir;
  EXPECT_EQ(ReadFile(dir.File("missing")), "");
  EXPECT_THROW(WriteFile(dir.File("no/such/folder/f"), "x"), std::runtime_error);
}

}  // namespace
}  // namespace korvanel::test_support
