// The server store behind a local queue: a station that loses its server goes
// on working, and its records reach the server once it answers again, in the
// order they were made, none lost and none doubled (the server ignores a uid
// it already holds).
//
// Every record goes to the local queue first, and Append returns as soon as
// it is there: the caller (the desktop program's user-interface thread, a
// command of the tool) never waits for the server. One thread of the store
// sends the queue on, oldest first; it is the only one that talks to the
// server for the queue. When the server fails (unreachable, or no answer
// within a statement's time-out) the thread stops, notes it once in the
// queue's state and tries again after a pause. A record the server refuses
// for its content is set aside in the queue file with the server's reason,
// and the records after it go on.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "records/PostgresStore.h"
#include "records/RecordStore.h"
#include "records/SqliteStore.h"

namespace varnel {

namespace {

class QueuedStore final : public RecordStore {
public:
    QueuedStore(std::unique_ptr<RecordStore> server, std::unique_ptr<SqliteRecordStore> queue,
                const std::filesystem::path& queueFile, const ServerTimeouts& timeouts)
        : server_(std::move(server)), queue_(std::move(queue)), timeouts_(timeouts) {
        state_.queued = true;
        state_.queueFile = queueFile.string();
        state_.waiting = queue_->count();
        state_.setAside = queue_->countSetAside();
        // What an earlier run left behind goes first.
        wake_ = true;
        sender_ = std::thread([this] { SendLoop(); });
    }

    ~QueuedStore() override {
        // A short last chance for the records of the end of the run, when
        // the server answers; a stalled one is not waited for.
        (void)drain(std::chrono::milliseconds(2000));
        {
            std::lock_guard lock(stateMutex_);
            stop_ = true;
        }
        InterruptPostgresStore(*server_);
        wakeUp_.notify_all();
        sender_.join();
    }

    Error append(CalibrationRecord& record) override {
        CalibrationRecord local = record;
        local.id = 0;
        Error e = queue_->append(local);
        if (!e.ok()) return e.wrap("cannot keep the record in the local queue");
        record.id = 0;  // the server gives the id when the record arrives
        const std::size_t waiting = queue_->count();
        {
            std::lock_guard lock(stateMutex_);
            state_.waiting = waiting;
            wake_ = true;
        }
        wakeUp_.notify_all();
        return {};
    }

    Result<std::vector<CalibrationRecord>> list(const RecordFilter& filter) override {
        if (Error e = EnsureMigrated(); !e.ok()) return e;
        return server_->list(filter);
    }

    Error forEach(const RecordFilter& filter, const std::function<bool(const CalibrationRecord&)>& each) override {
        if (Error e = EnsureMigrated(); !e.ok()) return e;
        return server_->forEach(filter, each);
    }

    Result<CalibrationRecord> get(std::int64_t id) override {
        if (Error e = EnsureMigrated(); !e.ok()) return e;
        return server_->get(id);
    }

    int schemaVersion() override { return EnsureMigrated().ok() ? server_->schemaVersion() : 0; }

    std::string describe() const override {
        return server_->describe() + " (queue: " + queue_->describe() + ")";
    }

    std::size_t queued() override { return queue_->count(); }

    Result<std::size_t> flush() override {
        if (Error e = SendQueue(); !e.ok()) return e;
        return queue_->count();
    }

    RecordsQueueState queueState() override {
        std::lock_guard lock(stateMutex_);
        return state_;
    }

    std::size_t drain(std::chrono::milliseconds budget) override {
        std::unique_lock lock(stateMutex_);
        if (!state_.serverAnswering) return state_.waiting;
        const std::uint64_t failures = failures_;
        wake_ = true;
        wakeUp_.notify_all();
        done_.wait_for(lock, budget, [&] {
            return stop_ || failures_ != failures || (state_.waiting == 0 && !sending_ && !wake_);
        });
        return state_.waiting;
    }

private:
    Error EnsureMigrated() {
        std::lock_guard lock(migrateMutex_);
        if (migrated_) return {};
        Error e = MigratePostgresStore(*server_);
        migrated_ = e.ok();
        return e;
    }

