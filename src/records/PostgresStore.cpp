// The PostgreSQL record store: one database shared by every station of a
// line. A broken connection is re-established on the next call; the caller
// (QueuedStore) keeps the records that could not be sent.
#include <libpq-fe.h>

#include <cstdlib>
#include <mutex>

#include "records/PostgresStore.h"
#include "records/RecordStore.h"

namespace varnel {

namespace {

// Numbered schema migrations; index i holds version i + 1. Append only.
const std::vector<std::string>& Migrations() {
    static const std::vector<std::string> kMigrations = {
        // 1: the records
        "CREATE TABLE calibration_record ("
        " id BIGSERIAL PRIMARY KEY,"
        " uid TEXT NOT NULL UNIQUE,"
        " session TEXT NOT NULL DEFAULT '',"
        " recorded_at TEXT NOT NULL,"
        " station TEXT NOT NULL,"
        " operator TEXT NOT NULL,"
        " model_name TEXT NOT NULL,"
        " firmware TEXT NOT NULL,"
        " model_code INTEGER NOT NULL,"
        " model_variant INTEGER NOT NULL,"
        " serial TEXT NOT NULL DEFAULT '',"
        " event TEXT NOT NULL,"
        " item INTEGER, band INTEGER, point INTEGER, old_value INTEGER, new_value INTEGER,"
        " image_at_entry BYTEA, image_now BYTEA,"
        " detail TEXT NOT NULL DEFAULT '')",
        // 2: the history of one radio is looked up by serial or model
        "CREATE INDEX calibration_record_serial ON calibration_record (serial, recorded_at);"
        "CREATE INDEX calibration_record_model ON calibration_record (model_name, recorded_at)",
    };
    return kMigrations;
}

// Any number; serialises the migrations of stations that start at once.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(7461023)";

constexpr const char* kColumns =
    "id, uid, session, recorded_at, station, operator, model_name, firmware, model_code, model_variant,"
    " serial, event, item, band, point, old_value, new_value, image_at_entry, image_now, detail";

struct ResultGuard {
    PGresult* r;
    explicit ResultGuard(PGresult* result) : r(result) {}
    ~ResultGuard() { PQclear(r); }
    ResultGuard(const ResultGuard&) = delete;
    ResultGuard& operator=(const ResultGuard&) = delete;
};

std::string Trimmed(const char* message) {
    std::string s = message ? message : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s.empty() ? std::string("PostgreSQL error") : s;
}

int OptionalInt(PGresult* r, int row, int col) {
    return PQgetisnull(r, row, col) ? -1 : std::atoi(PQgetvalue(r, row, col));
}
std::vector<std::uint8_t> Bytea(PGresult* r, int row, int col) {
    if (PQgetisnull(r, row, col)) return {};
    std::size_t n = 0;
    unsigned char* p = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, col)), &n);
    std::vector<std::uint8_t> out(p, p + n);
    PQfreemem(p);
    return out;
}

CalibrationRecord ReadRow(PGresult* r, int row) {
    CalibrationRecord c;
    c.id = std::atoll(PQgetvalue(r, row, 0));
    c.uid = PQgetvalue(r, row, 1);
    c.session = PQgetvalue(r, row, 2);
    c.recordedAt = PQgetvalue(r, row, 3);
    c.station = PQgetvalue(r, row, 4);
    c.operatorName = PQgetvalue(r, row, 5);
    c.modelName = PQgetvalue(r, row, 6);
    c.firmware = PQgetvalue(r, row, 7);
    c.modelCode = std::atoi(PQgetvalue(r, row, 8));
    c.modelVariant = std::atoi(PQgetvalue(r, row, 9));
    c.serial = PQgetvalue(r, row, 10);
    c.event = PQgetvalue(r, row, 11);
    c.item = OptionalInt(r, row, 12);
    c.band = OptionalInt(r, row, 13);
    c.point = OptionalInt(r, row, 14);
    c.oldValue = OptionalInt(r, row, 15);
    c.newValue = OptionalInt(r, row, 16);
    c.imageAtEntry = Bytea(r, row, 17);
    c.imageNow = Bytea(r, row, 18);
    c.detail = PQgetvalue(r, row, 19);
    return c;
}

// The connection string without its password, for messages.
std::string Redacted(const std::string& connection) {
    PQconninfoOption* options = PQconninfoParse(connection.c_str(), nullptr);
    if (!options) return "(unreadable connection string)";
    std::string out;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val || !*o->val || std::string(o->keyword) == "password") continue;
        if (!out.empty()) out += ' ';
        out += std::string(o->keyword) + '=' + o->val;
    }
    PQconninfoFree(options);
    return out;
}

