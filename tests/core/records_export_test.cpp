// What the records give a factory: the OCP Test and Validation output of
// alignment runs (checked against the required fields of the published
// schema, 2.0), the verdict of a point, and the SHA-256 of procedure files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "align/AlignRecords.h"
#include "lang/Loadlanguage.h"
#include "records/RecordExport.h"
#include "util/Sha256.h"

using namespace varnel;
using nlohmann::json;

namespace {

// Required fields of the output schema (ocp-diag-core json_spec/output):
// where in an artifact an object stands, and what it must hold.
struct Required {
    const char* pointer;  // JSON pointer of the object in the artifact line
    std::vector<const char*> fields;
};
const Required kRoot{"", {"sequenceNumber", "timestamp"}};
const std::map<std::string, std::vector<Required>> kByKind = {
    {"schemaVersion", {{"/schemaVersion", {"major", "minor"}}}},
    {"testRunStart",
     {{"/testRunArtifact/testRunStart", {"name", "version", "commandLine", "parameters", "dutInfo"}},
      {"/testRunArtifact/testRunStart/dutInfo", {"dutInfoId"}}}},
    {"testRunEnd", {{"/testRunArtifact/testRunEnd", {"status", "result"}}}},
    {"testStepStart", {{"/testStepArtifact", {"testStepId"}}, {"/testStepArtifact/testStepStart", {"name"}}}},
    {"measurement", {{"/testStepArtifact", {"testStepId"}}, {"/testStepArtifact/measurement", {"name", "value"}}}},
    {"log", {{"/testStepArtifact", {"testStepId"}}, {"/testStepArtifact/log", {"severity", "message"}}}},
    {"testStepEnd", {{"/testStepArtifact", {"testStepId"}}, {"/testStepArtifact/testStepEnd", {"status"}}}},
};
const std::set<std::string> kStatus = {"COMPLETE", "ERROR", "SKIPPED"};
const std::set<std::string> kResult = {"PASS", "FAIL", "NOT_APPLICABLE"};
const std::set<std::string> kValidatorTypes = {"EQUAL", "NOT_EQUAL", "LESS_THAN", "LESS_THAN_OR_EQUAL", "GREATER_THAN",
                                               "GREATER_THAN_OR_EQUAL", "REGEX_MATCH", "REGEX_NO_MATCH", "IN_SET",
                                               "NOT_IN_SET"};

std::string KindOf(const json& line) {
    for (const char* top : {"testRunArtifact", "testStepArtifact"})
        if (line.contains(top))
            for (const auto& [key, value] : line[top].items())
                if (key != "testStepId") return key;
    return line.contains("schemaVersion") ? "schemaVersion" : "";
}

// Checks every line of one run against the table; gives the kinds in order.
std::vector<std::string> CheckRun(const std::vector<std::string>& lines) {
    std::vector<std::string> kinds;
    int sequence = 0;
    for (const std::string& text : lines) {
        SCOPED_TRACE(text);
        const json line = json::parse(text);
        const std::string kind = KindOf(line);
        kinds.push_back(kind);
        const auto rules = kByKind.find(kind);
        EXPECT_NE(rules, kByKind.end()) << "unknown artifact";
        if (rules == kByKind.end()) continue;
        std::vector<Required> all = rules->second;
        all.push_back(kRoot);
        for (const Required& r : all) {
            const json& object = line.at(json::json_pointer(r.pointer));
            for (const char* field : r.fields) EXPECT_TRUE(object.contains(field)) << r.pointer << "/" << field;
        }
        EXPECT_EQ(line["sequenceNumber"].get<int>(), sequence++);
        if (kind == "testStepEnd") {
            EXPECT_TRUE(kStatus.count(line["testStepArtifact"]["testStepEnd"]["status"]));
        }
        if (kind == "testRunEnd") {
            EXPECT_TRUE(kStatus.count(line["testRunArtifact"]["testRunEnd"]["status"]));
            EXPECT_TRUE(kResult.count(line["testRunArtifact"]["testRunEnd"]["result"]));
        }
        if (kind == "measurement") {
            // The schema admits no other fields in a measurement or its subcomponent.
            static const std::set<std::string> kMeasurementFields = {
                "name", "value", "unit", "validators", "hardwareInfoId", "subcomponent", "metadata"};
            static const std::set<std::string> kSubcomponentFields = {"type", "name", "location", "version",
                                                                      "revision"};
            const json& m = line["testStepArtifact"]["measurement"];
            for (const auto& [key, value] : m.items()) {
                EXPECT_TRUE(kMeasurementFields.count(key)) << key;
            }
            if (m.contains("subcomponent")) {
                for (const auto& [key, value] : m["subcomponent"].items()) {
                    EXPECT_TRUE(kSubcomponentFields.count(key)) << key;
                }
            }
            EXPECT_TRUE(m["value"].is_number() || m["value"].is_string() || m["value"].is_boolean());
        }
        if (kind == "measurement" && line["testStepArtifact"]["measurement"].contains("validators"))
            for (const json& v : line["testStepArtifact"]["measurement"]["validators"]) {
                EXPECT_TRUE(v.contains("type") && v.contains("value"));
                EXPECT_TRUE(kValidatorTypes.count(v["type"]));
            }
    }
    return kinds;
}

CalibrationRecord Point(const std::string& run, const std::string& step, int point, const char* verdict,
                        std::optional<double> reading) {
    CalibrationRecord r;
    r.session = "s-" + run;
    r.runId = run;
    r.recordedAt = "2026-12-09T10:00:0" + std::to_string(point) + ".000Z";
    r.event = record_event::kAlign;
    r.serial = "SN-1";
    r.modelName = "VR-7200";
    r.item = 19;
    r.band = 0;
    r.point = point;
    r.step = step;
    r.unit = "dBm";
    r.limitLow = 36.8;
    r.limitHigh = 37.2;
    r.reading = reading;
    r.verdict = verdict;
    r.detail = std::string(verdict) + ": ...";
    return r;
}

struct RunCase {
    const char* name;
    std::vector<const char*> verdicts;  // one per point; the first two points are one step, the rest another
    const char* status;
    const char* result;
};

}  // namespace

