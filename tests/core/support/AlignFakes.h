// Fakes of the radio and the instrument for the alignment tests: a radio
// that records what it is told and an instrument whose reading is a straight
// line of that radio's value.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "align/AlignEngine.h"
#include "instrument/Instrument.h"

namespace varnel::test {

// A radio that records what it is told; its "transmitter" is the keying
// state the live-sets leave.
class FakeRadio : public AlignRadio {
public:
    struct Sent {
        int item, action, point, value;
    };
    Error prepare() override { return {}; }
    bool largeModel() const override { return true; }
    int value(int, int point) const override { return values[point]; }
    std::uint32_t frequency(int, int point, bool receive) const override {
        return (receive ? 400000000u : 410000000u) + static_cast<std::uint32_t>(point) * 1000000u;
    }
    Error setItem(int item, int action, int point, int value, std::uint32_t) override {
        sent.push_back({item, action, point, value});
        if (action == align_action::kValueAdjusted) values[point] = value;
        if (action == align_action::kTransmitOn) keyed = true;
        if (action == align_action::kTransmitOff) keyed = false;
        return {};
    }
    Result<int> readBack(int, int point, int, std::uint32_t) override { return values[point]; }
    Error save(int item) override {
        saves.push_back(item);
        return {};
    }
    std::uint64_t Exchanges() const override { return sent.size() + saves.size(); }

    int values[9] = {0, 100, 100, 100, 100, 100, 100, 100, 100};
    bool keyed = false;
    std::vector<Sent> sent;
    std::vector<int> saves;
};

// An instrument whose reading is a straight line of the fake radio's value
// at the point last adjusted, with a little alternating noise. It answers
// the identification, confirmation and error-queue queries of the virtual
// test set's model; `queries` counts the measurements.
class FakeInstrument : public Instrument {
public:
    explicit FakeInstrument(FakeRadio& radio) : radio_(radio) {}
    Error send(std::string_view command) override {
        commands.emplace_back(command);
        return {};
    }
    Result<std::string> query(std::string_view command) override {
        commands.emplace_back(command);
        if (command == "*IDN?") return std::string("VARNEL,VIRTUAL TEST SET,1,1.0");
        if (command == "*OPC?") return std::string("1");
        if (command == "SYST:ERR?") {
            if (errors.empty()) return std::string("0,\"No error\"");
            std::string entry = errors.front();
            errors.erase(errors.begin());
            return entry;
        }
        if (throwAfter >= 0 && queries >= throwAfter) throw std::runtime_error("instrument driver crashed");
        ++queries;
        int point = 1;
        for (auto it = radio_.sent.rbegin(); it != radio_.sent.rend(); ++it) {
            if (it->action == align_action::kValueAdjusted) {
                point = it->point;
                break;
            }
        }
        const double noise = (queries % 2 == 0 ? 1 : -1) * 0.01;
        return std::to_string(slope * radio_.values[point] + offset + noise);
    }
    std::string describe() const override { return "fake"; }

    double slope = 0.05;
    double offset = 25.0;
    int queries = 0;
    int throwAfter = -1;
    std::vector<std::string> errors;    // the error queue
    std::vector<std::string> commands;  // every command and query, in order

private:
    FakeRadio& radio_;
};

// A power step of item 19 on `points` aiming at `target` dBm +/- 0.1 with
// no settle time, and a procedure of that one step.
inline ProcedureStep powerStep(std::vector<int> points, double target) {
    ProcedureStep s;
    s.name = "power";
    s.item = 19;
    s.band = 0;
    s.points = std::move(points);
    s.measure = "power";
    s.setup = "transmit";
    s.target = target;
    s.tolerance = 0.1;
    s.unit = "dBm";
    s.settleMs = 0;
    return s;
}

inline Procedure oneStep(ProcedureStep step) {
    Procedure p;
    p.name = "test";
    p.steps.push_back(std::move(step));
    return p;
}

}  // namespace varnel::test
