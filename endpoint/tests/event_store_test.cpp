#include "endpoint/event_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "endpoint/csv_import.h"
#include "endpoint/demo_data.h"
#include "endpoint/gbk.h"
#include "endpoint/tracking_time.h"
#include "tests/support/temp_dir.h"

namespace korvanel::endpoint {
namespace {

using test_support::TempDir;

int QueryInt(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* statement = nullptr;
  int value = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    value = sqlite3_column_int(statement, 0);
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return value;
}

void ExecuteSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(EventTime, AcceptsOnlyRealTimesInTheOneFormat) {
  const char* good[] = {"2025-03-10 08:15:00", "2024-02-29 23:59:59", "2000-02-29 00:00:00",
                        "0001-01-01 00:00:00"};
  const char* bad[] = {"",
                       "2025-03-10",
                       "2025-03-10 8:15:00",
                       "2025-03-10T08:15:00",
                       "2025/03/10 08:15:00",
                       "2025-03-10 08:15:00 ",
                       " 2025-03-10 08:15:00",
                       "2025-13-10 08:15:00",
                       "2025-00-10 08:15:00",
                       "2025-04-31 08:15:00",
                       "2023-02-29 08:15:00",
                       "1900-02-29 08:15:00",
                       "2025-03-10 24:00:00",
                       "2025-03-10 23:60:00",
                       "2025-03-10 23:59:60",
                       "2025-03-1a 08:15:00",
                       "+025-03-10 08:15:00"};
  for (const char* t : good) EXPECT_TRUE(IsValidEventTime(t)) << t;
  for (const char* t : bad) EXPECT_FALSE(IsValidEventTime(t)) << t;
}

TEST(EventCheck, RejectsEventsThatCannotBeServed) {
  struct Case {
    const char* why;
    TrackingEvent event;
  };
  const Case bad[] = {
      {"empty number", {"", "2025-03-10 08:15:00", "x"}},
      {"number over 64 bytes", {std::string(65, '1'), "2025-03-10 08:15:00", "x"}},
      {"number over 64 GBK bytes",
       {std::string(11, '1') +
            [] {
              std::string s;
              for (int i = 0; i < 27; ++i) s += "\xE6\xB5\x8B";  // 11 + 54 = 65 GBK bytes
              return s;
            }(),
        "2025-03-10 08:15:00", "x"}},
      {"number with a line break", {"SF\n1", "2025-03-10 08:15:00", "x"}},
      {"number with a tab", {"SF\t1", "2025-03-10 08:15:00", "x"}},
      {"bad time", {"SF1", "2025-02-30 08:15:00", "x"}},
      {"empty text", {"SF1", "2025-03-10 08:15:00", ""}},
      {"text with a line break", {"SF1", "2025-03-10 08:15:00", "a\r\nb"}},
      {"text not UTF-8", {"SF1", "2025-03-10 08:15:00", "\xB2\xE2"}},
      {"text without a GBK form", {"SF1", "2025-03-10 08:15:00", "\xF0\x9F\x93\xA6"}},
      {"text over 1000 bytes", {"SF1", "2025-03-10 08:15:00", std::string(1001, 'x')}},
  };
  for (const Case& c : bad) EXPECT_NE(CheckEvent(c.event), "") << c.why;
  EXPECT_EQ(CheckEvent({" SF1 ", "2025-03-10 08:15:00", "\xE6\xB5\x8B\tok"}), "");
  EXPECT_EQ(CheckEvent({std::string(64, '1'), "2025-03-10 08:15:00", std::string(1000, 'x')}), "");
}

TEST(EventStore, CreatesAVersionedWalDatabase) {
  TempDir dir;
  const std::string db = dir.File("events.db");
  { EventStore store(db); }
  EXPECT_EQ(QueryInt(db, "PRAGMA user_version"), kSchemaVersion);
  sqlite3* raw = nullptr;
  sqlite3_open(db.c_str(), &raw);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(raw, "PRAGMA journal_mode", -1, &statement, nullptr);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "wal");
  sqlite3_finalize(statement);
  sqlite3_close(raw);
  // Opening it again keeps what is there.
  EventStore store(db);
  EXPECT_EQ(store.AddEvents({{"SF1", "2025-03-10 08:15:00", "a"}}), 1);
  EventStore again(db);
  EXPECT_EQ(again.EventCount(), 1);
}

TEST(EventStore, RefusesDatabasesThatAreNotItsOwn) {
  TempDir dir;
  const std::string newer = dir.File("newer.db");
  { EventStore store(newer); }
  ExecuteSql(newer, "PRAGMA user_version = 2");
  const std::string foreign = dir.File("foreign.db");
  ExecuteSql(foreign, "CREATE TABLE t (x)");
  const std::string notSqlite = dir.Write("notes.db", std::string(4096, 'z'));
  for (const std::string& path : {newer, foreign, notSqlite}) {
    SCOPED_TRACE(path);
    EXPECT_THROW(EventStore{path}, StoreError);
    EXPECT_THROW(EventReader{path}, StoreError);
  }
  EXPECT_THROW(EventReader{dir.File("missing.db")}, StoreError);
  { EventStore empty(dir.File("fresh.db")); }
  EXPECT_EQ(QueryInt(foreign, "SELECT COUNT(*) FROM sqlite_schema"), 1);  // left untouched
}

TEST(EventStore, ReadsEventsNewestFirstAndKeepsDuplicatesOnce) {
  TempDir dir;
  const std::string db = dir.File("events.db");
  EventStore store(db);
  EXPECT_EQ(store.AddEvents({{"SF1", "2025-03-10 08:15:00", "picked up"},
                             {"SF1", "2025-03-12 16:42:10", "delivered"},
                             {"SF1", "2025-03-11 09:00:00", "first at nine"},
                             {"SF1", "2025-03-11 09:00:00", "second at nine"},
                             {" SF1 ", "2025-03-13 00:00:00", "spaced"},
                             {"SF1", "2025-03-10 08:15:00", "picked up"}}),
            5);
  EventReader reader(db);
  std::vector<StoredEvent> events = reader.EventsOf("SF1");
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].text, "delivered");
  EXPECT_EQ(events[1].text, "second at nine");
  EXPECT_EQ(events[2].text, "first at nine");
  EXPECT_EQ(events[3].time, "2025-03-10 08:15:00");
  EXPECT_EQ(reader.EventsOf(" SF1 ").size(), 1u);
  EXPECT_TRUE(reader.EventsOf("SF").empty());
  EXPECT_TRUE(reader.EventsOf("sf1").empty());
  EXPECT_TRUE(reader.EventsOf("SF1' OR '1'='1").empty());
  EXPECT_EQ(store.WaybillCount(), 2);
}

