// Procedure files and instrument models: what they hold once read, and that
// a file with a mistake is refused with a message naming its line.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "align/Procedure.h"
#include "instrument/Instrument.h"
#include "instrument/InstrumentModel.h"

using namespace varnel;

namespace {

const char* const kGood = R"({
  "name": "Power only",
  "large_model": true,
  "steps": [
    {
      "name": "High power 136-174 MHz",
      "item": 79,
      "points": [1, 2, 6, 8],
      "keying": "transmit",
      "setup": "transmit",
      "measure": "power",
      "target": 37.0,
      "tolerance": 0.2,
      "unit": "dBm",
      "range": [10, 250],
      "direction": "lowers",
      "settle_ms": 30,
      "save": "point"
    }
  ]
}
)";

// The text of kGood with line `line` (1-based) replaced.
std::string withLine(int line, const std::string& text) {
    std::string s = kGood;
    std::size_t start = 0;
    for (int i = 1; i < line; ++i) start = s.find('\n', start) + 1;
    const std::size_t end = s.find('\n', start);
    return s.substr(0, start) + text + s.substr(end);
}

std::string refusal(const std::string& text) {
    Result<Procedure> p = ParseProcedureText(text, "power.json");
    EXPECT_FALSE(p.ok());
    return p.ok() ? std::string() : p.error().text();
}

}  // namespace

TEST(AlignProcedure, ReadsEveryField) {
    Result<Procedure> p = ParseProcedureText(kGood, "power.json");
    ASSERT_TRUE(p.ok()) << p.error().text();
    EXPECT_EQ(p->name, "Power only");
    ASSERT_TRUE(p->largeModel.has_value());
    EXPECT_TRUE(*p->largeModel);
    ASSERT_EQ(p->steps.size(), 1u);
    const ProcedureStep& s = p->steps[0];
    EXPECT_EQ(s.item, 79);
    EXPECT_EQ(s.band, 1);  // 79 is the second band's code of item 19
    EXPECT_EQ(s.points, (std::vector<int>{1, 2, 6, 8}));
    EXPECT_EQ(s.keying, Keying::Transmit);
    EXPECT_EQ(s.measure, "power");
    EXPECT_DOUBLE_EQ(s.target, 37.0);
    EXPECT_DOUBLE_EQ(s.tolerance, 0.2);
    EXPECT_EQ(s.minValue, 10);
    EXPECT_EQ(s.maxValue, 250);
    EXPECT_FALSE(s.raises);
    EXPECT_EQ(s.settleMs, 30);
    EXPECT_EQ(s.save, SaveWhen::Point);
    EXPECT_EQ(s.line, 5);
    EXPECT_EQ(p->pointCount(), 4);
}

TEST(AlignProcedure, SyntaxErrorNamesTheLine) {
    // A missing comma at the end of line 11.
    const std::string text = refusal(withLine(11, R"(      "measure": "power")"));
    EXPECT_NE(text.find("power.json:12:"), std::string::npos) << text;
}

TEST(AlignProcedure, UnknownItemNamesItsLine) {
    const std::string text = refusal(withLine(7, R"(      "item": 200,)"));
    EXPECT_NE(text.find("power.json:7:"), std::string::npos) << text;
    EXPECT_NE(text.find("item 200"), std::string::npos) << text;
}

TEST(AlignProcedure, PointOutsideTheItemNamesItsLine) {
    // Item 19 is the first band's code: five points only.
    const std::string text = refusal(withLine(7, R"(      "item": 19,)"));
    EXPECT_NE(text.find("power.json:8:"), std::string::npos) << text;
    EXPECT_NE(text.find("point 6"), std::string::npos) << text;
}

TEST(AlignProcedure, BadToleranceNamesItsLine) {
    const std::string text = refusal(withLine(13, R"(      "tolerance": -1,)"));
    EXPECT_NE(text.find("power.json:13:"), std::string::npos) << text;
    EXPECT_NE(text.find("tolerance"), std::string::npos) << text;
}

TEST(AlignProcedure, MisspelledFieldNamesItsLine) {
    const std::string text = refusal(withLine(16, R"(      "directoin": "lowers",)"));
    EXPECT_NE(text.find("power.json:16:"), std::string::npos) << text;
    EXPECT_NE(text.find("directoin"), std::string::npos) << text;
}

