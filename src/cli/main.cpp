// varnel-cli: the radio and its archives and records from the command line,
// on the core library only. See `varnel-cli --help`.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "cli/Cli.h"
#include "cli/align.h"
#include "data/Global.h"
#include "device/HostBackend.h"
#include "protocol/Sendcmd.h"

using namespace varnel;
using namespace varnel::cli;

namespace {

struct CommandInfo {
    const char* synopsis;
    const char* summary;
    std::set<std::string> options;  // accepted options (names without value)
    bool radio;                     // talks to the radio
};

const std::set<std::string> kRadioOptions = {"--virtual-radio", "--virtual-faults", "--log", "--quiet",
                                             "--lang",          "--serial",         "--no-records"};

std::set<std::string> With(std::set<std::string> base, std::initializer_list<const char*> more) {
    for (const char* m : more) base.insert(m);
    return base;
}

const std::map<std::string, CommandInfo>& Commands() {
    static const std::map<std::string, CommandInfo> kCommands = {
        {"scan", {"scan", "list the radios found among the removable drives", kRadioOptions, true}},
        {"info", {"info", "enter tuner mode, print the information block, leave", kRadioOptions, true}},
        {"demo", {"demo", "enter tuner mode, print the radio and its calibration points, leave", kRadioOptions, true}},
        {"backup", {"backup FILE", "enter tuner mode, save the radio's archive (.tdb) atomically, leave", kRadioOptions, true}},
        {"restore",
         {"restore FILE [--verify] [--force]",
          "write an archive to the radio (refused for another model unless --force); --verify reads it back",
          With(kRadioOptions, {"--verify", "--force"}), true}},
        {"diff", {"diff A B [--lang english|chinese]", "compare two archives item by item and point by point",
                  {"--lang", "--quiet"}, false}},
        {"dump", {"dump FILE --format json|csv [--lang english|chinese]", "print an archive as named values",
                  {"--format", "--lang", "--quiet"}, false}},
        {"records",
         {"records list|show ID|export [--serial SN] [--model NAME] [--event EVENT] [--since TIME] [--until TIME] "
          "[--limit N] [--output FILE]",
          "the calibration records (history of every radio)",
          {"--serial", "--model", "--event", "--since", "--until", "--limit", "--output", "--quiet"}, false}},
    };
    return kCommands;
}

const std::set<std::string> kValued = {"--virtual-faults", "--lang", "--serial", "--format", "--model", "--event",
                                       "--since", "--until", "--limit", "--output"};

void Usage(std::FILE* out) {
    std::fprintf(out, "usage: varnel-cli COMMAND [ARGUMENTS] [OPTIONS]\n\ncommands:\n");
    for (const auto& [name, info] : Commands()) std::fprintf(out, "  %-8s %s\n", name.c_str(), info.summary);
    std::fprintf(out, "  %-8s %s\n", "align", "automatic alignment with a measuring instrument (align --help)");
    std::fprintf(out,
                 "\noptions of the radio commands:\n"
                 "  --virtual-radio[=PRESET]  use the virtual radio (presets: %s)\n"
                 "  --virtual-faults=SPEC     make the virtual radio misbehave, comma-separated:\n"
                 "                            no-radio, permission (open refused), busy, wrong-code,\n"
                 "                            slow=READS, keep-byte=OFFSET (the radio keeps its byte\n"
                 "                            through a write-all), set-byte=OFFSET:VALUE, and the\n"
                 "                            faults of every virtual radio: hang[=MS], no-answer,\n"
                 "                            late=N, bad-checksum, refuse, check-condition, short,\n"
                 "                            drop=P, corrupt=P, lose-commands=P, delay=MS,\n"
                 "                            unplug-after=N, seed=N\n"
                 "  --log                     print every frame as a communication-log line\n"
                 "  --serial=SN               the radio's serial number for the calibration records\n"
                 "  --no-records              keep no calibration record of this run\n"
                 "  --quiet                   no progress lines\n"
                 "  --lang=english|chinese    language of captions and log labels\n"
                 "\nexit codes: 0 done, 1 differs (diff) or failed, 2 usage error (diff: any error),\n"
                 "  3 model mismatch, 4 verify found differences, 5 no radio, 6 permission denied,\n"
                 "  7 no answer, 8 wrong file size, 9 file error, 10 records database error,\n"
                 "  11 device busy, 12 other device error\n"
                 "\n`varnel-cli COMMAND --help` describes one command.\n",
                 VirtualPresetNames().c_str());
}

void CommandUsage(const std::string& name, const CommandInfo& info) {
    std::printf("usage: varnel-cli %s\n%s\noptions:", info.synopsis, info.summary);
    for (const auto& o : info.options) std::printf(" %s", o.c_str());
    std::printf("\n");
    (void)name;
}

// Options that set a text or a flag and nothing else.
const std::pair<const char*, std::string Options::*> kTextOptions[] = {
    {"--virtual-faults", &Options::virtualFaults}, {"--format", &Options::format},
    {"--model", &Options::filterModel},           {"--event", &Options::filterEvent},
    {"--since", &Options::since},                 {"--until", &Options::until},
    {"--output", &Options::output},
};
const std::pair<const char*, bool Options::*> kFlagOptions[] = {
    {"--log", &Options::log},     {"--quiet", &Options::quiet},          {"--verify", &Options::verify},
    {"--force", &Options::force}, {"--no-records", &Options::noRecords},
};

// Stores one option of the command; false after saying what is wrong with its value.
bool SetOption(const std::string& name, const std::string& value, bool hasValue, Options& options) {
    for (const auto& [text, field] : kTextOptions) {
        if (name == text) {
            options.*field = value;
            return true;
        }
    }
    for (const auto& [flag, field] : kFlagOptions) {
        if (name == flag) {
            options.*field = true;
            return true;
        }
    }
    if (name == "--virtual-radio") {
        options.virtualRadio = hasValue ? ParseVirtualPreset(value) : VirtualPreset::Variant0;
        if (!options.virtualRadio) {
            Fail("unknown virtual radio preset \"" + value + "\"; presets: " + VirtualPresetNames());
            return false;
        }
    } else if (name == "--lang") {
        if (value != "english" && value != "chinese") {
            Fail("unknown language \"" + value + "\"; languages: english, chinese");
            return false;
        }
        options.language = value;
    } else if (name == "--serial") {
        options.serial = value;
        options.filterSerial = value;
    } else if (name == "--limit") {
        char* rest = nullptr;
        options.limit = static_cast<int>(std::strtol(value.c_str(), &rest, 10));
        if (value.empty() || *rest || options.limit < 0) {
            Fail("--limit needs a number");
            return false;
        }
    }
    return true;
}

// Reads the arguments and options after the command into `options`; the exit
// status when they end the command (help, a usage error).
std::optional<int> ParseArguments(int argc, char** argv, const std::string& command, const CommandInfo& info,
                                  Options& options) {
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            CommandUsage(command, info);
            return kOk;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
            options.args.push_back(arg);
            continue;
        }
        std::string name = arg, value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        if (!info.options.count(name)) {
            Fail("unknown option \"" + name + "\" for " + command + " (see varnel-cli " + command + " --help)");
            return kUsage;
        }
        if (kValued.count(name) && !hasValue) {
            if (i + 1 >= argc) {
                Fail("option " + name + " needs a value");
                return kUsage;
            }
            value = argv[++i];
            hasValue = true;
        }
        if (!SetOption(name, value, hasValue, options)) return kUsage;
    }
    if (!options.virtualFaults.empty() && !options.virtualRadio) {
        Fail("--virtual-faults needs --virtual-radio");
        return kUsage;
    }
    return std::nullopt;
}

