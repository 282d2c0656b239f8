// The alignment engine: convergence and failure on fakes, the whole path on
// the virtual radio and the virtual instrument (real socket, SCPI text,
// frames), and the transmitter unkeyed on every way a run can end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "align/AlignEngine.h"
#include "align/AlignRecords.h"
#include "data/Global.h"
#include "data/ItemTable.h"
#include "instrument/Net.h"
#include "instrument/VirtualInstrument.h"
#include "protocol/RadioValues.h"
#include "protocol/Sendcmd.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"
#include "sim/VirtualBackend.h"
#include "core/support/AlignFakes.h"
#include "core/support/VirtualRadioCase.h"

using namespace varnel;
using namespace varnel::test;
using std::chrono::milliseconds;

namespace {

// ---- the virtual radio and instrument --------------------------------------

class AlignVirtual : public test::VirtualRadioCase {
protected:
    void TearDown() override {
        instrument_.reset();
        link_.reset();
        VirtualRadioCase::TearDown();
    }

    void Attach(VirtualPreset preset) {
        ResetRadioState();
        InstallRadio(preset);
        instrument_ = std::make_unique<VirtualInstrument>(backend_->sharedRadio());
        ASSERT_TRUE(instrument_->start().ok());
        Result<std::unique_ptr<Instrument>> link = OpenInstrument(instrument_->url(), milliseconds(500));
        ASSERT_TRUE(link.ok()) << link.error().text();
        link_ = std::move(link.value());
    }

    // What the test set received, once it has dealt with everything sent
    // before (it answers a client's lines in order); the "*OPC?" of the
    // synchronisation is left out.
    std::vector<std::string> instrumentReceived() {
        EXPECT_TRUE(link_->query("*OPC?").ok());
        std::vector<std::string> got = instrument_->received();
        if (!got.empty() && got.back() == "*OPC?") got.pop_back();
        return got;
    }

    // The last live-set the radio received (item, action).
    std::pair<int, int> lastKeying() {
        for (auto it = radio().receivedFrames().rbegin(); it != radio().receivedFrames().rend(); ++it) {
            const std::vector<std::uint8_t>& f = *it;
            if (f.size() >= 16 && f[1] == 0x00 && f[2] == 0x62 && f[6] <= 3) return {f[5], f[6]};
        }
        return {-1, -1};
    }

    // The live-sets 0x0062 the radio received, in order.
    struct LiveFrame {
        int item, action, point, value;
    };
    std::vector<LiveFrame> liveSets() {
        std::vector<LiveFrame> out;
        for (const std::vector<std::uint8_t>& f : radio().receivedFrames()) {
            if (f.size() >= 16 && f[1] == 0x00 && f[2] == 0x62) out.push_back({f[5], f[6], f[7], f[12]});
        }
        return out;
    }

    // The byte of `item` at `point` in an image.
    static std::size_t Offset(int item, int point) {
        const std::optional<ItemBytesInfo> bytes = ItemBytes(item);
        EXPECT_TRUE(bytes.has_value());
        if (!bytes) return 0;
        return static_cast<std::size_t>(bytes->offset) +
               (bytes->layout == ItemLayout::Single ? 0 : static_cast<std::size_t>(point - 1));
    }

    static Procedure Load(const std::string& name) {
        Result<Procedure> p = LoadProcedure(std::string(VARNEL_SOURCE_DIR) + "/procedures/" + name + ".json");
        EXPECT_TRUE(p.ok()) << (p.ok() ? "" : p.error().text());
        return p.ok() ? p.value() : Procedure{};
    }

    static Procedure Short() {
        ProcedureStep s = powerStep({1, 2, 3, 4, 5}, 37.0);
        s.tolerance = 0.2;
        s.settleMs = 25;
        Procedure p = oneStep(s);
        p.name = "short";
        return p;
    }

    std::unique_ptr<VirtualInstrument> instrument_;
    std::unique_ptr<Instrument> link_;
};

}  // namespace

// ---- convergence on fakes ----------------------------------------------------

TEST(AlignEngineFake, ConvergesAndUnkeys) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    AlignEngine engine(oneStep(powerStep({1, 2, 3}, 33.0)), radio, &meter, VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete()) << report.error.text();
    ASSERT_EQ(report.points.size(), 3u);
    for (const PointResult& p : report.points) {
        EXPECT_TRUE(p.pass) << p.note;
        // 0.05 per step and 25 at zero: 33 is reached at 160 (+/- 2).
        EXPECT_NEAR(p.finalValue, 160, 2);
        EXPECT_LE(p.tries, 6);
        ASSERT_TRUE(p.reading.has_value());
        EXPECT_NEAR(*p.reading, 33.0, 0.1);
    }
    EXPECT_FALSE(radio.keyed);
    EXPECT_EQ(radio.saves, std::vector<int>{19});
    // Every value sent with action 5 stays within the range.
    for (const FakeRadio::Sent& s : radio.sent) {
        EXPECT_GE(s.value, 0);
        EXPECT_LE(s.value, 255);
    }
}

TEST(AlignEngineFake, ValuesStayInTheRange) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    ProcedureStep s = powerStep({1}, 33.0);
    s.minValue = 120;
    s.maxValue = 140;  // 33 needs 160: beyond the range
    AlignEngine engine(oneStep(s), radio, &meter, VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete());
    ASSERT_EQ(report.points.size(), 1u);
    EXPECT_FALSE(report.points[0].pass);
    for (const FakeRadio::Sent& sent : radio.sent) {
        if (sent.action != align_action::kValueAdjusted || sent.value == 100) continue;  // 100: the restore
        EXPECT_GE(sent.value, 120);
        EXPECT_LE(sent.value, 140);
    }
}

TEST(AlignEngineFake, UnreachablePointIsReportedNotForced) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    // 0.05 per step: 40.0 needs 300, beyond 255.
    AlignEngine engine(oneStep(powerStep({2}, 40.0)), radio, &meter, VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete());
    ASSERT_EQ(report.points.size(), 1u);
    const PointResult& p = report.points[0];
    EXPECT_FALSE(p.pass);
    EXPECT_NE(p.note.find("beyond the value range"), std::string::npos) << p.note;
    EXPECT_EQ(p.finalValue, 100);  // put back
    EXPECT_EQ(radio.values[2], 100);
    EXPECT_FALSE(p.reading.has_value());
    EXPECT_EQ(report.failed(), 1);
    EXPECT_FALSE(radio.keyed);
}

TEST(AlignEngineFake, TooCoarseAValueFailsOnTheClosedBracket) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    meter.slope = 1.0;  // one step moves the reading by 1.0, the tolerance is 0.1
    meter.offset = -69.5;
    AlignEngine engine(oneStep(powerStep({1}, 40.0)), radio, &meter, VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_EQ(report.points.size(), 1u);
    EXPECT_FALSE(report.points[0].pass);
    EXPECT_NE(report.points[0].note.find("no value reaches"), std::string::npos) << report.points[0].note;
    EXPECT_FALSE(radio.keyed);
}

// ---- centring on the target ---------------------------------------------------

