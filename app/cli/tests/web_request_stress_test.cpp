// Many rows at once: WebRequest, as waybill-query's workers call it, from several threads at
// the same time. Run under the asan preset (or ThreadSanitizer) this is the proof that the
// calls share nothing they should not.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/cli/row_query.h"
#include "scripted_server.h"
#include "web/web_request.h"

namespace korvanel::cli {
namespace {

using test_support::ScriptedServer;

TEST(WebRequestStress, ParallelRowsEachGetTheirOwnPage) {
  ScriptedServer server;
  server.Script("BUSY", {test_support::Answer(503, "busy")});
  std::string unreachable;
  {
    ScriptedServer gone;
    unreachable = gone.Host();
  }
  const Text prefix = QueryAddressPrefixForHost(server.Host());
  const Text deadPrefix = QueryAddressPrefixForHost(unreachable);

  constexpr int kThreads = 8;
  constexpr int kRowsPerThread = 40;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRowsPerThread; ++i) {
        const std::string number = "T" + std::to_string(t) + "-" + std::to_string(i);
        switch (i % 5) {
          case 3: {  // an HTTP error answer
            const RowAttempt attempt = QueryRowOnce(prefix, "BUSY", 10);
            if (!attempt.responded || attempt.statusText != "503 Service Unavailable") ++wrong;
            break;
          }
          case 4: {  // a refused connection, failing in the middle of the others
            const RowAttempt attempt = QueryRowOnce(deadPrefix, number, 10);
            if (attempt.responded || attempt.statusText.rfind("711 ", 0) != 0) ++wrong;
            break;
          }
          default: {
            const RowAttempt attempt = QueryRowOnce(prefix, number, 10);
            if (!attempt.responded || attempt.statusText != "200 OK" ||
                attempt.cells.time != test_support::kDefaultTime ||
                attempt.cells.event != test_support::DefaultEvent(number)) {
              ++wrong;
            }
            // The body's bytes, through the other out-parameters, are this row's too.
            ByteSet bytes;
            Text status;
            WebRequestOptions options;
            options.statusText = &status;
            options.responseBytes = &bytes;
            const Text page = WebRequest(QueryAddress(prefix, number), options);
            if (page != test_support::DefaultPage(number) ||
                Text(bytes.begin(), bytes.end()) != page) {
              ++wrong;
            }
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GE(server.MostInFlight(), 2);
}

}  // namespace
}  // namespace korvanel::cli
