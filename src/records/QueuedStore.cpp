// The server store behind a local queue: a station that loses its server goes
// on working, and its records reach the server once it answers again, in the
// order they were made, none lost and none doubled (the server ignores a uid
// it already holds).
#include <chrono>
#include <mutex>

#include "records/PostgresStore.h"
#include "records/RecordStore.h"
#include "records/SqliteStore.h"

namespace varnel {

namespace {

class QueuedStore final : public RecordStore {
public:
    QueuedStore(std::unique_ptr<RecordStore> server, std::unique_ptr<SqliteRecordStore> queue)
        : server_(std::move(server)), queue_(std::move(queue)) {}

    Error Append(CalibrationRecord& record) override {
        std::lock_guard lock(mutex_);
        // While the server is away, records go straight to the queue and the
        // server is tried again only after a pause: a station whose server
        // does not answer must not wait for a connect timeout at every event.
        if (Clock::now() >= retryAfter_) {
            // Earlier records go first; while any wait, a new one waits behind them.
            if (queue_->Count() > 0) FlushLocked();
            if (queue_->Count() == 0 && EnsureMigrated().ok() && server_->Append(record).ok()) return {};
            retryAfter_ = Clock::now() + kRetryPause;
        }
        CalibrationRecord local = record;
        Error e = queue_->Append(local);
        if (!e.ok()) return e.Wrap("cannot keep the record in the local queue");
        record.id = 0;  // the server gives the id when the record arrives
        return {};
    }

    Result<std::vector<CalibrationRecord>> List(const RecordFilter& filter) override {
        std::lock_guard lock(mutex_);
        if (Error e = EnsureMigrated(); !e.ok()) return e;
        return server_->List(filter);
    }

    Result<CalibrationRecord> Get(std::int64_t id) override {
        std::lock_guard lock(mutex_);
        if (Error e = EnsureMigrated(); !e.ok()) return e;
        return server_->Get(id);
    }

    int SchemaVersion() override {
        std::lock_guard lock(mutex_);
        return EnsureMigrated().ok() ? server_->SchemaVersion() : 0;
    }

    std::string Describe() const override {
        return server_->Describe() + " (queue: " + queue_->Describe() + ")";
    }

    std::size_t Queued() override {
        std::lock_guard lock(mutex_);
        return queue_->Count();
    }

    Result<std::size_t> Flush() override {
        std::lock_guard lock(mutex_);
        if (Error e = FlushLocked(); !e.ok()) {
            retryAfter_ = Clock::now() + kRetryPause;
            return e;
        }
        retryAfter_ = {};
        return queue_->Count();
    }

private:
    Error EnsureMigrated() {
        if (migrated_) return {};
        Error e = MigratePostgresStore(*server_);
        migrated_ = e.ok();
        return e;
    }

    Error FlushLocked() {
        if (Error e = EnsureMigrated(); !e.ok()) return e;
        auto waiting = queue_->List({});
        if (!waiting) return waiting.error();
        for (CalibrationRecord& record : *waiting) {
            record.id = 0;
            if (Error e = server_->Append(record); !e.ok()) return e.Wrap("queued records wait for the server");
            if (Error e = queue_->Remove(record.uid); !e.ok()) return e;
        }
        return {};
    }

    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRetryPause{30};

    std::unique_ptr<RecordStore> server_;
    std::unique_ptr<SqliteRecordStore> queue_;
    bool migrated_ = false;
    Clock::time_point retryAfter_{};
    std::mutex mutex_;
};

}  // namespace

int LatestSchemaVersion() { return SqliteSchemaVersions(); }

Result<std::unique_ptr<RecordStore>> OpenQueuedStore(const std::string& connection,
                                                     const std::filesystem::path& queueFile) {
    auto queue = OpenSqliteRecordStore(queueFile);
    if (!queue) return queue.error().Wrapped("cannot open the local queue of the records");
    auto store = std::make_unique<QueuedStore>(NewPostgresStoreUnconnected(connection), std::move(*queue));
    // Sends what an earlier run left behind, when the server is there.
    (void)store->Flush();
    return std::unique_ptr<RecordStore>(std::move(store));
}

}  // namespace varnel
