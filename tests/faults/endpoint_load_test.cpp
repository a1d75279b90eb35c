// The endpoint under a short load of hostile requests from several clients at once, mixed
// with well-formed queries for the demo numbers: it never dies, every well-formed query gets
// the very page it gets at rest, and it still stops cleanly at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/import.h"
#include "tests/faults/fault_support.h"
#include "text/text.h"

namespace korvanel::faults {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kTitleMarker = "\"layui-timeline-title\">";

std::string Get(const std::string& target, const std::string& headers = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
         "Connection: close\r\n\r\n";
}

std::string PercentEncode(std::string_view bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Requests no client of the endpoint should send.
std::vector<std::string> HostileRequests() {
  const std::string path = "/korvanelapi.php?";
  std::string manyKeys;
  for (int i = 0; i < 4000; ++i) manyKeys += "k" + std::to_string(i) + "=v&";
  std::string manyHeaders;
  for (int i = 0; i < 2000; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
  return {
      Get(path + "yundanhao=" + std::string(100000, 'A') + "&type=html"),
      Get(path + "yundanhao=" + std::string(65, '1') + "&type=html"),
      Get(path + "yundanhao=%%%%%00%ZZ%4&type=html"),
      Get(path + "yundanhao=1&yundanhao=2&type=html"),
      Get(path + "yundanhao=1&type=html&type=html"),
      Get(path + "yundanhao=1&type=HTML"),
      Get(path + manyKeys + "yundanhao=1&type=html"),
      Get(path + "yundanhao=%81%00%FF%0D%0A&type=html"),
      Get(path + "yundanhao=%E4%B8&type=html"),
      Get(path + "yundanhao=" + std::string("\x81\xFF\x7F", 3) + "&type=html"),
      Get(path + "=&&&==&type"),
      Get("/../../../etc/passwd"),
      Get("/korvanelapi.php%3Fyundanhao=1&type=html"),
      Get(path + "yundanhao=1&type=html", manyHeaders),
      Get(path + "yundanhao=1&type=html", "Transfer-Encoding: chunked\r\n"),
      std::string("GET /korvanelapi.php?yundanhao=\0\0&type=html HTTP/1.1\r\n\r\n"sv),
      "POST " + path + "yundanhao=1&type=html HTTP/1.1\r\nContent-Length: 100000000\r\n\r\nabc",
      "PUT " + path + "yundanhao=1&type=html HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc",
      "BREW " + path + "yundanhao=1 HTCPCP/1.0\r\n\r\n",
      "GET /korvanelapi.php?yundanhao=1&type=html\r\n\r\n",
      "GET\r\n\r\n",
      "\r\n\r\n\r\n",
      "GET /korvanelapi.php?yundanhao=1&type=html HTTP/1.1\r\nHost: x\r\n",  // no empty line
      "GET " + path + "yundanhao=1&type=html HTTP/9.9\r\n\r\n",
      std::string(70000, 'G'),
  };
}

TEST(EndpointLoad, HostileQueriesNeitherCrashItNorSpoilValidAnswers) {
  TempDir dir;
  MakeDemoDatabase(dir.File("events.db"));
  EndpointProcess endpoint(dir.File("events.db"));

  const TextArray numbers = ListWaybillNumbers(ReadTextFile(SourceDir() + "/samples/waybills.txt"));
  ASSERT_FALSE(numbers.empty());
  std::vector<std::string> valid;
  for (const Text& n : numbers) {
    if (n.empty()) continue;
    // As the desktop tool's HTTP layer sends it: spaces and bytes above 0x7F escaped.
    valid.push_back(Get("/korvanelapi.php?yundanhao=" + PercentEncode(n) + "&type=html"));
  }
  // What each query gets from the endpoint at rest; under load it must get the same page.
  std::vector<std::string> expected;
  int known = 0;
  for (const std::string& request : valid) {
    std::string answer;
    ASSERT_EQ(RawRequest(endpoint.Port(), request, &answer), 200) << request;
    known += answer.find(kTitleMarker) != std::string::npos;
    expected.push_back(answer);
  }
  ASSERT_GT(known, 0);
  const std::vector<std::string> hostile = HostileRequests();

  // A bounded run: a few seconds, a bounded number of requests per client. A longer soak can
  // be asked for with KORVANEL_LOAD_SECONDS (at most ten minutes).
  int seconds = 5;
  if (const char* asked = std::getenv("KORVANEL_LOAD_SECONDS")) {
    seconds = std::clamp(std::atoi(asked), 1, 600);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  constexpr int kClients = 4;
  const int kMaxRequestsPerClient = 600 * seconds;
  std::atomic<int> validSent{0}, hostileSent{0}, badValid{0};
  std::string firstBad;
  std::mutex badMutex;
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      std::mt19937 random(936 + c);
      for (int i = 0; i < kMaxRequestsPerClient && std::chrono::steady_clock::now() < deadline;
           ++i) {
        if (i % 3 == 0) {
          const size_t which = random() % valid.size();
          const std::string& request = valid[which];
          std::string answer;
          const int status = RawRequest(endpoint.Port(), request, &answer);
          ++validSent;
          if (status != 200 || answer != expected[which]) {
            ++badValid;
            std::lock_guard<std::mutex> lock(badMutex);
            if (firstBad.empty()) firstBad = request + " -> " + answer.substr(0, 200);
          }
        } else {
          std::string request = hostile[random() % hostile.size()];
          // Now and then a random byte of it flipped as well.
          if (random() % 4 == 0 && !request.empty()) {
            request[random() % request.size()] = static_cast<char>(random() & 0xFF);
          }
          RawRequest(endpoint.Port(), request, nullptr, std::chrono::seconds(2));
          ++hostileSent;
        }
      }
    });
  }
  for (std::thread& t : clients) t.join();

  EXPECT_GT(validSent.load(), 0);
  EXPECT_GT(hostileSent.load(), 0);
  EXPECT_EQ(badValid.load(), 0) << firstBad;
  ASSERT_TRUE(endpoint.Running());
  std::string answer;
  EXPECT_EQ(RawRequest(endpoint.Port(), valid.front(), &answer), 200);
  EXPECT_EQ(endpoint.Stop(), 0);
}

}  // namespace
}  // namespace korvanel::faults
