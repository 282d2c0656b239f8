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
        // 3: text fields that held bytes the server cannot store (not UTF-8,
        // NUL) are kept escaped (EscapeServerText); the names of those fields
        "ALTER TABLE calibration_record ADD COLUMN escaped_fields TEXT NOT NULL DEFAULT ''",
    };
    return kMigrations;
}

// Any number; serialises the migrations of stations that start at once.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(7461023)";

constexpr const char* kColumns =
    "id, uid, session, recorded_at, station, operator, model_name, firmware, model_code, model_variant,"
    " serial, event, item, band, point, old_value, new_value, image_at_entry, image_now, detail, escaped_fields";

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

using Clock = std::chrono::steady_clock;

// The text fields of a record, by column name, in the order of the insert.
struct TextField {
    const char* column;
    std::string CalibrationRecord::*member;
};
constexpr TextField kTextFields[] = {
    {"uid", &CalibrationRecord::uid},           {"session", &CalibrationRecord::session},
    {"recorded_at", &CalibrationRecord::recordedAt}, {"station", &CalibrationRecord::station},
    {"operator", &CalibrationRecord::operatorName}, {"model_name", &CalibrationRecord::modelName},
    {"firmware", &CalibrationRecord::firmware}, {"serial", &CalibrationRecord::serial},
    {"event", &CalibrationRecord::event},       {"detail", &CalibrationRecord::detail},
};

