// Calibration records: the SQLite store (always), the PostgreSQL store and its
// local queue (against the server scripts/with-postgres starts; skipped when
// VARNEL_TEST_POSTGRES is not set), and the recorder.
#include <gtest/gtest.h>
#include <sqlite3.h>
#ifdef VARNEL_TEST_LIBPQ
#include <libpq-fe.h>
#endif

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "core/support/TempFiles.h"
#include "data/RadioInfo.h"
#include "data/TunerImage.h"
#include "lang/Loadlanguage.h"
#include "records/RecordColumns.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"
#include "records/SqliteStore.h"
#include "align/AlignRecords.h"
#include "core/support/FrozenServer.h"
#include "core/support/QuickTimeouts.h"

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

// The traceability fields of an alignment point.
void Traced(CalibrationRecord& r) {
    r.stationId = "bench-2";
    r.fixtureId = "FX-07";
    r.pathLoss = "-1.5:0.8;450:1.1";
    r.pathLossSha256 = "cd34";
    r.instrumentIdn = "ACME,T1,1,2.0";
    r.calibrationDue = "2027-03-31";
    r.softwareVersion = "0.1.0";
    r.procedureName = "tx.json";
    r.procedureSha256 = "ab12";
    r.runId = "run-9";
    r.step = "TX power";
    r.unit = "dBm";
    r.limitLow = -1.5;
    r.limitHigh = 2.5;
    r.reading = 2.25;
    r.tries = 3;
    r.verdict = record_verdict::kMarginal;
    r.retestCount = 2;
    r.flags = "calibration-overdue";
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
    for (const RecordColumn& c : RecordColumns()) {
        SCOPED_TRACE(c.name);
        if (c.text) {
            EXPECT_EQ(a.*c.text, b.*c.text);
        } else if (c.number) {
            EXPECT_EQ(a.*c.number, b.*c.number);
        } else if (c.real) {
            EXPECT_EQ(a.*c.real, b.*c.real);
        } else if (c.bytes) {
            EXPECT_EQ(a.*c.bytes, b.*c.bytes);
        }
    }
}

