// varnel-cli align --procedure FILE --instrument URL [options]
//
// Aligns the radio with the steps of a procedure file, reading the
// instrument over its remote interface, and prints the report. Ctrl+C stops
// the run at the next exchange; the transmitter is unkeyed before the tool
// exits.
#include "cli/align.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "align/AlignEngine.h"
#include "align/AlignRecords.h"
#include "cli/Cli.h"
#include "data/Global.h"
#include "device/HostBackend.h"
#include "instrument/VirtualInstrument.h"
#include "protocol/RadioSession.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"
#include "sim/VirtualBackend.h"

namespace {

using namespace varnel;

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) { interrupted = true; }

int usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: varnel-cli align --procedure FILE --instrument URL [options]\n"
                 "  --procedure FILE        the procedure (JSON), e.g. procedures/large.json\n"
                 "  --instrument URL        tcp://HOST[:PORT]  raw SCPI socket (port 5025)\n"
                 "                          lxi://HOST[:PORT]  VXI-11, or raw with a port, through liblxi\n"
                 "                          usbtmc:///dev/usbtmcN\n"
                 "                          virtual            the virtual test set (with --virtual-radio)\n"
                 "  --model FILE            the instrument model (JSON); default: the virtual test set's\n"
                 "  --timeout MS            instrument reply time-out (default 2000)\n"
                 "  --virtual-radio[=PRESET]  align the virtual radio (%s)\n"
                 "  --format json|csv       report on standard output (default json)\n"
                 "  --json FILE, --csv FILE  also write the report to a file\n"
                 "  --serial SN             the radio's serial number for the calibration records\n"
                 "  --no-records            keep no calibration records\n"
                 "exit status: 0 every point passed, 1 some point failed, 2 usage, 3 the run ended early\n",
                 VirtualPresetNames().c_str());
    return out == stdout ? 0 : 2;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "varnel-cli: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

struct AlignArgs {
    std::string procedurePath, instrumentUrl, modelPath, jsonPath, csvPath, format = "json";
    int timeoutMs = 2000;
    std::optional<VirtualPreset> preset;
    cli::Options recordOptions;
};

// Reads the command's options into `args`; the exit status when they end the
// command (help, a usage error), nothing when the run may go on.
std::optional<int> parseArgs(int argc, char** argv, AlignArgs& args) {
    const std::pair<std::string_view, std::string*> textOptions[] = {
        {"--procedure", &args.procedurePath}, {"--instrument", &args.instrumentUrl},
        {"--model", &args.modelPath},         {"--json", &args.jsonPath},
        {"--csv", &args.csvPath},             {"--serial", &args.recordOptions.serial},
    };
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") return usage(stdout);
        std::string* text = nullptr;
        for (const auto& [name, field] : textOptions) {
            if (arg == name) text = field;
        }
        std::string number;
        if (text) {
            if (!value(text)) return usage(stderr);
        } else if (arg == "--format") {
            if (!value(&args.format) || (args.format != "json" && args.format != "csv")) return usage(stderr);
        } else if (arg == "--timeout") {
            if (!value(&number)) return usage(stderr);
            args.timeoutMs = std::atoi(number.c_str());
            if (args.timeoutMs <= 0) return usage(stderr);
        } else if (arg == "--no-records") {
            args.recordOptions.noRecords = true;
        } else if (arg == "--virtual-radio") {
            args.preset = VirtualPreset::Variant0;
        } else if (arg.rfind("--virtual-radio=", 0) == 0) {
            args.preset = ParseVirtualPreset(arg.substr(16));
            if (!args.preset) {
                std::fprintf(stderr, "varnel-cli: unknown virtual radio preset \"%s\"; presets: %s\n",
                             std::string(arg.substr(16)).c_str(), VirtualPresetNames().c_str());
                return 2;
            }
        } else {
            std::fprintf(stderr, "varnel-cli: unknown option \"%s\"\n", argv[i]);
            return usage(stderr);
        }
    }
    if (args.procedurePath.empty() || args.instrumentUrl.empty()) return usage(stderr);
    return std::nullopt;
}

// The failure's text on stderr; `status` for the caller to return.
int fail(const std::string& text, int status) {
    std::fprintf(stderr, "varnel-cli: %s\n", text.c_str());
    return status;
}

// Ends the run before the radio is touched: the reason, then no device backend.
int endEarly(const std::string& text, int status) {
    fail(text, status);
    SetDeviceBackend(nullptr);
    return status;
}

// The model file's instrument model, the virtual test set's without one.
std::optional<InstrumentModel> loadModel(const std::string& modelPath) {
    if (modelPath.empty()) return VirtualTestSetModel();
    Result<InstrumentModel> loaded = LoadInstrumentModel(modelPath);
    if (!loaded) {
        fail(loaded.error().Text(), 2);
        return std::nullopt;
    }
    return loaded.value();
}

// What the run talks through, dropped in the reverse order: the instrument
// before the radio's backends.
struct Links {
    std::unique_ptr<VirtualBackend> virtualBackend;
    std::unique_ptr<DeviceBackend> hostBackend;
    std::unique_ptr<VirtualInstrument> virtualInstrument;
};

