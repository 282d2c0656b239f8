// The exchange engine's poll rules and transfer outcomes on the virtual radio
// with each of its faults: budgets (100 ticks), re-sends (three sends, then
// give up), the silent expiry of one-attempt polls, the I/O thread (a tick
// tests only a completed read; a hung radio expires after its ticks), and
// failed transfers that are reported and never taken for an acknowledgement.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/Global.h"
#include "protocol/Exchange.h"
#include "protocol/RadioSession.h"
#include "protocol/Sendcmd.h"
#include "core/support/VendorLinkDouble.h"
#include "sim/VirtualBackend.h"
#include "core/support/VirtualRadioCase.h"
#include "sim/VirtualFaults.h"

using namespace varnel;

namespace {

class EngineTest : public test::VirtualRadioCase {
protected:
    void TearDown() override {
        Exchange().waitIdle();
        Exchange().setTransport(ExchangeEngine::Transport::Inline);
        VirtualRadioCase::TearDown();
    }

    void Attach(VirtualPreset preset = VirtualPreset::Variant0) {
        InstallRadio(preset);
        ASSERT_TRUE(Exchange().open().ok());
        ASSERT_NE(linkHandle, nullptr);
    }
    void Faults(const char* spec) { ASSERT_TRUE(ApplyVirtualFaults(radio(), spec).ok()) << spec; }