// Round trip, duplicates and filters: the same checks for every back end.
void ExerciseStore(RecordStore& store) {
    EXPECT_EQ(store.schemaVersion(), LatestSchemaVersion());
    const std::string serial = "SN-" + NewRecordUid();
    CalibrationRecord first = Sample(serial, record_event::kEnter);
    ASSERT_TRUE(store.append(first).ok());
    EXPECT_GT(first.id, 0);
    CalibrationRecord change = Sample(serial, record_event::kLiveChange, 10);
    ASSERT_TRUE(store.append(change).ok());
    EXPECT_GT(change.id, first.id);
    CalibrationRecord other = Sample("SN-other-" + NewRecordUid(), record_event::kAlign, 10);
    other.imageAtEntry.clear();
    Traced(other);
    other.stationId = "\xe5\xb7\xa5\xe4\xbd\x8d-2";  // a station id in Chinese
    other.limitLow = std::nullopt;
    ASSERT_TRUE(store.append(other).ok());

    // The same uid again is not a second record.
    CalibrationRecord again = change;
    again.id = 0;
    ASSERT_TRUE(store.append(again).ok());
    EXPECT_EQ(again.id, change.id);

    RecordFilter bySerial;
    bySerial.serial = serial;
    auto history = store.list(bySerial);
    ASSERT_TRUE(history.ok()) << history.error().text();
    ASSERT_EQ(history->size(), 2u);
    ExpectSameRecord((*history)[0], first);
    ExpectSameRecord((*history)[1], change);

    bySerial.event = record_event::kLiveChange;
    auto changes = store.list(bySerial);
    ASSERT_TRUE(changes.ok());
    ASSERT_EQ(changes->size(), 1u);
    EXPECT_EQ((*changes)[0].newValue, 77);

    // One at a time, stopped after the first; by firmware.
    int seen = 0;
    ASSERT_TRUE(store.forEach(bySerial, [&](const CalibrationRecord&) { return ++seen < 1; }).ok());
    EXPECT_EQ(seen, 1);
    RecordFilter byFirmware;
    byFirmware.serial = serial;
    byFirmware.firmware = "V2.3";
    auto same = store.list(byFirmware);
    ASSERT_TRUE(same.ok());
    EXPECT_EQ(same->size(), 2u);
    byFirmware.firmware = "V9.9";
    EXPECT_TRUE(store.list(byFirmware)->empty());

    auto got = store.get(other.id);
    ASSERT_TRUE(got.ok());
    ExpectSameRecord(*got, other);
    EXPECT_TRUE(got->imageAtEntry.empty());
    auto missing = store.get(999999999);
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
            if (!store->append(r).ok()) ++failures;
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
    auto all = store->list(filter);
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

using varnel::testing::FrozenServer;
using varnel::testing::QuickTimeouts;

bool CanFreeze() { return std::getenv("VARNEL_TEST_POSTGRES_FREEZE") && std::getenv("VARNEL_TEST_POSTGRES_THAW"); }

// Waits (at most `seconds`) until `done` holds.
bool WaitFor(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// Runs SQL (several statements, stopping at the first that fails) on the
// test database through libpq, as psql would, but on every platform the
// tests run on (Windows has no psql to call); true when it worked.
bool RunSql(const std::string& sql) {
#ifdef VARNEL_TEST_LIBPQ
    PGconn* conn = PQconnectdb(PostgresUrl());
    bool ok = PQstatus(conn) == CONNECTION_OK;
    if (ok) {
        PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);  // as psql -q
        PGresult* result = PQexec(conn, sql.c_str());
        const ExecStatusType status = PQresultStatus(result);
        ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        PQclear(result);
    }
    if (!ok) ADD_FAILURE() << "SQL on the test database failed: " << PQerrorMessage(conn);
    PQfinish(conn);
    return ok;
#else
    ADD_FAILURE() << "this build has no libpq to run SQL on the test database";
    (void)sql;
    return false;
#endif
}

// A record whose texts are not UTF-8: an archive name in GBK, a host name
// with a stray byte, a NUL in the model name, and a backslash path.
CalibrationRecord NotUtf8(const std::string& serial) {
    CalibrationRecord r = Sample(serial, record_event::kBackup);
    r.detail = "D:\\\xb5\xe7\\x41\\\xc9\xe8.tdb";
    r.station = std::string("line-\xff-3");
    r.modelName = std::string("VR\0" "7200", 7);
    return r;
}

// The schema as earlier versions of the program made it: migrations 1 to 3
// of each store, word for word, and one record of that time.
const char* const kSqliteHistory[] = {
    "CREATE TABLE calibration_record (id INTEGER PRIMARY KEY AUTOINCREMENT, uid TEXT NOT NULL UNIQUE,"
    " session TEXT NOT NULL DEFAULT '', recorded_at TEXT NOT NULL, station TEXT NOT NULL,"
    " operator TEXT NOT NULL, model_name TEXT NOT NULL, firmware TEXT NOT NULL,"
    " model_code INTEGER NOT NULL, model_variant INTEGER NOT NULL, serial TEXT NOT NULL DEFAULT '',"
    " event TEXT NOT NULL, item INTEGER, band INTEGER, point INTEGER, old_value INTEGER,"
    " new_value INTEGER, image_at_entry BLOB, image_now BLOB, detail TEXT NOT NULL DEFAULT '')",
    "CREATE INDEX calibration_record_serial ON calibration_record (serial, recorded_at);"
    "CREATE INDEX calibration_record_model ON calibration_record (model_name, recorded_at)",
    "CREATE TABLE set_aside_record (uid TEXT PRIMARY KEY, reason TEXT NOT NULL, set_aside_at TEXT NOT NULL)",
};
const char* const kPostgresHistory[] = {
    "CREATE TABLE calibration_record (id BIGSERIAL PRIMARY KEY, uid TEXT NOT NULL UNIQUE,"
    " session TEXT NOT NULL DEFAULT '', recorded_at TEXT NOT NULL, station TEXT NOT NULL,"
    " operator TEXT NOT NULL, model_name TEXT NOT NULL, firmware TEXT NOT NULL,"
    " model_code INTEGER NOT NULL, model_variant INTEGER NOT NULL, serial TEXT NOT NULL DEFAULT '',"
    " event TEXT NOT NULL, item INTEGER, band INTEGER, point INTEGER, old_value INTEGER,"
    " new_value INTEGER, image_at_entry BYTEA, image_now BYTEA, detail TEXT NOT NULL DEFAULT '')",
    "CREATE INDEX calibration_record_serial ON calibration_record (serial, recorded_at);"
    "CREATE INDEX calibration_record_model ON calibration_record (model_name, recorded_at)",
    "ALTER TABLE calibration_record ADD COLUMN escaped_fields TEXT NOT NULL DEFAULT ''",
};

// The SQL that leaves a database at `version` with one old record, SN-OLD.
std::string LegacySchema(const char* const (&history)[3], int version) {
    std::string sql = "CREATE TABLE schema_migrations (version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL);";
    for (int v = 1; v <= version; ++v) {
        sql += std::string(history[v - 1]) + ";";
        sql += "INSERT INTO schema_migrations VALUES (" + std::to_string(v) + ", '2026-01-01T00:00:00.000Z');";
    }
    return sql +
           "INSERT INTO calibration_record (uid, recorded_at, station, operator, model_name, firmware,"
           " model_code, model_variant, serial, event, item, band, point, old_value, new_value, detail)"
           " VALUES ('u-old', '2026-01-01T00:00:00.000Z', 's', 'o', 'VR-7200', 'V2.1', 4, 0, 'SN-OLD',"
           " 'align', 10, 0, 3, 20, 22, 'pass: target 37 +/- 0.2 dBm, reading 37.010 dBm, 3 tries, TX');";
}

// After the migration: the old record as it was, its new fields empty, and
// a record with every new field stored and read back.
void ExpectMigrated(RecordStore& store) {
    EXPECT_EQ(store.schemaVersion(), LatestSchemaVersion());
    RecordFilter filter;
    filter.serial = "SN-OLD";
    auto old = store.list(filter);
    ASSERT_TRUE(old.ok()) << old.error().text();
    ASSERT_EQ(old->size(), 1u);
    const CalibrationRecord& r = (*old)[0];
    EXPECT_EQ(r.uid, "u-old");
    EXPECT_EQ(r.newValue, 22);
    EXPECT_EQ(r.detail.substr(0, 5), "pass:");
    EXPECT_EQ(r.stationId, "");
    EXPECT_EQ(r.verdict, "");
    EXPECT_EQ(r.tries, -1);
    EXPECT_EQ(r.retestCount, -1);
    EXPECT_FALSE(r.reading.has_value());
    CalibrationRecord traced = Sample("SN-OLD", record_event::kAlign, 10);
    Traced(traced);
    ASSERT_TRUE(store.append(traced).ok());
    auto got = store.get(traced.id);
    ASSERT_TRUE(got.ok()) << got.error().text();
    ExpectSameRecord(*got, traced);
    // The old record is counted as an earlier run of the serial.
    EXPECT_EQ(CountAlignRuns(store, "SN-OLD", "another-run"), 2);
    EXPECT_EQ(CountAlignRuns(store, "SN-OLD", traced.runId), 1);
    EXPECT_EQ(CountAlignRuns(store, "", "x"), -1);
}

}  // namespace

