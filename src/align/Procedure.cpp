#include "align/Procedure.h"

#include <cmath>
#include <cstdlib>
#include <set>

#include "data/ItemTable.h"
#include "instrument/InstrumentModel.h"

namespace varnel {

namespace {

using nlohmann::json;

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

// The step being read: its JSON, its place in the file and its name in the
// messages ("step 3").
struct StepSource {
    const JsonDocument& doc;
    const json& v;
    const std::string& p;
    const std::string which;

    // Refuses the step as a whole.
    Error refuse(const std::string& text) const { return doc.fail(p, which + ": " + text); }
    // Refuses one field of the step (or a place below it).
    Error refuseField(const std::string& field, const std::string& text) const {
        return doc.fail(p + "/" + field, which + ": " + text);
    }
};

// No unknown field, and every field a step needs.
Error checkFields(const StepSource& s) {
    static const std::set<std::string> kKnown = {
        "name", "item", "points", "keying", "setup", "level_dbm", "measure", "target", "tolerance", "unit",
        "range", "direction", "settle_ms", "first_step", "max_tries", "save", "comment"};
    for (auto it = s.v.begin(); it != s.v.end(); ++it)
        if (!kKnown.count(it.key())) return s.refuseField(it.key(), "unknown field " + quoted(it.key()));
    for (const char* required : {"item", "points", "keying", "measure", "target", "tolerance"})
        if (!s.v.contains(required)) return s.refuse("the field " + quoted(required) + " is missing");
    return {};
}

// "name" and "item": a tuning item with a single value per point; the name
// defaults to the item's code.
Error parseItem(const StepSource& s, ProcedureStep* step) {
    const json& v = s.v;
    if (v.contains("name")) {
        if (!v["name"].is_string()) return s.refuseField("name", "\"name\" must be a string");
        step->name = v["name"].get<std::string>();
    }
    const json& item = v["item"];
    if (!item.is_number_integer()) return s.refuseField("item", "\"item\" must be an item code");
    step->item = item.get<int>();
    const TuningItem* entry = FindItem(step->item);
    const std::optional<ItemBytesInfo> bytes = ItemBytes(step->item);
    if (entry == nullptr || !bytes)
        return s.refuseField("item", "item " + std::to_string(step->item) + " is not a tuning item with a value");
    if (bytes->layout == ItemLayout::FskBlock || bytes->layout == ItemLayout::DisplayOnly)
        return s.refuseField("item", "item " + std::to_string(step->item) + " has no single value per point to align");
    step->band = BandOfCode(step->item);
    if (step->name.empty()) step->name = "item " + std::to_string(step->item);
    return {};
}

// "points": calibration points of the step's item.
Error parsePoints(const StepSource& s, ProcedureStep* step) {
    const TuningItem* entry = FindItem(step->item);
    const json& points = s.v["points"];
    if (!points.is_array() || points.empty())
        return s.refuseField("points", "\"points\" must be a list of calibration points");
    const int last = (step->band == 1 && entry->eightPointsWithNewFirmware) ? 8 : std::max(entry->lastPoint, 1);
    const int first = std::max(entry->firstPoint, 1);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::string at = "points/" + std::to_string(i);
        if (!points[i].is_number_integer()) return s.refuseField(at, "a point must be a whole number");
        // Compared as it is written: a huge number must not wrap onto a point.
        const bool small = points[i].is_number_unsigned() ? points[i].get<unsigned long long>() <= 1000
                                                          : std::llabs(points[i].get<long long>()) <= 1000;
        const int point = small ? points[i].get<int>() : -1;
        if (point < first || point > last)
            return s.refuseField(at, "point " + std::to_string(point) + " is not a point of item " +
                                         std::to_string(step->item) + " (" + std::to_string(first) + " to " +
                                         std::to_string(last) + ")");
        step->points.push_back(point);
    }
    return {};
}

// "keying", and what the instrument measures: "setup", "level_dbm", "measure".
Error parseMeasurement(const StepSource& s, ProcedureStep* step) {
    const json& v = s.v;
    const json& keying = v["keying"];
    if (keying == "transmit") step->keying = Keying::Transmit;
    else if (keying == "receive") step->keying = Keying::Receive;
    else return s.refuseField("keying", "\"keying\" must be \"transmit\" or \"receive\"");
    if (v.contains("setup")) {
        if (!v["setup"].is_string()) return s.refuseField("setup", "\"setup\" must name a set-up");
        step->setup = v["setup"].get<std::string>();
    }
    if (v.contains("level_dbm")) {
        if (!v["level_dbm"].is_number()) return s.refuseField("level_dbm", "\"level_dbm\" must be a number");
        step->levelDbm = v["level_dbm"].get<double>();
    }
    if (!v["measure"].is_string() || v["measure"].get<std::string>().empty())
        return s.refuseField("measure", "\"measure\" must name a measurement or be \"radio\"");
    step->measure = v["measure"].get<std::string>();
    return {};
}

// The measurements a step can name whose meaning the program knows, and
// what each one measures. A measurement of another name is the instrument
// model's own; only the keying is checked for it.
struct KnownMeasure {
    const char* name;
    ItemQuantity quantity;
    const char* what;
};
constexpr KnownMeasure kKnownMeasures[] = {
    {"power", ItemQuantity::Power, "transmit power"},
    {"frequency_error", ItemQuantity::FrequencyError, "the carrier's frequency error"},
    {"deviation", ItemQuantity::SubAudioDeviation, "CTCSS or DCS deviation"},
    {"max_deviation", ItemQuantity::PeakDeviation, "the maximum deviation"},
    {"voltage", ItemQuantity::SupplyVoltage, "the supply voltage"},
    {"radio", ItemQuantity::RadioReading, "a level the radio reads back"},
};

const KnownMeasure* knownMeasure(const std::string& name) {
    for (const KnownMeasure& m : kKnownMeasures)
        if (name == m.name) return &m;
    return nullptr;
}

// The codes of the items a measurement aligns, for the refusal ("13/73, 14/74").
std::string itemsMeasuredBy(ItemQuantity quantity) {
    std::string list;
    for (const TuningItem& item : TuningItems()) {
        if (item.quantity != quantity || item.code[0] == kNoCode) continue;
        if (!list.empty()) list += ", ";
        list += std::to_string(item.code[0]);
        if (item.code[1] != kNoCode) list += "/" + std::to_string(item.code[1]);
    }
    return list.empty() ? std::string("none") : list;
}

// The step's item fits what it measures and how it is keyed: a power step on
// a power item, a CTCSS deviation step on a CTCSS or DCS deviation item (not
// on a maximum deviation), a transmit item keyed to transmit.
Error checkItemFitsMeasure(const StepSource& s, const ProcedureStep& step) {
    const TuningItem* entry = FindItem(step.item);
    if (entry == nullptr) return {};
    const std::string item = "item " + std::to_string(step.item);
    const bool receiveItem =
        entry->keying == ItemKeying::Receive || entry->keying == ItemKeying::ManDownReceive;
    const bool transmitItem = entry->keying == ItemKeying::Transmit;
    if ((step.keying == Keying::Receive && transmitItem) || (step.keying == Keying::Transmit && receiveItem))
        return s.refuseField("keying", item + " is aligned with the radio " +
                                           (transmitItem ? "transmitting" : "receiving") + ", not with \"keying\": \"" +
                                           (step.keying == Keying::Receive ? "receive" : "transmit") + "\"");
    const KnownMeasure* measure = knownMeasure(step.measure);
    if (measure == nullptr || measure->quantity == entry->quantity) return {};
    return s.refuseField("measure", "\"" + step.measure + "\" measures " + measure->what + ", which " + item +
                                        " does not set; \"" + step.measure + "\" aligns the items " +
                                        itemsMeasuredBy(measure->quantity));
}

// "target", "tolerance" and "unit".
Error parseTarget(const StepSource& s, ProcedureStep* step) {
    const json& v = s.v;
    if (!v["target"].is_number()) return s.refuseField("target", "\"target\" must be a number");
    step->target = v["target"].get<double>();
    if (!v["tolerance"].is_number() || !(v["tolerance"].get<double>() > 0))
        return s.refuseField("tolerance", "\"tolerance\" must be a number above 0");
    step->tolerance = v["tolerance"].get<double>();
    if (v.contains("unit")) {
        if (!v["unit"].is_string()) return s.refuseField("unit", "\"unit\" must be a string");
        step->unit = v["unit"].get<std::string>();
    }
    return {};
}

// "range" and "direction" of the value being aligned.
Error parseValueRange(const StepSource& s, ProcedureStep* step) {
    const json& v = s.v;
    if (v.contains("range")) {
        const json& r = v["range"];
        if (!r.is_array() || r.size() != 2 || !r[0].is_number_integer() || !r[1].is_number_integer())
            return s.refuseField("range", "\"range\" must be [lowest, highest]");
        const auto within = [](const json& n) {
            return n.is_number_unsigned() ? n.get<unsigned long long>() <= 255
                                          : n.get<long long>() >= 0 && n.get<long long>() <= 255;
        };
        if (!within(r[0]) || !within(r[1]))
            return s.refuseField("range", "\"range\" must lie within 0 to 255, lowest first");
        step->minValue = r[0].get<int>();
        step->maxValue = r[1].get<int>();
        if (step->minValue < 0 || step->maxValue > 255 || step->minValue >= step->maxValue)
            return s.refuseField("range", "\"range\" must lie within 0 to 255, lowest first");
    }
    if (v.contains("direction")) {
        if (v["direction"] == "raises") step->raises = true;
        else if (v["direction"] == "lowers") step->raises = false;
        else return s.refuseField("direction", "\"direction\" must be \"raises\" or \"lowers\"");
    }
    return {};
}

// An optional whole-number field within lo to hi.
Error parseWholeNumber(const StepSource& s, const char* key, int lo, int hi, int* out) {
    if (!s.v.contains(key)) return {};
    const json& n = s.v[key];
    const bool fits = n.is_number_unsigned() ? n.get<unsigned long long>() <= static_cast<unsigned long long>(hi)
                                             : n.is_number_integer() && n.get<long long>() <= hi;
    if (!n.is_number_integer() || !fits || n.get<long long>() < lo)
        return s.refuseField(key, quoted(key) + " must be a whole number from " + std::to_string(lo) + " to " +
                                      std::to_string(hi));
    *out = n.get<int>();
    return {};
}

// How the search runs: "settle_ms", "first_step", "max_tries", and "save".
Error parseSearch(const StepSource& s, ProcedureStep* step) {
    if (Error e = parseWholeNumber(s, "settle_ms", 0, 60000, &step->settleMs); !e.ok()) return e;
    if (Error e = parseWholeNumber(s, "first_step", 1, 128, &step->firstStep); !e.ok()) return e;
    if (Error e = parseWholeNumber(s, "max_tries", 2, 64, &step->maxTries); !e.ok()) return e;
    const json& v = s.v;
    if (v.contains("save")) {
        if (v["save"] == "step") step->save = SaveWhen::Step;
        else if (v["save"] == "point") step->save = SaveWhen::Point;
        else if (v["save"] == "none") step->save = SaveWhen::Never;
        else return s.refuseField("save", "\"save\" must be \"step\", \"point\" or \"none\"");
    }
    return {};
}

Error parseStep(const JsonDocument& doc, const json& v, const std::string& p, int index, ProcedureStep* step) {
    const StepSource s{doc, v, p, "step " + std::to_string(index + 1)};
    step->line = doc.lineOf(p);
    if (!v.is_object()) return s.refuse("a step must be a JSON object");
    if (Error e = checkFields(s); !e.ok()) return e;
    for (Error (*parse)(const StepSource&, ProcedureStep*) :
         {parseItem, parsePoints, parseMeasurement, parseTarget, parseValueRange, parseSearch}) {
        if (Error e = parse(s, step); !e.ok()) return e;
    }
    return checkItemFitsMeasure(s, *step);
}

}  // namespace

