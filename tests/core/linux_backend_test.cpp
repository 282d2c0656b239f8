// The Linux backend over fake sysfs and /dev trees built in a temporary
// folder: which block devices take a slot and in what order, how the inquiry
// strings are read, which node is opened and what an open failure says, and
// the SG_IO requests the link issues.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/LinuxBackend.h"
#include "device/Mass_storage.h"
#include "protocol/Sendcmd.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// sysfs writes the inquiry strings with their padding and one newline.
const std::string kRadioVendorFile = std::string(kRadioVendor) + "\n";
const std::string kRadioModelFile = std::string(kRadioProduct) + "\n";

void WriteFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// A throw-away root holding sys/ and dev/.
class FakeHost {
public:
    FakeHost() {
        std::string pattern = (fs::temp_directory_path() / "varnel-host-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root = pattern;
        fs::create_directories(sys() / "block");
        fs::create_directories(dev());
    }
    ~FakeHost() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    fs::path sys() const { return root / "sys"; }
    fs::path dev() const { return root / "dev"; }
    fs::path block(const std::string& name) const { return sys() / "block" / name; }

    // One disk: its sysfs folder, its block node and, when `sg` is given,
    // its generic node listed under device/scsi_generic.
    void addDisk(const std::string& name, const std::string& removable,
                 std::optional<std::string> vendor, std::optional<std::string> model,
                 const std::string& sg = "") {
        WriteFile(block(name) / "removable", removable);
        fs::create_directories(block(name) / "device");
        if (vendor) WriteFile(block(name) / "device" / "vendor", *vendor);
        if (model) WriteFile(block(name) / "device" / "model", *model);
        WriteFile(dev() / name, "");
        if (!sg.empty()) {
            fs::create_directories(block(name) / "device" / "scsi_generic" / sg);
            WriteFile(dev() / sg, "");
        }
    }
    void addRadio(const std::string& name, const std::string& sg = "") {
        addDisk(name, "1\n", kRadioVendorFile, kRadioModelFile, sg);
    }
    void addStick(const std::string& name) {
        addDisk(name, "1\n", std::string("SanDisk \n"), std::string("Cruzer Blade    \n"));
    }
    void addFixedDisk(const std::string& name) {
        addDisk(name, "0\n", kRadioVendorFile, kRadioModelFile);  // even with the radio's strings
    }

    fs::path root;
};

// Wraps the real backend to record its use and to pull devices away at
// chosen moments.
class SpyBackend : public DeviceBackend {
public:
    explicit SpyBackend(LinuxBackend& inner) : inner_(inner) {}
    std::vector<std::string> volumeSlots() override {
        std::vector<std::string> slots = inner_.volumeSlots();
        if (afterSlots) afterSlots();
        return slots;
    }
    bool isRemovable(const std::string& volume) override {
        const bool removable = inner_.isRemovable(volume);
        if (afterRemovable) afterRemovable(volume);
        return removable;
    }
    std::optional<StorageIdentity> probe(const std::string& volume) override {
        probed.push_back(volume);
        return inner_.probe(volume);
    }
    std::unique_ptr<RadioLink> open(const std::string& volume, OpenError* error) override {
        return inner_.open(volume, error);
    }
    std::string describe(const std::string& volume) override { return inner_.describe(volume); }

