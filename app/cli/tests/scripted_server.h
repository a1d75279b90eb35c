// A stand-in for the tracking endpoint whose answers the test scripts per waybill number:
// statuses, Retry-After, delays. Numbers without a script get a two-entry tracking page whose
// latest event names the number. Listens on 127.0.0.1 on a port the system picks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"

namespace korvanel::test_support {

// A tracking page in the endpoint's timeline layout, newest entry first. Entries are
// {date, time, event}; texts are code page 936.
std::string TimelinePage(const std::vector<std::vector<std::string>>& entries);
// The page the server gives a number without a script, and the cells it yields.
std::string DefaultPage(const std::string& number);
inline constexpr const char* kDefaultTime = "2025-01-02  08:00:00";
inline std::string DefaultEvent(const std::string& number) { return "arrived: " + number; }

class ScriptedServer {
 public:
  struct Answer {
    int status = 200;
    std::string body;  // empty: DefaultPage
    std::string retryAfter;
    std::chrono::milliseconds delay{0};
  };

  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::string Host() const { return m_server.HostPort(); }

  // Answers for a number's requests in turn; the last one repeats.
  void Script(const std::string& number, std::vector<Answer> answers);
  // The delay of every answer that has no script.
  void SetDefaultDelay(std::chrono::milliseconds delay);

  int RequestsFor(const std::string& number) const;
  int TotalRequests() const;
  int MostInFlight() const;
  // When each request for number arrived, in order.
  std::vector<std::chrono::steady_clock::time_point> ArrivalsFor(const std::string& number) const;
  // Waits until count requests have arrived; false after timeout.
  bool WaitForRequests(int count, std::chrono::milliseconds timeout) const;

 private:
  test_support::Reply Respond(const ReceivedRequest& request);

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_stopping = false;
  std::map<std::string, std::vector<Answer>> m_scripts;
  std::map<std::string, std::vector<std::chrono::steady_clock::time_point>> m_arrivals;
  std::chrono::milliseconds m_defaultDelay{0};
  int m_total = 0;
  int m_inFlight = 0;
  int m_mostInFlight = 0;
  // Last, so it stops before the scripts and counts its connections use are gone.
  LoopbackServer m_server;
};

inline ScriptedServer::Answer Answer(
    int status, std::string body = "", std::string retryAfter = "",
    std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
  return {status, std::move(body), std::move(retryAfter), delay};
}

}  // namespace korvanel::test_support
