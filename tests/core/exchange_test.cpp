// Whole exchanges through the real senders, the shared poll state and
// PollStep, against the virtual radio installed as the device backend: the
// way the main window, the tuning window and the factory dialog talk to a
// radio, minus their timers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"
#include "core/support/VirtualRadioCase.h"

using namespace varnel;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    PollResult result;
    std::uint16_t ticks;
};

class ExchangeTest : public test::VirtualRadioCase {
protected:
    // Installs a virtual radio and opens it the way the main window does.
    void Attach(VirtualPreset preset) {
        InstallRadio(preset);
        ASSERT_EQ(ScanRadioDrives(), 1);
        linkHandle = OpenRadio();
        ASSERT_NE(linkHandle, nullptr);
    }

    // Ticks until a match or an expiry (or `limit` ticks); the counter as the
    // poll left it.
    static Outcome Poll(std::uint16_t code, int limit = 1000) {
        for (int i = 0; i < limit; ++i) {
            const PollResult r = PollStep(code);
            if (r != PollResult::Pending) return {r, pollTicks};
        }
        return {PollResult::Pending, pollTicks};
    }

    // A poll that must match; resets the counters as the windows do.
    static void Complete(std::uint16_t code) {
        const Outcome o = Poll(code);
        ASSERT_EQ(o.result, PollResult::Match) << "after " << o.ticks << " ticks";
        pollTicks = 0;
        pollRetries = 0;
    }

    // Information, then the image, as tuner-mode entry runs them.
    void enter() {
        SendReadInfo();
        ASSERT_EQ(pendingReplyLength, 265);
        ASSERT_NO_FATAL_FAILURE(Complete(0x8003));
        radioInfo.assign(replyBuffer.data() + 6);
        SendEnterTunerMode();
        ASSERT_NO_FATAL_FAILURE(Complete(0x8060));
        std::copy_n(replyBuffer.begin() + 6, radioInfo.imageBytes(), tunerImage.bytes.begin());
    }

    const Bytes& LastFrameSeen() { return radio().receivedFrames().back(); }
};

std::uint16_t StatedPayload(const Bytes& frame) { return static_cast<std::uint16_t>((frame[3] << 8) | frame[4]); }

}  // namespace

// ---------------------------------------------------------------- whole exchanges

TEST_F(ExchangeTest, SmallModelEnterWriteAllLeave) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::Variant1));
    std::fill(tunerImage.bytes.begin() + 512, tunerImage.bytes.end(), std::uint8_t{0x5A});

    SendReadInfo();
    EXPECT_EQ(LastFrameSeen(), (Bytes{0xA1, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0xA4}));
    EXPECT_EQ(pendingReplyLength, 265);
    const Outcome info = Poll(0x8003);
    EXPECT_EQ(info.result, PollResult::Match);
    EXPECT_EQ(info.ticks, 1);
    pollTicks = 0;
    radioInfo.assign(replyBuffer.data() + 6);
    EXPECT_EQ(radioInfo.bytes, radio().info().bytes);
    EXPECT_FALSE(radioInfo.largeModel());
    EXPECT_EQ(radioInfo.modelVariant(), 1);

    SendEnterTunerMode();
    EXPECT_EQ(pendingReplyLength, 521);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8060));
    std::copy_n(replyBuffer.begin() + 6, radioInfo.imageBytes(), tunerImage.bytes.begin());
    EXPECT_TRUE(radio().inTunerMode());
    EXPECT_TRUE(std::equal(tunerImage.bytes.begin(), tunerImage.bytes.begin() + 512, radio().storedImage().bytes.begin()));
    // The extension is not part of a small model's image.
    EXPECT_TRUE(std::all_of(tunerImage.bytes.begin() + 512, tunerImage.bytes.end(), [](std::uint8_t b) { return b == 0x5A; }));
    EXPECT_EQ(FormatMegahertz(txFrequency(2)), "435.050000");

    tunerImage[118] = 0x99;
    tunerImage[476] = 0x42;
    SendWriteAll();
    EXPECT_EQ(LastFrameSeen().size(), 520u);
    EXPECT_EQ(sentFrameLength, 520);
    EXPECT_EQ(pendingReplyLength, 9);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8063));
    EXPECT_TRUE(std::equal(tunerImage.bytes.begin(), tunerImage.bytes.begin() + 512, radio().storedImage().bytes.begin()));

    SendExitTunerMode();
    EXPECT_EQ(pendingReplyLength, 9);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8061));
    EXPECT_FALSE(radio().inTunerMode());
}