TEST(SqliteRecords, StoresAndListsRecords) {
    TempDir dir;
    auto store = OpenSqliteStore(dir.path() / "sub" / "records.sqlite");
    ASSERT_TRUE(store.ok()) << store.error().text();
    ExerciseStore(**store);
}

TEST(SqliteRecords, KeepsRecordsAcrossReopen) {
    TempDir dir;
    const fs::path file = dir.path() / "records.sqlite";
    CalibrationRecord r = Sample("SN-1", record_event::kBackup);
    {
        auto store = OpenSqliteStore(file);
        ASSERT_TRUE(store.ok());
        ASSERT_TRUE((*store)->append(r).ok());
    }
    auto store = OpenSqliteStore(file);
    ASSERT_TRUE(store.ok());
    auto all = (*store)->list({});
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
    ASSERT_TRUE(store.ok()) << store.error().text();
    EXPECT_EQ((*store)->schemaVersion(), LatestSchemaVersion());
    RecordFilter filter;
    filter.serial = "SN-OLD";
    auto old = (*store)->list(filter);
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

TEST(SqliteRecords, MigratesAnExistingFileOfEveryEarlierSchema) {
    for (int version = 1; version <= 3; ++version) {
        SCOPED_TRACE("schema " + std::to_string(version));
        TempDir dir;
        const fs::path file = dir.path() / "line.sqlite";
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, LegacySchema(kSqliteHistory, version).c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        auto store = OpenSqliteStore(file);
        ASSERT_TRUE(store.ok()) << store.error().text();
        ExpectMigrated(**store);
    }
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
    EXPECT_NE(store.error().text().find(file.string()), std::string::npos) << store.error().text();
}

TEST(RecordsCsv, QuotesFieldsAndWritesImagesInHex) {
    CalibrationRecord r = Sample("SN-9", record_event::kLiveChange, 70);
    r.id = 12;
    r.imageAtEntry = {0x0A, 0xFF};
    r.imageNow = {};
    // Item and band by name as the records window shows them, after the
    // stored columns: item 70 is "TX Power (Low)" in english.lang.
    const std::filesystem::path language = languageFile;
    languageFile = std::filesystem::path(VARNEL_LANG_DIR) / "english.lang";
    const std::string csv = RecordsToCsv({r});
    const auto eol = csv.find("\r\n");
    ASSERT_NE(eol, std::string::npos);
    EXPECT_EQ(csv.substr(0, eol),
              "id,uid,session,recorded_at,station,operator,model_name,firmware,model_code,model_variant,"
              "serial,event,item,band,point,old_value,new_value,detail,image_at_entry,image_now,"
              "station_id,fixture_id,path_loss,instrument_idn,calibration_due,software_version,procedure_name,"
              "procedure_sha256,run_id,step,unit,limit_low,limit_high,reading,tries,verdict,retest_count,path_loss_sha256,"
              "flags,item_name,band_name");
    const std::string row = csv.substr(eol + 2);
    EXPECT_EQ(row, "12," + r.uid + ",session-1,2026-12-09T10:00:00.000Z,line-station-3,kim,VR-7200,V2.3,5,1,"
                   "SN-9,live-change,70,0,3,20,77,\"a, \"\"quoted\"\" note\",0AFF,,,,,,,,,,,,,,,,,,,,,"
                   "TX Power (Low),400-470 MHz\r\n");
    // The traceability of an alignment point: limits and reading as plain
    // numbers, the path-loss table as text.
    Traced(r);
    const std::string traced = RecordCsvLine(r);
    EXPECT_NE(traced.find(",0AFF,,bench-2,FX-07,\"'-1.5:0.8;450:1.1\",\"ACME,T1,1,2.0\",2027-03-31,0.1.0,tx.json,"
                          "ab12,run-9,TX power,dBm,-1.5,2.5,2.25,3,marginal,2,cd34,calibration-overdue,TX Power (Low),400-470 MHz\r\n"),
              std::string::npos)
        << traced;
    languageFile = language;
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
    recorder.setSerial("SN-42");
    RadioInfo info;
    const char name[] = "VR-7200";
    std::copy(name, name + sizeof name - 1, info.bytes.begin());
    info.bytes[64] = 'V'; info.bytes[65] = '2'; info.bytes[66] = '.'; info.bytes[67] = '3';
    info.bytes[88] = 5;
    info.bytes[89] = 2;
    TunerImage image;
    image[118] = 20;  // item 10, point 3, band 0
    image[374] = 30;  // item 70, point 3, band 1
    ASSERT_TRUE(recorder.entered(info, image).ok());
    const TunerImage atEntry = image;
    image[118] = 77;
    ASSERT_TRUE(recorder.liveChange(10, 3, image).ok());
    image[118] = 78;
    ASSERT_TRUE(recorder.liveChange(10, 3, image).ok());
    image[374] = 31;
    ASSERT_TRUE(recorder.liveChange(70, 3, image).ok());
    ASSERT_TRUE(recorder.saved(70, image).ok());
    ASSERT_TRUE(recorder.left(image).ok());

    auto all = store->list({});
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
    EXPECT_TRUE(recorder.entered(RadioInfo{}, image).ok());
    EXPECT_TRUE(recorder.liveChange(10, 1, image).ok());
}

TEST(QueuedRecords, AStationWithoutItsServerQueuesLocally) {
    TempDir dir;
    // Nothing listens on port 1 of the loopback interface.
    auto store = OpenQueuedStore("host=127.0.0.1 port=1 dbname=none connect_timeout=2", dir.path() / "queue.sqlite");
    ASSERT_TRUE(store.ok()) << store.error().text();
    CalibrationRecord r = Sample("SN-Q", record_event::kEnter);
    EXPECT_TRUE((*store)->append(r).ok());
    EXPECT_EQ((*store)->queued(), 1u);
    auto flushed = (*store)->flush();
    EXPECT_FALSE(flushed.ok());
    EXPECT_EQ(flushed.error().code(), ErrorCode::Database);
    EXPECT_EQ((*store)->queued(), 1u);
    // The queue survives the program.
    store = Result<std::unique_ptr<RecordStore>>(Error::make(ErrorCode::Other, "closed"));
    auto local = OpenSqliteStore(dir.path() / "queue.sqlite");
    ASSERT_TRUE(local.ok());
    auto waiting = (*local)->list({});
    ASSERT_TRUE(waiting.ok());
    ASSERT_EQ(waiting->size(), 1u);
    EXPECT_EQ((*waiting)[0].uid, r.uid);
}

TEST(QueuedRecords, AppendOnlyQueuesAndTheStallIsNotedOnce) {
    TempDir dir;
    auto store = OpenQueuedStore("host=127.0.0.1 port=1 dbname=none", dir.path() / "queue.sqlite", QuickTimeouts());
    ASSERT_TRUE(store.ok()) << store.error().text();
    for (int i = 0; i < 3; ++i) {
        CalibrationRecord r = Sample("SN-Q3", record_event::kLiveChange, 10);
        EXPECT_TRUE((*store)->append(r).ok());
    }
    EXPECT_EQ((*store)->drain(std::chrono::seconds(10)), 3u);
    EXPECT_TRUE(WaitFor([&] { return !(*store)->queueState().serverAnswering; }, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // several tries after the pause
    const RecordsQueueState state = (*store)->queueState();
    EXPECT_TRUE(state.queued);
    EXPECT_EQ(state.waiting, 3u);
    EXPECT_EQ(state.stalls, 1u);
    EXPECT_EQ(state.queueFile, (dir.path() / "queue.sqlite").string());
    EXPECT_FALSE(state.problem.empty());
}

TEST(QueuedRecords, DirectStoresHaveNoQueue) {
    TempDir dir;
    auto store = OpenSqliteStore(dir.path() / "r.sqlite");
    ASSERT_TRUE(store.ok());
    EXPECT_FALSE((*store)->queueState().queued);
    EXPECT_EQ((*store)->drain(std::chrono::milliseconds(10)), 0u);
}

TEST(SqliteRecords, AQueueSetsARecordAsideWithItsReason) {
    TempDir dir;
    auto queue = OpenSqliteRecordStore(dir.path() / "q.sqlite");
    ASSERT_TRUE(queue.ok());
    CalibrationRecord a = Sample("SN-A", record_event::kEnter), b = Sample("SN-B", record_event::kEnter),
                      c = Sample("SN-C", record_event::kEnter);
    for (CalibrationRecord* r : {&a, &b, &c}) ASSERT_TRUE((*queue)->append(*r).ok());
    ASSERT_TRUE((*queue)->setAside(b.uid, "refused").ok());
    EXPECT_EQ((*queue)->count(), 2u);
    EXPECT_EQ((*queue)->countSetAside(), 1u);
    auto waiting = (*queue)->waiting();
    ASSERT_TRUE(waiting.ok());
    ASSERT_EQ(waiting->size(), 2u);
    EXPECT_EQ((*waiting)[0].uid, a.uid);
    EXPECT_EQ((*waiting)[1].uid, c.uid);
}

struct EscapeCase {
    const char* name;
    std::string text;
    bool safe;
    std::string escaped;  // when not safe
};

TEST(RecordsText, EscapesOnlyWhatTheServerCannotStore) {
    const EscapeCase cases[] = {
        {"ascii", "backup.tdb", true, ""},
        {"chinese", "\xe6\xa0\xa1\xe5\x87\x86.tdb", true, ""},
        {"backslash in valid text", "C:\\x41", true, ""},
        {"gbk file name", "\xb5\xe7.tdb", false, "\\xB5\\xE7.tdb"},
        {"gbk that is partly utf-8", "\xe7\xcc\xa8", false, "\\xE7\xcc\xa8"},
        {"stray byte and backslash", "a\\\xff", false, "a\\\\\\xFF"},
        {"nul", std::string("a\0b", 3), false, "a\\x00b"},
        {"overlong slash", "\xc0\xaf", false, "\\xC0\\xAF"},
        {"surrogate", "\xed\xa0\x80", false, "\\xED\\xA0\\x80"},
        {"cut sequence", "ok\xe6\xa0", false, "ok\\xE6\\xA0"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", false, "\\xF4\\x90\\x80\\x80"},
        {"four bytes", "\xf0\x9f\x93\xbb", true, ""},
    };
    for (const EscapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ServerSafeText(c.text), c.safe);
        const std::string escaped = EscapeServerText(c.text);
        if (!c.safe) {
            EXPECT_EQ(escaped, c.escaped);
            EXPECT_TRUE(ServerSafeText(escaped));
        }
        EXPECT_EQ(UnescapeServerText(escaped), c.text);
    }
}

// ---- PostgreSQL ---------------------------------------------------------------

TEST(PostgresRecords, StoresAndListsRecords) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set (scripts/with-postgres sets it)";
    auto store = OpenPostgresStore(url);
    ASSERT_TRUE(store.ok()) << store.error().text();
    ExerciseStore(**store);
    // Opening again finds the schema in place.
    auto again = OpenPostgresStore(url);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ((*again)->schemaVersion(), LatestSchemaVersion());
}

TEST(PostgresRecords, MigratesAnExistingSchemaOfVersion3) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set";
    // A schema of its own on the test server, as a line's database of the
    // previous version would be.
    const std::string schema = "legacy_" + NewRecordUid().substr(0, 8);
    ASSERT_TRUE(RunSql("CREATE SCHEMA " + schema + "; SET search_path TO " + schema + ";" +
                     LegacySchema(kPostgresHistory, 3)));
    {
        auto store = OpenPostgresStore(std::string(url) + " options='-csearch_path=" + schema + "'");
        ASSERT_TRUE(store.ok()) << store.error().text();
        ExpectMigrated(**store);
    }
    EXPECT_TRUE(RunSql("DROP SCHEMA " + schema + " CASCADE"));
}

TEST(PostgresRecords, TwoStationsWriteAtOnce) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set";
    TwoStationsAtOnce([&]() -> std::unique_ptr<RecordStore> {
        auto s = OpenPostgresStore(url);
        return s ? std::move(*s) : nullptr;
    });
}

