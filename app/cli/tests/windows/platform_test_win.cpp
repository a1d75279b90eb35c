// The Windows pieces of waybill-query and of the records library: the output file that
// appears whole or not at all, reading a list by its wide name, and the Retry-After date.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/cli/http_date.h"
#include "app/cli/waybill_input.h"
#include "app/records/atomic_output.h"
#include "app/records/file_names_win.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel::cli {
namespace {

namespace fs = std::filesystem;

// "结果" and "清单" in UTF-8: names the ANSI code page of a Western system cannot spell.
const std::string kResultUtf8 = "\xE7\xBB\x93\xE6\x9E\x9C";
const std::string kListUtf8 = "\xE6\xB8\x85\xE5\x8D\x95";

// A fresh folder for one test, removed with what it holds.
class Folder {
 public:
  Folder() {
    std::random_device random;
    m_path = fs::temp_directory_path() / ("waybill-query-win-" + std::to_string(random()));
    fs::create_directories(m_path);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
  // The UTF-8 path of a file in the folder.
  std::string File(const std::string& utf8Name) const {
    return Utf8FromWide((m_path / WideFromUtf8(utf8Name)).wstring());
  }
  std::string Write(const std::string& utf8Name, const std::string& bytes) const {
    std::ofstream(fs::path(WideFromUtf8(File(utf8Name))), std::ios::binary) << bytes;
    return File(utf8Name);
  }
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(m_path), fs::directory_iterator()));
  }

 private:
  fs::path m_path;
};

