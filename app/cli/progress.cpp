#include "app/cli/progress.h"

#include <cstdio>

#include "app/cli/standard_stream.h"

namespace korvanel::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Back to the start of the line and clear it, so a shorter line leaves nothing behind.
constexpr std::string_view kClearLine = "\r\x1b[K";

std::string Duration(std::chrono::seconds seconds) {
  const long long total = seconds.count();
  char buffer[32];
  if (total >= 3600) {
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", total / 60, total % 60);
  }
  return buffer;
}

}  // namespace

std::string ProgressLine(std::size_t done, std::size_t total, std::chrono::milliseconds elapsed) {
  std::string line = std::to_string(done) + "/" + std::to_string(total) + " rows";
  if (done > 0 && elapsed.count() > 0) {
    const double rate = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsed.count());
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "  %.1f/s", rate);
    line += buffer;
    if (done < total) {
      const auto left = std::chrono::seconds(
          static_cast<long long>(static_cast<double>(total - done) / rate + 0.5));
      line += "  ETA " + Duration(left);
    }
  }
  return line;
}

ProgressDisplay::ProgressDisplay(int fd, bool show, std::size_t total)
    : m_fd(fd), m_show(show), m_total(total), m_start(std::chrono::steady_clock::now()) {
  std::lock_guard lock(m_mutex);
  DrawLocked(true);
}

ProgressDisplay::~ProgressDisplay() { Finish(); }

void ProgressDisplay::Update(std::size_t done) {
  std::lock_guard lock(m_mutex);
  m_done = done;
  DrawLocked(done == m_total);
}

void ProgressDisplay::Tick() {
  std::lock_guard lock(m_mutex);
  DrawLocked(false);
}

void ProgressDisplay::Message(std::string_view line) {
  std::lock_guard lock(m_mutex);
  std::string bytes;
  if (m_drawn) bytes += kClearLine;
  bytes += line;
  bytes += '\n';
  WriteLocked(bytes);
  m_drawn = false;
  DrawLocked(true);
}

bool ProgressDisplay::WriteAbove(int fd, std::string_view bytes, std::string* error) {
  std::lock_guard lock(m_mutex);
  if (m_drawn) WriteLocked(kClearLine);
  m_drawn = false;
  const bool ok = WriteAll(fd, bytes, error);
  DrawLocked(true);
  return ok;
}

void ProgressDisplay::Finish() {
  std::lock_guard lock(m_mutex);
  if (m_drawn) WriteLocked(kClearLine);
  m_drawn = false;
  m_finished = true;
}

void ProgressDisplay::DrawLocked(bool force) {
  if (!m_show || m_finished) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && m_drawn && now - m_lastDraw < kRedrawInterval) return;
  m_lastDraw = now;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_start);
  WriteLocked(std::string(kClearLine) + ProgressLine(m_done, m_total, elapsed));
  m_drawn = true;
}

void ProgressDisplay::WriteLocked(std::string_view bytes) {
  // A closed or full standard error is no reason to stop.
  WriteAll(m_fd, bytes, nullptr);
}

}  // namespace korvanel::cli
