// varnel-usb-radio: the virtual radio as a USB device. It implements the
// radio's mass-storage function over FunctionFS, so that a real Linux kernel
// (usb-storage, the SCSI midlayer, sd and sg) meets it as it meets the radio
// on a cable; the firmware behind it is the virtual radio's emulation, with
// its presets and faults. See `varnel-usb-radio --help` and the README's "A
// real radio on Linux".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "instrument/VirtualInstrument.h"
#include "sim/VirtualFaults.h"
#include "sim/VirtualRadio.h"
#include "usbradio/FunctionFs.h"
#include "usbradio/ScsiTarget.h"

using namespace varnel;
using namespace varnel::usbradio;

namespace {

const auto kStart = std::chrono::steady_clock::now();

void Log(const std::string& text) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - kStart).count();
    std::fprintf(stderr, "varnel-usb-radio [%8.3f] %s\n", seconds, text.c_str());
}

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: varnel-usb-radio [OPTIONS] FUNCTIONFS_DIR\n"
                 "Serves the virtual radio as a USB mass-storage function through a mounted\n"
                 "FunctionFS instance (mount -t functionfs NAME FUNCTIONFS_DIR); bind the gadget\n"
                 "to a controller once it is ready.\n\n"
                 "options:\n"
                 "  --virtual-radio=PRESET   the radio behind the function (%s; default variant0)\n"
                 "  --virtual-faults=SPEC    the virtual radio's faults (%s);\n"
                 "                           'refuse' cannot come from a device and is refused\n"
                 "  --control=FIFO           read lines from this named pipe while running:\n"
                 "                           \"faults SPEC\" sets the faults; \"pull-at-write N\" pulls the\n"
                 "                           cable (--udc-file) when the next data-out of N bytes is announced\n"
                 "  --udc-file=PATH          the gadget's UDC file in configfs (for pull-at-write)\n"
                 "  --instrument-port=PORT   serve the virtual test set on 127.0.0.1:PORT\n"
                 "  --ready=FILE             create FILE once the function can be bound\n"
                 "  --verbose                log every command wrapper\n",
                 VirtualPresetNames().c_str(), VirtualFaultNames().c_str());
}

// Applies a fault text; a device cannot make the host refuse a command, so
// that one fault is refused here with the way to get it.
bool ApplyFaults(VirtualRadio& radio, const std::string& spec) {
    Result<VirtualFaultSpec> parsed = ParseVirtualFaults(spec);
    if (!parsed) {
        Log(parsed.error().text());
        return false;
    }
    if (parsed->link.refusal == LinkFaults::Refusal::Permission) {
        Log("the fault \"refuse\" is the host's refusal (EPERM) and cannot come from a USB device; "
            "run the tool as a user without access to the radio's node instead");
        return false;
    }
    if (Error e = ApplyVirtualFaults(radio, spec); !e.ok()) {
        Log(e.text());
        return false;
    }
    Log("faults now: " + (spec.empty() ? std::string("none") : spec));
    return true;
}

// The data-out length at which the cable is pulled, or -1.
std::atomic<long> pullAtWrite{-1};