TEST(AlignProcedure, MissingFieldNamesTheStep) {
    const std::string text = refusal(withLine(12, "      \"unused\": 0,"));
    // "target" is gone; the step opens on line 5.
    EXPECT_NE(text.find("power.json:"), std::string::npos) << text;
    const std::string again = refusal(withLine(12, R"(      "comment": "no target",)"));
    EXPECT_NE(again.find("power.json:5:"), std::string::npos) << again;
    EXPECT_NE(again.find("\"target\""), std::string::npos) << again;
}

TEST(AlignProcedure, FskItemsAreRefused) {
    const std::string text = refusal(withLine(7, R"(      "item": 91,)"));
    EXPECT_NE(text.find("power.json:7:"), std::string::npos) << text;
}

TEST(AlignProcedure, ShippedProceduresAndModelsLoad) {
    for (const char* name : {"large", "variant0", "variant1", "variant2"}) {
        const std::string path = std::string(VARNEL_SOURCE_DIR) + "/procedures/" + name + ".json";
        Result<Procedure> p = LoadProcedure(path);
        ASSERT_TRUE(p.ok()) << p.error().text();
        EXPECT_GT(p->pointCount(), 10) << name;
    }
    for (const char* name : {"virtual-test-set", "generic-scpi-test-set"}) {
        const std::string path = std::string(VARNEL_SOURCE_DIR) + "/procedures/instruments/" + name + ".json";
        Result<InstrumentModel> m = LoadInstrumentModel(path);
        ASSERT_TRUE(m.ok()) << m.error().text();
        EXPECT_EQ(m->measurements.count("power"), 1u) << name;
    }
}

// Every step of every shipped procedure aligns the item its measurement
// measures. The item table's captions: 9/69, 10/70, 18-21/78-81 and 26/86
// are transmit powers, 23/83 the frequency stability, 13/73 "CTCSS Dev.
// (Wide)" (12/72 is "Max Dev. (Wide)"), 5-8/65-68 the squelch levels.
TEST(AlignProcedure, ShippedProceduresAlignTheRightItems) {
    const std::set<int> power = {9, 69, 10, 70, 18, 78, 19, 79, 20, 80, 21, 81, 26, 86};
    const std::set<int> frequency = {23, 83};
    const std::set<int> ctcss = {13, 73, 16, 76};
    const std::set<int> squelch = {5, 65, 6, 66, 7, 67, 8, 68};
    for (const char* name : {"large", "variant0", "variant1", "variant2"}) {
        const std::string path = std::string(VARNEL_SOURCE_DIR) + "/procedures/" + name + ".json";
        Result<Procedure> p = LoadProcedure(path);
        ASSERT_TRUE(p.ok()) << p.error().text();
        int deviationSteps = 0;
        for (const ProcedureStep& step : p->steps) {
            SCOPED_TRACE(std::string(name) + ": " + step.name);
            if (step.measure == "power") {
                EXPECT_EQ(power.count(step.item), 1u) << step.item;
            } else if (step.measure == "frequency_error") {
                EXPECT_EQ(frequency.count(step.item), 1u) << step.item;
            } else if (step.measure == "deviation") {
                EXPECT_EQ(ctcss.count(step.item), 1u) << step.item;
                ++deviationSteps;
            } else if (step.measure == "radio") {
                EXPECT_EQ(squelch.count(step.item), 1u) << step.item;
            } else {
                ADD_FAILURE() << "unexpected measure " << step.measure;
            }
            EXPECT_EQ(step.keying, squelch.count(step.item) ? Keying::Receive : Keying::Transmit);
        }
        EXPECT_EQ(deviationSteps, 2) << name;  // one per band
    }
}

namespace {

// A procedure of one step on `item`, points 1 and 2 (3 for one-value items), with the measurement
// and keying given; "measure" is on line 8 and "keying" on line 7.
std::string oneStep(int item, const char* measure, const char* keying) {
    // Items of one value offer point 3 only.
    const bool single = item == 2 || item == 23 || item == 83;
    return std::string("{\n  \"steps\": [\n    {\n      \"item\": ") + std::to_string(item) +
           ",\n      \"points\": " + (single ? "[3]" : "[1, 2]") + ",\n      \"setup\": \"transmit\",\n      \"keying\": \"" + keying +
           "\",\n      \"measure\": \"" + measure + "\",\n      \"target\": 1,\n      \"tolerance\": 1\n    }\n  ]\n}\n";
}

}  // namespace

