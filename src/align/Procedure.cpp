#include "align/Procedure.h"

#include <cmath>
#include <set>

#include "data/ItemTable.h"

namespace varnel {

namespace {

using nlohmann::json;

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

Error parseStep(const JsonDocument& doc, const json& v, const std::string& p, int index, ProcedureStep* step) {
    const std::string which = "step " + std::to_string(index + 1);
    step->line = doc.LineOf(p);
    if (!v.is_object()) return doc.Fail(p, which + ": a step must be a JSON object");
    static const std::set<std::string> kKnown = {
        "name", "item", "points", "keying", "setup", "level_dbm", "measure", "target", "tolerance", "unit",
        "range", "direction", "settle_ms", "first_step", "max_tries", "save", "comment"};
    for (auto it = v.begin(); it != v.end(); ++it)
        if (!kKnown.count(it.key())) return doc.Fail(p + "/" + it.key(), which + ": unknown field " + quoted(it.key()));
    for (const char* required : {"item", "points", "keying", "measure", "target", "tolerance"})
        if (!v.contains(required)) return doc.Fail(p, which + ": the field " + quoted(required) + " is missing");

    if (v.contains("name")) {
        if (!v["name"].is_string()) return doc.Fail(p + "/name", which + ": \"name\" must be a string");
        step->name = v["name"].get<std::string>();
    }
    // Item.
    const json& item = v["item"];
    if (!item.is_number_integer()) return doc.Fail(p + "/item", which + ": \"item\" must be an item code");
    step->item = item.get<int>();
    const TuningItem* entry = FindItem(step->item);
    const std::optional<ItemBytesInfo> bytes = ItemBytes(step->item);
    if (entry == nullptr || !bytes)
        return doc.Fail(p + "/item", which + ": item " + std::to_string(step->item) + " is not a tuning item with a value");
    if (bytes->layout == ItemLayout::FskBlock || bytes->layout == ItemLayout::DisplayOnly)
        return doc.Fail(p + "/item", which + ": item " + std::to_string(step->item) +
                                         " has no single value per point to align");
    step->band = BandOfCode(step->item);
    if (step->name.empty()) step->name = "item " + std::to_string(step->item);
    // Points.
    const json& points = v["points"];
    if (!points.is_array() || points.empty())
        return doc.Fail(p + "/points", which + ": \"points\" must be a list of calibration points");
    const int last = (step->band == 1 && entry->eightPointsWithNewFirmware) ? 8 : std::max(entry->lastPoint, 1);
    const int first = std::max(entry->firstPoint, 1);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::string pp = p + "/points/" + std::to_string(i);
        if (!points[i].is_number_integer())
            return doc.Fail(pp, which + ": a point must be a whole number");
        const int point = points[i].get<int>();
        if (point < first || point > last)
            return doc.Fail(pp, which + ": point " + std::to_string(point) + " is not a point of item " +
                                    std::to_string(step->item) + " (" + std::to_string(first) + " to " +
                                    std::to_string(last) + ")");
        step->points.push_back(point);
    }
    // Keying.
    const json& keying = v["keying"];
    if (keying == "transmit") step->keying = Keying::Transmit;
    else if (keying == "receive") step->keying = Keying::Receive;
    else return doc.Fail(p + "/keying", which + ": \"keying\" must be \"transmit\" or \"receive\"");
    // Instrument.
    if (v.contains("setup")) {
        if (!v["setup"].is_string()) return doc.Fail(p + "/setup", which + ": \"setup\" must name a set-up");
        step->setup = v["setup"].get<std::string>();
    }
    if (v.contains("level_dbm")) {
        if (!v["level_dbm"].is_number()) return doc.Fail(p + "/level_dbm", which + ": \"level_dbm\" must be a number");
        step->levelDbm = v["level_dbm"].get<double>();
    }
    if (!v["measure"].is_string() || v["measure"].get<std::string>().empty())
        return doc.Fail(p + "/measure", which + ": \"measure\" must name a measurement or be \"radio\"");
    step->measure = v["measure"].get<std::string>();
    // Target.
    if (!v["target"].is_number()) return doc.Fail(p + "/target", which + ": \"target\" must be a number");
    step->target = v["target"].get<double>();
    if (!v["tolerance"].is_number() || !(v["tolerance"].get<double>() > 0))
        return doc.Fail(p + "/tolerance", which + ": \"tolerance\" must be a number above 0");
    step->tolerance = v["tolerance"].get<double>();
    if (v.contains("unit")) {
        if (!v["unit"].is_string()) return doc.Fail(p + "/unit", which + ": \"unit\" must be a string");
        step->unit = v["unit"].get<std::string>();
    }
    // Value range and direction.
    if (v.contains("range")) {
        const json& r = v["range"];
        if (!r.is_array() || r.size() != 2 || !r[0].is_number_integer() || !r[1].is_number_integer())
            return doc.Fail(p + "/range", which + ": \"range\" must be [lowest, highest]");
        step->minValue = r[0].get<int>();
        step->maxValue = r[1].get<int>();
        if (step->minValue < 0 || step->maxValue > 255 || step->minValue >= step->maxValue)
            return doc.Fail(p + "/range", which + ": \"range\" must lie within 0 to 255, lowest first");
    }
    if (v.contains("direction")) {
        if (v["direction"] == "raises") step->raises = true;
        else if (v["direction"] == "lowers") step->raises = false;
        else return doc.Fail(p + "/direction", which + ": \"direction\" must be \"raises\" or \"lowers\"");
    }
    auto wholeNumber = [&](const char* key, int lo, int hi, int* out) -> Error {
        if (!v.contains(key)) return {};
        const json& n = v[key];
        if (!n.is_number_integer() || n.get<long long>() < lo || n.get<long long>() > hi)
            return doc.Fail(p + "/" + key, which + ": " + quoted(key) + " must be a whole number from " +
                                               std::to_string(lo) + " to " + std::to_string(hi));
        *out = n.get<int>();
        return {};
    };
    if (Error e = wholeNumber("settle_ms", 0, 60000, &step->settleMs); !e.ok()) return e;
    if (Error e = wholeNumber("first_step", 1, 128, &step->firstStep); !e.ok()) return e;
    if (Error e = wholeNumber("max_tries", 2, 64, &step->maxTries); !e.ok()) return e;
    if (v.contains("save")) {
        if (v["save"] == "step") step->save = SaveWhen::Step;
        else if (v["save"] == "point") step->save = SaveWhen::Point;
        else if (v["save"] == "none") step->save = SaveWhen::Never;
        else return doc.Fail(p + "/save", which + ": \"save\" must be \"step\", \"point\" or \"none\"");
    }
    return {};
}

}  // namespace

