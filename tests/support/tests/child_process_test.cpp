#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/temp_dir.h"

namespace korvanel::test_support {
namespace {

using namespace std::chrono_literals;

const std::string kChild = TEST_SUPPORT_CHILD_EXE;

TEST(RunProgram, GivesTheExitCodeAndWhatWasWritten) {
  const Outcome run = RunProgram({kChild, "out", "hello", "err", "oops", "exit", "3"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.standardOutput, "hello\n");
  EXPECT_EQ(run.standardError, "oops\n");
}

TEST(RunProgram, InputComesFromAFileOrAPipe) {
  const std::string input("first\r\nsecond\0third", 19);
  for (bool piped : {false, true}) {
    SCOPED_TRACE(piped);
    const Outcome run = RunProgram({kChild, "cat"}, input, piped);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.standardOutput, input);
  }
}

// Each argument reaches the program whole, however it is spelled; on Windows this is the
// quoting of the one command line.
TEST(ChildProcess, ArgumentsArriveWhole) {
  const std::string arguments[] = {
      "plain",     "two words",       "",     "say \"hi\"", "back\\slash",
      "ends in\\", "ends in two\\\\", "\\\"", "tab\there",  "-o",
  };
  std::vector<std::string> command = {kChild};
  std::string expected;
  for (const std::string& argument : arguments) {
    command.push_back("out");
    command.push_back(argument);
    expected += argument + "\n";
  }
  const Outcome run = RunProgram(command);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.standardOutput, expected);
}

TEST(ChildProcess, PipedOutputIsReadLineByLine) {
  ChildProcess child(
      {.arguments = {kChild, "out", "ready", "sleep", "100", "out", "last"}, .pipeOutput = true});
  ASSERT_TRUE(child.Started());
  EXPECT_GT(child.Pid(), 0);
  EXPECT_EQ(child.ReadLine(30s), "ready");
  EXPECT_EQ(child.ReadLine(30s), "last");
  EXPECT_EQ(child.ReadLine(30s), "");  // the end
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(child.Wait(), 0);  // kept
}

TEST(ChildProcess, ReadRestTakesAllThatIsLeft) {
  ChildProcess child(
      {.arguments = {kChild, "out", "a", "out", "b", "out", "c"}, .pipeOutput = true});
  EXPECT_EQ(child.ReadLine(30s), "a");
  EXPECT_EQ(child.ReadRest(), "b\nc\n");
  EXPECT_EQ(child.Wait(), 0);
}

TEST(ChildProcess, ReadLineGivesUpAfterItsTimeout) {
  ChildProcess child({.arguments = {kChild, "sleep", "60000"}, .pipeOutput = true});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(child.ReadLine(200ms), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_TRUE(child.Running());
}

TEST(ChildProcess, AWaitThatRunsOutKillsTheChild) {
  ChildProcess child(ChildProcess::Setup{.arguments = {kChild, "sleep", "60000"}});
  ASSERT_TRUE(child.Running());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(child.Wait(200ms), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_FALSE(child.Running());
}

TEST(ChildProcess, KillEndsItAtOnce) {
  ChildProcess child(ChildProcess::Setup{.arguments = {kChild, "sleep", "60000"}});
  ASSERT_TRUE(child.Running());
  child.Kill();
  EXPECT_FALSE(child.Running());
  EXPECT_EQ(child.Wait(), 137);
}

TEST(ChildProcess, OutputAndErrorGoToFiles) {
  TempDir dir;
  const int status = RunProgramTo({kChild, "out", "to file", "err", "to error", "exit", "1"},
                                  dir.File("out"), dir.File("err"));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFile(dir.File("out")), "to file\n");
  EXPECT_EQ(ReadFile(dir.File("err")), "to error\n");
}

TEST(ChildProcess, AProgramThatIsNotThereDoesNotRun) {
  TempDir dir;
  ChildProcess child(ChildProcess::Setup{.arguments = {dir.File("missing-program")}});
  // POSIX learns it in the child, after the fork; Windows at once.
  if (child.Started()) {
    EXPECT_EQ(child.Wait(30s), 127);
  } else {
    EXPECT_EQ(child.Wait(), -1);
  }
}

}  // namespace
}  // namespace korvanel::test_support