namespace {

// A radio whose own reading of a squelch level is a straight line of its
// value, without noise: reading = slope x value + offset.
class LevelRadio : public FakeRadio {
public:
    Result<int> readBack(int, int point, int, std::uint32_t) override {
        ++readings;
        return slope * values[point] + offset;
    }
    int slope = 1;
    int offset = -26;
    int readings = 0;
};

// The squelch step of the shipped procedures: item 5, 120 +/- 4, the radio's reading.
ProcedureStep squelchStep(int point) {
    ProcedureStep s;
    s.name = "squelch";
    s.item = 5;
    s.points = {point};
    s.keying = Keying::Receive;
    s.measure = "radio";
    s.target = 120;
    s.tolerance = 4;
    s.settleMs = 0;
    return s;
}

// A history of earlier radios that ended point 1 of item 5 at `value` with
// one reading per value step.
Predictor squelchHistory(int value) {
    std::vector<HistoryEntry> entries;
    for (int i = 0; i < 5; ++i) entries.push_back({"radio-" + std::to_string(i), 5, 1, value, 1.0});
    return Predictor(entries);
}

}  // namespace

TEST(AlignEngineFake, PassingPointIsCentredNotLeftAtTheEdge) {
    // The radio holds 142: reading 116, just inside 120 +/- 4, outside the
    // middle half (118 to 122). Without a slope the engine probes one step
    // (143: 117), then aims at 120 (146).
    LevelRadio radio;
    radio.values[1] = 142;
    AlignEngine engine(oneStep(squelchStep(1)), radio, nullptr, VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete()) << report.error.text();
    ASSERT_EQ(report.points.size(), 1u);
    const PointResult& p = report.points[0];
    EXPECT_TRUE(p.pass) << p.note;
    ASSERT_TRUE(p.reading.has_value());
    EXPECT_LE(std::fabs(*p.reading - 120), 2.0);  // within half the tolerance
    EXPECT_EQ(p.finalValue, 146);
    EXPECT_EQ(radio.values[1], 146);
    EXPECT_EQ(p.tries, 3);
    EXPECT_FALSE(radio.keyed);
}

TEST(AlignEngineFake, CentringWithTheHistorysSlopeCostsOneTry) {
    // The history says 142 and one reading per step: 116 there, then
    // straight to 146 (120).
    LevelRadio radio;
    AlignEngine engine(oneStep(squelchStep(1)), radio, nullptr, VirtualTestSetModel());
    engine.setPredictor(squelchHistory(142));
    AlignReport report = engine.run();
    ASSERT_EQ(report.points.size(), 1u);
    EXPECT_TRUE(report.points[0].pass);
    EXPECT_EQ(report.points[0].tries, 2);
    EXPECT_EQ(report.points[0].finalValue, 146);
    EXPECT_DOUBLE_EQ(*report.points[0].reading, 120);
    // A prediction already within half the tolerance (144: 118) is taken at
    // once.
    LevelRadio again;
    AlignEngine second(oneStep(squelchStep(1)), again, nullptr, VirtualTestSetModel());
    second.setPredictor(squelchHistory(144));
    report = second.run();
    ASSERT_EQ(report.points.size(), 1u);
    EXPECT_TRUE(report.points[0].pass);
    EXPECT_EQ(report.points[0].tries, 1);
    EXPECT_EQ(report.points[0].finalValue, 144);
}

TEST(AlignEngineFake, CoarseStepKeepsTheClosestPassingValue) {
    // Seven reading units per value step, more than the middle band 118 to
    // 122: 60 reads 116, 61 reads 123, both inside 120 +/- 4. From 60 the
    // probe finds 61 closer and no step gets closer still; 61 stays, with
    // its reading.
    LevelRadio radio;
    radio.slope = 7;
    radio.offset = -304;
    radio.values[1] = 60;
    AlignEngine engine(oneStep(squelchStep(1)), radio, nullptr, VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_EQ(report.points.size(), 1u);
    const PointResult& p = report.points[0];
    EXPECT_TRUE(p.pass) << p.note;
    EXPECT_EQ(p.finalValue, 61);
    EXPECT_EQ(radio.values[1], 61);
    EXPECT_DOUBLE_EQ(*p.reading, 123);
    EXPECT_EQ(p.tries, 2);
    // From 61 the probe makes it worse (60: 116): the radio is put back on
    // the closest value it had, 61, and its reading stands.
    LevelRadio other;
    other.slope = 7;
    other.offset = -304;
    other.values[1] = 61;
    AlignEngine back(oneStep(squelchStep(1)), other, nullptr, VirtualTestSetModel());
    const AlignReport r2 = back.run();
    ASSERT_EQ(r2.points.size(), 1u);
    EXPECT_TRUE(r2.points[0].pass);
    EXPECT_EQ(r2.points[0].finalValue, 61);
    EXPECT_EQ(other.values[1], 61);
    EXPECT_DOUBLE_EQ(*r2.points[0].reading, 123);
    EXPECT_EQ(r2.points[0].tries, 2);
}

TEST(AlignEngineFake, ExceptionUnkeys) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    meter.throwAfter = 2;
    AlignEngine engine(oneStep(powerStep({1, 2}, 33.0)), radio, &meter, VirtualTestSetModel());
    const AlignReport report = engine.run();
    EXPECT_FALSE(report.complete());
    EXPECT_NE(report.error.text().find("instrument driver crashed"), std::string::npos);
    EXPECT_FALSE(radio.keyed);
    ASSERT_FALSE(radio.sent.empty());
    EXPECT_EQ(radio.sent.back().action, align_action::kTransmitOff);
}

TEST(AlignEngineFake, StopUnkeys) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    AlignEngine engine(oneStep(powerStep({1, 2, 3}, 33.0)), radio, &meter, VirtualTestSetModel());
    AlignEvents events;
    events.tried = [&](const AlignTry&) { engine.stop(); };
    engine.setEvents(events);
    const AlignReport report = engine.run();
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.error.code(), ErrorCode::Cancelled);
    EXPECT_FALSE(radio.keyed);
    EXPECT_EQ(radio.sent.back().action, align_action::kTransmitOff);
    EXPECT_TRUE(radio.saves.empty());
}

TEST(AlignEngineFake, ResultsGoToTheRecordSink) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    AlignEngine engine(oneStep(powerStep({1, 2}, 33.0)), radio, &meter, VirtualTestSetModel());
    std::vector<int> recorded;
    engine.setRecordSink([&](const PointResult& p) { recorded.push_back(p.point); });
    const AlignReport report = engine.run();
    EXPECT_EQ(recorded, (std::vector<int>{1, 2}));
    const std::string csv = report.toCsv();
    EXPECT_EQ(csv.rfind("step,item,band,point,", 0), 0u);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
    const nlohmann::json json = nlohmann::json::parse(report.toJson());
    EXPECT_EQ(json["points"].size(), 2u);
    EXPECT_EQ(json["points"][0]["result"], "pass");
    EXPECT_EQ(json["passed"], 2);
}

// ---- the SCPI transport against the virtual instrument -----------------------

