// waybill-query: the batch query of the desktop tool, for scripts and servers.
#include <exception>
#include <string>
#include <vector>

#include "app/cli/batch_run.h"
#include "app/cli/cli_options.h"
#include "app/cli/standard_stream.h"
#include "app/cli/stop_signal.h"

int main(int argc, char** argv) {
  using namespace korvanel::cli;
  PrepareStandardStreams();
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const auto& argument : arguments) pointers.push_back(argument.c_str());
  const CommandLine commandLine =
      ParseCommandLine(static_cast<int>(pointers.size()), pointers.data());
  if (!commandLine.options) {
    WriteAll(kStandardOutput, commandLine.standardOutput, nullptr);
    WriteAll(kStandardError, commandLine.standardError, nullptr);
    return commandLine.exitCode;
  }

  BatchEnvironment environment;
  environment.outputFd = kStandardOutput;
  environment.errorFd = kStandardError;
  environment.outputIsTerminal = IsTerminal(kStandardOutput);
  environment.errorIsTerminal = IsTerminal(kStandardError);
  environment.terminalTakesCharacters = TerminalTakesCharacters();
  environment.stopSignal = &StopSignal();
  environment.temporaryFile = SetAbandonedFile;
  environment.inputsRead = InstallStopHandlers;
  try {
    return RunBatch(*commandLine.options, environment);
  } catch (const std::exception& error) {
    WriteAll(kStandardError, std::string("waybill-query: ") + error.what() + "\n", nullptr);
    return kExitUsage;
  }
}
