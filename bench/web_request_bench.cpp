// WebRequest beside a bare libcurl loop (a fresh easy handle per request, the body appended to
// a string), against the same in-process server in the same run: sequential GETs of a 20 KiB
// page over http and over https (a fresh TLS handshake each), and one 64 MiB body with the
// peak memory it took.
//
// Goals: a page within 1.15x of the bare loop's time per request, within 1.10x over https;
// the 64 MiB body within 1.5x of its time, with a peak of at most 3.5x the body size. Read
// the ratios from one run:
//   web_request_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/loopback_server.h"
#include "tests/support/tls_stream.h"
#include "web/http_api.h"
#include "web/web_request.h"

namespace {

using korvanel::test_support::LoopbackServer;
using korvanel::test_support::Reply;

constexpr std::size_t kPageBytes = 20 * 1024;
constexpr std::uint64_t kBigBytes = 64ull * 1024 * 1024;

std::string PageBody() {
  std::string page = "<html><head><title>waybill</title></head><body>";
  while (page.size() < kPageBytes - 14) page += "<p>2024-01-01 12:00 parcel scanned</p>";
  page.resize(kPageBytes - 14);
  page += "</body></html>";
  return page;
}

LoopbackServer& Server() {
  static LoopbackServer* server = [] {
    auto* s = new LoopbackServer();  // lives as long as the process; the benchmarks share it
    s->Route("/page", korvanel::test_support::HttpReply(200, "OK", "Content-Type: text/html\r\n",
                                                        PageBody()));
    s->Route("/big", Reply{.bytes = "HTTP/1.1 200 OK\r\nContent-Length: " +
                                    std::to_string(kBigBytes) + "\r\n\r\n",
                           .generatedBytes = kBigBytes});
    return s;
  }();
  return *server;
}

// Resident set now and its high-water mark since the last reset, in bytes.
long StatusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name, 0) == 0) return std::stol(line.substr(std::string(name).size())) * 1024;
  }
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

size_t AppendToString(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

std::string BareGet(const std::string& url) {
  std::string body;
  CURL* easy = curl_easy_init();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  // As WebRequest does: the https server's certificate is for another name and self-signed.
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &AppendToString);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(easy);
  curl_easy_cleanup(easy);
  return body;
}

void BM_PageWebRequest(benchmark::State& state) {
  const std::string url = Server().Url("/page?yundanhao=SF1234567890&type=html");
  for (auto _ : state) {
    const korvanel::Text page = korvanel::WebRequest(url);
    if (page.size() != kPageBytes) state.SkipWithError("short page");
    benchmark::DoNotOptimize(page.data());
  }
}

void BM_PageBareCurl(benchmark::State& state) {
  const std::string url = Server().Url("/page?yundanhao=SF1234567890&type=html");
  for (auto _ : state) {
    const std::string page = BareGet(url);
    if (page.size() != kPageBytes) state.SkipWithError("short page");
    benchmark::DoNotOptimize(page.data());
  }
}