TEST_F(AlignVirtual, ScpiOverLoopback) {
    Attach(VirtualPreset::LargeNewFirmware);
    Result<std::string> idn = link_->query("*IDN?");
    ASSERT_TRUE(idn.ok()) << idn.error().text();
    EXPECT_EQ(idn.value().rfind("VARNEL,VIRTUAL TEST SET,", 0), 0u);
    // Nothing transmitted: no reading.
    Result<std::string> idle = link_->query("MEAS:POW?");
    ASSERT_TRUE(idle.ok());
    EXPECT_FALSE(ParseScpiNumber(idle.value()).ok());
    // Two queries on one line, answered on one line.
    Result<std::string> two = link_->query("meas:volt?; *OPC?");
    ASSERT_TRUE(two.ok());
    ASSERT_GE(two.value().size(), 3u);
    EXPECT_EQ(two.value().substr(two.value().size() - 2), ";1");
    EXPECT_TRUE(ParseScpiNumber(two.value().substr(0, two.value().size() - 2)).ok()) << two.value();
}

TEST_F(AlignVirtual, ScpiTimeOutAndRecovery) {
    Attach(VirtualPreset::Variant0);
    Result<std::unique_ptr<Instrument>> quick = OpenInstrument(instrument_->url(), milliseconds(150));
    ASSERT_TRUE(quick.ok());
    instrument_->setSilent(true);
    Result<std::string> r = quick.value()->query("*IDN?");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code(), ErrorCode::Instrument);
    EXPECT_NE(r.error().text().find("no reply"), std::string::npos) << r.error().text();
    instrument_->setSilent(false);
    Result<std::string> again = quick.value()->query("*OPC?");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value(), "1");
    // A query the instrument does not know gets no reply; it is in the error queue.
    EXPECT_FALSE(quick.value()->query("MEAS:NOSUCH?").ok());
    EXPECT_EQ(quick.value()->query("SYST:ERR?").value().rfind("-113,", 0), 0u);
}

TEST_F(AlignVirtual, ScpiMalformedReply) {
    Attach(VirtualPreset::Variant0);
    instrument_->setMalformed(true);
    Result<std::string> r = link_->query("MEAS:VOLT?");
    ASSERT_TRUE(r.ok());
    Result<double> n = ParseScpiNumber(r.value());
    ASSERT_FALSE(n.ok());
    EXPECT_EQ(n.error().code(), ErrorCode::BadData);
}

TEST_F(AlignVirtual, ReadingsFollowTheRadio) {
    Attach(VirtualPreset::LargeNewFirmware);
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.prepare().ok());
    instrument_->setNoise(0);
    instrument_->setSettle(milliseconds(0));
    const std::uint32_t f = port.frequency(0, 2, false);
    ASSERT_EQ(f, 415125000u);
    ASSERT_TRUE(link_->send("RF:FREQ 415125000").ok());
    ASSERT_TRUE(port.setItem(19, align_action::kTransmitOn, 2, port.value(19, 2), f).ok());
    ASSERT_TRUE(radio().transmitting());
    double previous = -1e9;
    for (int v : {60, 120, 180, 240}) {
        ASSERT_TRUE(port.setItem(19, align_action::kValueAdjusted, 2, v, f).ok());
        Result<double> dbm = ParseScpiNumber(link_->query("MEAS:POW?").value());
        ASSERT_TRUE(dbm.ok());
        EXPECT_NEAR(dbm.value(), instrument_->steadyReading(VirtualInstrument::Quantity::Power, 19, 2, v), 1e-5);
        EXPECT_GT(dbm.value(), previous);
        previous = dbm.value();
    }
    // Off the carrier's frequency the analyser sees nothing.
    ASSERT_TRUE(link_->send("RF:FREQ 435050000").ok());
    EXPECT_FALSE(ParseScpiNumber(link_->query("MEAS:POW?").value()).ok());
    ASSERT_TRUE(port.setItem(19, align_action::kTransmitOff, 2, 240, f).ok());
}

// ---- whole procedures --------------------------------------------------------

class AlignExample : public AlignVirtual, public ::testing::WithParamInterface<const char*> {};

TEST_P(AlignExample, EveryPointConverges) {
    const std::string name = GetParam();
    Attach(*ParseVirtualPreset(name));
    const Procedure procedure = Load(name);
    SendcmdAlignRadio port;
    AlignEngine engine(procedure, port, link_.get(), VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete()) << report.error.text();
    ASSERT_EQ(static_cast<int>(report.points.size()), procedure.pointCount());
    int tries = 0;
    for (const PointResult& p : report.points) {
        EXPECT_TRUE(p.pass) << p.step << " point " << p.point << ": " << p.note;
        tries += p.tries;
        // Saved: the radio's flash holds the final value.
        const std::optional<ItemBytesInfo> bytes = ItemBytes(p.item);
        ASSERT_TRUE(bytes.has_value());
        const std::size_t at = static_cast<std::size_t>(bytes->offset) +
                               (bytes->layout == ItemLayout::Single ? 0 : static_cast<std::size_t>(p.point - 1));
        EXPECT_EQ(radio().storedImage()[at], p.finalValue) << p.step << " point " << p.point;
    }
    EXPECT_LE(static_cast<double>(tries) / static_cast<double>(report.points.size()), 6.0);
    EXPECT_FALSE(radio().transmitting());
    EXPECT_FALSE(radio().receiving());
}

INSTANTIATE_TEST_SUITE_P(Procedures, AlignExample, ::testing::Values("large", "variant0", "variant1", "variant2"));

TEST_F(AlignVirtual, UnreachableTargetFailsThatPointOnly) {
    Attach(VirtualPreset::Variant0);
    Procedure p = Short();
    ProcedureStep impossible = p.steps[0];
    impossible.name = "impossible";
    impossible.points = {3};
    impossible.target = 45.0;  // 30 W from a 7 W transmitter
    p.steps.push_back(impossible);
    SendcmdAlignRadio port;
    AlignEngine engine(p, port, link_.get(), VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete()) << report.error.text();
    ASSERT_EQ(report.points.size(), 6u);
    EXPECT_EQ(report.passed(), 5);
    EXPECT_FALSE(report.points[5].pass);
    EXPECT_FALSE(radio().transmitting());
}

// ---- the fixture's path loss -----------------------------------------------------