// Live changes of one radio appended in turn, with their ids in that order.
struct LiveChanges {
    RecordStore& store;
    std::string serial;
    std::vector<std::string> uids;
    void append(int value) {
        CalibrationRecord r = Sample(serial, record_event::kLiveChange, 10);
        r.newValue = value;
        uids.push_back(r.uid);
        EXPECT_TRUE(store.append(r).ok());
    }
};

TEST(PostgresRecords, ServerStoppedMidSessionLosesNothing) {
    const char* url = PostgresUrl();
    const char* stop = std::getenv("VARNEL_TEST_POSTGRES_STOP");
    const char* start = std::getenv("VARNEL_TEST_POSTGRES_START");
    if (!url || !stop || !start) GTEST_SKIP() << "PostgreSQL tests skipped: no server control commands";
    TempDir dir;
    auto opened = OpenQueuedStore(url, dir.path() / "queue.sqlite", QuickTimeouts());
    ASSERT_TRUE(opened.ok()) << opened.error().text();
    auto& store = **opened;
    const std::string serial = "SN-stop-" + NewRecordUid();
    LiveChanges changes{store, serial, {}};
    const auto append = [&](int value) { changes.append(value); };
    const std::vector<std::string>& uids = changes.uids;
    append(1);
    append(2);
    EXPECT_EQ(store.drain(std::chrono::seconds(20)), 0u);
    EXPECT_EQ(store.queued(), 0u);
    ASSERT_EQ(std::system(stop), 0);
    append(3);
    append(4);
    append(5);
    EXPECT_EQ(store.drain(std::chrono::seconds(20)), 3u);
    EXPECT_EQ(store.queued(), 3u);
    EXPECT_FALSE(store.queueState().serverAnswering);
    EXPECT_FALSE(store.list({}).ok());
    ASSERT_EQ(std::system(start), 0);
    auto left = store.flush();
    ASSERT_TRUE(left.ok()) << left.error().text();
    EXPECT_EQ(*left, 0u);
    EXPECT_TRUE(store.queueState().serverAnswering);
    append(6);
    EXPECT_EQ(store.drain(std::chrono::seconds(20)), 0u);
    RecordFilter filter;
    filter.serial = serial;
    auto all = store.list(filter);
    ASSERT_TRUE(all.ok()) << all.error().text();
    ASSERT_EQ(all->size(), 6u);
    for (std::size_t i = 0; i < all->size(); ++i) {
        EXPECT_EQ((*all)[i].uid, uids[i]) << "in the order they were made";
        EXPECT_EQ((*all)[i].newValue, static_cast<int>(i + 1));
    }
}

