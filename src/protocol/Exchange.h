// The exchange engine: the one place that knows how a command and its reply
// travel. It owns the transport of the link (`linkHandle`), drives the shared
// poll state (`pollTicks`, `pollRetries`, `pendingReplyLength`,
// `replyBuffer`) tick by tick and applies the poll rules every caller shares:
//
//   - a poll tick counts itself, reads `pendingReplyLength` bytes and tests
//     them; the tick on which `pollTicks` reaches 100 expires and its read is
//     not tested;
//   - the main window's and the factory dialog's polls (rule Once) end an
//     expiry silently: both counters to 0, the link closed;
//   - the tuning window's verifying polls (rule Verify) re-send after each
//     expiry and give up after the third;
//   - its reading polls (rule Reading) count a retry and go on.
//
// Windows drive it from their QTimers, the command-line tool and the
// blocking RadioSession from a plain loop; none of them keeps its own copy
// of these rules.
//
// Transport. With Transport::IoThread every transfer runs on one I/O thread,
// one at a time, and the caller never waits on the device: a tick tests only
// a read that has completed, and a tick that finds the transfer still
// running counts as a tick without a reply. A radio that hangs therefore
// expires after its 100 ticks like one that is silent. The I/O thread only
// moves bytes; the poll state is touched by the caller's thread alone.
// Transport::Inline runs each transfer within the call (the tick reads, then
// tests, exactly as one synchronous step); tests and benchmarks use it for
// determinism.
//
// A hung transfer. Callers that block on the radio (RadioSession: the
// command-line tool, automatic alignment) switch on setHangEndsExchange: an
// attempt whose poll budget runs out while its transfer is still running (or
// whose transfer timed out) ends the exchange at once, without a re-send
// queued behind the hung transfer, and what was queued behind it is dropped.
// The engine remembers the hang (hangState()): the next command gets one
// attempt once the hung transfer has ended; when that one hangs too, the
// radio counts as hung for good and no further command is sent on the link.
// An accepted reply, or a new link opened after the hung transfer ended,
// forgets the hang. The windows keep their own rules (they never wait).
//
// Outcomes. Every transfer's outcome (OS error, SCSI status, host and driver
// status, sense, residual count, duration) is kept. A command whose frame
// could not be delivered is never acknowledged: the reads of that attempt
// are not tested, so a stale reply cannot pass for its answer, and the
// attempt counts as unanswered. After an expiry or a give-up,
// NoAnswerError() says what the transfers reported.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "device/Mass_storage.h"
#include "device/Transfer.h"
#include "protocol/Sendcmd.h"
#include "util/Error.h"

namespace varnel {

// How an expiry is handled, and what a match resets.
enum class PollRule {
    Once,             // one attempt; expiry: both counters 0, link closed, silent
    OnceKeepRetries,  // as Once, but a match leaves pollRetries (information and enter replies)
    Verify,           // re-send after an expiry, give up after the third
    Reading,          // an expiry counts a retry, resets the ticks and polling goes on
};

enum class TickResult {
    Waiting,   // nothing yet
    Matched,   // the reply is in replyBuffer; counters reset as the rule says
    Expired,   // Once rules: the poll is over, the link closed
    Resent,    // Verify: the command went out again (through the caller's resend)
    GaveUp,    // Verify: third expiry; both counters 0
    TimedOut,  // Reading: one expiry counted; polling goes on
};

// One frame on the link, or a transfer that failed, for observers (the
// communication log, the command-line tool's trace).
struct FrameEvent {
    enum class Kind { Sent, Received, Failed };
    Kind kind = Kind::Sent;
    std::vector<std::uint8_t> bytes;  // the frame sent / the reply accepted; empty for Failed reads
    TransferOutcome outcome;
};

class ExchangeEngine {
public:
    enum class Transport { Inline, IoThread };
    enum class HangState {
        None,
        Hung,       // a transfer hung: the next command gets one attempt after it ended
        HungAgain,  // that attempt hung too: nothing more is sent on this link
    };

    ExchangeEngine();
    ~ExchangeEngine();
    ExchangeEngine(const ExchangeEngine&) = delete;
    ExchangeEngine& operator=(const ExchangeEngine&) = delete;

    void setTransport(Transport transport);
    Transport transport() const { return transport_; }