TEST(EventStore, WritesNothingWhenOneEventIsBad) {
  TempDir dir;
  const std::string db = dir.File("events.db");
  EventStore store(db);
  store.AddEvents({{"SF0", "2025-03-01 00:00:00", "before"}});
  try {
    store.AddEvents({{"SF1", "2025-03-10 08:15:00", "good"},
                     {"SF2", "2025-03-10 08:15:00", "good"},
                     {"SF3", "2025-03-10 25:15:00", "bad time"}});
    FAIL() << "the bad event was accepted";
  } catch (const StoreError& e) {
    EXPECT_NE(std::string(e.what()).find("event 3"), std::string::npos) << e.what();
  }
  EXPECT_EQ(store.EventCount(), 1);
}

TEST(EventStore, DemoEventsAreAllValid) {
  TempDir dir;
  EventStore store(dir.File("demo.db"));
  std::vector<TrackingEvent> events = DemoEvents();
  EXPECT_EQ(store.AddEvents(events), static_cast<int>(events.size()));
  EXPECT_EQ(store.AddEvents(events), 0);  // running the demo twice adds nothing
  EXPECT_EQ(store.WaybillCount(), static_cast<int>(DemoNumbers().size()));
  EXPECT_GE(DemoNumbers().size(), 25u);
}

// samples/waybills.txt is what a user loads into the desktop tool to try the demo: every
// demo number, two unknown numbers and one empty line, GBK with CR LF line ends.
TEST(DemoData, SampleWaybillListHoldsEveryDemoNumber) {
  std::ifstream file(std::string(KORVANEL_SOURCE_DIR) + "/samples/waybills.txt", std::ios::binary);
  ASSERT_TRUE(file.good());
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line without CR LF";
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  std::vector<std::string> demo = DemoNumbers();
  size_t empty = 0, unknown = 0, known = 0;
  for (const std::string& line : lines) {
    ASSERT_EQ(line.find('\n'), std::string::npos);
    auto utf8 = GbkToUtf8(line);
    ASSERT_TRUE(utf8) << line;
    if (line.empty()) {
      ++empty;
    } else if (std::find(demo.begin(), demo.end(), *utf8) != demo.end()) {
      ++known;
    } else {
      ++unknown;
    }
  }
  EXPECT_EQ(empty, 1u);
  EXPECT_EQ(unknown, 2u);
  EXPECT_EQ(known, demo.size());
}