TEST_F(ExchangeTest, LargeModelTakesAndWritesAll848Bytes) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::LargeNewFirmware));
    ASSERT_NO_FATAL_FAILURE(enter());
    EXPECT_TRUE(radioInfo.largeModel());
    EXPECT_TRUE(radioInfo.newFirmware());
    EXPECT_EQ(StatedPayload(Bytes(replyBuffer.begin(), replyBuffer.begin() + 8)), 849);
    EXPECT_EQ(tunerImage.bytes, radio().storedImage().bytes);

    tunerImage.setWord(680 + 24, 4096);
    SendWriteAll();
    EXPECT_EQ(LastFrameSeen().size(), 856u);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8063));
    EXPECT_EQ(radio().storedImage().bytes, tunerImage.bytes);
    EXPECT_EQ(radio().storedImage().word(704), 4096);
}

TEST_F(ExchangeTest, EnterReplyLengthFollowsTheInformationJustRead) {
    // An archive from a large radio was loaded; then a small radio is entered.
    radioInfo = VirtualPresetInfo(VirtualPreset::LargeNewFirmware);
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::Variant0));
    ASSERT_NO_FATAL_FAILURE(enter());
    EXPECT_EQ(pendingReplyLength, 521);
    // Write-all after loading a large archive sends 848 bytes to any radio.
    radioInfo = VirtualPresetInfo(VirtualPreset::LargeNewFirmware);
    SendWriteAll();
    EXPECT_EQ(LastFrameSeen().size(), 856u);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8063));
}

TEST_F(ExchangeTest, AdjustSaveAndReadBackAnItem) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::Variant0));
    ASSERT_NO_FATAL_FAILURE(enter());
    const TunerImage stored = radio().storedImage();

    // Live-set item 10 point 3: program image and radio's live image change.
    SendSetItem(10, action::kValueAdjusted, 3, 177, txFrequency(2));
    EXPECT_EQ(tunerImage[118], 177);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8062));
    EXPECT_EQ(radio().liveImage()[118], 177);
    EXPECT_EQ(radio().storedImage().bytes, stored.bytes);
    ASSERT_TRUE(radio().lastLiveSet().has_value());
    EXPECT_EQ(radio().lastLiveSet()->frequency, 435050000u);

    // Save the pair: low then high array, into flash.
    const std::vector<std::uint8_t> record = SaveRecord(tunerImage, 10);
    ASSERT_EQ(record.size(), 16u);
    SendSaveItem(10, record.data());
    EXPECT_EQ(LastFrameSeen().size(), 26u);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8066));
    EXPECT_EQ(radio().storedImage()[118], 177);
    EXPECT_TRUE(std::equal(tunerImage.bytes.begin() + 108, tunerImage.bytes.begin() + 124,
                           radio().storedImage().bytes.begin() + 108));

    // Bit-error counters come back as N and E, big-endian.
    SendSetItem(22, action::kReceiveOn, 2, 0, rxFrequency(1));
    ASSERT_NO_FATAL_FAILURE(Complete(0x8062));
    EXPECT_TRUE(radio().receiving());
    radio().setErrorCounters(1, 1);
    SendQueryItem(22, action::kReadBack, 2, 0, txFrequency(1));
    EXPECT_EQ(pendingReplyLength, 17);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8062));
    EXPECT_EQ(Bytes(replyBuffer.begin() + 6, replyBuffer.begin() + 14), (Bytes{0, 0, 0, 1, 0, 0, 0, 1}));

    // Temperatures: payload bytes 1 and 2.
    radio().setReading(30, {17, 200});
    SendQueryItem(30, action::kReadBack, 3, 0, txFrequency(2));
    ASSERT_NO_FATAL_FAILURE(Complete(0x8062));
    EXPECT_EQ(replyBuffer[6], 17);
    EXPECT_EQ(replyBuffer[7], 200);

    // Man-down: payload byte 1.
    radio().setReading(88, {123});
    SendQueryItem(88, action::kReadBack, 1, 0, txFrequency(0));
    EXPECT_EQ(pendingReplyLength, 10);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8062));
    EXPECT_EQ(replyBuffer[6], 123);
}

