// The endpoint's request handling, without a socket: TrackingServer::Respond with fuzzed
// methods and targets over a database of the demo waybills. Every answer must be one of the
// endpoint's own complete pages with a status it means to give; a well-formed query is
// never refused as a missing page, a wrong method or an internal error, and a demo number
// asked for in either of its encodings gets its timeline.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "endpoint/demo_data.h"
#include "endpoint/event_store.h"
#include "endpoint/gbk.h"
#include "endpoint/tracking_server.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace ep = korvanel::endpoint;
using fuzz::Escaped;

std::string g_dir;
std::unique_ptr<ep::TrackingServer> g_server;
std::vector<std::string> g_numbers;  // UTF-8

void RemoveDatabase() {
  g_server.reset();
  for (const char* suffix : {"/events.db", "/events.db-wal", "/events.db-shm"}) {
    std::remove((g_dir + suffix).c_str());
  }
  rmdir(g_dir.c_str());
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

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void CheckPage(const ep::Answer& answer, const std::string& method, const std::string& target) {
  FUZZ_CHECK(
      answer.status == 200 || answer.status == 400 || answer.status == 404 || answer.status == 405,
      "Respond(%s, %s) gave status %d\n", Escaped(method).c_str(), Escaped(target).c_str(),
      answer.status);
  FUZZ_CHECK(answer.body.rfind("<!DOCTYPE html>", 0) == 0 && EndsWith(answer.body, "</html>\r\n"),
             "Respond(%s, %s) gave an incomplete page\n", Escaped(method).c_str(),
             Escaped(target).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_endpoint.XXXXXX";
  if (!mkdtemp(pattern.data())) std::abort();
  g_dir = pattern;
  {
    ep::EventStore store(g_dir + "/events.db");
    store.AddEvents(ep::DemoEvents());
  }
  ep::ServerOptions options;
  options.dbPath = g_dir + "/events.db";
  options.port = 0;
  g_server = std::make_unique<ep::TrackingServer>(options);
  g_numbers = ep::DemoNumbers();
  std::atexit(RemoveDatabase);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int shape = in.ConsumeIntegralInRange<int>(0, 3);
  static const char* const kMethods[] = {"GET", "HEAD", "POST", "get", "OPTIONS", ""};
  std::string method = in.ConsumeBool() ? kMethods[in.ConsumeIntegralInRange<int>(0, 5)]
                                        : in.ConsumeRandomLengthString(8);
  std::string target;
  switch (shape) {
    case 0:  // anything at all
      target = in.ConsumeRemainingBytesAsString();
      break;
    case 1:  // the right path, any query string
      target = "/korvanelapi.php?" + in.ConsumeRemainingBytesAsString();
      break;
    case 2: {  // the query the desktop tool sends, with any number in it
      const std::string number = in.ConsumeRemainingBytesAsString();
      target = "/korvanelapi.php?yundanhao=" + number + "&type=html";
      break;
    }
    default: {  // a demo number, UTF-8 or GBK, raw or percent-escaped
      if (g_numbers.empty()) return 0;
      const std::string& utf8 =
          g_numbers[in.ConsumeIntegralInRange<size_t>(0, g_numbers.size() - 1)];
      const std::string gbk = ep::Utf8ToGbk(utf8).value_or(utf8);
      const std::string& bytes = in.ConsumeBool() ? utf8 : gbk;
      const std::string number = in.ConsumeBool() ? PercentEncode(bytes) : bytes;
      target = "/korvanelapi.php?yundanhao=" + number + "&type=html";
      method = "GET";
      const ep::Answer answer = g_server->Respond(method, target);
      CheckPage(answer, method, target);
      FUZZ_CHECK(answer.status == 200 &&
                     answer.body.find("\"layui-timeline-title\">") != std::string::npos,
                 "demo number %s (%s) has no timeline\n", Escaped(utf8).c_str(),
                 Escaped(target).c_str());
      return 0;
    }
  }
  const ep::Answer answer = g_server->Respond(method, target);
  CheckPage(answer, method, target);
  if (shape == 2 && (method == "GET" || method == "HEAD")) {
    // The path and the keys are right: only the number itself can be refused.
    FUZZ_CHECK(answer.status == 200 || answer.status == 400,
               "Respond(%s, %s) gave status %d for a well-formed query\n", method.c_str(),
               Escaped(target).c_str(), answer.status);
  }
  return 0;
}
