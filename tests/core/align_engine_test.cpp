// The alignment engine: convergence and failure on fakes, the whole path on
// the virtual radio and the virtual instrument (real socket, SCPI text,
// frames), and the transmitter unkeyed on every way a run can end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "align/AlignEngine.h"
#include "align/AlignRecords.h"
#include "data/Global.h"
#include "data/ItemTable.h"
#include "instrument/VirtualInstrument.h"
#include "protocol/Sendcmd.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"
#include "sim/VirtualBackend.h"

using namespace varnel;
using std::chrono::milliseconds;

namespace {

// ---- fakes ---------------------------------------------------------------

// A radio that records what it is told; its "transmitter" is the keying
// state the live-sets leave.
class FakeRadio : public AlignRadio {
public:
    struct Sent {
        int item, action, point, value;
    };
    Error Prepare() override { return {}; }
    bool LargeModel() const override { return true; }
    int Value(int, int point) const override { return values[point]; }
    std::uint32_t Frequency(int, int point, bool receive) const override {
        return (receive ? 400000000u : 410000000u) + static_cast<std::uint32_t>(point) * 1000000u;
    }
    Error SetItem(int item, int action, int point, int value, std::uint32_t) override {
        sent.push_back({item, action, point, value});
        if (action == align_action::kValueAdjusted) values[point] = value;
        if (action == align_action::kTransmitOn) keyed = true;
        if (action == align_action::kTransmitOff) keyed = false;
        return {};
    }
    Result<int> ReadBack(int, int point, int, std::uint32_t) override { return values[point]; }
    Error Save(int item) override {
        saves.push_back(item);
        return {};
    }
    std::uint64_t Exchanges() const override { return sent.size() + saves.size(); }

    int values[9] = {0, 100, 100, 100, 100, 100, 100, 100, 100};
    bool keyed = false;
    std::vector<Sent> sent;
    std::vector<int> saves;
};

// An instrument whose reading is a straight line of the fake radio's value
// at the point last adjusted, with a little alternating noise. It answers
// the identification, confirmation and error-queue queries of the virtual
// test set's model; `queries` counts the measurements.
class FakeInstrument : public Instrument {
public:
    explicit FakeInstrument(FakeRadio& radio) : radio_(radio) {}
    Error Send(std::string_view command) override {
        commands.emplace_back(command);
        return {};
    }
    Result<std::string> Query(std::string_view command) override {
        commands.emplace_back(command);
        if (command == "*IDN?") return std::string("VARNEL,VIRTUAL TEST SET,1,1.0");
        if (command == "*OPC?") return std::string("1");
        if (command == "SYST:ERR?") {
            if (errors.empty()) return std::string("0,\"No error\"");
            std::string entry = errors.front();
            errors.erase(errors.begin());
            return entry;
        }
        if (throwAfter >= 0 && queries >= throwAfter) throw std::runtime_error("instrument driver crashed");
        ++queries;
        int point = 1;
        for (auto it = radio_.sent.rbegin(); it != radio_.sent.rend(); ++it) {
            if (it->action == align_action::kValueAdjusted) {
                point = it->point;
                break;
            }
        }
        const double noise = (queries % 2 == 0 ? 1 : -1) * 0.01;
        return std::to_string(slope * radio_.values[point] + offset + noise);
    }
    std::string Describe() const override { return "fake"; }

    double slope = 0.05;
    double offset = 25.0;
    int queries = 0;
    int throwAfter = -1;
    std::vector<std::string> errors;    // the error queue
    std::vector<std::string> commands;  // every command and query, in order

private:
    FakeRadio& radio_;
};

ProcedureStep powerStep(std::vector<int> points, double target) {
    ProcedureStep s;
    s.name = "power";
    s.item = 19;
    s.band = 0;
    s.points = std::move(points);
    s.measure = "power";
    s.setup = "transmit";
    s.target = target;
    s.tolerance = 0.1;
    s.unit = "dBm";
    s.settleMs = 0;
    return s;
}

Procedure oneStep(ProcedureStep step) {
    Procedure p;
    p.name = "test";
    p.steps.push_back(std::move(step));
    return p;
}

// ---- the virtual radio and instrument --------------------------------------

class AlignVirtual : public ::testing::Test {
protected:
    void TearDown() override {
        instrument_.reset();
        link_.reset();
        ResetGlobalState();
        ResetPollState();
        SetDeviceBackend(nullptr);
    }