TEST_F(ExchangeTest, FactoryReadAndHiddenWrite) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::LargeNewFirmware));
    ASSERT_NO_FATAL_FAILURE(enter());
    const TunerImage before = tunerImage;
    SendReadFactory();
    EXPECT_EQ(pendingReplyLength, 521);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8065));
    std::copy_n(replyBuffer.begin() + 6, 512, tunerImage.bytes.begin());
    EXPECT_TRUE(std::equal(tunerImage.bytes.begin(), tunerImage.bytes.begin() + 512,
                           radio().factoryImage().bytes.begin()));
    EXPECT_TRUE(std::equal(tunerImage.bytes.begin() + 512, tunerImage.bytes.end(), before.bytes.begin() + 512));

    tunerImage[5] = 0x77;
    SendWriteFactory();
    EXPECT_EQ(LastFrameSeen().size(), 856u);
    ASSERT_NO_FATAL_FAILURE(Complete(0x8064));
    EXPECT_EQ(radio().factoryImage().bytes, tunerImage.bytes);
}

// ---------------------------------------------------------------- expiry

TEST_F(ExchangeTest, EveryFaultExpiresExactlyOnTheHundredthTick) {
    struct Case {
        const char* name;
        std::function<void(VirtualBackend&)> inject;
    };
    const Case cases[] = {
        {"no answer", [](VirtualBackend& b) { b.radio().setFault(Fault::NoAnswer); }},
        {"wrong checksum", [](VirtualBackend& b) { b.radio().setFault(Fault::WrongChecksum); }},
        {"wrong command code", [](VirtualBackend& b) { b.radio().setFault(Fault::WrongCommandCode); }},
        {"removed", [](VirtualBackend& b) { b.unplug(); }},
        {"answer on tick 100", [](VirtualBackend& b) { b.radio().setFault(Fault::AnswerAfterReads, 100); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRadioState();
        ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::Variant0));
        c.inject(*backend_);
        SendReadInfo();
        for (int tick = 1; tick < 100; ++tick) {
            ASSERT_EQ(PollStep(0x8003), PollResult::Pending) << "tick " << tick;
        }
        EXPECT_EQ(PollStep(0x8003), PollResult::Expired);
        EXPECT_EQ(pollTicks, 100);
    }
}

TEST_F(ExchangeTest, AReplyOnTickNinetyNineStillMatches) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::Variant0));
    radio().setFault(Fault::AnswerAfterReads, 99);
    SendExitTunerMode();
    const Outcome o = Poll(0x8061);
    EXPECT_EQ(o.result, PollResult::Match);
    EXPECT_EQ(o.ticks, 99);
}

TEST_F(ExchangeTest, ResendAfterTwoExpiriesIsAnsweredTheThirdTime) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::Variant0));
    ASSERT_NO_FATAL_FAILURE(enter());
    radio().dropNextReplies(2);
    radio().clearReceivedFrames();
    SendSetItem(12, action::kItemSelected, 1, 100, txFrequency(0));
    int sends = 1;
    for (;;) {
        const Outcome o = Poll(0x8062);
        if (o.result == PollResult::Match) break;
        ASSERT_EQ(o.result, PollResult::Expired);
        ASSERT_EQ(o.ticks, 100);
        ++pollRetries;
        pollTicks = 0;
        ASSERT_LT(pollRetries, 3);
        SendSetItem(12, action::kItemSelected, 1, 100, txFrequency(0));
        ++sends;
    }
    EXPECT_EQ(sends, 3);
    EXPECT_EQ(pollRetries, 2);
    EXPECT_EQ(radio().receivedFrames().size(), 3u);
}

TEST_F(ExchangeTest, UnpluggedRadioIsNotFoundAndItsOldLinkStaysDead) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::Variant0));
    std::vector<bool> events;
    backend_->setPlugListener([&](bool plugged) { events.push_back(plugged); });
    backend_->unplug();
    EXPECT_EQ(ScanRadioDrives(), 0);
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::NoRadio);

    backend_->plug();
    EXPECT_EQ(events, (std::vector<bool>{false, true}));
    EXPECT_EQ(ScanRadioDrives(), 1);
    // The link opened before the removal still leads nowhere.
    SendReadInfo();
    EXPECT_EQ(Poll(0x8003).result, PollResult::Expired);
    pollTicks = 0;
    linkHandle = OpenRadio();
    ASSERT_NE(linkHandle, nullptr);
    SendReadInfo();
    EXPECT_EQ(Poll(0x8003).result, PollResult::Match);
}

TEST_F(ExchangeTest, NoBackendNoRadio) {
    EXPECT_EQ(ScanRadioDrives(), 0);
    EXPECT_EQ(OpenRadio(), nullptr);
    SendReadInfo();  // on no link: goes nowhere
    EXPECT_EQ(Poll(0x8003).result, PollResult::Expired);
}

// ---------------------------------------------------------------- frame edge cases

