#include "protocol/Exchange.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace varnel {

namespace {
// Transfers waiting behind a running one. A radio that hangs holds the queue
// for its time-out; beyond this many the next command is refused at once.
constexpr std::size_t kQueueLimit = 4;
}  // namespace

struct ExchangeEngine::Job {
    std::uint64_t id = 0;
    TransferDirection direction = TransferDirection::FromRadio;
    std::shared_ptr<RadioLink> link;
    std::uint16_t length = 0;
    std::array<std::uint8_t, kReplyBufferSize> data{};
    TransferOutcome outcome;
    bool cancelled = false;
};

// The I/O thread: runs queued transfers one at a time. It only moves bytes.
struct ExchangeEngine::Worker {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<std::unique_ptr<Job>> queue;
    std::deque<std::unique_ptr<Job>> done;
    std::vector<std::unique_ptr<Job>> spare;
    bool running = false;
    bool stop = false;
    std::uint64_t nextId = 1;
    std::thread thread;

    Worker() : thread([this] { run(); }) {}
    ~Worker() {
        {
            std::lock_guard lock(mutex);
            stop = true;
            for (auto& job : queue) job->cancelled = true;
        }
        wake.notify_all();
        thread.join();
    }

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stop || !queue.empty(); });
            if (queue.empty()) return;  // stopping
            std::unique_ptr<Job> job = std::move(queue.front());
            queue.pop_front();
            if (!job->cancelled && job->link) {
                running = true;
                lock.unlock();
                if (job->direction == TransferDirection::ToRadio) {
                    const auto start = std::chrono::steady_clock::now();
                    job->outcome = job->link->transferOut(job->data.data(), job->length);
                    if (job->outcome.duration.count() == 0)
                        job->outcome.duration = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start);
                } else {
                    job->outcome = ReadFromRadio(job->link.get(), job->data.data(), job->length);
                }
                // A link closed meanwhile by the program is released here,
                // after its last transfer.
                job->link.reset();
                lock.lock();
                running = false;
            } else {
                job->cancelled = true;
                job->link.reset();
            }
            done.push_back(std::move(job));
            if (queue.empty()) idle.notify_all();
        }
    }

    // Transfers that will still run (cancelled ones are only passed over).
    std::size_t waiting() const {
        return static_cast<std::size_t>(
            std::count_if(queue.begin(), queue.end(), [](const auto& job) { return !job->cancelled; }));
    }

    std::unique_ptr<Job> take() {
        // Called with the mutex held.
        if (spare.empty()) return std::make_unique<Job>();
        std::unique_ptr<Job> job = std::move(spare.back());
        spare.pop_back();
        return job;
    }
};

ExchangeEngine::ExchangeEngine() = default;
ExchangeEngine::~ExchangeEngine() = default;

ExchangeEngine& Exchange() {
    static ExchangeEngine engine;
    return engine;
}

void ExchangeEngine::setTransport(Transport transport) {
    if (transport == transport_) return;
    if (worker_) waitIdle();
    collect();
    readJob_ = 0;
    sendJob_ = 0;
    transport_ = transport;
    if (transport_ == Transport::IoThread && !worker_) worker_ = std::make_unique<Worker>();
}

// ---- link -----------------------------------------------------------------------

Error OpenErrorToError(const OpenError& error) {
    ErrorCode code = ErrorCode::Other;
    std::string key;
    switch (error.kind) {
        case OpenError::Kind::None: return {};
        case OpenError::Kind::NoRadio: code = ErrorCode::NoRadio; key = "Link:L010"; break;
        case OpenError::Kind::PermissionDenied: code = ErrorCode::PermissionDenied; break;
        case OpenError::Kind::Busy: code = ErrorCode::Busy; break;
        case OpenError::Kind::WrongDevice: code = ErrorCode::WrongDevice; break;
        case OpenError::Kind::Other: code = ErrorCode::Refused; break;
    }
    return Error::make(code, DescribeOpenError(error), {}, key);
}

