// What the fault tests share beyond tests/support: the real endpoint as a child process that
// a test may kill and start again on the same port, and where the source tree is.
#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"

namespace korvanel::faults {

using test_support::ChildProcess;
using test_support::LoopbackServer;
using test_support::RawRequest;
using test_support::ReadFile;
using test_support::ReceivedRequest;
using test_support::Reply;
using test_support::RunProgramTo;
using test_support::Stream;
using test_support::TempDir;
using test_support::WriteFile;

// tracking-endpoint serve over a database, on 127.0.0.1. The constructor returns once the
// endpoint has said it listens.
class EndpointProcess {
 public:
  // port 0 lets the system choose; a restart passes the port the first run was given.
  EndpointProcess(const std::string& dbPath, int port = 0, int latencyMs = 0);
  EndpointProcess(const EndpointProcess&) = delete;
  EndpointProcess& operator=(const EndpointProcess&) = delete;

  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
  bool Running() { return m_child->Running(); }
  // SIGKILL: the endpoint dies at once, mid-answer or not.
  void Kill() { m_child->Kill(); }
  // SIGTERM and wait: the exit status of an orderly stop.
  int Stop();

 private:
  std::unique_ptr<ChildProcess> m_child;  // killed when the object goes
  int m_port = 0;
};

// Records the demo waybills into a new database at dbPath.
void MakeDemoDatabase(const std::string& dbPath);

// Where the tests find the source tree.
std::string SourceDir();

}  // namespace korvanel::faults
