// What the alignment takes from an instrument: readings no radio can give are
// the instrument's fault (the model's range, else the default of the
// measurement's kind), and the virtual test set keeps one error queue per
// connection, so another client's mistakes never reach the aligning one.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "align/AlignEngine.h"
#include "data/Global.h"
#include "data/ItemTable.h"
#include "instrument/InstrumentModel.h"
#include "instrument/VirtualInstrument.h"
#include "lang/ErrorText.h"
#include "lang/Loadlanguage.h"
#include "core/support/AlignFakes.h"
#include "core/support/TempFiles.h"
#include "core/support/VirtualRadioCase.h"

using namespace varnel;
using namespace varnel::test;
using std::chrono::milliseconds;

namespace {

class InstrumentBounds : public VirtualRadioCase {
protected:
    void TearDown() override {
        link_.reset();
        instrument_.reset();
        VirtualRadioCase::TearDown();
    }

    void Attach() {
        InstallRadio(VirtualPreset::Variant0);
        instrument_ = std::make_unique<VirtualInstrument>(backend_->sharedRadio());
        ASSERT_TRUE(instrument_->start().ok());
        link_ = Open();
        ASSERT_TRUE(link_);
        ASSERT_TRUE(port_.prepare().ok());
    }

    std::unique_ptr<Instrument> Open() {
        Result<std::unique_ptr<Instrument>> link = OpenInstrument(instrument_->url(), milliseconds(1000));
        EXPECT_TRUE(link.ok()) << link.error().text();
        return link.ok() ? std::move(link.value()) : nullptr;
    }

    // High power of the first band, points 1 to 5, aiming at 37 dBm.
    static Procedure FivePoints() {
        ProcedureStep s = powerStep({1, 2, 3, 4, 5}, 37.0);
        s.tolerance = 0.2;
        s.settleMs = 25;
        return oneStep(s);
    }

    // The byte of item 19 (one value per point) at `point` in the image.
    static std::size_t Offset(int point) {
        const std::optional<ItemBytesInfo> bytes = ItemBytes(19);
        EXPECT_TRUE(bytes.has_value());
        return bytes ? static_cast<std::size_t>(bytes->offset) + static_cast<std::size_t>(point - 1) : 0;
    }

    AlignReport RunFive(const InstrumentModel& model, Instrument* through = nullptr) {
        AlignEngine engine(FivePoints(), port_, through != nullptr ? through : link_.get(), model);
        return engine.run();
    }

    std::unique_ptr<VirtualInstrument> instrument_;
    std::unique_ptr<Instrument> link_;
    SendcmdAlignRadio port_;
};

Result<InstrumentModel> ModelFromText(const TempDir& dir, const std::string& text) {
    const auto file = dir / "model.json";
    std::ofstream(file, std::ios::binary) << text;
    return LoadInstrumentModel(file.string());
}

}  // namespace

// ---- readings no radio can give -------------------------------------------------

// A keyed transmitter read as -123 dBm: before, the point failed with "the
// target lies beyond the value range" and the run went on to the next point
// as if the radio were weak. Now the run ends on the first point, unkeyed
// and put back, and the note names the instrument.
TEST_F(InstrumentBounds, ImplausibleReadingEndsTheRunNamingTheInstrument) {
    Attach();
    const int before = tunerImage[Offset(1)];
    VirtualInstrument::Misbehaviour odd;
    odd.reading = -123.0;
    instrument_->setMisbehaviour(odd);
    const AlignReport report = RunFive(VirtualTestSetModel());
    EXPECT_EQ(report.error.code(), ErrorCode::Instrument) << report.error.text();
    ASSERT_EQ(report.points.size(), 1u) << "the run ends at the first point";
    const PointResult& p = report.points[0];
    EXPECT_STREQ(p.outcome(), "fail");
    EXPECT_EQ(p.note.find("beyond the value range"), std::string::npos) << p.note;
    EXPECT_NE(p.note.find("-123 dBm"), std::string::npos) << p.note;
    EXPECT_NE(p.note.find("the instrument " + instrument_->url() + " is the likely fault"), std::string::npos)
        << p.note;
    EXPECT_NE(p.note.find("plausible from -20 to 50 dBm"), std::string::npos) << p.note;
    EXPECT_EQ(p.finalValue, before);
    EXPECT_EQ(radio().liveImage()[Offset(1)], before);
    EXPECT_FALSE(radio().transmitting());
    // Asked three times (the carrier may still be coming up), then given up.
    EXPECT_EQ(p.tries, 0);
    int asked = 0;
    for (const std::string& line : instrument_->received()) asked += line == "MEAS:POW?";
    EXPECT_EQ(asked, 3);
}

