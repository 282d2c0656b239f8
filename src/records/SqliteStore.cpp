// The SQLite record store: one file, nothing to set up. Several programs may
// write to the same file at once (WAL journal, busy timeout); each record is
// one IMMEDIATE transaction.
#include <sqlite3.h>

#include <mutex>

#include "records/RecordColumns.h"
#include "records/RecordStore.h"
#include "records/SqliteStore.h"

namespace varnel {

namespace {

// Numbered schema migrations; index i holds version i + 1. Append only.
const std::vector<std::string>& Migrations() {
    static const std::vector<std::string> kMigrations = {
        // 1: the records
        CreateRecordTableSql(SqlDialect::Sqlite),
        // 2: the history of one radio is looked up by serial or model
        "CREATE INDEX calibration_record_serial ON calibration_record (serial, recorded_at);"
        "CREATE INDEX calibration_record_model ON calibration_record (model_name, recorded_at)",
        // 3: a local queue keeps here the records its server refused for their
        // content, with the server's reason; they are no longer sent
        "CREATE TABLE set_aside_record (uid TEXT PRIMARY KEY, reason TEXT NOT NULL, set_aside_at TEXT NOT NULL)",
        // 4: traceability of every record (station, fixture, instrument,
        // procedure, limits, verdict, retests)
        AddedColumnsSql(SqlDialect::Sqlite, 4),
        // 5: the hash of the path-loss table, which only the first record
        // of a run holds
        AddedColumnsSql(SqlDialect::Sqlite, 5),
        // 6: what a record is marked with (record_flag)
        AddedColumnsSql(SqlDialect::Sqlite, 6),
    };
    return kMigrations;
}

const std::string& SelectColumns() {
    static const std::string kColumns = ColumnListSql(NewestColumnVersion(), true);
    return kColumns;
}

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) { rc_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return rc_ == SQLITE_OK; }
    sqlite3_stmt* get() { return stmt_; }
    void text(int i, const std::string& s) { sqlite3_bind_text(stmt_, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT); }
    void integer(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    void optionalInt(int i, int v) {
        if (v < 0) sqlite3_bind_null(stmt_, i);
        else sqlite3_bind_int64(stmt_, i, v);
    }
    void optionalReal(int i, const std::optional<double>& v) {
        if (!v) sqlite3_bind_null(stmt_, i);
        else sqlite3_bind_double(stmt_, i, *v);
    }
    void blob(int i, const std::vector<std::uint8_t>& b) {
        if (b.empty()) sqlite3_bind_null(stmt_, i);
        else sqlite3_bind_blob(stmt_, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_ERROR;
};

std::string ColumnText(sqlite3_stmt* s, int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
             : std::string();
}
int ColumnOptionalInt(sqlite3_stmt* s, int i) {
    return sqlite3_column_type(s, i) == SQLITE_NULL ? -1 : sqlite3_column_int(s, i);
}
std::vector<std::uint8_t> ColumnBlob(sqlite3_stmt* s, int i) {
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, i));
    const int n = sqlite3_column_bytes(s, i);
    return p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
}

CalibrationRecord ReadRow(sqlite3_stmt* s) {
    CalibrationRecord r;
    int i = 0;
    for (const RecordColumn& c : RecordColumns()) {
        switch (c.kind) {
            case ColumnKind::Id: r.id = sqlite3_column_int64(s, i); break;
            case ColumnKind::Text: r.*c.text = ColumnText(s, i); break;
            case ColumnKind::Int: r.*c.number = sqlite3_column_int(s, i); break;
            case ColumnKind::OptionalInt: r.*c.number = ColumnOptionalInt(s, i); break;
            case ColumnKind::OptionalReal:
                if (sqlite3_column_type(s, i) != SQLITE_NULL) r.*c.real = sqlite3_column_double(s, i);
                break;
            case ColumnKind::Blob: r.*c.bytes = ColumnBlob(s, i); break;
        }
        ++i;
    }
    return r;
}

// Binds the record's fields to the insert's placeholders, in column order.
void BindRecord(Statement& ins, const CalibrationRecord& record) {
    int i = 1;
    for (const RecordColumn& c : RecordColumns()) {
        switch (c.kind) {
            case ColumnKind::Id: continue;
            case ColumnKind::Text: ins.text(i, record.*c.text); break;
            case ColumnKind::Int: ins.integer(i, record.*c.number); break;
            case ColumnKind::OptionalInt: ins.optionalInt(i, record.*c.number); break;
            case ColumnKind::OptionalReal: ins.optionalReal(i, record.*c.real); break;
            case ColumnKind::Blob: ins.blob(i, record.*c.bytes); break;
        }
        ++i;
    }
}

const std::string& InsertSql() {
    static const std::string kInsert = [] {
        std::string marks;
        for (const RecordColumn& c : RecordColumns())
            if (c.kind != ColumnKind::Id) marks += marks.empty() ? "?" : ",?";
        return "INSERT OR IGNORE INTO calibration_record (" + ColumnListSql(NewestColumnVersion(), false) +
               ") VALUES (" + marks + ")";
    }();
    return kInsert;
}

class SqliteStore final : public SqliteRecordStore {
public:
    SqliteStore(sqlite3* db, std::filesystem::path file) : db_(db), file_(std::move(file)) {}
    ~SqliteStore() override { sqlite3_close(db_); }