    // ---- link ------------------------------------------------------------
    // Scans, opens the first radio (identity checked on the new handle) and
    // stores it as linkHandle; any earlier link is closed first.
    Error open();
    // Closes the link; a transfer still running finishes on the I/O thread.
    void close();

    // ---- commands ----------------------------------------------------------
    // Sends a finished frame on linkHandle (the senders of Sendcmd call this).
    // Inline: the outcome. IoThread: the transfer is queued behind any
    // running one and the outcome says only whether it could be queued.
    TransferOutcome send(const std::uint8_t* frame, std::uint16_t length);
    // One poll tick: count, read, test. Expired on the tick on which
    // pollTicks exceeds 99 (that read is not tested). Counters are left to
    // the caller (see tick()).
    PollResult step(std::uint16_t expectedCode);
    // One poll tick with the rule's handling of a match and an expiry.
    // `resend` is called by rule Verify to send the command again.
    TickResult tick(std::uint16_t expectedCode, PollRule rule, const std::function<void()>& resend = {});

    // ---- transfers ---------------------------------------------------------
    // A transfer is queued or running on the I/O thread.
    bool busy() const;
    // Waits until the I/O thread has nothing left (tests and shutdown only).
    void waitIdle();
    // Outcome of the last send / read that completed.
    const TransferOutcome& lastSend() const { return lastSend_; }
    const TransferOutcome& lastRead() const { return lastRead_; }
    // The first failed transfer since the last accepted reply, if any.
    const std::optional<TransferOutcome>& failure() const { return failure_; }
    // Why the last poll got no answer, for the operator: NoAnswer when every
    // transfer went through, Refused / PermissionDenied / NoRadio when the
    // transfers themselves failed, NoAnswer "hangs" when one did not finish.
    // Keys in section "Link" of the language files.
    Error noAnswerError() const;
    // Ticks that found the previous transfer still running (since start).
    std::uint64_t stalledTicks() const { return stalledTicks_; }

    // ---- hung transfers (see above) -------------------------------------------
    void setHangEndsExchange(bool on) { hangEnds_ = on; }
    bool hangEndsExchange() const { return hangEnds_; }
    HangState hangState() const { return hang_; }
    // True once after a tick on which a hang ended the exchange.
    bool takeEndedByHang();
    // The operator's sentence for a command not sent because the radio hangs.
    static Error hangError();
    // At the end of the program: drops what is queued and waits up to `wait`
    // for a running transfer; a transfer still running after that (a radio
    // that hangs) is left to finish on its own, and the program may exit.
    // False when a transfer was left running.
    bool finish(std::chrono::milliseconds wait);

    // ---- observers -----------------------------------------------------------
    // Every frame sent (with its outcome once known), every reply accepted,
    // and failed transfers (a failed read once per attempt and kind).
    int addObserver(std::function<void(const FrameEvent&)> observer);
    void removeObserver(int id);

    // Back to program start: queue emptied (a running transfer finishes),
    // outcomes forgotten, observers kept.
    void reset();

private:
    struct Worker;
    struct Job;

    void syncLink();
    void collect();
    void noteOutcome(const TransferOutcome& outcome);
    void publish(const FrameEvent& event);
    bool queueRead();

    Transport transport_ = Transport::Inline;
    std::unique_ptr<Worker> worker_;
    RadioLink* seenLink_ = nullptr;

    // The attempt in progress (since the last send).
    bool sendFailed_ = false;
    bool resending_ = false;  // within a Verify re-send
    std::uint64_t sendJob_ = 0;
    std::uint64_t readJob_ = 0;
    bool readReady_ = false;  // a completed read waits in replyBuffer
    std::optional<TransferOutcome::Kind> lastFailedReadKind_;

    TransferOutcome lastSend_;
    TransferOutcome lastRead_;
    std::optional<TransferOutcome> failure_;
    std::uint64_t stalledTicks_ = 0;
    bool hangEnds_ = false;
    HangState hang_ = HangState::None;
    bool endedByHang_ = false;
    unsigned stallRun_ = 0;  // ticks in a row that found the transfer still running

    std::vector<std::pair<int, std::function<void(const FrameEvent&)>>> observers_;
    int nextObserver_ = 1;
};

// The program's engine (one link, one poll state).
ExchangeEngine& Exchange();

// An operator sentence for a failed open.
Error OpenErrorToError(const OpenError& error);

}  // namespace varnel