// A meter that drifts further off with every reading: the point it leaves
// the plausible range on ends the run, whatever the search did before.
TEST_F(InstrumentBounds, DriftingMeterEndsTheRunOnceItsReadingsCannotBeTheRadios) {
    Attach();
    VirtualInstrument::Misbehaviour odd;
    odd.drift = 4.0;  // dB per reading
    instrument_->setMisbehaviour(odd);
    const AlignReport report = RunFive(VirtualTestSetModel());
    EXPECT_EQ(report.error.code(), ErrorCode::Instrument) << report.error.text();
    ASSERT_FALSE(report.points.empty());
    EXPECT_NE(report.points.back().note.find("is not one a radio can give"), std::string::npos)
        << report.points.back().note;
    EXPECT_FALSE(radio().transmitting());
}

// The model's own range wins over the default: a test set that reads power
// behind a 30 dB coupler without the fixture's loss configured reads 7 dBm
// where the radio gives 37; with "range": [20, 50] that is refused.
TEST_F(InstrumentBounds, TheModelsRangeIsTheOneChecked) {
    Attach();
    TempDir dir;
    Result<InstrumentModel> model = ModelFromText(dir, R"({
  "name": "Virtual test set behind a coupler",
  "identify": "*IDN?", "identity": "VARNEL,VIRTUAL TEST SET", "confirm": "*OPC?",
  "reset": ["*RST", "*CLS"],
  "setups": {"transmit": ["RF:FREQ {freq_hz}"]},
  "measurements": {"power": {"query": "MEAS:POW?", "unit": "dBm", "range": [20, 50]}},
  "settle_ms": 20
})");
    ASSERT_TRUE(model.ok()) << model.error().text();
    ASSERT_TRUE(model->plausibleRange("power").has_value());
    EXPECT_EQ(model->plausibleRange("power")->lowest, 20);
    VirtualInstrument::Misbehaviour odd;
    odd.reading = 7.0;
    instrument_->setMisbehaviour(odd);
    const AlignReport refused = RunFive(model.value());
    EXPECT_EQ(refused.error.code(), ErrorCode::Instrument) << refused.error.text();
    EXPECT_NE(refused.error.text().find("plausible from 20 to 50 dBm"), std::string::npos) << refused.error.text();
    // 7 dBm is a plausible reading by the default of its kind: the point
    // is then only unreachable, and the run goes on.
    const AlignReport defaults = RunFive(VirtualTestSetModel());
    EXPECT_TRUE(defaults.error.ok()) << defaults.error.text();
    EXPECT_EQ(defaults.points.size(), 5u);
    EXPECT_EQ(defaults.passed(), 0);
    // Unlied, the same model aligns every point.
    instrument_->setMisbehaviour({});
    const AlignReport honest = RunFive(model.value());
    EXPECT_TRUE(honest.error.ok()) << honest.error.text();
    EXPECT_EQ(honest.passed(), 5);
}

TEST(InstrumentModelRange, DefaultsPerKindAndRefusals) {
    const InstrumentModel virtualSet = VirtualTestSetModel();
    for (const auto& [name, low, high] : {std::tuple<const char*, double, double>{"power", -20, 50},
                                         {"frequency_error", -10000, 10000},
                                         {"deviation", 0, 10000},
                                         {"voltage", 0, 30}}) {
        SCOPED_TRACE(name);
        const auto range = virtualSet.plausibleRange(name);
        ASSERT_TRUE(range.has_value());
        EXPECT_EQ(range->lowest, low);
        EXPECT_EQ(range->highest, high);
        EXPECT_TRUE(virtualSet.checkReading(name, (low + high) / 2, "tcp://x").ok());
        EXPECT_EQ(virtualSet.checkReading(name, high + 1, "tcp://x").code(), ErrorCode::Instrument);
        EXPECT_EQ(virtualSet.checkReading(name, low - 1, "tcp://x").code(), ErrorCode::Instrument);
    }
    // A kind in another unit than its default's, and an unknown kind: not checked.
    InstrumentModel other = virtualSet;
    other.measurements["power"].unit = "W";
    other.measurements["sinad"] = {"MEAS:SIN?", "dB", std::nullopt};
    EXPECT_FALSE(other.plausibleRange("power").has_value());
    EXPECT_FALSE(other.plausibleRange("sinad").has_value());
    EXPECT_TRUE(other.checkReading("power", 1e6, "tcp://x").ok());

    TempDir dir;
    for (const char* range : {"[50, 20]", "[1]", "\"wide\"", "[0, \"x\"]", "[3, 3]"}) {
        SCOPED_TRACE(range);
        Result<InstrumentModel> m = ModelFromText(
            dir, std::string("{\"name\": \"m\",\n \"measurements\": {\"power\": {\"query\": \"P?\", \"unit\": \"dBm\",\n"
                             "   \"range\": ") +
                     range + "}}}");
        ASSERT_FALSE(m.ok());
        EXPECT_NE(m.error().text().find("model.json:3"), std::string::npos) << m.error().text();
        EXPECT_NE(m.error().text().find("\"range\" must be [lowest, highest]"), std::string::npos) << m.error().text();
    }
}