    void Attach(VirtualPreset preset) {
        ResetGlobalState();
        ResetPollState();
        backend_ = std::make_unique<VirtualBackend>(preset);
        SetDeviceBackend(backend_.get());
        instrument_ = std::make_unique<VirtualInstrument>(backend_->sharedRadio());
        ASSERT_TRUE(instrument_->Start().ok());
        Result<std::unique_ptr<Instrument>> link = OpenInstrument(instrument_->url(), milliseconds(500));
        ASSERT_TRUE(link.ok()) << link.error().Text();
        link_ = std::move(link.value());
    }

    VirtualRadio& radio() { return backend_->radio(); }

    // The last live-set the radio received (item, action).
    std::pair<int, int> lastKeying() {
        for (auto it = radio().receivedFrames().rbegin(); it != radio().receivedFrames().rend(); ++it) {
            const std::vector<std::uint8_t>& f = *it;
            if (f.size() >= 16 && f[1] == 0x00 && f[2] == 0x62 && f[6] <= 3) return {f[5], f[6]};
        }
        return {-1, -1};
    }

    static Procedure Load(const std::string& name) {
        Result<Procedure> p = LoadProcedure(std::string(VARNEL_SOURCE_DIR) + "/procedures/" + name + ".json");
        EXPECT_TRUE(p.ok()) << (p.ok() ? "" : p.error().Text());
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

    std::unique_ptr<VirtualBackend> backend_;
    std::unique_ptr<VirtualInstrument> instrument_;
    std::unique_ptr<Instrument> link_;
};

}  // namespace

// ---- convergence on fakes ----------------------------------------------------

TEST(AlignEngineFake, ConvergesAndUnkeys) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    AlignEngine engine(oneStep(powerStep({1, 2, 3}, 33.0)), radio, &meter, VirtualTestSetModel());
    const AlignReport report = engine.Run();
    ASSERT_TRUE(report.complete()) << report.error.Text();
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
    const AlignReport report = engine.Run();
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
    const AlignReport report = engine.Run();
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
    meter.offset = 0.5;
    AlignEngine engine(oneStep(powerStep({1}, 120.0)), radio, &meter, VirtualTestSetModel());
    const AlignReport report = engine.Run();
    ASSERT_EQ(report.points.size(), 1u);
    EXPECT_FALSE(report.points[0].pass);
    EXPECT_NE(report.points[0].note.find("no value reaches"), std::string::npos) << report.points[0].note;
    EXPECT_FALSE(radio.keyed);
}

TEST(AlignEngineFake, ExceptionUnkeys) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    meter.throwAfter = 2;
    AlignEngine engine(oneStep(powerStep({1, 2}, 33.0)), radio, &meter, VirtualTestSetModel());
    const AlignReport report = engine.Run();
    EXPECT_FALSE(report.complete());
    EXPECT_NE(report.error.Text().find("instrument driver crashed"), std::string::npos);
    EXPECT_FALSE(radio.keyed);
    ASSERT_FALSE(radio.sent.empty());
    EXPECT_EQ(radio.sent.back().action, align_action::kTransmitOff);
}

TEST(AlignEngineFake, StopUnkeys) {
    FakeRadio radio;
    FakeInstrument meter(radio);
    AlignEngine engine(oneStep(powerStep({1, 2, 3}, 33.0)), radio, &meter, VirtualTestSetModel());
    AlignEvents events;
    events.tried = [&](const AlignTry&) { engine.Stop(); };
    engine.SetEvents(events);
    const AlignReport report = engine.Run();
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
    engine.SetRecordSink([&](const PointResult& p) { recorded.push_back(p.point); });
    const AlignReport report = engine.Run();
    EXPECT_EQ(recorded, (std::vector<int>{1, 2}));
    const std::string csv = report.ToCsv();
    EXPECT_EQ(csv.rfind("step,item,band,point,", 0), 0u);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
    const nlohmann::json json = nlohmann::json::parse(report.ToJson());
    EXPECT_EQ(json["points"].size(), 2u);
    EXPECT_EQ(json["points"][0]["result"], "pass");
    EXPECT_EQ(json["passed"], 2);
}

// ---- the SCPI transport against the virtual instrument -----------------------