// The record with every text field the server could not store escaped, and
// the names of those fields ("detail,station"), empty when none.
CalibrationRecord ForServer(const CalibrationRecord& record, std::string& escaped) {
    CalibrationRecord out = record;
    escaped.clear();
    for (const TextField& f : kTextFields) {
        if (ServerSafeText(record.*f.member)) continue;
        out.*f.member = EscapeServerText(record.*f.member);
        if (!escaped.empty()) escaped += ',';
        escaped += f.column;
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
        for (const TextField& f : kTextFields)
            if (name == f.column) record.*f.member = UnescapeServerText(record.*f.member);
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
    FromServer(c, PQgetvalue(r, row, 20));
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
    PostgresStore(std::string connection, const ServerTimeouts& timeouts)
        : connection_(std::move(connection)), described_("PostgreSQL " + Redacted(connection_)),
          timeouts_(timeouts) {
        // A connect_timeout in the connection string is the operator's choice.
        if (PQconninfoOption* options = PQconninfoParse(connection_.c_str(), nullptr)) {
            for (PQconninfoOption* o = options; o->keyword; ++o) {
                if (std::strcmp(o->keyword, "connect_timeout") == 0 && o->val && *o->val) {
                    const long seconds = std::strtol(o->val, nullptr, 10);
                    if (seconds > 0) timeouts_.connect = std::chrono::seconds(seconds);
                }
            }
            PQconninfoFree(options);
        }
    }
    ~PostgresStore() override { Drop(); }

    // Makes every wait end at once (the store is going away).
    void Interrupt() { interrupted_ = true; }

    Error Migrate() {
        std::lock_guard lock(mutex_);
        return WithConnection([&]() -> Error {
            if (Error e = Exec("BEGIN"); !e.ok()) return e;
            Error e = Exec(kMigrationLock);
            if (e.ok())
                e = Exec("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)");
            int current = 0;
            if (e.ok()) {
                auto r = Query("SELECT COALESCE(MAX(version), 0) FROM schema_migrations", {});
                if (r) current = std::atoi(PQgetvalue(r->get(), 0, 0));
                else e = r.error().Wrapped("cannot read the schema version");
            }
            const auto& migrations = Migrations();
            for (int v = current + 1; e.ok() && v <= static_cast<int>(migrations.size()); ++v) {
                e = Exec(migrations[static_cast<std::size_t>(v - 1)]);
                if (e.ok()) {
                    const std::string version = std::to_string(v);
                    const std::string when = UtcTimestampNow();
                    auto r = Query("INSERT INTO schema_migrations (version, applied_at) VALUES ($1, $2)",
                                   {version.c_str(), when.c_str()}, PGRES_COMMAND_OK);
                    if (!r) e = r.error().Wrapped("cannot record the schema version");
                }
                if (!e.ok()) e.Wrap("schema migration " + std::to_string(v) + " failed");
            }
            if (!e.ok()) {
                if (conn_) (void)Exec("ROLLBACK");
                return e;
            }
            return Exec("COMMIT");
        });
    }

    Error Append(CalibrationRecord& original) override {
        std::lock_guard lock(mutex_);
        std::string escaped;
        const CalibrationRecord record = ForServer(original, escaped);
        const std::string modelCode = std::to_string(record.modelCode);
        const std::string modelVariant = std::to_string(record.modelVariant);
        const std::string ints[5] = {std::to_string(record.item), std::to_string(record.band),
                                     std::to_string(record.point), std::to_string(record.oldValue),
                                     std::to_string(record.newValue)};
        const int values5[5] = {record.item, record.band, record.point, record.oldValue, record.newValue};
        const char* params[20];
        int lengths[20] = {};
        int formats[20] = {};
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
        params[19] = escaped.c_str();
        // One statement, one transaction: insert unless the uid is there, and
        // give the id either way. Sent again once on a connection found
        // broken: the uid keeps it from being stored twice.
        return WithConnection([&]() -> Error {
            auto r = Run(
                [&] {
                    return PQsendQueryParams(
                        conn_,
                        "WITH ins AS (INSERT INTO calibration_record (uid, session, recorded_at, station, operator,"
                        " model_name, firmware, model_code, model_variant, serial, event, item, band, point,"
                        " old_value, new_value, image_at_entry, image_now, detail, escaped_fields)"
                        " VALUES ($1,$2,$3,$4,$5,$6,$7,$8::integer,$9::integer,$10,$11,$12::integer,$13::integer,"
                        "$14::integer,$15::integer,$16::integer,$17::bytea,$18::bytea,$19,$20)"
                        " ON CONFLICT (uid) DO NOTHING RETURNING id)"
                        " SELECT id FROM ins UNION ALL SELECT id FROM calibration_record WHERE uid = $1 LIMIT 1",
                        20, nullptr, params, lengths, formats, 0);
                },
                PGRES_TUPLES_OK);
            if (!r) return r.error().Wrapped("cannot store the record");
            if (PQntuples(r->get()) > 0) original.id = std::atoll(PQgetvalue(r->get(), 0, 0));
            return {};
        });
    }

    Result<std::vector<CalibrationRecord>> List(const RecordFilter& filter) override {
        std::lock_guard lock(mutex_);
        std::string sql = std::string("SELECT ") + kColumns + " FROM calibration_record WHERE TRUE";
        std::vector<std::string> args;
        const auto add = [&](const std::string& value, const char* clause) {
            if (value.empty()) return;
            args.push_back(ServerSafeText(value) ? value : EscapeServerText(value));
            sql += clause + std::to_string(args.size());
        };
        add(filter.serial, " AND serial = $");
        add(filter.modelName, " AND model_name = $");
        add(filter.firmware, " AND firmware = $");
        add(filter.event, " AND event = $");
        add(filter.since, " AND recorded_at >= $");
        add(filter.until, " AND recorded_at < $");
        sql += " ORDER BY id";
        if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
        std::vector<const char*> params;
        for (const auto& a : args) params.push_back(a.c_str());
        std::vector<CalibrationRecord> out;
        Error e = WithConnection([&]() -> Error {
            auto r = Query(sql, params);
            if (!r) return r.error().Wrapped("cannot list the records");
            out.clear();
            for (int i = 0; i < PQntuples(r->get()); ++i) out.push_back(ReadRow(r->get(), i));
            return {};
        });
        if (!e.ok()) return e;
        return out;
    }

    Result<CalibrationRecord> Get(std::int64_t id) override {
        std::lock_guard lock(mutex_);
        const std::string text = std::to_string(id);
        std::optional<CalibrationRecord> found;
        Error e = WithConnection([&]() -> Error {
            auto r = Query(std::string("SELECT ") + kColumns + " FROM calibration_record WHERE id = $1::bigint",
                           {text.c_str()});
            if (!r) return r.error().Wrapped("cannot read the record");
            if (PQntuples(r->get()) > 0) found = ReadRow(r->get(), 0);
            return {};
        });
        if (!e.ok()) return e;
        if (!found) return Error::Make(ErrorCode::NotFound, "no record with id %1", text);
        return *found;
    }

    int SchemaVersion() override {
        std::lock_guard lock(mutex_);
        int version = 0;
        (void)WithConnection([&]() -> Error {
            auto r = Query("SELECT COALESCE(MAX(version), 0) FROM schema_migrations", {});
            if (!r) return r.error();
            version = std::atoi(PQgetvalue(r->get(), 0, 0));
            return {};
        });
        return version;
    }

    std::string Describe() const override { return described_; }

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
            e = Error::Make(ErrorCode::Database, std::string("the records server did not answer within ") + Seconds(budget),
                            described_);
        } else if (w == Wait::Interrupted) {
            e = Error::Make(ErrorCode::Database, "stopped waiting for the records server", described_);
        } else {
            e = Error::Make(ErrorCode::Database, conn_ ? Trimmed(PQerrorMessage(conn_)) : "connection lost", described_);
        }
        Drop();
        return e.Wrap(what);
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
        if (!conn_) return Error::Make(ErrorCode::Database, "out of memory", described_).Wrap("cannot reach the records server");
        const auto deadline = Clock::now() + timeouts_.connect;
        PostgresPollingStatusType status = PGRES_POLLING_WRITING;
        while (PQstatus(conn_) != CONNECTION_BAD && status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
            const Wait w = WaitSocket(status == PGRES_POLLING_WRITING, deadline);
            if (w != Wait::Ready) return WaitFailure(w, timeouts_.connect, "cannot reach the records server");
            status = PQconnectPoll(conn_);
        }
        if (PQstatus(conn_) != CONNECTION_OK) {
            Error e = Error::Make(ErrorCode::Database, Trimmed(PQerrorMessage(conn_)), described_)
                          .Wrap("cannot reach the records server");
            Drop();
            return e;
        }
        PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
        if (PQsetnonblocking(conn_, 1) != 0) {
            Error e = Error::Make(ErrorCode::Database, Trimmed(PQerrorMessage(conn_)), described_)
                          .Wrap("cannot reach the records server");
            Drop();
            return e;
        }
        // A server that answers but is slow (locks) ends the statement itself.
        const std::string limit = "SET statement_timeout = " + std::to_string(timeouts_.statement.count());
        if (Error e = Exec(limit); !e.ok()) return e.Wrap("cannot reach the records server");
        return {};
    }

    void Drop() {
        // In non-blocking mode PQfinish does not wait for the server either.
        if (conn_) PQfinish(conn_);
        conn_ = nullptr;
    }

    // Sends with `send` and collects every result before the statement's
    // deadline; the first failed result wins, else the last one.
    Result<ResultPtr> Run(const std::function<int()>& send, ExecStatusType expected) {
        const auto deadline = Clock::now() + timeouts_.statement;
        if (!send()) {
            Error e = Error::Make(ErrorCode::Database, Trimmed(PQerrorMessage(conn_)), described_);
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
        if (!kept) return Error::Make(ErrorCode::Database, "no result from the records server", described_);
        // Exec asks for PGRES_COMMAND_OK and takes rows too (SELECT pg_advisory_xact_lock).
        if (failed || (expected == PGRES_TUPLES_OK && PQresultStatus(kept.get()) != PGRES_TUPLES_OK))
            return Refusal(kept.get());
        return kept;
    }

    // The server's refusal of a statement. A refusal for the record's content
    // (SQLSTATE class 22, data exception, or 23, integrity constraint) is
    // BadData: the same record would be refused again, others would not.
    Error Refusal(PGresult* r) {
        const char* message = PQresultErrorMessage(r);
        const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        const bool content = state && (std::strncmp(state, "22", 2) == 0 || std::strncmp(state, "23", 2) == 0) &&
                             conn_ && PQstatus(conn_) == CONNECTION_OK;
        std::string text = Trimmed(message && *message ? message : PQerrorMessage(conn_));
        if (state && *state) text += std::string(" (SQLSTATE ") + state + ")";
        return Error::Make(content ? ErrorCode::BadData : ErrorCode::Database, text, described_);
    }

    Result<ResultPtr> Query(const std::string& sql, const std::vector<const char*>& params,
                            ExecStatusType expected = PGRES_TUPLES_OK) {
        return Run(
            [&] {
                return PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                                         nullptr, nullptr, 0);
            },
            expected);
    }

    // A statement without parameters (may be several, separated by ';').
    Error Exec(const std::string& sql) {
        auto r = Run([&] { return PQsendQuery(conn_, sql.c_str()); }, PGRES_COMMAND_OK);
        if (r) return {};
        return r.error();
    }

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

}  // namespace varnel
