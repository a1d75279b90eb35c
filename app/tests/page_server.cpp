#include "app/tests/page_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <httplib.h>

namespace korvanel::testing {

namespace {

constexpr const char* kNoTimelinePage = "<html><body><p>no such waybill</p></body></html>";

}  // namespace

PageServer::PageServer() : m_server(std::make_unique<httplib::Server>()) {
  m_server->Get("/korvanelapi.php", [this](const httplib::Request& request,
                                           httplib::Response& response) {
    const std::string number = request.get_param_value("yundanhao");
    std::function<void(const std::string&)> hook;
    std::string body = kNoTimelinePage;
    {
      std::lock_guard lock(m_mutex);
      m_targets.push_back(request.target);
      hook = m_beforeAnswer;
      if (auto it = m_pages.find(number); it != m_pages.end()) body = it->second;
    }
    if (hook) hook(number);
    response.set_content(body, "text/html");
  });
  m_port = m_server->bind_to_any_port("127.0.0.1");
  if (m_port <= 0) throw std::runtime_error("the test server could not bind 127.0.0.1");
  m_thread = std::thread([this] { m_server->listen_after_bind(); });
  // The socket already listens; waiting for the accept loop keeps stop() from racing it.
  while (!m_server->is_running()) std::this_thread::yield();
}

PageServer::~PageServer() {
  m_server->stop();
  m_thread.join();
}

std::string PageServer::Host() const { return "127.0.0.1:" + std::to_string(m_port); }

void PageServer::SetPage(const std::string& number, std::string body) {
  std::lock_guard lock(m_mutex);
  m_pages[number] = std::move(body);
}

void PageServer::SetBeforeAnswer(std::function<void(const std::string&)> hook) {
  std::lock_guard lock(m_mutex);
  m_beforeAnswer = std::move(hook);
}

std::vector<std::string> PageServer::Targets() const {
  std::lock_guard lock(m_mutex);
  return m_targets;
}

std::string ReadFixture(const std::string& name) {
  std::ifstream file(std::string(KORVANEL_APP_FIXTURE_DIR) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

}  // namespace korvanel::testing
