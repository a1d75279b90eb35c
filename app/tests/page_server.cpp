#include "app/tests/page_server.h"

#include "tests/support/temp_dir.h"

namespace korvanel::test_support {

namespace {

constexpr const char* kNoTimelinePage = "<html><body><p>no such waybill</p></body></html>";

LoopbackServer::Options AtPort(int port) {
  LoopbackServer::Options options;
  options.port = port;
  return options;
}

}  // namespace

PageServer::PageServer(int port) : m_server(AtPort(port)) {
  m_server.Route("/korvanelapi.php",
                 [this](const ReceivedRequest& request) { return Answer(request); });
}

Reply PageServer::Answer(const ReceivedRequest& request) {
  const std::string number = request.Query("yundanhao");
  std::function<void(const std::string&)> hook;
  std::string body = kNoTimelinePage;
  {
    std::lock_guard lock(m_mutex);
    hook = m_beforeAnswer;
    if (auto it = m_pages.find(number); it != m_pages.end()) body = it->second;
  }
  if (hook) hook(number);
  return HttpReply(200, "OK", "Content-Type: text/html\r\n", body);
}

void PageServer::SetPage(const std::string& number, std::string body) {
  std::lock_guard lock(m_mutex);
  m_pages[number] = std::move(body);
}

void PageServer::SetBeforeAnswer(std::function<void(const std::string&)> hook) {
  std::lock_guard lock(m_mutex);
  m_beforeAnswer = std::move(hook);
}

std::vector<std::string> PageServer::Targets() const {
  std::vector<std::string> targets;
  for (const ReceivedRequest& request : m_server.Requests()) targets.push_back(request.target);
  return targets;
}

std::vector<std::string> PageServer::Numbers() const {
  std::vector<std::string> numbers;
  for (const ReceivedRequest& request : m_server.Requests()) {
    numbers.push_back(request.Query("yundanhao"));
  }
  return numbers;
}

std::string ReadFixture(const std::string& name) {
  return ReadFile(std::string(KORVANEL_APP_FIXTURE_DIR) + "/" + name);
}

}  // namespace korvanel::test_support