    std::function<void()> afterSlots;
    std::function<void(const std::string&)> afterRemovable;
    std::vector<std::string> probed;

private:
    LinuxBackend& inner_;
};

// Answers a standard INQUIRY the way a device with these strings does.
bool AnswerInquiry(sg_io_hdr_t& request, const std::string& vendor, const std::string& product) {
    if (request.cmdp == nullptr || request.cmd_len != 6 || request.cmdp[0] != 0x12) return false;
    auto* data = static_cast<std::uint8_t*>(request.dxferp);
    std::memset(data, 0, request.dxfer_len);
    if (request.dxfer_len >= 32) {
        data[0] = 0x00;  // direct-access device
        data[1] = 0x80;  // removable
        data[4] = 31;    // additional length
        std::memcpy(data + 8, vendor.data(), std::min<std::size_t>(vendor.size(), 8));
        std::memcpy(data + 16, product.data(), std::min<std::size_t>(product.size(), 16));
    }
    request.resid = 0;
    return true;
}

// The radio behind every generic node of the fake host: it answers the
// identity query and takes any other command without a word.
int RadioDevice(int, sg_io_hdr_t& request) {
    AnswerInquiry(request, kRadioVendor, kRadioProduct);
    return 0;
}

bool SameFile(int fd, const fs::path& file) {
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::stat(file.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

class LinuxBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = CurrentDeviceBackend();
        for (auto& entry : radioDriveLetters) entry.clear();
    }
    void TearDown() override {
        SetDeviceBackend(previous_);
        for (auto& entry : radioDriveLetters) entry.clear();
    }
    FakeHost host;
    LinuxBackend backend = MakeBackend(host);

    static LinuxBackend MakeBackend(const FakeHost& host) {
        LinuxBackend backend{host.sys(), host.dev()};
        backend.setSgIoIssuer(RadioDevice);
        return backend;
    }

private:
    DeviceBackend* previous_ = nullptr;
};

TEST_F(LinuxBackendTest, TwoRadiosAreFoundInOrderAndTheFirstIsOpened) {
    host.addFixedDisk("sda");
    host.addStick("sdb");
    host.addRadio("sdd", "sg3");
    host.addRadio("sdc", "sg2");
    SpyBackend spy(backend);
    SetDeviceBackend(&spy);

    EXPECT_EQ(ScanRadioDrives(), 2);
    EXPECT_EQ(radioDriveLetters[0], "sdc");
    EXPECT_EQ(radioDriveLetters[1], "sdd");
    EXPECT_EQ(spy.probed, (std::vector<std::string>{"sdb", "sdc", "sdd"}));

    OpenError error;
    std::unique_ptr<RadioLink> link = OpenRadio(&error);
    ASSERT_NE(link, nullptr) << DescribeOpenError(error);
    auto* radioLink = dynamic_cast<LinuxRadioLink*>(link.get());
    ASSERT_NE(radioLink, nullptr);
    EXPECT_EQ(radioLink->path(), (host.dev() / "sg2").string());
    EXPECT_TRUE(SameFile(radioLink->fd(), host.dev() / "sg2"));
    const int flags = ::fcntl(radioLink->fd(), F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    EXPECT_TRUE(flags & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(radioLink->fd(), F_GETFD) & FD_CLOEXEC);
}

TEST_F(LinuxBackendTest, SysfsLayoutWithSymlinksIsFollowed) {
    // On a real system /sys/block/<name> is a link into /sys/devices.
    const fs::path real = host.sys() / "devices" / "usb1" / "1-1" / "host6" / "block" / "sdb";
    WriteFile(real / "removable", "1\n");
    WriteFile(real / ".." / ".." / "target6" / "6:0:0:0" / "vendor", kRadioVendorFile);
    WriteFile(real / ".." / ".." / "target6" / "6:0:0:0" / "model", kRadioModelFile);
    fs::create_directory_symlink(fs::path("..") / ".." / "target6" / "6:0:0:0", real / "device");
    fs::create_directory_symlink(fs::relative(real, host.sys() / "block"), host.block("sdb"));
    WriteFile(host.dev() / "sdb", "");

    EXPECT_EQ(backend.volumeSlots(), (std::vector<std::string>{"sdb"}));
    EXPECT_TRUE(backend.isRemovable("sdb"));
    const std::optional<StorageIdentity> identity = backend.probe("sdb");
    ASSERT_TRUE(identity.has_value());
    EXPECT_TRUE(IsRadioIdentity(*identity));
}

struct AttributeCase {
    const char* name;
    std::optional<std::string> vendorFile;
    std::optional<std::string> modelFile;
    std::string vendor;   // as probe() reports it
    std::string product;
    bool radio;
};

class AttributeTest : public LinuxBackendTest, public ::testing::WithParamInterface<AttributeCase> {};

TEST_P(AttributeTest, OnlyTheNewlineIsStripped) {
    const AttributeCase& c = GetParam();
    host.addDisk("sdb", "1\n", c.vendorFile, c.modelFile);
    const std::optional<StorageIdentity> identity = backend.probe("sdb");
    ASSERT_TRUE(identity.has_value());
    EXPECT_EQ(identity->vendor, c.vendor);
    EXPECT_EQ(identity->product, c.product);
    SetDeviceBackend(&backend);
    EXPECT_EQ(ScanRadioDrives(), c.radio ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, AttributeTest,
    ::testing::Values(
        AttributeCase{"Radio", kRadioVendorFile, kRadioModelFile, kRadioVendor, kRadioProduct, true},
        AttributeCase{"NoNewline", std::string(kRadioVendor), std::string(kRadioProduct), kRadioVendor,
                      kRadioProduct, true},
        AttributeCase{"VendorUnpadded", std::string("STM\n"), kRadioModelFile, "STM", kRadioProduct, false},
        AttributeCase{"VendorLowerCase", std::string("stm     \n"), kRadioModelFile, "stm     ",
                      kRadioProduct, false},
        AttributeCase{"VendorExtraSpace", std::string("STM      \n"), kRadioModelFile, "STM      ",
                      kRadioProduct, false},
        AttributeCase{"ModelUnpadded", kRadioVendorFile, std::string("microSD Flash\n"), kRadioVendor,
                      "microSD Flash", false},
        AttributeCase{"ModelTwoSpaces", kRadioVendorFile, std::string("microSD Flash  \n"), kRadioVendor,
                      "microSD Flash  ", false},
        AttributeCase{"ModelUpperCase", kRadioVendorFile, std::string("MICROSD FLASH   \n"), kRadioVendor,
                      "MICROSD FLASH   ", false},
        AttributeCase{"TwoNewlines", kRadioVendorFile + "\n", kRadioModelFile, kRadioVendorFile,
                      kRadioProduct, false},
        AttributeCase{"VendorMissing", std::nullopt, kRadioModelFile, "(NULL)", kRadioProduct, false},
        AttributeCase{"ModelMissing", kRadioVendorFile, std::nullopt, kRadioVendor, "(NULL)", false},
        AttributeCase{"BothMissing", std::nullopt, std::nullopt, "(NULL)", "(NULL)", false}),
    [](const ::testing::TestParamInfo<AttributeCase>& info) { return std::string(info.param.name); });

struct RemovableCase {
    const char* name;
    std::optional<std::string> file;
    bool removable;
};

class RemovableTest : public LinuxBackendTest, public ::testing::WithParamInterface<RemovableCase> {};

TEST_P(RemovableTest, OnlyARemovableDiskIsProbed) {
    const RemovableCase& c = GetParam();
    host.addRadio("sdb");
    if (c.file) {
        WriteFile(host.block("sdb") / "removable", *c.file);
    } else {
        fs::remove(host.block("sdb") / "removable");
    }
    EXPECT_EQ(backend.isRemovable("sdb"), c.removable);
    EXPECT_EQ(backend.volumeSlots().size(), c.removable ? 1u : 0u);
    SpyBackend spy(backend);
    SetDeviceBackend(&spy);
    EXPECT_EQ(ScanRadioDrives(), c.removable ? 1 : 0);
    EXPECT_EQ(spy.probed.size(), c.removable ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Flags, RemovableTest,
                         ::testing::Values(RemovableCase{"One", std::string("1\n"), true},
                                           RemovableCase{"OneNoNewline", std::string("1"), true},
                                           RemovableCase{"Zero", std::string("0\n"), false},
                                           RemovableCase{"Empty", std::string(""), false},
                                           RemovableCase{"Garbage", std::string("yes\n"), false},
                                           RemovableCase{"Missing", std::nullopt, false}),
                         [](const ::testing::TestParamInfo<RemovableCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LinuxBackendTest, FixedDisksNeitherTakeASlotNorGetProbed) {
    for (const char* name : {"sda", "nvme0n1", "vda", "loop0"}) host.addFixedDisk(name);
    host.addRadio("sdb");
    EXPECT_EQ(backend.volumeSlots(), (std::vector<std::string>{"sdb"}));
    SpyBackend spy(backend);
    SetDeviceBackend(&spy);
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_EQ(spy.probed, (std::vector<std::string>{"sdb"}));
}

TEST_F(LinuxBackendTest, KernelMadeDevicesArePassedOverByName) {
    // Even when one of them claims to be removable and carries the strings.
    for (const char* name : {"loop3", "ram0", "zram0", "dm-1", "md127", "nbd0"}) host.addRadio(name);
    host.addRadio("sdc");
    EXPECT_EQ(backend.volumeSlots(), (std::vector<std::string>{"sdc"}));
}

TEST_F(LinuxBackendTest, SlotOrderIsNameLengthThenName) {
    for (const char* name : {"sdaa", "mmcblk0", "sdb", "sr0", "sda", "sdz", "mmcblk1"}) host.addStick(name);
    EXPECT_EQ(backend.volumeSlots(),
              (std::vector<std::string>{"sda", "sdb", "sdz", "sr0", "sdaa", "mmcblk0", "mmcblk1"}));
    EXPECT_TRUE(SlotOrderLess("sdz", "sdaa"));
    EXPECT_FALSE(SlotOrderLess("sdaa", "sdz"));
    EXPECT_FALSE(SlotOrderLess("sdb", "sdb"));
}

std::vector<std::string> SdNames(int count) {
    // sda..sdz, then sdaa, sdab, ... as the kernel names them.
    std::vector<std::string> names;
    for (int n = 0; n < count; ++n) {
        std::string suffix;
        for (int k = n; k >= 0; k = k / 26 - 1) suffix.insert(suffix.begin(), static_cast<char>('a' + k % 26));
        names.push_back("sd" + suffix);
    }
    return names;
}

struct SlotLimitCase {
    const char* name;
    int devices;    // removable sticks sda, sdb, ... in kernel order
    int radioAt;    // index (in that order) of the one that is a radio
    bool found;
};

class SlotLimitTest : public LinuxBackendTest, public ::testing::WithParamInterface<SlotLimitCase> {};

TEST_P(SlotLimitTest, OnlyTheFirst24RemovableDevicesAreScanned) {
    const SlotLimitCase& c = GetParam();
    const std::vector<std::string> names = SdNames(c.devices);
    for (int n = 0; n < c.devices; ++n) {
        if (n == c.radioAt) {
            host.addRadio(names[n]);
        } else {
            host.addStick(names[n]);
        }
    }
    host.addFixedDisk("nvme0n1");  // fixed disks never use up a slot

    const std::vector<std::string> slots = backend.volumeSlots();
    ASSERT_EQ(slots.size(), static_cast<std::size_t>(std::min(c.devices, kScanSlots)));
    for (std::size_t n = 0; n < slots.size(); ++n) EXPECT_EQ(slots[n], names[n]);

    SpyBackend spy(backend);
    SetDeviceBackend(&spy);
    EXPECT_EQ(ScanRadioDrives(), c.found ? 1 : 0);
    EXPECT_EQ(radioDriveLetters[0], c.found ? names[c.radioAt] : "");
    EXPECT_EQ(spy.probed.size(), slots.size());
}

INSTANTIATE_TEST_SUITE_P(Limit, SlotLimitTest,
                         ::testing::Values(SlotLimitCase{"RadioFirst", 26, 0, true},
                                           SlotLimitCase{"RadioIn24thSlot", 24, 23, true},
                                           SlotLimitCase{"RadioIn24thOf26", 26, 23, true},
                                           SlotLimitCase{"RadioIn25thSlot", 26, 24, false},
                                           SlotLimitCase{"RadioIn26thSlot", 26, 25, false},
                                           SlotLimitCase{"RadioAfterSdz", 27, 26, false}),
                         [](const ::testing::TestParamInfo<SlotLimitCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LinuxBackendTest, DeviceUnpluggedAfterTheListingIsSkipped) {
    host.addRadio("sdb");
    host.addRadio("sdc");
    SpyBackend spy(backend);
    spy.afterSlots = [&] { fs::remove_all(host.block("sdb")); };
    SetDeviceBackend(&spy);
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_EQ(radioDriveLetters[0], "sdc");
    EXPECT_EQ(spy.probed, (std::vector<std::string>{"sdc"}));  // a vanished device is not removable
}

TEST_F(LinuxBackendTest, DeviceUnpluggedBeforeTheProbeIsSkipped) {
    host.addRadio("sdb");
    host.addRadio("sdc");
    SpyBackend spy(backend);
    spy.afterRemovable = [&](const std::string& volume) {
        if (volume == "sdb") fs::remove_all(host.block("sdb"));
    };
    SetDeviceBackend(&spy);
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_EQ(radioDriveLetters[0], "sdc");
    EXPECT_EQ(spy.probed, (std::vector<std::string>{"sdb", "sdc"}));
    EXPECT_FALSE(backend.probe("sdb").has_value());
}

TEST_F(LinuxBackendTest, NoSysfsMeansNoSlots) {
    LinuxBackend nowhere(host.root / "missing-sys", host.dev());
    EXPECT_TRUE(nowhere.volumeSlots().empty());
    SetDeviceBackend(&nowhere);
    EXPECT_EQ(ScanRadioDrives(), 0);
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::NoRadio);
}

TEST_F(LinuxBackendTest, NamesThatAreNotOneComponentAreRefused) {
    host.addRadio("sdb");
    const std::vector<std::string> names{"", ".", "..", "../block/sdb", "sdb/..", std::string("sd\0b", 4)};
    for (const std::string& name : names) {
        EXPECT_FALSE(backend.isRemovable(name)) << name;
        EXPECT_FALSE(backend.probe(name).has_value()) << name;
        OpenError error;
        EXPECT_EQ(backend.open(name, &error), nullptr) << name;
        EXPECT_EQ(error.kind, OpenError::Kind::NoRadio) << name;
    }
}

TEST_F(LinuxBackendTest, DescribeNamesTheBlockNode) {
    EXPECT_EQ(backend.describe("sdb"), (host.dev() / "sdb").string());
    EXPECT_EQ(LinuxBackend().describe("sdb"), "/dev/sdb");
}

TEST_F(LinuxBackendTest, BlockNodeIsOpenedWhenThereIsNoGenericNode) {
    backend.setRawIoAllowed([] { return true; });  // root
    host.addRadio("sdb");
    EXPECT_EQ(backend.linkNode("sdb"), host.dev() / "sdb");
    OpenError error;
    std::unique_ptr<RadioLink> link = backend.open("sdb", &error);
    ASSERT_NE(link, nullptr) << DescribeOpenError(error);
    EXPECT_EQ(error.kind, OpenError::Kind::None);
    EXPECT_TRUE(SameFile(static_cast<LinuxRadioLink*>(link.get())->fd(), host.dev() / "sdb"));
}

TEST_F(LinuxBackendTest, BlockNodeIsOpenedWhenTheGenericNodeIsMissingFromDev) {
    backend.setRawIoAllowed([] { return true; });  // root
    host.addRadio("sdb", "sg1");
    fs::remove(host.dev() / "sg1");
    OpenError error;
    std::unique_ptr<RadioLink> link = backend.open("sdb", &error);
    ASSERT_NE(link, nullptr) << DescribeOpenError(error);
    EXPECT_EQ(static_cast<LinuxRadioLink*>(link.get())->path(), (host.dev() / "sdb").string());
}

TEST_F(LinuxBackendTest, BlockNodeIsRefusedToAUserWithoutRawIo) {
    backend.setRawIoAllowed([] { return false; });
    host.addRadio("sdb");  // no generic node: the sg driver is not loaded
    SetDeviceBackend(&backend);
    ASSERT_EQ(ScanRadioDrives(), 1);
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::PermissionDenied);
    EXPECT_EQ(error.device, (host.dev() / "sdb").string());
    const std::string text = DescribeOpenError(error);
    EXPECT_NE(text.find("modprobe sg"), std::string::npos) << text;
}

TEST_F(LinuxBackendTest, MissingGenericNodeIsRefusedToAUserWithoutRawIo) {
    backend.setRawIoAllowed([] { return false; });
    host.addRadio("sdb", "sg1");
    fs::remove(host.dev() / "sg1");
    OpenError error;
    EXPECT_EQ(backend.open("sdb", &error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::PermissionDenied);
    EXPECT_NE(DescribeOpenError(error).find("sg driver"), std::string::npos);
}

TEST_F(LinuxBackendTest, VanishedNodeReportsNoRadioWithThePath) {
    backend.setRawIoAllowed([] { return true; });
    host.addRadio("sdb");
    fs::remove(host.dev() / "sdb");
    OpenError error;
    EXPECT_EQ(backend.open("sdb", &error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::NoRadio);
    EXPECT_EQ(error.device, (host.dev() / "sdb").string());
    EXPECT_EQ(error.detail, std::strerror(ENOENT));
}

TEST_F(LinuxBackendTest, NodeThatIsAFolderReportsOther) {
    backend.setRawIoAllowed([] { return true; });
    host.addRadio("sdb");
    fs::remove(host.dev() / "sdb");
    fs::create_directory(host.dev() / "sdb");  // O_RDWR on a folder: EISDIR
    OpenError error;
    EXPECT_EQ(backend.open("sdb", &error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::Other);
    EXPECT_EQ(error.detail, std::strerror(EISDIR));
}

TEST_F(LinuxBackendTest, UnreadableNodeReportsPermissionDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root, which opens any node regardless of its mode";
    host.addRadio("sdb", "sg1");
    fs::permissions(host.dev() / "sg1", fs::perms::none);
    SetDeviceBackend(&backend);
    ASSERT_EQ(ScanRadioDrives(), 1);  // probing reads sysfs only, so the scan still finds it
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::PermissionDenied);
    EXPECT_EQ(error.device, (host.dev() / "sg1").string());
    EXPECT_NE(DescribeOpenError(error).find("60-varnel-radio.rules"), std::string::npos);
}

// ---- the SG_IO requests ----

struct CapturedRequest {
    int fd = -1;
    sg_io_hdr_t header{};
    std::vector<std::uint8_t> cdb;
    bool senseZeroed = false;
};

SgIoIssuer Capture(std::vector<CapturedRequest>& log, int result = 0,
                   std::function<void(sg_io_hdr_t&)> act = nullptr) {
    return [&log, result, act](int fd, sg_io_hdr_t& request) {
        if (AnswerInquiry(request, kRadioVendor, kRadioProduct)) {
            CapturedRequest seen;
            seen.fd = fd;
            seen.header = request;
            seen.cdb.assign(request.cmdp, request.cmdp + request.cmd_len);
            log.push_back(seen);
            return 0;
        }
        CapturedRequest seen;
        seen.fd = fd;
        seen.header = request;
        if (request.cmdp != nullptr) seen.cdb.assign(request.cmdp, request.cmdp + request.cmd_len);
        seen.senseZeroed = request.sbp != nullptr;
        for (unsigned i = 0; seen.senseZeroed && i < request.mx_sb_len; ++i) {
            if (request.sbp[i] != 0) seen.senseZeroed = false;
        }
        if (act) act(request);
        log.push_back(seen);
        return result;
    };
}

class SgIoTest : public LinuxBackendTest {
protected:
    std::unique_ptr<LinuxRadioLink> makeLink(SgIoIssuer issuer) {
        WriteFile(host.dev() / "sg1", "");
        const int fd = ::open((host.dev() / "sg1").c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        return std::make_unique<LinuxRadioLink>(fd, (host.dev() / "sg1").string(), std::move(issuer));
    }
};

// The request each vendor transfer hands to SG_IO: one row per direction.
struct VendorRequestCase {
    const char* name;
    TransferDirection direction;
    int sgDirection;
    std::uint8_t cdbByte1;  // 0x2A data-out, 0x28 data-in
    std::uint16_t length;
    unsigned senseRoom;
};

TEST_F(SgIoTest, VendorRequestsCarryTheRadiosDescriptorBlock) {
    const VendorRequestCase cases[] = {
        {"data-out", TransferDirection::ToRadio, SG_DXFER_TO_DEV, 0x2A, 9, 24},
        {"data-in", TransferDirection::FromRadio, SG_DXFER_FROM_DEV, 0x28, 265, 32},
    };
    for (const VendorRequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CapturedRequest> log;
        auto link = makeLink(Capture(log, 0, [](sg_io_hdr_t& request) {
            if (request.dxfer_direction != SG_DXFER_FROM_DEV) return;
            auto* data = static_cast<std::uint8_t*>(request.dxferp);
            for (unsigned i = 0; i < request.dxfer_len; ++i) data[i] = static_cast<std::uint8_t>(i + 1);
        }));
        std::array<std::uint8_t, 300> buffer;
        buffer.fill(0xEE);
        if (c.direction == TransferDirection::ToRadio) {
            SendToRadio(link.get(), buffer.data(), c.length);
        } else {
            ReadFromRadio(link.get(), buffer.data(), c.length);
        }
        ASSERT_EQ(log.size(), 1u);
        const CapturedRequest& r = log[0];
        EXPECT_EQ(r.fd, link->fd());
        EXPECT_EQ(r.header.interface_id, 'S');
        EXPECT_EQ(r.header.dxfer_direction, c.sgDirection);
        EXPECT_EQ(r.header.cmd_len, 16);
        EXPECT_EQ(r.cdb, (std::vector<std::uint8_t>{0xFF, c.cdbByte1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x47, 0x50}));
        EXPECT_EQ(r.header.dxfer_len, c.length);
        EXPECT_EQ(r.header.dxferp, buffer.data());
        EXPECT_EQ(r.header.mx_sb_len, c.senseRoom);
        EXPECT_TRUE(r.senseZeroed);
        EXPECT_EQ(r.header.timeout, 2000u);
        EXPECT_EQ(r.header.iovec_count, 0);
        EXPECT_EQ(r.header.flags, 0u);
        if (c.direction == TransferDirection::FromRadio) {
            EXPECT_EQ(buffer[0], 1);
            EXPECT_EQ(buffer[c.length - 1], static_cast<std::uint8_t>(c.length));
        }
        EXPECT_EQ(buffer[c.length], 0xEE);  // nothing beyond the requested length
    }
}

TEST_F(SgIoTest, ACommandKeepsTheSenseBytesTheDriverWrote) {
    const std::uint8_t sense[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x28, 0x00};
    auto link = makeLink([&](int, sg_io_hdr_t& request) {
        request.status = 0x02;
        request.driver_status = 0x08;
        std::memcpy(request.sbp, sense, sizeof sense);
        request.sb_len_wr = sizeof sense;
        return 0;
    });
    std::array<std::uint8_t, 9> buffer{};
    ScsiCommand command = ScsiCommand::vendor(TransferDirection::FromRadio, buffer.data(), 9);
    link->issue(command);
    EXPECT_EQ(command.outcome.kind(), TransferOutcome::Kind::CheckCondition);
    EXPECT_EQ(command.outcome.senseKey, 0x06);  // UNIT ATTENTION
    EXPECT_EQ(command.outcome.asc, 0x28);       // medium may have changed
    ASSERT_EQ(command.senseReturned, sizeof sense);
    EXPECT_TRUE(std::equal(sense, sense + sizeof sense, command.sense.begin()));
}

// One table says what a system error means for a transfer and for an open:
// the same code never reads as a refusal in one place and a lost radio in
// the other.
TEST(OsErrorTable, TransfersAndOpensReadEachCodeAlike) {
    struct Row {
        int code;
        TransferOutcome::Kind transfer;
        OpenError::Kind open;
        const char* name;
    };
    const Row rows[] = {
        {EPERM, TransferOutcome::Kind::Permission, OpenError::Kind::PermissionDenied, "EPERM"},
        {EACCES, TransferOutcome::Kind::Permission, OpenError::Kind::PermissionDenied, "EACCES"},
        {ENODEV, TransferOutcome::Kind::Gone, OpenError::Kind::NoRadio, "ENODEV"},
        {ENXIO, TransferOutcome::Kind::Gone, OpenError::Kind::NoRadio, "ENXIO"},
        {ENOENT, TransferOutcome::Kind::Gone, OpenError::Kind::NoRadio, "ENOENT"},
        {ENOMEDIUM, TransferOutcome::Kind::Gone, OpenError::Kind::NoRadio, "ENOMEDIUM"},
        {EBUSY, TransferOutcome::Kind::DeviceBusy, OpenError::Kind::Busy, "EBUSY"},
        {ETIMEDOUT, TransferOutcome::Kind::TimedOut, OpenError::Kind::Other, "ETIMEDOUT"},
        {EIO, TransferOutcome::Kind::OsError, OpenError::Kind::Other, "EIO"},
        {EMFILE, TransferOutcome::Kind::OsError, OpenError::Kind::Other, "errno"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TransferOutcome failed = TransferOutcome::done(TransferDirection::ToRadio, 9);
        failed.transferred = 0;
        failed.osError = row.code;
        EXPECT_EQ(failed.kind(), row.transfer);
        EXPECT_EQ(MeaningOfOsError(row.code).open, row.open);
        EXPECT_NE(OsErrorName(row.code).find(row.name), std::string::npos) << OsErrorName(row.code);
    }
    EXPECT_EQ(MeaningOfOsError(PermissionErrorCode()).transfer, TransferOutcome::Kind::Permission);
    EXPECT_EQ(MeaningOfOsError(DeviceGoneErrorCode()).transfer, TransferOutcome::Kind::Gone);
}

TEST_F(SgIoTest, TheLengthNeverReachesTheCdb) {
    std::vector<CapturedRequest> log;
    auto link = makeLink(Capture(log));
    std::array<std::uint8_t, 4096> buffer{};
    for (const std::uint16_t length : {std::uint16_t{0}, std::uint16_t{9}, std::uint16_t{857}, std::uint16_t{4096}}) {
        link->transferOut(buffer.data(), length);
        link->transferIn(buffer.data(), length);
    }
    ASSERT_EQ(log.size(), 8u);
    for (std::size_t n = 0; n < log.size(); ++n) {
        const bool out = n % 2 == 0;
        const std::array<std::uint8_t, 16> expected =
            VendorCdb(out ? TransferDirection::ToRadio : TransferDirection::FromRadio);
        EXPECT_EQ(log[n].cdb, std::vector<std::uint8_t>(expected.begin(), expected.end())) << n;
    }
    EXPECT_EQ(log[6].header.dxfer_len, 4096u);
}

TEST_F(SgIoTest, AFailedReadLeavesTheZeroedBuffer) {
    std::vector<CapturedRequest> log;
    auto link = makeLink(Capture(log, -1));
    std::array<std::uint8_t, 9> buffer;
    buffer.fill(0xEE);
    ReadFromRadio(link.get(), buffer.data(), 9);
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 9>{}));
}

TEST_F(SgIoTest, TheRealIoctlOnANonScsiNodeChangesNothing) {
    auto link = makeLink(IssueSgIo);  // a regular file refuses SG_IO
    std::array<std::uint8_t, 9> buffer;
    buffer.fill(0xEE);
    ReadFromRadio(link.get(), buffer.data(), 9);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 9>{}));
    const std::array<std::uint8_t, 3> bytes{1, 2, 3};
    SendToRadio(link.get(), bytes.data(), 3);
    std::ifstream in(host.dev() / "sg1", std::ios::binary | std::ios::ate);
    EXPECT_EQ(in.tellg(), 0);  // a transfer is never a write() on the node
}

TEST_F(SgIoTest, OpenedLinksUseTheBackendsIssuerAndCloseTheirNode) {
    host.addRadio("sdb", "sg4");
    std::vector<CapturedRequest> log;
    backend.setSgIoIssuer(Capture(log));
    SetDeviceBackend(&backend);
    ASSERT_EQ(ScanRadioDrives(), 1);
    std::unique_ptr<RadioLink> link = OpenRadio();
    ASSERT_NE(link, nullptr);
    const int fd = static_cast<LinuxRadioLink*>(link.get())->fd();
    const std::uint8_t frame[] = {0xA1, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0xA4};
    SendToRadio(link.get(), frame, sizeof frame);
    std::array<std::uint8_t, 265> reply{};
    ReadFromRadio(link.get(), reply.data(), 265);
    ASSERT_EQ(log.size(), 3u);
    // The identity query comes first, on the same handle.
    EXPECT_EQ(log[0].fd, fd);
    EXPECT_EQ(log[0].cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(log[0].header.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(log[0].header.dxfer_len, 36u);
    EXPECT_EQ(log[1].fd, fd);
    EXPECT_EQ(log[1].header.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(log[2].header.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(log[2].header.dxfer_len, 265u);

    ASSERT_NE(::fcntl(fd, F_GETFD), -1);
    link.reset();
    errno = 0;
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}

// ---- what became of a transfer ----

// A reply the device would send: the 9-byte acknowledgement of 0x0061.
const std::array<std::uint8_t, 9> kExitReply{0xA1, 0x80, 0x61, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA4};

// Writes kExitReply into every data-in buffer, as the sg driver's reserve
// buffer would still hold it, then lets `finish` set the request's outcome.
SgIoIssuer StaleReplyThen(std::function<int(sg_io_hdr_t&)> finish) {
    return [finish](int, sg_io_hdr_t& request) {
        if (AnswerInquiry(request, kRadioVendor, kRadioProduct)) return 0;
        if (request.dxfer_direction == SG_DXFER_FROM_DEV)
            std::memcpy(request.dxferp, kExitReply.data(), std::min<std::size_t>(request.dxfer_len, kExitReply.size()));
        return finish(request);
    };
}

TEST_F(SgIoTest, PermissionRefusalIsRecordedAndNeverLeavesReplyBytes) {
    auto link = makeLink(StaleReplyThen([](sg_io_hdr_t&) {
        errno = EPERM;
        return -1;
    }));
    std::array<std::uint8_t, 9> buffer{};
    const TransferOutcome in = ReadFromRadio(link.get(), buffer.data(), 9);
    EXPECT_EQ(in.kind(), TransferOutcome::Kind::Permission);
    EXPECT_EQ(in.osError, EPERM);
    EXPECT_EQ(in.transferred, 0u);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 9>{}));
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8061, 9, buffer.size()));
    const TransferOutcome out = SendToRadio(link.get(), kExitReply.data(), 8);
    EXPECT_EQ(out.kind(), TransferOutcome::Kind::Permission);
    EXPECT_NE(out.describe().find("EPERM"), std::string::npos) << out.describe();
}

TEST_F(SgIoTest, CheckConditionIsRecordedWithItsSenseAndNeverLeavesReplyBytes) {
    auto link = makeLink(StaleReplyThen([](sg_io_hdr_t& request) {
        request.status = 0x02;         // CHECK CONDITION
        request.masked_status = 0x01;
        request.driver_status = 0x08;  // DRIVER_SENSE
        const std::uint8_t sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
        std::memcpy(request.sbp, sense, sizeof sense);
        request.sb_len_wr = sizeof sense;
        request.resid = 0;
        return 0;
    }));
    std::array<std::uint8_t, 9> buffer{};
    const TransferOutcome in = ReadFromRadio(link.get(), buffer.data(), 9);
    EXPECT_EQ(in.kind(), TransferOutcome::Kind::CheckCondition);
    EXPECT_EQ(in.scsiStatus, 0x02);
    EXPECT_EQ(in.driverStatus, 0x08);
    EXPECT_EQ(in.senseKey, 0x05);  // ILLEGAL REQUEST
    EXPECT_EQ(in.asc, 0x20);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 9>{}));
    EXPECT_NE(in.describe().find("ILLEGAL REQUEST"), std::string::npos) << in.describe();
}

TEST_F(SgIoTest, ShortTransferKeepsOnlyTheBytesTheDeviceMoved) {
    auto link = makeLink(StaleReplyThen([](sg_io_hdr_t& request) {
        request.resid = 4;  // five of nine bytes moved; the rest is the stale buffer
        return 0;
    }));
    std::array<std::uint8_t, 9> buffer{};
    const TransferOutcome in = ReadFromRadio(link.get(), buffer.data(), 9);
    EXPECT_EQ(in.kind(), TransferOutcome::Kind::Short);
    EXPECT_EQ(in.transferred, 5u);
    EXPECT_EQ(in.residual, 4);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 9>{0xA1, 0x80, 0x61, 0x00, 0x01, 0, 0, 0, 0}));
    EXPECT_FALSE(MatchReply(buffer.data(), 0x8061, 9, buffer.size()));
}