class PostgresStore final : public RecordStore {
public:
    explicit PostgresStore(std::string connection)
        : connection_(std::move(connection)), described_("PostgreSQL " + Redacted(connection_)) {}
    ~PostgresStore() override {
        if (conn_) PQfinish(conn_);
    }

    Error Connect() {
        if (conn_ && PQstatus(conn_) == CONNECTION_OK) return {};
        if (conn_) {
            PQreset(conn_);
        } else {
            // Our short timeout first, so that one in the string wins.
            const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
            const char* values[] = {"3", "varnel-tuner", connection_.c_str(), nullptr};
            conn_ = PQconnectdbParams(keys, values, 1);
        }
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            return Error::Make(ErrorCode::Database, conn_ ? Trimmed(PQerrorMessage(conn_)) : "out of memory",
                               described_)
                .Wrap("cannot reach the records server");
        }
        PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
        return {};
    }

    Error Migrate() {
        std::lock_guard lock(mutex_);
        if (Error e = Connect(); !e.ok()) return e;
        if (Error e = Exec("BEGIN"); !e.ok()) return e;
        Error e = Exec(kMigrationLock);
        if (e.ok())
            e = Exec("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)");
        int current = 0;
        if (e.ok()) {
            ResultGuard r(PQexec(conn_, "SELECT COALESCE(MAX(version), 0) FROM schema_migrations"));
            if (PQresultStatus(r.r) == PGRES_TUPLES_OK) current = std::atoi(PQgetvalue(r.r, 0, 0));
            else e = Failure("cannot read the schema version");
        }
        const auto& migrations = Migrations();
        for (int v = current + 1; e.ok() && v <= static_cast<int>(migrations.size()); ++v) {
            e = Exec(migrations[static_cast<std::size_t>(v - 1)]);
            if (e.ok()) {
                const std::string version = std::to_string(v);
                const std::string when = UtcTimestampNow();
                const char* params[] = {version.c_str(), when.c_str()};
                ResultGuard r(PQexecParams(conn_, "INSERT INTO schema_migrations (version, applied_at) VALUES ($1, $2)",
                                           2, nullptr, params, nullptr, nullptr, 0));
                if (PQresultStatus(r.r) != PGRES_COMMAND_OK) e = Failure("cannot record the schema version");
            }
            if (!e.ok()) e.Wrap("schema migration " + std::to_string(v) + " failed");
        }
        if (!e.ok()) {
            Exec("ROLLBACK");
            return e;
        }
        return Exec("COMMIT");
    }

    Error Append(CalibrationRecord& record) override {
        std::lock_guard lock(mutex_);
        if (Error e = Connect(); !e.ok()) return e;
        const std::string modelCode = std::to_string(record.modelCode);
        const std::string modelVariant = std::to_string(record.modelVariant);
        const std::string ints[5] = {std::to_string(record.item), std::to_string(record.band),
                                     std::to_string(record.point), std::to_string(record.oldValue),
                                     std::to_string(record.newValue)};
        const int values5[5] = {record.item, record.band, record.point, record.oldValue, record.newValue};
        const char* params[19];
        int lengths[19] = {};
        int formats[19] = {};
        params[0] = record.uid.c_str();
        params[1] = record.session.c_str();
        params[2] = record.recordedAt.c_str();
        params[3] = record.station.c_str();
        params[4] = record.operatorName.c_str();
        params[5] = record.modelName.c_str();
        params[6] = record.firmware.c_str();
        params[7] = modelCode.c_str();
        params[8] = modelVariant.c_str();
        params[9] = record.serial.c_str();
        params[10] = record.event.c_str();
        for (int i = 0; i < 5; ++i) params[11 + i] = values5[i] < 0 ? nullptr : ints[i].c_str();
        const auto blob = [&](int i, const std::vector<std::uint8_t>& b) {
            params[i] = b.empty() ? nullptr : reinterpret_cast<const char*>(b.data());
            lengths[i] = static_cast<int>(b.size());
            formats[i] = 1;
        };
        blob(16, record.imageAtEntry);
        blob(17, record.imageNow);
        params[18] = record.detail.c_str();
        // One statement, one transaction: insert unless the uid is there, and
        // give the id either way.
        ResultGuard r(PQexecParams(
            conn_,
            "WITH ins AS (INSERT INTO calibration_record (uid, session, recorded_at, station, operator,"
            " model_name, firmware, model_code, model_variant, serial, event, item, band, point,"
            " old_value, new_value, image_at_entry, image_now, detail)"
            " VALUES ($1,$2,$3,$4,$5,$6,$7,$8::integer,$9::integer,$10,$11,$12::integer,$13::integer,"
            "$14::integer,$15::integer,$16::integer,$17::bytea,$18::bytea,$19)"
            " ON CONFLICT (uid) DO NOTHING RETURNING id)"
            " SELECT id FROM ins UNION ALL SELECT id FROM calibration_record WHERE uid = $1 LIMIT 1",
            19, nullptr, params, lengths, formats, 0));
        if (PQresultStatus(r.r) != PGRES_TUPLES_OK) return Failure("cannot store the record");
        if (PQntuples(r.r) > 0) record.id = std::atoll(PQgetvalue(r.r, 0, 0));
        return {};
    }

    Result<std::vector<CalibrationRecord>> List(const RecordFilter& filter) override {
        std::lock_guard lock(mutex_);
        if (Error e = Connect(); !e.ok()) return e;
        std::string sql = std::string("SELECT ") + kColumns + " FROM calibration_record WHERE TRUE";
        std::vector<std::string> args;
        const auto add = [&](const std::string& value, const char* clause) {
            if (value.empty()) return;
            args.push_back(value);
            sql += clause + std::to_string(args.size());
        };
        add(filter.serial, " AND serial = $");
        add(filter.modelName, " AND model_name = $");
        add(filter.event, " AND event = $");
        add(filter.since, " AND recorded_at >= $");
        add(filter.until, " AND recorded_at < $");
        sql += " ORDER BY id";
        if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
        std::vector<const char*> params;
        for (const auto& a : args) params.push_back(a.c_str());
        ResultGuard r(PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                                   nullptr, nullptr, 0));
        if (PQresultStatus(r.r) != PGRES_TUPLES_OK) return Failure("cannot list the records");
        std::vector<CalibrationRecord> out;
        for (int i = 0; i < PQntuples(r.r); ++i) out.push_back(ReadRow(r.r, i));
        return out;
    }

    Result<CalibrationRecord> Get(std::int64_t id) override {
        std::lock_guard lock(mutex_);
        if (Error e = Connect(); !e.ok()) return e;
        const std::string text = std::to_string(id);
        const char* params[] = {text.c_str()};
        ResultGuard r(PQexecParams(conn_, (std::string("SELECT ") + kColumns + " FROM calibration_record WHERE id = $1::bigint").c_str(),
                                   1, nullptr, params, nullptr, nullptr, 0));
        if (PQresultStatus(r.r) != PGRES_TUPLES_OK) return Failure("cannot read the record");
        if (PQntuples(r.r) == 0) return Error::Make(ErrorCode::NotFound, "no record with id %1", text);
        return ReadRow(r.r, 0);
    }

    int SchemaVersion() override {
        std::lock_guard lock(mutex_);
        if (!Connect().ok()) return 0;
        ResultGuard r(PQexec(conn_, "SELECT COALESCE(MAX(version), 0) FROM schema_migrations"));
        return PQresultStatus(r.r) == PGRES_TUPLES_OK ? std::atoi(PQgetvalue(r.r, 0, 0)) : 0;
    }

    std::string Describe() const override { return described_; }

