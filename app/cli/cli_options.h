// The command line of waybill-query.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/records/record_writer.h"

namespace korvanel::cli {

struct CliOptions {
  std::vector<std::string> inputs;     // paths; "-" is standard input
  std::optional<OutputFormat> format;  // unset: chosen by ResolveFormat
  std::string outputPath;              // empty: standard output
  OutputEncoding encoding = OutputEncoding::kUtf8;
  bool byteOrderMark = false;
  bool quiet = false;
  std::string host;        // host[:port] of the tracking endpoint
  int timeoutSeconds = 0;  // 0: the request routine's own 30 seconds
  int retries = 0;
  int delayMs = 0;
  int jobs = 1;
};

struct CommandLine {
  std::optional<CliOptions> options;  // set when the batch is to run
  int exitCode = 0;                   // otherwise: 0 after --help or --version, 2 for bad usage
  std::string standardOutput;         // the help or version text
  std::string standardError;          // the usage error, one line and a hint
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// The format asked for, or else the one the output path's extension names (.csv, .tsv,
// .jsonl, .xlsx), or else a table for a person at a terminal and CSV for anything else.
OutputFormat ResolveFormat(const CliOptions& options, bool standardOutputIsTerminal);

}  // namespace korvanel::cli
