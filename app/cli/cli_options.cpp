#include "app/cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <map>

#include "app/batch_query.h"

namespace korvanel::cli {
namespace {

constexpr const char* kProgram = "waybill-query";
constexpr const char* kVersion = "waybill-query 0.1";

const std::map<std::string, OutputFormat> kFormats = {
    {"table", OutputFormat::kTable}, {"csv", OutputFormat::kCsv},   {"tsv", OutputFormat::kTsv},
    {"jsonl", OutputFormat::kJsonl}, {"xlsx", OutputFormat::kXlsx},
};
const std::map<std::string, OutputEncoding> kEncodings = {
    {"utf-8", OutputEncoding::kUtf8},
    {"utf8", OutputEncoding::kUtf8},
    {"gbk", OutputEncoding::kGbk},
    {"cp936", OutputEncoding::kGbk},
};

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A host name or address with an optional port: the part of the address between "http://"
// and the path. Anything else would end up spliced into the query address.
std::optional<std::string> HostProblem(const std::string& host) {
  if (host.empty()) return "the host is empty";
  if (host.find("://") != std::string::npos) return "give the host without a scheme";
  for (char c : host) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':' ||
                         c == '[' || c == ']';
    if (!allowed) return "the host holds '" + std::string(1, c) + "'";
  }
  std::string port;
  if (host[0] == '[') {  // an IPv6 address: [::1] or [::1]:8580
    const auto bracket = host.find(']');
    if (bracket == std::string::npos) return "the address lacks its closing ']'";
    const std::string rest = host.substr(bracket + 1);
    if (!rest.empty() && rest[0] != ':') return "only a port may follow the address";
    if (!rest.empty()) port = rest.substr(1);
    if (rest == ":") return "the port is missing";
  } else if (const auto colon = host.find(':'); colon != std::string::npos) {
    if (colon == 0) return "the host name is missing";
    port = host.substr(colon + 1);
    if (port.empty()) return "the port is missing";
  }
  if (!port.empty()) {
    const bool digits =
        port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535) {
      return "the port must be a number from 1 to 65535";
    }
  }
  return std::nullopt;
}

std::optional<std::string> CombinationProblem(const CliOptions& options) {
  const bool toFile = !options.outputPath.empty() && options.outputPath != "-";
  // What goes to a file may have been chosen by its name.
  const std::optional<OutputFormat> format =
      options.format || !toFile ? options.format : ResolveFormat(options, false);
  if (format == OutputFormat::kXlsx) {
    if (!toFile) return "--format xlsx needs --output FILE";
    if (options.encoding != OutputEncoding::kUtf8 || options.byteOrderMark) {
      return "a workbook has no text encoding: --encoding and --bom do not apply to xlsx";
    }
  }
  if (format == OutputFormat::kJsonl) {
    if (options.encoding != OutputEncoding::kUtf8) {
      return "JSON lines are always UTF-8: --encoding gbk does not apply to jsonl";
    }
    if (options.byteOrderMark) return "JSON lines never start with a byte-order mark";
  }
  if (options.byteOrderMark && options.encoding != OutputEncoding::kUtf8) {
    return "--bom is the UTF-8 byte-order mark; it does not go with --encoding gbk";
  }
  int standardInputs = 0;
  for (const auto& input : options.inputs) standardInputs += input == "-";
  if (standardInputs > 1) return "standard input (-) can be read only once";
  if (auto problem = HostProblem(options.host)) return "--host " + options.host + ": " + *problem;
  return std::nullopt;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CliOptions options;
  options.host = std::string(DefaultEndpointHost());
  std::string formatName;
  std::string encodingName = "utf-8";

  CLI::App app{
      "Looks up the latest tracking event of every waybill listed in the files (one\n"
      "number per line) and prints one record per number, in list order.",
      kProgram};
  app.set_version_flag("--version", kVersion);
  app.add_option("FILE", options.inputs,
                 "waybill list (one number per line); - reads standard input")
      ->required()
      ->type_name("");
  app.add_option("-f,--format", formatName,
                 "output format (default: what the --output name ends in, else table on a "
                 "terminal, csv otherwise)")
      ->transform(CLI::IsMember({"table", "csv", "tsv", "jsonl", "xlsx"}, CLI::ignore_case))
      ->type_name("FORMAT");
  app.add_option("-o,--output", options.outputPath,
                 "write to FILE, which appears only once complete (default: standard output)")
      ->type_name("FILE");
  app.add_option("--encoding", encodingName, "encoding of the text formats (default utf-8)")
      ->transform(CLI::IsMember({"utf-8", "utf8", "gbk", "cp936"}, CLI::ignore_case))
      ->type_name("ENCODING");
  app.add_flag("--bom", options.byteOrderMark,
               "start UTF-8 output with a byte-order mark, and keep CSV cells from running "
               "as formulas (for Excel)");
  app.add_flag("-q,--quiet", options.quiet, "no progress display");
  app.add_option("--host", options.host, "tracking endpoint to query")
      ->type_name("HOST[:PORT]")
      ->default_str(std::string(DefaultEndpointHost()));
  app.add_option("--timeout", options.timeoutSeconds, "request timeout (default 30)")
      ->check(CLI::Range(1, 2'000'000))
      ->type_name("SECONDS");
  app.add_option("--retries", options.retries,
                 "retry a row whose request failed or got 429 or 5xx, up to N times (default 0)")
      ->check(CLI::Range(0, 100))
      ->type_name("N");
  app.add_option("--delay", options.delayMs, "pause between the requests of one job (default 0)")
      ->check(CLI::Range(0, 3'600'000))
      ->type_name("MS");
  app.add_option("-j,--jobs", options.jobs, "requests in flight at once (default 1)")
      ->check(CLI::Range(1, 64))
      ->type_name("N");
  app.footer(
      "Failed rows are told on standard error and keep their place, with empty cells.\n"
      "Exit status: 0 when every row succeeded, 1 when some failed, 2 for bad usage, an\n"
      "unreadable input file or output that cannot be written, 130 after Ctrl-C (which\n"
      "lets the requests in flight finish and writes every finished record).");

  CommandLine result;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    result.standardOutput = app.help();
    return result;
  } catch (const CLI::CallForVersion&) {
    result.standardOutput = std::string(kVersion) + "\n";
    return result;
  } catch (const CLI::ParseError& error) {
    result.exitCode = 2;
    result.standardError =
        std::string(kProgram) + ": " + error.what() + "\nRun with --help for more information.\n";
    return result;
  }

  if (!formatName.empty()) options.format = kFormats.at(Lower(formatName));
  options.encoding = kEncodings.at(Lower(encodingName));
  if (auto problem = CombinationProblem(options)) {
    result.exitCode = 2;
    result.standardError =
        std::string(kProgram) + ": " + *problem + "\nRun with --help for more information.\n";
    return result;
  }
  result.options = std::move(options);
  return result;
}

OutputFormat ResolveFormat(const CliOptions& options, bool standardOutputIsTerminal) {
  if (options.format) return *options.format;
  if (!options.outputPath.empty() && options.outputPath != "-") {
    const std::string path = Lower(options.outputPath);
    if (EndsWith(path, ".xlsx")) return OutputFormat::kXlsx;
    if (EndsWith(path, ".tsv")) return OutputFormat::kTsv;
    if (EndsWith(path, ".jsonl") || EndsWith(path, ".ndjson")) return OutputFormat::kJsonl;
    return OutputFormat::kCsv;
  }
  return standardOutputIsTerminal ? OutputFormat::kTable : OutputFormat::kCsv;
}

}  // namespace korvanel::cli