TEST_F(AlignVirtual, ScpiOverLoopback) {
    Attach(VirtualPreset::LargeNewFirmware);
    Result<std::string> idn = link_->Query("*IDN?");
    ASSERT_TRUE(idn.ok()) << idn.error().Text();
    EXPECT_EQ(idn.value().rfind("VARNEL,VIRTUAL TEST SET,", 0), 0u);
    // Nothing transmitted: no reading.
    Result<std::string> idle = link_->Query("MEAS:POW?");
    ASSERT_TRUE(idle.ok());
    EXPECT_FALSE(ParseScpiNumber(idle.value()).ok());
    // Two queries on one line, answered on one line.
    Result<std::string> two = link_->Query("meas:volt?; *OPC?");
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
    Result<std::string> r = quick.value()->Query("*IDN?");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code(), ErrorCode::Instrument);
    EXPECT_NE(r.error().Text().find("no reply"), std::string::npos) << r.error().Text();
    instrument_->setSilent(false);
    Result<std::string> again = quick.value()->Query("*OPC?");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value(), "1");
    // A query the instrument does not know gets no reply; it is in the error queue.
    EXPECT_FALSE(quick.value()->Query("MEAS:NOSUCH?").ok());
    EXPECT_EQ(quick.value()->Query("SYST:ERR?").value().rfind("-113,", 0), 0u);
}

TEST_F(AlignVirtual, ScpiMalformedReply) {
    Attach(VirtualPreset::Variant0);
    instrument_->setMalformed(true);
    Result<std::string> r = link_->Query("MEAS:VOLT?");
    ASSERT_TRUE(r.ok());
    Result<double> n = ParseScpiNumber(r.value());
    ASSERT_FALSE(n.ok());
    EXPECT_EQ(n.error().code(), ErrorCode::BadData);
}

TEST_F(AlignVirtual, ReadingsFollowTheRadio) {
    Attach(VirtualPreset::LargeNewFirmware);
    SendcmdAlignRadio port;
    ASSERT_TRUE(port.Prepare().ok());
    instrument_->setNoise(0);
    instrument_->setSettle(milliseconds(0));
    const std::uint32_t f = port.Frequency(0, 2, false);
    ASSERT_EQ(f, 415125000u);
    ASSERT_TRUE(link_->Send("RF:FREQ 415125000").ok());
    ASSERT_TRUE(port.SetItem(19, align_action::kTransmitOn, 2, port.Value(19, 2), f).ok());
    ASSERT_TRUE(radio().transmitting());
    double previous = -1e9;
    for (int v : {60, 120, 180, 240}) {
        ASSERT_TRUE(port.SetItem(19, align_action::kValueAdjusted, 2, v, f).ok());
        Result<double> dbm = ParseScpiNumber(link_->Query("MEAS:POW?").value());
        ASSERT_TRUE(dbm.ok());
        EXPECT_NEAR(dbm.value(), instrument_->SteadyReading(VirtualInstrument::Quantity::Power, 19, 2, v), 1e-5);
        EXPECT_GT(dbm.value(), previous);
        previous = dbm.value();
    }
    // Off the carrier's frequency the analyser sees nothing.
    ASSERT_TRUE(link_->Send("RF:FREQ 435050000").ok());
    EXPECT_FALSE(ParseScpiNumber(link_->Query("MEAS:POW?").value()).ok());
    ASSERT_TRUE(port.SetItem(19, align_action::kTransmitOff, 2, 240, f).ok());
}

// ---- whole procedures --------------------------------------------------------

class AlignExample : public AlignVirtual, public ::testing::WithParamInterface<const char*> {};

TEST_P(AlignExample, EveryPointConverges) {
    const std::string name = GetParam();
    Attach(*ParseVirtualPreset(name));
    const Procedure procedure = Load(name);
    SendcmdAlignRadio port;
    AlignEngine engine(procedure, port, link_.get(), VirtualTestSetModel());
    const AlignReport report = engine.Run();
    ASSERT_TRUE(report.complete()) << report.error.Text();
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
    const AlignReport report = engine.Run();
    ASSERT_TRUE(report.complete()) << report.error.Text();
    ASSERT_EQ(report.points.size(), 6u);
    EXPECT_EQ(report.passed(), 5);
    EXPECT_FALSE(report.points[5].pass);
    EXPECT_FALSE(radio().transmitting());
}

