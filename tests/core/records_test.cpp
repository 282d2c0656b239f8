// Calibration records: the SQLite store (always), the PostgreSQL store and its
// local queue (against the server scripts/with-postgres starts; skipped when
// VARNEL_TEST_POSTGRES is not set), and the recorder.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "core/support/TempFiles.h"
#include "data/RadioInfo.h"
#include "data/TunerImage.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"

namespace fs = std::filesystem;
using namespace varnel;

namespace {

using varnel::test::TempDir;

CalibrationRecord Sample(const std::string& serial, const std::string& event, int item = -1) {
    CalibrationRecord r;
    r.uid = NewRecordUid();
    r.session = "session-1";
    r.recordedAt = "2026-12-09T10:00:00.000Z";
    r.station = "line-station-3";
    r.operatorName = "kim";
    r.modelName = "VR-7200";
    r.firmware = "V2.3";
    r.modelCode = 5;
    r.modelVariant = 1;
    r.serial = serial;
    r.event = event;
    r.item = item;
    r.band = item < 0 ? -1 : 0;
    r.point = item < 0 ? -1 : 3;
    r.oldValue = item < 0 ? -1 : 20;
    r.newValue = item < 0 ? -1 : 77;
    r.imageAtEntry.assign(848, 0x11);
    r.imageNow.assign(848, 0x22);
    r.imageNow[118] = 77;
    r.detail = "a, \"quoted\" note";
    return r;
}

void ExpectSameRecord(const CalibrationRecord& a, const CalibrationRecord& b) {
    EXPECT_EQ(a.uid, b.uid);
    EXPECT_EQ(a.session, b.session);
    EXPECT_EQ(a.recordedAt, b.recordedAt);
    EXPECT_EQ(a.station, b.station);
    EXPECT_EQ(a.operatorName, b.operatorName);
    EXPECT_EQ(a.modelName, b.modelName);
    EXPECT_EQ(a.firmware, b.firmware);
    EXPECT_EQ(a.modelCode, b.modelCode);
    EXPECT_EQ(a.modelVariant, b.modelVariant);
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.event, b.event);
    EXPECT_EQ(a.item, b.item);
    EXPECT_EQ(a.band, b.band);
    EXPECT_EQ(a.point, b.point);
    EXPECT_EQ(a.oldValue, b.oldValue);
    EXPECT_EQ(a.newValue, b.newValue);
    EXPECT_EQ(a.imageAtEntry, b.imageAtEntry);
    EXPECT_EQ(a.imageNow, b.imageNow);
    EXPECT_EQ(a.detail, b.detail);
}

// Round trip, duplicates and filters: the same checks for every back end.
void ExerciseStore(RecordStore& store) {
    EXPECT_EQ(store.SchemaVersion(), 2);
    const std::string serial = "SN-" + NewRecordUid();
    CalibrationRecord first = Sample(serial, record_event::kEnter);
    ASSERT_TRUE(store.Append(first).ok());
    EXPECT_GT(first.id, 0);
    CalibrationRecord change = Sample(serial, record_event::kLiveChange, 10);
    ASSERT_TRUE(store.Append(change).ok());
    EXPECT_GT(change.id, first.id);
    CalibrationRecord other = Sample("SN-other-" + NewRecordUid(), record_event::kEnter);
    other.imageAtEntry.clear();
    ASSERT_TRUE(store.Append(other).ok());

    // The same uid again is not a second record.
    CalibrationRecord again = change;
    again.id = 0;
    ASSERT_TRUE(store.Append(again).ok());
    EXPECT_EQ(again.id, change.id);

    RecordFilter bySerial;
    bySerial.serial = serial;
    auto history = store.List(bySerial);
    ASSERT_TRUE(history.ok()) << history.error().Text();
    ASSERT_EQ(history->size(), 2u);
    ExpectSameRecord((*history)[0], first);
    ExpectSameRecord((*history)[1], change);

    bySerial.event = record_event::kLiveChange;
    auto changes = store.List(bySerial);
    ASSERT_TRUE(changes.ok());
    ASSERT_EQ(changes->size(), 1u);
    EXPECT_EQ((*changes)[0].newValue, 77);

    auto got = store.Get(other.id);
    ASSERT_TRUE(got.ok());
    ExpectSameRecord(*got, other);
    EXPECT_TRUE(got->imageAtEntry.empty());
    auto missing = store.Get(999999999);
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code(), ErrorCode::NotFound);
}