// A server that accepted the connection and then stopped answering (SIGSTOP):
// a direct store gives up after the statement's time-out; the queued store
// takes every record at once, reports the stall once, and sends everything,
// in order, once the server goes on.
TEST(PostgresRecords, AStalledServerHoldsNothingUp) {
    const char* url = PostgresUrl();
    if (!url || !CanFreeze()) GTEST_SKIP() << "PostgreSQL tests skipped: no server to stop with SIGSTOP";
    TempDir dir;
    auto direct = OpenPostgresStore(url, QuickTimeouts());
    ASSERT_TRUE(direct.ok()) << direct.error().text();
    auto queued = OpenQueuedStore(url, dir.path() / "queue.sqlite", QuickTimeouts());
    ASSERT_TRUE(queued.ok()) << queued.error().text();
    RecordStore& store = **queued;
    const std::string serial = "SN-stall-" + NewRecordUid();
    LiveChanges changes{store, serial, {}};
    const auto append = [&](int value) { changes.append(value); };
    const std::vector<std::string>& uids = changes.uids;
    append(1);
    ASSERT_EQ(store.drain(std::chrono::seconds(20)), 0u);
    CalibrationRecord before = Sample(serial + "-direct", record_event::kEnter);
    ASSERT_TRUE((*direct)->append(before).ok());

    FrozenServer server;
    ASSERT_TRUE(server.frozen());
    // The direct store: its connection is open, the server does not answer.
    CalibrationRecord stalled = Sample(serial + "-direct", record_event::kLeave);
    const Error e = (*direct)->append(stalled);
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.code(), ErrorCode::Database);
    EXPECT_NE(e.text().find("did not answer within 1 s"), std::string::npos) << e.text();
    EXPECT_FALSE((*direct)->list({}).ok());

    // The queued store: records are taken, the stall is noted once.
    append(2);
    append(3);
    EXPECT_EQ(store.drain(std::chrono::seconds(20)), 2u);
    RecordsQueueState state = store.queueState();
    EXPECT_TRUE(state.queued);
    EXPECT_FALSE(state.serverAnswering);
    EXPECT_EQ(state.waiting, 2u);
    EXPECT_EQ(state.stalls, 1u);
    EXPECT_NE(state.problem.find("did not answer"), std::string::npos) << state.problem;
    append(4);
    // It tries again after the pause and fails again: still one stall.
    EXPECT_TRUE(WaitFor([&] { return store.queueState().waiting == 3; }, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(store.queueState().stalls, 1u);
    EXPECT_EQ(store.queued(), 3u);

    server.Thaw();
    EXPECT_TRUE(WaitFor([&] { return store.queued() == 0 && store.queueState().serverAnswering; }, 30));
    RecordFilter filter;
    filter.serial = serial;
    auto all = store.list(filter);
    ASSERT_TRUE(all.ok()) << all.error().text();
    ASSERT_EQ(all->size(), 4u);
    for (std::size_t i = 0; i < all->size(); ++i) {
        EXPECT_EQ((*all)[i].uid, uids[i]) << "in the order they were made";
        EXPECT_EQ((*all)[i].newValue, static_cast<int>(i + 1));
    }
    // The direct store connects again.
    CalibrationRecord after = Sample(serial + "-direct", record_event::kLeave);
    EXPECT_TRUE((*direct)->append(after).ok());
}

TEST(PostgresRecords, TextThatIsNotUtf8IsStoredAndReadBackByteForByte) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set";
    auto store = OpenPostgresStore(url, QuickTimeouts());
    ASSERT_TRUE(store.ok()) << store.error().text();
    const std::string serial = "SN-gbk-" + NewRecordUid();
    CalibrationRecord odd = NotUtf8(serial);
    const Error e = (*store)->append(odd);
    ASSERT_TRUE(e.ok()) << e.text();
    // A record with backslashes in valid UTF-8 is stored as it is.
    CalibrationRecord plain = Sample(serial, record_event::kBackup);
    plain.detail = "C:\\data\\x41\\校准.tdb";
    ASSERT_TRUE((*store)->append(plain).ok());
    auto got = (*store)->get(odd.id);
    ASSERT_TRUE(got.ok()) << got.error().text();
    ExpectSameRecord(*got, odd);
    RecordFilter filter;
    filter.serial = serial;
    auto all = (*store)->list(filter);
    ASSERT_TRUE(all.ok()) << all.error().text();
    ASSERT_EQ(all->size(), 2u);
    ExpectSameRecord((*all)[0], odd);
    ExpectSameRecord((*all)[1], plain);
    // On the server the escaped text is readable UTF-8.
    EXPECT_TRUE(RunSql("DO $$ BEGIN IF (SELECT detail FROM calibration_record WHERE uid = '" + odd.uid +
                     "') <> 'D:\\\\\\xB5\\xE7\\\\x41\\\\\\xC9\\xE8.tdb'"
                     " THEN RAISE EXCEPTION 'detail'; END IF; END $$"));
    EXPECT_TRUE(RunSql("DO $$ BEGIN IF (SELECT detail || '|' || escaped_fields FROM calibration_record WHERE uid = '" +
                     plain.uid + "') <> 'C:\\data\\x41\\校准.tdb|' THEN RAISE EXCEPTION 'plain'; END IF; END $$"));
}