Result<Procedure> ParseProcedure(const JsonDocument& doc) {
    const json& r = doc.root;
    if (!r.is_object()) return doc.Fail("", "a procedure must be a JSON object");
    Procedure proc;
    proc.file = doc.name;
    static const std::set<std::string> kKnown = {"name", "model", "large_model", "steps", "comment"};
    for (auto it = r.begin(); it != r.end(); ++it)
        if (!kKnown.count(it.key())) return doc.Fail("/" + it.key(), "unknown field " + quoted(it.key()));
    if (r.contains("name")) {
        if (!r["name"].is_string()) return doc.Fail("/name", "\"name\" must be a string");
        proc.name = r["name"].get<std::string>();
    }
    if (r.contains("model")) {
        if (!r["model"].is_string()) return doc.Fail("/model", "\"model\" must be a string");
        proc.model = r["model"].get<std::string>();
    }
    if (r.contains("large_model")) {
        if (!r["large_model"].is_boolean()) return doc.Fail("/large_model", "\"large_model\" must be true or false");
        proc.largeModel = r["large_model"].get<bool>();
    }
    if (!r.contains("steps") || !r["steps"].is_array() || r["steps"].empty())
        return doc.Fail(r.contains("steps") ? "/steps" : "", "a procedure needs a non-empty list \"steps\"");
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
    if (!doc) return doc.error().Wrapped("the procedure is refused");
    auto proc = ParseProcedure(doc.value());
    if (!proc) return proc.error().Wrapped("the procedure is refused");
    return proc;
}

Result<Procedure> LoadProcedure(const std::string& path) {
    auto doc = LoadJsonDocument(path);
    if (!doc) return doc.error().Wrapped("the procedure is refused");
    auto proc = ParseProcedure(doc.value());
    if (!proc) return proc.error().Wrapped("the procedure is refused");
    return proc;
}

}  // namespace varnel
