// The line's control charts: I-MR limits, the four run rules and Cpk on
// numbers worked out by hand, and the line alarm over calibration records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line/ControlChart.h"
#include "line/LineDrift.h"
#include "records/RecordStore.h"

using namespace varnel;

namespace {

// Eight values of a stable run. Mean 91 / 8 = 11.375; moving ranges 2, 1,
// 2, 1, 1, 1, 2: MR-bar 10 / 7 = 1.428571; sigma = MR-bar / 1.128 =
// 1.266464; limits 11.375 +/- 3.799392 (7.575608 to 15.174392); MR UCL
// 3.267 x 1.428571 = 4.667143. One sigma above: 12.641464, two: 13.907928.
const std::vector<double> kBaseline = {12, 10, 11, 13, 12, 11, 12, 10};

ChartSettings firstEight() {
    ChartSettings s;
    s.radios = 8;
    return s;
}

std::vector<double> baselineThen(std::vector<double> more) {
    std::vector<double> v = kBaseline;
    v.insert(v.end(), more.begin(), more.end());
    return v;
}

}  // namespace

TEST(ControlChart, LimitsFromTheMovingRange) {
    const ChartLimits l = LimitsOf(kBaseline, 0, kBaseline.size());
    EXPECT_EQ(l.baseline, 8);
    EXPECT_NEAR(l.centre, 11.375, 1e-9);
    EXPECT_NEAR(l.mrBar, 1.428571, 1e-6);
    EXPECT_NEAR(l.sigma, 1.266464, 1e-6);
    EXPECT_NEAR(l.upper, 15.174392, 1e-6);
    EXPECT_NEAR(l.lower, 7.575608, 1e-6);
    EXPECT_NEAR(l.mrUpper, 4.667143, 1e-6);
}

TEST(ControlChart, TooFewRadiosAreShownNotJudged) {
    // A point far out among the first eight: nothing to judge it against yet.
    const ControlChart c = BuildControlChart({12, 10, 11, 40, 12, 11, 12, 10}, firstEight());
    ASSERT_EQ(c.points.size(), 8u);
    for (const ChartPoint& p : c.points) {
        EXPECT_FALSE(p.limits.has_value());
        EXPECT_EQ(p.rule, RunRule::None);
    }
    EXPECT_FALSE(c.points[0].movingRange.has_value());
    EXPECT_DOUBLE_EQ(*c.points[3].movingRange, 29);
    EXPECT_TRUE(c.limits.has_value());  // the limits for the ninth
}

TEST(ControlChart, EachRunRule) {
    // 1: 16 is beyond 15.174 (and 7 below 7.576).
    ControlChart c = BuildControlChart(baselineThen({16}), firstEight());
    EXPECT_EQ(c.points[8].rule, RunRule::Beyond3Sigma);
    EXPECT_EQ(c.points[8].side, 1);
    c = BuildControlChart(baselineThen({7}), firstEight());
    EXPECT_EQ(c.points[8].rule, RunRule::Beyond3Sigma);
    EXPECT_EQ(c.points[8].side, -1);
    // 2: 14, 11, 14 - the third makes 2 of 3 beyond 13.908.
    c = BuildControlChart(baselineThen({14, 11, 14}), firstEight());
    EXPECT_EQ(c.points[8].rule, RunRule::None);
    EXPECT_EQ(c.points[9].rule, RunRule::None);
    EXPECT_EQ(c.points[10].rule, RunRule::TwoOfThreeBeyond2Sigma);
    EXPECT_EQ(c.points[10].side, 1);
    // 3: 13, 13, 12, 13, 13 - the fifth makes 4 of 5 beyond 12.641.
    c = BuildControlChart(baselineThen({13, 13, 12, 13, 13}), firstEight());
    for (int i = 8; i < 12; ++i) EXPECT_EQ(c.points[static_cast<std::size_t>(i)].rule, RunRule::None) << i;
    EXPECT_EQ(c.points[12].rule, RunRule::FourOfFiveBeyond1Sigma);
    // 4: eight times 11.5, within one sigma but above the centre; the
    // baseline ends below it, so the eighth is the first of eight in a row.
    c = BuildControlChart(baselineThen({11.5, 11.5, 11.5, 11.5, 11.5, 11.5, 11.5, 11.5}), firstEight());
    for (int i = 8; i < 15; ++i) EXPECT_EQ(c.points[static_cast<std::size_t>(i)].rule, RunRule::None) << i;
    EXPECT_EQ(c.points[15].rule, RunRule::EightOnOneSide);
    EXPECT_EQ(c.firstSignal(), std::optional<std::size_t>(15));
    EXPECT_EQ(c.signalCount(), 1);
    // Values that stay within one sigma on both sides break no rule.
    c = BuildControlChart(baselineThen({11, 12, 11, 12, 11, 12, 11, 12, 11, 12}), firstEight());
    EXPECT_EQ(c.signalCount(), 0);
}

