#include "protocol/RadioSession.h"

#include <algorithm>
#include <thread>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "protocol/RadioOperations.h"
#include "protocol/Sendcmd.h"
#include "protocol/TunerMode.h"

namespace varnel {

RadioSession::RadioSession(std::chrono::milliseconds tick) : tick_(tick) {}

RadioSession::~RadioSession() {
    if (observer_ != 0) Exchange().removeObserver(observer_);
}

void RadioSession::setFrameObserver(std::function<void(const FrameEvent&)> observer) {
    if (observer_ != 0) Exchange().removeObserver(observer_);
    observer_ = observer ? Exchange().addObserver(std::move(observer)) : 0;
}

Error RadioSession::open() { return Exchange().open(); }

void RadioSession::close() { Exchange().close(); }

Error RadioSession::ensureLink() {
    // After a hang: wait for the hung transfer, or refuse at once when the
    // radio hung again.
    if (Error e = afterHang(); !e.ok()) return e;
    if (linkHandle) return {};
    // An expired poll closed the link; the next operation opens it again.
    return Exchange().open();
}

namespace {

// How long the next command waits for a transfer that hangs to end: the
// transfer's own 2-second time-out and the system's recovery after it (a
// USB port reset), with room to spare.
constexpr std::chrono::milliseconds kHangWait{3000};

// A hang ends the exchange while a session polls (see Exchange.h).
class HangRule {
public:
    HangRule() : before_(Exchange().hangEndsExchange()) { Exchange().setHangEndsExchange(true); }
    ~HangRule() { Exchange().setHangEndsExchange(before_); }
    HangRule(const HangRule&) = delete;
    HangRule& operator=(const HangRule&) = delete;

private:
    bool before_;
};

}  // namespace

Error RadioSession::afterHang() {
    ExchangeEngine& engine = Exchange();
    switch (engine.hangState()) {
        case ExchangeEngine::HangState::None: return {};
        case ExchangeEngine::HangState::HungAgain: return ExchangeEngine::hangError();
        case ExchangeEngine::HangState::Hung: break;
    }
    // One more attempt, once the hung transfer has ended.
    const auto deadline = std::chrono::steady_clock::now() + kHangWait;
    while (engine.busy() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::max(tick_, std::chrono::milliseconds(1)));
        if (idle_) idle_();
    }
    if (engine.busy()) return ExchangeEngine::hangError();
    return {};
}

template <typename Tick>
OpStatus RadioSession::run(Tick tick) {
    lastTicks_ = 0;
    const HangRule rule;
    (void)Exchange().takeEndedByHang();
    for (;;) {
        if (tick_.count() > 0) std::this_thread::sleep_for(tick_);
        if (idle_) idle_();
        const OpStatus status = tick();
        ++lastTicks_;
        if (Exchange().takeEndedByHang() && status != OpStatus::Done) {
            // A hung transfer ended the exchange: no more attempts.
            pollTicks = 0;
            pollRetries = 0;
            return OpStatus::Failed;
        }
        switch (status) {
            case OpStatus::Running: continue;
            case OpStatus::NextStep: lastTicks_ = 0; continue;  // the ticks of the next command count anew
            case OpStatus::NeedsConsent:
            case OpStatus::Done:
            case OpStatus::Failed: return status;
        }
    }
}

Error RadioSession::failed(const char* what) const { return Exchange().noAnswerError().wrap(what); }

Result<RadioInfo> RadioSession::readInfo() {
    if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot read the information block");
    ReadInfoOperation read;
    read.start();
    if (run([&] { return read.tick(); }) != OpStatus::Done) return failed("cannot read the information block");
    return read.info();
}

Error RadioSession::enter() {
    if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot read the information block").wrapped("cannot enter tuner mode");
    EnterOperation enter(PollRule::OnceKeepRetries);
    enter.start();
    if (run([&] { return enter.tick(); }) != OpStatus::Done) {
        if (enter.failedStage() == EnterOperation::Stage::ReadingInfo)
            return failed("cannot read the information block").wrapped("cannot enter tuner mode");
        return failed("cannot enter tuner mode");
    }
    EnteredTunerMode();
    return {};
}

Error RadioSession::setItem(int code, int action, int point, int value, std::uint32_t frequency) {
    if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot set the item");
    const LiveSetRequest request{code, action, point, value, frequency};
    LiveSetOperation set;
    set.start(request);
    if (run([&] { return set.tick(request); }) != OpStatus::Done)
        return failed("the radio did not confirm the change");
    return {};
}

Result<ReadBackReply> RadioSession::query(int code, int action, int point, int value, std::uint32_t frequency) {
    if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot read back the item");
    ReadBackOperation query(3);
    query.start({code, action, point, value, frequency});
    if (run([&] { return query.tick(); }) != OpStatus::Done) return failed("cannot read back the item");
    return query.reply();
}

Error RadioSession::saveItem(int code) {
    if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot save the item");
    SaveOperation save;
    if (!save.start(code)) return Error::make(ErrorCode::BadData, "the item has no record to save", std::to_string(code));
    if (run([&] { return save.tick(); }) != OpStatus::Done) return failed("the radio did not confirm the save");
    return {};
}

Error RadioSession::writeAll(const std::function<bool(const RadioInfo& attached)>& consent) {
    writeUnacknowledged_ = false;
    WriteAllOperation write;
    if (consent) {
        if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot read the information block");
        write.start();
        if (run([&] { return write.tick(); }) != OpStatus::NeedsConsent)
            return failed("cannot read the information block");
        if (!consent(write.attached())) {
            write.decline();
            return Error::make(ErrorCode::Refused, "the tuner data were not written to this radio");
        }
        write.proceed();
    } else {
        if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot write the tuner data");
        write.startWrite();
    }
    if (run([&] { return write.tick(); }) != OpStatus::Done) {
        writeUnacknowledged_ = write.failedStage() == WriteAllOperation::Stage::Writing;
        if (writeUnacknowledged_)
            return failed("the radio did not acknowledge the tuner data; whether it took them is not known");
        return failed("cannot write the tuner data");
    }
    return {};
}

Result<TunerImage> RadioSession::readImageBack() {
    if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot read the radio's image back");
    ImageReadBackOperation read;
    read.start(!inTunerMode);
    if (run([&] { return read.tick(); }) != OpStatus::Done) return failed("cannot read the radio's image back");
    return read.image();
}

Error RadioSession::readFactory() {
    if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot read the factory data");
    FactoryReadOperation read;
    read.start();
    if (run([&] { return read.tick(); }) != OpStatus::Done) return failed("cannot read the factory data");
    return {};
}

Error RadioSession::leave() {
    if (Error e = ensureLink(); !e.ok()) return e.wrap("cannot leave tuner mode");
    LeaveOperation leave;
    leave.start();
    if (run([&] { return leave.tick(); }) != OpStatus::Done) return failed("cannot leave tuner mode");
    LeftTunerMode();
    return {};
}

}  // namespace varnel