Result<Procedure> ParseProcedure(const JsonDocument& doc) {
    const json& r = doc.root;
    if (!r.is_object()) return doc.fail("", "a procedure must be a JSON object");
    Procedure proc;
    proc.file = doc.name;
    static const std::set<std::string> kKnown = {"name", "model", "large_model", "steps", "comment"};
    for (auto it = r.begin(); it != r.end(); ++it)
        if (!kKnown.count(it.key())) return doc.fail("/" + it.key(), "unknown field " + quoted(it.key()));
    if (r.contains("name")) {
        if (!r["name"].is_string()) return doc.fail("/name", "\"name\" must be a string");
        proc.name = r["name"].get<std::string>();
    }
    if (r.contains("model")) {
        if (!r["model"].is_string()) return doc.fail("/model", "\"model\" must be a string");
        proc.model = r["model"].get<std::string>();
    }
    if (r.contains("large_model")) {
        if (!r["large_model"].is_boolean()) return doc.fail("/large_model", "\"large_model\" must be true or false");
        proc.largeModel = r["large_model"].get<bool>();
    }
    if (!r.contains("steps") || !r["steps"].is_array() || r["steps"].empty())
        return doc.fail(r.contains("steps") ? "/steps" : "", "a procedure needs a non-empty list \"steps\"");
    const json& steps = r["steps"];
    for (std::size_t i = 0; i < steps.size(); ++i) {
        ProcedureStep step;
        if (Error e = parseStep(doc, steps[i], "/steps/" + std::to_string(i), static_cast<int>(i), &step); !e.ok())
            return e;
        proc.steps.push_back(std::move(step));
    }
    if (proc.name.empty()) proc.name = doc.name;
    return proc;
}