    // The sending thread: sends whenever records arrive while the server
    // answers, and after a pause when it did not.
    void SendLoop() {
        std::unique_lock lock(stateMutex_);
        while (!stop_) {
            const bool work = state_.serverAnswering ? wake_ : (wake_ || state_.waiting > 0);
            if (!work) {
                wakeUp_.wait(lock);
                continue;
            }
            if (!state_.serverAnswering && Clock::now() < retryAt_) {
                wakeUp_.wait_until(lock, retryAt_);
                continue;
            }
            wake_ = false;
            sending_ = true;
            lock.unlock();
            (void)SendQueue();
            lock.lock();
            sending_ = false;
            done_.notify_all();
        }
    }

    // Sends every waiting record, oldest first; stops at the first failure
    // of the server, sets aside a record it refuses for its content.
    Error SendQueue() {
        std::lock_guard send(sendMutex_);
        Error e = EnsureMigrated();
        if (e.ok()) {
            auto waiting = queue_->waiting();
            if (!waiting) return Failed(waiting.error(), false);
            for (CalibrationRecord& record : *waiting) {
                {
                    std::lock_guard lock(stateMutex_);
                    if (stop_) break;
                }
                record.id = 0;
                e = server_->append(record);
                if (e.code() == ErrorCode::BadData) {
                    if (Error kept = queue_->setAside(record.uid, e.text()); !kept.ok()) return Failed(kept, false);
                    e = {};
                    continue;
                }
                if (!e.ok()) break;
                if (Error removed = queue_->remove(record.uid); !removed.ok()) return Failed(removed, false);
            }
        }
        if (!e.ok()) return Failed(e.wrap("queued records wait for the server"), true);
        std::lock_guard lock(stateMutex_);
        state_.serverAnswering = true;
        state_.problem.clear();
        state_.waiting = queue_->count();
        state_.setAside = queue_->countSetAside();
        return {};
    }

    // Notes a failure: of the server (a stall is counted once, until the
    // server answers again) or of the local queue.
    Error Failed(const Error& e, bool server) {
        std::lock_guard lock(stateMutex_);
        if (server && state_.serverAnswering) {
            state_.serverAnswering = false;
            ++state_.stalls;
        }
        state_.problem = e.text();
        state_.waiting = queue_->count();
        state_.setAside = queue_->countSetAside();
        retryAt_ = Clock::now() + timeouts_.retryPause;
        ++failures_;
        done_.notify_all();
        return e;
    }

    using Clock = std::chrono::steady_clock;

    std::unique_ptr<RecordStore> server_;
    std::unique_ptr<SqliteRecordStore> queue_;
    ServerTimeouts timeouts_;

    std::mutex migrateMutex_;
    bool migrated_ = false;
    std::mutex sendMutex_;  // one sender of the queue at a time (thread or Flush)

    std::mutex stateMutex_;  // never held while talking to the server
    std::condition_variable wakeUp_;
    std::condition_variable done_;
    RecordsQueueState state_;
    bool wake_ = false;
    bool sending_ = false;
    bool stop_ = false;
    std::uint64_t failures_ = 0;
    Clock::time_point retryAt_{};
    std::thread sender_;
};

}  // namespace

int LatestSchemaVersion() { return SqliteSchemaVersions(); }

Result<std::unique_ptr<RecordStore>> OpenQueuedStore(const std::string& connection,
                                                     const std::filesystem::path& queueFile,
                                                     const ServerTimeouts& timeouts) {
    auto queue = OpenSqliteRecordStore(queueFile);
    if (!queue) return queue.error().wrapped("cannot open the local queue of the records");
    return std::unique_ptr<RecordStore>(
        std::make_unique<QueuedStore>(NewPostgresStoreUnconnected(connection, timeouts), std::move(*queue), queueFile,
                                      timeouts));
}

}  // namespace varnel
