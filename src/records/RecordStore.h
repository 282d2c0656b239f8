// Calibration records: what was done to each radio, when, where and by whom.
//
// Every entry into tuner mode, acknowledged live change, item save, write-all,
// factory read, backup and leave becomes one CalibrationRecord. The
// records go to a RecordStore: a SQLite file under the user's data folder by
// default, or a PostgreSQL database shared by every station of a line when a
// connection string is configured. A station that loses its server keeps
// working: QueuedStore parks the records in a local SQLite queue and sends
// them on once the server answers again. Every record carries a unique id
// (`uid`), so a record that reached the server just before the connection
// broke is never stored twice when the queue is flushed.
//
// Each back end keeps its schema in numbered migrations (table
// schema_migrations) and applies the missing ones when it opens; every record
// is written in a transaction of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/ConfigFolder.h"  // UserDataFolder, UserConfigFolder
#include "util/Error.h"

namespace varnel {

// Kinds of event, as stored in the `event` column.
namespace record_event {
inline constexpr const char* kEnter = "enter";
inline constexpr const char* kLiveChange = "live-change";
inline constexpr const char* kSaveItem = "save-item";
inline constexpr const char* kWriteAll = "write-all";
inline constexpr const char* kFactoryRead = "factory-read";
inline constexpr const char* kBackup = "backup";
inline constexpr const char* kLeave = "leave";
inline constexpr const char* kAlign = "align";  // one point of automatic alignment
inline constexpr const char* kLineAlarm = "line-alarm";  // the line's control charts signal a drift
}  // namespace record_event

// The words of a record's `flags` column (schema 6), comma-separated.
namespace record_flag {
inline constexpr const char* kCalibrationOverdue = "calibration-overdue";  // aligned with an overdue instrument
inline constexpr const char* kLineDrift = "line-drift";  // the line alarm of the control charts
}  // namespace record_flag

struct CalibrationRecord {
    std::int64_t id = 0;       // assigned by the store; 0 before
    std::string uid;           // unique over all stations (NewRecordUid)
    std::string session;       // uid of the tuner-mode session the event belongs to
    std::string recordedAt;    // UTC, "2026-12-09T12:45:20.123Z"
    std::string station;       // host name
    std::string operatorName;  // login name
    std::string modelName;
    std::string firmware;
    int modelCode = 0;
    int modelVariant = 0;
    std::string serial;        // typed or scanned by the operator; may be empty
    std::string event;         // one of record_event
    int item = -1;             // item code, -1 when the event concerns no item
    int band = -1;             // 0 or 1, -1 when none
    int point = -1;            // 1-8, -1 when none
    int oldValue = -1;         // -1 when none
    int newValue = -1;
    std::vector<std::uint8_t> imageAtEntry;  // the image when the session began (848 bytes or empty)
    std::vector<std::uint8_t> imageNow;      // the image after the event (the session's end for "leave")
    std::string detail;        // free text: a file name, "--force", ...
    // Traceability (schema 4): where, with what and against which limits.
    // Empty text, -1 and no value where unknown (and in older records).
    std::string stationId;       // the configured station id, else the host name
    std::string fixtureId;       // the test fixture the radio sat in
    std::string pathLoss;        // the fixture's path-loss table, "freqMHz:dB;..."
    std::string instrumentIdn;   // the instrument's answer to *IDN?
    std::string calibrationDue;  // the instrument's calibration due date
    std::string softwareVersion; // this program's version
    std::string procedureName;   // the procedure file's name
    std::string procedureSha256; // SHA-256 of the procedure file, hexadecimal
    std::string runId;           // one alignment run (all its points share it)
    std::string step;            // the procedure step of an alignment point
    std::string unit;            // the unit of its limits and reading
    std::optional<double> limitLow;   // the point's acceptance limits
    std::optional<double> limitHigh;
    std::optional<double> reading;    // the reading at the final value
    int tries = -1;              // readings taken for the point
    std::string verdict;         // one of record_verdict
    int retestCount = -1;        // earlier alignment runs of this serial when recorded
    // Schema 5: SHA-256 of the path-loss table (its "freqMHz:dB;..." text).
    // The table itself is kept once per run, in the run's first record; the
    // other records of the run carry only this hash (older records carry
    // the table in every record and no hash).
    std::string pathLossSha256;
    // Schema 6: what the record is marked with (record_flag, comma-separated; "" none).
    std::string flags;
};

// Whether `flags` holds the word `flag`.
bool HasRecordFlag(const std::string& flags, const char* flag);

// The verdict of an alignment point, as stored in the `verdict` column.
namespace record_verdict {
inline constexpr const char* kPass = "pass";
inline constexpr const char* kFail = "fail";
inline constexpr const char* kMarginal = "marginal";  // passed in the outer fifth of the tolerance
inline constexpr const char* kStopped = "stopped";    // the operator stopped the run there
inline constexpr const char* kError = "error";        // the radio or instrument failed there, or did not store it
inline constexpr const char* kNotReached = "not-reached";  // the run ended before it came to the point
}  // namespace record_verdict

// How long the records wait for a server. A server that accepts a
// connection and then stops answering costs a statement at most this long;
// the caller is never the one that waits (see QueuedStore).
struct ServerTimeouts {
    std::chrono::milliseconds connect{3000};     // connect_timeout in the connection string wins
    std::chrono::milliseconds statement{5000};   // every statement, client-side deadline
    std::chrono::milliseconds retryPause{15000}; // queue: next try after the server failed
    // The alignment's read of its model's history (QueuedStore): connecting
    // and every statement; a server that fails it is not asked again until
    // it answers the queue's sending.
    std::chrono::milliseconds history{1500};
};

// What a local queue holds and whether its server answers, for the status
// bar and the command-line tool.
struct RecordsQueueState {
    bool queued = false;           // the store is a server behind a local queue
    bool serverAnswering = true;   // false from a failed send until the next successful one
    std::size_t waiting = 0;       // records in the local queue for the server
    std::size_t setAside = 0;      // records the server refused for their content, kept in the queue file
    std::uint64_t stalls = 0;      // times the server stopped answering (answering -> failing)
    std::string problem;           // the last failure, empty while the server answers
    std::string queueFile;         // where the waiting and set-aside records are kept
};

struct RecordFilter {
    std::string serial;     // exact, empty = any
    std::string modelName;  // exact, empty = any
    std::string firmware;   // exact, empty = any
    std::string event;      // exact, empty = any
    std::string since;      // recordedAt >= since (ISO text), empty = any
    std::string until;      // recordedAt < until, empty = any
    int limit = 0;          // 0 = all
    bool newestFirst = false;  // the newest records first (with `limit`: the newest `limit`)
};

class RecordStore {
public:
    virtual ~RecordStore() = default;
    // Stores the record in one transaction; fills in its id. A record whose
    // uid is already stored is accepted and not stored again.
    virtual Error append(CalibrationRecord& record) = 0;
    // Matching records, oldest first (newest first with `newestFirst`).
    virtual Result<std::vector<CalibrationRecord>> list(const RecordFilter& filter) = 0;
    // Calls `each` with every matching record, oldest first (or newest first), one at a time:
    // memory stays the same however many records match. `each` returns
    // false to stop early. It runs while the store is busy with this call,
    // so it must not use the same store.
    virtual Error forEach(const RecordFilter& filter, const std::function<bool(const CalibrationRecord&)>& each);
    // The record with that id.
    virtual Result<CalibrationRecord> get(std::int64_t id) = 0;
    // The schema version the store is at.
    virtual int schemaVersion() = 0;
    // "SQLite /home/a/.local/share/varnel-tuner/records.sqlite", "PostgreSQL host=... dbname=..."
    virtual std::string describe() const = 0;
    // Records waiting in a local queue for the server (0 for direct stores).
    virtual std::size_t queued() { return 0; }
    // Sends queued records on, on the calling thread (bounded by the server
    // time-outs); returns how many are still waiting.
    virtual Result<std::size_t> flush() { return std::size_t{0}; }
    // The queue and its server as last seen; never waits for the server.
    virtual RecordsQueueState queueState() { return {}; }
    // Waits until the background sending has emptied the queue, the server
    // has failed, or `budget` has passed; returns how many records wait.
    virtual std::size_t drain(std::chrono::milliseconds /*budget*/) { return 0; }
};

// Number of the newest migration of both back ends.
int LatestSchemaVersion();

// A SQLite file (created with its folders when missing).
Result<std::unique_ptr<RecordStore>> OpenSqliteStore(const std::filesystem::path& file);
// A PostgreSQL database (libpq connection string or URI). Every connection
// has TCP keepalives; every statement a client-side deadline.
Result<std::unique_ptr<RecordStore>> OpenPostgresStore(const std::string& connection,
                                                       const ServerTimeouts& timeouts = {});
// The server store behind a local SQLite queue. Append puts the record in the
// queue and returns; a thread of the store sends the queue to the server in
// order. Opening never waits for the server; while it is down or stalled the
// records wait in the queue, and a record the server refuses for its content
// is set aside (with the reason) so that the others go on.
Result<std::unique_ptr<RecordStore>> OpenQueuedStore(const std::string& connection,
                                                     const std::filesystem::path& queueFile,
                                                     const ServerTimeouts& timeouts = {});

// ---- configuration ----------------------------------------------------------
// Where the records go, in this order:
//   1. the environment variable VARNEL_RECORDS_DB: a PostgreSQL connection
//      string ("host=... dbname=..." or "postgresql://..."), or "sqlite:PATH";
//   2. section [records], key database of records.ini in the user's config
//      folder ($XDG_CONFIG_HOME/varnel-tuner, else ~/.config/varnel-tuner);
//   3. the same in /etc/varnel-tuner/records.ini (a line's roll-out);
//   4. otherwise the SQLite file DefaultRecordsFile().
struct RecordsConfig {
    enum class Kind { Sqlite, Postgres } kind = Kind::Sqlite;
    std::filesystem::path sqliteFile;
    std::string connection;  // PostgreSQL
    std::string source;      // where the setting came from, for messages
};
RecordsConfig ReadRecordsConfig();
std::filesystem::path DefaultRecordsFile();      // <data folder>/records.sqlite
std::filesystem::path DefaultRecordsQueueFile(); // <data folder>/records-queue.sqlite
// The store the configuration names (PostgreSQL behind the local queue).
Result<std::unique_ptr<RecordStore>> OpenConfiguredStore(const RecordsConfig& config);

// ---- helpers ------------------------------------------------------------------
std::string NewRecordUid();
std::string UtcTimestampNow();
std::string StationName();   // host name
// The station's id for the records: VARNEL_STATION_ID, else key station_id of
// section [records] in records.ini (user's, then /etc), else the host name.
std::string ConfiguredStationId();
std::string SoftwareVersion();  // this program's version, "0.1.0"
std::string OperatorName();  // login name

// Text for a server that takes only UTF-8 without NUL: ServerSafeText says
// whether `text` already is; EscapeServerText writes every byte that is not
// part of valid UTF-8 (and NUL) as \xNN and a backslash as \\, and
// UnescapeServerText gives the original bytes back. Only fields that need it
// are escaped; the record names them (column escaped_fields).
bool ServerSafeText(const std::string& text);
std::string EscapeServerText(const std::string& text);
std::string UnescapeServerText(const std::string& text);

// CSV of the records (header line, one line per record, RFC 4180 quoting,
// images as hexadecimal). The columns are those of RecordColumns(), in order.
std::string RecordsToCsv(const std::vector<CalibrationRecord>& records);
std::string RecordsCsvHeader();
std::string RecordCsvLine(const CalibrationRecord& record);

}  // namespace varnel
