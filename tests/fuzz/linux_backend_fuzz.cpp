// The Linux backend over a fuzzed fake sysfs tree: any names, attribute
// contents, folders or links where files belong, generic nodes present or
// not. Scanning, probing, describing and opening never crash.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "device/LinuxBackend.h"
#include "device/Mass_storage.h"

using namespace varnel;
namespace fs = std::filesystem;

namespace {

std::string nameFrom(std::string_view raw) {
    static const char* const known[] = {"sda", "sdb", "sdc", "sdaa", "sr0", "mmcblk0", "loop0", "dm-1", "sg0", "sg1"};
    std::string n;
    for (char c : raw) {
        if (c == '/' || c == '\0') continue;
        n.push_back(c);
    }
    if (n.empty() || n == "." || n == "..") n = known[raw.size() % 10];
    return n;
}

void put(fuzz::Input& in, const fs::path& file) {
    std::error_code ec;
    switch (in.byte() % 5) {
        case 0:  // absent
            break;
        case 1:  // a folder in its place
            fs::create_directories(file, ec);
            break;
        case 2:  // a link, possibly dangling or looping
            fs::create_symlink(in.byte() & 1 ? file : file.parent_path() / "elsewhere", file, ec);
            break;
        default:
            fuzz::WriteWhole(file, in.bytes(255));
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const fs::path root = fuzz::ScratchDirectory() / "host";
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(root / "sys" / "block");
    fs::create_directories(root / "dev");

    const int disks = in.byte() % 8;
    for (int i = 0; i < disks; ++i) {
        const std::string name = nameFrom(in.bytes(12));
        const fs::path block = root / "sys" / "block" / name;
        fs::create_directories(block / "device", ec);
        put(in, block / "removable");
        put(in, block / "device" / "vendor");
        put(in, block / "device" / "model");
        const std::uint8_t nodes = in.byte();
        if (nodes & 1) fuzz::WriteWhole(root / "dev" / name, "");
        if (nodes & 2) {
            const std::string sg = nameFrom(in.bytes(6));
            fs::create_directories(block / "device" / "scsi_generic" / sg, ec);
            if (nodes & 4) fuzz::WriteWhole(root / "dev" / sg, "");
        }
    }

    LinuxBackend backend(root / "sys", root / "dev");
    backend.setSgIoIssuer([](int, sg_io_hdr_t&) { return -1; });
    for (const std::string& volume : backend.volumeSlots()) {
        (void)backend.describe(volume);
        if (!backend.isRemovable(volume)) continue;
        (void)backend.probe(volume);
        OpenError error;
        std::unique_ptr<RadioLink> link = backend.open(volume, &error);
        if (link) {
            std::uint8_t buffer[16] = {};
            link->transferOut(buffer, sizeof buffer);
            link->transferIn(buffer, sizeof buffer);
        }
    }
    return 0;
}