TEST(ControlChart, FirstRadiosOrALastWindow) {
    // With the first eight the limits stay those of the baseline whatever
    // follows; with a window of the last eight they follow the values.
    const std::vector<double> v = baselineThen({20, 20, 20, 20, 20, 20, 20, 20});
    const ControlChart first = BuildControlChart(v, firstEight());
    ASSERT_TRUE(first.limits.has_value());
    EXPECT_NEAR(first.limits->centre, 11.375, 1e-9);
    ChartSettings last = firstEight();
    last.limits = ChartSettings::Limits::LastRadios;
    const ControlChart window = BuildControlChart(v, last);
    ASSERT_TRUE(window.limits.has_value());
    EXPECT_NEAR(window.limits->centre, 20, 1e-9);
    // The ninth point is judged against the eight before it (11.375) in
    // both; the tenth of the window against values 1 to 8: 10, 11, 13, 12,
    // 11, 12, 10, 20 (mean 99 / 8 = 12.375).
    ASSERT_TRUE(window.points[9].limits.has_value());
    EXPECT_NEAR(window.points[9].limits->centre, 12.375, 1e-9);
    EXPECT_EQ(first.points[8].rule, RunRule::Beyond3Sigma);
}

TEST(ControlChart, ProvisionalLimitsBeforeTheBaselineIsComplete) {
    // Twenty radios make the limits; the ninth is judged against the eight
    // before it already.
    const ControlChart c = BuildControlChart(baselineThen({16}));
    ASSERT_TRUE(c.points[8].limits.has_value());
    EXPECT_EQ(c.points[8].limits->baseline, 8);
    EXPECT_EQ(c.points[8].rule, RunRule::Beyond3Sigma);
}

TEST(ControlChart, WholeStepValuesHaveAResolution) {
    // Eight radios on the same value: MR-bar 0 would make any other value
    // "beyond 3 sigma". With a resolution of one step, sigma is 1 / 1.128 =
    // 0.8865: one step off is no signal, three steps are (3 > 2.66).
    ChartSettings s = firstEight();
    s.resolution = 1;
    const std::vector<double> flat(8, 5.0);
    std::vector<double> v = flat;
    v.push_back(6);
    EXPECT_EQ(BuildControlChart(v, s).points[8].rule, RunRule::None);
    v.back() = 8;
    EXPECT_EQ(BuildControlChart(v, s).points[8].rule, RunRule::Beyond3Sigma);
    // Without one, no spread: nothing is judged.
    v.back() = 6;
    EXPECT_EQ(BuildControlChart(v, firstEight()).points[8].rule, RunRule::None);
}

TEST(ControlChart, Cpk) {
    // Mean 2, s = 1: min(6 - 2, 2 - 0) / 3 = 0.6667.
    ASSERT_TRUE(Cpk({1, 2, 3}, 0, 6).has_value());
    EXPECT_NEAR(*Cpk({1, 2, 3}, 0, 6), 2.0 / 3.0, 1e-9);
    // Centred: mean 120, s = 1 (119, 120, 121), limits 116 to 124: 4 / 3.
    EXPECT_NEAR(*Cpk({119, 120, 121}, 116, 124), 4.0 / 3.0, 1e-9);
    EXPECT_FALSE(Cpk({5}, 0, 10).has_value());
    EXPECT_FALSE(Cpk({5, 5, 5}, 0, 10).has_value());
    EXPECT_STREQ(RunRuleText(RunRule::TwoOfThreeBeyond2Sigma), "2 of 3 beyond 2 sigma");
}