// A command that talks to the radio, the virtual one (with its faults) or the
// one attached to the host.
int RunRadioCommand(const std::string& command, const Options& options) {
    std::unique_ptr<DeviceBackend> backend;
    VirtualBackend* virtualBackend = nullptr;
    if (options.virtualRadio) {
        auto v = std::make_unique<VirtualBackend>(*options.virtualRadio);
        virtualBackend = v.get();
        backend = std::move(v);
    } else {
        backend = CreateHostBackend();
    }
    SetDeviceBackend(backend.get());
    CliRadio radio(options);
    int status = kOk;
    if (virtualBackend) {
        if (Error e = ApplyCliFaults(options.virtualFaults, *virtualBackend, radio); !e.ok()) {
            Fail(e);
            status = kUsage;
        }
    }
    if (status == kOk) {
        if (command != "scan") SetUpRecords(options);
        if (command == "scan") status = CmdScan(options, *backend);
        else if (command == "info") status = CmdInfo(options, radio);
        else if (command == "demo") status = CmdDemo(options, radio);
        else if (command == "backup") status = CmdBackup(options, radio);
        else if (command == "restore") status = CmdRestore(options, radio);
        if (command != "scan") FinishRecords();
    }
    radio.Close();
    SetDeviceBackend(nullptr);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return kUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        Usage(stdout);
        return kOk;
    }
    // Automatic alignment parses its own options.
    if (command == "align") return RunAlign(argc, argv);
    const auto found = Commands().find(command);
    if (found == Commands().end()) {
        Fail("unknown command \"" + command + "\"; commands: align, backup, demo, diff, dump, info, records, restore, scan");
        return kUsage;
    }

    Options options;
    options.command = command;
    if (std::optional<int> status = ParseArguments(argc, argv, command, found->second, options)) return *status;

    OpenCliLanguage(options);
    if (command == "diff") return CmdDiff(options);
    if (command == "dump") return CmdDump(options);
    if (command == "records") return CmdRecords(options);
    return RunRadioCommand(command, options);
}