TEST(OcpOutput, RunsHaveTheRequiredFieldsOfTheSchema) {
    const RunCase cases[] = {
        {"all pass", {"pass", "marginal", "pass"}, "COMPLETE", "PASS"},
        {"a point failed", {"pass", "fail", "pass"}, "COMPLETE", "FAIL"},
        {"stopped", {"pass", "pass", "stopped"}, "SKIPPED", "NOT_APPLICABLE"},
        {"instrument failed", {"pass", "error"}, "ERROR", "NOT_APPLICABLE"},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines;
        OcpExporter ocp([&](const std::string& line) { lines.push_back(line); });
        CalibrationRecord enter;
        enter.session = "s-run";
        enter.event = record_event::kEnter;
        ocp.add(enter);
        for (std::size_t i = 0; i < c.verdicts.size(); ++i) {
            const bool read = std::string(c.verdicts[i]) != "stopped" && std::string(c.verdicts[i]) != "error";
            ocp.add(Point("run", i < 2 ? "TX power" : "RX squelch", static_cast<int>(i + 1), c.verdicts[i],
                          read ? std::optional<double>(37.0) : std::nullopt));
        }
        ocp.finish();
        ASSERT_EQ(ocp.runs(), 1);
        const std::vector<std::string> kinds = CheckRun(lines);
        ASSERT_GE(kinds.size(), 4u);
        EXPECT_EQ(kinds[0], "schemaVersion");
        EXPECT_EQ(kinds[1], "testRunStart");
        EXPECT_EQ(kinds.back(), "testRunEnd");
        const json end = json::parse(lines.back())["testRunArtifact"]["testRunEnd"];
        EXPECT_EQ(end["status"], c.status);
        EXPECT_EQ(end["result"], c.result);
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "testStepStart"), c.verdicts.size() > 2 ? 2 : 1);
        EXPECT_EQ(json::parse(lines[1])["testRunArtifact"]["testRunStart"]["dutInfo"]["dutInfoId"], "SN-1");
    }
}

