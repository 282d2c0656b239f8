#include "instrument/InstrumentModel.h"

#include <cmath>
#include <cstdio>

#include "instrument/Instrument.h"

namespace varnel {

namespace {

void replaceAll(std::string& s, const std::string& what, const std::string& with) {
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
        s.replace(at, what.size(), with);
}

// A command goes to the instrument as one line: a line end in it would make
// two commands of it (an embedded "*RST" resets the instrument mid-run), and
// other control characters have no place in SCPI either.
Error checkCommand(const JsonDocument& doc, const std::string& pointer, const std::string& command) {
    for (std::size_t i = 0; i < command.size(); ++i) {
        const auto c = static_cast<unsigned char>(command[i]);
        if (c < 0x20 || c == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", c);
            return doc.fail(pointer, std::string("a command must be one line without control characters; this one has ") +
                                         (c == '\n' || c == '\r' ? "a line end" : "the control character") + " " + code +
                                         " at character " + std::to_string(i + 1));
        }
    }
    return {};
}

Result<std::vector<std::string>> stringList(const JsonDocument& doc, const nlohmann::json& v,
                                            const std::string& pointer) {
    std::vector<std::string> out;
    if (v.is_string()) {
        if (Error e = checkCommand(doc, pointer, v.get<std::string>()); !e.ok()) return e;
        out.push_back(v.get<std::string>());
        return out;
    }
    if (!v.is_array()) return doc.fail(pointer, "expected a command or a list of commands");
    for (std::size_t i = 0; i < v.size(); ++i) {
        const std::string at = pointer + "/" + std::to_string(i);
        if (!v[i].is_string()) return doc.fail(at, "a command must be a string");
        if (Error e = checkCommand(doc, at, v[i].get<std::string>()); !e.ok()) return e;
        out.push_back(v[i].get<std::string>());
    }
    return out;
}

// Readings a radio can give, per kind of measurement in its usual unit: a
// hand-held or mobile transmitter from its lowest setting to 100 W, a carrier
// within about 20 ppm at 470 MHz, sub-audio to wide-band deviation, a supply
// voltage.
struct KindRange {
    const char* name;
    const char* unit;
    InstrumentModel::Range range;
};
constexpr KindRange kKindRanges[] = {
    {"power", "dBm", {-20, 50}},
    {"frequency_error", "Hz", {-10000, 10000}},
    {"deviation", "Hz", {0, 10000}},
    {"voltage", "V", {0, 30}},
};

std::string numberText(double v) {
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", v);
    std::string s = text;
    // "37.000" as "37", "-0.500" as "-0.5"
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s == "-0" ? std::string("0") : s;
}

}  // namespace

std::optional<InstrumentModel::Range> InstrumentModel::plausibleRange(const std::string& name) const {
    const auto it = measurements.find(name);
    if (it == measurements.end()) return std::nullopt;
    if (it->second.range) return it->second.range;
    for (const KindRange& kind : kKindRanges)
        if (name == kind.name && it->second.unit == kind.unit) return kind.range;
    return std::nullopt;
}

Error InstrumentModel::checkReading(const std::string& name, double reading, const std::string& instrument) const {
    const std::optional<Range> range = plausibleRange(name);
    if (!range || (reading >= range->lowest && reading <= range->highest)) return {};
    const auto it = measurements.find(name);
    const std::string unit = it != measurements.end() && !it->second.unit.empty() ? " " + it->second.unit : "";
    const std::string what = numberText(reading) + unit + " (" + name + ", plausible from " +
                             numberText(range->lowest) + " to " + numberText(range->highest) + unit + ")";
    return Error::make(ErrorCode::Instrument, "the reading %1 is not one a radio can give", what, "Align:A0050")
        .wrap("the instrument %1 is the likely fault: check it and its connection to the radio", instrument,
              "Align:A0051");
}

std::vector<std::string> InstrumentModel::setupCommands(const std::string& setup, std::uint32_t frequencyHz,
                                                        double levelDbm) const {
    std::vector<std::string> out;
    const auto it = setups.find(setup);
    if (it == setups.end()) return out;
    char mhz[32];
    std::snprintf(mhz, sizeof mhz, "%.6f", frequencyHz / 1e6);
    char level[32];
    std::snprintf(level, sizeof level, "%.2f", levelDbm);
    for (std::string command : it->second) {
        replaceAll(command, "{freq_hz}", std::to_string(frequencyHz));
        replaceAll(command, "{freq_mhz}", mhz);
        replaceAll(command, "{level_dbm}", level);
        out.push_back(std::move(command));
    }
    return out;
}

InstrumentModel VirtualTestSetModel() {
    InstrumentModel m;
    m.name = "Virtual test set";
    m.identify = "*IDN?";
    m.identity = "VARNEL,VIRTUAL TEST SET";
    m.errorQuery = "SYST:ERR?";
    m.confirm = "*OPC?";
    m.reset = {"*RST", "*CLS"};
    m.setups["transmit"] = {"RF:FREQ {freq_hz}"};
    m.setups["receive"] = {"RF:FREQ {freq_hz}", "GEN:LEV {level_dbm}", "GEN:STAT ON"};
    m.finish = {"GEN:STAT OFF"};
    m.measurements["power"] = {"MEAS:POW?", "dBm", std::nullopt};
    m.measurements["frequency_error"] = {"MEAS:FERR?", "Hz", std::nullopt};
    m.measurements["deviation"] = {"MEAS:DEV?", "Hz", std::nullopt};
    m.measurements["voltage"] = {"MEAS:VOLT?", "V", std::nullopt};
    m.settleMs = 20;
    return m;
}

Result<InstrumentModel> ParseInstrumentModel(const JsonDocument& doc) {
    const nlohmann::json& r = doc.root;
    if (!r.is_object()) return doc.fail("", "an instrument model must be a JSON object");
    InstrumentModel m;
    for (auto it = r.begin(); it != r.end(); ++it) {
        const std::string key = it.key();
        const std::string p = "/" + key;
        const nlohmann::json& v = it.value();
        if (key == "name" || key == "identify" || key == "identity" || key == "error_query" || key == "confirm") {
            if (!v.is_string()) return doc.fail(p, "\"" + key + "\" must be a string");
            std::string& field = key == "name"       ? m.name
                                 : key == "identify" ? m.identify
                                 : key == "identity" ? m.identity
                                 : key == "confirm"  ? m.confirm
                                                     : m.errorQuery;
            field = v.get<std::string>();
            if (key == "identify" || key == "error_query" || key == "confirm") {
                if (Error e = checkCommand(doc, p, field); !e.ok()) return e;
            }
        } else if (key == "reset" || key == "finish") {
            auto list = stringList(doc, v, p);
            if (!list) return list.error();
            (key == "reset" ? m.reset : m.finish) = list.value();
        } else if (key == "setups") {
            if (!v.is_object()) return doc.fail(p, "\"setups\" must map set-up names to commands");
            for (auto s = v.begin(); s != v.end(); ++s) {
                auto list = stringList(doc, s.value(), p + "/" + s.key());
                if (!list) return list.error();
                m.setups[s.key()] = list.value();
            }
        } else if (key == "measurements") {
            if (!v.is_object()) return doc.fail(p, "\"measurements\" must map names to queries");
            for (auto s = v.begin(); s != v.end(); ++s) {
                const std::string mp = p + "/" + s.key();
                const nlohmann::json& q = s.value();
                if (!q.is_object() || !q.contains("query") || !q["query"].is_string())
                    return doc.fail(mp, "a measurement needs {\"query\": \"...\", \"unit\": \"...\"}");
                InstrumentModel::Measurement meas;
                meas.query = q["query"].get<std::string>();
                if (Error e = checkCommand(doc, mp + "/query", meas.query); !e.ok()) return e;
                if (q.contains("unit")) {
                    if (!q["unit"].is_string()) return doc.fail(mp + "/unit", "\"unit\" must be a string");
                    meas.unit = q["unit"].get<std::string>();
                }
                if (q.contains("range")) {
                    const nlohmann::json& r = q["range"];
                    const auto finite = [](const nlohmann::json& v) {
                        return v.is_number() && std::isfinite(v.get<double>());
                    };
                    if (!r.is_array() || r.size() != 2 || !finite(r[0]) || !finite(r[1]) ||
                        !(r[0].get<double>() < r[1].get<double>()))
                        return doc.fail(mp + "/range",
                                        "\"range\" must be [lowest, highest]: two numbers, the lowest first");
                    meas.range = InstrumentModel::Range{r[0].get<double>(), r[1].get<double>()};
                }
                m.measurements[s.key()] = meas;
            }
        } else if (key == "settle_ms") {
            if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > 60000)
                return doc.fail(p, "\"settle_ms\" must be a whole number of milliseconds from 0 to 60000");
            m.settleMs = v.get<int>();
        } else {
            return doc.fail(p, "unknown field \"" + key + "\"");
        }
    }
    if (m.name.empty()) return doc.fail("", "the instrument model has no \"name\"");
    return m;
}

