// An alignment procedure: the steps that align one radio model, kept as a
// JSON file so that a line can change targets and tolerances without a new
// program. The format is described in docs/auto-align.md.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "util/Error.h"
#include "util/JsonLines.h"

namespace varnel {

enum class Keying { Transmit, Receive };
enum class SaveWhen { Step, Point, Never };

struct ProcedureStep {
    std::string name;
    int item = 0;               // item code on the wire (it names the band)
    int band = 0;               // 0 "400-470 MHz", 1 "136-174 MHz"
    std::vector<int> points;    // 1-based
    Keying keying = Keying::Transmit;
    std::string setup;          // set-up of the instrument model ("" none)
    double levelDbm = -120;     // generator level for receive set-ups
    std::string measure;        // measurement of the instrument model, or "radio"
    double target = 0;
    double tolerance = 0;
    std::string unit;
    int minValue = 0;
    int maxValue = 255;
    bool raises = true;         // a larger value gives a larger reading
    int settleMs = -1;          // -1: the instrument model's
    int firstStep = 8;          // first move when no slope is known yet
    int maxTries = 12;
    SaveWhen save = SaveWhen::Step;
    int line = 0;               // where the step starts in the file

    bool radioMeasures() const { return measure == "radio"; }
};

struct Procedure {
    std::string name;
    std::string model;          // the radio model it is written for (free text)
    std::optional<bool> largeModel;  // when given, the radio must match
    std::vector<ProcedureStep> steps;
    std::string file;

    int pointCount() const {
        int n = 0;
        for (const ProcedureStep& s : steps) n += static_cast<int>(s.points.size());
        return n;
    }
};

Result<Procedure> ParseProcedure(const JsonDocument& doc);
Result<Procedure> ParseProcedureText(const std::string& text, const std::string& name);
Result<Procedure> LoadProcedure(const std::string& path);

struct InstrumentModel;

// Every step the instrument measures names a measurement (and a set-up, when
// it has one) of `model`: else BadData "FILE:LINE: step N (\"name\"): the
// instrument model \"X\" has no measurement \"Y\" (it has ...)". Checked when
// both are loaded, before the instrument or the radio is touched.
Error CheckProcedureAgainstModel(const Procedure& procedure, const InstrumentModel& model);

}  // namespace varnel
