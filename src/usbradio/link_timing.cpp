// varnel-link-timing: how long one exchange takes through a link, per kind:
// information block (265-byte reply), image (857 or 521 bytes), live-set,
// save and write-all. Each exchange is the program's own: the sender writes
// its frame, the poll steps read and test the reply until it matches, on
// the same exchange engine the command-line tool uses, without the 10 ms
// wait between poll ticks (that wait is the program's pacing, not the
// link's). The radio is the host's (its USB stack: usb-storage, SCSI, sg) or,
// with --virtual-radio, the virtual transport.
//
//   varnel-link-timing [--virtual-radio=PRESET] [--count=N]
// prints one line per kind: "timing: KIND BYTES median M ms (min A, max B, N exchanges)".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "device/HostBackend.h"
#include "protocol/RadioSession.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"

using namespace varnel;
using Clock = std::chrono::steady_clock;

namespace {

// The image reply by itself: the enter command's exchange.
bool ImageExchange() {
    SendEnterTunerMode();
    pollTicks = 0;
    for (;;) {
        switch (PollStep(cmd::reply(cmd::kEnterTunerMode))) {
            case PollResult::Match: pollTicks = 0; return true;
            case PollResult::Expired: pollTicks = 0; return false;
            case PollResult::Pending: break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<VirtualPreset> preset;
    int count = 25;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--virtual-radio=", 0) == 0) {
            preset = ParseVirtualPreset(arg.substr(16));
            if (!preset) {
                std::fprintf(stderr, "varnel-link-timing: unknown preset (%s)\n", VirtualPresetNames().c_str());
                return 2;
            }
        } else if (arg.rfind("--count=", 0) == 0) {
            count = std::max(1, std::atoi(arg.c_str() + 8));
        } else {
            std::fprintf(stderr, "usage: varnel-link-timing [--virtual-radio=PRESET] [--count=N]\n");
            return 2;
        }
    }
    std::unique_ptr<DeviceBackend> backend =
        preset ? std::unique_ptr<DeviceBackend>(std::make_unique<VirtualBackend>(*preset)) : CreateHostBackend();
    SetDeviceBackend(backend.get());

    RadioSession session(std::chrono::milliseconds(0));
    if (Error e = session.open(); !e.ok()) {
        std::fprintf(stderr, "varnel-link-timing: %s\n", e.text().c_str());
        return 1;
    }
    if (Error e = session.enter(); !e.ok()) {
        std::fprintf(stderr, "varnel-link-timing: %s\n", e.text().c_str());
        return 1;
    }
    // A live-set and a save of high power 400-470 MHz, point 1, at the value
    // the radio holds (nothing changes, the transmitter stays off).
    const int item = 19;
    const int point = 1;
    const int offset = PointByteOfCode(item, point);
    const int value = offset >= 0 ? tunerImage.bytes[static_cast<std::size_t>(offset)] : 0;
    const std::uint32_t frequency = txFrequency(point - 1);
    const std::string imageBytes = std::to_string(radioInfo.imageBytes() + 9);

    struct Kind {
        const char* name;
        std::string bytes;
        std::function<bool()> run;
    };
    const std::vector<Kind> kinds = {
        {"information", "265", [&] { return session.readInfo().ok(); }},
        {"image", imageBytes, [] { return ImageExchange(); }},
        {"live-set", "9", [&] { return session.setItem(item, 5, point, value, frequency).ok(); }},
        {"save", "9", [&] { return session.saveItem(item).ok(); }},
        {"write-all", "9", [&] { return session.writeAll().ok(); }},
    };
    int status = 0;
    for (const Kind& kind : kinds) {
        std::vector<double> ms;
        for (int i = 0; i < count; ++i) {
            const Clock::time_point start = Clock::now();
            if (!kind.run()) {
                std::fprintf(stderr, "varnel-link-timing: %s exchange %d failed: %s\n", kind.name, i + 1,
                             Exchange().noAnswerError().text().c_str());
                status = 1;
                break;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        if (ms.empty()) continue;
        std::sort(ms.begin(), ms.end());
        std::printf("timing: %s %s median %.3f ms (min %.3f, max %.3f, %zu exchanges)\n", kind.name,
                    kind.bytes.c_str(), ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    }
    if (Error e = session.leave(); !e.ok()) std::fprintf(stderr, "varnel-link-timing: %s\n", e.text().c_str());
    session.close();
    SetDeviceBackend(nullptr);
    return status;
}