    Error Migrate() {
        if (Error e = Exec("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)"); !e.ok())
            return e;
        // One writer migrates at a time; the others wait and then find nothing to do.
        if (Error e = Exec("BEGIN IMMEDIATE"); !e.ok()) return e;
        int current = 0;
        {
            Statement q(db_, "SELECT COALESCE(MAX(version), 0) FROM schema_migrations");
            if (q.ok() && sqlite3_step(q.get()) == SQLITE_ROW) current = sqlite3_column_int(q.get(), 0);
        }
        const auto& migrations = Migrations();
        for (int v = current + 1; v <= static_cast<int>(migrations.size()); ++v) {
            Error e = Exec(migrations[static_cast<std::size_t>(v - 1)]);
            if (e.ok()) {
                Statement ins(db_, "INSERT INTO schema_migrations (version, applied_at) VALUES (?, ?)");
                ins.integer(1, v);
                ins.text(2, UtcTimestampNow());
                if (sqlite3_step(ins.get()) != SQLITE_DONE) e = Failure("cannot record the schema version");
            }
            if (!e.ok()) {
                Exec("ROLLBACK");
                return e.wrap("schema migration " + std::to_string(v) + " failed");
            }
        }
        return Exec("COMMIT");
    }

    Error append(CalibrationRecord& record) override {
        std::lock_guard lock(mutex_);
        if (Error e = Exec("BEGIN IMMEDIATE"); !e.ok()) return e.wrap("cannot store the record");
        Statement ins(db_, InsertSql());
        if (!ins.ok()) {
            Exec("ROLLBACK");
            return Failure("cannot prepare the insert");
        }
        BindRecord(ins, record);
        if (sqlite3_step(ins.get()) != SQLITE_DONE) {
            Error e = Failure("cannot store the record");
            Exec("ROLLBACK");
            return e;
        }
        Statement id(db_, "SELECT id FROM calibration_record WHERE uid = ?");
        id.text(1, record.uid);
        if (id.ok() && sqlite3_step(id.get()) == SQLITE_ROW) record.id = sqlite3_column_int64(id.get(), 0);
        return Exec("COMMIT");
    }

    Result<std::vector<CalibrationRecord>> list(const RecordFilter& filter) override {
        std::vector<CalibrationRecord> out;
        Error e = forEach(filter, [&](const CalibrationRecord& r) {
            out.push_back(r);
            return true;
        });
        if (!e.ok()) return e;
        return out;
    }

    Error forEach(const RecordFilter& filter, const std::function<bool(const CalibrationRecord&)>& each) override {
        std::lock_guard lock(mutex_);
        std::string sql = "SELECT " + SelectColumns() + " FROM calibration_record WHERE 1=1";
        std::vector<std::string> args;
        const auto add = [&](const std::string& value, const char* clause) {
            if (value.empty()) return;
            sql += clause;
            args.push_back(value);
        };
        add(filter.serial, " AND serial = ?");
        add(filter.modelName, " AND model_name = ?");
        add(filter.firmware, " AND firmware = ?");
        add(filter.event, " AND event = ?");
        add(filter.since, " AND recorded_at >= ?");
        add(filter.until, " AND recorded_at < ?");
        sql += filter.newestFirst ? " ORDER BY id DESC" : " ORDER BY id";
        if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
        Statement q(db_, sql);
        if (!q.ok()) return Failure("cannot list the records");
        for (std::size_t i = 0; i < args.size(); ++i) q.text(static_cast<int>(i + 1), args[i]);
        int rc;
        while ((rc = sqlite3_step(q.get())) == SQLITE_ROW)
            if (!each(ReadRow(q.get()))) return {};
        if (rc != SQLITE_DONE) return Failure("cannot list the records");
        return {};
    }

    Result<CalibrationRecord> get(std::int64_t id) override {
        std::lock_guard lock(mutex_);
        Statement q(db_, "SELECT " + SelectColumns() + " FROM calibration_record WHERE id = ?");
        q.integer(1, id);
        if (!q.ok()) return Failure("cannot read the record");
        if (sqlite3_step(q.get()) != SQLITE_ROW)
            return Error::make(ErrorCode::NotFound, "no record with id %1", std::to_string(id));
        return ReadRow(q.get());
    }