// Through a fixture that loses 2 dB the instrument reads 2 dB less than the
// radio delivers: aligned to 37 dBm at the radio, every point ends where the
// bare test set shows 35 dBm, below the values a run without the fixture
// reaches. Between the two rows the loss is interpolated by frequency.
TEST_F(AlignVirtual, PathLossIsAddedBackToEveryPowerReading) {
    Attach(VirtualPreset::LargeNewFirmware);
    instrument_->setNoise(0);
    const Procedure procedure = Short();
    // The same loss on both rows keeps the expected figure plain; the
    // interpolation between rows is the PathLoss tests' matter.
    const PathLoss loss({{400.0, 2.0}, {470.0, 2.0}});
    std::vector<int> bare;
    {
        SendcmdAlignRadio port;
        AlignEngine engine(procedure, port, link_.get(), VirtualTestSetModel());
        const AlignReport report = engine.run();
        ASSERT_TRUE(report.complete()) << report.error.text();
        for (const PointResult& p : report.points) bare.push_back(p.finalValue);
    }
    SendcmdAlignRadio port;
    AlignEngine engine(procedure, port, link_.get(), VirtualTestSetModel());
    engine.setPathLoss(loss);
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete()) << report.error.text();
    ASSERT_EQ(report.points.size(), bare.size());
    for (std::size_t i = 0; i < report.points.size(); ++i) {
        const PointResult& p = report.points[i];
        SCOPED_TRACE("point " + std::to_string(p.point));
        ASSERT_TRUE(p.pass) << p.note;
        ASSERT_TRUE(p.reading.has_value());
        EXPECT_NEAR(*p.reading, 37.0, 0.2);
        // The test set itself shows the reading less the loss: 35 dBm.
        const double shown = instrument_->steadyReading(VirtualInstrument::Quantity::Power, p.item, p.point, p.finalValue);
        EXPECT_NEAR(shown, *p.reading - 2.0, 1e-3);
        EXPECT_NEAR(shown, 35.0, 0.2);
        EXPECT_LT(p.finalValue, bare[i]);
    }
}

// ---- a run interrupted while the radio transmits ----------------------------------

// What a case of the table can reach while the run goes on.
struct InterruptedRun {
    VirtualRadio& radio;
    VirtualBackend& backend;
    VirtualInstrument& instrument;
    AlignEngine& engine;
    int tries = 0;             // readings so far
    bool interrupted = false;  // the case has done its part
};

// One way to interrupt a run: what happens on each reading and what the
// report then says. Every way ends with the radio unkeyed.
struct Interruption {
    const char* name;
    bool quickLink;  // the engine talks over a link of its own that waits 200 ms, not the usual one
    void (*onTry)(InterruptedRun&);
    void (*check)(const AlignReport&, const InterruptedRun&);
    bool transmitOffIsTheLastLiveSet;  // false where the radio takes no more frames
};

const Interruption kInterruptions[] = {
    {"SilentInstrument", true,
     [](InterruptedRun& run) {
         if (++run.tries == 4) run.instrument.setSilent(true);
         EXPECT_TRUE(run.radio.transmitting());
     },
     [](const AlignReport& report, const InterruptedRun&) { EXPECT_EQ(report.error.code(), ErrorCode::Instrument); },
     true},
    {"Stop", false,
     [](InterruptedRun& run) {
         if (run.radio.transmitting()) run.engine.stop();
     },
     [](const AlignReport& report, const InterruptedRun&) { EXPECT_TRUE(report.stopped); }, true},
    {"Exception", false,
     [](InterruptedRun& run) {
         if (run.radio.transmitting()) throw std::runtime_error("chart failed");
     },
     [](const AlignReport& report, const InterruptedRun&) {
         EXPECT_FALSE(report.complete());
         EXPECT_NE(report.error.text().find("chart failed"), std::string::npos);
     },
     true},
    {"UnpluggedRadio", false,
     [](InterruptedRun& run) {
         if (!run.interrupted && run.radio.transmitting()) {
             run.interrupted = true;
             run.backend.unplug();
         }
     },
     [](const AlignReport& report, const InterruptedRun& run) {
         EXPECT_TRUE(run.interrupted);
         // The pulled cable shows as a radio that stopped answering, or, once
         // the expired poll has closed the link, as a radio no longer found.
         EXPECT_TRUE(report.error.code() == ErrorCode::NoAnswer || report.error.code() == ErrorCode::NoRadio)
             << report.error.text();
         // The transmit-off was the last thing the engine tried: after the
         // unplug the radio took no more frames, so the attempt shows in the
         // frame count.
         EXPECT_GE(report.exchanges, 3u);
     },
     false},
};

class AlignInterrupted : public AlignVirtual, public ::testing::WithParamInterface<Interruption> {};

TEST_P(AlignInterrupted, EndsUnkeyed) {
    const Interruption& way = GetParam();
    Attach(VirtualPreset::Variant0);
    std::unique_ptr<Instrument> quick;
    if (way.quickLink) {
        Result<std::unique_ptr<Instrument>> link = OpenInstrument(instrument_->url(), milliseconds(200));
        ASSERT_TRUE(link.ok());
        quick = std::move(link.value());
    }
    SendcmdAlignRadio port;
    AlignEngine engine(Short(), port, quick ? quick.get() : link_.get(), VirtualTestSetModel());
    InterruptedRun run{radio(), *backend_, *instrument_, engine};
    AlignEvents events;
    events.tried = [&](const AlignTry&) { way.onTry(run); };
    engine.setEvents(events);
    const AlignReport report = engine.run();
    way.check(report, run);
    EXPECT_FALSE(radio().transmitting());
    if (way.transmitOffIsTheLastLiveSet) {
        EXPECT_EQ(lastKeying(), std::make_pair(19, align_action::kTransmitOff));
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, AlignInterrupted, ::testing::ValuesIn(kInterruptions),
                         [](const ::testing::TestParamInfo<Interruption>& info) { return info.param.name; });

// ---- calibration records -------------------------------------------------------

TEST(AlignRecords, EveryPointIsACalibrationRecord) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("align_records_" + std::to_string(::getpid()) + ".sqlite");
    std::filesystem::remove(file);
    Result<std::unique_ptr<RecordStore>> opened = OpenSqliteStore(file);
    ASSERT_TRUE(opened.ok()) << opened.error().text();
    std::shared_ptr<RecordStore> store(std::move(opened.value()));
    CalibrationRecorder().setStore(store);

    FakeRadio radio;
    FakeInstrument meter(radio);
    ProcedureStep reachable = powerStep({1, 2}, 33.0);
    ProcedureStep unreachable = powerStep({3}, 40.0);
    Procedure p = oneStep(reachable);
    p.steps.push_back(unreachable);
    AlignEngine engine(p, radio, &meter, VirtualTestSetModel());
    engine.setRecordSink(CalibrationRecordSink());
    const AlignReport report = engine.run();
    CalibrationRecorder().setStore(nullptr);
    ASSERT_TRUE(report.complete());

    RecordFilter filter;
    filter.event = record_event::kAlign;
    Result<std::vector<CalibrationRecord>> records = store->list(filter);
    ASSERT_TRUE(records.ok()) << records.error().text();
    ASSERT_EQ(records->size(), 3u);
    std::sort(records->begin(), records->end(), [](const auto& a, const auto& b) { return a.point < b.point; });
    for (int i = 0; i < 3; ++i) {
        const CalibrationRecord& r = (*records)[static_cast<std::size_t>(i)];
        EXPECT_EQ(r.item, 19);
        EXPECT_EQ(r.band, 0);
        EXPECT_EQ(r.point, i + 1);
        EXPECT_EQ(r.oldValue, 100);
        EXPECT_EQ(r.newValue, report.points[static_cast<std::size_t>(i)].finalValue);
    }
    EXPECT_EQ((*records)[0].detail.rfind("pass: target 33 +/- 0.1 dBm", 0), 0u) << (*records)[0].detail;
    EXPECT_EQ((*records)[2].detail.rfind("fail: target 40", 0), 0u) << (*records)[2].detail;
    EXPECT_EQ((*records)[2].newValue, 100);  // put back, not forced
    store.reset();
    std::filesystem::remove(file);
}

