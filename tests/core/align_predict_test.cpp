// Alignment that starts from the radios before: the predictor on its own,
// the engine with a history that is present, absent or misleading, the
// outlier flag, the history as the records keep it, and the spread of the
// virtual radios.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "align/AlignEngine.h"
#include "align/AlignHistory.h"
#include "align/AlignRecords.h"
#include "core/support/AlignFakes.h"
#include "instrument/VirtualInstrument.h"
#include "sim/VirtualRadio.h"

using namespace varnel;
using namespace varnel::test;

namespace {

// `count` radios "r1".."rN" that passed `point` of item 19 with the values
// given (cycled), each with `slope`.
std::vector<HistoryEntry> radios(int count, std::vector<int> values, double slope = 0.05, int point = 1) {
    std::vector<HistoryEntry> out;
    for (int i = 0; i < count; ++i)
        out.push_back({"r" + std::to_string(i + 1), 19, point, values[static_cast<std::size_t>(i) % values.size()], slope});
    return out;
}

}  // namespace

// ---- the predictor ------------------------------------------------------------

TEST(Predictor, StartsFromTheMedianOfTheLastRadios) {
    struct Case {
        const char* name;
        std::vector<HistoryEntry> history;
        std::vector<int> ownOffsets;
        int historySize;
        std::optional<int> value;
        std::optional<double> slope;
    };
    std::vector<HistoryEntry> twice = radios(3, {150, 152, 154});
    twice.push_back({"r1", 19, 1, 200, 0.05});  // the same radio again: its latest result counts
    std::vector<HistoryEntry> unknownSlope = radios(3, {150});
    for (HistoryEntry& e : unknownSlope) e.slope.reset();
    const Case cases[] = {
        {"no history", {}, {}, 0, std::nullopt, std::nullopt},
        {"another point only", radios(3, {150}, 0.05, 2), {}, 0, std::nullopt, std::nullopt},
        {"three radios", radios(3, {150, 152, 154}), {}, 3, 152, 0.05},
        {"even count", radios(4, {150, 152, 154, 156}), {}, 4, 153, 0.05},
        {"last nine of twelve", radios(12, {100, 100, 100, 160, 160, 160, 160, 160, 160, 160, 160, 160}), {}, 9, 160, 0.05},
        {"this radio runs high", radios(3, {150, 152, 154}), {4, 6}, 3, 157, 0.05},
        {"same radio twice", twice, {}, 3, 154, 0.05},
        {"no slope known", unknownSlope, {}, 3, 150, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Prediction p = Predictor(c.history).predict(19, 1, c.ownOffsets);
        EXPECT_EQ(p.historySize, c.historySize);
        EXPECT_EQ(p.value, c.value);
        ASSERT_EQ(p.slope.has_value(), c.slope.has_value());
        if (c.slope) {
            EXPECT_DOUBLE_EQ(*p.slope, *c.slope);
        }
    }
}

TEST(Predictor, FlagsValuesFarOutsideTheSpread) {
    struct Case {
        const char* name;
        std::vector<HistoryEntry> history;
        int value;
        bool standsOut;
    };
    // 148..156: median 152, median absolute deviation 2, robust deviation 2.97.
    const std::vector<int> spread = {148, 149, 150, 151, 152, 153, 154, 155, 156};
    const Case cases[] = {
        {"inside", radios(9, spread), 160, false},         // 2.7 deviations
        {"far above", radios(9, spread), 200, true},        // 16 deviations
        {"far below", radios(9, spread), 130, true},
        {"too little history", radios(4, spread), 200, false},
        {"identical history, near", radios(9, {150}), 153, false},  // one value step is the least spread
        {"identical history, far", radios(9, {150}), 155, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Deviation> d = Predictor(c.history).deviationOf(19, 1, c.value);
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(Predictor::standsOut(*d), c.standsOut) << d->deviations;
        EXPECT_GT(kOutlierDeviations, 0);
    }
    EXPECT_FALSE(Predictor().deviationOf(19, 1, 150).has_value());
}

// ---- the engine with a history ----------------------------------------------------

// The fake instrument reads 0.05 dBm per value step and 25 at zero: the
// target of 33 dBm +/- 0.1 lies at 160.
TEST(AlignPredict, HistoryPresentAbsentOrMisleading) {
    struct Case {
        const char* name;
        std::optional<std::vector<HistoryEntry>> history;
        int maxTries;    // per point
        bool standsOut;  // this radio against a history far off
    };
    std::vector<HistoryEntry> good, farOff, wrongSlope;
    for (int point = 1; point <= 3; ++point) {
        for (HistoryEntry e : radios(5, {159, 160, 161}, 0.05, point)) good.push_back(e);
        for (HistoryEntry e : radios(5, {20}, 0.5, point)) farOff.push_back(e);
        for (HistoryEntry e : radios(5, {240}, 0.0005, point)) wrongSlope.push_back(e);
    }
    const Case cases[] = {
        {"absent", std::nullopt, 12, false},
        {"present", good, 1, false},
        {"far off, slope ten times too steep", farOff, 12, true},
        {"far off, slope a hundred times too flat", wrongSlope, 12, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRadio radio;
        FakeInstrument meter(radio);
        AlignEngine engine(oneStep(powerStep({1, 2, 3}, 33.0)), radio, &meter, VirtualTestSetModel());
        if (c.history) engine.setPredictor(Predictor(*c.history));
        const AlignReport report = engine.run();
        ASSERT_TRUE(report.complete()) << report.error.text();
        ASSERT_EQ(report.points.size(), 3u);
        for (const PointResult& p : report.points) {
            EXPECT_TRUE(p.pass) << p.note;
            ASSERT_TRUE(p.reading.has_value());
            EXPECT_NEAR(*p.reading, 33.0, 0.1);
            EXPECT_LE(p.tries, c.maxTries);
            EXPECT_EQ(p.startValue, 100);  // what a failure would put back: the radio's own value
            EXPECT_EQ(p.historySize, c.history ? 5 : 0);
            EXPECT_EQ(p.predictedValue.has_value(), c.history.has_value());
            EXPECT_EQ(p.standsOut, c.standsOut);
        }
        EXPECT_FALSE(radio.keyed);
        const nlohmann::json json = nlohmann::json::parse(report.toJson());
        EXPECT_EQ(json["outlier"], c.standsOut);
        if (c.history) {
            EXPECT_EQ(json["points"][0]["prediction"]["history"], 5);
            EXPECT_TRUE(json["points"][0]["prediction"]["value"].is_number());
        } else {
            EXPECT_TRUE(json["points"][0]["prediction"].is_null());
        }
    }
}

// Radios that came out near 100 before; this one needs 160 on every point.
TEST(AlignPredict, ARadioFarFromItsModelIsFlagged) {
    std::vector<HistoryEntry> history;
    for (int point = 1; point <= 3; ++point)
        for (HistoryEntry e : radios(9, {98, 99, 100, 101, 102}, 0.05, point)) history.push_back(e);
    FakeRadio radio;
    FakeInstrument meter(radio);
    AlignEngine engine(oneStep(powerStep({1, 2, 3}, 33.0)), radio, &meter, VirtualTestSetModel());
    engine.setPredictor(Predictor(history));
    const AlignReport report = engine.run();
    ASSERT_TRUE(report.complete()) << report.error.text();
    EXPECT_EQ(report.failed(), 0);
    EXPECT_TRUE(report.outlier());
    const nlohmann::json json = nlohmann::json::parse(report.toJson());
    EXPECT_EQ(json["outlier"], true);
    ASSERT_EQ(json["outlier_points"].size(), 3u);
    EXPECT_EQ(json["outlier_points"][0]["item"], 19);
    EXPECT_EQ(json["outlier_points"][0]["point"], 1);
    EXPECT_GT(json["outlier_points"][0]["deviations"].get<double>(), kOutlierDeviations);
}

// ---- the history in the records -------------------------------------------------------

TEST(AlignPredict, RecordsCarryWhatTheNextRadioLearnsFrom) {
    PointResult p;
    p.item = 19;
    p.point = 2;
    p.step = "High power 400-470 MHz";
    p.target = 37;
    p.tolerance = 0.2;
    p.unit = "dBm";
    p.pass = true;
    p.reading = 37.05;
    p.tries = 1;
    p.finalValue = 157;
    p.predictedValue = 157;
    p.slope = 0.0412;
    p.historySize = 9;
    const std::string detail = AlignRecordDetail(p);
    EXPECT_NE(detail.find("pred=157 slope=0.0412 hist=9"), std::string::npos) << detail;

    struct Case {
        const char* event;
        std::string detail;
        int newValue;
        bool kept;
    };
    const Case cases[] = {
        {record_event::kAlign, detail, 157, true},
        {record_event::kAlign, "fail: target 37 +/- 0.2 dBm, 12 tries", 100, false},
        {record_event::kAlign, "stopped: target 37 +/- 0.2 dBm, 2 tries", 100, false},
        {record_event::kLiveChange, "", 157, false},
    };
    std::vector<CalibrationRecord> records;
    for (const Case& c : cases) {
        CalibrationRecord r;
        r.session = "s1";
        r.event = c.event;
        r.item = 19;
        r.point = 2;
        r.newValue = c.newValue;
        r.detail = c.detail;
        records.push_back(r);
    }
    const std::vector<HistoryEntry> history = HistoryFromRecords(records);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].radio, "s1");
    EXPECT_EQ(history[0].finalValue, 157);
    ASSERT_TRUE(history[0].slope.has_value());
    EXPECT_DOUBLE_EQ(*history[0].slope, 0.0412);
}

// ---- the spread of the virtual radios -----------------------------------------------

TEST(VirtualSpread, ReproduciblePerSerialAndDifferentBetweenSerials) {
    struct Reading {
        VirtualInstrument::Quantity quantity;
        int item, point, value;
    };
    const Reading readings[] = {
        {VirtualInstrument::Quantity::Power, 19, 1, 180},
        {VirtualInstrument::Quantity::Power, 79, 6, 180},
        {VirtualInstrument::Quantity::FrequencyError, 23, 3, 128},
        {VirtualInstrument::Quantity::Deviation, 12, 2, 180},
    };
    const auto make = [](const std::string& serial) {
        auto radio = std::make_shared<VirtualRadio>(VirtualPreset::LargeNewFirmware);
        if (!serial.empty()) radio->setSerial(serial);
        return radio;
    };
    auto model = make(""), a = make("VB0000000001"), again = make("VB0000000001"), b = make("VB0000000002");
    VirtualInstrument atModel(model), atA(a), atAgain(again), atB(b);
    for (const Reading& r : readings) {
        SCOPED_TRACE(r.item);
        const double m = atModel.steadyReading(r.quantity, r.item, r.point, r.value);
        const double x = atA.steadyReading(r.quantity, r.item, r.point, r.value);
        EXPECT_EQ(x, atAgain.steadyReading(r.quantity, r.item, r.point, r.value));
        EXPECT_NE(x, atB.steadyReading(r.quantity, r.item, r.point, r.value));
        EXPECT_NE(x, m);
    }
    EXPECT_EQ(model->spreadSeed(), 0u);
    EXPECT_EQ(model->spread(19, 1, 11), 0.0);
    for (int salt = 0; salt < 64; ++salt) {
        const double s = a->spread(19, 1, salt);
        EXPECT_GE(s, -1.0);
        EXPECT_LT(s, 1.0);
    }
    // The serial is in the information block as the radio sends it.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a->info().bytes[96]), 12), "VB0000000001");
}
