// The work of one tick of the tuning window's 10 ms timers: a verifying
// poll (read the pending reply, test it) and a connection-watch rescan. Both
// run on the user-interface thread every 10 ms while they are active, so
// each has to stay far below that interval.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "device/Mass_storage.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"

#ifndef _WIN32
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "device/LinuxBackend.h"
#endif

namespace {

using namespace varnel;

// A radio in tuner mode behind the virtual backend, with its link open.
class OpenRadioHost {
public:
    OpenRadioHost() : backend_(VirtualPreset::Variant0) {
        previous_ = CurrentDeviceBackend();
        SetDeviceBackend(&backend_);
        ScanRadioDrives();
        linkHandle = OpenRadio();
        backend_.radio().setTunerMode(true);
    }
    ~OpenRadioHost() {
        linkHandle.reset();
        SetDeviceBackend(previous_);
    }
    VirtualRadio& radio() { return backend_.radio(); }
    VirtualBackend& backend() { return backend_; }

private:
    VirtualBackend backend_;
    DeviceBackend* previous_ = nullptr;
};

// A tick that finds no reply: the radio never answers the live-set.
void BM_VerifyingPollTickNoReply(benchmark::State& state) {
    OpenRadioHost host;
    host.radio().setFault(Fault::NoAnswer);
    SendSetItem(18, 1, 4, 40, 450125000u);
    for (auto _ : state) {
        pollTicks = 0;  // stay inside the 100-tick budget
        const PollResult result = PollStep(cmd::reply(cmd::kSetItem));
        benchmark::DoNotOptimize(result);
    }
    host.radio().clearReceivedFrames();
}
BENCHMARK(BM_VerifyingPollTickNoReply);

// A tick that reads and accepts the 9-byte reply.
void BM_VerifyingPollTickMatch(benchmark::State& state) {
    OpenRadioHost host;
    SendSetItem(18, 1, 4, 40, 450125000u);
    for (auto _ : state) {
        pollTicks = 0;
        const PollResult result = PollStep(cmd::reply(cmd::kSetItem));
        if (result != PollResult::Match) {
            state.SkipWithError("the reply did not match");
            break;
        }
    }
    host.radio().clearReceivedFrames();
}
BENCHMARK(BM_VerifyingPollTickMatch);

// One connection-watch tick over the virtual host: radio present, and gone.
void BM_ConnectionWatchTickVirtual(benchmark::State& state) {
    OpenRadioHost host;
    const bool present = state.range(0) != 0;
    if (!present) host.backend().unplug();
    for (auto _ : state) {
        const std::uint16_t found = ScanRadioDrives();
        if ((found > 0) != present) {
            state.SkipWithError("the scan gave the wrong answer");
            break;
        }
    }
}
BENCHMARK(BM_ConnectionWatchTickVirtual)->Arg(1)->Arg(0);

#ifndef _WIN32

namespace fs = std::filesystem;

// A sysfs and /dev tree with a few removable disks, one of them the radio
// (or none), and a fixed disk the scan must pass over.
class FakeSysfs {
public:
    FakeSysfs(int removable, bool withRadio) {
        std::string pattern = (fs::temp_directory_path() / "varnel-poll-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
        fs::create_directories(root_ / "sys" / "block");
        fs::create_directories(root_ / "dev");
        disk("nvme0n1", false, "", "Samsung SSD 980 ");
        for (int n = 0; n < removable; ++n) {
            const std::string name = "sd" + std::string(1, static_cast<char>('a' + n));
            if (withRadio && n == removable - 1) {
                disk(name, true, kRadioVendor, kRadioProduct);
            } else {
                disk(name, true, "Generic ", "Flash Disk      ");
            }
        }
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path sys() const { return root_ / "sys"; }
    fs::path dev() const { return root_ / "dev"; }

private:
    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    void disk(const std::string& name, bool removable, const std::string& vendor, const std::string& model) {
        const fs::path block = root_ / "sys" / "block" / name;
        write(block / "removable", removable ? "1\n" : "0\n");
        write(block / "device" / "vendor", vendor + "\n");
        write(block / "device" / "model", model + "\n");
        write(root_ / "dev" / name, "");
    }
    fs::path root_;
};

// Four removable disks; the radio among them (1) or pulled (0).
void BM_ConnectionWatchTickLinux(benchmark::State& state) {
    const bool present = state.range(0) != 0;
    FakeSysfs tree(4, present);
    LinuxBackend backend(tree.sys(), tree.dev());
    DeviceBackend* previous = CurrentDeviceBackend();
    SetDeviceBackend(&backend);
    for (auto _ : state) {
        const std::uint16_t found = ScanRadioDrives();
        if ((found > 0) != present) {
            state.SkipWithError("the scan gave the wrong answer");
            break;
        }
    }
    SetDeviceBackend(previous);
}
BENCHMARK(BM_ConnectionWatchTickLinux)->Arg(1)->Arg(0);

#endif

}  // namespace