// A point's measurements are named by its item and band as the records
// window names them, the subcomponent's location is the band, and the
// value set in the radio and the one before are measurements of their own.
TEST(OcpOutput, MeasurementsNameTheItemTheBandAndTheValues) {
    const std::filesystem::path language = languageFile;
    languageFile = std::filesystem::path(VARNEL_LANG_DIR) / "english.lang";
    std::vector<std::string> lines;
    OcpExporter ocp([&](const std::string& line) { lines.push_back(line); });
    CalibrationRecord p = Point("run", "High power 136-174 MHz", 2, "pass", 37.01);
    p.item = 79;  // the band 1 code of item 19: "Digital TX Power (High)"
    p.band = 1;
    p.oldValue = 100;
    p.newValue = 142;
    ocp.add(p);
    ocp.finish();
    languageFile = language;
    CheckRun(lines);
    std::map<std::string, json> measurements;
    for (const std::string& text : lines) {
        const json line = json::parse(text);
        if (KindOf(line) != "measurement") continue;
        const json& m = line["testStepArtifact"]["measurement"];
        measurements[m["name"].get<std::string>()] = m;
    }
    const std::string name = "Digital TX Power (High), 136-174 MHz, point 2";
    ASSERT_EQ(measurements.count(name), 1u) << lines.size();
    EXPECT_DOUBLE_EQ(measurements[name]["value"].get<double>(), 37.01);
    EXPECT_EQ(measurements[name]["unit"], "dBm");
    EXPECT_EQ(measurements[name]["subcomponent"]["location"], "136-174 MHz");
    ASSERT_EQ(measurements.count(name + ", final value"), 1u);
    EXPECT_EQ(measurements[name + ", final value"]["value"], 142);
    EXPECT_EQ(measurements[name + ", final value"]["subcomponent"]["location"], "136-174 MHz");
    ASSERT_EQ(measurements.count(name + ", value before"), 1u);
    EXPECT_EQ(measurements[name + ", value before"]["value"], 100);
    EXPECT_EQ(measurements.size(), 3u);
}

TEST(OcpOutput, InterleavedRunsOfTwoStationsComeOutWhole) {
    std::vector<std::string> lines;
    OcpExporter ocp([&](const std::string& line) { lines.push_back(line); });
    for (int i = 1; i <= 3; ++i) {
        ocp.add(Point("a", "TX power", i, "pass", 37.0));
        ocp.add(Point("b", "TX power", i, "pass", 37.0));
    }
    CalibrationRecord leave;
    leave.session = "s-a";
    leave.event = record_event::kLeave;
    ocp.add(leave);
    ocp.finish();
    ASSERT_EQ(ocp.runs(), 2);
    // Each run from its schemaVersion to its testRunEnd, numbered from 0.
    ASSERT_EQ(lines.size() % 2, 0u);
    const std::vector<std::string> first(lines.begin(), lines.begin() + static_cast<long>(lines.size() / 2));
    const std::vector<std::string> second(lines.begin() + static_cast<long>(lines.size() / 2), lines.end());
    EXPECT_EQ(CheckRun(first).back(), "testRunEnd");
    EXPECT_EQ(CheckRun(second).back(), "testRunEnd");
}

TEST(AlignVerdict, NamesEveryOutcome) {
    struct Case {
        bool pass, stopped, endedRun;
        std::optional<double> reading;
        const char* verdict;
    };
    // Target 37 +/- 0.2: the outer fifth of the tolerance starts 0.16 away.
    const Case cases[] = {
        {true, false, false, 37.05, "pass"},  {true, false, false, 36.83, "marginal"},
        {true, false, false, 37.19, "marginal"}, {false, false, false, 37.5, "fail"},
        {false, true, true, std::nullopt, "stopped"}, {false, false, true, std::nullopt, "error"},
    };
    for (const Case& c : cases) {
        PointResult p;
        p.target = 37;
        p.tolerance = 0.2;
        p.pass = c.pass;
        p.stopped = c.stopped;
        p.endedRun = c.endedRun;
        p.reading = c.reading;
        EXPECT_STREQ(AlignVerdict(p), c.verdict) << c.verdict;
    }
}

TEST(Sha256, MatchesThePublishedTestVectors) {
    // FIPS 180-4 examples and the NIST vector of a million 'a'.
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : cases) EXPECT_EQ(Sha256Hex(text), digest) << text.size() << " bytes";
}