// Lines "faults SPEC" and "pull-at-write N" from the named pipe, for as long
// as the program runs.
void ControlLoop(const std::string& path, VirtualRadio& radio) {
    // Opened for writing too, so that the pipe never reports end of file
    // between two writers.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        Log("cannot open the control pipe " + path + ": " + std::strerror(errno));
        return;
    }
    std::string pending;
    char chunk[256];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (line.rfind("faults", 0) == 0) {
                std::string spec = line.substr(6);
                while (!spec.empty() && spec.front() == ' ') spec.erase(0, 1);
                ApplyFaults(radio, spec.empty() ? "none" : spec);
            } else if (line.rfind("pull-at-write ", 0) == 0) {
                char* rest = nullptr;
                const long length = std::strtol(line.c_str() + 14, &rest, 10);
                if (length > 0 && *rest == '\0') {
                    pullAtWrite = length;
                    Log("the cable will be pulled when a data-out of " + std::to_string(length) + " bytes is announced");
                } else {
                    Log("pull-at-write needs a byte count");
                }
            } else if (!line.empty()) {
                Log("unknown control line \"" + line + "\" (expected: faults SPEC, pull-at-write N)");
            }
        }
    }
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    VirtualPreset preset = VirtualPreset::Variant0;
    std::string faults, control, ready, directory, udcFile;
    int instrumentPort = -1;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](const char* name) -> std::optional<std::string> {
            const std::string prefix = std::string(name) + "=";
            if (arg.rfind(prefix, 0) == 0) return arg.substr(prefix.size());
            if (arg == name && i + 1 < argc) return std::string(argv[++i]);
            return std::nullopt;
        };
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (auto v = value("--virtual-radio")) {
            const std::optional<VirtualPreset> parsed = ParseVirtualPreset(*v);
            if (!parsed) {
                Log("unknown virtual radio preset \"" + *v + "\"; presets: " + VirtualPresetNames());
                return 2;
            }
            preset = *parsed;
        } else if (auto v = value("--virtual-faults")) {
            faults = *v;
        } else if (auto v = value("--control")) {
            control = *v;
        } else if (auto v = value("--udc-file")) {
            udcFile = *v;
        } else if (auto v = value("--ready")) {
            ready = *v;
        } else if (auto v = value("--instrument-port")) {
            char* rest = nullptr;
            const long port = std::strtol(v->c_str(), &rest, 10);
            if (v->empty() || *rest != '\0' || port < 1 || port > 65535) {
                Log("--instrument-port needs a port number from 1 to 65535");
                return 2;
            }
            instrumentPort = static_cast<int>(port);
        } else if (arg.rfind("--", 0) == 0 || !directory.empty()) {
            Log("unknown option or extra argument \"" + arg + "\" (see --help)");
            return 2;
        } else {
            directory = arg;
        }
    }
    if (directory.empty()) {
        Usage(stderr);
        return 2;
    }

    auto radio = std::make_shared<VirtualRadio>(preset);
    if (!faults.empty() && !ApplyFaults(*radio, faults)) return 2;

    std::unique_ptr<VirtualInstrument> instrument;
    if (instrumentPort > 0) {
        instrument = std::make_unique<VirtualInstrument>(radio);
        if (Error e = instrument->start(instrumentPort); !e.ok()) {
            Log("the virtual test set could not start: " + e.text());
            return 1;
        }
        Log("virtual test set on " + instrument->url());
    }

    ScsiTarget target(radio);
    FunctionFsRadio function(target, Log, verbose);
    if (Error e = function.start(directory); !e.ok()) {
        Log(e.text());
        return 1;
    }
    function.holdCommand = [udcFile](const CommandBlock& block) {
        const long armed = pullAtWrite.load();
        if (armed < 0 || block.cdb[0] != 0xFF || block.dataIn || block.dataLength != static_cast<std::uint32_t>(armed))
            return false;
        pullAtWrite = -1;
        if (udcFile.empty()) {
            Log("pull-at-write: no --udc-file to pull the cable with");
            return false;
        }
        Log("pulling the cable: the data-out of " + std::to_string(block.dataLength) +
            " bytes was announced and is not taken");
        // The unbind reports back through ep0, which the control thread
        // reads: it runs on a thread of its own while this command is held.
        std::thread([udcFile] {
            const int fd = ::open(udcFile.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 || ::write(fd, "\n", 1) != 1) Log("cannot unbind through " + udcFile + ": " + std::strerror(errno));
            if (fd >= 0) ::close(fd);
        }).detach();
        return true;
    };
    if (!control.empty()) std::thread([control, radio] { ControlLoop(control, *radio); }).detach();
    Log(std::string("radio \"") + std::string(VirtualPresetName(preset)) + "\" ready on " + directory);
    if (!ready.empty()) {
        const int fd = ::open(ready.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
    }
    function.run();
    Log("stopped");
    return 0;
}