// ---- a point ended early is put back ----------------------------------------------

// Stopped on the second reading of the first point of the large model's
// procedure: the value tried last is not left in the radio; the value it had
// goes back (acknowledged, the image too) before the transmit-off, and the
// point is reported and recorded as stopped.
TEST_F(AlignVirtual, StopPutsThePointBack) {
    Attach(VirtualPreset::LargeNewFirmware);
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.prepare().ok());
    radio().clearReceivedFrames();
    const Procedure procedure = Load("large");
    ASSERT_FALSE(procedure.steps.empty());
    const int item = procedure.steps[0].item;
    const int point = procedure.steps[0].points[0];
    const std::size_t at = Offset(item, point);
    const int before = tunerImage[at];
    AlignEngine engine(procedure, port, link_.get(), VirtualTestSetModel());
    AlignEvents events;
    int tries = 0;
    events.tried = [&](const AlignTry&) {
        if (++tries == 2) engine.stop();
    };
    engine.setEvents(events);
    std::vector<PointResult> recorded;
    engine.setRecordSink([&](const PointResult& p) { recorded.push_back(p); });
    const AlignReport report = engine.run();

    ASSERT_TRUE(report.stopped);
    ASSERT_EQ(report.points.size(), 1u);
    const PointResult& p = report.points[0];
    EXPECT_TRUE(p.stopped);
    EXPECT_FALSE(p.pass);
    EXPECT_STREQ(p.outcome(), "stopped");
    EXPECT_EQ(p.startValue, before);
    EXPECT_EQ(p.finalValue, before);
    ASSERT_EQ(p.trace.size(), 2u);
    EXPECT_NE(p.trace[1].value, before);  // the radio had been moved away from it
    // What the radio runs on and what the program holds.
    EXPECT_EQ(radio().liveImage()[at], before);
    EXPECT_EQ(tunerImage[at], before);
    // The last adjustment carried the old value, then the transmit-off came.
    const std::vector<LiveFrame> sets = liveSets();
    ASSERT_GE(sets.size(), 2u);
    EXPECT_EQ(sets.back().action, align_action::kTransmitOff);
    const LiveFrame& restore = sets[sets.size() - 2];
    EXPECT_EQ(restore.action, align_action::kValueAdjusted);
    EXPECT_EQ(restore.item, item);
    EXPECT_EQ(restore.point, point);
    EXPECT_EQ(restore.value, before);
    EXPECT_FALSE(radio().transmitting());
    // Recorded, with its outcome; every later point of the procedure as not reached.
    std::size_t total = 0;
    for (const ProcedureStep& step : procedure.steps) total += step.points.size();
    ASSERT_EQ(recorded.size(), total);
    EXPECT_EQ(recorded[0].finalValue, before);
    EXPECT_EQ(AlignRecordDetail(recorded[0]).rfind("stopped: ", 0), 0u) << AlignRecordDetail(recorded[0]);
    for (std::size_t i = 1; i < recorded.size(); ++i) EXPECT_STREQ(AlignVerdict(recorded[i]), "not-reached");
    EXPECT_EQ(report.notReached.size(), total - 1);
    // The reports say it too.
    const nlohmann::json json = nlohmann::json::parse(report.toJson());
    EXPECT_EQ(json["points"][0]["result"], "stopped");
    EXPECT_EQ(json["points"][0]["final_value"], before);
    EXPECT_NE(report.toCsv().find(",stopped,"), std::string::npos);
}

// An instrument that stops answering in the middle of a point: the point goes
// back to its value before the transmit-off, and the report says so.
TEST_F(AlignVirtual, InstrumentFailurePutsThePointBack) {
    Attach(VirtualPreset::Variant0);
    Result<std::unique_ptr<Instrument>> quick = OpenInstrument(instrument_->url(), milliseconds(200));
    ASSERT_TRUE(quick.ok());
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.prepare().ok());
    const std::size_t at = Offset(19, 1);
    const int before = tunerImage[at];
    AlignEngine engine(Short(), port, quick.value().get(), VirtualTestSetModel());
    AlignEvents events;
    std::vector<int> values;
    events.tried = [&](const AlignTry& t) {
        values.push_back(t.value);
        if (values.size() == 2) instrument_->setSilent(true);
    };
    engine.setEvents(events);
    std::vector<PointResult> recorded;
    engine.setRecordSink([&](const PointResult& p) { recorded.push_back(p); });
    const AlignReport report = engine.run();
    EXPECT_EQ(report.error.code(), ErrorCode::Instrument);
    ASSERT_EQ(report.points.size(), 1u);
    ASSERT_EQ(values.size(), 2u);
    ASSERT_NE(values[1], before);
    const PointResult& p = report.points[0];
    EXPECT_STREQ(p.outcome(), "fail");
    EXPECT_EQ(p.finalValue, before);
    EXPECT_NE(p.note.find("put back to " + std::to_string(before)), std::string::npos) << p.note;
    EXPECT_EQ(radio().liveImage()[at], before);
    EXPECT_EQ(tunerImage[at], before);
    EXPECT_FALSE(radio().transmitting());
    // The point, then the four the run did not come to.
    ASSERT_EQ(recorded.size(), 5u);
    EXPECT_EQ(recorded[0].finalValue, before);
    EXPECT_STREQ(AlignVerdict(recorded[0]), "error");
    for (std::size_t i = 1; i < recorded.size(); ++i) EXPECT_STREQ(AlignVerdict(recorded[i]), "not-reached");
}

// A radio that stops answering while a point is moved: nothing claims the
// value was put back; the image keeps the last value the radio acknowledged.
TEST_F(AlignVirtual, RadioFailureSaysWhatTheRadioMayHold) {
    Attach(VirtualPreset::Variant0);
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.prepare().ok());
    const std::size_t at = Offset(19, 1);
    const int before = tunerImage[at];
    AlignEngine engine(Short(), port, link_.get(), VirtualTestSetModel());
    AlignEvents events;
    int tries = 0;
    int acknowledged = -1;
    events.tried = [&](const AlignTry& t) {
        if (++tries == 2) {
            acknowledged = t.value;
            radio().setFault(Fault::NoAnswer);
        }
    };
    engine.setEvents(events);
    const AlignReport report = engine.run();
    EXPECT_EQ(report.error.code(), ErrorCode::NoAnswer) << report.error.text();
    ASSERT_EQ(report.points.size(), 1u);
    const PointResult& p = report.points[0];
    ASSERT_NE(acknowledged, before);
    EXPECT_EQ(p.finalValue, acknowledged);
    EXPECT_EQ(tunerImage[at], acknowledged);
    EXPECT_NE(p.note.find("could not be put back"), std::string::npos) << p.note;
    radio().setFault(Fault::None);
}

// ---- what the radio keeps when a run ends -------------------------------------------

