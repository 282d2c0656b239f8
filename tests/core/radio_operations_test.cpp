// The radio operations on the virtual radio, where a fault must end in the
// right failure: an entry whose information or enter reply is spoilt fails
// at that step after its ticks (100 per attempt; the window's rule sends
// twice more) with the link closed and nothing taken from the reply; a
// write-all whose identity check gets no answer, or is declined, never sends
// the image; the bit-error read-back's counters come out of the reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "data/Global.h"
#include "protocol/Exchange.h"
#include "protocol/RadioOperations.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"
#include "core/support/VirtualRadioCase.h"
#include "sim/VirtualFaults.h"

using namespace varnel;

namespace {

class OperationsTest : public test::VirtualRadioCase {
protected:
    void SetUp() override { Fresh(); }
    void TearDown() override { Clear(); }
    // A new radio on a new link, nothing sent yet.
    void Fresh() {
        Clear();
        InstallRadio();
        OpenError error;
        ASSERT_TRUE(OpenRadioLink(&error));
        observer_ = Exchange().addObserver([this](const FrameEvent& event) {
            if (event.kind == FrameEvent::Kind::Sent && event.bytes.size() > 2)
                sent_.push_back(static_cast<std::uint16_t>(event.bytes[1] << 8 | event.bytes[2]));
        });
    }
    void Clear() {
        if (observer_ != 0) Exchange().removeObserver(observer_);
        observer_ = 0;
        sent_.clear();
        ResetRadioState();
        backend_.reset();
    }

    // Ticks until the operation leaves Running (or `limit` ticks); the
    // number of ticks it took.
    static int Until(const std::function<OpStatus()>& tick, OpStatus& status, int limit = 2000) {
        for (int ticks = 1; ticks <= limit; ++ticks) {
            status = tick();
            if (status != OpStatus::Running) return ticks;
        }
        return limit;
    }

