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

}  // namespace

int RunAlign(int argc, char** argv) {
    std::string procedurePath, instrumentUrl, modelPath, jsonPath, csvPath, format = "json";
    int timeoutMs = 2000;
    std::optional<VirtualPreset> preset;
    cli::Options recordOptions;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string number;
        if (arg == "--help" || arg == "-h") return usage(stdout);
        if (arg == "--procedure") {
            if (!value(&procedurePath)) return usage(stderr);
        } else if (arg == "--instrument") {
            if (!value(&instrumentUrl)) return usage(stderr);
        } else if (arg == "--model") {
            if (!value(&modelPath)) return usage(stderr);
        } else if (arg == "--json") {
            if (!value(&jsonPath)) return usage(stderr);
        } else if (arg == "--csv") {
            if (!value(&csvPath)) return usage(stderr);
        } else if (arg == "--format") {
            if (!value(&format) || (format != "json" && format != "csv")) return usage(stderr);
        } else if (arg == "--timeout") {
            if (!value(&number)) return usage(stderr);
            timeoutMs = std::atoi(number.c_str());
            if (timeoutMs <= 0) return usage(stderr);
        } else if (arg == "--serial") {
            if (!value(&recordOptions.serial)) return usage(stderr);
        } else if (arg == "--no-records") {
            recordOptions.noRecords = true;
        } else if (arg == "--virtual-radio") {
            preset = VirtualPreset::Variant0;
        } else if (arg.rfind("--virtual-radio=", 0) == 0) {
            preset = ParseVirtualPreset(arg.substr(16));
            if (!preset) {
                std::fprintf(stderr, "varnel-cli: unknown virtual radio preset \"%s\"; presets: %s\n",
                             std::string(arg.substr(16)).c_str(), VirtualPresetNames().c_str());
                return 2;
            }
        } else {
            std::fprintf(stderr, "varnel-cli: unknown option \"%s\"\n", argv[i]);
            return usage(stderr);
        }
    }
    if (procedurePath.empty() || instrumentUrl.empty()) return usage(stderr);

    Result<Procedure> procedure = LoadProcedure(procedurePath);
    if (!procedure) {
        std::fprintf(stderr, "varnel-cli: %s\n", procedure.error().Text().c_str());
        return 2;
    }
    InstrumentModel model = VirtualTestSetModel();
    if (!modelPath.empty()) {
        Result<InstrumentModel> loaded = LoadInstrumentModel(modelPath);
        if (!loaded) {
            std::fprintf(stderr, "varnel-cli: %s\n", loaded.error().Text().c_str());
            return 2;
        }
        model = loaded.value();
    }

    std::unique_ptr<VirtualBackend> virtualBackend;
    std::unique_ptr<DeviceBackend> hostBackend;
    if (preset) {
        virtualBackend = std::make_unique<VirtualBackend>(*preset);
        SetDeviceBackend(virtualBackend.get());
    } else {
        hostBackend = CreateHostBackend();
        SetDeviceBackend(hostBackend.get());
    }

    std::unique_ptr<VirtualInstrument> virtualInstrument;
    if (instrumentUrl == "virtual") {
        if (!virtualBackend) {
            std::fprintf(stderr, "varnel-cli: the virtual instrument measures the virtual radio only (add --virtual-radio)\n");
            SetDeviceBackend(nullptr);
            return 2;
        }
        virtualInstrument = std::make_unique<VirtualInstrument>(virtualBackend->sharedRadio());
        if (Error e = virtualInstrument->Start(); !e.ok()) {
            std::fprintf(stderr, "varnel-cli: %s\n", e.Text().c_str());
            SetDeviceBackend(nullptr);
            return 3;
        }
        instrumentUrl = virtualInstrument->url();
    }
    Result<std::unique_ptr<Instrument>> instrument =
        OpenInstrument(instrumentUrl, std::chrono::milliseconds(timeoutMs));
    if (!instrument) {
        std::fprintf(stderr, "varnel-cli: %s\n", instrument.error().Text().c_str());
        SetDeviceBackend(nullptr);
        return 3;
    }
    if (Result<std::string> id = instrument.value()->Query(model.identify); id)
        std::fprintf(stderr, "Instrument: %s (%s)\n", id.value().c_str(), instrument.value()->Describe().c_str());

    // Tuner mode first, so that the calibration records know the radio.
    SendcmdAlignRadio radio;
    const bool wasInTunerMode = inTunerMode;
    if (Error e = radio.Prepare(); !e.ok()) {
        std::fprintf(stderr, "varnel-cli: %s\n", e.Text().c_str());
        linkHandle.reset();
        SetDeviceBackend(nullptr);
        return 3;
    }
    cli::SetUpRecords(recordOptions);
    if (!wasInTunerMode) cli::RecordWarning(CalibrationRecorder().Entered(radioInfo, tunerImage));

    interrupted = false;
    auto previousHandler = std::signal(SIGINT, onInterrupt);
    AlignEngine engine(procedure.value(), radio, instrument.value().get(), model);
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

    // Leave tuner mode if the run entered it.
    if (inTunerMode && !wasInTunerMode && linkHandle) {
        RadioSession session;
        if (Error e = session.Leave(); !e.ok()) cli::RecordWarning(e);
        inTunerMode = false;
        cli::RecordWarning(CalibrationRecorder().Left(tunerImage));
    }

    const std::string json = report.ToJson();
    const std::string csv = report.ToCsv();
    std::fputs(format == "csv" ? csv.c_str() : json.c_str(), stdout);
    bool written = true;
    if (!jsonPath.empty()) written = writeFile(jsonPath, json) && written;
    if (!csvPath.empty()) written = writeFile(csvPath, csv) && written;
    std::fprintf(stderr, "%d passed, %d failed, %.2f s, %llu exchanges%s%s\n", report.passed(), report.failed(),
                 report.seconds, static_cast<unsigned long long>(report.exchanges), report.error.ok() ? "" : "; ",
                 report.error.Text().c_str());

    linkHandle.reset();
    instrument.value().reset();
    virtualInstrument.reset();
    SetDeviceBackend(nullptr);
    if (!report.error.ok() || !written) return 3;
    return report.failed() == 0 ? 0 : 1;
}