private:
    Error Failure(const std::string& what) const {
        return Error::Make(ErrorCode::Database, Trimmed(PQerrorMessage(conn_)), described_).Wrap(what);
    }
    Error Exec(const std::string& sql) {
        ResultGuard r(PQexec(conn_, sql.c_str()));
        const ExecStatusType status = PQresultStatus(r.r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            return Error::Make(ErrorCode::Database, Trimmed(PQerrorMessage(conn_)), described_);
        return {};
    }

    std::string connection_;
    std::string described_;
    PGconn* conn_ = nullptr;
    std::mutex mutex_;
};

}  // namespace

int PostgresSchemaVersions() { return static_cast<int>(Migrations().size()); }

Result<std::unique_ptr<RecordStore>> OpenPostgresStore(const std::string& connection) {
    auto store = std::make_unique<PostgresStore>(connection);
    if (Error e = store->Migrate(); !e.ok()) return e;
    return std::unique_ptr<RecordStore>(std::move(store));
}

std::unique_ptr<RecordStore> NewPostgresStoreUnconnected(const std::string& connection) {
    return std::make_unique<PostgresStore>(connection);
}

Error MigratePostgresStore(RecordStore& store) { return static_cast<PostgresStore&>(store).Migrate(); }

}  // namespace varnel