Result<InstrumentModel> ParseInstrumentModelText(const std::string& text, const std::string& name) {
    auto doc = ParseJsonDocument(text, name);
    if (!doc) return doc.error().wrapped("the instrument model is refused");
    return ParseInstrumentModel(doc.value());
}

Result<InstrumentModel> LoadInstrumentModel(const std::string& path) {
    auto doc = LoadJsonDocument(path);
    if (!doc) return doc.error().wrapped("cannot read the instrument model");
    return ParseInstrumentModel(doc.value());
}

bool IdentityMatches(const InstrumentModel& model, const std::string& answer) {
    if (model.identity.empty()) return true;
    const auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    return lower(answer).find(lower(model.identity)) != std::string::npos;
}

Result<std::string> IdentifyInstrument(Instrument& instrument, const InstrumentModel& model) {
    if (model.identify.empty()) return std::string();
    Result<std::string> answer = instrument.query(model.identify);
    if (!answer) return answer.error().wrapped("cannot identify the instrument");
    if (!IdentityMatches(model, answer.value()))
        return Error::make(ErrorCode::Instrument,
                           "the instrument answers \"" + answer.value() + "\" to \"" + model.identify +
                               "\"; the instrument model \"" + model.name + "\" expects \"" + model.identity +
                               "\": another instrument is connected, or the wrong model file is chosen",
                           instrument.describe());
    return answer;
}

}  // namespace varnel