    struct Run {
        TickResult result = TickResult::Waiting;
        int ticks = 0;
        int resends = 0;
    };
    // Ticks until the rule ends the poll (or `limit` ticks).
    static Run Poll(std::uint16_t code, PollRule rule, const std::function<void()>& resend = {}, int limit = 2000) {
        Run run;
        while (run.ticks < limit) {
            const TickResult r = Exchange().tick(code, rule, resend);
            ++run.ticks;
            if (r == TickResult::Resent) ++run.resends;
            if (r == TickResult::Matched || r == TickResult::Expired || r == TickResult::GaveUp) {
                run.result = r;
                return run;
            }
            if (r == TickResult::TimedOut) run.result = r;
        }
        return run;
    }
};

// ---- one-attempt polls (main window, factory dialog) --------------------------

TEST_F(EngineTest, ASilentRadioExpiresOnTheHundredthTickAndTheLinkIsClosed) {
    Attach();
    Faults("no-answer");
    pollRetries = 2;
    SendReadInfo();
    const Run run = Poll(cmd::reply(cmd::kReadInfo), PollRule::Once);
    EXPECT_EQ(run.result, TickResult::Expired);
    EXPECT_EQ(run.ticks, 100);
    EXPECT_EQ(pollTicks, 0);
    EXPECT_EQ(pollRetries, 0);
    EXPECT_EQ(linkHandle, nullptr);
    const Error why = Exchange().noAnswerError();
    EXPECT_EQ(why.code(), ErrorCode::NoAnswer);
    EXPECT_EQ(why.text(), "no answer from the radio");
}

TEST_F(EngineTest, AReplyOnTheNinetyNinthTickIsTakenOnTheHundredthItIsNot) {
    for (const unsigned reads : {99u, 100u}) {
        Attach();
        Faults(reads == 99 ? "late=99" : "late=100");
        SendExitTunerMode();
        const Run run = Poll(cmd::reply(cmd::kExitTunerMode), PollRule::Once);
        EXPECT_EQ(run.result, reads == 99 ? TickResult::Matched : TickResult::Expired) << reads;
        EXPECT_EQ(run.ticks, static_cast<int>(reads)) << reads;
        ResetRadioState();
    }
}

TEST_F(EngineTest, InformationAndEnterMatchesKeepTheRetryCounter) {
    Attach();
    pollRetries = 2;
    SendReadInfo();
    EXPECT_EQ(Poll(cmd::reply(cmd::kReadInfo), PollRule::OnceKeepRetries).result, TickResult::Matched);
    EXPECT_EQ(pollTicks, 0);
    EXPECT_EQ(pollRetries, 2);
    SendExitTunerMode();
    EXPECT_EQ(Poll(cmd::reply(cmd::kExitTunerMode), PollRule::Once).result, TickResult::Matched);
    EXPECT_EQ(pollRetries, 0);
}

// ---- verifying polls ---------------------------------------------------------------

TEST_F(EngineTest, AnUnconfirmedLiveSetGoesOutThreeTimesThenGivesUp) {
    Attach();
    radio().setTunerMode(true);
    Faults("no-answer");
    radio().clearReceivedFrames();
    const auto send = [] { SendSetItem(18, 5, 2, 40, 400000000); };
    send();
    const Run run = Poll(cmd::reply(cmd::kSetItem), PollRule::Verify, send);
    EXPECT_EQ(run.result, TickResult::GaveUp);
    EXPECT_EQ(run.ticks, 300);
    EXPECT_EQ(run.resends, 2);
    EXPECT_EQ(radio().receivedFrames().size(), 3u);
    EXPECT_EQ(pollTicks, 0);
    EXPECT_EQ(pollRetries, 0);
    EXPECT_NE(linkHandle, nullptr);  // the tuning window's polls keep the link
}

TEST_F(EngineTest, ALiveSetAnsweredOnlyTheThirdTimeIsConfirmed) {
    Attach();
    radio().setTunerMode(true);
    radio().dropNextReplies(2);
    const auto send = [] { SendSetItem(18, 5, 2, 40, 400000000); };
    send();
    const Run run = Poll(cmd::reply(cmd::kSetItem), PollRule::Verify, send);
    EXPECT_EQ(run.result, TickResult::Matched);
    EXPECT_EQ(run.resends, 2);
    EXPECT_EQ(run.ticks, 201);  // two full waits of 100 ticks, then the first read
    EXPECT_EQ(pollRetries, 0);
}

// ---- reading polls -------------------------------------------------------------------

TEST_F(EngineTest, AReadingPollNeverGivesUp) {
    Attach();
    Faults("no-answer");
    SendQueryItem(5, 7, 1, 0, 400000000);
    const Run run = Poll(cmd::reply(cmd::kSetItem), PollRule::Reading, {}, 450);
    EXPECT_EQ(run.result, TickResult::TimedOut);
    EXPECT_EQ(run.ticks, 450);
    EXPECT_EQ(pollRetries, 4);
    EXPECT_EQ(pollTicks, 50);
    EXPECT_EQ(radio().receivedFrames().size(), 1u);  // never re-sent
}

// ---- failed transfers ------------------------------------------------------------------

// A link whose sends fail while its reads hand back a perfect, but stale,
// acknowledgement: what the sg driver's reused reserve buffer can look like.
class StaleLink : public varnel::testing::VendorLinkDouble {
public:
    TransferOutcome sendBytes(const std::uint8_t*, std::uint16_t length) override {
        ++sends;
        TransferOutcome o = TransferOutcome::done(TransferDirection::ToRadio, length);
        o.transferred = 0;
        o.osError = PermissionErrorCode();
        return o;
    }
    TransferOutcome readBytes(std::uint8_t* buffer, std::uint16_t length) override {
        ++reads;
        const std::uint8_t ack[9] = {0xA1, 0x80, 0x62, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA4};
        std::memcpy(buffer, ack, std::min<std::size_t>(length, sizeof ack));
        return TransferOutcome::done(TransferDirection::FromRadio, length);
    }
    int sends = 0;
    int reads = 0;
};

TEST_F(EngineTest, AFailedSendIsNeverAcknowledgedByAStaleReply) {
    auto link = std::make_shared<StaleLink>();
    linkHandle = link;
    const auto send = [] { SendSetItem(18, 5, 2, 40, 400000000); };
    send();
    const Run run = Poll(cmd::reply(cmd::kSetItem), PollRule::Verify, send);
    EXPECT_EQ(run.result, TickResult::GaveUp);
    EXPECT_EQ(link->sends, 3);
    EXPECT_EQ(link->reads, 0);  // nothing read can answer a command that never went out
    EXPECT_EQ(Exchange().noAnswerError().code(), ErrorCode::PermissionDenied);
}

TEST_F(EngineTest, RefusedTransfersAreReportedAsPermission) {
    Attach();
    radio().clearReceivedFrames();
    Faults("refuse");
    std::vector<FrameEvent> events;
    const int id = Exchange().addObserver([&](const FrameEvent& e) { events.push_back(e); });
    SendReadInfo();
    const Run run = Poll(cmd::reply(cmd::kReadInfo), PollRule::Once);
    Exchange().removeObserver(id);
    EXPECT_EQ(run.result, TickResult::Expired);
    EXPECT_EQ(run.ticks, 100);
    EXPECT_TRUE(radio().receivedFrames().empty());
    EXPECT_EQ(Exchange().lastSend().kind(), TransferOutcome::Kind::Permission);
    const Error why = Exchange().noAnswerError();
    EXPECT_EQ(why.code(), ErrorCode::PermissionDenied);
    EXPECT_NE(why.text().find("the radio refused the command (permission): load the sg module or install the udev rule"),
              std::string::npos)
        << why.text();
    ASSERT_EQ(events.size(), 2u);  // the frame sent (with its outcome) and one failure
    EXPECT_EQ(events[0].kind, FrameEvent::Kind::Sent);
    EXPECT_EQ(events[1].kind, FrameEvent::Kind::Failed);
}

TEST_F(EngineTest, CheckConditionIsReportedAndNeverAcknowledged) {
    Attach();
    radio().setTunerMode(true);
    Faults("check-condition");
    const auto send = [] { SendSetItem(18, 5, 2, 40, 400000000); };
    send();
    const Run run = Poll(cmd::reply(cmd::kSetItem), PollRule::Verify, send);
    EXPECT_EQ(run.result, TickResult::GaveUp);
    const Error why = Exchange().noAnswerError();
    EXPECT_EQ(why.code(), ErrorCode::Refused);
    EXPECT_NE(why.text().find("ILLEGAL REQUEST"), std::string::npos) << why.text();
}

TEST_F(EngineTest, ShortReadsAreReportedAndNeverAcknowledged) {
    Attach();
    Faults("short");
    SendExitTunerMode();
    const Run run = Poll(cmd::reply(cmd::kExitTunerMode), PollRule::Once);
    EXPECT_EQ(run.result, TickResult::Expired);
    EXPECT_TRUE(radio().hasPendingReply());  // the radio did answer; only half of it came through
    EXPECT_EQ(Exchange().lastRead().kind(), TransferOutcome::Kind::Short);
    EXPECT_EQ(Exchange().noAnswerError().code(), ErrorCode::Refused);
}

TEST_F(EngineTest, AnUnpluggedRadioIsReportedAsGone) {
    Attach();
    backend_->unplug();
    SendReadInfo();
    EXPECT_EQ(Poll(cmd::reply(cmd::kReadInfo), PollRule::Once).result, TickResult::Expired);
    EXPECT_EQ(Exchange().noAnswerError().code(), ErrorCode::NoRadio);
}

TEST_F(EngineTest, WithoutALinkTheReasonSaysSo) {
    SendSetItem(18, 5, 2, 40, 400000000);
    EXPECT_EQ(Poll(cmd::reply(cmd::kSetItem), PollRule::Verify, [] { SendSetItem(18, 5, 2, 40, 400000000); }).result,
              TickResult::GaveUp);
    EXPECT_EQ(Exchange().noAnswerError().code(), ErrorCode::NoRadio);
}

// ---- the I/O thread --------------------------------------------------------------------

TEST_F(EngineTest, OnTheIoThreadATickTestsOnlyACompletedRead) {
    Attach();
    Exchange().setTransport(ExchangeEngine::Transport::IoThread);
    SendExitTunerMode();
    // Tick 1 finds no completed read (it only asks for one); once the thread
    // has done it, tick 2 tests it.
    Exchange().waitIdle();
    EXPECT_EQ(Exchange().tick(cmd::reply(cmd::kExitTunerMode), PollRule::Once), TickResult::Waiting);
    Exchange().waitIdle();
    EXPECT_EQ(Exchange().tick(cmd::reply(cmd::kExitTunerMode), PollRule::Once), TickResult::Matched);
    EXPECT_EQ(pollTicks, 0);
    EXPECT_EQ(Exchange().lastSend().kind(), TransferOutcome::Kind::Ok);
}

TEST_F(EngineTest, OnTheIoThreadAHungRadioExpiresAfterItsTicks) {
    Attach();
    Faults("hang=2000");
    Exchange().setTransport(ExchangeEngine::Transport::IoThread);
    const std::uint64_t stalledBefore = Exchange().stalledTicks();
    SendReadInfo();
    // Let the I/O thread take the send, so that it hangs inside the transfer
    // rather than waiting in the queue (a queued job is cancelled at expiry).
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // No sleeping between ticks: the poll is over long before the first
    // transfer returns, so no tick can have waited for it.
    const Run run = Poll(cmd::reply(cmd::kReadInfo), PollRule::Once);
    EXPECT_EQ(run.result, TickResult::Expired);
    EXPECT_EQ(run.ticks, 100);
    EXPECT_TRUE(Exchange().busy());
    EXPECT_EQ(Exchange().stalledTicks() - stalledBefore, 100u);
    EXPECT_EQ(linkHandle, nullptr);
    const Error why = Exchange().noAnswerError();
    EXPECT_EQ(why.code(), ErrorCode::NoAnswer);
    EXPECT_NE(why.text().find("hangs"), std::string::npos) << why.text();
    Exchange().waitIdle();
}

// The blocking session's rule for a hung transfer: the exchange ends when
// its attempt is over, nothing is re-sent behind the hung transfer; the next
// command waits for it and gets one attempt; after that second hang every
// command fails at once. An accepted reply or a fresh link after the hung
// transfer ended forgets the hang.
TEST_F(EngineTest, ASessionEndsTheExchangeOfAHungTransferAndThenStopsSending) {
    Attach();
    radio().setTunerMode(true);
    Exchange().setTransport(ExchangeEngine::Transport::IoThread);
    Faults("hang-after=1:400");
    RadioSession session(std::chrono::milliseconds(1));
    int sentLiveSets = 0;
    session.setFrameObserver([&](const FrameEvent& e) {
        if (e.kind == FrameEvent::Kind::Sent && e.bytes.size() > 2 && e.bytes[2] == 0x62) ++sentLiveSets;
    });
    const Error first = session.setItem(18, 5, 2, 40, 400000000);
    EXPECT_EQ(first.code(), ErrorCode::NoAnswer);
    EXPECT_NE(first.text().find("hangs"), std::string::npos) << first.text();
    EXPECT_EQ(Exchange().hangState(), ExchangeEngine::HangState::Hung);
    EXPECT_EQ(sentLiveSets, 1);  // taken by the radio, not sent again
    EXPECT_EQ(radio().commandCount(), 1u);

    const Error second = session.setItem(18, 5, 2, 41, 400000000);
    EXPECT_EQ(second.code(), ErrorCode::NoAnswer);
    EXPECT_EQ(Exchange().hangState(), ExchangeEngine::HangState::HungAgain);
    const Error third = session.leave();
    EXPECT_EQ(third.code(), ErrorCode::NoAnswer);
    EXPECT_NE(third.text().find("hangs"), std::string::npos) << third.text();
    Exchange().waitIdle();
    EXPECT_EQ(radio().commandCount(), 1u);  // nothing after the first frame reached it

    // The radio recovers; a new link after the hung transfers forgets the hang.
    Faults("none");
    ASSERT_TRUE(session.open().ok());
    EXPECT_EQ(Exchange().hangState(), ExchangeEngine::HangState::None);
    EXPECT_TRUE(session.leave().ok());
}

TEST_F(EngineTest, OnTheIoThreadAReadOfThePreviousCommandIsNeverTestedAgainstTheNext) {
    Attach();
    radio().setTunerMode(true);
    Exchange().setTransport(ExchangeEngine::Transport::IoThread);
    SendExitTunerMode();
    Exchange().waitIdle();
    EXPECT_EQ(Exchange().tick(cmd::reply(cmd::kExitTunerMode), PollRule::Once), TickResult::Waiting);
    Exchange().waitIdle();  // a read of the 0x8061 reply is done, not yet tested
    Faults("no-answer");
    SendSetItem(18, 5, 2, 40, 400000000);  // expects 0x8062, 9 bytes as well
    Exchange().waitIdle();
    const Run run = Poll(cmd::reply(cmd::kSetItem), PollRule::Verify, {}, 100);
    EXPECT_NE(run.result, TickResult::Matched);
}

// ---- the fault text ----------------------------------------------------------------------

TEST(VirtualFaults, ParsesEveryItem) {
    const Result<VirtualFaultSpec> spec = ParseVirtualFaults(
        "hang, drop=0.2,corrupt=0.1 ,lose-commands=0.05,delay=7,unplug-after=12,seed=42,late=3");
    ASSERT_TRUE(spec.ok()) << spec.error().text();
    EXPECT_TRUE(spec->link.hang);
    EXPECT_EQ(spec->link.hangTime, std::chrono::milliseconds(2000));
    EXPECT_DOUBLE_EQ(spec->link.dropReply, 0.2);
    EXPECT_DOUBLE_EQ(spec->link.corruptReply, 0.1);
    EXPECT_DOUBLE_EQ(spec->link.loseCommand, 0.05);
    EXPECT_EQ(spec->link.delay, std::chrono::milliseconds(7));
    EXPECT_EQ(spec->link.unplugAfter, 12u);
    EXPECT_EQ(spec->link.seed, 42u);
    EXPECT_EQ(spec->firmware, Fault::AnswerAfterReads);
    EXPECT_EQ(spec->firmwareReads, 3u);
    EXPECT_EQ(ParseVirtualFaults("no-answer")->firmware, Fault::NoAnswer);
    EXPECT_EQ(ParseVirtualFaults("refuse")->link.refusal, LinkFaults::Refusal::Permission);
    EXPECT_EQ(ParseVirtualFaults("check-condition")->link.refusal, LinkFaults::Refusal::CheckCondition);
    EXPECT_EQ(ParseVirtualFaults("short")->link.refusal, LinkFaults::Refusal::ShortRead);
    EXPECT_EQ(ParseVirtualFaults("hang=150")->link.hangTime, std::chrono::milliseconds(150));
    const Result<VirtualFaultSpec> after = ParseVirtualFaults("hang-after=3:150");
    ASSERT_TRUE(after.ok()) << after.error().text();
    EXPECT_FALSE(after->link.hang);
    EXPECT_EQ(after->link.hangAfter, 3u);
    EXPECT_EQ(after->link.hangTime, std::chrono::milliseconds(150));
    EXPECT_EQ(ParseVirtualFaults("hang-after=1")->link.hangTime, std::chrono::milliseconds(2000));
    EXPECT_FALSE(ParseVirtualFaults("none")->link.any());
}

TEST(VirtualFaults, RefusesWhatItDoesNotKnow) {
    for (const char* bad : {"drop=1.5", "drop=", "drop=x", "delay=-1", "wobble", "hang=", "late=0", "seed=1e3",
                            "unplug-after=0", "no-answer=1", "hang-after=0", "hang-after=", "hang-after=2:x",
                            "hang-after=2:"}) {
        const Result<VirtualFaultSpec> spec = ParseVirtualFaults(bad);
        EXPECT_FALSE(spec.ok()) << bad;
        if (!spec.ok()) {
            EXPECT_EQ(spec.error().code(), ErrorCode::BadData) << bad;
        }
    }
}

TEST_F(EngineTest, TheSameSeedGivesTheSameRandomFaults) {
    std::vector<bool> answered[2];
    for (int pass = 0; pass < 2; ++pass) {
        Attach();
        Faults("drop=0.5,seed=9");
        for (int i = 0; i < 40; ++i) {
            SendExitTunerMode();
            answered[pass].push_back(radio().hasPendingReply());
        }
        ResetRadioState();
    }
    EXPECT_EQ(answered[0], answered[1]);
    const auto dropped = std::count(answered[0].begin(), answered[0].end(), false);
    EXPECT_GT(dropped, 0);
    EXPECT_LT(dropped, 40);
}

TEST_F(EngineTest, LostCommandsNeverReachTheRadio) {
    Attach();
    Faults("lose-commands=1");
    radio().clearReceivedFrames();
    SendExitTunerMode();
    EXPECT_TRUE(radio().receivedFrames().empty());
    EXPECT_EQ(radio().commandCount(), 0u);
}

TEST_F(EngineTest, TheCableIsPulledAfterTheGivenCommands) {
    Attach();
    Faults("unplug-after=2");
    SendReadInfo();
    EXPECT_TRUE(radio().plugged());
    SendReadInfo();
    EXPECT_FALSE(radio().plugged());
    // Put back in, the radio works again: the cable came out once, so the
    // "radio found again" that follows is true and entering succeeds.
    radio().plug();
    RadioSession session(std::chrono::milliseconds(0));
    ASSERT_TRUE(session.open().ok());
    const Error entered = session.enter();
    EXPECT_TRUE(entered.ok()) << entered.text();
    EXPECT_TRUE(radio().plugged());
    EXPECT_TRUE(radio().inTunerMode());
    (void)session.leave();
    session.close();
}

// ---- the blocking session ------------------------------------------------------------------

TEST_F(EngineTest, SessionRunsAWholeAlignment) {
    Attach(VirtualPreset::LargeNewFirmware);
    RadioSession session(std::chrono::milliseconds(0));
    std::vector<FrameEvent::Kind> kinds;
    session.setFrameObserver([&](const FrameEvent& e) { kinds.push_back(e.kind); });
    ASSERT_TRUE(session.open().ok());
    ASSERT_TRUE(session.enter().ok());
    EXPECT_TRUE(inTunerMode);
    EXPECT_TRUE(radioInfo.largeModel());
    EXPECT_EQ(tunerImage.bytes, radio().storedImage().bytes);
    ASSERT_TRUE(session.setItem(18, 4, 2, 40, tunerImage.txFrequencyIn(0, 1)).ok());
    EXPECT_EQ(radio().lastLiveSet()->item, 18);
    EXPECT_EQ(radio().lastLiveSet()->value, 40);
    const Result<ReadBackReply> reading = session.query(30, 7, 1, 0, tunerImage.txFrequencyIn(0, 0));
    ASSERT_TRUE(reading.ok()) << reading.error().text();
    EXPECT_EQ(reading->frame.size(), 11u);  // the temperature read-back is 11 bytes
    ASSERT_TRUE(session.saveItem(18).ok());
    EXPECT_EQ(radio().storedImage().bytes, tunerImage.bytes);
    ASSERT_TRUE(session.writeAll().ok());
    ASSERT_TRUE(session.readFactory().ok());
    ASSERT_TRUE(session.leave().ok());
    EXPECT_FALSE(inTunerMode);
    EXPECT_FALSE(radio().inTunerMode());
    session.close();
    EXPECT_EQ(linkHandle, nullptr);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), FrameEvent::Kind::Failed), 0);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), FrameEvent::Kind::Sent),
              std::count(kinds.begin(), kinds.end(), FrameEvent::Kind::Received));
}