TEST(EventsCsv, ReadsCommonFileForms) {
  struct Case {
    const char* name;
    std::string data;
    InputEncoding encoding;
    std::vector<TrackingEvent> expected;
  };
  const TrackingEvent a{"SF1", "2025-03-10 08:15:00", "picked up"};
  const TrackingEvent b{" SF2 ", "2025-03-11 09:00:00", "at \"hub\", north"};
  const TrackingEvent chinese{"SF3", "2025-03-12 10:00:00", "\xE6\xB5\x8B\xE8\xAF\x95"};
  const Case cases[] = {
      {"LF lines", "SF1,2025-03-10 08:15:00,picked up\n", InputEncoding::kUtf8, {a}},
      {"CR LF and no final line end",
       "SF1,2025-03-10 08:15:00,picked up\r\n\" SF2 \",2025-03-11 09:00:00,\"at \"\"hub\"\", "
       "north\"",
       InputEncoding::kUtf8,
       {a, b}},
      {"header, blank lines and a byte-order mark",
       "\xEF\xBB\xBFnumber,time,text\r\n\r\nSF1,2025-03-10 08:15:00,picked up\r\n \r\n",
       InputEncoding::kUtf8,
       {a}},
      {"spaces kept in an unquoted number",
       " SF2 ,2025-03-11 09:00:00,\"at \"\"hub\"\", north\"\n",
       InputEncoding::kUtf8,
       {b}},
      {"UTF-8 text",
       "SF3,2025-03-12 10:00:00,\xE6\xB5\x8B\xE8\xAF\x95\n",
       InputEncoding::kUtf8,
       {chinese}},
      {"GBK text", "SF3,2025-03-12 10:00:00,\xB2\xE2\xCA\xD4\n", InputEncoding::kGbk, {chinese}},
      {"empty file", "", InputEncoding::kUtf8, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TrackingEvent> events = ParseEventsCsv(c.data, c.encoding);
    ASSERT_EQ(events.size(), c.expected.size());
    for (size_t i = 0; i < events.size(); ++i) {
      EXPECT_EQ(events[i].number, c.expected[i].number);
      EXPECT_EQ(events[i].time, c.expected[i].time);
      EXPECT_EQ(events[i].text, c.expected[i].text);
    }
  }
}

TEST(EventsCsv, NamesTheFirstBadLine) {
  struct Case {
    const char* name;
    std::string data;
    InputEncoding encoding;
    const char* line;
  };
  const std::string good = "SF1,2025-03-10 08:15:00,ok\r\n";
  const Case cases[] = {
      {"two columns", good + "SF2,2025-03-10 08:15:00\r\n", InputEncoding::kUtf8, "line 2:"},
      {"four columns", good + good + "SF2,2025-03-10 08:15:00,a,b\r\n", InputEncoding::kUtf8,
       "line 3:"},
      {"bad time", "number,time,text\nSF2,2025-3-10 08:15:00,a\n", InputEncoding::kUtf8, "line 2:"},
      {"unclosed quote", good + "SF2,2025-03-10 08:15:00,\"a\n\"\n", InputEncoding::kUtf8,
       "line 2:"},
      {"stray quote", good + "SF2,2025-03-10 08:15:00,a\"b\n", InputEncoding::kUtf8, "line 2:"},
      {"text after a closing quote", "SF2,2025-03-10 08:15:00,\"a\"b\n", InputEncoding::kUtf8,
       "line 1:"},
      {"GBK bytes read as UTF-8", good + "SF3,2025-03-12 10:00:00,\xB2\xE2\xCA\xD4\n",
       InputEncoding::kUtf8, "line 2:"},
      {"bad GBK", good + "SF3,2025-03-12 10:00:00,\xB2\n", InputEncoding::kGbk, "line 2:"},
      {"NUL byte", good + std::string("SF\0,2025-03-12 10:00:00,a\n", 26), InputEncoding::kUtf8,
       "line 2:"},
      {"empty text", good + "SF2,2025-03-10 08:15:00,\n", InputEncoding::kUtf8, "line 2:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ParseEventsCsv(c.data, c.encoding);
      ADD_FAILURE() << "accepted";
    } catch (const ImportError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.line, 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace korvanel::endpoint
