// The https server of the web tests as a program of its own, for test runs that cannot start
// one in their process (the Windows build under Wine). Prints "listening on 127.0.0.1:PORT"
// and serves until SIGTERM or SIGINT.
#include <csignal>
#include <cstdio>
#include <exception>

#include "tests/support/https_test_server.h"

int main() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  // Blocked before the server's threads start, so only the wait below takes them.
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  try {
    korvanel::test_support::HttpsTestServer server;
    std::printf("listening on %s\n", server.HostPort().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "https_test_server: %s\n", e.what());
    return 1;
  }
  return 0;
}