std::string ReadAll(const std::string& utf8Path) {
  std::ifstream in(fs::path(WideFromUtf8(utf8Path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(AtomicOutputFileWin, AFileWithAChineseNameAppearsOnlyOnCommitAndReplacesTheOldOne) {
  Folder folder;
  const std::string target = folder.Write(kResultUtf8 + ".csv", "earlier run");
  std::string error;
  auto file = AtomicOutputFile::Create(target, &error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(fs::path(WideFromUtf8(file->temporaryPath())).parent_path(),
            fs::path(WideFromUtf8(target)).parent_path());
  ASSERT_TRUE(file->Write("half", &error));
  EXPECT_EQ(ReadAll(target), "earlier run");
  ASSERT_TRUE(file->Write(" and the rest", &error));
  ASSERT_TRUE(file->Commit(&error)) << error;
  EXPECT_EQ(ReadAll(target), "half and the rest");
  file.reset();
  EXPECT_EQ(folder.EntryCount(), 1u);  // no temporary file left beside it
}

TEST(AtomicOutputFileWin, WithoutCommitTheEarlierFileStaysAndTheTemporaryOneGoes) {
  Folder folder;
  const std::string target = folder.Write("out.csv", "earlier run");
  std::string error;
  {
    auto file = AtomicOutputFile::Create(target, &error);
    ASSERT_NE(file, nullptr) << error;
    ASSERT_TRUE(file->Write("interrupted", &error));
  }
  EXPECT_EQ(ReadAll(target), "earlier run");
  EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(AtomicOutputFileWin, TheTemporaryFileCanBeRemovedWhileItIsStillOpen) {
  // What a second Ctrl-C does while the batch still writes.
  Folder folder;
  std::string error;
  auto file = AtomicOutputFile::Create(folder.File("out.csv"), &error);
  ASSERT_NE(file, nullptr) << error;
  ASSERT_TRUE(file->Write("rows", &error));
  EXPECT_TRUE(DeleteFileW(WideFromUtf8(file->temporaryPath()).c_str()));
  file.reset();
  EXPECT_EQ(folder.EntryCount(), 0u);
}

TEST(AtomicOutputFileWin, ATargetHeldOpenByAnotherProgramIsNotReplaced) {
  // As Excel holds a workbook it shows: no sharing for deleting or renaming.
  Folder folder;
  const std::string target = folder.Write("open.csv", "shown in Excel");
  HANDLE held = CreateFileW(WideFromUtf8(target).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::string error;
  {
    auto file = AtomicOutputFile::Create(target, &error);
    ASSERT_NE(file, nullptr) << error;
    ASSERT_TRUE(file->Write("new rows", &error));
    EXPECT_FALSE(file->Commit(&error));
    EXPECT_FALSE(error.empty());
  }
  CloseHandle(held);
  EXPECT_EQ(ReadAll(target), "shown in Excel");
  EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(AtomicOutputFileWin, ADeviceIsWrittenInPlace) {
  std::string error;
  auto file = AtomicOutputFile::Create("NUL", &error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(file->temporaryPath(), "");
  EXPECT_TRUE(file->Write("nowhere", &error)) << error;
  EXPECT_TRUE(file->Commit(&error)) << error;
}

TEST(AtomicOutputFileWin, ADescriptorClosedForTheWorkbookStillCommits) {
  Folder folder;
  std::string error;
  const std::string target = folder.File(kResultUtf8 + ".xlsx");
  auto file = AtomicOutputFile::Create(target, &error);
  ASSERT_NE(file, nullptr);
  file->CloseDescriptor();
  std::ofstream(fs::path(WideFromUtf8(file->writePath())), std::ios::binary) << "written by name";
  ASSERT_TRUE(file->Commit(&error)) << error;
  EXPECT_EQ(ReadAll(target), "written by name");
}

TEST(AtomicOutputFileWin, TellsWhyItCannotStartInTheWordsOfTheLinuxBuild) {
  Folder folder;
  std::string error;
  EXPECT_EQ(AtomicOutputFile::Create(folder.File("missing\\out.csv"), &error), nullptr);
  EXPECT_EQ(error, "No such file or directory");
  const std::string directory = folder.File("sub");
  fs::create_directory(WideFromUtf8(directory));
  EXPECT_EQ(AtomicOutputFile::Create(directory, &error), nullptr);
  EXPECT_EQ(error, "Is a directory");
}

TEST(ReadWaybillListWin, ReadsAListByItsChineseNameUpToCtrlZ) {
  Folder folder;
  const std::string list = folder.Write(kListUtf8 + ".txt",
                                        "A1\r\nB2\nC3\r\n\x1A"
                                        "D4\r\n");
  TextArray numbers;
  std::string error;
  ASSERT_TRUE(ReadWaybillList(list, &numbers, &error)) << error;
  EXPECT_EQ(numbers, (TextArray{"A1", "B2", "C3"}));
}

TEST(ReadWaybillListWin, TellsWhyAListCannotBeRead) {
  Folder folder;
  TextArray numbers;
  std::string error;
  EXPECT_FALSE(ReadWaybillList(folder.File("missing.txt"), &numbers, &error));
  EXPECT_EQ(error, "No such file or directory");
  fs::create_directory(WideFromUtf8(folder.File("sub")));
  EXPECT_FALSE(ReadWaybillList(folder.File("sub"), &numbers, &error));
  EXPECT_EQ(error, "Is a directory");
}

TEST(ParseHttpDateWin, ReadsTheFormServersSendAsStrptimeDoes) {
  using std::chrono::system_clock;
  const struct {
    const char* text;
    long long seconds;  // since 1970; -1: not a date
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"sunday, 6 NOVEMBER 1994 08:49:37 GMT", 784111777},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Tue, 29 Feb 2028 23:59:59 GMT", 1835481599},
      {"Sun, 06 Nov 1994 08:49:37", -1},
      {"Sun, 06 Nov 1994 08:49:37 GMT trailing", -1},
      {"Sun 06 Nov 1994 08:49:37 GMT", -1},
      {"Sun, 32 Nov 1994 08:49:37 GMT", -1},
      {"Sun, 06 Nox 1994 08:49:37 GMT", -1},
      {"Sun, 06 Nov 1994 24:00:00 GMT", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = ParseHttpDate(c.text);
    if (c.seconds < 0) {
      EXPECT_EQ(parsed, std::nullopt);
    } else {
      ASSERT_NE(parsed, std::nullopt);
      EXPECT_EQ(
          std::chrono::duration_cast<std::chrono::seconds>(parsed->time_since_epoch()).count(),
          c.seconds);
    }
  }
}

}  // namespace
}  // namespace korvanel::cli