Error ExchangeEngine::open() {
    close();
    if (ScanRadioDrives() == 0) {
        OpenError none;
        none.kind = OpenError::Kind::NoRadio;
        return OpenErrorToError(none);
    }
    OpenError error;
    std::unique_ptr<RadioLink> link = OpenRadio(&error);
    if (!link) return OpenErrorToError(error);
    linkHandle = std::move(link);
    syncLink();
    return {};
}

void ExchangeEngine::close() {
    linkHandle.reset();
    syncLink();
}

void ExchangeEngine::syncLink() {
    if (linkHandle.get() == seenLink_) return;
    seenLink_ = linkHandle.get();
    // Whatever was queued for the old link is void.
    if (worker_) {
        std::lock_guard lock(worker_->mutex);
        for (auto& job : worker_->queue) job->cancelled = true;
    }
    readJob_ = 0;
    sendJob_ = 0;
    sendFailed_ = false;
    // A new link starts a new account; a closed one keeps the reason it
    // was closed for. A hang is forgotten only once its transfer has ended.
    if (linkHandle) {
        failure_.reset();
        if (!busy()) hang_ = HangState::None;
    }
}

// ---- transfers -------------------------------------------------------------------

bool ExchangeEngine::busy() const {
    if (!worker_) return false;
    std::lock_guard lock(worker_->mutex);
    return worker_->running || !worker_->queue.empty();
}

void ExchangeEngine::waitIdle() {
    if (!worker_) return;
    std::unique_lock lock(worker_->mutex);
    worker_->idle.wait(lock, [this] { return !worker_->running && worker_->queue.empty(); });
}

void ExchangeEngine::noteOutcome(const TransferOutcome& outcome) {
    if (outcome.ok()) return;
    if (!failure_) failure_ = outcome;
    if (outcome.direction == TransferDirection::FromRadio) {
        // A failing read fails on every tick; observers hear of it once per
        // attempt and kind.
        if (lastFailedReadKind_ == outcome.kind()) return;
        lastFailedReadKind_ = outcome.kind();
    }
    FrameEvent event;
    event.kind = FrameEvent::Kind::Failed;
    event.outcome = outcome;
    publish(event);
}

void ExchangeEngine::publish(const FrameEvent& event) {
    // A copy: an observer may add or remove observers.
    const auto observers = observers_;
    for (const auto& [id, observer] : observers) {
        if (observer) observer(event);
    }
}

int ExchangeEngine::addObserver(std::function<void(const FrameEvent&)> observer) {
    observers_.emplace_back(nextObserver_, std::move(observer));
    return nextObserver_++;
}

void ExchangeEngine::removeObserver(int id) {
    observers_.erase(std::remove_if(observers_.begin(), observers_.end(), [id](const auto& o) { return o.first == id; }),
                     observers_.end());
}

void ExchangeEngine::collect() {
    if (!worker_) return;
    std::deque<std::unique_ptr<Job>> finished;
    {
        std::lock_guard lock(worker_->mutex);
        finished.swap(worker_->done);
    }
    std::vector<std::unique_ptr<Job>> recycle;
    for (auto& job : finished) {
        if (!job->cancelled && job->id == sendJob_) {
            sendJob_ = 0;
            lastSend_ = job->outcome;
            FrameEvent sent;
            sent.kind = FrameEvent::Kind::Sent;
            sent.bytes.assign(job->data.begin(), job->data.begin() + job->length);
            sent.outcome = job->outcome;
            publish(sent);
            if (!job->outcome.ok()) {
                sendFailed_ = true;
                noteOutcome(job->outcome);
            }
        } else if (!job->cancelled && job->id == readJob_) {
            readJob_ = 0;
            const std::uint16_t length = std::min<std::uint16_t>(pendingReplyLength, kReplyBufferSize);
            if (job->length == length && !sendFailed_) {
                std::memcpy(replyBuffer.data(), job->data.data(), length);
                lastRead_ = job->outcome;
                readReady_ = true;
            }
        }
        recycle.push_back(std::move(job));
    }
    if (!recycle.empty()) {
        std::lock_guard lock(worker_->mutex);
        for (auto& job : recycle) {
            job->link.reset();
            job->cancelled = false;
            worker_->spare.push_back(std::move(job));
        }
    }
}