// Ctrl+C (the stop flag) in the middle of a step: the points of the step that
// passed are saved in the radio, the save awaited; the point being moved goes
// back; the records, the counts and the radio's store agree.
TEST_F(AlignVirtual, InterruptedStepKeepsItsPassedPointsInTheRadio) {
    Attach(VirtualPreset::Variant0);
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.prepare().ok());
    const TunerImage storedBefore = radio().storedImage();
    std::atomic<bool> interrupted{false};
    AlignEngine engine(Short(), port, link_.get(), VirtualTestSetModel());
    engine.setStopFlag(&interrupted);
    AlignEvents events;
    int started = 0;
    events.pointStarted = [&](int, int, const PointResult&) { ++started; };
    events.tried = [&](const AlignTry&) {
        if (started == 3) interrupted = true;  // on point 3, once it has been moved
    };
    engine.setEvents(events);
    std::vector<PointResult> recorded;
    engine.setRecordSink([&](const PointResult& p) { recorded.push_back(p); });
    std::vector<std::pair<int, bool>> saves;
    engine.setSaveSink([&](const std::string&, int item, const Error& e) { saves.push_back({item, e.ok()}); });
    const AlignReport report = engine.run();

    ASSERT_TRUE(report.stopped) << report.error.text();
    ASSERT_EQ(report.points.size(), 3u);
    // One item save for the step, acknowledged.
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0], (std::pair<int, bool>{19, true}));
    for (int i = 0; i < 2; ++i) {
        const PointResult& p = report.points[static_cast<std::size_t>(i)];
        SCOPED_TRACE("point " + std::to_string(p.point));
        ASSERT_TRUE(p.pass) << p.note;
        EXPECT_EQ(p.kept, PointKept::Stored);
        EXPECT_NE(p.finalValue, storedBefore[Offset(19, p.point)]);
        // The radio stores what the report and the record say.
        EXPECT_EQ(radio().storedImage()[Offset(19, p.point)], p.finalValue);
        EXPECT_EQ(p.storedValue, p.finalValue);
    }
    const PointResult& stopped = report.points[2];
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.kept, PointKept::PutBack);
    EXPECT_EQ(radio().storedImage()[Offset(19, 3)], storedBefore[Offset(19, 3)]);
    EXPECT_EQ(radio().liveImage()[Offset(19, 3)], storedBefore[Offset(19, 3)]);
    EXPECT_EQ(stopped.finalValue, storedBefore[Offset(19, 3)]);
    // Five points, each counted once; the stopped one is no failure.
    const PointCounts c = report.counts();
    EXPECT_EQ(c.passed + c.marginal, 2);
    EXPECT_EQ(c.failed, 0);
    EXPECT_EQ(c.stopped, 1);
    EXPECT_EQ(c.notReached, 2);
    EXPECT_EQ(c.total(), 5);
    // Every point recorded once its step is over, with what the radio stores.
    ASSERT_EQ(recorded.size(), 5u);
    for (const PointResult& p : recorded) {
        if (!p.reached()) continue;
        EXPECT_EQ(p.finalValue, radio().storedImage()[Offset(19, p.point)]) << "point " << p.point;
    }
    EXPECT_STREQ(AlignVerdict(recorded[2]), "stopped");
    EXPECT_STREQ(AlignVerdict(recorded[3]), "not-reached");
    EXPECT_STREQ(AlignVerdict(recorded[4]), "not-reached");
    const nlohmann::json json = nlohmann::json::parse(report.toJson());
    EXPECT_EQ(json["stopped_points"], 1);
    EXPECT_EQ(json["not_reached"], 2);
    EXPECT_EQ(json["failed"], 0);
    ASSERT_EQ(json["points"].size(), 5u);
    EXPECT_EQ(json["points"][4]["result"], "not-reached");
    // What the radio holds: nothing it runs differs from what it stores.
    EXPECT_TRUE(HeldValues().unsaved().empty());
}

// The radio stops answering when the step's item save goes out: no point of
// the step is a pass, each names the value the radio stores (the old one),
// and the save is reported with its failure.
TEST_F(AlignVirtual, SaveTheRadioNeverConfirmedIsNoPass) {
    Attach(VirtualPreset::Variant0);
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.prepare().ok());
    const TunerImage storedBefore = radio().storedImage();
    AlignEngine engine(Short(), port, link_.get(), VirtualTestSetModel());
    AlignEvents events;
    int done = 0;
    events.pointDone = [&](const PointResult& p) {
        EXPECT_TRUE(p.pass) << p.note;
        if (++done == 5) {
            // The save that follows never reaches the radio.
            LinkFaults lost;
            lost.loseCommand = 1.0;
            radio().setLinkFaults(lost);
        }
    };
    engine.setEvents(events);
    std::vector<PointResult> recorded;
    engine.setRecordSink([&](const PointResult& p) { recorded.push_back(p); });
    std::vector<std::pair<int, bool>> saves;
    engine.setSaveSink([&](const std::string&, int item, const Error& e) { saves.push_back({item, e.ok()}); });
    const AlignReport report = engine.run();
    radio().setLinkFaults(LinkFaults{});

    EXPECT_EQ(report.error.code(), ErrorCode::NoAnswer) << report.error.text();
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0], (std::pair<int, bool>{19, false}));
    ASSERT_EQ(report.points.size(), 5u);
    EXPECT_EQ(report.passed(), 0);
    EXPECT_EQ(report.counts().failed, 5);
    ASSERT_EQ(recorded.size(), 5u);
    for (const PointResult& p : recorded) {
        SCOPED_TRACE("point " + std::to_string(p.point));
        EXPECT_FALSE(p.pass);
        EXPECT_EQ(p.kept, PointKept::NotStored);
        EXPECT_STREQ(AlignVerdict(p), "error");
        EXPECT_STREQ(p.outcome(), "not-stored");
        // The record's new value is what the radio stores.
        EXPECT_EQ(p.finalValue, storedBefore[Offset(19, p.point)]);
        EXPECT_EQ(radio().storedImage()[Offset(19, p.point)], storedBefore[Offset(19, p.point)]);
        ASSERT_TRUE(p.reachedValue.has_value());
        EXPECT_NE(AlignRecordDetail(p).find("did not confirm the save"), std::string::npos) << AlignRecordDetail(p);
    }
    // The radio runs values it does not store: leaving would drop them, and
    // the question before leaving names them.
    EXPECT_FALSE(HeldValues().unsaved().empty());
}

// ---- the instrument's checks ------------------------------------------------------

TEST_F(AlignVirtual, WrongIdentityIsRefusedBeforeTheRadio) {
    Attach(VirtualPreset::Variant0);
    VirtualInstrument::Misbehaviour odd;
    odd.identity = "ACME,SIGNAL GENERATOR 9000,1,2.0";
    instrument_->setMisbehaviour(odd);
    SendcmdAlignRadio port;
    AlignEngine engine(Short(), port, link_.get(), VirtualTestSetModel());
    const AlignReport report = engine.run();
    EXPECT_EQ(report.error.code(), ErrorCode::Mismatch);
    EXPECT_NE(report.error.text().find("ACME,SIGNAL GENERATOR 9000"), std::string::npos) << report.error.text();
    EXPECT_NE(report.error.text().find("VARNEL,VIRTUAL TEST SET"), std::string::npos) << report.error.text();
    EXPECT_EQ(report.identity, odd.identity);
    EXPECT_TRUE(radio().receivedFrames().empty());  // the radio was not even entered
    EXPECT_TRUE(report.points.empty());
    // The finishing commands still ran.
    const std::vector<std::string> received = instrumentReceived();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), "GEN:STAT OFF");
}