    std::vector<std::uint16_t> sent_;
    int observer_ = 0;
};

// How an entry's reply is spoilt: before the command that gets it is sent.
struct EntryCase {
    const char* name;
    EnterOperation::Stage spoiltAt;  // ReadingInfo or Entering
    PollRule rule;
    std::function<void(VirtualRadio&)> spoil;
    bool ofTheLink;       // a link fault spoils reads from when it is set
    int ticksOfThatStep;  // 100 per attempt
};

void WrongCode(VirtualRadio& r) { r.setFault(Fault::WrongCommandCode); }
void WrongChecksum(VirtualRadio& r) { r.setFault(Fault::WrongChecksum); }
void Truncated(VirtualRadio& r) { ASSERT_TRUE(ApplyVirtualFaults(r, "short").ok()); }

TEST_F(OperationsTest, ASpoiltEntryReplyFailsAtItsStepWithTheLinkClosedAndNothingTaken) {
    const std::vector<EntryCase> cases{
        {"info, wrong code, window", EnterOperation::Stage::ReadingInfo, PollRule::Verify, WrongCode, false, 300},
        {"info, truncated, window", EnterOperation::Stage::ReadingInfo, PollRule::Verify, Truncated, true, 300},
        {"info, wrong code, one attempt", EnterOperation::Stage::ReadingInfo, PollRule::OnceKeepRetries, WrongCode, false, 100},
        {"image, wrong code, window", EnterOperation::Stage::Entering, PollRule::Verify, WrongCode, false, 300},
        {"image, bad checksum, window", EnterOperation::Stage::Entering, PollRule::Verify, WrongChecksum, false, 300},
        {"image, truncated, one attempt", EnterOperation::Stage::Entering, PollRule::OnceKeepRetries, Truncated, true, 100},
    };
    for (const EntryCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        TunerImage before;
        for (std::size_t i = 0; i < before.bytes.size(); ++i) before.bytes[i] = static_cast<std::uint8_t>(i * 7);
        tunerImage = before;
        band = 1;
        EnterOperation enter(c.rule);
        OpStatus status = OpStatus::Running;
        if (c.spoiltAt == EnterOperation::Stage::ReadingInfo) {
            c.spoil(radio());
            enter.start();
        } else {
            enter.start();
            // The information reply is built already; the enter reply is not.
            if (!c.ofTheLink) c.spoil(radio());
            ASSERT_EQ(Until([&] { return enter.tick(); }, status), 1);
            ASSERT_EQ(status, OpStatus::NextStep);
            EXPECT_EQ(radioInfo.bytes, radio().info().bytes);
            if (c.ofTheLink) c.spoil(radio());
        }
        EXPECT_EQ(Until([&] { return enter.tick(); }, status), c.ticksOfThatStep);
        EXPECT_EQ(status, OpStatus::Failed);
        EXPECT_EQ(enter.stage(), EnterOperation::Stage::Failed);
        EXPECT_EQ(enter.failedStage(), c.spoiltAt);
        EXPECT_EQ(linkHandle, nullptr);
        EXPECT_EQ(pollTicks, 0);
        EXPECT_EQ(pollRetries, 0);
        EXPECT_EQ(tunerImage.bytes, before.bytes);
        EXPECT_EQ(band, 1);
        if (c.spoiltAt == EnterOperation::Stage::ReadingInfo) {
            EXPECT_EQ(radioInfo.bytes, RadioInfo{}.bytes);
        }
        const std::size_t commands = c.rule == PollRule::Verify ? 3 : 1;
        EXPECT_EQ(sent_.size(), commands + (c.spoiltAt == EnterOperation::Stage::Entering ? 1 : 0));
    }
}

TEST_F(OperationsTest, AnEntryTakesTheBlockThenTheImageAndSetsBandZero) {
    band = 1;
    EnterOperation enter;
    enter.start();
    OpStatus status = OpStatus::Running;
    Until([&] { return enter.tick(); }, status);
    ASSERT_EQ(status, OpStatus::NextStep);
    EXPECT_EQ(pendingReplyLength, 521);  // a small model: 512 image bytes + 9
    Until([&] { return enter.tick(); }, status);
    ASSERT_EQ(status, OpStatus::Done);
    EXPECT_EQ(band, 0);
    EXPECT_EQ(radioInfo.bytes, radio().info().bytes);
    EXPECT_TRUE(std::equal(tunerImage.bytes.begin(), tunerImage.bytes.begin() + 512, radio().storedImage().bytes.begin()));
    EXPECT_EQ(sent_, (std::vector<std::uint16_t>{cmd::kReadInfo, cmd::kEnterTunerMode}));
}

TEST_F(OperationsTest, AWriteAllSendsTheImageOnlyAfterAnAnsweredCheckAndConsent) {
    struct Case {
        const char* name;
        bool answered;
        bool consent;
    };
    for (const Case& c : {Case{"no answer to the check", false, true}, Case{"declined", true, false},
                          Case{"agreed", true, true}}) {
        SCOPED_TRACE(c.name);
        Fresh();
        radioInfo = radio().info();
        if (!c.answered) radio().setFault(Fault::NoAnswer);
        WriteAllOperation write;
        write.start();
        OpStatus status = OpStatus::Running;
        const int ticks = Until([&] { return write.tick(); }, status);
        if (!c.answered) {
            EXPECT_EQ(ticks, 100);
            EXPECT_EQ(status, OpStatus::Failed);
            EXPECT_EQ(write.failedStage(), WriteAllOperation::Stage::Checking);
            EXPECT_EQ(linkHandle, nullptr);
        } else {
            ASSERT_EQ(status, OpStatus::NeedsConsent);
            EXPECT_EQ(write.attached().bytes, radio().info().bytes);
            EXPECT_TRUE(write.sameRadio());
            if (c.consent) {
                write.proceed();
            } else {
                write.decline();
            }
            Until([&] { return write.tick(); }, status);
            EXPECT_EQ(status, c.consent ? OpStatus::Done : OpStatus::Failed);
        }
        const std::size_t writes = static_cast<std::size_t>(std::count(sent_.begin(), sent_.end(), cmd::kWriteAll));
        EXPECT_EQ(writes, c.answered && c.consent ? 1u : 0u);
        EXPECT_EQ(sent_.front(), cmd::kReadInfo);
    }
}

TEST_F(OperationsTest, TheBitErrorCountersComeOutOfTheReadBackReply) {
    EnterOperation enter;
    enter.start();
    OpStatus status = OpStatus::Running;
    while (status != OpStatus::Done && status != OpStatus::Failed) status = enter.tick();
    ASSERT_EQ(status, OpStatus::Done);
    radio().setErrorCounters(0x01020304u, 0xA0B0C0D0u);
    ReadBackOperation readBack;
    readBack.start({22, 7, 1, 0, txFrequency(0)});
    EXPECT_EQ(pendingReplyLength, 17);
    Until([&] { return readBack.tick(); }, status);
    ASSERT_EQ(status, OpStatus::Done);
    EXPECT_EQ(readBack.reply().frame.size(), 17u);
    EXPECT_EQ(readBack.reply().counter(0), 0x01020304u);
    EXPECT_EQ(readBack.reply().counter(1), 0xA0B0C0D0u);
}

}  // namespace
