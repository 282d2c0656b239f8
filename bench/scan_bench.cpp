// One radio scan through the Linux backend over a fake sysfs tree. The
// tuning window's connection watch rescans every 10 ms while it waits for
// the radio, so a scan has to cost far less than a millisecond.
#ifndef _WIN32

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "device/LinuxBackend.h"
#include "device/Mass_storage.h"

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

class FakeTree {
public:
    FakeTree(int removableDevices, bool fixedDisks) {
        std::string pattern = (fs::temp_directory_path() / "varnel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
        fs::create_directories(root_ / "sys" / "block");
        fs::create_directories(root_ / "dev");
        if (fixedDisks) {  // ones a scan must pass over
            addDisk("nvme0n1", false, "", "Samsung SSD 980 ");
            addDisk("loop0", false, "", "");
        }
        for (int n = 0; n < removableDevices; ++n) {
            const std::string name = "sd" + std::string(1, static_cast<char>('a' + n));
            if (n == removableDevices / 2) {
                addDisk(name, true, varnel::kRadioVendor, varnel::kRadioProduct);
            } else {
                addDisk(name, true, "Generic ", "Flash Disk      ");
            }
        }
    }
    ~FakeTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path sys() const { return root_ / "sys"; }
    fs::path dev() const { return root_ / "dev"; }

private:
    void addDisk(const std::string& name, bool removable, const std::string& vendor,
                 const std::string& model) {
        const fs::path block = root_ / "sys" / "block" / name;
        WriteFile(block / "removable", removable ? "1\n" : "0\n");
        WriteFile(block / "device" / "vendor", vendor + "\n");
        WriteFile(block / "device" / "model", model + "\n");
        WriteFile(root_ / "dev" / name, "");
    }
    fs::path root_;
};

void RunScans(benchmark::State& state, int removableDevices, bool fixedDisks, std::uint16_t expected) {
    FakeTree tree(removableDevices, fixedDisks);
    varnel::LinuxBackend backend(tree.sys(), tree.dev());
    varnel::DeviceBackend* previous = varnel::CurrentDeviceBackend();
    varnel::SetDeviceBackend(&backend);
    for (auto _ : state) {
        const std::uint16_t found = varnel::ScanRadioDrives();
        benchmark::DoNotOptimize(found);
        if (found != expected) {
            state.SkipWithError("scan found the wrong number of radios");
            break;
        }
    }
    varnel::SetDeviceBackend(previous);
}

// 24 removable disks (one of them the radio) and two fixed ones.
void BM_ScanLinux24Removable(benchmark::State& state) { RunScans(state, 24, true, 1); }
BENCHMARK(BM_ScanLinux24Removable)->Unit(benchmark::kMicrosecond);

// Only fixed disks: nothing is probed.
void BM_ScanLinuxFixedDisksOnly(benchmark::State& state) { RunScans(state, 0, true, 0); }
BENCHMARK(BM_ScanLinuxFixedDisksOnly)->Unit(benchmark::kMicrosecond);

// An empty /sys/block.
void BM_ScanLinuxEmptyTree(benchmark::State& state) { RunScans(state, 0, false, 0); }
BENCHMARK(BM_ScanLinuxEmptyTree)->Unit(benchmark::kMicrosecond);

}  // namespace

#endif  // !_WIN32