// A step whose item does not fit its measurement or its keying is refused,
// naming the file and the line of the field.
TEST(AlignProcedure, ItemThatDoesNotFitTheMeasureIsRefused) {
    struct Case {
        int item;
        const char* measure;
        const char* keying;
        const char* line;
    };
    const Case refused[] = {
        {79, "deviation", "transmit", "power.json:8:"},        // CTCSS deviation on a power item
        {12, "deviation", "transmit", "power.json:8:"},        // ... on "Max Dev. (Wide)"
        {72, "deviation", "transmit", "power.json:8:"},
        {15, "deviation", "transmit", "power.json:8:"},        // ... on "Max Dev. (Narrow)"
        {13, "power", "transmit", "power.json:8:"},            // power on a CTCSS deviation item
        {19, "frequency_error", "transmit", "power.json:8:"},  // frequency error on a power item
        {23, "power", "transmit", "power.json:8:"},            // power on the frequency stability
        {19, "radio", "transmit", "power.json:8:"},            // the radio reads no power
        {5, "power", "receive", "power.json:8:"},              // a squelch level is no power
        {5, "radio", "transmit", "power.json:7:"},             // squelch is aligned receiving
        {19, "power", "receive", "power.json:7:"},             // power is aligned transmitting
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(std::to_string(c.item) + " " + c.measure + " " + c.keying);
        const std::string text = refusal(oneStep(c.item, c.measure, c.keying));
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        EXPECT_NE(text.find("item " + std::to_string(c.item)), std::string::npos) << text;
    }
    // What fits is taken: CTCSS and DCS deviation, power, the squelch, and a
    // measurement of the instrument model's own (only its keying checked).
    const Case taken[] = {{13, "deviation", "transmit", ""},     {73, "deviation", "transmit", ""},
                          {14, "deviation", "transmit", ""},     {12, "max_deviation", "transmit", ""},
                          {86, "power", "transmit", ""},         {83, "frequency_error", "transmit", ""},
                          {65, "radio", "receive", ""},          {2, "voltage", "transmit", ""},
                          {19, "sinad_of_my_model", "transmit", ""}};
    for (const Case& c : taken) {
        Result<Procedure> p = ParseProcedureText(oneStep(c.item, c.measure, c.keying), "power.json");
        EXPECT_TRUE(p.ok()) << c.item << " " << c.measure << ": " << p.error().text();
    }
}

TEST(AlignProcedure, ShippedVirtualModelIsTheBuiltInOne) {
    Result<InstrumentModel> m =
        LoadInstrumentModel(std::string(VARNEL_SOURCE_DIR) + "/procedures/instruments/virtual-test-set.json");
    ASSERT_TRUE(m.ok()) << m.error().text();
    const InstrumentModel builtIn = VirtualTestSetModel();
    EXPECT_EQ(m->setups, builtIn.setups);
    EXPECT_EQ(m->settleMs, builtIn.settleMs);
    for (const auto& [name, meas] : builtIn.measurements) EXPECT_EQ(m->measurements.at(name).query, meas.query);
    EXPECT_EQ(m->identity, builtIn.identity);
    EXPECT_EQ(m->errorQuery, builtIn.errorQuery);
    EXPECT_EQ(m->confirm, builtIn.confirm);
    EXPECT_EQ(m->finish, builtIn.finish);
}

// The checks a model may ask for; a model written before them loads with
// the identity unchecked, the error queue read with SYST:ERR? and nothing
// confirmed.
TEST(AlignProcedure, InstrumentModelChecks) {
    const std::string older = "{\"name\": \"old\", \"identify\": \"*IDN?\", \"measurements\": "
                              "{\"power\": {\"query\": \"FETC:POW?\"}}}";
    Result<JsonDocument> doc = ParseJsonDocument(older, "old.json");
    ASSERT_TRUE(doc.ok());
    Result<InstrumentModel> m = ParseInstrumentModel(doc.value());
    ASSERT_TRUE(m.ok()) << m.error().text();
    EXPECT_EQ(m->identity, "");
    EXPECT_EQ(m->errorQuery, "SYST:ERR?");
    EXPECT_EQ(m->confirm, "");

    const std::string newer = "{\"name\": \"new\", \"identity\": \"ACME,CTS\", \"error_query\": \"\", "
                              "\"confirm\": \"*OPC?\"}";
    doc = ParseJsonDocument(newer, "new.json");
    ASSERT_TRUE(doc.ok());
    m = ParseInstrumentModel(doc.value());
    ASSERT_TRUE(m.ok()) << m.error().text();
    EXPECT_EQ(m->identity, "ACME,CTS");
    EXPECT_EQ(m->errorQuery, "");
    EXPECT_EQ(m->confirm, "*OPC?");

    doc = ParseJsonDocument("{\n  \"name\": \"x\",\n  \"confirm\": 1\n}\n", "bad.json");
    ASSERT_TRUE(doc.ok());
    m = ParseInstrumentModel(doc.value());
    ASSERT_FALSE(m.ok());
    EXPECT_NE(m.error().text().find("bad.json:3:"), std::string::npos) << m.error().text();
}