// The failure reads in the interface language too.
TEST(InstrumentModelRange, TheFailureInBothLanguages) {
    SetProgramDirectory(VARNEL_LANG_DIR);
    const Error e = VirtualTestSetModel().checkReading("power", -123, "tcp://127.0.0.1:5025");
    OpenLanguage(kLanguageEnglish);
    const std::string english = TranslatedErrorText(e);
    EXPECT_NE(english.find("tcp://127.0.0.1:5025 is the likely fault"), std::string::npos) << english;
    EXPECT_NE(english.find("-123 dBm"), std::string::npos) << english;
    OpenLanguage(kLanguageChinese);
    const std::string chinese = TranslatedErrorText(e);
    EXPECT_NE(chinese.find("\u6545\u969c\u5f88\u53ef\u80fd\u5728\u4eea\u5668 tcp://127.0.0.1:5025"), std::string::npos)
        << chinese;  // 故障很可能在仪器
    EXPECT_NE(chinese.find("\u8bfb\u6570 -123 dBm"), std::string::npos) << chinese;  // 读数
    ResetLanguageState();
}

// ---- one error queue per connection -------------------------------------------

// Another client's malformed command goes into its own queue: the aligning
// client's queue stays empty, and *CLS of one leaves the other's alone.
TEST_F(InstrumentBounds, EveryConnectionHasItsOwnErrorQueue) {
    Attach();
    std::unique_ptr<Instrument> other = Open();
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->send("BOGUS:COMMAND 1").ok());
    ASSERT_TRUE(other->send("RF:FREQ soon").ok());
    EXPECT_EQ(link_->query("SYST:ERR?").value(), "0,\"No error\"");
    ASSERT_TRUE(link_->send("*CLS").ok());
    EXPECT_EQ(other->query("SYST:ERR?").value().rfind("-113,", 0), 0u);
    EXPECT_EQ(other->query("SYST:ERR?").value().rfind("-104,", 0), 0u);
    EXPECT_EQ(other->query("SYST:ERR?").value(), "0,\"No error\"");
    // And the other way round.
    ASSERT_TRUE(link_->send("NOT:A:COMMAND").ok());
    EXPECT_EQ(other->query("SYST:ERR?").value(), "0,\"No error\"");
    EXPECT_EQ(link_->query("SYST:ERR?").value().rfind("-113,", 0), 0u);
}

// A second loopback client that sends a line beyond the limit and junk
// just before a run: before, the run's first error-queue check read its
// -223 and ended (exit 15); now the run aligns every point.
TEST_F(InstrumentBounds, AnotherClientsMistakesDoNotEndTheRun) {
    Attach();
    std::unique_ptr<Instrument> other = Open();
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->send(std::string(VirtualInstrument::kMaxLine + 100, 'A')).ok());
    ASSERT_TRUE(other->send("MEAS:NOTHING?").ok());
    ASSERT_TRUE(other->query("*OPC?").ok());  // both dealt with
    const AlignReport report = RunFive(VirtualTestSetModel());
    EXPECT_TRUE(report.error.ok()) << report.error.text();
    EXPECT_EQ(report.passed(), 5);
    EXPECT_EQ(other->query("SYST:ERR?").value(), "-223,\"Too much data\"");
    EXPECT_EQ(other->query("SYST:ERR?").value().rfind("-113,", 0), 0u);
}