namespace {

// One radio's records: four dBm points and one Hz point, each aligned to
// `base` plus `shift` (dBm only), passed.
void addRadio(std::vector<CalibrationRecord>& out, int radio, int base, int shift) {
    for (int point = 1; point <= 4; ++point) {
        CalibrationRecord r;
        r.event = record_event::kAlign;
        r.session = "radio-" + std::to_string(radio);
        r.serial = "SN-" + std::to_string(radio);
        r.item = 19;
        r.band = 0;
        r.point = point;
        r.step = "High power";
        r.unit = "dBm";
        r.oldValue = 100;
        r.newValue = base + shift;
        r.reading = 37.0;
        r.limitLow = 36.8;
        r.limitHigh = 37.2;
        r.verdict = record_verdict::kPass;
        out.push_back(r);
    }
    CalibrationRecord r = out.back();
    r.item = 23;
    r.point = 3;
    r.step = "Frequency stability";
    r.unit = "Hz";
    r.newValue = base;
    r.reading = 0;
    r.limitLow = -25;
    r.limitHigh = 25;
    out.push_back(r);
}

}  // namespace

TEST(LineDrift, AlarmOnACommonShiftOnly) {
    // Twenty radios alternate one step about 150: every value is within one
    // sigma (MR-bar 2, sigma 1.773) and no eight in a row share a side.
    std::vector<CalibrationRecord> records;
    for (int i = 0; i < 20; ++i) addRadio(records, i + 1, i % 2 == 0 ? 151 : 149, 0);
    DriftAnalysis a = AnalyseDrift(records);
    EXPECT_EQ(a.radios, 20);
    ASSERT_EQ(a.points.size(), 5u);
    EXPECT_TRUE(a.alarms.empty());
    for (const PointSeries& p : a.points) EXPECT_EQ(p.chart.signalCount(), 0) << p.item << "/" << p.point;
    // Cpk of the readings: all on target, no spread: none.
    EXPECT_FALSE(a.points[0].cpk.has_value());

    // The 21st radio's power points all 10 steps up (5 sigma): the dBm line
    // chart signals, rising, but a signal alone is no alarm yet.
    std::vector<CalibrationRecord> shifted = records;
    addRadio(shifted, 21, 149, 10);
    a = AnalyseDrift(shifted);
    ASSERT_EQ(a.lines.size(), 2u);  // dBm and Hz
    const LineSeries& dbm = a.lines[0].unit == "dBm" ? a.lines[0] : a.lines[1];
    EXPECT_EQ(dbm.chart.points.back().rule, RunRule::Beyond3Sigma);
    EXPECT_EQ(dbm.chart.points.back().side, 1);
    EXPECT_TRUE(a.alarms.empty());
    // The 22nd too: confirmed, the line alarm, rising; the Hz points did not move.
    addRadio(shifted, 22, 151, 10);
    a = AnalyseDrift(shifted);
    ASSERT_EQ(a.alarms.size(), 1u);
    EXPECT_EQ(a.alarms[0].unit, "dBm");
    EXPECT_EQ(a.alarms[0].rule, RunRule::Beyond3Sigma);
    EXPECT_EQ(a.alarms[0].side, 1);
    EXPECT_EQ(a.alarms[0].radio, "radio-22");
    EXPECT_EQ(a.alarms[0].serial, "SN-22");
    EXPECT_NE(DriftAlarmText(a.alarms[0]).find("dBm: 1 beyond 3 sigma, final values rising (radio SN-22, "),
              std::string::npos)
        << DriftAlarmText(a.alarms[0]);

    // A failed point does not count, and an alarm is only the newest radio's.
    std::vector<CalibrationRecord> failed = shifted;
    for (std::size_t i = failed.size() - 5; i < failed.size(); ++i) failed[i].verdict = record_verdict::kFail;
    EXPECT_TRUE(AnalyseDrift(failed).alarms.empty());
    std::vector<CalibrationRecord> later = shifted;
    addRadio(later, 23, 151, 0);
    for (const DriftAlarm& alarm : AnalyseDrift(later).alarms) EXPECT_NE(alarm.radio, "radio-22");
}