bool ExchangeEngine::queueRead() {
    const std::uint16_t length = std::min<std::uint16_t>(pendingReplyLength, kReplyBufferSize);
    std::lock_guard lock(worker_->mutex);
    if (worker_->waiting() >= kQueueLimit) return false;
    std::unique_ptr<Job> job = worker_->take();
    job->id = worker_->nextId++;
    job->direction = TransferDirection::FromRadio;
    job->link = linkHandle;
    job->length = length;
    job->cancelled = false;
    readJob_ = job->id;
    worker_->queue.push_back(std::move(job));
    worker_->wake.notify_one();
    return true;
}

TransferOutcome ExchangeEngine::send(const std::uint8_t* frame, std::uint16_t length) {
    syncLink();
    if (hangEnds_ && (endedByHang_ || hang_ == HangState::HungAgain || (hang_ != HangState::None && busy()))) {
        // Not queued behind a transfer that hangs: the command is not
        // delivered, and the account of the hang is kept.
        TransferOutcome refused;
        refused.direction = TransferDirection::ToRadio;
        refused.attempted = true;
        refused.requested = length;
        refused.scsiStatus = 0x08;  // reported as BUSY
        refused.residual = length;
        lastSend_ = refused;
        sendFailed_ = true;
        readJob_ = 0;
        readReady_ = false;
        return refused;
    }
    // A read of the previous command must not be tested against this one.
    if (readJob_ != 0 && worker_) {
        std::lock_guard lock(worker_->mutex);
        for (auto& job : worker_->queue) {
            if (job->id == readJob_) job->cancelled = true;
        }
    }
    readJob_ = 0;
    collect();
    readReady_ = false;
    // A new command (not a re-send) starts a new account of failures.
    if (!resending_) failure_.reset();
    sendFailed_ = false;
    stallRun_ = 0;
    lastFailedReadKind_.reset();

    if (transport_ == Transport::Inline || !linkHandle) {
        lastSend_ = SendToRadio(linkHandle.get(), frame, length);
        FrameEvent sent;
        sent.kind = FrameEvent::Kind::Sent;
        sent.bytes.assign(frame, frame + length);
        sent.outcome = lastSend_;
        publish(sent);
        if (!lastSend_.ok()) {
            sendFailed_ = true;
            noteOutcome(lastSend_);
        }
        return lastSend_;
    }

    std::unique_lock lock(worker_->mutex);
    if (worker_->waiting() >= kQueueLimit) {
        lock.unlock();
        // The link is still busy with earlier transfers (a radio that hangs):
        // this command is not delivered.
        TransferOutcome refused;
        refused.direction = TransferDirection::ToRadio;
        refused.attempted = true;
        refused.requested = length;
        refused.scsiStatus = 0x08;  // reported as BUSY
        refused.residual = length;
        lastSend_ = refused;
        sendFailed_ = true;
        noteOutcome(refused);
        return refused;
    }
    std::unique_ptr<Job> job = worker_->take();
    job->id = worker_->nextId++;
    job->direction = TransferDirection::ToRadio;
    job->link = linkHandle;
    job->length = length;
    job->cancelled = false;
    std::memcpy(job->data.data(), frame, length);
    sendJob_ = job->id;
    worker_->queue.push_back(std::move(job));
    worker_->wake.notify_one();
    return TransferOutcome::done(TransferDirection::ToRadio, length);
}