// Two stations of a line write at the same time, each with its own connection.
void TwoStationsAtOnce(const std::function<std::unique_ptr<RecordStore>()>& open) {
    const std::string serial = "SN-pair-" + NewRecordUid();
    constexpr int kEach = 40;
    std::atomic<int> failures{0};
    const auto station = [&](const char* name) {
        auto store = open();
        if (!store) {
            failures += kEach;
            return;
        }
        for (int i = 0; i < kEach; ++i) {
            CalibrationRecord r = Sample(serial, record_event::kLiveChange, 10);
            r.station = name;
            r.newValue = i;
            if (!store->Append(r).ok()) ++failures;
        }
    };
    std::thread a(station, "station-a"), b(station, "station-b");
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    auto store = open();
    ASSERT_TRUE(store);
    RecordFilter filter;
    filter.serial = serial;
    auto all = store->List(filter);
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(all->size(), 2u * kEach);
    std::set<std::string> uids;
    int fromA = 0;
    for (const auto& r : *all) {
        uids.insert(r.uid);
        fromA += r.station == "station-a";
    }
    EXPECT_EQ(uids.size(), 2u * kEach);
    EXPECT_EQ(fromA, kEach);
}

const char* PostgresUrl() {
    const char* url = std::getenv("VARNEL_TEST_POSTGRES");
    return url && *url ? url : nullptr;
}

}  // namespace

TEST(SqliteRecords, StoresAndListsRecords) {
    TempDir dir;
    auto store = OpenSqliteStore(dir.path() / "sub" / "records.sqlite");
    ASSERT_TRUE(store.ok()) << store.error().Text();
    ExerciseStore(**store);
}

TEST(SqliteRecords, KeepsRecordsAcrossReopen) {
    TempDir dir;
    const fs::path file = dir.path() / "records.sqlite";
    CalibrationRecord r = Sample("SN-1", record_event::kBackup);
    {
        auto store = OpenSqliteStore(file);
        ASSERT_TRUE(store.ok());
        ASSERT_TRUE((*store)->Append(r).ok());
    }
    auto store = OpenSqliteStore(file);
    ASSERT_TRUE(store.ok());
    auto all = (*store)->List({});
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(all->size(), 1u);
    ExpectSameRecord((*all)[0], r);
}

TEST(SqliteRecords, UpgradesAFileOfTheFirstSchema) {
    TempDir dir;
    const fs::path file = dir.path() / "old.sqlite";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
        const char* v1 =
            "CREATE TABLE schema_migrations (version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL);"
            "INSERT INTO schema_migrations VALUES (1, '2026-01-01T00:00:00.000Z');"
            "CREATE TABLE calibration_record (id INTEGER PRIMARY KEY AUTOINCREMENT, uid TEXT NOT NULL UNIQUE,"
            " session TEXT NOT NULL DEFAULT '', recorded_at TEXT NOT NULL, station TEXT NOT NULL,"
            " operator TEXT NOT NULL, model_name TEXT NOT NULL, firmware TEXT NOT NULL,"
            " model_code INTEGER NOT NULL, model_variant INTEGER NOT NULL, serial TEXT NOT NULL DEFAULT '',"
            " event TEXT NOT NULL, item INTEGER, band INTEGER, point INTEGER, old_value INTEGER,"
            " new_value INTEGER, image_at_entry BLOB, image_now BLOB, detail TEXT NOT NULL DEFAULT '');"
            "INSERT INTO calibration_record (uid, recorded_at, station, operator, model_name, firmware,"
            " model_code, model_variant, serial, event) VALUES ('u-1', '2026-01-01T00:00:00.000Z', 's', 'o',"
            " 'VR-7200', 'V2.1', 4, 0, 'SN-OLD', 'enter');";
        ASSERT_EQ(sqlite3_exec(db, v1, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    auto store = OpenSqliteStore(file);
    ASSERT_TRUE(store.ok()) << store.error().Text();
    EXPECT_EQ((*store)->SchemaVersion(), 2);
    RecordFilter filter;
    filter.serial = "SN-OLD";
    auto old = (*store)->List(filter);
    ASSERT_TRUE(old.ok());
    ASSERT_EQ(old->size(), 1u);
    EXPECT_EQ((*old)[0].item, -1);
    EXPECT_EQ((*old)[0].firmware, "V2.1");
    // The index of migration 2 exists.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM sqlite_master WHERE type='index' AND name='calibration_record_serial'",
                       -1, &q, nullptr);
    ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(q, 0), 1);
    sqlite3_finalize(q);
    sqlite3_close(db);
}