Result<Procedure> ParseProcedureText(const std::string& text, const std::string& name) {
    auto doc = ParseJsonDocument(text, name);
    if (!doc) return doc.error().wrapped("the procedure is refused");
    auto proc = ParseProcedure(doc.value());
    if (!proc) return proc.error().wrapped("the procedure is refused");
    return proc;
}

Result<Procedure> LoadProcedure(const std::string& path) {
    auto doc = LoadJsonDocument(path);
    if (!doc) return doc.error().wrapped("the procedure is refused");
    auto proc = ParseProcedure(doc.value());
    if (!proc) return proc.error().wrapped("the procedure is refused");
    return proc;
}

Error CheckProcedureAgainstModel(const Procedure& procedure, const InstrumentModel& model) {
    const auto names = [](const auto& map) {
        std::string text;
        for (const auto& [name, unused] : map) text += (text.empty() ? "" : ", ") + quoted(name);
        return text.empty() ? std::string("none") : text;
    };
    for (std::size_t i = 0; i < procedure.steps.size(); ++i) {
        const ProcedureStep& step = procedure.steps[i];
        if (step.radioMeasures()) continue;
        const std::string where = procedure.file + ":" + std::to_string(step.line) + ": step " + std::to_string(i + 1) +
                                  " (" + quoted(step.name) + "): ";
        if (!model.measurements.count(step.measure))
            return Error::make(ErrorCode::BadData, where + "the instrument model " + quoted(model.name) +
                                                       " has no measurement " + quoted(step.measure) + " (it has " +
                                                       names(model.measurements) + ")")
                .wrap("the procedure does not fit the instrument model");
        if (!step.setup.empty() && !model.setups.count(step.setup))
            return Error::make(ErrorCode::BadData, where + "the instrument model " + quoted(model.name) +
                                                       " has no set-up " + quoted(step.setup) + " (it has " +
                                                       names(model.setups) + ")")
                .wrap("the procedure does not fit the instrument model");
    }
    return {};
}

}  // namespace varnel
