// varnel-cli: the radio and its archives and records from the command line,
// on the core library only. See `varnel-cli --help`.
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>

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
    const CommandInfo& info = found->second;

    Options options;
    options.command = command;
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
        if (name == "--virtual-radio") {
            options.virtualRadio = hasValue ? ParseVirtualPreset(value) : VirtualPreset::Variant0;
            if (!options.virtualRadio) {
                Fail("unknown virtual radio preset \"" + value + "\"; presets: " + VirtualPresetNames());
                return kUsage;
            }
        } else if (name == "--virtual-faults") options.virtualFaults = value;
        else if (name == "--log") options.log = true;
        else if (name == "--quiet") options.quiet = true;
        else if (name == "--verify") options.verify = true;
        else if (name == "--force") options.force = true;
        else if (name == "--no-records") options.noRecords = true;
        else if (name == "--format") options.format = value;
        else if (name == "--lang") {
            if (value != "english" && value != "chinese") {
                Fail("unknown language \"" + value + "\"; languages: english, chinese");
                return kUsage;
            }
            options.language = value;
        } else if (name == "--serial") { options.serial = value; options.filterSerial = value; }
        else if (name == "--model") options.filterModel = value;
        else if (name == "--event") options.filterEvent = value;
        else if (name == "--since") options.since = value;
        else if (name == "--until") options.until = value;
        else if (name == "--output") options.output = value;
        else if (name == "--limit") {
            char* rest = nullptr;
            options.limit = static_cast<int>(std::strtol(value.c_str(), &rest, 10));
            if (value.empty() || *rest || options.limit < 0) {
                Fail("--limit needs a number");
                return kUsage;
            }
        }
    }
    if (!options.virtualFaults.empty() && !options.virtualRadio) {
        Fail("--virtual-faults needs --virtual-radio");
        return kUsage;
    }

    OpenCliLanguage(options);
    if (command == "diff") return CmdDiff(options);
    if (command == "dump") return CmdDump(options);
    if (command == "records") return CmdRecords(options);

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
    }
    radio.Close();
    SetDeviceBackend(nullptr);
    return status;
}