PollResult ExchangeEngine::step(std::uint16_t expectedCode) {
    syncLink();
    ++pollTicks;
    const std::uint16_t length = std::min<std::uint16_t>(pendingReplyLength, kReplyBufferSize);
    bool tested = false;

    if (transport_ == Transport::Inline || !linkHandle) {
        if (sendFailed_ && linkHandle) {
            // The command never reached the radio: nothing read now can be its answer.
            std::memset(replyBuffer.data(), 0, length);
        } else {
            lastRead_ = ReadFromRadio(linkHandle.get(), replyBuffer.data(), length);
            noteOutcome(lastRead_);
            tested = true;
        }
    } else {
        collect();
        if (!sendFailed_) {
            if (!readReady_ && readJob_ == 0) queueRead();
            if (readReady_) {
                readReady_ = false;
                noteOutcome(lastRead_);
                tested = true;
                stallRun_ = 0;
            } else {
                ++stalledTicks_;  // the transfer is still running: a tick without a reply
                ++stallRun_;
            }
        }
    }

    if (pollTicks > kPollBudget - 1) return PollResult::Expired;
    if (tested && lastRead_.ok() && MatchReply(replyBuffer.data(), expectedCode, pendingReplyLength)) {
        failure_.reset();
        FrameEvent received;
        received.kind = FrameEvent::Kind::Received;
        received.bytes.assign(replyBuffer.begin(), replyBuffer.begin() + length);
        received.outcome = lastRead_;
        publish(received);
        return PollResult::Match;
    }
    // Ask again at once, so that the next tick has a completed read to test.
    if (tested && transport_ == Transport::IoThread && linkHandle && !sendFailed_ && readJob_ == 0) queueRead();
    return PollResult::Pending;
}

TickResult ExchangeEngine::tick(std::uint16_t expectedCode, PollRule rule, const std::function<void()>& resend) {
    switch (step(expectedCode)) {
        case PollResult::Pending:
            return TickResult::Waiting;
        case PollResult::Match:
            pollTicks = 0;
            if (rule != PollRule::OnceKeepRetries) pollRetries = 0;
            hang_ = HangState::None;
            return TickResult::Matched;
        case PollResult::Expired:
            break;
    }
    // The attempt ran out while its transfer was still running, or a
    // transfer of it timed out: the radio hangs.
    const bool hung = stallRun_ >= kPollBudget / 2 ||
                      (failure_ && failure_->kind() == TransferOutcome::Kind::TimedOut);
    if (hangEnds_ && hung) {
        hang_ = hang_ == HangState::None ? HangState::Hung : HangState::HungAgain;
        endedByHang_ = true;
        // What waits behind the hung transfer would reach the radio late,
        // long after its poll gave up: it is dropped.
        if (worker_) {
            std::lock_guard lock(worker_->mutex);
            for (auto& job : worker_->queue) job->cancelled = true;
        }
        readJob_ = 0;
        sendJob_ = 0;
        readReady_ = false;
        switch (rule) {
            case PollRule::Once:
            case PollRule::OnceKeepRetries:
                AbandonPoll();
                syncLink();
                return TickResult::Expired;
            case PollRule::Reading:
                pollTicks = 0;
                pollRetries = 0;
                return TickResult::TimedOut;
            case PollRule::Verify:
                pollTicks = 0;
                pollRetries = 0;
                return TickResult::GaveUp;
        }
    }
    switch (rule) {
        case PollRule::Once:
        case PollRule::OnceKeepRetries:
            AbandonPoll();
            syncLink();
            return TickResult::Expired;
        case PollRule::Reading:
            ++pollRetries;
            pollTicks = 0;
            return TickResult::TimedOut;
        case PollRule::Verify:
            break;
    }
    ++pollRetries;
    pollTicks = 0;
    if (pollRetries >= 3) {
        pollTicks = 0;
        pollRetries = 0;
        return TickResult::GaveUp;
    }
    if (resend) {
        resending_ = true;
        resend();
        resending_ = false;
    }
    return TickResult::Resent;
}