// A set-up the instrument refused shows in its error queue: the run ends
// with the entry in its text, before the radio is keyed for the point.
TEST_F(AlignVirtual, RefusedSetUpEndsTheRunUnkeyed) {
    Attach(VirtualPreset::Variant0);
    VirtualInstrument::Misbehaviour odd;
    odd.refuse = "RF:FREQ";
    instrument_->setMisbehaviour(odd);
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.prepare().ok());
    radio().clearReceivedFrames();
    AlignEngine engine(Short(), port, link_.get(), VirtualTestSetModel());
    const AlignReport report = engine.run();
    EXPECT_EQ(report.error.code(), ErrorCode::Instrument);
    EXPECT_NE(report.error.text().find("-222"), std::string::npos) << report.error.text();
    EXPECT_NE(report.error.text().find("set-up"), std::string::npos) << report.error.text();
    for (const LiveFrame& f : liveSets()) EXPECT_NE(f.action, align_action::kTransmitOn);
    EXPECT_FALSE(radio().transmitting());
    const std::vector<std::string> received = instrumentReceived();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), "GEN:STAT OFF");
}

// The instrument's checks in order: identity, reset, confirmation, error
// queue; then per point set-up, confirmation, error queue.
TEST_F(AlignVirtual, InstrumentIsIdentifiedConfirmedAndChecked) {
    Attach(VirtualPreset::Variant0);
    SendcmdAlignRadio port;
    Procedure p = Short();
    p.steps[0].points = {1};
    AlignEngine engine(p, port, link_.get(), VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete()) << report.error.text();
    EXPECT_EQ(report.identity.rfind("VARNEL,VIRTUAL TEST SET,", 0), 0u) << report.identity;
    const std::vector<std::string> got = instrumentReceived();
    ASSERT_GE(got.size(), 10u);
    const std::vector<std::string> opening(got.begin(), got.begin() + 5);
    EXPECT_EQ(opening, (std::vector<std::string>{"*IDN?", "*RST", "*CLS", "*OPC?", "SYST:ERR?"}));
    EXPECT_EQ(got[5], "RF:FREQ " + std::to_string(port.frequency(0, 1, false)));
    EXPECT_EQ(got[6], "*OPC?");
    EXPECT_EQ(got[7], "SYST:ERR?");
    EXPECT_EQ(got.back(), "GEN:STAT OFF");
}

// Replies with bytes that are not UTF-8 end the run with a readable reason
// and a report that is valid JSON, the bytes shown escaped.
TEST_F(AlignVirtual, NonUtf8RepliesCannotBreakTheReport) {
    Attach(VirtualPreset::Variant0);
    VirtualInstrument::Misbehaviour odd;
    odd.nonUtf8 = true;
    instrument_->setMisbehaviour(odd);
    InstrumentModel model = VirtualTestSetModel();
    model.confirm.clear();     // the measurement is reached
    model.errorQuery.clear();
    SendcmdAlignRadio port;
    AlignEngine engine(Short(), port, link_.get(), model);
    const AlignReport report = engine.run();
    EXPECT_EQ(report.error.code(), ErrorCode::BadData) << report.error.text();
    EXPECT_NE(report.error.text().find("\\xFF\\xFE"), std::string::npos) << report.error.text();
    EXPECT_EQ(report.identity.rfind("\\xFF\\xFEVARNEL,", 0), 0u) << report.identity;
    std::string json;
    ASSERT_NO_THROW(json = report.toJson());
    nlohmann::json parsed;
    ASSERT_NO_THROW(parsed = nlohmann::json::parse(json));
    EXPECT_EQ(parsed["complete"], false);
    EXPECT_NE(parsed["points"][0]["note"].get<std::string>().find("\\xFF\\xFE"), std::string::npos);
    EXPECT_FALSE(radio().transmitting());
}

// Text that is not UTF-8 from anywhere else (a file name, a step's name)
// does not make the writer throw either.
TEST(AlignReport, InvalidBytesAreReplacedNotThrown) {
    AlignReport report;
    report.procedure = "bad \xff name";
    report.instrument = "tcp://\xc3";
    PointResult p;
    p.step = "step \xfe";
    p.note = "reply \"\xff\"";
    report.points.push_back(p);
    report.error = Error::make(ErrorCode::BadData, "cannot read \xff");
    std::string json;
    ASSERT_NO_THROW(json = report.toJson());
    nlohmann::json parsed;
    ASSERT_NO_THROW(parsed = nlohmann::json::parse(json));
    EXPECT_EQ(parsed["procedure"], "bad \xEF\xBF\xBD name");  // U+FFFD
    EXPECT_EQ(parsed["points"].size(), 1u);
}

// The error queue goes into the note of a point that failed.
TEST(AlignEngineFake, FailureNoteCarriesTheErrorQueue) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    AlignEngine engine(oneStep(powerStep({2}, 40.0)), radio, &meter, VirtualTestSetModel());  // unreachable
    AlignEvents events;
    events.tried = [&](const AlignTry&) {
        if (meter.errors.empty()) meter.errors.push_back("-310,\"System error\"");
    };
    engine.setEvents(events);
    const AlignReport report = engine.run();
    ASSERT_EQ(report.points.size(), 1u);
    EXPECT_FALSE(report.points[0].pass);
    EXPECT_NE(report.points[0].note.find("the instrument reports: -310,\"System error\""), std::string::npos)
        << report.points[0].note;
}

// The finishing commands run however the run ends.
TEST(AlignEngineFake, FinishingCommandsOnEveryWayOut) {
    enum class End { Success, Stop, Exception, InstrumentError, RadioMismatch };
    for (End end : {End::Success, End::Stop, End::Exception, End::InstrumentError, End::RadioMismatch}) {
        SCOPED_TRACE(static_cast<int>(end));
        FakeRadio radio;
        FakeInstrument meter(radio);
        Procedure p = oneStep(powerStep({1, 2}, 33.0));
        if (end == End::RadioMismatch) p.largeModel = false;  // the fake is the large model
        if (end == End::Exception) meter.throwAfter = 1;
        AlignEngine engine(p, radio, &meter, VirtualTestSetModel());
        AlignEvents events;
        events.tried = [&](const AlignTry&) {
            if (end == End::Stop) engine.stop();
            if (end == End::InstrumentError) meter.errors.push_back("-999,\"x\"");
        };
        engine.setEvents(events);
        const AlignReport report = engine.run();
        EXPECT_EQ(report.complete(), end == End::Success) << report.error.text();
        if (end == End::InstrumentError) {
            EXPECT_NE(report.error.text().find("-999"), std::string::npos);
        }
        ASSERT_FALSE(meter.commands.empty());
        EXPECT_EQ(meter.commands.back(), "GEN:STAT OFF");
        EXPECT_FALSE(radio.keyed);
    }
}