// A command in flight when the cable is pulled: usb-storage ends it in
// DID_ERROR, so do the commands right after it, until its disconnect has
// begun and they are told DID_NO_CONNECT. The link's TEST UNIT READY asks
// again while it gets DID_ERROR; the transfer is reported as a device that
// went away.
TEST_F(SgIoTest, HostErrorOfAPulledCableIsReportedAsGone) {
    std::vector<std::uint8_t> opcodes;
    int probes = 0;
    auto link = makeLink(StaleReplyThen([&](sg_io_hdr_t& request) {
        opcodes.push_back(request.cmdp[0]);
        if (request.cmdp[0] == 0xFF) {
            request.host_status = 0x07;  // DID_ERROR
        } else {
            request.host_status = ++probes < 3 ? 0x07 : 0x01;  // DID_ERROR twice, then DID_NO_CONNECT
        }
        request.resid = static_cast<int>(request.dxfer_len);
        return 0;
    }));
    const TransferOutcome out = SendToRadio(link.get(), kExitReply.data(), 9);
    EXPECT_EQ(out.kind(), TransferOutcome::Kind::Gone) << out.describe();
    EXPECT_EQ(out.hostStatus, 0x07) << "the transfer's own status is kept";
    EXPECT_NE(out.describe().find("DID_ERROR"), std::string::npos) << out.describe();
    EXPECT_NE(out.describe().find("DID_NO_CONNECT"), std::string::npos) << out.describe();
    EXPECT_EQ(opcodes, (std::vector<std::uint8_t>{0xFF, 0x00, 0x00, 0x00}));
    std::array<std::uint8_t, 9> buffer{};
    const TransferOutcome in = ReadFromRadio(link.get(), buffer.data(), 9);
    EXPECT_EQ(in.kind(), TransferOutcome::Kind::Gone);
    EXPECT_EQ(opcodes.size(), 6u) << "the read's probe is told DID_NO_CONNECT at once";
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 9>{}));
}

