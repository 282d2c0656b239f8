// The desktop program's command line, parsed by a plain function so that the
// rules can be checked without starting the program.
//
//   varnel-tuner [-E] [options] [archive.tdb]
//
// -E is the expert switch. It counts only as the very first argument and
// only spelled exactly so (case-sensitive, whole argument); it unlocks the
// frequency rows of the parameter editor.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/VirtualRadio.h"

namespace varnel::app {

inline constexpr char kExpertSwitch[] = "-E";

struct StartupOptions {
    bool expertMode = false;
    // --virtual-radio[=preset]: the virtual radio instead of the host's volumes.
    bool virtualRadio = false;
    VirtualPreset virtualPreset = VirtualPreset::Variant0;
    // --virtual-faults=SPEC: faults of the virtual radio (sim/VirtualFaults.h);
    // implies --virtual-radio. Checked when parsed.
    std::string virtualFaults;
    // --grab PATH: render the main window to a PNG file and exit.
    std::string grabPath;
    // --enter-tuner-mode: enter tuner mode as soon as the window is up.
    bool enterTunerMode = false;
    // --report-startup: print start-up time and memory, then exit.
    bool reportStartup = false;
    bool help = false;
    // The archive named on the command line (first argument that is not an
    // option), opened at start; empty when none.
    std::string archivePath;
    // Notes for stderr about arguments that were ignored.
    std::vector<std::string> warnings;
    // Set when the command line is refused; the program prints it and exits 2.
    std::string error;
};

// `arguments` excludes the program name.
StartupOptions ParseStartupOptions(const std::vector<std::string>& arguments);

// The text printed by --help.
std::string StartupUsage();

}  // namespace varnel::app
