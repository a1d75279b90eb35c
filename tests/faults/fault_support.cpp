#include "tests/faults/fault_support.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace korvanel::faults {

void MakeDemoDatabase(const std::string& dbPath) {
  const int status = RunProgramTo({TRACKING_ENDPOINT_EXE, "demo", "--db", dbPath});
  if (status != 0) throw std::runtime_error("tracking-endpoint demo failed");
}

EndpointProcess::EndpointProcess(const std::string& dbPath, int port, int latencyMs) {
  std::vector<std::string> argv = {TRACKING_ENDPOINT_EXE, "serve", "--db", dbPath, "--listen",
                                   "127.0.0.1:" + std::to_string(port)};
  if (latencyMs > 0) {
    argv.push_back("--latency-ms");
    argv.push_back(std::to_string(latencyMs));
  }
  m_child =
      std::make_unique<ChildProcess>(ChildProcess::Setup{.arguments = argv, .pipeOutput = true});
  // The ready signal: the first line, "listening on HOST:PORT".
  const std::string line = m_child->ReadLine(std::chrono::seconds(60));
  const std::size_t colon = line.rfind(':');
  if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
    m_child->Kill();
    throw std::runtime_error("the endpoint did not start: " + line);
  }
  m_port = std::atoi(line.c_str() + colon + 1);
}

int EndpointProcess::Stop() {
  m_child->Signal(SIGTERM);
  return m_child->Wait();
}

std::string SourceDir() { return KORVANEL_SOURCE_DIR; }

}  // namespace korvanel::faults
