#include "app/records/atomic_output.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace korvanel::cli {
namespace {

using test_support::ReadFile;
using test_support::TempDir;

TEST(AtomicOutputFile, TheTargetAppearsOnlyOnCommit) {
  TempDir dir;
  const std::string target = dir.File("out.csv");
  std::string error;
  auto file = AtomicOutputFile::Create(target, &error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(std::filesystem::path(file->temporaryPath()).parent_path(), dir.path());
  ASSERT_TRUE(file->Write("half", &error));
  EXPECT_FALSE(std::filesystem::exists(target));
  ASSERT_TRUE(file->Write(" and the rest", &error));
  ASSERT_TRUE(file->Commit(&error)) << error;
  EXPECT_EQ(ReadFile(target), "half and the rest");
  file.reset();
  EXPECT_EQ(dir.EntryCount(), 1u);  // no temporary file left beside it
}

TEST(AtomicOutputFile, WithoutCommitTheEarlierFileStaysAsItWas) {
  TempDir dir;
  const std::string target = dir.Write("out.csv", "earlier run");
  std::string error;
  {
    auto file = AtomicOutputFile::Create(target, &error);
    ASSERT_NE(file, nullptr) << error;
    ASSERT_TRUE(file->Write("interrupted", &error));
  }
  EXPECT_EQ(ReadFile(target), "earlier run");
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(AtomicOutputFile, KeepsTheModeOfTheFileItReplacesAndGivesANewOneTheUsualMode) {
  TempDir dir;
  const std::string kept = dir.Write("kept.csv", "old");
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  std::string error;
  for (const std::string& target : {kept, dir.File("new.csv")}) {
    auto file = AtomicOutputFile::Create(target, &error);
    ASSERT_NE(file, nullptr) << error;
    ASSERT_TRUE(file->Commit(&error)) << error;
  }
  struct stat info {};
  ASSERT_EQ(stat(kept.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  const mode_t mask = umask(0);
  umask(mask);
  ASSERT_EQ(stat(dir.File("new.csv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
}

TEST(AtomicOutputFile, TheFileBehindASymbolicLinkIsTheOneReplaced) {
  TempDir dir;
  const std::string real = dir.Write("real.csv", "old");
  const std::string link = dir.File("link.csv");
  std::filesystem::create_symlink(real, link);
  std::string error;
  auto file = AtomicOutputFile::Create(link, &error);
  ASSERT_NE(file, nullptr) << error;
  ASSERT_TRUE(file->Write("new", &error));
  ASSERT_TRUE(file->Commit(&error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real), "new");
}

TEST(AtomicOutputFile, ATargetThatIsNoRegularFileIsWrittenInPlace) {
  // A pipe stands for /dev/null and the like: renaming a file over it would replace it.
  TempDir dir;
  const std::string pipe = dir.File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(pipe); });
  std::string error;
  auto file = AtomicOutputFile::Create(pipe, &error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(file->temporaryPath(), "");
  EXPECT_EQ(file->writePath(), pipe);
  EXPECT_TRUE(file->Write("through the pipe", &error));
  EXPECT_TRUE(file->Commit(&error)) << error;
  file.reset();
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  struct stat info {};
  ASSERT_EQ(lstat(pipe.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(AtomicOutputFile, TellsWhyItCannotStart) {
  TempDir dir;
  std::string error;
  EXPECT_EQ(AtomicOutputFile::Create(dir.File("missing/out.csv"), &error), nullptr);
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_EQ(AtomicOutputFile::Create(dir.path().string(), &error), nullptr);
  EXPECT_EQ(error, "Is a directory");
}

TEST(AtomicOutputFile, ADescriptorClosedForAnotherWriterStillCommits) {
  TempDir dir;
  std::string error;
  auto file = AtomicOutputFile::Create(dir.File("book.xlsx"), &error);
  ASSERT_NE(file, nullptr);
  file->CloseDescriptor();
  std::ofstream(file->temporaryPath(), std::ios::binary) << "written by name";
  ASSERT_TRUE(file->Commit(&error)) << error;
  EXPECT_EQ(ReadFile(dir.File("book.xlsx")), "written by name");
}

}  // namespace
}  // namespace korvanel::cli
