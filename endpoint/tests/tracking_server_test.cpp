#include "endpoint/tracking_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "endpoint/demo_data.h"
#include "endpoint/gbk.h"
#include "endpoint/tracking_page.h"
#include "tests/support/temp_dir.h"
#include "text/markers.h"

namespace korvanel::endpoint {
namespace {

using test_support::TempDir;

// A server on a free loopback port, serving on its own thread until the test ends, however
// it ends.
class RunningServer {
 public:
  RunningServer(const std::string& db, int latencyMs = 0, int threads = 8)
      : m_server(ServerOptions{db, "127.0.0.1", 0, latencyMs, threads}),
        m_port(m_server.Bind()),
        m_thread([this] { m_server.Run(); }) {}
  ~RunningServer() {
    m_server.Stop();
    m_thread.join();
  }
  int port() const { return m_port; }
  TrackingServer& server() { return m_server; }

 private:
  TrackingServer m_server;
  int m_port;
  std::thread m_thread;
};

// Sends bytes exactly as given and returns the first answer: its head and as much body as
// its Content-Length says, or everything until the server closes.
std::string SendRaw(int port, const std::string& request) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    size_t sent = 0;
    while (sent < request.size()) {
      ssize_t n = send(s, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    timeval timeout{10, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char buffer[4096];
    ssize_t n;
    while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) {
      answer.append(buffer, static_cast<size_t>(n));
      size_t headEnd = answer.find("\r\n\r\n");
      size_t length = answer.find("Content-Length: ");
      if (headEnd != std::string::npos && length != std::string::npos && length < headEnd &&
          answer.size() >= headEnd + 4 + std::stoul(answer.substr(length + 16)))
        break;
    }
  }
  close(s);
  return answer;
}

std::string RawGet(int port, const std::string& target) {
  return SendRaw(port,
                 "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

// Every byte outside the unreserved set escaped, the way the desktop tool's HTTP layer
// escapes a number's characters as UTF-8.
std::string EscapeAll(const std::string& utf8) {
  std::string out;
  for (unsigned char c : utf8) {
    if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char escape[4];
      snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

std::string Target(const std::string& escapedNumber) {
  return "/korvanelapi.php?yundanhao=" + escapedNumber + "&type=html";
}

class TrackingServerTest : public ::testing::Test {
 protected:
  TrackingServerTest() : m_db(m_dir.File("demo.db")) {
    EventStore(m_db).AddEvents(DemoEvents());
    m_server = std::make_unique<RunningServer>(m_db);
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_server->port());
    m_client->set_url_encode(false);
  }
  httplib::Result Get(const std::string& target) { return m_client->Get(target.c_str()); }

  TempDir m_dir;
  std::string m_db;
  std::unique_ptr<RunningServer> m_server;
  std::unique_ptr<httplib::Client> m_client;
};

TEST_F(TrackingServerTest, EveryDemoNumberGivesItsNewestEventToTheBatchQuery) {
  EventReader reader(m_db);
  for (const std::string& number : DemoNumbers()) {
    SCOPED_TRACE(number);
    auto result = Get(Target(EscapeAll(number)));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/html; charset=GBK");
    const std::string& page = result->body;
    std::string date = TextBetween(page, kTitleMarker, "&nbsp;");
    std::string time = TextBetween(page, "&nbsp;&nbsp;", "</h3>");
    std::string tail = TextRightOf(page, time + "</h3>\r\n      <p>\r\n\t\t", -1);
    std::string event = TextLeftOf(tail, kEventEndMarker);

    std::vector<StoredEvent> events = reader.EventsOf(number);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(date + "  " + time, events[0].time.substr(0, 10) + "  " + events[0].time.substr(11));
    EXPECT_EQ(event, EscapeHtml(*Utf8ToGbk(events[0].text)));
  }
}

TEST_F(TrackingServerTest, FindsANumberSentAsUtf8OrAsRawOrEscapedGbk) {
  // "测试单号001", the demo's number in Chinese characters.
  const std::string gbk =
      "\xB2\xE2\xCA\xD4\xB5\xA5\xBA\xC5"
      "001";
  const std::string targets[] = {Target(EscapeAll(*GbkToUtf8(gbk))), Target(gbk),
                                 Target(EscapeAll(gbk))};
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    auto result = Get(target);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_NE(result->body.find(std::string(kTitleMarker)), std::string::npos);
  }
}

TEST_F(TrackingServerTest, MatchesTheNumberExactly) {
  // The demo has " ZT3000000001 " with its spaces; without them, or with "+" for a space,
  // it is another number.
  auto spaced = Get(Target("%20ZT3000000001%20"));
  ASSERT_TRUE(spaced);
  EXPECT_NE(spaced->body.find(std::string(kTitleMarker)), std::string::npos);
  for (const char* other : {"ZT3000000001", "+ZT3000000001+", "%20ZT3000000001", "zt3000000001"}) {
    SCOPED_TRACE(other);
    auto result = Get(Target(other));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body.find(std::string(kTitleMarker)), std::string::npos);
    EXPECT_NE(result->body.find(std::string(kNoTrackingInfo)), std::string::npos);
  }
}

TEST_F(TrackingServerTest, AnswersBadRequestsWithShortPages) {
  struct Case {
    const char* name;
    std::string target;
    int status;
  };
  const Case cases[] = {
      {"no yundanhao", "/korvanelapi.php?type=html", 400},
      {"empty yundanhao", "/korvanelapi.php?yundanhao=&type=html", 400},
      {"no query", "/korvanelapi.php", 400},
      {"number over 64 bytes", Target(std::string(65, '7')), 400},
      {"number of 4 KiB", Target(std::string(4096, '7')), 400},
      {"number of 10 KiB, past the longest request line", Target(std::string(10240, '7')), 414},
      {"percent-encoded NUL", Target("SF%00"), 400},
      {"type json", "/korvanelapi.php?yundanhao=SF1000000001&type=json", 400},
      {"no type", "/korvanelapi.php?yundanhao=SF1000000001", 400},
      {"root", "/", 404},
      {"other file", "/index.php?yundanhao=SF1000000001&type=html", 404},
      {"longer name", "/korvanelapi.phpx?yundanhao=SF1000000001&type=html", 404},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto result = Get(c.target);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status);
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/html; charset=GBK");
    EXPECT_NE(result->body.find("<html>"), std::string::npos);
    EXPECT_LT(result->body.size(), 4096u);
    EXPECT_EQ(result->body.find("layui-timeline-title"), std::string::npos);
  }
}

TEST_F(TrackingServerTest, HostileNumbersNeverReachThePageUnescaped) {
  const std::string hostile[] = {
      "%22%3E%3Cscript%3Ealert(1)%3C%2Fscript%3E",  // "><script>alert(1)</script>
      "'%20OR%20'1'%3D'1",                          // ' OR '1'='1
      "SF1000000001'--",
      "%3Cimg%20src%3Dx%20onerror%3Dalert(1)%3E",
      "%26nbsp%3B%26nbsp%3Blayui-timeline-title",
  };
  for (const std::string& number : hostile) {
    SCOPED_TRACE(number);
    auto result = Get(Target(number));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    const std::string& body = result->body;
    EXPECT_EQ(body.find("<script"), std::string::npos);
    EXPECT_EQ(body.find("<img"), std::string::npos);
    EXPECT_EQ(body.find("&nbsp;"), std::string::npos);
    EXPECT_EQ(body.find("layui-timeline-title"), std::string::npos);
    EXPECT_NE(body.find(std::string(kNoTrackingInfo)), std::string::npos);
  }
  // The server is still there.
  auto after = Get(Target("SF1000000001"));
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
}

TEST_F(TrackingServerTest, RefusesMethodsOtherThanGetAndHead) {
  auto post =
      m_client->Post(Target("SF1000000001").c_str(), "x=1", "application/x-www-form-urlencoded");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");
  // The body is read, so the connection is in step for the next request on it.
  m_client->set_keep_alive(true);
  auto postWithBody =
      m_client->Post(Target("SF1000000001").c_str(), std::string(5000, 'b'), "text/plain");
  ASSERT_TRUE(postWithBody);
  EXPECT_EQ(postWithBody->status, 405);
  auto getAfter = Get(Target("SF1000000001"));
  ASSERT_TRUE(getAfter);
  EXPECT_EQ(getAfter->status, 200);
  m_client->set_keep_alive(false);
  auto del = m_client->Delete(Target("SF1000000001").c_str());
  ASSERT_TRUE(del);
  EXPECT_EQ(del->status, 405);
  std::string options = SendRaw(
      m_server->port(), "OPTIONS " + Target("SF1000000001") + " HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(options.rfind("HTTP/1.1 405", 0), 0u) << options.substr(0, 200);

  auto head = m_client->Head(Target("SF1000000001").c_str());
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_TRUE(head->body.empty());
  auto get = Get(Target("SF1000000001"));
  ASSERT_TRUE(get);
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(get->body.size()));
}

TEST_F(TrackingServerTest, AcceptsRawBytesOnTheRequestLine) {
  // Raw GBK, as a client that does not escape sends it; and a raw space, which splits the
  // request line and so cannot be understood.
  std::string gbk = RawGet(m_server->port(), Target("\xB2\xE2\xCA\xD4\xB5\xA5\xBA\xC5"
                                                    "001"));
  EXPECT_EQ(gbk.rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_NE(gbk.find(std::string(kTitleMarker)), std::string::npos);
  std::string space = RawGet(m_server->port(), Target(" SF1000000001"));
  EXPECT_EQ(space.rfind("HTTP/1.1 400", 0), 0u) << space.substr(0, 100);
}

TEST_F(TrackingServerTest, ServesManyRequestsOnOneKeepAliveConnection) {
  m_client->set_keep_alive(true);
  for (int i = 0; i < 50; ++i) {
    auto result = Get(Target("SF1000000002"));
    ASSERT_TRUE(result) << "request " << i;
    ASSERT_EQ(result->status, 200);
  }
}

TEST_F(TrackingServerTest, SeesEventsAddedWhileItRuns) {
  auto before = Get(Target("NEW0000001"));
  ASSERT_TRUE(before);
  EXPECT_EQ(before->body.find(std::string(kTitleMarker)), std::string::npos);
  EventStore(m_db).AddEvents({{"NEW0000001", "2025-05-01 12:00:00", "fresh"}});
  auto after = Get(Target("NEW0000001"));
  ASSERT_TRUE(after);
  EXPECT_NE(after->body.find("12:00:00</h3>\r\n      <p>\r\n\t\tfresh"), std::string::npos);
}

TEST(TrackingServer, DelaysAnswersAndServesClientsInParallel) {
  TempDir dir;
  const std::string db = dir.File("demo.db");
  EventStore(db).AddEvents(DemoEvents());
  constexpr int kLatencyMs = 150;
  RunningServer running(db, kLatencyMs, 8);
  std::vector<std::future<std::pair<int, long>>> clients;
  for (int i = 0; i < 6; ++i) {
    clients.push_back(std::async(std::launch::async, [port = running.port()] {
      httplib::Client client("127.0.0.1", port);
      auto start = std::chrono::steady_clock::now();
      auto result = client.Get(Target("SF1000000001").c_str());
      long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - start)
                                      .count());
      return std::make_pair(result ? result->status : -1, ms);
    }));
  }
  for (auto& client : clients) {
    auto [status, ms] = client.get();
    EXPECT_EQ(status, 200);
    EXPECT_GE(ms, kLatencyMs);
  }
}

// The kernel's count of connections dropped because a listening socket's queue was full,
// for this network namespace; nothing where /proc does not expose it.
std::optional<long long> ListenOverflows() {
  std::ifstream netstat("/proc/net/netstat");
  std::string names, values;
  while (std::getline(netstat, names) && std::getline(netstat, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream nameWords(names), valueWords(values);
    std::string name, value;
    while (nameWords >> name && valueWords >> value)
      if (name == "ListenOverflows") return std::stoll(value);
  }
  return std::nullopt;
}

// A loopback client socket whose connect has been started but not waited for.
int StartConnect(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    close(s);
    return -1;
  }
  return s;
}

TEST(TrackingServer, AnswersABurstOfSimultaneousConnectionsWithoutDroppingAny) {
  TempDir dir;
  const std::string db = dir.File("demo.db");
  EventStore(db).AddEvents(DemoEvents());
  RunningServer running(db, 0, 32);
  const std::optional<long long> overflowsBefore = ListenOverflows();

  // Every connection is opened before any is waited for, as a batch of many jobs opens them.
  constexpr int kConnections = 256;
  std::vector<int> sockets;
  for (int i = 0; i < kConnections; ++i) {
    int s = StartConnect(running.port());
    ASSERT_GE(s, 0) << "connection " << i << ": " << std::strerror(errno);
    sockets.push_back(s);
  }
  struct Closer {
    std::vector<int>& sockets;
    ~Closer() {
      for (int s : sockets) close(s);
    }
  } closer{sockets};

  const std::string request =
      "GET " + Target("SF1000000001") + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  for (int i = 0; i < kConnections; ++i) {
    SCOPED_TRACE("connection " + std::to_string(i));
    // A connection the server dropped is retried by the kernel, so it connects late, but
    // connects: the overflow count below is what shows the drop.
    pollfd writable{sockets[i], POLLOUT, 0};
    ASSERT_EQ(poll(&writable, 1, 30000), 1);
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(sockets[i], SOL_SOCKET, SO_ERROR, &error, &length);
    ASSERT_EQ(error, 0) << std::strerror(error);
    ASSERT_EQ(send(sockets[i], request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
  }
  for (int i = 0; i < kConnections; ++i) {
    SCOPED_TRACE("connection " + std::to_string(i));
    std::string answer;
    char buffer[4096];
    for (;;) {
      pollfd readable{sockets[i], POLLIN, 0};
      ASSERT_EQ(poll(&readable, 1, 30000), 1);
      ssize_t n = recv(sockets[i], buffer, sizeof buffer, 0);
      ASSERT_GE(n, 0) << std::strerror(errno);
      if (n == 0) break;
      answer.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 100);
    EXPECT_NE(answer.find(std::string(kTitleMarker)), std::string::npos);
  }

  // Where the kernel counts them, no connection was dropped from a full accept queue. The
  // count covers the machine's network, so another program's overflow would show here too.
  if (overflowsBefore) {
    EXPECT_EQ(ListenOverflows(), overflowsBefore)
        << "connections were dropped from the endpoint's accept queue";
  }
}

TEST(TrackingServer, StopEndsIdleKeepAliveConnections) {
  TempDir dir;
  const std::string db = dir.File("demo.db");
  EventStore(db).AddEvents(DemoEvents());
  ServerOptions options{db, "127.0.0.1", 0, 0, 4};
  options.keepAliveSeconds = 120;
  TrackingServer server(options);
  const int port = server.Bind();
  std::thread serving([&] { server.Run(); });

  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET " + Target("SF1000000001") + " HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_EQ(send(s, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  std::string answer;
  char buffer[4096];
  while (answer.find("</html>") == std::string::npos) {
    ssize_t n = recv(s, buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    answer.append(buffer, static_cast<size_t>(n));
  }

  // The connection is idle and kept alive; stopping must not wait out its two minutes.
  auto start = std::chrono::steady_clock::now();
  server.Stop();
  serving.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), 0);  // closed by the server
  close(s);
}

TEST(TrackingServer, StopsBeforeAndWithoutRunning) {
  TempDir dir;
  const std::string db = dir.File("demo.db");
  EventStore(db).AddEvents(DemoEvents());
  {
    TrackingServer never(ServerOptions{db, "127.0.0.1", 0, 0, 2});
    EXPECT_GT(never.Bind(), 0);
  }
  TrackingServer server(ServerOptions{db, "127.0.0.1", 0, 0, 2});
  server.Bind();
  server.Stop();
  server.Run();  // returns at once: the stop came first
  EXPECT_THROW(TrackingServer(ServerOptions{dir.File("missing.db")}), StoreError);
}

TEST(TrackingServer, RefusesAPortInUse) {
  TempDir dir;
  const std::string db = dir.File("demo.db");
  EventStore(db).AddEvents(DemoEvents());
  TrackingServer first(ServerOptions{db, "127.0.0.1", 0, 0, 2});
  int port = first.Bind();
  TrackingServer second(ServerOptions{db, "127.0.0.1", port, 0, 2});
  EXPECT_THROW(second.Bind(), std::runtime_error);
}

}  // namespace
}  // namespace korvanel::endpoint