// Text from an instrument as the program keeps it: valid UTF-8 as it is,
// everything else escaped so that the bytes stay recoverable.
TEST(AlignProcedure, InstrumentTextIsMadeSafe) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"+3.700000E+01", "+3.700000E+01"},
        {"ACME,\xff\xfe" "CTS", "ACME,\\xFF\\xFECTS"},
        {"\x1b[2Jcleared", "\\x1B[2Jcleared"},
        {"caf\xc3\xa9 \xe4\xb8\xad", "caf\xc3\xa9 \xe4\xb8\xad"},  // é and 中 kept
        {"\xc3", "\\xC3"},                                              // cut sequence
        {"\xc0\xaf", "\\xC0\\xAF"},                                      // overlong
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},                              // surrogate
        {"a\\b", "a\\\\b"},
        {std::string("nul\0x", 5), "nul\\x00x"},
    };
    for (const Case& c : cases) EXPECT_EQ(SafeInstrumentText(c.in), c.out) << c.in;
}

TEST(AlignProcedure, InstrumentModelMistakeNamesItsLine) {
    const std::string text = "{\n  \"name\": \"x\",\n  \"settle_ms\": \"soon\"\n}\n";
    Result<JsonDocument> doc = ParseJsonDocument(text, "model.json");
    ASSERT_TRUE(doc.ok());
    Result<InstrumentModel> m = ParseInstrumentModel(doc.value());
    ASSERT_FALSE(m.ok());
    EXPECT_NE(m.error().text().find("model.json:3:"), std::string::npos) << m.error().text();
}

TEST(AlignProcedure, SetupCommandsCarryThePointsFrequency) {
    const InstrumentModel m = VirtualTestSetModel();
    const std::vector<std::string> c = m.setupCommands("receive", 435050000u, -118.0);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0], "RF:FREQ 435050000");
    EXPECT_EQ(c[1], "GEN:LEV -118.00");
    InstrumentModel mhz;
    mhz.setups["x"] = {"FREQ {freq_mhz} MHZ"};
    EXPECT_EQ(mhz.setupCommands("x", 435050000u, 0)[0], "FREQ 435.050000 MHZ");
}

TEST(AlignProcedure, ScpiNumbers) {
    Result<double> a = ParseScpiNumber("+3.700000E+01");
    ASSERT_TRUE(a.ok());
    EXPECT_DOUBLE_EQ(a.value(), 37.0);
    Result<double> b = ParseScpiNumber("-12.5\r");
    ASSERT_TRUE(b.ok());
    EXPECT_DOUBLE_EQ(b.value(), -12.5);
    EXPECT_FALSE(ParseScpiNumber("9.91E37").ok());  // SCPI "not a number"
    EXPECT_FALSE(ParseScpiNumber("").ok());
    EXPECT_FALSE(ParseScpiNumber("37 dBm").ok());
    EXPECT_EQ(ParseScpiNumber("#@!").error().code(), ErrorCode::BadData);
}

TEST(AlignProcedure, InstrumentAddresses) {
    using std::chrono::milliseconds;
    // A malformed address is a mistake in the input; a device that is not
    // there is an instrument failure.
    EXPECT_EQ(OpenInstrument("gpib://7", milliseconds(100)).error().code(), ErrorCode::BadData);
    EXPECT_EQ(OpenInstrument("tcp://:5025", milliseconds(100)).error().code(), ErrorCode::BadData);
    EXPECT_EQ(OpenInstrument("tcp://host:99999", milliseconds(100)).error().code(), ErrorCode::BadData);
    EXPECT_EQ(OpenInstrument("usbtmc://", milliseconds(100)).error().code(), ErrorCode::BadData);
    Result<std::unique_ptr<Instrument>> none = OpenInstrument("usbtmc:///dev/usbtmc-none", milliseconds(100));
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().code(), ErrorCode::Instrument);
    EXPECT_NE(none.error().text().find("/dev/usbtmc-none"), std::string::npos);
}
