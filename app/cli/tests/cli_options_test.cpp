#include "app/cli/cli_options.h"

#include <gtest/gtest.h>

#include "app/batch_query.h"

namespace korvanel::cli {
namespace {

CommandLine Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "waybill-query");
  return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ParseCommandLine, DefaultsAreThoseOfTheDesktopTool) {
  const CommandLine line = Parse({"list.txt"});
  ASSERT_TRUE(line.options);
  const CliOptions& options = *line.options;
  EXPECT_EQ(options.inputs, std::vector<std::string>{"list.txt"});
  EXPECT_FALSE(options.format);
  EXPECT_EQ(options.encoding, OutputEncoding::kUtf8);
  EXPECT_EQ(options.host, DefaultEndpointHost());
  EXPECT_EQ(options.jobs, 1);
  EXPECT_EQ(options.retries, 0);
  EXPECT_EQ(options.timeoutSeconds, 0);
  EXPECT_EQ(options.delayMs, 0);
}

TEST(ParseCommandLine, ReadsEveryOption) {
  const CommandLine line = Parse({"--format",  "TSV",        "-o",
                                  "out.tsv",   "--encoding", "gbk",
                                  "-q",        "--host",     "127.0.0.1:9000",
                                  "--timeout", "5",          "--retries",
                                  "3",         "--delay",    "250",
                                  "-j",        "8",          "a.txt",
                                  "-",         "b.txt"});
  ASSERT_TRUE(line.options) << line.standardError;
  const CliOptions& options = *line.options;
  EXPECT_EQ(options.inputs, (std::vector<std::string>{"a.txt", "-", "b.txt"}));
  EXPECT_EQ(options.format, OutputFormat::kTsv);
  EXPECT_EQ(options.outputPath, "out.tsv");
  EXPECT_EQ(options.encoding, OutputEncoding::kGbk);
  EXPECT_TRUE(options.quiet);
  EXPECT_EQ(options.host, "127.0.0.1:9000");
  EXPECT_EQ(options.timeoutSeconds, 5);
  EXPECT_EQ(options.retries, 3);
  EXPECT_EQ(options.delayMs, 250);
  EXPECT_EQ(options.jobs, 8);
}

TEST(ParseCommandLine, BadUsageIsExitTwoWithOneLineAndAHint) {
  const std::vector<std::vector<const char*>> cases = {
      {},
      {"--format", "xml", "a.txt"},
      {"--format", "xlsx", "a.txt"},
      {"--format", "xlsx", "-o", "-", "a.txt"},
      {"-o", "book.xlsx", "--bom", "a.txt"},
      {"--format", "jsonl", "--encoding", "gbk", "a.txt"},
      {"--format", "jsonl", "--bom", "a.txt"},
      {"--encoding", "gbk", "--bom", "a.txt"},
      {"--encoding", "latin1", "a.txt"},
      {"--jobs", "0", "a.txt"},
      {"--jobs", "many", "a.txt"},
      {"--timeout", "0", "a.txt"},
      {"--retries", "-1", "a.txt"},
      {"--delay", "-5", "a.txt"},
      {"--host", "http://example.test", "a.txt"},
      {"--host", "a/b", "a.txt"},
      {"--host", "", "a.txt"},
      {"--host", "host:0", "a.txt"},
      {"--host", "host:70000", "a.txt"},
      {"--host", "host:", "a.txt"},
      {"--host", "[::1", "a.txt"},
      {"--no-such-option", "a.txt"},
      {"-", "-"},
  };
  for (const auto& arguments : cases) {
    std::string shown;
    for (const char* argument : arguments) shown += std::string(argument) + " ";
    SCOPED_TRACE(shown);
    const CommandLine line = Parse(arguments);
    EXPECT_FALSE(line.options);
    EXPECT_EQ(line.exitCode, 2);
    EXPECT_EQ(line.standardError.rfind("waybill-query: ", 0), 0u) << line.standardError;
    EXPECT_EQ(std::count(line.standardError.begin(), line.standardError.end(), '\n'), 2);
  }
}

TEST(ParseCommandLine, HostsThatAreFine) {
  for (const char* host :
       {"localhost", "127.0.0.1:8580", "[::1]:8580", "[::1]", "track.example-1.test"}) {
    SCOPED_TRACE(host);
    EXPECT_TRUE(Parse({"--host", host, "a.txt"}).options);
  }
}

TEST(ParseCommandLine, HelpAndVersionGoToStandardOutput) {
  const CommandLine help = Parse({"--help"});
  EXPECT_FALSE(help.options);
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.standardOutput.find("--jobs"), std::string::npos);
  EXPECT_NE(help.standardOutput.find("Exit status"), std::string::npos);
  const CommandLine version = Parse({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.standardOutput.rfind("waybill-query ", 0), 0u);
}

TEST(ResolveFormat, AskedForThenByFileNameThenByTerminal) {
  const struct {
    std::optional<OutputFormat> format;
    const char* output;
    bool terminal;
    OutputFormat resolved;
  } cases[] = {
      {OutputFormat::kJsonl, "", true, OutputFormat::kJsonl},
      {OutputFormat::kCsv, "x.xlsx", false, OutputFormat::kCsv},
      {std::nullopt, "", true, OutputFormat::kTable},
      {std::nullopt, "", false, OutputFormat::kCsv},
      {std::nullopt, "-", true, OutputFormat::kTable},
      {std::nullopt, "out.XLSX", true, OutputFormat::kXlsx},
      {std::nullopt, "out.tsv", true, OutputFormat::kTsv},
      {std::nullopt, "out.jsonl", true, OutputFormat::kJsonl},
      {std::nullopt, "out.txt", true, OutputFormat::kCsv},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    CliOptions options;
    options.format = c.format;
    options.outputPath = c.output;
    EXPECT_EQ(ResolveFormat(options, c.terminal), c.resolved);
  }
}

}  // namespace
}  // namespace korvanel::cli
