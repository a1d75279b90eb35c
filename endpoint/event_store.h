// The SQLite database of tracking events.
//
// One table of events keyed by waybill number; a number is known when it has at least one
// event. Text is stored as UTF-8, so the database reads correctly in any SQLite tool; the
// server converts it to code page 936 when it writes a page. The schema version is kept in
// PRAGMA user_version and the database runs in WAL mode, so a server can keep reading while
// events are added.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace korvanel::endpoint {

inline constexpr int kSchemaVersion = 1;
// Limits counted in code page 936 bytes, the form the desktop tool holds a number in.
inline constexpr size_t kMaxNumberBytes = 64;
inline constexpr size_t kMaxEventTextBytes = 1000;

struct TrackingEvent {
  std::string number;  // UTF-8, kept exactly: spaces around it are part of the number
  std::string time;    // "YYYY-MM-DD HH:MM:SS"
  std::string text;    // UTF-8
};

struct StoredEvent {
  std::string time;
  std::string text;  // UTF-8
};

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Empty when the event may be stored; otherwise a short English sentence saying why not.
// A number is 1 to 64 bytes in code page 936 without control characters; the time is
// "YYYY-MM-DD HH:MM:SS"; the text is one line of 1 to 1000 bytes in code page 936. Both
// must be valid UTF-8 with a code page 936 form, since pages are served in that code page.
std::string CheckEvent(const TrackingEvent& event);

struct SqliteCloser {
  void operator()(sqlite3* db) const;
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const;
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The writing side, used by the demo, add and import commands.
class EventStore {
 public:
  // Opens path, creating the file and the schema when it does not exist yet. Throws
  // StoreError for a file that is not a tracking database or has a newer schema.
  explicit EventStore(const std::string& path);

  // Every event in one transaction: when any event is invalid or a write fails, nothing is
  // written and StoreError names the event (1-based). An event already recorded (same number,
  // time and text) is kept once. Returns how many events were new.
  int AddEvents(const std::vector<TrackingEvent>& events);

  int EventCount();
  int WaybillCount();

 private:
  SqliteHandle m_db;
};

// The reading side: one per server thread at a time, with its statement prepared once.
class EventReader {
 public:
  // Opens an existing tracking database for reading; throws StoreError when there is none.
  explicit EventReader(const std::string& path);

  // The number's events, newest first (events of the same time: the later recorded first);
  // empty when the number is unknown. Throws StoreError when the database cannot be read.
  std::vector<StoredEvent> EventsOf(std::string_view number);

 private:
  SqliteHandle m_db;
  StatementHandle m_select;
};

}  // namespace korvanel::endpoint