    int schemaVersion() override {
        std::lock_guard lock(mutex_);
        Statement q(db_, "SELECT COALESCE(MAX(version), 0) FROM schema_migrations");
        return q.ok() && sqlite3_step(q.get()) == SQLITE_ROW ? sqlite3_column_int(q.get(), 0) : 0;
    }

    std::string describe() const override { return "SQLite " + file_.string(); }

    Error remove(const std::string& uid) override {
        std::lock_guard lock(mutex_);
        Statement del(db_, "DELETE FROM calibration_record WHERE uid = ?");
        del.text(1, uid);
        if (!del.ok() || sqlite3_step(del.get()) != SQLITE_DONE) return Failure("cannot remove a queued record");
        return {};
    }

    Result<std::vector<CalibrationRecord>> waiting() override {
        std::lock_guard lock(mutex_);
        Statement q(db_, "SELECT " + SelectColumns() +
                             " FROM calibration_record WHERE uid NOT IN (SELECT uid FROM set_aside_record) ORDER BY id");
        if (!q.ok()) return Failure("cannot list the queued records");
        std::vector<CalibrationRecord> out;
        int rc;
        while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) out.push_back(ReadRow(q.get()));
        if (rc != SQLITE_DONE) return Failure("cannot list the queued records");
        return out;
    }

    Error setAside(const std::string& uid, const std::string& reason) override {
        std::lock_guard lock(mutex_);
        Statement ins(db_, "INSERT OR REPLACE INTO set_aside_record (uid, reason, set_aside_at) VALUES (?, ?, ?)");
        ins.text(1, uid);
        ins.text(2, reason);
        ins.text(3, UtcTimestampNow());
        if (!ins.ok() || sqlite3_step(ins.get()) != SQLITE_DONE) return Failure("cannot set a refused record aside");
        return {};
    }

    std::size_t count() override {
        return CountOf("SELECT COUNT(*) FROM calibration_record WHERE uid NOT IN (SELECT uid FROM set_aside_record)");
    }
    std::size_t countSetAside() override {
        return CountOf("SELECT COUNT(*) FROM calibration_record WHERE uid IN (SELECT uid FROM set_aside_record)");
    }

    std::size_t countWaitingOf(const std::vector<std::string>& uids) override {
        std::lock_guard lock(mutex_);
        Statement q(db_, "SELECT COUNT(*) FROM calibration_record WHERE uid = ? AND uid NOT IN (SELECT uid FROM set_aside_record)");
        if (!q.ok()) return uids.size();
        std::size_t n = 0;
        for (const std::string& uid : uids) {
            sqlite3_reset(q.get());
            q.text(1, uid);
            if (sqlite3_step(q.get()) == SQLITE_ROW) n += sqlite3_column_int64(q.get(), 0) > 0;
        }
        return n;
    }

private:
    std::size_t CountOf(const char* sql) {
        std::lock_guard lock(mutex_);
        Statement q(db_, sql);
        return q.ok() && sqlite3_step(q.get()) == SQLITE_ROW ? static_cast<std::size_t>(sqlite3_column_int64(q.get(), 0)) : 0;
    }
    Error Failure(const std::string& what) const {
        return Error::make(ErrorCode::Database, sqlite3_errmsg(db_), file_.string()).wrap(what);
    }
    Error Exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            Error e = Error::make(ErrorCode::Database, message ? message : "SQLite error", file_.string());
            sqlite3_free(message);
            return e;
        }
        return {};
    }

    sqlite3* db_;
    std::filesystem::path file_;
    std::mutex mutex_;
};

}  // namespace

int SqliteSchemaVersions() { return static_cast<int>(Migrations().size()); }

Result<std::unique_ptr<SqliteRecordStore>> OpenSqliteRecordStore(const std::filesystem::path& file) {
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(file.string().c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        Error e = Error::make(ErrorCode::Database, db ? sqlite3_errmsg(db) : "cannot open", file.string())
                      .wrap("cannot open the records file");
        sqlite3_close(db);
        return e;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    auto store = std::make_unique<SqliteStore>(db, file);
    if (Error e = store->Migrate(); !e.ok()) return e.wrap("cannot prepare the records file", file.string());
    return std::unique_ptr<SqliteRecordStore>(std::move(store));
}

Result<std::unique_ptr<RecordStore>> OpenSqliteStore(const std::filesystem::path& file) {
    auto store = OpenSqliteRecordStore(file);
    if (!store) return store.error();
    return std::unique_ptr<RecordStore>(std::move(*store));
}

}  // namespace varnel
