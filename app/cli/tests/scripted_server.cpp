#include "scripted_server.h"

#include <stdexcept>

#include <httplib.h>

namespace korvanel::cli::testing {
namespace {

constexpr const char* kEntryStart =
    "    <li class=\"layui-timeline-item\">\r\n"
    "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
    "    <div class=\"layui-timeline-content layui-text\">\r\n"
    "      <h3 class=\"layui-timeline-title\">";
constexpr const char* kEntryEnd = "</p>\r\n    </div>\r\n  </li>\r\n";

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

ScriptedServer::ScriptedServer() : m_server(std::make_unique<httplib::Server>()) {
  m_server->new_task_queue = [] { return new httplib::ThreadPool(16); };
  m_server->Get("/korvanelapi.php", [this](const httplib::Request& request,
                                           httplib::Response& response) {
    const std::string number = request.get_param_value("yundanhao");
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
    response.status = answer.status;
    if (!answer.retryAfter.empty()) response.set_header("Retry-After", answer.retryAfter);
    response.set_content(answer.body.empty() ? DefaultPage(number) : answer.body, "text/html");
  });
  m_port = m_server->bind_to_any_port("127.0.0.1");
  if (m_port <= 0) throw std::runtime_error("the scripted server could not bind 127.0.0.1");
  m_thread = std::thread([this] { m_server->listen_after_bind(); });
  while (!m_server->is_running()) std::this_thread::yield();
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  m_server->stop();
  m_thread.join();
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

}  // namespace korvanel::cli::testing
