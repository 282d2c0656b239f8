// varnel-cli: the radio and its archives and records from the command line,
// on the core library only. See `varnel-cli --help`.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "cli/Cli.h"
#include "cli/Stop.h"
#include "protocol/Exchange.h"

using namespace varnel;
using namespace varnel::cli;

namespace {

// The longest instrument reply time-out --timeout accepts: ten minutes.
constexpr long long kMaxTimeoutMs = 600000;
// The most virtual radios one --batch aligns.
constexpr long long kMaxBatch = 1000;

struct CommandInfo {
    const char* synopsis;
    const char* summary;
    std::set<std::string> options;  // accepted options (names without value)
    std::size_t maxArguments;       // positional arguments after the command
    const char* details = "";       // more for `COMMAND --help`
};

constexpr const char* kAlignDetails =
    "  --procedure FILE        the procedure (JSON), e.g. procedures/large.json\n"
    "  --instrument URL        tcp://HOST[:PORT]  raw SCPI socket (port 5025)\n"
    "                          lxi://HOST[:PORT]  VXI-11, or raw with a port, through liblxi\n"
    "                          usbtmc:///dev/usbtmcN\n"
    "                          virtual            the virtual test set (with --virtual-radio)\n"
    "  --model FILE            the instrument model (JSON); default: the virtual test set's\n"
    "  --timeout MS            instrument reply time-out, 1 to 600000 (default 2000)\n"
    "  --format json|csv       the report on standard output (default json)\n"
    "  --json FILE, --csv FILE  the report also into files (checked before the run)\n"
    "  --log                   every frame as a log line on standard error\n"
    "  --no-history            start every point at the radio's value, not from the radios before\n"
    "  --batch N               align N virtual radios (with --virtual-radio) one after the other,\n"
    "                          each with its own serial, each learning from those before (1 to 1000)\n"
    "  --settings FILE         setting.ini to read instead of the program's (the line's keys below)\n"
    "  --fixture ID            the test fixture (default: [fixture] id)\n"
    "  --path-loss FILE        the fixture's loss, one \"freqMHz,dB\" per line (default: [fixture] pathLoss);\n"
    "                          added back to every reading in dBm\n"
    "  --calibration-due DATE  the instrument's calibration due date, YYYY-MM-DD\n"
    "                          (default: [instrument] calibrationDue); overdue: a warning\n"
    "  --strict                an overdue instrument is refused (also [line] strict=1)\n"
    "exit status: 0 every point passed, 1 a point failed, 2 usage, 3 procedure for another model,\n"
    "  5-12 as for every command (radio, files), 15 the instrument failed, 16 stopped (Ctrl+C,\n"
    "  SIGTERM, SIGHUP, SIGQUIT or a closed output; the radio is unkeyed and left),\n"
    "  17 the instrument's calibration is overdue (strict)\n";

constexpr const char* kLineDetails =
    "radio after radio: wait for a radio, take its serial (--serial, else one line of standard input\n"
    "per radio, as a barcode scanner types it, checked against [line] serialPattern), enter tuner mode,\n"
    "back up the image into Default Data/backups, align, save the aligned archive as\n"
    "Default Data/SERIAL.tdb, record, leave, wait for the radio to be taken away, next.\n"
    "  --procedure FILE, --instrument URL, --model FILE, --timeout MS, --no-history  as for align\n"
    "  --settings FILE, --fixture ID, --path-loss FILE, --calibration-due DATE, --strict  as for align\n"
    "  --radios N              stop after N radios (1 to 1000; default: until standard input ends)\n"
    "  --serial SN             the serial of a single radio; with --radios N the radios are SN-1 to SN-N\n"
    "  --json                  progress as JSON lines on standard output, one object per event\n"
    "  --data-folder DIR       instead of Default Data beside the program\n"
    "with --virtual-radio each radio is a new virtual radio of its own serial, plugged in and taken away\n"
    "  --virtual-drift DB@N    the virtual test set's fixture loss grows by DB dB per radio from radio N on\n"
    "after every radio the model's control charts are read: a drift of the line is the JSON event \"drift\",\n"
    "  a line on standard error and a record \"line-alarm\"\n"
    "exit status: as for align, the worst radio's; 16 stopped by Ctrl+C, SIGTERM, SIGHUP, SIGQUIT or a\n"
    "  closed output (the radio is unkeyed, its record says \"stopped\"), 17 the instrument's calibration\n"
    "  is overdue (strict), 20 no radio aligned: every serial scanned was refused\n";

constexpr const char* kReportDetails =
    "  --serial SN             the radio; its latest alignment run\n"
    "  --record ID             the run this record belongs to instead (records list shows IDs)\n"
    "  -o FILE, --output FILE  the PDF file (default report-SN-TIME.pdf here)\n"
    "  --lang english|chinese  the language of the page\n"
    "exit status: 0 written, 2 usage, 9 file error, 10 records database error, 14 no such record,\n"
    "  18 the radio has no alignment record, 19 this build has no PDF reports\n";

const std::set<std::string> kRadioOptions = {"--virtual-radio", "--virtual-faults", "--log", "--quiet",
                                             "--lang",          "--serial",         "--no-records"};

std::set<std::string> With(std::set<std::string> base, std::initializer_list<const char*> more) {
    for (const char* m : more) base.insert(m);
    return base;
}

const std::map<std::string, CommandInfo>& Commands() {
    static const std::map<std::string, CommandInfo> kCommands = {
        {"scan", {"scan", "list the radios found among the removable drives", kRadioOptions, 0}},
        {"info", {"info", "enter tuner mode, print the information block, leave", kRadioOptions, 0}},
        {"demo", {"demo", "enter tuner mode, print the radio and its calibration points, leave", kRadioOptions, 0}},
        {"backup",
         {"backup FILE [--force]",
          "enter tuner mode, save the radio's archive (.tdb) atomically, leave; an existing FILE is replaced only "
          "with --force",
          With(kRadioOptions, {"--force"}), 1}},
        {"restore",
         {"restore FILE [--verify] [--force]",
          "write an archive to the radio (refused for another model or an archive that is not plausible, unless "
          "--force); --verify reads it back",
          With(kRadioOptions, {"--verify", "--force"}), 1}},
        {"diff", {"diff A B [--lang english|chinese]", "compare two archives item by item and point by point",
                  {"--lang", "--quiet"}, 2}},
        {"dump", {"dump FILE --format json|csv [--lang english|chinese]", "print an archive as named values",
                  {"--format", "--lang", "--quiet"}, 1}},
        {"records",
         {"records list|show ID|export|stats [--serial SN] [--model NAME] [--event EVENT] [--since TIME] "
          "[--until TIME] [--limit N] [--output FILE] [--format csv|ocp] [--by station|day]",
          "the calibration records (history of every radio); export as CSV or OCP Test and Validation "
          "output; stats: radios per hour, first-pass yield and tries per point",
          {"--serial", "--model", "--event", "--since", "--until", "--limit", "--output", "--format", "--by",
           "--quiet"},
          2}},
        {"align",
         {"align --procedure FILE --instrument URL [--model FILE] [--timeout MS] [--format json|csv] [--json FILE] "
          "[--csv FILE] [--no-history] [--batch N]",
          "automatic alignment with a measuring instrument; the report goes to standard output",
          With(kRadioOptions,
               {"--procedure", "--instrument", "--model", "--timeout", "--format", "--json", "--csv",
                "--no-history", "--batch", "--settings", "--fixture", "--path-loss", "--calibration-due",
                "--strict"}),
          0, kAlignDetails}},
        {"line",
         {"line --procedure FILE --instrument URL [--radios N] [--json] [--serial SN] [--data-folder DIR] "
          "[--fixture ID] [--path-loss FILE] [--calibration-due DATE] [--strict] [--settings FILE]",
          "the production line's loop: align radio after radio, each backed up, saved and recorded",
          With(kRadioOptions,
               {"--procedure", "--instrument", "--model", "--timeout", "--no-history", "--radios", "--json",
                "--data-folder", "--settings", "--fixture", "--path-loss", "--calibration-due", "--strict",
                "--virtual-drift"}),
          0, kLineDetails}},
        {"report",
         {"report --serial SN [-o FILE.pdf] [--record ID] [--lang english|chinese]",
          "the one-page PDF report of a radio's latest alignment run (or of the run of record ID): "
          "points, limits, readings, verdicts and a chart against its model's history",
          {"--serial", "--record", "--output", "-o", "--lang", "--quiet"},
          0, kReportDetails}},
    };
    return kCommands;
}

const std::set<std::string> kValued = {"--virtual-faults", "--lang",      "--serial",     "--format",
                                       "--model",          "--event",     "--since",      "--until",
                                       "--limit",          "--output",    "--procedure",  "--instrument",
                                       "--timeout",        "--json",      "--csv",        "--by",
                                       "--batch",          "--radios",    "--data-folder", "--settings",
                                       "--fixture",        "--path-loss", "--calibration-due", "--record",     "-o",
                                       "--virtual-drift"};

void Usage(std::FILE* out) {
    std::fprintf(out, "usage: varnel-cli COMMAND [ARGUMENTS] [OPTIONS]\n\ncommands:\n");
    for (const auto& [name, info] : Commands()) std::fprintf(out, "  %-8s %s\n", name.c_str(), info.summary);
    std::fprintf(out,
                 "\noptions of the radio commands (align too):\n"
                 "  --virtual-radio[=PRESET]  use the virtual radio (presets: %s)\n"
                 "  --virtual-faults=SPEC     make the virtual radio misbehave, comma-separated:\n"
                 "                            no-radio, permission (open refused), busy, wrong-code,\n"
                 "                            slow=READS, keep-byte=OFFSET (the radio keeps its byte\n"
                 "                            through a write-all), set-byte=OFFSET:VALUE, and the\n"
                 "                            faults of every virtual radio: hang[=MS],\n"
                 "                            hang-after=N[:MS] (hangs once N frames were taken), no-answer,\n"
                 "                            late=N, bad-checksum, refuse, check-condition, short,\n"
                 "                            drop=P, corrupt=P, lose-commands=P, delay=MS,\n"
                 "                            unplug-after=N, seed=N\n"
                 "  --log                     print every frame as a communication-log line\n"
                 "                            (align: on standard error, the report keeps standard output)\n"
                 "  --serial=SN               the radio's serial number for the calibration records\n"
                 "  --no-records              keep no calibration record of this run\n"
                 "  --quiet                   no progress lines\n"
                 "  --lang=english|chinese    language of captions and log labels\n"
                 "  --                        what follows is an argument, not an option\n"
                 "\nexit codes: 0 done, 1 differs (diff), a point failed (align) or another failure,\n"
                 "  2 usage error (diff: any error), 3 model mismatch, 4 verify found differences,\n"
                 "  5 no radio, 6 permission denied on the radio, 7 no answer, 8 wrong file size,\n"
                 "  9 file error, 10 records database error, 11 device busy (another program has the\n"
                 "  radio open), 12 other device error,\n"
                 "  13 archive not plausible, 14 no such record, 15 instrument failed,\n"
                 "  16 stopped (Ctrl+C, SIGTERM, SIGHUP, SIGQUIT, a closed output),\n"
                 "  17 instrument's calibration overdue (strict),\n"
                 "  18 the radio has no alignment record (report),\n"
                 "  19 no PDF reports in this build (report),\n"
                 "  20 no radio aligned, every serial scanned was refused (line)\n"
                 "\n`varnel-cli COMMAND --help` describes one command.\n",
                 VirtualPresetNames().c_str());
}

void CommandUsage(const CommandInfo& info) {
    std::printf("usage: varnel-cli %s\n%s\n%soptions:", info.synopsis, info.summary, info.details);
    for (const auto& o : info.options) std::printf(" %s", o.c_str());
    std::printf("\n");
}

// Options that set a text or a flag and nothing else.
const std::pair<const char*, std::string Options::*> kTextOptions[] = {
    {"--virtual-faults", &Options::virtualFaults}, {"--event", &Options::filterEvent},
    {"--since", &Options::since},                 {"--until", &Options::until},
    {"--output", &Options::output},               {"--procedure", &Options::procedure},
    {"--instrument", &Options::instrument},       {"--json", &Options::jsonPath},
    {"--csv", &Options::csvPath},                 {"--by", &Options::by},
    {"--data-folder", &Options::dataFolder},      {"--settings", &Options::settingsFile},
    {"--fixture", &Options::fixture},             {"--path-loss", &Options::pathLoss},
    {"--calibration-due", &Options::calibrationDue},
    {"-o", &Options::output},
    {"--virtual-drift", &Options::virtualDrift},
};
const std::pair<const char*, bool Options::*> kFlagOptions[] = {
    {"--log", &Options::log},     {"--quiet", &Options::quiet},          {"--verify", &Options::verify},
    {"--force", &Options::force}, {"--no-records", &Options::noRecords},
    {"--no-history", &Options::noHistory}, {"--strict", &Options::strict},
};

// A number option's value from low to high; false after saying what is wrong.
bool SetNumber(const std::string& name, const std::string& value, long long low, long long high, int& out) {
    const std::optional<long long> number = ParseWholeNumber(value, low, high);
    if (!number) {
        Fail(name + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ", not \"" +
             value + "\"");
        return false;
    }
    out = static_cast<int>(*number);
    return true;
}

// Stores one option of the command; false after saying what is wrong with its value.
bool SetOption(const std::string& name, const std::string& value, bool hasValue, Options& options) {
    // line: --json is the flag of the JSON progress lines (align: a report file).
    if (name == "--json" && options.command == "line") {
        if (hasValue) {
            Fail("option --json of line takes no value");
            return false;
        }
        options.jsonEvents = true;
        return true;
    }
    for (const auto& [text, field] : kTextOptions) {
        if (name == text) {
            options.*field = value;
            return true;
        }
    }
    for (const auto& [flag, field] : kFlagOptions) {
        if (name == flag) {
            if (hasValue) {
                Fail("option " + name + " takes no value");
                return false;
            }
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
    } else if (name == "--format") {
        const bool records = options.command == "records";
        if (records ? value != "csv" && value != "ocp" : value != "json" && value != "csv") {
            Fail("unknown format \"" + value + "\"; formats: " + (records ? "csv, ocp" : "json, csv"));
            return false;
        }
        options.format = value;
    } else if (name == "--serial") {
        options.serial = value;
        options.filterSerial = value;
    } else if (name == "--model") {
        // align: the instrument model file; records: the radio model filter.
        (options.command == "records" ? options.filterModel : options.instrumentModel) = value;
    } else if (name == "--limit") {
        return SetNumber(name, value, 0, std::numeric_limits<int>::max(), options.limit);
    } else if (name == "--timeout") {
        return SetNumber(name, value, 1, kMaxTimeoutMs, options.timeoutMs);
    } else if (name == "--batch") {
        return SetNumber(name, value, 1, kMaxBatch, options.batch);
    } else if (name == "--radios") {
        return SetNumber(name, value, 1, kMaxBatch, options.radios);
    } else if (name == "--record") {
        const std::optional<long long> id = ParseWholeNumber(value, 1, std::numeric_limits<std::int64_t>::max());
        if (!id) {
            Fail("--record needs a record ID (a whole number from 1), not \"" + value + "\"");
            return false;
        }
        options.recordId = *id;
    }
    return true;
}

// Reads the arguments and options after the command into `options`; the exit
// status when they end the command (help, a usage error).
std::optional<int> ParseArguments(int argc, char** argv, const std::string& command, const CommandInfo& info,
                                  Options& options) {
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.args.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            CommandUsage(info);
            return kOk;
        }
        std::string name = arg, value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos && arg.compare(0, 2, "--") == 0) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        if (!info.options.count(name)) {
            Fail("unknown option \"" + name + "\" for " + command + " (see varnel-cli " + command + " --help)");
            return kUsage;
        }
        const bool valued = kValued.count(name) && !(name == "--json" && command == "line");
        if (valued && !hasValue) {
            if (i + 1 >= argc) {
                Fail("option " + name + " needs a value");
                return kUsage;
            }
            value = argv[++i];
            hasValue = true;
        }
        if (!SetOption(name, value, hasValue, options)) return kUsage;
    }
    if (options.args.size() > info.maxArguments) {
        Fail("unexpected argument \"" + options.args[info.maxArguments] + "\" for " + command + " (see varnel-cli " +
             command + " --help)");
        return kUsage;
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
    // Every way the command can be ended leaves tuner mode first (Stop.h).
    CatchInterrupt();
    CliBackend backend(options);
    CliRadio radio(options);
    if (backend.virtualBackend()) {
        if (Error e = ApplyCliFaults(options.virtualFaults, *backend.virtualBackend(), radio); !e.ok()) {
            Fail(e);
            return kUsage;
        }
    }
    if (command != "scan") SetUpRecords(options);
    int status = kOk;
    if (command == "scan") status = CmdScan(options, backend.device());
    else if (command == "info") status = CmdInfo(options, radio);
    else if (command == "demo") status = CmdDemo(options, radio);
    else if (command == "backup") status = CmdBackup(options, radio);
    else if (command == "restore") status = CmdRestore(options, radio);
    if (command != "scan") FinishRecords();
    radio.close();
    return status;
}

