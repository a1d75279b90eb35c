// waybill-query: the batch query of the desktop tool, for scripts and servers.
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "app/cli/batch_run.h"
#include "app/cli/cli_options.h"
#include "app/cli/stop_signal.h"

int main(int argc, char** argv) {
  using namespace korvanel::cli;
  const CommandLine commandLine = ParseCommandLine(argc, argv);
  if (!commandLine.options) {
    std::fputs(commandLine.standardOutput.c_str(), stdout);
    std::fputs(commandLine.standardError.c_str(), stderr);
    return commandLine.exitCode;
  }

  BatchEnvironment environment;
  environment.outputFd = STDOUT_FILENO;
  environment.errorFd = STDERR_FILENO;
  environment.outputIsTerminal = isatty(STDOUT_FILENO) == 1;
  environment.errorIsTerminal = isatty(STDERR_FILENO) == 1;
  environment.stopSignal = &StopSignal();
  environment.temporaryFile = SetAbandonedFile;
  environment.inputsRead = InstallStopHandlers;
  try {
    return RunBatch(*commandLine.options, environment);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "waybill-query: %s\n", error.what());
    return kExitUsage;
  }
}