Error ExchangeEngine::noAnswerError() const {
    const auto explain = [](ErrorCode code, std::string english, const std::string& key,
                            const TransferOutcome& outcome) {
        return Error::make(code, outcome.describe()).wrap(std::move(english), {}, key);
    };
    if (failure_) {
        const TransferOutcome& o = *failure_;
        switch (o.kind()) {
            case TransferOutcome::Kind::Ok:
                break;
            case TransferOutcome::Kind::NoLink:
                return Error::make(ErrorCode::NoRadio,
                                   "there is no open link to the radio; enter tuner mode again", {}, "Link:L008");
            case TransferOutcome::Kind::Permission:
                return explain(ErrorCode::PermissionDenied,
                               "the radio refused the command (permission): load the sg module or install the "
                               "udev rule",
                               "Link:L002", o);
            case TransferOutcome::Kind::Gone:
                return explain(ErrorCode::NoRadio, "the radio is no longer connected", "Link:L003", o);
            case TransferOutcome::Kind::TimedOut:
                return explain(ErrorCode::NoAnswer,
                               "the radio did not complete the transfer within its time-out (it hangs): unplug "
                               "it and plug it in again",
                               "Link:L004", o);
            case TransferOutcome::Kind::CheckCondition:
                return explain(ErrorCode::Refused, "the radio rejected the command", "Link:L005", o);
            case TransferOutcome::Kind::Short:
                return explain(ErrorCode::Refused, "the radio sent fewer bytes than asked for", "Link:L006", o);
            case TransferOutcome::Kind::DeviceBusy:
            case TransferOutcome::Kind::HostError:
            case TransferOutcome::Kind::OsError:
                return explain(ErrorCode::Refused, "the transfer to the radio failed", "Link:L007", o);
        }
    }
    if (busy()) return hangError();
    return Error::make(ErrorCode::NoAnswer, "no answer from the radio", {}, "Link:L001");
}

Error ExchangeEngine::hangError() {
    return Error::make(ErrorCode::NoAnswer,
                       "the radio did not complete a transfer in time (it hangs): unplug it and plug it in again", {},
                       "Link:L004");
}

bool ExchangeEngine::takeEndedByHang() {
    const bool ended = endedByHang_;
    endedByHang_ = false;
    return ended;
}

bool ExchangeEngine::finish(std::chrono::milliseconds wait) {
    if (!worker_) return true;
    {
        std::lock_guard lock(worker_->mutex);
        for (auto& job : worker_->queue) job->cancelled = true;
    }
    {
        std::unique_lock lock(worker_->mutex);
        const bool idle = worker_->idle.wait_for(lock, wait, [this] { return !worker_->running && worker_->queue.empty(); });
        if (idle) return true;
        // The thread finishes its transfer and then stops by itself.
        worker_->stop = true;
    }
    worker_->wake.notify_all();
    worker_->thread.detach();
    // Kept, so that nothing of the thread's is freed under it.
    static auto* leftRunning = new std::vector<std::unique_ptr<Worker>>();
    leftRunning->push_back(std::move(worker_));
    transport_ = Transport::Inline;
    linkHandle.reset();
    seenLink_ = nullptr;
    return false;
}

void ExchangeEngine::reset() {
    if (worker_) {
        std::lock_guard lock(worker_->mutex);
        for (auto& job : worker_->queue) job->cancelled = true;
    }
    collect();
    seenLink_ = linkHandle.get();
    sendFailed_ = false;
    sendJob_ = 0;
    readJob_ = 0;
    readReady_ = false;
    lastFailedReadKind_.reset();
    lastSend_ = TransferOutcome{};
    lastRead_ = TransferOutcome{};
    failure_.reset();
    hang_ = HangState::None;
    endedByHang_ = false;
    stallRun_ = 0;
}

}  // namespace varnel
