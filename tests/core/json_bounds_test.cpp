// Procedures and instrument models from hostile or careless hands: every
// failure of the parser is a "FILE:LINE: ..." refusal (never an exception),
// nesting is bounded, the lines of values stay right, commands are single
// lines, and a procedure that needs what the model lacks is refused when
// both are loaded.
#include <gtest/gtest.h>

#include <string>

#include "align/Procedure.h"
#include "core/support/TempFiles.h"
#include "instrument/InstrumentModel.h"
#include "util/JsonLines.h"

using namespace varnel;
using namespace varnel::test;

namespace {

const char* const kStep =
    "{\"name\": \"High\", \"item\": 19, \"points\": [1, 2], \"keying\": \"transmit\", \"setup\": \"transmit\",\n"
    " \"measure\": \"power\", \"target\": 37.0, \"tolerance\": 0.2}";

std::string ProcedureWith(const std::string& step) { return "{\n\"name\": \"P\",\n\"steps\": [\n" + step + "\n]}\n"; }

}  // namespace

TEST(JsonBounds, NumbersBeyondADoubleAreARefusalWithTheirLine) {
    for (const char* number : {"1e400", "-1e400", "123456789e999"}) {
        SCOPED_TRACE(number);
        const std::string text = "{\n\"name\": \"P\",\n\"steps\": [{\"target\":\n  " + std::string(number) + "}]}\n";
        Result<Procedure> p = ParseProcedureText(text, "big.json");
        ASSERT_FALSE(p.ok());
        EXPECT_EQ(p.error().code(), ErrorCode::BadData);
        const std::string why = p.error().text();
        EXPECT_NE(why.find("big.json:4: column"), std::string::npos) << why;
        EXPECT_NE(why.find(number), std::string::npos) << why;
        Result<InstrumentModel> m = ParseInstrumentModelText("{\"name\": \"M\",\n\"settle_ms\": " + std::string(number) + "}",
                                                             "model.json");
        ASSERT_FALSE(m.ok());
        EXPECT_NE(m.error().text().find("model.json:2: column"), std::string::npos) << m.error().text();
    }
    // Very small numbers are numbers (they round to zero).
    Result<JsonDocument> tiny = ParseJsonDocument("{\"x\": 1e-400}", "tiny.json");
    EXPECT_TRUE(tiny.ok()) << tiny.error().text();
}

TEST(JsonBounds, NestingDeeperThanTheLimitIsRefusedBeforeParsing) {
    const auto nested = [](int depth, const std::string& open, const std::string& close) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += open;
        for (int i = 0; i < depth; ++i) s += close;
        return s;
    };
    // 64 levels are taken, 65 are not.
    EXPECT_TRUE(ParseJsonDocument(nested(kJsonDepthLimit, "[", "]"), "ok.json").ok());
    Result<JsonDocument> deep = ParseJsonDocument(nested(kJsonDepthLimit + 1, "[", "]"), "deep.json");
    ASSERT_FALSE(deep.ok());
    EXPECT_EQ(deep.error().text(), "deep.json:1: arrays and objects nest deeper than 64 levels");
    // 50,000 levels (100 kB), the level past the limit on line 3; brackets in strings do not count.
    const std::string text = "{\"name\": \"[[[[{{{{\",\n\"steps\":\n" + nested(50000, "[", "]") + "}";
    Result<Procedure> p = ParseProcedureText(text, "deep.json");
    ASSERT_FALSE(p.ok());
    EXPECT_NE(p.error().text().find("deep.json:3: arrays and objects nest deeper than 64 levels"), std::string::npos)
        << p.error().text();
    // Objects count as arrays do, and a model is read the same way.
    std::string objects = "{\"name\": \"M\", \"setups\": ";
    for (int i = 0; i < 20000; ++i) objects += "{\"a\":";
    objects += "1";
    for (int i = 0; i < 20000; ++i) objects += "}";
    objects += "}";
    Result<InstrumentModel> m = ParseInstrumentModelText(objects, "model.json");
    ASSERT_FALSE(m.ok());
    EXPECT_NE(m.error().text().find("model.json:1: arrays and objects nest deeper than 64"), std::string::npos)
        << m.error().text();
}

