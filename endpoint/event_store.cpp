#include "endpoint/event_store.h"

#include <sqlite3.h>

#include "endpoint/gbk.h"
#include "endpoint/tracking_time.h"

namespace korvanel::endpoint {

void SqliteCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void StatementFinalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

namespace {

constexpr const char* kCreateSchema =
    "CREATE TABLE events ("
    "  id INTEGER PRIMARY KEY,"
    "  number TEXT NOT NULL,"
    "  time TEXT NOT NULL,"
    "  text TEXT NOT NULL,"
    "  UNIQUE (number, time, text));"
    "PRAGMA user_version = 1;";

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw StoreError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

SqliteHandle OpenDatabase(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteHandle db(raw);
  if (rc != SQLITE_OK) Fail(db.get(), "cannot open database " + path);
  sqlite3_extended_result_codes(db.get(), 1);
  // The server reads while add or import writes; let either wait briefly for the other.
  sqlite3_busy_timeout(db.get(), 5000);
  return db;
}

StatementHandle Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
    Fail(db, std::string("cannot prepare \"") + sql + "\"");
  return StatementHandle(raw);
}

void Execute(sqlite3* db, const char* sql, const std::string& what) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw StoreError(what + ": " + text);
  }
}

int SingleInt(sqlite3* db, const char* sql, const std::string& what) {
  StatementHandle statement = Prepare(db, sql);
  int rc = sqlite3_step(statement.get());
  if (rc != SQLITE_ROW) Fail(db, what);
  return sqlite3_column_int(statement.get(), 0);
}

// Throws unless the database has this program's schema. An empty database passes when
// allowEmpty is set and reports so through the result.
bool CheckSchema(sqlite3* db, const std::string& path, bool allowEmpty) {
  const std::string reading = "cannot read database " + path;
  int version = SingleInt(db, "PRAGMA user_version", reading);
  if (version == kSchemaVersion) return true;
  if (version > kSchemaVersion)
    throw StoreError(path + " was made by a newer version of tracking-endpoint (schema " +
                     std::to_string(version) + ", this one knows " +
                     std::to_string(kSchemaVersion) + ")");
  int tables = SingleInt(db, "SELECT COUNT(*) FROM sqlite_schema", reading);
  if (tables > 0 || !allowEmpty)
    throw StoreError(
        path + " is not a tracking database" +
        (tables == 0 ? " (it is empty: create one with demo, add or import)" : std::string()));
  return false;
}

bool HasControlBytes(std::string_view text, bool allowTab) {
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && !(allowTab && b == '\t')) || b == 0x7F) return true;
  }
  return false;
}

std::string CheckText(std::string_view text, const char* what, size_t maxBytes, bool allowTab) {
  if (text.empty()) return std::string(what) + " is empty";
  if (!IsValidUtf8(text)) return std::string(what) + " is not valid UTF-8";
  if (HasControlBytes(text, allowTab))
    return std::string(what) + " holds a control character or line break";
  auto gbk = Utf8ToGbk(text);
  if (!gbk) return std::string(what) + " holds a character that code page 936 (GBK) lacks";
  if (gbk->size() > maxBytes)
    return std::string(what) + " is longer than " + std::to_string(maxBytes) + " bytes in GBK";
  return {};
}

}  // namespace

std::string CheckEvent(const TrackingEvent& event) {
  if (auto problem = CheckText(event.number, "the waybill number", kMaxNumberBytes, false);
      !problem.empty())
    return problem;
  if (!IsValidEventTime(event.time))
    return "the time \"" + event.time + "\" is not a real \"YYYY-MM-DD HH:MM:SS\"";
  return CheckText(event.text, "the event text", kMaxEventTextBytes, true);
}

EventStore::EventStore(const std::string& path)
    : m_db(OpenDatabase(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) {
  Execute(m_db.get(), "PRAGMA journal_mode = WAL", "cannot use database " + path);
  Execute(m_db.get(), "BEGIN IMMEDIATE", "cannot lock database " + path);
  try {
    if (!CheckSchema(m_db.get(), path, true))
      Execute(m_db.get(), kCreateSchema, "cannot create the schema in " + path);
    Execute(m_db.get(), "COMMIT", "cannot create the schema in " + path);
  } catch (...) {
    sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

int EventStore::AddEvents(const std::vector<TrackingEvent>& events) {
  for (size_t i = 0; i < events.size(); ++i) {
    std::string problem = CheckEvent(events[i]);
    if (!problem.empty()) throw StoreError("event " + std::to_string(i + 1) + ": " + problem);
  }
  sqlite3* db = m_db.get();
  StatementHandle insert = Prepare(
      db, "INSERT INTO events (number, time, text) VALUES (?1, ?2, ?3) ON CONFLICT DO NOTHING");
  Execute(db, "BEGIN IMMEDIATE", "cannot start writing");
  int added = 0;
  try {
    for (size_t i = 0; i < events.size(); ++i) {
      const TrackingEvent& e = events[i];
      sqlite3_stmt* s = insert.get();
      sqlite3_reset(s);
      sqlite3_bind_text(s, 1, e.number.data(), static_cast<int>(e.number.size()), SQLITE_STATIC);
      sqlite3_bind_text(s, 2, e.time.data(), static_cast<int>(e.time.size()), SQLITE_STATIC);
      sqlite3_bind_text(s, 3, e.text.data(), static_cast<int>(e.text.size()), SQLITE_STATIC);
      if (sqlite3_step(s) != SQLITE_DONE) Fail(db, "cannot write event " + std::to_string(i + 1));
      added += sqlite3_changes(db);
    }
    insert.reset();
    Execute(db, "COMMIT", "cannot commit the events");
  } catch (...) {
    insert.reset();
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return added;
}

int EventStore::EventCount() {
  return SingleInt(m_db.get(), "SELECT COUNT(*) FROM events", "cannot count events");
}

int EventStore::WaybillCount() {
  return SingleInt(m_db.get(), "SELECT COUNT(DISTINCT number) FROM events",
                   "cannot count waybills");
}

EventReader::EventReader(const std::string& path)
    : m_db(OpenDatabase(path, SQLITE_OPEN_READWRITE)) {
  Execute(m_db.get(), "PRAGMA query_only = ON", "cannot use database " + path);
  CheckSchema(m_db.get(), path, false);
  m_select = Prepare(m_db.get(),
                     "SELECT time, text FROM events WHERE number = ?1 ORDER BY time DESC, id DESC");
}

std::vector<StoredEvent> EventReader::EventsOf(std::string_view number) {
  sqlite3_stmt* s = m_select.get();
  sqlite3_reset(s);
  sqlite3_bind_text(s, 1, number.data(), static_cast<int>(number.size()), SQLITE_STATIC);
  std::vector<StoredEvent> events;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    auto column = [s](int i) {
      auto bytes = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
      return std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(s, i)));
    };
    events.push_back({column(0), column(1)});
  }
  std::string error = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(m_db.get());
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  if (!error.empty()) throw StoreError("cannot read events: " + error);
  return events;
}

}  // namespace korvanel::endpoint
