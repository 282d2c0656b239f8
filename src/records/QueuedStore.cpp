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
//
// Several programs of one station share the queue file. The one that sends
// holds a lock beside it (records-queue.sqlite.lock) for as long as it
// sends, and sends every waiting record, its own and the others'; the others
// meanwhile only look whether theirs are gone. So no record goes twice, and
// a program counts as waiting only its own records (and what an earlier run
// left) while the server answers; once the server failed it counts them all.
//
// The alignment reads the history of its model before every radio
// (event "align", model and firmware given). That read has a short bound of
// its own, on a connection of its own; a server that fails it (or the
// sending) is not asked again before it answers the sending, and the last
// history read is given instead, with the records that wait in the queue.
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#ifdef _WIN32
#include "util/Win32.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "records/PostgresStore.h"
#include "records/RecordStore.h"
#include "records/SqliteStore.h"

namespace varnel {

namespace {

// The lock of the program that sends a queue. Taken without waiting;
// where the lock file cannot be made the queue is sent without one.
class SendLock {
public:
    explicit SendLock(const std::filesystem::path& file) {
#ifdef _WIN32
        handle_ = CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
#else
        fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
#endif
    }
    ~SendLock() {
        unlock();
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
        if (fd_ >= 0) ::close(fd_);
#endif
    }
    SendLock(const SendLock&) = delete;
    SendLock& operator=(const SendLock&) = delete;

    bool tryLock() {
        if (held_) return true;
#ifdef _WIN32
        if (handle_ == INVALID_HANDLE_VALUE) return held_ = true;
        OVERLAPPED at{};
        held_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
#else
        if (fd_ < 0) return held_ = true;
        held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
#endif
        return held_;
    }
    void unlock() {
        if (!held_) return;
        held_ = false;
#ifdef _WIN32
        if (handle_ == INVALID_HANDLE_VALUE) return;
        OVERLAPPED at{};
        UnlockFileEx(handle_, 0, 1, 0, &at);
#else
        if (fd_ >= 0) ::flock(fd_, LOCK_UN);
#endif
    }

private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
    bool held_ = false;
};

// The read the alignment makes of its model's history.
bool IsHistoryRead(const RecordFilter& f) {
    return f.event == record_event::kAlign && !f.modelName.empty() && !f.firmware.empty() && f.serial.empty() &&
           f.since.empty() && f.until.empty() && f.limit == 0;
}

class QueuedStore final : public RecordStore {
public:
    QueuedStore(std::unique_ptr<RecordStore> server, std::unique_ptr<RecordStore> reader,
                std::unique_ptr<SqliteRecordStore> queue, const std::filesystem::path& queueFile,
                const ServerTimeouts& timeouts)
        : server_(std::move(server)), reader_(std::move(reader)), queue_(std::move(queue)), timeouts_(timeouts),
          lock_(std::filesystem::path(queueFile) += ".lock") {
        state_.queued = true;
        state_.queueFile = queueFile.string();
        // What waits already (an earlier run's, or another program's that is
        // sending now) is waited for as this program's own.
        if (auto waiting = queue_->waiting(); waiting)
            for (const CalibrationRecord& r : *waiting) mine_.push_back(r.uid);
        state_.waiting = mine_.size();
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
        InterruptPostgresStore(*reader_);
        wakeUp_.notify_all();
        sender_.join();
    }

    Error append(CalibrationRecord& record) override {
        CalibrationRecord local = record;
        local.id = 0;
        Error e = queue_->append(local);
        if (!e.ok()) return e.wrap("cannot keep the record in the local queue");
        record.id = 0;  // the server gives the id when the record arrives
        {
            std::lock_guard lock(stateMutex_);
            mine_.push_back(local.uid);
            state_.waiting = CountWaiting();
            wake_ = true;
        }
        wakeUp_.notify_all();
        return {};
    }