TEST_F(AlignVirtual, SilentInstrumentUnkeys) {
    Attach(VirtualPreset::Variant0);
    Result<std::unique_ptr<Instrument>> quick = OpenInstrument(instrument_->url(), milliseconds(200));
    ASSERT_TRUE(quick.ok());
    SendcmdAlignRadio port;
    AlignEngine engine(Short(), port, quick.value().get(), VirtualTestSetModel());
    AlignEvents events;
    int tries = 0;
    events.tried = [&](const AlignTry&) {
        if (++tries == 4) instrument_->setSilent(true);
        EXPECT_TRUE(radio().transmitting());
    };
    engine.SetEvents(events);
    const AlignReport report = engine.Run();
    EXPECT_EQ(report.error.code(), ErrorCode::Instrument);
    EXPECT_FALSE(radio().transmitting());
    EXPECT_EQ(lastKeying(), std::make_pair(19, align_action::kTransmitOff));
}

TEST_F(AlignVirtual, StopUnkeys) {
    Attach(VirtualPreset::Variant0);
    SendcmdAlignRadio port;
    AlignEngine engine(Short(), port, link_.get(), VirtualTestSetModel());
    AlignEvents events;
    events.tried = [&](const AlignTry&) {
        if (radio().transmitting()) engine.Stop();
    };
    engine.SetEvents(events);
    const AlignReport report = engine.Run();
    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(radio().transmitting());
    EXPECT_EQ(lastKeying(), std::make_pair(19, align_action::kTransmitOff));
}

TEST_F(AlignVirtual, ExceptionUnkeys) {
    Attach(VirtualPreset::Variant0);
    SendcmdAlignRadio port;
    AlignEngine engine(Short(), port, link_.get(), VirtualTestSetModel());
    AlignEvents events;
    events.tried = [&](const AlignTry&) {
        if (radio().transmitting()) throw std::runtime_error("chart failed");
    };
    engine.SetEvents(events);
    const AlignReport report = engine.Run();
    EXPECT_FALSE(report.complete());
    EXPECT_NE(report.error.Text().find("chart failed"), std::string::npos);
    EXPECT_FALSE(radio().transmitting());
    EXPECT_EQ(lastKeying(), std::make_pair(19, align_action::kTransmitOff));
}

TEST_F(AlignVirtual, UnpluggedRadioEndsTheRun) {
    Attach(VirtualPreset::Variant0);
    SendcmdAlignRadio port;
    AlignEngine engine(Short(), port, link_.get(), VirtualTestSetModel());
    AlignEvents events;
    bool pulled = false;
    events.tried = [&](const AlignTry&) {
        if (!pulled && radio().transmitting()) {
            pulled = true;
            backend_->unplug();
        }
    };
    engine.SetEvents(events);
    const AlignReport report = engine.Run();
    EXPECT_TRUE(pulled);
    // The pulled cable shows as a radio that stopped answering, or, once the
    // expired poll has closed the link, as a radio no longer found.
    EXPECT_TRUE(report.error.code() == ErrorCode::NoAnswer || report.error.code() == ErrorCode::NoRadio)
        << report.error.Text();
    EXPECT_FALSE(radio().transmitting());
    // The transmit-off was the last thing the engine tried: after the unplug
    // the radio took no more frames, so the attempt shows in the frame count.
    EXPECT_GE(report.exchanges, 3u);
}

// ---- calibration records -------------------------------------------------------

TEST(AlignRecords, EveryPointIsACalibrationRecord) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("align_records_" + std::to_string(::getpid()) + ".sqlite");
    std::filesystem::remove(file);
    Result<std::unique_ptr<RecordStore>> opened = OpenSqliteStore(file);
    ASSERT_TRUE(opened.ok()) << opened.error().Text();
    std::shared_ptr<RecordStore> store(std::move(opened.value()));
    CalibrationRecorder().SetStore(store);

    FakeRadio radio;
    FakeInstrument meter(radio);
    ProcedureStep reachable = powerStep({1, 2}, 33.0);
    ProcedureStep unreachable = powerStep({3}, 40.0);
    Procedure p = oneStep(reachable);
    p.steps.push_back(unreachable);
    AlignEngine engine(p, radio, &meter, VirtualTestSetModel());
    engine.SetRecordSink(CalibrationRecordSink());
    const AlignReport report = engine.Run();
    CalibrationRecorder().SetStore(nullptr);
    ASSERT_TRUE(report.complete());

    RecordFilter filter;
    filter.event = record_event::kAlign;
    Result<std::vector<CalibrationRecord>> records = store->List(filter);
    ASSERT_TRUE(records.ok()) << records.error().Text();
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