// The calls WebRequest makes of the backend for the same page, without WebRequest's own text
// work, to tell the backend's share of the cost from the rest.
std::size_t BackendGet(const std::u16string& object, int port) {
  korvanel::HttpApi& api = korvanel::PlatformHttpApi();
  static const std::u16string headers =
      u"User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
      u"Accept: text/html, application/xhtml+xml, */*\r\nAccept-Encoding: gbk, GB2312\r\n"
      u"Accept-Language: zh-cn\r\nCache-Control: no-cache";
  std::size_t size = 0;
  korvanel::HttpHandle session = api.Open(nullptr, korvanel::kAccessTypeNoProxy, u"", nullptr, 0);
  api.SetTimeouts(session, 30000, 30000, 30000, 30000);
  korvanel::HttpHandle connection =
      api.Connect(session, u"127.0.0.1", static_cast<std::uint16_t>(port), 0);
  korvanel::HttpHandle request =
      api.OpenRequest(connection, u"GET", object.c_str(), nullptr, nullptr, nullptr, 0);
  std::uint32_t flags = korvanel::kSecurityFlagsIgnoreAll;
  api.SetOption(request, korvanel::kOptionSecurityFlags, &flags, 4);
  std::uint32_t off = korvanel::kDisableCookies;
  api.SetOption(request, korvanel::kOptionDisableFeature, &off, 4);
  api.AddRequestHeaders(request, headers.c_str(), static_cast<std::uint32_t>(headers.size()),
                        korvanel::kAddRequestFlagAdd);
  if (api.SendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
      api.ReceiveResponse(request, nullptr)) {
    std::string body;
    std::uint32_t available = 0;
    while (api.QueryDataAvailable(request, &available) && available > 0) {
      const std::size_t old = body.size();
      body.resize(old + available);
      std::uint32_t read = 0;
      if (!api.ReadData(request, body.data() + old, available, &read)) break;
      body.resize(old + read);
    }
    std::uint32_t bytes = 0;
    api.QueryHeaders(request, korvanel::kQueryRawHeadersCrlf, nullptr, nullptr, &bytes, nullptr);
    std::u16string raw(bytes / 2, u'\0');
    api.QueryHeaders(request, korvanel::kQueryRawHeadersCrlf, nullptr, raw.data(), &bytes, nullptr);
    size = body.size();
  }
  api.CloseHandle(request);
  api.CloseHandle(connection);
  api.CloseHandle(session);
  return size;
}

void BM_PageBackendOnly(benchmark::State& state) {
  const std::u16string object = u"/page?yundanhao=SF1234567890&type=html";
  const int port = Server().port();
  for (auto _ : state) {
    if (BackendGet(object, port) != kPageBytes) state.SkipWithError("short page");
  }
}

// The same page over https, each request with a fresh TLS handshake as WebRequest makes one.
LoopbackServer& HttpsServer() {
  static LoopbackServer* server = [] {
    static const korvanel::test_support::TlsIdentity identity;
    auto* s = new LoopbackServer({.wrapStream = identity.Wrapper(), .scheme = "https"});
    s->Route("/page", korvanel::test_support::HttpReply(200, "OK", "Content-Type: text/html\r\n",
                                                        PageBody()));
    return s;
  }();
  return *server;
}

void BM_HttpsPageWebRequest(benchmark::State& state) {
  const std::string url = HttpsServer().Url("/page?yundanhao=SF1234567890&type=html");
  for (auto _ : state) {
    const korvanel::Text page = korvanel::WebRequest(url);
    if (page.size() != kPageBytes) state.SkipWithError("short page");
    benchmark::DoNotOptimize(page.data());
  }
}

void BM_HttpsPageBareCurl(benchmark::State& state) {
  const std::string url = HttpsServer().Url("/page?yundanhao=SF1234567890&type=html");
  for (auto _ : state) {
    const std::string page = BareGet(url);
    if (page.size() != kPageBytes) state.SkipWithError("short page");
    benchmark::DoNotOptimize(page.data());
  }
}

template <typename Get>
void MeasureBig(benchmark::State& state, Get get) {
  const std::string url = Server().Url("/big");
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const long before = StatusField("VmRSS:");
    ResetPeak();
    state.ResumeTiming();
    const std::size_t size = get(url);
    state.PauseTiming();
    peak = std::max(peak, static_cast<double>(StatusField("VmHWM:") - before));
    if (size != kBigBytes) state.SkipWithError("short body");
    state.ResumeTiming();
  }
  state.counters["peak_MiB"] = peak / (1024 * 1024);
  state.counters["peak_x_body"] = peak / static_cast<double>(kBigBytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigBytes));
}

void BM_BigWebRequest(benchmark::State& state) {
  MeasureBig(state, [](const std::string& url) { return korvanel::WebRequest(url).size(); });
}

void BM_BigBareCurl(benchmark::State& state) {
  MeasureBig(state, [](const std::string& url) { return BareGet(url).size(); });
}

BENCHMARK(BM_PageWebRequest)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageBareCurl)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageBackendOnly)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HttpsPageWebRequest)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HttpsPageBareCurl)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BigWebRequest)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_BigBareCurl)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