TEST(FrameEdge, BuildFrameOfAnEmptyPayload) {
    std::uint8_t frame[16] = {};
    EXPECT_EQ(BuildFrame(frame, 0x0003, nullptr, 0), 8);
    EXPECT_EQ(Bytes(frame, frame + 8), (Bytes{0xA1, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0xA4}));
}

TEST(FrameEdge, ChecksumWraps) {
    const Bytes payload(300, 0xFF);
    Bytes frame(308);
    EXPECT_EQ(BuildFrame(frame.data(), 0x0063, payload.data(), 300), 308);
    EXPECT_EQ(frame[3], 0x01);
    EXPECT_EQ(frame[4], 0x2C);
    EXPECT_EQ(frame[305], 0x2A);
    EXPECT_EQ(frame[306], 0xD4);
    EXPECT_EQ(frame[307], 0xA4);
}

TEST(FrameEdge, EndByteIsSoughtAtTheExpectedLength) {
    const std::uint8_t s = 0x37;
    std::array<std::uint8_t, kReplyBufferSize> buffer{};
    const Bytes nine{0xA1, 0x80, 0x61, 0x00, 0x01, s, 0x00, s, 0xA4};
    std::copy(nine.begin(), nine.end(), buffer.begin());
    EXPECT_TRUE(MatchReply(buffer.data(), 0x8061, 9));
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8061, 10));  // byte 9 is the zero after it
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8062, 9));
    buffer[7] = static_cast<std::uint8_t>(s + 1);
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8061, 9));
    buffer[7] = s;
    buffer[0] = 0xA0;
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8061, 9));
}

TEST(FrameEdge, StatedLengthMustFillTheExpectedLength) {
    std::array<std::uint8_t, kReplyBufferSize> buffer{};
    const auto load = [&](const Bytes& bytes) {
        buffer.fill(0);
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
    };
    // The read-back answer a radio still holds after a lost live-set: two
    // payload bytes, checksum 00 A4, end byte at 9. Read as the 9 bytes of a
    // live-set acknowledgement its checksum's low byte sits where the end
    // byte is sought, and its checksum is right over the stated payload.
    load({0xA1, 0x80, 0x62, 0x00, 0x02, 0x40, 0x64, 0x00, 0xA4, 0xA4});
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8062, 9));
    EXPECT_TRUE(MatchReply(buffer.data(), 0x8062, 10));  // as the read-back it is
    // One payload byte stated, read as a 12-byte reply with A4 at byte 11.
    load({0xA1, 0x80, 0x62, 0x00, 0x01, 0x05, 0x00, 0x05, 0xA4, 0x00, 0x00, 0xA4});
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8062, 12));
    EXPECT_TRUE(MatchReply(buffer.data(), 0x8062, 9));
    // A stated length longer than the expected one does not match either.
    load({0xA1, 0x80, 0x62, 0x00, 0x02, 0x05, 0x00, 0x05, 0xA4});
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8062, 9));
}

TEST(FrameEdge, ExpectedLengthBeyondTheReplyBufferIsNoMatch) {
    std::array<std::uint8_t, kReplyBufferSize> buffer{};
    // The longest reply the buffer holds: 4088 payload bytes of zero, so the
    // checksum is 00 00 and the end byte is the buffer's last byte.
    buffer[0] = 0xA1;
    buffer[1] = 0x80;
    buffer[2] = 0x62;
    buffer[3] = 4088 >> 8;
    buffer[4] = 4088 & 0xFF;
    buffer[4095] = 0xA4;
    EXPECT_TRUE(MatchReply(buffer.data(), 0x8062, 4096));
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8062, 4096, 4095));  // one byte less readable
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8062, 4097));
    buffer[3] = 0xFF;
    buffer[4] = 0xFF;
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8062, 4096));
}