// Positive control: on the normal path every point of the large model's
// procedure is select, key, the adjustments of its readings (each with its
// read-back where the radio measures), unkey, and every step ends with its
// save; no other frame goes out.
TEST_F(AlignVirtual, NormalRunSendsOnlyThePointsFrames) {
    Attach(VirtualPreset::LargeNewFirmware);
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.prepare().ok());
    radio().clearReceivedFrames();
    const Procedure procedure = Load("large");
    AlignEngine engine(procedure, port, link_.get(), VirtualTestSetModel());
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete()) << report.error.text();
    ASSERT_EQ(report.points.size(), 43u);
    EXPECT_EQ(report.passed(), 43);

    std::vector<LiveFrame> expected;
    int saves = 0;
    std::size_t k = 0;
    for (const ProcedureStep& step : procedure.steps) {
        const bool receive = step.keying == Keying::Receive;
        for (std::size_t n = 0; n < step.points.size(); ++n, ++k) {
            const PointResult& p = report.points[k];
            expected.push_back({step.item, receive ? 3 : 1, p.point, p.startValue});
            expected.push_back({step.item, receive ? 2 : 0, p.point, p.startValue});
            for (const AlignTry& t : p.trace) {
                expected.push_back({step.item, 5, p.point, t.value});
                if (step.radioMeasures()) expected.push_back({step.item, 7, p.point, t.value});  // its read-back
            }
            expected.push_back({step.item, receive ? 3 : 1, p.point, p.finalValue});
            if (step.save == SaveWhen::Point) ++saves;
        }
        if (step.save == SaveWhen::Step) ++saves;
    }
    const std::vector<LiveFrame> got = liveSets();
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].item, expected[i].item) << i;
        EXPECT_EQ(got[i].action, expected[i].action) << i;
        EXPECT_EQ(got[i].point, expected[i].point) << i;
        EXPECT_EQ(got[i].value, expected[i].value) << i;
    }
    const auto& frames = radio().receivedFrames();
    const auto saved = std::count_if(frames.begin(), frames.end(), [](const std::vector<std::uint8_t>& f) {
        return f.size() > 3 && f[1] == 0x00 && f[2] == 0x66;
    });
    EXPECT_EQ(saved, saves);
    EXPECT_EQ(frames.size(), got.size() + static_cast<std::size_t>(saves));
}

// ---- the virtual test set serves every client ---------------------------------------

namespace {

// A plain loopback client of the test set, non-blocking, that reads only
// when told to.
class RawClient {
public:
    explicit RawClient(int port) {
        Result<net::Socket> s = net::Connect("127.0.0.1", port, milliseconds(2000), "test set");
        EXPECT_TRUE(s.ok()) << s.error().text();
        if (s.ok()) socket_ = std::move(s.value());
    }

    // Sends `bytes` as far as the socket takes them within `rounds` waits of
    // up to 20 ms; the bytes sent, or -1 once the test set has closed it.
    long long send(const std::string& bytes, int rounds = 50) {
        std::size_t done = 0;
        while (done < bytes.size() && rounds > 0) {
            std::size_t n = 0;
            const net::Io io = net::SendSome(socket_, bytes.data() + done, bytes.size() - done, &n);
            if (io == net::Io::Done) {
                done += n;
                continue;
            }
            if (io == net::Io::WouldBlock) {
                std::vector<net::PollEntry> one{{socket_.handle(), false, true}};
                net::Poll(one, 20);
                --rounds;
                continue;
            }
            return -1;
        }
        return static_cast<long long>(done);
    }
    // One reply line, waiting up to `ms` in all.
    std::optional<std::string> line(int ms = 2000) {
        for (int waited = 0; waited <= ms; waited += 10) {
            const auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string l = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return l;
            }
            Result<net::Received> got = net::Receive(socket_, &buffer_, 4096, milliseconds(10), "test set");
            if (!got.ok() || got.value() == net::Received::Closed) return std::nullopt;
        }
        return std::nullopt;
    }

private:
    net::Socket socket_;
    std::string buffer_;
};

}  // namespace

// A client that asks and never reads: before, the test set's one thread
// blocked writing to it and the alignment's queries went unanswered.
TEST_F(AlignVirtual, ClientThatNeverReadsDoesNotBlockTheOthers) {
    Attach(VirtualPreset::Variant0);
    RawClient greedy(instrument_->port());
    std::string queries;
    for (int i = 0; i < 4096; ++i) queries += "*IDN?\n";  // 24 KiB of queries, about 160 KiB of replies
    long long total = 0;
    for (int round = 0; round < 200; ++round) {  // at most 4.8 MiB
        const long long n = greedy.send(queries, 5);
        if (n < 0) break;  // let go by the test set
        total += n;
        if (instrument_->clientsDropped() > 0) break;
    }
    EXPECT_GT(total, 0);
    // Let go once its unread replies passed the bound (the test set may
    // still be working through what the kernel buffered).
    for (int i = 0; i < 500 && instrument_->clientsDropped() == 0; ++i) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(instrument_->clientsDropped(), 1u);
    // The other client is answered, whatever the greedy one does.
    Result<std::unique_ptr<Instrument>> quick = OpenInstrument(instrument_->url(), milliseconds(1000));
    ASSERT_TRUE(quick.ok()) << quick.error().text();
    Result<std::string> opc = quick.value()->query("*OPC?");
    ASSERT_TRUE(opc.ok()) << opc.error().text();
    EXPECT_EQ(opc.value(), "1");
    Result<std::string> idn = link_->query("*IDN?");
    ASSERT_TRUE(idn.ok()) << idn.error().text();
    // And the test set stops with the greedy client still connected.
    instrument_->stop();
}

// A line of 8 MiB without a line end is dropped as it comes, not kept; the
// client is answered again after it, and the error queue says why.
TEST_F(AlignVirtual, HugeLineIsDroppedNotKept) {
    Attach(VirtualPreset::Variant0);
    RawClient client(instrument_->port());
    const std::string block(64 * 1024, 'A');
    long long sent = 0;
    for (int i = 0; i < 128; ++i) {
        const long long n = client.send(block);
        ASSERT_GT(n, 0);
        sent += n;
    }
    EXPECT_EQ(sent, 8ll * 1024 * 1024);
    ASSERT_EQ(client.send("\n*OPC?\nSYST:ERR?\n"), 17);
    EXPECT_EQ(client.line(), std::optional<std::string>("1"));
    EXPECT_EQ(client.line(), std::optional<std::string>("-223,\"Too much data\""));
    EXPECT_LE(instrument_->largestLineBuffer(), VirtualInstrument::kMaxLine);
    // A line just within the bound is still a command.
    const std::string padded = "*OPC?" + std::string(VirtualInstrument::kMaxLine - 5, ' ') + "\n";
    ASSERT_EQ(client.send(padded), static_cast<long long>(padded.size()));
    EXPECT_EQ(client.line(), std::optional<std::string>("1"));
}

