// The PostgreSQL record store: one database shared by every station of a
// line. A broken connection is re-established on the next call; the caller
// (QueuedStore) keeps the records that could not be sent.
//
// libpq is used without blocking: the connection is made with
// PQconnectStartParams / PQconnectPoll and every statement is sent with
// PQsend* and its results collected with PQconsumeInput, each wait a poll()
// on the connection's socket bounded by a deadline. A server that accepts and
// then stops answering (stopped, swapped out, a dead link behind a router)
// therefore costs one statement's time-out, after which the connection is
// dropped; the server's own statement_timeout cannot help there, since a
// stopped server does not run it. TCP keepalives and tcp_user_timeout notice
// a link that died while the connection was idle.
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include "records/PostgresStore.h"
#include "records/RecordColumns.h"
#include "records/RecordStore.h"

namespace varnel {

namespace {

// Numbered schema migrations; index i holds version i + 1. Append only.
const std::vector<std::string>& Migrations() {
    static const std::vector<std::string> kMigrations = {
        // 1: the records
        CreateRecordTableSql(SqlDialect::Postgres),
        // 2: the history of one radio is looked up by serial or model
        "CREATE INDEX calibration_record_serial ON calibration_record (serial, recorded_at);"
        "CREATE INDEX calibration_record_model ON calibration_record (model_name, recorded_at)",
        // 3: text fields that held bytes the server cannot store (not UTF-8,
        // NUL) are kept escaped (EscapeServerText); the names of those fields
        "ALTER TABLE calibration_record ADD COLUMN escaped_fields TEXT NOT NULL DEFAULT ''",
        // 4: traceability of every record (station, fixture, instrument,
        // procedure, limits, verdict, retests)
        AddedColumnsSql(SqlDialect::Postgres, 4),
        // 5: the hash of the path-loss table, which only the first record
        // of a run holds
        AddedColumnsSql(SqlDialect::Postgres, 5),
        // 6: what a record is marked with (record_flag)
        AddedColumnsSql(SqlDialect::Postgres, 6),
    };
    return kMigrations;
}

// Any number; serialises the migrations of stations that start at once.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(7461023)";

// The record's columns, then the names of its escaped fields.
const std::string& SelectColumns() {
    static const std::string kColumns = ColumnListSql(NewestColumnVersion(), true) + ", escaped_fields";
    return kColumns;
}

// One statement, one transaction: insert unless the uid is there, and give
// the id either way.
const std::string& InsertSql() {
    static const std::string kInsert = [] {
        std::string values;
        int n = 0;
        for (const RecordColumn& c : RecordColumns()) {
            if (c.kind == ColumnKind::Id) continue;
            if (n > 0) values += ',';
            values += '$' + std::to_string(++n);
            if (c.kind == ColumnKind::Int || c.kind == ColumnKind::OptionalInt) values += "::integer";
            if (c.kind == ColumnKind::OptionalReal) values += "::double precision";
            if (c.kind == ColumnKind::Blob) values += "::bytea";
        }
        values += ",$" + std::to_string(++n);
        return "WITH ins AS (INSERT INTO calibration_record (" + ColumnListSql(NewestColumnVersion(), false) +
               ", escaped_fields) VALUES (" + values +
               ") ON CONFLICT (uid) DO NOTHING RETURNING id)"
               " SELECT id FROM ins UNION ALL SELECT id FROM calibration_record WHERE uid = $1 LIMIT 1";
    }();
    return kInsert;
}

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

using Clock = std::chrono::steady_clock;

// The record with every text field the server could not store escaped, and
// the names of those fields ("detail,station"), empty when none.
CalibrationRecord ForServer(const CalibrationRecord& record, std::string& escaped) {
    CalibrationRecord out = record;
    escaped.clear();
    for (const RecordColumn& f : RecordColumns()) {
        if (f.kind != ColumnKind::Text || ServerSafeText(record.*f.text)) continue;
        out.*f.text = EscapeServerText(record.*f.text);
        if (!escaped.empty()) escaped += ',';
        escaped += f.name;
    }
    return out;
}

// Gives the fields named in `escaped` their original bytes back.
void FromServer(CalibrationRecord& record, const std::string& escaped) {
    if (escaped.empty()) return;
    std::size_t from = 0;
    while (from <= escaped.size()) {
        const std::size_t comma = escaped.find(',', from);
        const std::string name = escaped.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        for (const RecordColumn& f : RecordColumns())
            if (f.kind == ColumnKind::Text && name == f.name) record.*f.text = UnescapeServerText(record.*f.text);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
}

std::string Seconds(std::chrono::milliseconds d) {
    const auto ms = d.count();
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

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
    int col = 0;
    for (const RecordColumn& f : RecordColumns()) {
        const char* value = PQgetvalue(r, row, col);
        switch (f.kind) {
            case ColumnKind::Id: c.id = std::atoll(value); break;
            case ColumnKind::Text: c.*f.text = value; break;
            case ColumnKind::Int: c.*f.number = std::atoi(value); break;
            case ColumnKind::OptionalInt: c.*f.number = OptionalInt(r, row, col); break;
            case ColumnKind::OptionalReal:
                if (!PQgetisnull(r, row, col)) c.*f.real = std::strtod(value, nullptr);
                break;
            case ColumnKind::Blob: c.*f.bytes = Bytea(r, row, col); break;
        }
        ++col;
    }
    FromServer(c, PQgetvalue(r, row, col));
    return c;
}

// A number as text that reads back as the same double.
std::string RealText(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
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
    // `bounded`: the time-outs given are the most any wait may take.
    PostgresStore(std::string connection, const ServerTimeouts& timeouts, bool bounded = false)
        : connection_(std::move(connection)), described_("PostgreSQL " + Redacted(connection_)),
          timeouts_(timeouts) {
        // A connect_timeout in the connection string is the operator's choice.
        if (PQconninfoOption* options = PQconninfoParse(connection_.c_str(), nullptr)) {
            for (PQconninfoOption* o = options; o->keyword; ++o) {
                if (std::strcmp(o->keyword, "connect_timeout") == 0 && o->val && *o->val) {
                    const long seconds = std::strtol(o->val, nullptr, 10);
                    const std::chrono::milliseconds chosen = std::chrono::seconds(seconds);
                    if (seconds > 0 && (!bounded || chosen < timeouts_.connect)) timeouts_.connect = chosen;
                }
            }
            PQconninfoFree(options);
        }
    }
    ~PostgresStore() override { Drop(); }

    // Makes every wait end at once (the store is going away).
    void Interrupt() { interrupted_ = true; }

    bool TimedOut() {
        std::lock_guard lock(mutex_);
        return timedOut_;
    }

    Error Ping() {
        std::lock_guard lock(mutex_);
        return WithConnection([&]() -> Error {
            auto r = query("SELECT 1", {});
            return r ? Error{} : r.error().wrapped("the records server does not answer");
        });
    }

    Error Migrate() {
        std::lock_guard lock(mutex_);
        return WithConnection([&]() -> Error {
            if (Error e = Exec("BEGIN"); !e.ok()) return e;
            Error e = Exec(kMigrationLock);
            if (e.ok())
                e = Exec("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)");
            int current = 0;
            if (e.ok()) {
                auto r = query("SELECT COALESCE(MAX(version), 0) FROM schema_migrations", {});
                if (r) current = std::atoi(PQgetvalue(r->get(), 0, 0));
                else e = r.error().wrapped("cannot read the schema version");
            }
            const auto& migrations = Migrations();
            for (int v = current + 1; e.ok() && v <= static_cast<int>(migrations.size()); ++v) {
                e = Exec(migrations[static_cast<std::size_t>(v - 1)]);
                if (e.ok()) {
                    const std::string version = std::to_string(v);
                    const std::string when = UtcTimestampNow();
                    auto r = query("INSERT INTO schema_migrations (version, applied_at) VALUES ($1, $2)",
                                   {version.c_str(), when.c_str()}, PGRES_COMMAND_OK);
                    if (!r) e = r.error().wrapped("cannot record the schema version");
                }
                if (!e.ok()) e.wrap("schema migration " + std::to_string(v) + " failed");
            }
            if (!e.ok()) {
                if (conn_) (void)Exec("ROLLBACK");
                return e;
            }
            return Exec("COMMIT");
        });
    }

    Error append(CalibrationRecord& original) override {
        std::lock_guard lock(mutex_);
        std::string escaped;
        const CalibrationRecord record = ForServer(original, escaped);
        // The parameters in column order; numbers as text, images binary.
        std::vector<std::string> texts;
        std::vector<const char*> params;
        std::vector<int> lengths, formats;
        texts.reserve(RecordColumns().size() + 1);
        for (const RecordColumn& c : RecordColumns()) {
            const char* value = nullptr;
            int length = 0, format = 0;
            switch (c.kind) {
                case ColumnKind::Id: continue;
                case ColumnKind::Text: value = (record.*c.text).c_str(); break;
                case ColumnKind::Int:
                case ColumnKind::OptionalInt:
                    if (c.kind == ColumnKind::Int || record.*c.number >= 0)
                        value = texts.emplace_back(std::to_string(record.*c.number)).c_str();
                    break;
                case ColumnKind::OptionalReal:
                    if (record.*c.real) value = texts.emplace_back(RealText(*(record.*c.real))).c_str();
                    break;
                case ColumnKind::Blob: {
                    const std::vector<std::uint8_t>& b = record.*c.bytes;
                    value = b.empty() ? nullptr : reinterpret_cast<const char*>(b.data());
                    length = static_cast<int>(b.size());
                    format = 1;
                    break;
                }
            }
            params.push_back(value);
            lengths.push_back(length);
            formats.push_back(format);
        }
        params.push_back(escaped.c_str());
        lengths.push_back(0);
        formats.push_back(0);
        // Sent again once on a connection found broken: the uid keeps it
        // from being stored twice.
        return WithConnection([&]() -> Error {
            auto r = run(
                [&] {
                    return PQsendQueryParams(conn_, InsertSql().c_str(), static_cast<int>(params.size()), nullptr,
                                             params.data(), lengths.data(), formats.data(), 0);
                },
                PGRES_TUPLES_OK);
            if (!r) return r.error().wrapped("cannot store the record");
            if (PQntuples(r->get()) > 0) original.id = std::atoll(PQgetvalue(r->get(), 0, 0));
            return {};
        });
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

    // Through a server-side cursor, kFetchRows rows a statement, each with
    // the statement's time-out. A connection found broken on the way is
    // made again once and the rows go on after the last one given.
    Error forEach(const RecordFilter& filter, const std::function<bool(const CalibrationRecord&)>& each) override {
        std::lock_guard lock(mutex_);
        std::int64_t lastId = 0;
        int given = 0;
        return WithConnection([&]() -> Error {
            std::string sql = "DECLARE varnel_records NO SCROLL CURSOR FOR SELECT " + SelectColumns() +
                              " FROM calibration_record WHERE TRUE";
            std::vector<std::string> args;
            const auto add = [&](const std::string& value, const char* clause) {
                if (value.empty()) return;
                args.push_back(ServerSafeText(value) ? value : EscapeServerText(value));
                sql += clause + std::to_string(args.size());
            };
            add(filter.serial, " AND serial = $");
            add(filter.modelName, " AND model_name = $");
            add(filter.event, " AND event = $");
            add(filter.firmware, " AND firmware = $");
            add(filter.since, " AND recorded_at >= $");
            add(filter.until, " AND recorded_at < $");
            if (lastId > 0) add(std::to_string(lastId), filter.newestFirst ? " AND id < $" : " AND id > $");
            if (lastId > 0) sql += "::bigint";
            sql += filter.newestFirst ? " ORDER BY id DESC" : " ORDER BY id";
            if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit - given);
            std::vector<const char*> params;
            for (const auto& a : args) params.push_back(a.c_str());
            if (Error e = Exec("BEGIN"); !e.ok()) return e.wrap("cannot list the records");
            const auto end = [&](Error e) {
                if (conn_) (void)Exec(e.ok() ? "COMMIT" : "ROLLBACK");
                return e;
            };
            if (auto r = query(sql, params, PGRES_COMMAND_OK); !r) return end(r.error().wrapped("cannot list the records"));
            const std::string fetch = "FETCH " + std::to_string(kFetchRows) + " FROM varnel_records";
            for (;;) {
                auto r = query(fetch, {});
                if (!r) return end(r.error().wrapped("cannot list the records"));
                const int rows = PQntuples(r->get());
                for (int i = 0; i < rows; ++i) {
                    const CalibrationRecord record = ReadRow(r->get(), i);
                    lastId = record.id;
                    ++given;
                    if (!each(record)) return end({});
                }
                if (rows < kFetchRows) return end({});
            }
        });
    }

    Result<CalibrationRecord> get(std::int64_t id) override {
        std::lock_guard lock(mutex_);
        const std::string text = std::to_string(id);
        std::optional<CalibrationRecord> found;
        Error e = WithConnection([&]() -> Error {
            auto r = query("SELECT " + SelectColumns() + " FROM calibration_record WHERE id = $1::bigint",
                           {text.c_str()});
            if (!r) return r.error().wrapped("cannot read the record");
            if (PQntuples(r->get()) > 0) found = ReadRow(r->get(), 0);
            return {};
        });
        if (!e.ok()) return e;
        if (!found) return Error::make(ErrorCode::NotFound, "no record with id %1", text);
        return *found;
    }

    int schemaVersion() override {
        std::lock_guard lock(mutex_);
        int version = 0;
        (void)WithConnection([&]() -> Error {
            auto r = query("SELECT COALESCE(MAX(version), 0) FROM schema_migrations", {});
            if (!r) return r.error();
            version = std::atoi(PQgetvalue(r->get(), 0, 0));
            return {};
        });
        return version;
    }

    std::string describe() const override { return described_; }

private:
    enum class Wait { Ready, TimedOut, Interrupted, Failed };

    // Connects when needed and runs `work`; when the work fails because the
    // connection turned out broken (a server restarted since the last use),
    // connects again and runs it once more. A time-out is not tried again.
    Error WithConnection(const std::function<Error()>& work) {
        for (int attempt = 0;; ++attempt) {
            const bool hadConnection = conn_ != nullptr;
            if (Error e = Connect(); !e.ok()) return e;
            Error e = work();
            if (e.ok() || timedOut_ || interrupted_) return e;
            const bool broken = conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK;
            if (!broken) return e;
            Drop();
            if (!hadConnection || attempt > 0) return e;
        }
    }

    // Waits until the socket is ready for reading (and writing, when asked) or
    // the deadline passes; wakes every 100 ms to see whether it was interrupted.
    Wait WaitSocket(bool forWrite, Clock::time_point deadline) {
        for (;;) {
            if (interrupted_) return Wait::Interrupted;
            const auto now = Clock::now();
            if (now >= deadline) return Wait::TimedOut;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            const int slice = static_cast<int>(std::max<long long>(1, std::min<long long>(left, 100)));
            const int fd = PQsocket(conn_);
            if (fd < 0) return Wait::Failed;
#ifdef _WIN32
            WSAPOLLFD p{static_cast<SOCKET>(fd), static_cast<SHORT>(POLLRDNORM | (forWrite ? POLLWRNORM : 0)), 0};
            const int rc = WSAPoll(&p, 1, slice);
            if (rc > 0) return Wait::Ready;
            if (rc < 0) return Wait::Failed;
#else
            pollfd p{fd, static_cast<short>(POLLIN | (forWrite ? POLLOUT : 0)), 0};
            const int rc = ::poll(&p, 1, slice);
            if (rc > 0) return Wait::Ready;
            if (rc < 0 && errno != EINTR) return Wait::Failed;
#endif
        }
    }

    Error WaitFailure(Wait w, std::chrono::milliseconds budget, const char* what) {
        Error e;
        if (w == Wait::TimedOut) {
            timedOut_ = true;
            e = Error::make(ErrorCode::Database, std::string("the records server did not answer within ") + Seconds(budget),
                            described_);
        } else if (w == Wait::Interrupted) {
            e = Error::make(ErrorCode::Database, "stopped waiting for the records server", described_);
        } else {
            e = Error::make(ErrorCode::Database, conn_ ? Trimmed(PQerrorMessage(conn_)) : "connection lost", described_);
        }
        Drop();
        return e.wrap(what);
    }

    Error Connect() {
        timedOut_ = false;
        if (conn_ && PQstatus(conn_) == CONNECTION_OK) return {};
        Drop();
        // Ours first, so that the same keys in the connection string win.
        const char* keys[] = {"application_name", "keepalives",       "keepalives_idle", "keepalives_interval",
                              "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
        const char* values[] = {"varnel-tuner", "1", "10", "5", "3", "15000", connection_.c_str(), nullptr};
        conn_ = PQconnectStartParams(keys, values, 1);
        if (!conn_) return Error::make(ErrorCode::Database, "out of memory", described_).wrap("cannot reach the records server");
        const auto deadline = Clock::now() + timeouts_.connect;
        PostgresPollingStatusType status = PGRES_POLLING_WRITING;
        while (PQstatus(conn_) != CONNECTION_BAD && status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
            const Wait w = WaitSocket(status == PGRES_POLLING_WRITING, deadline);
            if (w != Wait::Ready) return WaitFailure(w, timeouts_.connect, "cannot reach the records server");
            status = PQconnectPoll(conn_);
        }
        if (PQstatus(conn_) != CONNECTION_OK) {
            Error e = Error::make(ErrorCode::Database, Trimmed(PQerrorMessage(conn_)), described_)
                          .wrap("cannot reach the records server");
            Drop();
            return e;
        }
        PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
        if (PQsetnonblocking(conn_, 1) != 0) {
            Error e = Error::make(ErrorCode::Database, Trimmed(PQerrorMessage(conn_)), described_)
                          .wrap("cannot reach the records server");
            Drop();
            return e;
        }
        // A server that answers but is slow (locks) ends the statement itself.
        const std::string limit = "SET statement_timeout = " + std::to_string(timeouts_.statement.count());
        if (Error e = Exec(limit); !e.ok()) return e.wrap("cannot reach the records server");
        return {};
    }

    void Drop() {
        // In non-blocking mode PQfinish does not wait for the server either.
        if (conn_) PQfinish(conn_);
        conn_ = nullptr;
    }

    // Sends with `send` and collects every result before the statement's
    // deadline; the first failed result wins, else the last one.
    Result<ResultPtr> run(const std::function<int()>& send, ExecStatusType expected) {
        const auto deadline = Clock::now() + timeouts_.statement;
        if (!send()) {
            Error e = Error::make(ErrorCode::Database, Trimmed(PQerrorMessage(conn_)), described_);
            if (PQstatus(conn_) != CONNECTION_OK) Drop();
            return e;
        }
        for (;;) {
            const int flushed = PQflush(conn_);
            if (flushed == 0) break;
            if (flushed < 0) return WaitFailure(Wait::Failed, timeouts_.statement, "cannot send to the records server");
            const Wait w = WaitSocket(true, deadline);
            if (w != Wait::Ready) return WaitFailure(w, timeouts_.statement, "cannot send to the records server");
            if (!PQconsumeInput(conn_)) return WaitFailure(Wait::Failed, timeouts_.statement, "cannot send to the records server");
        }
        ResultPtr kept;
        bool failed = false;
        for (;;) {
            while (PQisBusy(conn_)) {
                const Wait w = WaitSocket(false, deadline);
                if (w != Wait::Ready) return WaitFailure(w, timeouts_.statement, "no answer from the records server");
                if (!PQconsumeInput(conn_)) return WaitFailure(Wait::Failed, timeouts_.statement, "no answer from the records server");
            }
            ResultPtr r(PQgetResult(conn_));
            if (!r) break;
            const ExecStatusType status = PQresultStatus(r.get());
            const bool bad = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
            if (!failed) {
                failed = bad;
                kept = std::move(r);
            }
        }
        if (!kept) return Error::make(ErrorCode::Database, "no result from the records server", described_);
        // Exec asks for PGRES_COMMAND_OK and takes rows too (SELECT pg_advisory_xact_lock).
        if (failed || (expected == PGRES_TUPLES_OK && PQresultStatus(kept.get()) != PGRES_TUPLES_OK))
            return refusal(kept.get());
        return kept;
    }

    // The server's refusal of a statement. A refusal for the record's content
    // (SQLSTATE class 22, data exception, or 23, integrity constraint) is
    // BadData: the same record would be refused again, others would not.
    Error refusal(PGresult* r) {
        const char* message = PQresultErrorMessage(r);
        const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        const bool content = state && (std::strncmp(state, "22", 2) == 0 || std::strncmp(state, "23", 2) == 0) &&
                             conn_ && PQstatus(conn_) == CONNECTION_OK;
        std::string text = Trimmed(message && *message ? message : PQerrorMessage(conn_));
        if (state && *state) text += std::string(" (SQLSTATE ") + state + ")";
        return Error::make(content ? ErrorCode::BadData : ErrorCode::Database, text, described_);
    }

    Result<ResultPtr> query(const std::string& sql, const std::vector<const char*>& params,
                            ExecStatusType expected = PGRES_TUPLES_OK) {
        return run(
            [&] {
                return PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                                         nullptr, nullptr, 0);
            },
            expected);
    }

    // A statement without parameters (may be several, separated by ';').
    Error Exec(const std::string& sql) {
        auto r = run([&] { return PQsendQuery(conn_, sql.c_str()); }, PGRES_COMMAND_OK);
        if (r) return {};
        return r.error();
    }

    static constexpr int kFetchRows = 500;

    std::string connection_;
    std::string described_;
    ServerTimeouts timeouts_;
    PGconn* conn_ = nullptr;
    bool timedOut_ = false;
    std::atomic<bool> interrupted_{false};
    std::mutex mutex_;
};

}  // namespace

int PostgresSchemaVersions() { return static_cast<int>(Migrations().size()); }

Result<std::unique_ptr<RecordStore>> OpenPostgresStore(const std::string& connection,
                                                       const ServerTimeouts& timeouts) {
    auto store = std::make_unique<PostgresStore>(connection, timeouts);
    if (Error e = store->Migrate(); !e.ok()) return e;
    return std::unique_ptr<RecordStore>(std::move(store));
}

std::unique_ptr<RecordStore> NewPostgresStoreUnconnected(const std::string& connection,
                                                         const ServerTimeouts& timeouts) {
    return std::make_unique<PostgresStore>(connection, timeouts);
}

Error MigratePostgresStore(RecordStore& store) { return static_cast<PostgresStore&>(store).Migrate(); }

void InterruptPostgresStore(RecordStore& store) { static_cast<PostgresStore&>(store).Interrupt(); }

std::unique_ptr<RecordStore> NewBoundedPostgresReader(const std::string& connection, std::chrono::milliseconds bound) {
    ServerTimeouts timeouts;
    timeouts.connect = bound;
    timeouts.statement = bound;
    return std::make_unique<PostgresStore>(connection, timeouts, true);
}

bool PostgresStoreTimedOut(RecordStore& store) { return static_cast<PostgresStore&>(store).TimedOut(); }

Error PingPostgresStore(RecordStore& store) { return static_cast<PostgresStore&>(store).Ping(); }

}  // namespace varnel
