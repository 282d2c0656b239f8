// varnel-cli: command-line access to a radio through the core library.
//
//   varnel-cli scan   [--virtual-radio[=preset]]   list the radios found
//   varnel-cli info   [--virtual-radio[=preset]]   read the information block
//   varnel-cli demo   [--virtual-radio[=preset]]   enter tuner mode, print the
//                                                  radio and its calibration
//                                                  points, leave tuner mode
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "device/Mass_storage.h"
#include "protocol/Sendcmd.h"
#include "device/HostBackend.h"
#include "sim/VirtualBackend.h"

namespace {

using namespace varnel;

constexpr auto kPollInterval = std::chrono::milliseconds(10);

int usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: varnel-cli COMMAND [--virtual-radio[=PRESET]]\n"
                 "commands:\n"
                 "  scan   list the radios found among the removable drives\n"
                 "  info   read the radio's information block\n"
                 "  demo   enter tuner mode, print the radio and its calibration points, leave\n"
                 "presets: %s (default variant0)\n",
                 VirtualPresetNames().c_str());
    return out == stdout ? 0 : 2;
}

// Polls every 10 ms, as the program's timers do, until a match or expiry.
bool awaitReply(std::uint16_t expectedCode) {
    pollTicks = 0;
    for (;;) {
        switch (PollStep(expectedCode)) {
            case PollResult::Match:
                pollTicks = 0;
                return true;
            case PollResult::Expired:
                AbandonPoll();
                return false;
            case PollResult::Pending:
                std::this_thread::sleep_for(kPollInterval);
                break;
        }
    }
}

bool openLink() {
    ScanRadioDrives();
    OpenError error;
    linkHandle = OpenRadio(&error);
    if (!linkHandle) {
        std::fprintf(stderr, "varnel-cli: %s\n", DescribeOpenError(error).c_str());
        return false;
    }
    return true;
}

bool readInfo() {
    SendReadInfo();
    if (!awaitReply(cmd::reply(cmd::kReadInfo))) {
        std::fprintf(stderr, "varnel-cli: the radio did not answer the information request\n");
        return false;
    }
    radioInfo.assign(replyBuffer.data() + kReplyDataOffset);
    return true;
}

void printInfo() {
    std::printf("model name     : %s\n", radioInfo.modelName().c_str());
    std::printf("firmware       : %s%s\n", radioInfo.firmwareVersion().c_str(),
                radioInfo.newFirmware() ? " (eight points in 136-174 MHz)" : "");
    std::printf("model code     : %u\n", radioInfo.modelCode());
    std::printf("model variant  : %u\n", radioInfo.modelVariant());
    std::printf("feature flags  : 0x%02X\n", radioInfo.featureFlags());
    std::printf("tuner image    : %zu bytes%s\n", radioInfo.imageBytes(),
                radioInfo.largeModel() ? " (with FSK blocks)" : "");
}

void printPoints() {
    static const char* const kBands[] = {"400-470 MHz", "136-174 MHz"};
    for (int b = 0; b < 2; ++b) {
        const int points = (b == 1 && radioInfo.newFirmware()) ? 8 : 5;
        std::printf("\n%s        TX (MHz)      RX (MHz)\n", kBands[b]);
        for (int i = 0; i < points; ++i) {
            std::printf("  point %d   %12s  %12s\n", i + 1,
                        FormatMegahertz(tunerImage.txFrequencyIn(b, i)).c_str(),
                        FormatMegahertz(tunerImage.rxFrequencyIn(b, i)).c_str());
        }
    }
}

int demo() {
    if (!openLink() || !readInfo()) return 1;
    SendEnterTunerMode();
    if (!awaitReply(cmd::reply(cmd::kEnterTunerMode))) {
        std::fprintf(stderr, "varnel-cli: the radio did not enter tuner mode\n");
        return 1;
    }
    std::copy_n(replyBuffer.begin() + kReplyDataOffset, radioInfo.imageBytes(), tunerImage.bytes.begin());
    inTunerMode = true;
    std::printf("Tuner mode entered on %s.\n\n",
                CurrentDeviceBackend()->describe(radioDriveLetters[0]).c_str());
    printInfo();
    printPoints();
    SendExitTunerMode();
    if (!awaitReply(cmd::reply(cmd::kExitTunerMode))) {
        std::fprintf(stderr, "varnel-cli: the radio did not acknowledge leaving tuner mode\n");
        return 1;
    }
    inTunerMode = false;
    std::printf("\nTuner mode left.\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(stderr);
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") return usage(stdout);

    std::optional<VirtualPreset> preset;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--virtual-radio") {
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

    std::unique_ptr<DeviceBackend> backend;
    if (preset) {
        backend = std::make_unique<VirtualBackend>(*preset);
    } else {
        backend = CreateHostBackend();
    }
    SetDeviceBackend(backend.get());

    int status = 0;
    if (command == "scan") {
        const std::uint16_t count = ScanRadioDrives();
        std::printf("%u radio(s) found\n", count);
        for (std::uint16_t i = 0; i < count; ++i)
            std::printf("  %s\n", backend->describe(radioDriveLetters[i]).c_str());
    } else if (command == "info") {
        status = (openLink() && readInfo()) ? (printInfo(), 0) : 1;
    } else if (command == "demo") {
        status = demo();
    } else {
        status = usage(stderr);
    }
    linkHandle.reset();
    SetDeviceBackend(nullptr);
    return status;
}