// A host error with the device still there stays a host error.
TEST_F(SgIoTest, HostErrorOfADeviceStillThereStaysAHostError) {
    auto link = makeLink(StaleReplyThen([](sg_io_hdr_t& request) {
        request.host_status = request.cmdp[0] == 0xFF ? 0x07 : 0x00;
        request.resid = request.cmdp[0] == 0xFF ? static_cast<int>(request.dxfer_len) : 0;
        return 0;
    }));
    const TransferOutcome out = SendToRadio(link.get(), kExitReply.data(), 9);
    EXPECT_EQ(out.kind(), TransferOutcome::Kind::HostError);
    EXPECT_NE(out.describe().find("0x07 (DID_ERROR)"), std::string::npos) << out.describe();
}

// DID_NO_CONNECT itself says the device is gone.
TEST_F(SgIoTest, NoConnectIsADeviceGone) {
    auto link = makeLink(StaleReplyThen([](sg_io_hdr_t& request) {
        request.host_status = 0x01;
        request.resid = static_cast<int>(request.dxfer_len);
        return 0;
    }));
    std::array<std::uint8_t, 9> buffer{};
    const TransferOutcome in = ReadFromRadio(link.get(), buffer.data(), 9);
    EXPECT_EQ(in.kind(), TransferOutcome::Kind::Gone);
    EXPECT_NE(in.describe().find("device gone: host status 0x01 (DID_NO_CONNECT)"), std::string::npos) << in.describe();
}