void selectBackend(const AlignArgs& args, Links& links) {
    if (args.preset) {
        links.virtualBackend = std::make_unique<VirtualBackend>(*args.preset);
        SetDeviceBackend(links.virtualBackend.get());
    } else {
        links.hostBackend = CreateHostBackend();
        SetDeviceBackend(links.hostBackend.get());
    }
}

// Starts the virtual test set on the virtual radio for the URL "virtual" and
// points the URL at it; the exit status when it cannot.
std::optional<int> startVirtualInstrument(AlignArgs& args, Links& links) {
    if (args.instrumentUrl != "virtual") return std::nullopt;
    if (!links.virtualBackend) {
        return endEarly("the virtual instrument measures the virtual radio only (add --virtual-radio)", 2);
    }
    links.virtualInstrument = std::make_unique<VirtualInstrument>(links.virtualBackend->sharedRadio());
    if (Error e = links.virtualInstrument->Start(); !e.ok()) return endEarly(e.Text(), 3);
    args.instrumentUrl = links.virtualInstrument->url();
    return std::nullopt;
}

// Runs the procedure with Ctrl+C wired to the engine's stop flag, printing
// each point as it ends.
AlignReport runProcedure(const Procedure& procedure, AlignRadio& radio, Instrument* instrument,
                         const InstrumentModel& model) {
    interrupted = false;
    auto previousHandler = std::signal(SIGINT, onInterrupt);
    AlignEngine engine(procedure, radio, instrument, model);
    engine.SetStopFlag(&interrupted);
    AlignEvents events;
    events.pointDone = [](const PointResult& p) {
        std::fprintf(stderr, "%-44s point %d: %s, value %d -> %d, %d tries%s%s\n", p.step.c_str(), p.point,
                     p.pass ? "pass" : "FAIL", p.startValue, p.finalValue, p.tries, p.note.empty() ? "" : ", ",
                     p.note.c_str());
    };
    engine.SetEvents(events);
    engine.SetRecordSink(CalibrationRecordSink([](const Error& e) { cli::RecordWarning(e); }));
    const AlignReport report = engine.Run();
    std::signal(SIGINT, previousHandler);
    return report;
}

// Leaves tuner mode if the run entered it.
void leaveTunerMode(bool wasInTunerMode) {
    if (inTunerMode && !wasInTunerMode && linkHandle) {
        RadioSession session;
        if (Error e = session.Leave(); !e.ok()) cli::RecordWarning(e);
        inTunerMode = false;
        cli::RecordWarning(CalibrationRecorder().Left(tunerImage));
    }
}

// The report on standard output and in the files asked for, the summary on
// stderr; false when a file could not be written.
bool printReport(const AlignReport& report, const AlignArgs& args) {
    const std::string json = report.ToJson();
    const std::string csv = report.ToCsv();
    std::fputs(args.format == "csv" ? csv.c_str() : json.c_str(), stdout);
    bool written = true;
    if (!args.jsonPath.empty()) written = writeFile(args.jsonPath, json) && written;
    if (!args.csvPath.empty()) written = writeFile(args.csvPath, csv) && written;
    std::fprintf(stderr, "%d passed, %d failed, %.2f s, %llu exchanges%s%s\n", report.passed(), report.failed(),
                 report.seconds, static_cast<unsigned long long>(report.exchanges), report.error.ok() ? "" : "; ",
                 report.error.Text().c_str());
    return written;
}

}  // namespace

int RunAlign(int argc, char** argv) {
    AlignArgs args;
    if (std::optional<int> status = parseArgs(argc, argv, args)) return *status;

    Result<Procedure> procedure = LoadProcedure(args.procedurePath);
    if (!procedure) return fail(procedure.error().Text(), 2);
    const std::optional<InstrumentModel> model = loadModel(args.modelPath);
    if (!model) return 2;

    Links links;
    selectBackend(args, links);
    if (std::optional<int> status = startVirtualInstrument(args, links)) return *status;
    Result<std::unique_ptr<Instrument>> instrument =
        OpenInstrument(args.instrumentUrl, std::chrono::milliseconds(args.timeoutMs));
    if (!instrument) return endEarly(instrument.error().Text(), 3);
    if (Result<std::string> id = instrument.value()->Query(model->identify); id)
        std::fprintf(stderr, "Instrument: %s (%s)\n", id.value().c_str(), instrument.value()->Describe().c_str());

    // Tuner mode first, so that the calibration records know the radio.
    SendcmdAlignRadio radio;
    const bool wasInTunerMode = inTunerMode;
    if (Error e = radio.Prepare(); !e.ok()) {
        fail(e.Text(), 3);
        linkHandle.reset();
        SetDeviceBackend(nullptr);
        return 3;
    }
    cli::SetUpRecords(args.recordOptions);
    if (!wasInTunerMode) cli::RecordWarning(CalibrationRecorder().Entered(radioInfo, tunerImage));

    const AlignReport report = runProcedure(procedure.value(), radio, instrument.value().get(), *model);
    leaveTunerMode(wasInTunerMode);
    const bool written = printReport(report, args);
    cli::FinishRecords();

    linkHandle.reset();
    instrument.value().reset();
    links.virtualInstrument.reset();
    SetDeviceBackend(nullptr);
    if (!report.error.ok() || !written) return 3;
    return report.failed() == 0 ? 0 : 1;
}