// A record the server refuses for its content is set aside with the reason;
// the records after it reach the server.
TEST(PostgresRecords, ARefusedRecordIsSetAsideAndTheOthersGoOn) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set";
    TempDir dir;
    {
        auto schema = OpenPostgresStore(url, QuickTimeouts());  // the table exists
        ASSERT_TRUE(schema.ok()) << schema.error().text();
    }
    const std::string serial = "SN-refused-" + NewRecordUid();
    // A rule of the line's database that one record breaks.
    ASSERT_TRUE(RunSql("ALTER TABLE calibration_record ADD CONSTRAINT varnel_test_refused CHECK (serial <> '" + serial +
                     "-bad') NOT VALID"));
    struct DropRule {
        ~DropRule() { RunSql("ALTER TABLE calibration_record DROP CONSTRAINT IF EXISTS varnel_test_refused"); }
    } dropRule;
    // The server is away while they are made: all four wait in the queue.
    const fs::path queueFile = dir.path() / "queue.sqlite";
    std::vector<CalibrationRecord> made = {Sample(serial, record_event::kEnter), Sample(serial + "-bad", record_event::kSaveItem, 9),
                                           NotUtf8(serial), Sample(serial, record_event::kLeave)};
    {
        auto queue = OpenSqliteStore(queueFile);
        ASSERT_TRUE(queue.ok());
        for (CalibrationRecord r : made) ASSERT_TRUE((*queue)->append(r).ok());
    }
    auto store = OpenQueuedStore(url, queueFile, QuickTimeouts());
    ASSERT_TRUE(store.ok()) << store.error().text();
    EXPECT_EQ((*store)->drain(std::chrono::seconds(20)), 0u);
    const RecordsQueueState state = (*store)->queueState();
    EXPECT_TRUE(state.serverAnswering);
    EXPECT_EQ(state.waiting, 0u);
    EXPECT_EQ(state.setAside, 1u);
    RecordFilter filter;
    filter.serial = serial;
    auto all = (*store)->list(filter);
    ASSERT_TRUE(all.ok()) << all.error().text();
    ASSERT_EQ(all->size(), 3u);
    ExpectSameRecord((*all)[0], made[0]);
    ExpectSameRecord((*all)[1], made[2]);
    ExpectSameRecord((*all)[2], made[3]);
    store = Result<std::unique_ptr<RecordStore>>(Error::make(ErrorCode::Other, "closed"));
    // The refused one is kept, with the server's reason, and not sent again.
    auto queue = OpenSqliteRecordStore(queueFile);
    ASSERT_TRUE(queue.ok());
    EXPECT_EQ((*queue)->count(), 0u);
    EXPECT_EQ((*queue)->countSetAside(), 1u);
    auto kept = (*queue)->list({});
    ASSERT_TRUE(kept.ok());
    ASSERT_EQ(kept->size(), 1u);
    ExpectSameRecord((*kept)[0], made[1]);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(queueFile.string().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT reason FROM set_aside_record", -1, &q, nullptr);
    ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
    const std::string reason = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
    EXPECT_NE(reason.find("varnel_test_refused"), std::string::npos) << reason;
    EXPECT_NE(reason.find("23514"), std::string::npos) << reason;
    sqlite3_finalize(q);
    sqlite3_close(db);
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
        ASSERT_TRUE((*server)->append(copy).ok());
        auto queue = OpenSqliteStore(dir.path() / "queue.sqlite");
        ASSERT_TRUE(queue.ok());
        copy = r;
        ASSERT_TRUE((*queue)->append(copy).ok());
    }
    auto store = OpenQueuedStore(url, dir.path() / "queue.sqlite");
    ASSERT_TRUE(store.ok());
    // The store sends what it found in the queue in the background.
    EXPECT_EQ((*store)->drain(std::chrono::seconds(20)), 0u);
    EXPECT_EQ((*store)->queued(), 0u);
    RecordFilter filter;
    filter.serial = serial;
    auto all = (*store)->list(filter);
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(all->size(), 1u);
}