TEST_F(SgIoTest, ACompleteTransferIsOk) {
    auto link = makeLink(StaleReplyThen([](sg_io_hdr_t& request) {
        request.resid = 0;
        request.duration = 1;
        return 0;
    }));
    std::array<std::uint8_t, 9> buffer{};
    const TransferOutcome in = ReadFromRadio(link.get(), buffer.data(), 9);
    EXPECT_TRUE(in.ok()) << in.describe();
    EXPECT_EQ(buffer, kExitReply);
}

TEST_F(SgIoTest, IdentityCheckRefusesADeviceThatChangedAfterTheScan) {
    host.addRadio("sdb", "sg1");
    int inquiries = 0;
    int vendorCommands = 0;
    // sysfs still says radio; the device behind the node is now a memory stick.
    backend.setSgIoIssuer([&](int, sg_io_hdr_t& request) {
        if (AnswerInquiry(request, "SanDisk ", "Cruzer Blade    ")) {
            ++inquiries;
            return 0;
        }
        ++vendorCommands;
        return 0;
    });
    SetDeviceBackend(&backend);
    ASSERT_EQ(ScanRadioDrives(), 1);
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::WrongDevice);
    EXPECT_EQ(inquiries, 1);
    EXPECT_EQ(vendorCommands, 0);
    const std::string text = DescribeOpenError(error);
    EXPECT_NE(text.find("no longer the radio"), std::string::npos) << text;
    EXPECT_NE(text.find("SanDisk"), std::string::npos) << text;
}