TEST(JsonBounds, EveryParserFailureIsARefusalNamingTheLine) {
    struct Case {
        std::string text;
        const char* where;
    };
    const Case cases[] = {
        {"{\n\"name\": \"P\",\n\"steps\": [}\n", "bad.json:3: column"},
        {"", "bad.json:1: column"},
        {"{\"name\": \"P\"} trailing", "bad.json:1: column"},
        {"{\n\"name\": \"\\uD800\"}", "bad.json:2: column"},
        {"{\n\"name\": \"\xff\"}", "bad.json:2: column"},
        {std::string("{\"name\": \"a\0b\"}", 15), "bad.json:1: column"},
        {"{\"steps\": [" + std::string(300000, '1') + "x]}", "bad.json:1: column"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        Result<Procedure> p = ParseProcedureText(c.text, "bad.json");
        ASSERT_FALSE(p.ok());
        EXPECT_EQ(p.error().code(), ErrorCode::BadData);
        EXPECT_NE(p.error().text().find(c.where), std::string::npos) << p.error().text().substr(0, 300);
        EXPECT_LT(p.error().text().size(), 400u) << "a long token is not repeated whole";
    }
}

TEST(JsonBounds, LinesOfValuesAreKeptWithEscapesBomAndRepeatedKeys) {
    const std::string text = "\xEF\xBB\xBF{\n"
                             "  \"a\\/b\": 1,\n"
                             "  \"caf\\u00e9\": [\n"
                             "    0,\n"
                             "    {\"x\":\n"
                             "      2}\n"
                             "  ],\n"
                             "  \"a/b\": 3\n"
                             "}\n";
    Result<JsonDocument> doc = ParseJsonDocument(text, "lines.json");
    ASSERT_TRUE(doc.ok()) << doc.error().text();
    EXPECT_EQ(doc->lineOf(""), 1);
    EXPECT_EQ(doc->lineOf("/caf\xC3\xA9"), 3);
    EXPECT_EQ(doc->lineOf("/caf\xC3\xA9/0"), 4);
    EXPECT_EQ(doc->lineOf("/caf\xC3\xA9/1"), 5);
    EXPECT_EQ(doc->lineOf("/caf\xC3\xA9/1/x"), 5);  // a member: its key's line
    EXPECT_EQ(doc->lineOf("/caf\xC3\xA9/1/x/nothing"), 5);  // the nearest value there is
    EXPECT_EQ(doc->lineOf("/caf\xC3\xA9/7"), 3);
    EXPECT_EQ(doc->lineOf("/a~1b"), 8) << "a key given twice: the parser keeps the last";
    EXPECT_EQ(doc->root["a/b"], 3);
}

TEST(JsonBounds, ModelCommandsAreSingleLinesWithoutControlCharacters) {
    struct Case {
        std::string text;
        const char* where;
    };
    const Case cases[] = {
        {"{\"name\": \"M\",\n\"reset\": [\"*CLS\", \"*CLS\\n*RST\"]}", "model.json:2: a command must be one line"},
        {"{\"name\": \"M\",\n\"finish\": \"OUTP OFF\\r\"}", "model.json:2: a command must be one line"},
        {"{\"name\": \"M\",\n\"setups\": {\"transmit\":\n [\"RF:FREQ {freq_hz}\\u0000\"]}}", "model.json:3:"},
        {"{\"name\": \"M\",\n\"identify\": \"*IDN?\\t\"}", "model.json:2:"},
        {"{\"name\": \"M\",\n\"error_query\": \"SYST:ERR?\\u001b\"}", "model.json:2:"},
        {"{\"name\": \"M\",\n\"confirm\": \"*OPC?\\u007f\"}", "model.json:2:"},
        {"{\"name\": \"M\", \"measurements\": {\"power\":\n {\"query\": \"MEAS:POW?\\n*RST\"}}}", "model.json:2:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Result<InstrumentModel> m = ParseInstrumentModelText(c.text, "model.json");
        ASSERT_FALSE(m.ok());
        EXPECT_EQ(m.error().code(), ErrorCode::BadData);
        EXPECT_NE(m.error().text().find(c.where), std::string::npos) << m.error().text();
        EXPECT_NE(m.error().text().find("control character"), std::string::npos) << m.error().text();
    }
    EXPECT_TRUE(ParseInstrumentModelText("{\"name\": \"M\", \"reset\": [\"*RST\", \"SYST:PRES 'µ'\"]}", "m.json").ok());
}

TEST(JsonBounds, NumbersThatWouldWrapAreNotTakenForPoints) {
    for (const char* point : {"4294967297", "18446744073709551617", "-4294967295"}) {
        SCOPED_TRACE(point);
        std::string step = kStep;
        step.replace(step.find("[1, 2]"), 6, std::string("[1, ") + point + "]");
        Result<Procedure> p = ParseProcedureText(ProcedureWith(step), "wrap.json");
        EXPECT_FALSE(p.ok());
    }
    std::string step = kStep;
    step.replace(step.find("\"tolerance\""), 0, "\"range\": [4294967296, 4294967306], ");
    EXPECT_FALSE(ParseProcedureText(ProcedureWith(step), "wrap.json").ok());
}

TEST(JsonBounds, AStepTheModelCannotMeasureIsRefusedNamingTheStepsLine) {
    Result<Procedure> p = ParseProcedureText(ProcedureWith(kStep), "p.json");
    ASSERT_TRUE(p.ok()) << p.error().text();
    EXPECT_TRUE(CheckProcedureAgainstModel(*p, VirtualTestSetModel()).ok());

    InstrumentModel noPower = VirtualTestSetModel();
    noPower.measurements.erase("power");
    Error e = CheckProcedureAgainstModel(*p, noPower);
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.code(), ErrorCode::BadData);
    EXPECT_NE(e.text().find("p.json:4: step 1 (\"High\"): the instrument model \"Virtual test set\" has no measurement "
                            "\"power\""),
              std::string::npos)
        << e.text();

    InstrumentModel noSetup = VirtualTestSetModel();
    noSetup.setups.erase("transmit");
    e = CheckProcedureAgainstModel(*p, noSetup);
    ASSERT_FALSE(e.ok());
    EXPECT_NE(e.text().find("has no set-up \"transmit\" (it has \"receive\")"), std::string::npos) << e.text();

    // The radio's own read-back (a squelch level on receive) needs nothing
    // of the model but the set-up.
    const std::string radioStep =
        "{\"name\": \"Squelch\", \"item\": 5, \"points\": [1, 2], \"keying\": \"receive\", \"setup\": \"receive\",\n"
        " \"measure\": \"radio\", \"target\": 120.0, \"tolerance\": 4.0}";
    Result<Procedure> radio = ParseProcedureText(ProcedureWith(radioStep), "p.json");
    ASSERT_TRUE(radio.ok()) << radio.error().text();
    InstrumentModel none;
    none.name = "Nothing";
    none.setups["receive"] = {};
    EXPECT_TRUE(CheckProcedureAgainstModel(*radio, none).ok());
}

TEST(JsonBounds, ShippedProceduresLoadWithTheirLines) {
    for (const char* name : {"large.json", "variant0.json", "variant1.json", "variant2.json"}) {
        SCOPED_TRACE(name);
        Result<Procedure> p = LoadProcedure(std::string(VARNEL_SOURCE_DIR) + "/procedures/" + name);
        ASSERT_TRUE(p.ok()) << p.error().text();
        int previous = 0;
        for (const ProcedureStep& s : p->steps) {
            EXPECT_GT(s.line, previous) << s.name;
            previous = s.line;
        }
        EXPECT_TRUE(CheckProcedureAgainstModel(*p, VirtualTestSetModel()).ok());
    }
}
