// Progress on standard error for a person watching: rows done of total, rate and time left,
// redrawn in place on one line. Messages about single rows go through the same object so
// they never land in the middle of the progress line.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

namespace korvanel::cli {

// "  37/1000 rows  12.5/s  ETA 1:17"; the rate and time left appear once a row is done.
std::string ProgressLine(std::size_t done, std::size_t total, std::chrono::milliseconds elapsed);

class ProgressDisplay {
 public:
  // fd is where lines go; show is false when the progress line is not wanted (not a terminal,
  // or --quiet): messages are still written.
  ProgressDisplay(int fd, bool show, std::size_t total);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // Records that done rows are finished and redraws, at most a few times a second.
  void Update(std::size_t done);
  // Redraws if due (the rate and time left move on while nothing finishes).
  void Tick();
  // Writes one line of its own above the progress line.
  void Message(std::string_view line);
  // Writes bytes to another descriptor that shows on the same screen (standard output on a
  // terminal) with the progress line out of their way; false with *error when they could not
  // be written.
  bool WriteAbove(int fd, std::string_view bytes, std::string* error);
  // Takes the progress line off the screen; later Updates do nothing.
  void Finish();

 private:
  void DrawLocked(bool force);
  void WriteLocked(std::string_view bytes);

  std::mutex m_mutex;
  int m_fd;
  bool m_show;
  bool m_finished = false;
  std::size_t m_total;
  std::size_t m_done = 0;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_lastDraw;
  bool m_drawn = false;
};

}  // namespace korvanel::cli
