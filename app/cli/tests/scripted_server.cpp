#include "scripted_server.h"

#include <algorithm>

namespace korvanel::test_support {
namespace {

constexpr const char* kEntryStart =
    "    <li class=\"layui-timeline-item\">\r\n"
    "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
    "    <div class=\"layui-timeline-content layui-text\">\r\n"
    "      <h3 class=\"layui-timeline-title\">";
constexpr const char* kEntryEnd = "</p>\r\n    </div>\r\n  </li>\r\n";

// The reason phrase an HTTP server gives with the status.
const char* ReasonOf(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 408:
      return "Request Timeout";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "Status";
  }
}

}  // namespace

std::string TimelinePage(const std::vector<std::vector<std::string>>& entries) {
  std::string page =
      "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"gbk\">\r\n"
      "</head>\r\n<body>\r\n<ul class=\"layui-timeline\">\r\n";
  for (const auto& entry : entries) {
    page += kEntryStart;
    page += entry[0] + "&nbsp;&nbsp;" + entry[1] + "</h3>\r\n      <p>\r\n\t\t" + entry[2];
    page += std::string(90, ' ');
    page += kEntryEnd;
  }
  page += "</ul>\r\n</body>\r\n</html>\r\n";
  return page;
}

std::string DefaultPage(const std::string& number) {
  return TimelinePage({{"2025-01-02", "08:00:00", DefaultEvent(number)},
                       {"2025-01-01", "17:30:00", "picked up: " + number}});
}

ScriptedServer::ScriptedServer() {
  m_server.Route("/korvanelapi.php",
                 [this](const ReceivedRequest& request) { return Respond(request); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
}

Reply ScriptedServer::Respond(const ReceivedRequest& request) {
  const std::string number = request.Query("yundanhao");
  Answer answer;
  std::unique_lock lock(m_mutex);
  const int turn = static_cast<int>(m_arrivals[number].size());
  m_arrivals[number].push_back(std::chrono::steady_clock::now());
  ++m_total;
  m_mostInFlight = std::max(m_mostInFlight, ++m_inFlight);
  if (auto it = m_scripts.find(number); it != m_scripts.end() && !it->second.empty()) {
    answer =
        it->second[std::min<std::size_t>(static_cast<std::size_t>(turn), it->second.size() - 1)];
  } else {
    answer.delay = m_defaultDelay;
  }
  m_changed.notify_all();
  // A delayed answer gives way when the server stops, so a test never waits it out.
  m_changed.wait_for(lock, answer.delay, [this] { return m_stopping; });
  --m_inFlight;
  lock.unlock();
  const std::string retryAfter =
      answer.retryAfter.empty() ? "" : "Retry-After: " + answer.retryAfter + "\r\n";
  return HttpReply(answer.status, ReasonOf(answer.status),
                   retryAfter + "Content-Type: text/html\r\n",
                   answer.body.empty() ? DefaultPage(number) : answer.body);
}

void ScriptedServer::Script(const std::string& number, std::vector<Answer> answers) {
  std::lock_guard lock(m_mutex);
  m_scripts[number] = std::move(answers);
}

void ScriptedServer::SetDefaultDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(m_mutex);
  m_defaultDelay = delay;
}

int ScriptedServer::RequestsFor(const std::string& number) const {
  std::lock_guard lock(m_mutex);
  auto it = m_arrivals.find(number);
  return it == m_arrivals.end() ? 0 : static_cast<int>(it->second.size());
}

int ScriptedServer::TotalRequests() const {
  std::lock_guard lock(m_mutex);
  return m_total;
}

int ScriptedServer::MostInFlight() const {
  std::lock_guard lock(m_mutex);
  return m_mostInFlight;
}

std::vector<std::chrono::steady_clock::time_point> ScriptedServer::ArrivalsFor(
    const std::string& number) const {
  std::lock_guard lock(m_mutex);
  auto it = m_arrivals.find(number);
  return it == m_arrivals.end() ? std::vector<std::chrono::steady_clock::time_point>{} : it->second;
}

bool ScriptedServer::WaitForRequests(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_total >= count; });
}

}  // namespace korvanel::test_support