TEST_F(SgIoTest, IdentityCheckRefusesADeviceThatDoesNotAnswerIt) {
    host.addRadio("sdb", "sg1");
    backend.setSgIoIssuer([](int, sg_io_hdr_t&) {
        errno = EIO;
        return -1;
    });
    SetDeviceBackend(&backend);
    ASSERT_EQ(ScanRadioDrives(), 1);
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::WrongDevice);
}

// One program per radio: the node is locked while a link is open on it. A
// lock held by another program refuses the open at once as busy, naming the
// node; the links of one program share the lock, and closing the last of
// them lets the next program in.
TEST_F(LinuxBackendTest, ASecondProgramIsRefusedWhileTheRadioIsOpen) {
    host.addRadio("sdb", "sg1");
    const fs::path node = host.dev() / "sg1";
    const auto othersMayLock = [&] {
        const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
        const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0) ::close(fd);
        return locked;
    };
    {
        // Another program holds the radio.
        const int other = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(other, 0);
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        OpenError error;
        EXPECT_EQ(backend.open("sdb", &error), nullptr);
        EXPECT_EQ(error.kind, OpenError::Kind::Busy);
        const std::string said = DescribeOpenError(error);
        EXPECT_NE(said.find(node.string()), std::string::npos) << said;
        EXPECT_NE(said.find("in use by another program"), std::string::npos) << said;
        ::close(other);
    }
    OpenError error;
    std::unique_ptr<RadioLink> first = backend.open("sdb", &error);
    ASSERT_NE(first, nullptr) << DescribeOpenError(error);
    EXPECT_FALSE(othersMayLock());
    // This program again (a link still finishing a transfer while the next opens).
    std::unique_ptr<RadioLink> second = backend.open("sdb", &error);
    ASSERT_NE(second, nullptr) << DescribeOpenError(error);
    first.reset();
    EXPECT_FALSE(othersMayLock());
    second.reset();
    EXPECT_TRUE(othersMayLock());
}

}  // namespace
}  // namespace varnel

#endif  // !_WIN32