TEST_F(ExchangeTest, SendersFixPayloadAndReplyLengths) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::LargeNewFirmware));
    const Bytes data(56, 0x10);
    struct Case {
        const char* name;
        std::function<void()> send;
        std::uint16_t payload;
        std::uint16_t reply;
    };
    const Case cases[] = {
        {"query 30", [] { SendQueryItem(30, 7, 3, 0, 0); }, 8, 11},
        {"query 87", [] { SendQueryItem(87, 7, 3, 0, 0); }, 8, 11},
        {"query 31", [] { SendQueryItem(31, 7, 3, 0, 0); }, 8, 10},
        {"query 22", [] { SendQueryItem(22, 7, 3, 0, 0); }, 8, 17},
        {"save 92", [&] { SendSaveItem(92, data.data()); }, 58, 9},
        {"save 26", [&] { SendSaveItem(26, data.data()); }, 3, 9},
        {"save 9", [&] { SendSaveItem(9, data.data()); }, 18, 9},
        {"save 4", [&] { SendSaveItem(4, data.data()); }, 10, 9},
        {"wide save 26", [&] { SendSaveWideItem(26, data.data()); }, 26, 9},
        {"wide save 23", [&] { SendSaveWideItem(23, data.data()); }, 3, 9},
        {"set block", [&] { SendSetItemBlock(91, 5, 2, data.data(), 0); }, 15, 9},
        {"read factory", [] { SendReadFactory(); }, 0, 521},
        {"write factory", [] { SendWriteFactory(); }, 848, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.send();
        EXPECT_EQ(StatedPayload(LastFrameSeen()), c.payload);
        EXPECT_EQ(LastFrameSeen().size(), c.payload + 8u);
        EXPECT_EQ(sentFrameLength, c.payload + 8);
        EXPECT_EQ(pendingReplyLength, c.reply);
    }
    // Write-all with a small-model block: a 520-byte frame.
    radioInfo = VirtualPresetInfo(VirtualPreset::Variant0);
    SendWriteAll();
    EXPECT_EQ(LastFrameSeen().size(), 520u);
}

TEST_F(ExchangeTest, LayoutAOnTheWire) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::Variant0));
    SendSetItem(70, 5, 3, 0x4D, 0x19EE5610);
    const Bytes expected{0xA1, 0x00, 0x62, 0x00, 0x08, 70, 5, 3, 0x19, 0xEE, 0x56, 0x10, 0x4D, 0x02, 0x08, 0xA4};
    EXPECT_EQ(LastFrameSeen(), expected);
    EXPECT_EQ(tunerImage[374], 0x4D);  // stored before sending
}

// ---------------------------------------------------------------- hooks

TEST_F(ExchangeTest, OnlyTheTuningWindowSendersUseTheHooks) {
    ASSERT_NO_FATAL_FAILURE(Attach(VirtualPreset::LargeNewFirmware));
    struct Call {
        std::optional<TuningTimer> timer;
        Bytes logged;
        int direction = -1;
        std::size_t framesSeenAtLog = 0;
    };
    Call call;
    int timerCalls = 0, logCalls = 0;
    SetSenderHooks({[&](TuningTimer t) {
                        call.timer = t;
                        ++timerCalls;
                    },
                    [&](const std::uint8_t* bytes, std::uint16_t count, int direction) {
                        call.logged.assign(bytes, bytes + count);
                        call.direction = direction;
                        call.framesSeenAtLog = radio().receivedFrames().size();
                        ++logCalls;
                    }});
    const Bytes data(56, 0x21);
    struct Case {
        const char* name;
        std::function<void()> send;
        std::optional<TuningTimer> timer;
        bool logged;
    };
    const Case cases[] = {
        {"read info", [] { SendReadInfo(); }, std::nullopt, false},
        {"enter", [] { SendEnterTunerMode(); }, std::nullopt, false},
        {"exit", [] { SendExitTunerMode(); }, std::nullopt, false},
        {"write all", [] { SendWriteAll(); }, std::nullopt, false},
        {"write factory", [] { SendWriteFactory(); }, std::nullopt, false},
        {"read factory", [] { SendReadFactory(); }, std::nullopt, false},
        {"set item", [] { SendSetItem(10, 4, 1, 70, 400125000); }, TuningTimer::TimeOut, true},
        {"set block", [&] { SendSetItemBlock(31, 5, 1, data.data(), 400125000); }, TuningTimer::TimeOut, true},
        {"query", [] { SendQueryItem(5, 7, 1, 0, 400125000); }, std::nullopt, true},
        {"save", [&] { SendSaveItem(31, data.data()); }, TuningTimer::Save, true},
        {"wide save", [&] { SendSaveWideItem(86, data.data()); }, TuningTimer::SaveItem2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        call = Call{};
        timerCalls = logCalls = 0;
        c.send();
        EXPECT_EQ(timerCalls, c.timer ? 1 : 0);
        EXPECT_EQ(call.timer, c.timer);
        EXPECT_EQ(logCalls, c.logged ? 1 : 0);
        if (c.logged) {
            EXPECT_EQ(call.logged, LastFrameSeen());
            EXPECT_EQ(call.logged.size(), sentFrameLength);
            EXPECT_EQ(call.direction, 0);
            // The frame was on its way before it was logged.
            EXPECT_EQ(call.framesSeenAtLog, radio().receivedFrames().size());
        }
    }
}