TEST(SqliteRecords, TwoStationsWriteAtOnce) {
    TempDir dir;
    const fs::path file = dir.path() / "shared.sqlite";
    TwoStationsAtOnce([&]() -> std::unique_ptr<RecordStore> {
        auto s = OpenSqliteStore(file);
        return s ? std::move(*s) : nullptr;
    });
}

TEST(SqliteRecords, RefusesAFileThatIsNoDatabase) {
    TempDir dir;
    const fs::path file = dir.path() / "text.sqlite";
    { std::FILE* f = std::fopen(file.string().c_str(), "wb"); std::fputs("this is not a database at all, just text\n", f); std::fclose(f); }
    auto store = OpenSqliteStore(file);
    ASSERT_FALSE(store.ok());
    EXPECT_EQ(store.error().code(), ErrorCode::Database);
    EXPECT_NE(store.error().Text().find(file.string()), std::string::npos) << store.error().Text();
}

TEST(RecordsCsv, QuotesFieldsAndWritesImagesInHex) {
    CalibrationRecord r = Sample("SN-9", record_event::kLiveChange, 70);
    r.id = 12;
    r.imageAtEntry = {0x0A, 0xFF};
    r.imageNow = {};
    const std::string csv = RecordsToCsv({r});
    const auto eol = csv.find("\r\n");
    ASSERT_NE(eol, std::string::npos);
    EXPECT_EQ(csv.substr(0, eol),
              "id,uid,session,recorded_at,station,operator,model_name,firmware,model_code,model_variant,"
              "serial,event,item,band,point,old_value,new_value,detail,image_at_entry,image_now");
    const std::string row = csv.substr(eol + 2);
    EXPECT_EQ(row, "12," + r.uid + ",session-1,2026-12-09T10:00:00.000Z,line-station-3,kim,VR-7200,V2.3,5,1,"
                   "SN-9,live-change,70,0,3,20,77,\"a, \"\"quoted\"\" note\",0AFF,\r\n");
}

namespace {

// Sets (or, with nullptr, removes) a variable of this process' environment.
void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
#endif
}

}  // namespace

TEST(RecordsConfig, EnvironmentPicksTheBackEnd) {
    SetEnvironment("VARNEL_RECORDS_DB", "sqlite:/tmp/x/records.sqlite");
    RecordsConfig c = ReadRecordsConfig();
    EXPECT_EQ(c.kind, RecordsConfig::Kind::Sqlite);
    EXPECT_EQ(c.sqliteFile, fs::path("/tmp/x/records.sqlite"));
    SetEnvironment("VARNEL_RECORDS_DB", "host=db.line dbname=tuner");
    c = ReadRecordsConfig();
    EXPECT_EQ(c.kind, RecordsConfig::Kind::Postgres);
    EXPECT_EQ(c.connection, "host=db.line dbname=tuner");
    SetEnvironment("VARNEL_RECORDS_DB", nullptr);
    // Without a setting: the user's data folder (on Windows %APPDATA%).
#ifdef _WIN32
    const char* const dataVariable = "APPDATA";
    const char* const dataFolder = "C:\\srv\\data";
#else
    const char* const dataVariable = "XDG_DATA_HOME";
    const char* const dataFolder = "/srv/data";
#endif
    const std::string oldData = std::getenv(dataVariable) ? std::getenv(dataVariable) : "";
    SetEnvironment(dataVariable, dataFolder);
    SetEnvironment("XDG_CONFIG_HOME", "/nonexistent-config");
    c = ReadRecordsConfig();
    EXPECT_EQ(c.kind, RecordsConfig::Kind::Sqlite);
    EXPECT_EQ(c.sqliteFile, fs::path(dataFolder) / "varnel-tuner" / "records.sqlite");
    SetEnvironment("XDG_CONFIG_HOME", nullptr);
    SetEnvironment(dataVariable, oldData.empty() ? nullptr : oldData.c_str());
}