TEST_F(EngineTest, ALostLiveSetIsNotAcknowledgedByTheReadBackStillInTheRadio) {
    Attach();
    RadioSession session(std::chrono::milliseconds(0));
    ASSERT_TRUE(session.open().ok());
    ASSERT_TRUE(session.enter().ok());
    // Item 64 reads back 100: the 10-byte answer A1 80 62 00 02 40 64 00 A4 A4,
    // whose checksum's low byte is 0xA4.
    radio().setReading(64, {100});
    const Result<ReadBackReply> reading = session.query(64, 7, 1, 0, txFrequency(0));
    ASSERT_TRUE(reading.ok()) << reading.error().text();
    const std::vector<std::uint8_t> held{0xA1, 0x80, 0x62, 0x00, 0x02, 0x40, 0x64, 0x00, 0xA4, 0xA4};
    ASSERT_EQ(reading->frame, held);
    EXPECT_EQ(reading->reading(0), 100);
    // The next live-set never reaches the radio; the radio keeps answering
    // every read with the read-back above.
    Faults("lose-commands=1");
    const Error set = session.setItem(64, 5, 1, 120, txFrequency(0));
    EXPECT_EQ(set.code(), ErrorCode::NoAnswer) << set.text();
    EXPECT_EQ(radio().lastLiveSet()->action, 7);  // the read-back stays the last command acted on
    // A live-set that arrives is acknowledged by its own 9-byte answer.
    Faults("none");
    ASSERT_TRUE(session.setItem(64, 5, 1, 120, txFrequency(0)).ok());
    EXPECT_EQ(radio().lastLiveSet()->value, 120);
}

TEST_F(EngineTest, SessionFailuresCarryTheirCause) {
    RadioSession session(std::chrono::milliseconds(0));
    EXPECT_EQ(session.open().code(), ErrorCode::NoRadio);
    Attach();
    Faults("no-answer");
    RadioSession silent(std::chrono::milliseconds(0));
    const Error e = silent.enter();
    EXPECT_EQ(e.code(), ErrorCode::NoAnswer);
    EXPECT_NE(e.text().find("cannot enter tuner mode"), std::string::npos) << e.text();
    EXPECT_FALSE(inTunerMode);
    Faults("refuse");
    EXPECT_EQ(silent.enter().code(), ErrorCode::PermissionDenied);  // the session reopens the closed link
    Faults("none");
    radio().setTunerMode(true);
    radio().dropNextReplies(3);
    EXPECT_EQ(silent.setItem(18, 5, 2, 40, 400000000).code(), ErrorCode::NoAnswer);
    EXPECT_EQ(silent.lastTicks(), 300u);
}

}  // namespace
