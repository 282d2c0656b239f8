// The procedure and instrument-model loaders over any file contents: never
// an exception or a crash, every refusal a "FILE:LINE: ..." with a line of
// the file, and what is taken is sound (steps on lines of the file, points
// of their item, commands without control characters).
#include <algorithm>
#include <string>

#include "FuzzSupport.h"
#include "align/Procedure.h"
#include "instrument/InstrumentModel.h"
#include "util/JsonLines.h"

using namespace varnel;

namespace {

// The "NAME:LINE:" of a refusal names a line the text has.
bool NamesALine(const std::string& message, const std::string& name, int lines) {
    const auto at = message.find(name + ":");
    if (at == std::string::npos) return false;
    std::size_t k = at + name.size() + 1;
    int line = 0;
    bool digits = false;
    while (k < message.size() && message[k] >= '0' && message[k] <= '9') {
        line = std::min(line * 10 + (message[k] - '0'), 1 << 28);
        digits = true;
        ++k;
    }
    return digits && k < message.size() && message[k] == ':' && line >= 1 && line <= lines;
}

bool OneLine(const std::string& command) {
    return std::none_of(command.begin(), command.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));

    Result<Procedure> procedure = ParseProcedureText(text, "fuzz.json");
    if (!procedure) {
        FUZZ_CHECK(procedure.error().code() == ErrorCode::BadData);
        FUZZ_CHECK(NamesALine(procedure.error().text(), "fuzz.json", lines));
    } else {
        FUZZ_CHECK(!procedure->steps.empty());
        for (const ProcedureStep& s : procedure->steps) {
            FUZZ_CHECK(s.line >= 1 && s.line <= lines);
            FUZZ_CHECK(!s.points.empty());
            for (int p : s.points) FUZZ_CHECK(p >= 1 && p <= 8);
            FUZZ_CHECK(s.minValue >= 0 && s.maxValue <= 255 && s.minValue < s.maxValue);
            FUZZ_CHECK(s.tolerance > 0);
        }
        Error fit = CheckProcedureAgainstModel(*procedure, VirtualTestSetModel());
        if (!fit.ok()) FUZZ_CHECK(NamesALine(fit.text(), "fuzz.json", lines));
    }

    Result<InstrumentModel> model = ParseInstrumentModelText(text, "model.json");
    if (!model) {
        FUZZ_CHECK(model.error().code() == ErrorCode::BadData);
        FUZZ_CHECK(NamesALine(model.error().text(), "model.json", lines));
    } else {
        FUZZ_CHECK(!model->name.empty());
        FUZZ_CHECK(OneLine(model->identify) && OneLine(model->errorQuery) && OneLine(model->confirm));
        for (const std::string& c : model->reset) FUZZ_CHECK(OneLine(c));
        for (const std::string& c : model->finish) FUZZ_CHECK(OneLine(c));
        for (const auto& [name, commands] : model->setups)
            for (const std::string& c : commands) FUZZ_CHECK(OneLine(c));
        for (const auto& [name, m] : model->measurements) FUZZ_CHECK(OneLine(m.query));
        if (procedure) (void)CheckProcedureAgainstModel(*procedure, *model);
    }

    // Every pointer a refusal may name resolves to a line of the text.
    Result<JsonDocument> doc = ParseJsonDocument(text, "doc.json");
    if (doc) {
        for (const char* pointer : {"", "/steps", "/steps/0", "/steps/0/points/1", "/setups/transmit/0", "/x/y/z"})
            FUZZ_CHECK(doc->lineOf(pointer) >= 1 && doc->lineOf(pointer) <= lines);
    }
    return 0;
}