TEST(Recorder, RecordsOldAndNewValueOfALiveChange) {
    TempDir dir;
    auto opened = OpenSqliteStore(dir.path() / "r.sqlite");
    ASSERT_TRUE(opened.ok());
    std::shared_ptr<RecordStore> store = std::move(*opened);
    Recorder recorder(store);
    recorder.SetSerial("SN-42");
    RadioInfo info;
    const char name[] = "VR-7200";
    std::copy(name, name + sizeof name - 1, info.bytes.begin());
    info.bytes[64] = 'V'; info.bytes[65] = '2'; info.bytes[66] = '.'; info.bytes[67] = '3';
    info.bytes[88] = 5;
    info.bytes[89] = 2;
    TunerImage image;
    image[118] = 20;  // item 10, point 3, band 0
    image[374] = 30;  // item 70, point 3, band 1
    ASSERT_TRUE(recorder.Entered(info, image).ok());
    const TunerImage atEntry = image;
    image[118] = 77;
    ASSERT_TRUE(recorder.LiveChange(10, 3, image).ok());
    image[118] = 78;
    ASSERT_TRUE(recorder.LiveChange(10, 3, image).ok());
    image[374] = 31;
    ASSERT_TRUE(recorder.LiveChange(70, 3, image).ok());
    ASSERT_TRUE(recorder.Saved(70, image).ok());
    ASSERT_TRUE(recorder.Left(image).ok());

    auto all = store->List({});
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(all->size(), 6u);
    const auto& r = *all;
    EXPECT_EQ(r[0].event, "enter");
    EXPECT_EQ(r[0].modelName, "VR-7200");
    EXPECT_EQ(r[0].firmware, "V2.3");
    EXPECT_EQ(r[0].modelCode, 5);
    EXPECT_EQ(r[0].modelVariant, 2);
    EXPECT_EQ(r[0].serial, "SN-42");
    EXPECT_EQ(r[1].event, "live-change");
    EXPECT_EQ(r[1].item, 10);
    EXPECT_EQ(r[1].band, 0);
    EXPECT_EQ(r[1].point, 3);
    EXPECT_EQ(r[1].oldValue, 20);
    EXPECT_EQ(r[1].newValue, 77);
    EXPECT_EQ(r[2].oldValue, 77);
    EXPECT_EQ(r[2].newValue, 78);
    EXPECT_EQ(r[3].item, 70);
    EXPECT_EQ(r[3].band, 1);
    EXPECT_EQ(r[3].oldValue, 30);
    EXPECT_EQ(r[3].newValue, 31);
    EXPECT_EQ(r[4].event, "save-item");
    EXPECT_EQ(r[5].event, "leave");
    for (const auto& rec : r) {
        EXPECT_EQ(rec.session, r[0].session);
        EXPECT_FALSE(rec.station.empty());
        EXPECT_FALSE(rec.operatorName.empty());
        ASSERT_EQ(rec.imageAtEntry.size(), 848u);
        EXPECT_EQ(rec.imageAtEntry[118], 20);
    }
    EXPECT_EQ(r[5].imageNow[118], 78);
    EXPECT_EQ(r[5].imageNow[374], 31);
    EXPECT_EQ(std::vector<std::uint8_t>(atEntry.bytes.begin(), atEntry.bytes.end()), r[5].imageAtEntry);
}

TEST(Recorder, WithoutAStoreRecordsNothingAndSucceeds) {
    Recorder recorder;
    TunerImage image;
    EXPECT_TRUE(recorder.Entered(RadioInfo{}, image).ok());
    EXPECT_TRUE(recorder.LiveChange(10, 1, image).ok());
}

TEST(QueuedRecords, AStationWithoutItsServerQueuesLocally) {
    TempDir dir;
    // Nothing listens on port 1 of the loopback interface.
    auto store = OpenQueuedStore("host=127.0.0.1 port=1 dbname=none connect_timeout=2", dir.path() / "queue.sqlite");
    ASSERT_TRUE(store.ok()) << store.error().Text();
    CalibrationRecord r = Sample("SN-Q", record_event::kEnter);
    EXPECT_TRUE((*store)->Append(r).ok());
    EXPECT_EQ((*store)->Queued(), 1u);
    auto flushed = (*store)->Flush();
    EXPECT_FALSE(flushed.ok());
    EXPECT_EQ(flushed.error().code(), ErrorCode::Database);
    EXPECT_EQ((*store)->Queued(), 1u);
    // The queue survives the program.
    store = Result<std::unique_ptr<RecordStore>>(Error::Make(ErrorCode::Other, "closed"));
    auto local = OpenSqliteStore(dir.path() / "queue.sqlite");
    ASSERT_TRUE(local.ok());
    auto waiting = (*local)->List({});
    ASSERT_TRUE(waiting.ok());
    ASSERT_EQ(waiting->size(), 1u);
    EXPECT_EQ((*waiting)[0].uid, r.uid);
}

