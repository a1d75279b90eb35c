#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

namespace korvanel::test_support {
namespace {

using namespace std::chrono_literals;

std::string BodyOf(const std::string& answer) {
  const std::size_t headEnd = answer.find("\r\n\r\n");
  return headEnd == std::string::npos ? std::string() : answer.substr(headEnd + 4);
}

TEST(LoopbackServer, ReflectsTheRequestLineAndHeaderBlockByteForByte) {
  LoopbackServer server;
  server.Route("/reflect", ReflectReply);
  const std::string head =
      "GET /reflect?a=1 HTTP/1.1\r\nHost: x\r\nX-Odd:  two  spaces \r\nx-lower: v\r\n\r\n";
  std::string answer;
  ASSERT_EQ(RawRequest(server.port(), head, &answer), 200) << answer;
  EXPECT_EQ(BodyOf(answer), head.substr(0, head.size() - 2));

  const std::vector<ReceivedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const ReceivedRequest& got = requests[0];
  EXPECT_EQ(got.raw, head);
  EXPECT_EQ(got.requestLine, "GET /reflect?a=1 HTTP/1.1");
  EXPECT_EQ(got.method, "GET");
  EXPECT_EQ(got.target, "/reflect?a=1");
  EXPECT_EQ(got.path, "/reflect");
  EXPECT_EQ(got.HeaderLines(),
            (std::vector<std::string>{"Host: x", "X-Odd:  two  spaces ", "x-lower: v"}));
  EXPECT_EQ(got.Header("x-odd"), "two  spaces");
  EXPECT_EQ(got.Header("X-LOWER"), "v");
  EXPECT_TRUE(got.HasHeader("host"));
  EXPECT_FALSE(got.HasHeader("Cookie"));
  EXPECT_EQ(got.Header("Cookie"), "");
  EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(LoopbackServer, ReadsABodyByItsContentLength) {
  LoopbackServer server;
  server.Fallback([](const ReceivedRequest& request) {
    return HttpReply(201, "Created", "X-Seen: 1\r\n", "got " + request.body);
  });
  std::string answer;
  EXPECT_EQ(
      RawRequest(server.port(), "POST /form HTTP/1.1\r\nContent-Length: 7\r\n\r\na=1&b=2", &answer),
      201);
  EXPECT_EQ(answer, "HTTP/1.1 201 Created\r\nX-Seen: 1\r\nContent-Length: 11\r\n\r\ngot a=1&b=2");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].body, "a=1&b=2");
}

TEST(LoopbackServer, UnroutedPathsGetTheFallback) {
  LoopbackServer server;
  server.Route("/known", HttpReply(200, "OK", "", "known"));
  EXPECT_EQ(RawRequest(server.port(), "GET /known?x HTTP/1.1\r\n\r\n"), 200);
  EXPECT_EQ(RawRequest(server.port(), "GET /known/more HTTP/1.1\r\n\r\n"), 404);
}

TEST(ReceivedRequest, QueryValuesAreDecoded) {
  struct Case {
    const char* target;
    const char* name;
    std::string want;
  };
  const Case cases[] = {
      {"/p?yundanhao=A1&type=html", "yundanhao", "A1"},
      {"/p?yundanhao=A1&type=html", "type", "html"},
      {"/p?yundanhao=%20A1+%d6%d0", "yundanhao", " A1 \xD6\xD0"},
      {"/p?a=1&a=2", "a", "1"},
      {"/p?flag&b=", "flag", ""},
      {"/p?b=", "b", ""},
      {"/p?x=%zz%4", "x", "%zz%4"},
      {"/p", "a", ""},
      {"/p?a=1", "missing", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    ReceivedRequest request;
    request.target = c.target;
    EXPECT_EQ(request.Query(c.name), c.want);
  }
}

TEST(LoopbackServer, AConnectionCanBeClosedUnanswered) {
  LoopbackServer server;
  server.Fallback([](const ReceivedRequest&) { return Reply{.after = Reply::After::kClose}; });
  std::string answer = "unset";
  EXPECT_EQ(RawRequest(server.port(), "GET / HTTP/1.1\r\n\r\n", &answer, 30s), 0);
  EXPECT_EQ(answer, "");
}

TEST(LoopbackServer, AHeldConnectionStaysSilentAndTheServerStillStops) {
  auto server = std::make_unique<LoopbackServer>();
  server->Fallback([](const ReceivedRequest&) { return Reply{.after = Reply::After::kHold}; });
  std::string answer = "unset";
  EXPECT_EQ(RawRequest(server->port(), "GET / HTTP/1.1\r\n\r\n", &answer, 300ms), 0);
  EXPECT_EQ(answer, "");
  // A client that connects and sends nothing does not keep the server from stopping either.
  const Socket idle = ConnectToLoopback(server->port());
  ASSERT_NE(idle, kNoSocket);
  ASSERT_TRUE(server->WaitForRequests(1, 30s));
  server.reset();
  char byte;
  EXPECT_LE(ReceiveSome(idle, &byte, 1, 30000), 0);
  CloseSocket(idle);
}

TEST(LoopbackServer, SendsGeneratedBytesChunksAndWhatTheWriterWrites) {
  LoopbackServer server;
  Reply reply;
  reply.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 1000006\r\n\r\n";
  reply.generatedBytes = 1000000;
  reply.chunks = {"ab", "cd"};
  reply.pauseMs = 10;
  reply.writer = [](Stream& stream) { return stream.Write("ef"); };
  server.Route("/big", reply);
  std::string answer;
  ASSERT_EQ(RawRequest(server.port(), "GET /big HTTP/1.1\r\n\r\n", &answer, 60s), 200);
  const std::string body = BodyOf(answer);
  ASSERT_EQ(body.size(), 1000006u);
  for (std::uint64_t i : {0u, 22u, 23u, 999999u}) EXPECT_EQ(body[i], GeneratedByte(i)) << i;
  EXPECT_EQ(body.substr(1000000), "abcdef");
}

TEST(LoopbackServer, KeepsTheConnectionForTheNextRequest) {
  LoopbackServer server;
  server.Fallback(ReflectReply);
  const Socket client = ConnectToLoopback(server.port());
  ASSERT_NE(client, kNoSocket);
  ASSERT_TRUE(
      SendAll(client, "GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\nConnection: close\r\n\r\n"));
  std::string answers;
  char buffer[4096];
  long got;
  while ((got = ReceiveSome(client, buffer, sizeof buffer, 30000)) > 0) answers.append(buffer, got);
  CloseSocket(client);
  EXPECT_NE(answers.find("GET /1 HTTP/1.1\r\n"), std::string::npos) << answers;
  EXPECT_NE(answers.find("GET /2 HTTP/1.1\r\n"), std::string::npos) << answers;
  EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(LoopbackServer, NothingListensOnAnUnusedPort) {
  const int port = UnusedPort();
  ASSERT_GT(port, 0);
  EXPECT_EQ(ConnectToLoopback(port), kNoSocket);
  EXPECT_EQ(RawRequest(port, "GET / HTTP/1.1\r\n\r\n"), 0);
}

// A program outside the test is told the port before the server starts.
TEST(LoopbackServer, ListensAtTheFixedPortAskedAndFailsWhenItIsTaken) {
  LoopbackServer::Options options;
  options.port = UnusedPort();
  ASSERT_GT(options.port, 0);
  LoopbackServer server(options);
  server.Route("/a", HttpReply(200, "OK", "", "at the port asked"));
  EXPECT_EQ(server.port(), options.port);
  EXPECT_EQ(server.HostPort(), "127.0.0.1:" + std::to_string(options.port));
  std::string answer;
  EXPECT_EQ(RawRequest(options.port, "GET /a HTTP/1.1\r\n\r\n", &answer), 200) << answer;
  EXPECT_EQ(BodyOf(answer), "at the port asked");
  EXPECT_THROW(LoopbackServer{options}, std::runtime_error);
}

// The seam a TLS layer uses: every connection's bytes pass through the wrapping stream.
TEST(LoopbackServer, ConnectionsSpeakThroughTheWrappingStream) {
  class Counting : public Stream {
   public:
    Counting(std::unique_ptr<SocketStream> plain, std::atomic<int>* written)
        : m_plain(std::move(plain)), m_written(written) {}
    long Read(char* data, std::size_t size) override { return m_plain->Read(data, size); }
    bool Write(std::string_view bytes) override {
      *m_written += static_cast<int>(bytes.size());
      return m_plain->Write(bytes);
    }

   private:
    std::unique_ptr<SocketStream> m_plain;
    std::atomic<int>* m_written;
  };
  std::atomic<int> written{0};
  LoopbackServer server({.wrapStream =
                             [&written](std::unique_ptr<SocketStream> plain) {
                               return std::make_unique<Counting>(std::move(plain), &written);
                             },
                         .scheme = "https"});
  server.Route("/", HttpReply(200, "OK", "", "hi"));
  std::string answer;
  EXPECT_EQ(RawRequest(server.port(), "GET / HTTP/1.1\r\n\r\n", &answer), 200);
  EXPECT_EQ(written.load(), static_cast<int>(answer.size()));
  EXPECT_EQ(server.Url("/x"), "https://127.0.0.1:" + std::to_string(server.port()) + "/x");
}

}  // namespace
}  // namespace korvanel::test_support