// The commands that talk to the radio. Their transfers run on the exchange
// engine's I/O thread, as the window's do, so that no poll tick waits on the
// device: a radio that hangs costs one poll budget, not a time-out per tick.
int RunWithRadio(const std::string& command, const Options& options) {
    Exchange().setTransport(ExchangeEngine::Transport::IoThread);
    int status = kOk;
    if (command == "align") status = CmdAlign(options);
    else if (command == "line") status = CmdLine(options);
    else status = RunRadioCommand(command, options);
    // A transfer that hangs is not waited for at the end: the system ends it
    // (time-out and reset) after the tool has exited.
    const bool hung = Exchange().hangState() != ExchangeEngine::HangState::None;
    Exchange().finish(hung ? std::chrono::milliseconds(0) : std::chrono::milliseconds(5000));
    CleanedUp();
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
    const auto found = Commands().find(command);
    if (found == Commands().end()) {
        Fail("unknown command \"" + command + "\"; commands: align, backup, demo, diff, dump, info, line, records, report, restore, scan");
        return kUsage;
    }

    Options options;
    options.command = command;
    if (std::optional<int> status = ParseArguments(argc, argv, command, found->second, options)) return *status;

    OpenCliLanguage(options);
    if (command == "diff") return CmdDiff(options);
    if (command == "dump") return CmdDump(options);
    if (command == "records") return CmdRecords(options);
    if (command == "report") return CmdReport(options);
    return RunWithRadio(command, options);
}
