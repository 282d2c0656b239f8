// What an instrument model understands: the commands that set it up for a
// point (generator or analyser to a frequency and level) and the queries that
// read a measurement. Kept in a JSON file per instrument model, so a new
// instrument needs no new code:
//
//   {
//     "name": "Virtual test set",
//     "identify": "*IDN?",
//     "identity": "VARNEL,VIRTUAL TEST SET",
//     "error_query": "SYST:ERR?",
//     "confirm": "*OPC?",
//     "reset": ["*RST", "*CLS"],
//     "setups": {
//       "transmit": ["RF:FREQ {freq_hz}"],
//       "receive":  ["RF:FREQ {freq_hz}", "GEN:LEV {level_dbm}", "GEN:STAT ON"]
//     },
//     "finish": ["GEN:STAT OFF"],
//     "measurements": {
//       "power":           {"query": "MEAS:POW?",  "unit": "dBm"},
//       "frequency_error": {"query": "MEAS:FERR?", "unit": "Hz"},
//       "deviation":       {"query": "MEAS:DEV?",  "unit": "Hz"},
//       "voltage":         {"query": "MEAS:VOLT?", "unit": "V"}
//     },
//     "settle_ms": 20
//   }
//
// Placeholders in set-up commands: {freq_hz}, {freq_mhz} (six decimals),
// {level_dbm}.
//
// "identity" is a text the reply to "identify" must contain (letter case
// aside); without it any reply is taken. "error_query" reads one entry of
// the instrument's error queue ("0,..." when it is empty; "" asks nothing).
// "confirm" is a query answered with 1 once the commands before it are
// done; it follows the reset and every set-up ("" confirms nothing).
//
// A measurement may give "range": [lowest, highest], the readings a radio
// can produce in its unit (at the radio: the fixture's loss added back). A
// reading outside it is the instrument's fault, not the radio's. Without
// one, the known kinds have a default range in their usual unit (see
// plausibleRange); other measurements are not checked.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "util/Error.h"
#include "util/JsonLines.h"

namespace varnel {

struct InstrumentModel {
    struct Range {
        double lowest = 0;
        double highest = 0;
    };
    struct Measurement {
        std::string query;
        std::string unit;
        std::optional<Range> range;  // readings a radio can give
    };
    std::string name;
    std::string identify = "*IDN?";
    std::string identity;                 // expected within the identification reply
    std::string errorQuery = "SYST:ERR?"; // one entry of the error queue
    std::string confirm;                  // "*OPC?" where the instrument needs it
    std::vector<std::string> reset;
    std::map<std::string, std::vector<std::string>> setups;
    std::vector<std::string> finish;
    std::map<std::string, Measurement> measurements;
    int settleMs = 0;

    // The set-up commands named `setup` with the placeholders filled in.
    std::vector<std::string> setupCommands(const std::string& setup, std::uint32_t frequencyHz,
                                           double levelDbm) const;

    // The readings a radio can give for the measurement `name`: its own
    // range, else the default of its kind when its unit is the kind's
    // (power in dBm -20 to 50, frequency_error in Hz -10000 to 10000,
    // deviation in Hz 0 to 10000, voltage in V 0 to 30); none otherwise.
    std::optional<Range> plausibleRange(const std::string& name) const;
    // An Instrument failure naming `instrument` when `reading` lies outside
    // plausibleRange(name); success otherwise.
    Error checkReading(const std::string& name, double reading, const std::string& instrument) const;
};

// The model of the built-in virtual test set (the same as
// procedures/instruments/virtual-test-set.json).
InstrumentModel VirtualTestSetModel();

// A command or query with a line end or another control character in it is
// refused ("FILE:LINE: ...") like every other mistake in the file.
Result<InstrumentModel> ParseInstrumentModel(const JsonDocument& doc);
Result<InstrumentModel> ParseInstrumentModelText(const std::string& text, const std::string& name);
Result<InstrumentModel> LoadInstrumentModel(const std::string& path);

class Instrument;

// True when the identification `answer` contains the model's identity
// (letter case aside), or the model expects none.
bool IdentityMatches(const InstrumentModel& model, const std::string& answer);

// Asks the instrument's identification (the model's "identify") and checks
// it against the model's identity: the answer, or an Instrument error that
// names both (another instrument, or the wrong model file). Used before the
// radio is touched. Nothing is asked when the model has no query.
Result<std::string> IdentifyInstrument(Instrument& instrument, const InstrumentModel& model);

}  // namespace varnel