// ---- PostgreSQL ---------------------------------------------------------------

TEST(PostgresRecords, StoresAndListsRecords) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set (scripts/with-postgres sets it)";
    auto store = OpenPostgresStore(url);
    ASSERT_TRUE(store.ok()) << store.error().Text();
    ExerciseStore(**store);
    // Opening again finds the schema in place.
    auto again = OpenPostgresStore(url);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ((*again)->SchemaVersion(), LatestSchemaVersion());
}

TEST(PostgresRecords, TwoStationsWriteAtOnce) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set";
    TwoStationsAtOnce([&]() -> std::unique_ptr<RecordStore> {
        auto s = OpenPostgresStore(url);
        return s ? std::move(*s) : nullptr;
    });
}

TEST(PostgresRecords, ServerStoppedMidSessionLosesNothing) {
    const char* url = PostgresUrl();
    const char* stop = std::getenv("VARNEL_TEST_POSTGRES_STOP");
    const char* start = std::getenv("VARNEL_TEST_POSTGRES_START");
    if (!url || !stop || !start) GTEST_SKIP() << "PostgreSQL tests skipped: no server control commands";
    TempDir dir;
    auto opened = OpenQueuedStore(url, dir.path() / "queue.sqlite");
    ASSERT_TRUE(opened.ok()) << opened.error().Text();
    auto& store = **opened;
    const std::string serial = "SN-stop-" + NewRecordUid();
    std::vector<std::string> uids;
    const auto append = [&](int value) {
        CalibrationRecord r = Sample(serial, record_event::kLiveChange, 10);
        r.newValue = value;
        uids.push_back(r.uid);
        EXPECT_TRUE(store.Append(r).ok());
    };
    append(1);
    append(2);
    EXPECT_EQ(store.Queued(), 0u);
    ASSERT_EQ(std::system(stop), 0);
    append(3);
    append(4);
    append(5);
    EXPECT_EQ(store.Queued(), 3u);
    EXPECT_FALSE(store.List({}).ok());
    ASSERT_EQ(std::system(start), 0);
    auto left = store.Flush();
    ASSERT_TRUE(left.ok()) << left.error().Text();
    EXPECT_EQ(*left, 0u);
    append(6);
    RecordFilter filter;
    filter.serial = serial;
    auto all = store.List(filter);
    ASSERT_TRUE(all.ok()) << all.error().Text();
    ASSERT_EQ(all->size(), 6u);
    for (std::size_t i = 0; i < all->size(); ++i) {
        EXPECT_EQ((*all)[i].uid, uids[i]) << "in the order they were made";
        EXPECT_EQ((*all)[i].newValue, static_cast<int>(i + 1));
    }
}

TEST(PostgresRecords, ARecordBothSentAndQueuedIsStoredOnce) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set";
    TempDir dir;
    const std::string serial = "SN-twice-" + NewRecordUid();
    CalibrationRecord r = Sample(serial, record_event::kSaveItem, 9);
    {
        auto server = OpenPostgresStore(url);
        ASSERT_TRUE(server.ok());
        CalibrationRecord copy = r;
        ASSERT_TRUE((*server)->Append(copy).ok());
        auto queue = OpenSqliteStore(dir.path() / "queue.sqlite");
        ASSERT_TRUE(queue.ok());
        copy = r;
        ASSERT_TRUE((*queue)->Append(copy).ok());
    }
    auto store = OpenQueuedStore(url, dir.path() / "queue.sqlite");
    ASSERT_TRUE(store.ok());
    EXPECT_EQ((*store)->Queued(), 0u);
    RecordFilter filter;
    filter.serial = serial;
    auto all = (*store)->List(filter);
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(all->size(), 1u);
}
