#include "app/StartupOptions.h"

#include <string_view>

#include "sim/VirtualFaults.h"

namespace varnel::app {

namespace {

constexpr std::string_view kVirtualRadio = "--virtual-radio";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// --virtual-radio=NAME; false with the error set for an unknown preset.
bool ReadVirtualPreset(const std::string& name, StartupOptions& options) {
    const auto preset = ParseVirtualPreset(name);
    if (!preset) {
        options.error = "unknown virtual radio \"" + name + "\"; choose one of: " + VirtualPresetNames();
        return false;
    }
    options.virtualRadio = true;
    options.virtualPreset = *preset;
    return true;
}

// --virtual-faults=SPEC; false with the error set for a fault it does not know.
bool ReadVirtualFaults(const std::string& spec, StartupOptions& options) {
    const Result<VirtualFaultSpec> parsed = ParseVirtualFaults(spec);
    if (!parsed) {
        options.error = parsed.error().text();
        return false;
    }
    options.virtualRadio = true;
    options.virtualFaults = spec;
    return true;
}

// --grab PATH or --grab=PATH; false with the error set without a path.
bool ReadGrab(const std::vector<std::string>& arguments, std::size_t& i, StartupOptions& options) {
    const std::string& arg = arguments[i];
    std::string path;
    if (arg == "--grab") {
        if (i + 1 >= arguments.size()) {
            options.error = "--grab needs the path of the PNG file to write";
            return false;
        }
        path = arguments[++i];
    } else {
        path = arg.substr(7);
    }
    if (path.empty()) {
        options.error = "--grab needs the path of the PNG file to write";
        return false;
    }
    options.grabPath = path;
    return true;
}

// The archive to open; only the first one named is.
void AddArchive(const std::string& path, StartupOptions& options) {
    if (options.archivePath.empty()) {
        options.archivePath = path;
    } else {
        options.warnings.push_back("only one archive is opened; ignoring \"" + path + "\"");
    }
}

}  // namespace

StartupOptions ParseStartupOptions(const std::vector<std::string>& arguments) {
    StartupOptions options;
    std::size_t i = 0;
    if (!arguments.empty() && arguments[0] == kExpertSwitch) {
        options.expertMode = true;
        i = 1;
    }
    for (; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == kVirtualRadio) {
            options.virtualRadio = true;
        } else if (StartsWith(arg, kVirtualRadio) && arg[kVirtualRadio.size()] == '=') {
            ok = ReadVirtualPreset(arg.substr(kVirtualRadio.size() + 1), options);
        } else if (StartsWith(arg, "--virtual-faults=")) {
            ok = ReadVirtualFaults(arg.substr(17), options);
        } else if (arg == "--grab" || StartsWith(arg, "--grab=")) {
            ok = ReadGrab(arguments, i, options);
        } else if (arg == "--enter-tuner-mode") {
            options.enterTunerMode = true;
        } else if (arg == "--report-startup") {
            options.reportStartup = true;
        } else if (arg == "--") {
            // Everything after "--" is an archive path, even if it starts with '-'.
            for (++i; i < arguments.size(); ++i) AddArchive(arguments[i], options);
        } else if (StartsWith(arg, "--")) {
            options.error = "unknown option \"" + arg + "\" (try --help)";
            ok = false;
        } else if (StartsWith(arg, "-") && arg.size() > 1) {
            // The expert switch anywhere but first, or in another spelling,
            // is not the expert switch. Like any other short argument it is
            // ignored rather than refused, as the program always did.
            options.warnings.push_back("ignoring argument \"" + arg + "\"" +
                                       (arg == kExpertSwitch ? " (the expert switch must come first)" : ""));
        } else {
            AddArchive(arg, options);
        }
        if (!ok) return options;
    }
    return options;
}

std::string StartupUsage() {
    return "Usage: varnel-tuner [-E] [options] [archive.tdb]\n"
           "\n"
           "Alignment tool for the DMR radio: enter tuner mode, adjust the calibration\n"
           "values, save them to .tdb archives or write them back to the radio.\n"
           "\n"
           "  -E                        expert mode (only as the first argument): unlocks\n"
           "                            the frequency rows of the parameter editor\n"
           "  archive.tdb               open this archive at start\n"
           "  --virtual-radio[=PRESET]  talk to the built-in virtual radio instead of a\n"
           "                            real one; PRESET is one of: " +
           VirtualPresetNames() +
           "\n"
           "                            (default variant0)\n"
           "  --virtual-faults=SPEC     make the virtual radio misbehave (implies\n"
           "                            --virtual-radio); SPEC is a comma list of: " +
           VirtualFaultNames() +
           "\n"
           "                            e.g. hang (every transfer blocks 2 s)\n"
           "  --enter-tuner-mode        enter tuner mode as soon as the window is up\n"
           "  --grab PATH               render the main window (and its tuning window) to\n"
           "                            the PNG file PATH, then exit; message boxes are\n"
           "                            answered automatically and printed to stderr\n"
           "  --report-startup          print the start-up time and resident memory, then\n"
           "                            exit (after tuner mode is entered, with\n"
           "                            --enter-tuner-mode)\n"
           "  --help                    show this text\n";
}

}  // namespace varnel::app
