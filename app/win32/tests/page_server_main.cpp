// The endpoint of the end-to-end run of waybill-tracker.exe: serves the fixture pages on
// 127.0.0.1 at the port given (the one the tool was built to ask), prints
// "listening on 127.0.0.1:PORT" once it accepts connections, then one line per request
// target as they come, until it is stopped.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>

#include "app/tests/page_server.h"

int main(int argc, char* argv[]) {
  using korvanel::test_support::PageServer;
  using korvanel::test_support::ReadFixture;
  const int port = argc > 1 ? std::atoi(argv[1]) : 0;
  std::unique_ptr<PageServer> server;
  try {
    server = std::make_unique<PageServer>(port);
  } catch (const std::runtime_error&) {
    std::fprintf(stderr, "page_server: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  server->SetPage("A1", ReadFixture("two_entries.html"));
  server->SetPage("B2", ReadFixture("ninety_five_spaces.html"));
  server->SetPage("C3", ReadFixture("repeated_time.html"));
  std::printf("listening on %s\n", server->Host().c_str());
  std::fflush(stdout);
  std::size_t told = 0;
  for (;;) {
    const auto targets = server->Targets();
    for (; told < targets.size(); ++told) std::printf("%s\n", targets[told].c_str());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}