    Result<std::vector<CalibrationRecord>> list(const RecordFilter& filter) override {
        if (IsHistoryRead(filter)) return ReadHistory(filter);
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

    // Every record of the station that waits, whichever program queued it.
    std::size_t queued() override { return queue_->count(); }

    Result<std::size_t> flush() override {
        // Another program may be sending: wait for its lock a statement's time at most.
        const auto until = Clock::now() + timeouts_.statement;
        Sent sent = SendQueue();
        while (sent == Sent::Busy && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            sent = SendQueue();
        }
        if (sent == Sent::Failed) {
            std::lock_guard lock(stateMutex_);
            return Error::make(ErrorCode::Database, state_.problem);
        }
        return queued();
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

    // The history of a model: from the server, within the short bound of
    // ServerTimeouts::history, while the server answers; else (or when the
    // server does not answer in time) the last one read, without waiting.
    // Either way with the records of the model that wait in the queue.
    Result<std::vector<CalibrationRecord>> ReadHistory(const RecordFilter& filter) {
        const std::string key = filter.modelName + '\n' + filter.firmware;
        bool answering = false;
        {
            std::lock_guard lock(stateMutex_);
            answering = state_.serverAnswering;
        }
        std::lock_guard history(historyMutex_);
        Error failed;
        if (answering) {
            Result<std::vector<CalibrationRecord>> read = reader_->list(filter);
            if (read) {
                historyCache_[key] = std::move(read.value());
            } else if (read.error().text().find("SQLSTATE 42P01") != std::string::npos) {
                // No table yet (the sending has not made it): a database without records.
                historyCache_[key] = {};
            } else {
                failed = read.error();
                // A server that does not answer is not asked again until the sending finds it back.
                if (PostgresStoreTimedOut(*reader_)) (void)Failed(failed, true);
            }
        }
        const auto cached = historyCache_.find(key);
        Result<std::vector<CalibrationRecord>> queued = queue_->list(filter);
        if (cached == historyCache_.end() && !failed.ok() && (!queued || queued->empty())) return failed;
        std::vector<CalibrationRecord> out;
        std::set<std::string> seen;
        if (cached != historyCache_.end()) {
            out = cached->second;
            for (const CalibrationRecord& r : out) seen.insert(r.uid);
        }
        if (queued)
            for (CalibrationRecord& r : *queued)
                if (seen.insert(r.uid).second) out.push_back(std::move(r));
        return out;
    }

    // This program's records that still wait, or, once the server failed,
    // every waiting record. Under stateMutex_.
    std::size_t CountWaiting() {
        if (!state_.serverAnswering) return queue_->count();
        if (mine_.empty()) return 0;
        const std::size_t left = queue_->countWaitingOf(mine_);
        if (left == 0) mine_.clear();
        return left;
    }

    // The sending thread: sends whenever records arrive while the server
    // answers, and after a pause when it did not; while another program
    // sends, looks every few milliseconds whether this one's records are gone.
    void SendLoop() {
        std::unique_lock lock(stateMutex_);
        while (!stop_) {
            const bool work = busy_ || (state_.serverAnswering ? wake_ : (wake_ || state_.waiting > 0));
            if (!work) {
                wakeUp_.wait(lock);
                continue;
            }
            if (busy_) {
                wakeUp_.wait_for(lock, std::chrono::milliseconds(20));
                if (stop_) break;
            } else if (!state_.serverAnswering && Clock::now() < retryAt_) {
                wakeUp_.wait_until(lock, retryAt_);
                continue;
            }
            wake_ = false;
            sending_ = true;
            lock.unlock();
            const Sent sent = SendQueue();
            lock.lock();
            busy_ = sent == Sent::Busy && !stop_;
            if (busy_) {
                state_.waiting = CountWaiting();
                state_.setAside = queue_->countSetAside();
                if (state_.waiting == 0) busy_ = false;  // the other program sent this one's records
            }
            sending_ = false;
            done_.notify_all();
        }
    }

    enum class Sent { Done, Busy, Failed };

    // Sends every waiting record, oldest first, when no other program is
    // sending; stops at the first failure of the server, sets aside a record
    // it refuses for its content.
    Sent SendQueue() {
        std::lock_guard send(sendMutex_);
        if (!lock_.tryLock()) return Sent::Busy;
        struct Unlock {
            SendLock& lock;
            ~Unlock() { lock.unlock(); }
        } unlock{lock_};
        Error e = EnsureMigrated();
        bool answered = false;
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
                answered = true;
                if (Error removed = queue_->remove(record.uid); !removed.ok()) return Failed(removed, false);
            }
        }
        // A server that failed is only taken as answering again once it has.
        bool wasFailing = false;
        {
            std::lock_guard lock(stateMutex_);
            wasFailing = !state_.serverAnswering;
        }
        if (e.ok() && !answered && wasFailing) e = PingPostgresStore(*server_);
        if (!e.ok()) return Failed(e.wrap("queued records wait for the server"), true);
        std::lock_guard lock(stateMutex_);
        state_.serverAnswering = true;
        state_.problem.clear();
        state_.waiting = CountWaiting();
        state_.setAside = queue_->countSetAside();
        return Sent::Done;
    }

    // Notes a failure: of the server (a stall is counted once, until the
    // server answers again) or of the local queue.
    Sent Failed(const Error& e, bool server) {
        std::lock_guard lock(stateMutex_);
        if (server && state_.serverAnswering) {
            state_.serverAnswering = false;
            ++state_.stalls;
        }
        state_.problem = e.text();
        state_.waiting = CountWaiting();
        state_.setAside = queue_->countSetAside();
        retryAt_ = Clock::now() + timeouts_.retryPause;
        ++failures_;
        done_.notify_all();
        return Sent::Failed;
    }

    using Clock = std::chrono::steady_clock;

    std::unique_ptr<RecordStore> server_;
    std::unique_ptr<RecordStore> reader_;  // the history, within its own bound
    std::unique_ptr<SqliteRecordStore> queue_;
    ServerTimeouts timeouts_;
    SendLock lock_;

    std::mutex migrateMutex_;
    bool migrated_ = false;
    std::mutex sendMutex_;  // one sender of the queue at a time (thread or Flush)

    std::mutex historyMutex_;
    std::map<std::string, std::vector<CalibrationRecord>> historyCache_;  // model and firmware -> records

    std::mutex stateMutex_;  // never held while talking to the server
    std::condition_variable wakeUp_;
    std::condition_variable done_;
    RecordsQueueState state_;
    std::vector<std::string> mine_;  // uids this program queued that may still wait
    bool wake_ = false;
    bool sending_ = false;
    bool busy_ = false;  // another program holds the sending lock
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
    return std::unique_ptr<RecordStore>(std::make_unique<QueuedStore>(
        NewPostgresStoreUnconnected(connection, timeouts),
        NewBoundedPostgresReader(connection, std::min(timeouts.history, timeouts.statement)), std::move(*queue),
        queueFile, timeouts));
}

}  // namespace varnel
