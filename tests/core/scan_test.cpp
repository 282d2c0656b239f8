// The generic radio scan over a scripted backend: slot order, the 24-slot
// limit, the removable test before any probe, exact recognition strings,
// and what OpenRadio / ReadFromRadio do when things go wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/Mass_storage.h"
#include "core/support/VendorLinkDouble.h"
#include "device/WindowsBackend.h"

namespace varnel {
namespace {

const StorageIdentity kRadio{kRadioVendor, kRadioProduct};

struct FakeVolume {
    bool removable = true;
    std::optional<StorageIdentity> identity;  // nothing: the probe fails
};

class FakeLink : public varnel::testing::VendorLinkDouble {
public:
    explicit FakeLink(std::string volume, bool readFails = false)
        : volume(std::move(volume)), readFails(readFails) {}
    TransferOutcome sendBytes(const std::uint8_t* bytes, std::uint16_t length) override {
        sent.assign(bytes, bytes + length);
        return TransferOutcome::done(TransferDirection::ToRadio, length);
    }
    TransferOutcome readBytes(std::uint8_t* buffer, std::uint16_t length) override {
        // A failed read leaves the buffer as the caller prepared it; record
        // what the caller handed over so the test can look at it.
        seenBeforeRead.assign(buffer, buffer + length);
        if (readFails) {
            TransferOutcome failed = TransferOutcome::done(TransferDirection::FromRadio, length);
            failed.transferred = 0;
            failed.osError = DeviceGoneErrorCode();
            return failed;
        }
        for (std::uint16_t i = 0; i < length; ++i) buffer[i] = 0x5A;
        return TransferOutcome::done(TransferDirection::FromRadio, length);
    }
    std::string volume;
    bool readFails;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> seenBeforeRead;
};

class FakeBackend : public DeviceBackend {
public:
    std::vector<std::string> volumeSlots() override {
        ++slotCalls;
        return slots;
    }
    bool isRemovable(const std::string& volume) override {
        removableAsked.push_back(volume);
        auto it = volumes.find(volume);
        return it != volumes.end() && it->second.removable;
    }
    std::optional<StorageIdentity> probe(const std::string& volume) override {
        probed.push_back(volume);
        auto it = volumes.find(volume);
        if (it == volumes.end()) return std::nullopt;
        return it->second.identity;
    }
    std::unique_ptr<RadioLink> open(const std::string& volume, OpenError* error) override {
        opened.push_back(volume);
        if (openFailure.kind != OpenError::Kind::None) {
            if (error != nullptr) *error = openFailure;
            return nullptr;
        }
        return std::make_unique<FakeLink>(volume);
    }
    std::string describe(const std::string& volume) override { return "drive " + volume; }

    // Fills slot n (0 = A) with a volume named "A:", "B:", ...
    void put(int n, FakeVolume volume) {
        if (slots.size() <= static_cast<std::size_t>(n)) slots.resize(n + 1);
        const std::string name = std::string(1, static_cast<char>('A' + n)) + ":";
        slots[n] = name;
        volumes[name] = std::move(volume);
    }
    bool wasProbed(const std::string& volume) const {
        return std::find(probed.begin(), probed.end(), volume) != probed.end();
    }

    std::vector<std::string> slots;
    std::map<std::string, FakeVolume> volumes;
    OpenError openFailure;
    int slotCalls = 0;
    std::vector<std::string> removableAsked;
    std::vector<std::string> probed;
    std::vector<std::string> opened;
};

// Installs a fresh fake for each test and puts the previous backend back.
class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = CurrentDeviceBackend();
        SetDeviceBackend(&fake);
        for (auto& entry : radioDriveLetters) entry.clear();
    }
    void TearDown() override {
        SetDeviceBackend(previous_);
        for (auto& entry : radioDriveLetters) entry.clear();
    }
    FakeBackend fake;

private:
    DeviceBackend* previous_ = nullptr;
};

TEST_F(ScanTest, TwoRadiosAreStoredInSlotOrderAndTheFirstIsOpened) {
    fake.put(2, {true, StorageIdentity{"Kingston", "DataTraveler 3.0"}});  // C:
    fake.put(7, {true, kRadio});                                            // H:
    fake.put(4, {true, kRadio});                                            // E:
    EXPECT_EQ(ScanRadioDrives(), 2);
    EXPECT_EQ(radioDriveLetters[0], "E:");
    EXPECT_EQ(radioDriveLetters[1], "H:");
    EXPECT_TRUE(radioDriveLetters[2].empty());

    OpenError error;
    std::unique_ptr<RadioLink> link = OpenRadio(&error);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::None);
    EXPECT_EQ(LastOpenError().kind, OpenError::Kind::None);
    ASSERT_EQ(fake.opened.size(), 1u);
    EXPECT_EQ(fake.opened[0], "E:");
    EXPECT_EQ(static_cast<FakeLink*>(link.get())->volume, "E:");
}

TEST_F(ScanTest, OnlyTheFirst24SlotsAreScanned) {
    fake.put(24, {true, kRadio});  // Y:
    fake.put(25, {true, kRadio});  // Z:
    EXPECT_EQ(ScanRadioDrives(), 0);
    EXPECT_FALSE(fake.wasProbed("Y:"));
    EXPECT_FALSE(fake.wasProbed("Z:"));
    EXPECT_TRUE(radioDriveLetters[0].empty());

    fake.put(23, {true, kRadio});  // X: is the last slot scanned
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_EQ(radioDriveLetters[0], "X:");
}

TEST_F(ScanTest, AllTwentyFourRadiosFillTheTable) {
    for (int n = 0; n < 26; ++n) fake.put(n, {true, kRadio});
    EXPECT_EQ(ScanRadioDrives(), 24);
    for (int n = 0; n < 24; ++n) {
        EXPECT_EQ(radioDriveLetters[n], std::string(1, static_cast<char>('A' + n)) + ":");
    }
    for (std::size_t n = 24; n < radioDriveLetters.size(); ++n) EXPECT_TRUE(radioDriveLetters[n].empty());
}

TEST_F(ScanTest, NonRemovableVolumeIsNeverProbed) {
    fake.put(2, {false, kRadio});  // a fixed disk claiming the radio's strings
    fake.put(3, {true, StorageIdentity{"SanDisk ", "Cruzer Blade    "}});
    EXPECT_EQ(ScanRadioDrives(), 0);
    EXPECT_FALSE(fake.wasProbed("C:"));
    EXPECT_TRUE(fake.wasProbed("D:"));
    EXPECT_EQ(fake.removableAsked, (std::vector<std::string>{"C:", "D:"}));
}

TEST_F(ScanTest, EmptySlotsAreSkippedWithoutQuestions) {
    fake.put(5, {true, kRadio});  // slots 0..4 stay empty strings
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_EQ(fake.removableAsked, (std::vector<std::string>{"F:"}));
}

struct IdentityCase {
    const char* vendor;
    const char* product;
    bool radio;
};

class RecognitionTest : public ScanTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(RecognitionTest, OnlyTheExactStringsAreARadio) {
    const IdentityCase& c = GetParam();
    const StorageIdentity identity{c.vendor, c.product};
    EXPECT_EQ(IsRadioIdentity(identity), c.radio);
    fake.put(0, {true, identity});
    EXPECT_EQ(ScanRadioDrives(), c.radio ? 1 : 0);
    EXPECT_EQ(radioDriveLetters[0], c.radio ? "A:" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Strings, RecognitionTest,
    ::testing::Values(IdentityCase{"STM     ", "microSD Flash   ", true},
                      IdentityCase{"STM", "microSD Flash   ", false},          // no padding
                      IdentityCase{"STM    ", "microSD Flash   ", false},      // 4 spaces
                      IdentityCase{"STM      ", "microSD Flash   ", false},    // 6 spaces
                      IdentityCase{"stm     ", "microSD Flash   ", false},     // case
                      IdentityCase{"STM     ", "microSD Flash", false},        // product unpadded
                      IdentityCase{"STM     ", "microSD Flash  ", false},      // 2 spaces
                      IdentityCase{"STM     ", "MicroSD Flash   ", false},     // case
                      IdentityCase{"STM     ", "microSD Flash    ", false},    // 4 spaces
                      IdentityCase{" STM    ", "microSD Flash   ", false},     // leading space
                      IdentityCase{"(NULL)", "microSD Flash   ", false},       // vendor absent
                      IdentityCase{"STM     ", "(NULL)", false},               // product absent
                      IdentityCase{"(NULL)", "(NULL)", false}));

TEST_F(ScanTest, VanishedVolumeIsSkippedAndTheScanGoesOn) {
    fake.put(1, {true, std::nullopt});  // B: listed, but its probe fails
    fake.put(6, {true, kRadio});
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_TRUE(fake.wasProbed("B:"));
    EXPECT_EQ(radioDriveLetters[0], "G:");
}

TEST_F(ScanTest, TableIsClearedAtEveryScan) {
    fake.put(0, {true, kRadio});
    fake.put(1, {true, kRadio});
    ASSERT_EQ(ScanRadioDrives(), 2);
    fake.volumes["A:"].identity.reset();  // the first radio is unplugged
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_EQ(radioDriveLetters[0], "B:");
    EXPECT_TRUE(radioDriveLetters[1].empty());
    fake.volumes["B:"].removable = false;
    EXPECT_EQ(ScanRadioDrives(), 0);
    for (const std::string& entry : radioDriveLetters) EXPECT_TRUE(entry.empty());
}

TEST_F(ScanTest, ScanWithoutBackendClearsTheTableAndFindsNothing) {
    radioDriveLetters[0] = "E:";
    SetDeviceBackend(nullptr);
    EXPECT_EQ(ScanRadioDrives(), 0);
    EXPECT_TRUE(radioDriveLetters[0].empty());
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::NoRadio);
}

TEST_F(ScanTest, OpenRadioFailsWithNoRadioWhenNothingWasFound) {
    fake.put(0, {true, StorageIdentity{"Generic ", "Flash Disk      "}});
    ASSERT_EQ(ScanRadioDrives(), 0);
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::NoRadio);
    EXPECT_EQ(LastOpenError().kind, OpenError::Kind::NoRadio);
    EXPECT_TRUE(fake.opened.empty());
    EXPECT_FALSE(DescribeOpenError(error).empty());
}

TEST_F(ScanTest, OpenFailureKeepsTheBackendsReasonAndNamesTheDevice) {
    fake.put(4, {true, kRadio});
    ASSERT_EQ(ScanRadioDrives(), 1);
    fake.openFailure.kind = OpenError::Kind::PermissionDenied;
    fake.openFailure.detail = "Permission denied";
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::PermissionDenied);
    EXPECT_EQ(error.device, "drive E:");  // filled from describe() when the backend left it empty
    EXPECT_EQ(LastOpenError().kind, OpenError::Kind::PermissionDenied);

    // A later successful open clears the remembered failure.
    fake.openFailure = OpenError{};
    EXPECT_NE(OpenRadio(), nullptr);
    EXPECT_EQ(LastOpenError().kind, OpenError::Kind::None);
}

TEST_F(ScanTest, OpenFailureWithoutAReasonCountsAsOther) {
    class SilentBackend : public FakeBackend {
        std::unique_ptr<RadioLink> open(const std::string&, OpenError*) override { return nullptr; }
    } silent;
    silent.put(0, {true, kRadio});
    SetDeviceBackend(&silent);
    ASSERT_EQ(ScanRadioDrives(), 1);
    OpenError error;
    EXPECT_EQ(OpenRadio(&error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::Other);
    EXPECT_EQ(error.device, "drive A:");
    SetDeviceBackend(&fake);
}

TEST(DescribeOpenError, PermissionDeniedPointsAtTheUdevRule) {
    OpenError error{OpenError::Kind::PermissionDenied, "/dev/sg2", "Permission denied"};
    const std::string text = DescribeOpenError(error);
    EXPECT_NE(text.find("permission"), std::string::npos) << text;
    EXPECT_NE(text.find("60-varnel-radio.rules"), std::string::npos) << text;
    EXPECT_NE(text.find("/dev/sg2"), std::string::npos) << text;
}

TEST(DescribeOpenError, EachKindSaysSomethingAndNoneSaysNothing) {
    EXPECT_TRUE(DescribeOpenError(OpenError{}).empty());
    const std::string busy = DescribeOpenError({OpenError::Kind::Busy, "/dev/sdb", "Device or resource busy"});
    EXPECT_NE(busy.find("/dev/sdb"), std::string::npos);
    EXPECT_NE(busy.find("Device or resource busy"), std::string::npos);
    const std::string other = DescribeOpenError({OpenError::Kind::Other, "E:", "The device is not ready"});
    EXPECT_NE(other.find("E:"), std::string::npos);
    EXPECT_NE(other.find("The device is not ready"), std::string::npos);
    EXPECT_FALSE(DescribeOpenError({OpenError::Kind::NoRadio, "", ""}).empty());
}

TEST(VendorCdb, CarriesOnlyTheDirectionAndTheSignature) {
    const std::array<std::uint8_t, 16> out = VendorCdb(TransferDirection::ToRadio);
    const std::array<std::uint8_t, 16> in = VendorCdb(TransferDirection::FromRadio);
    const std::array<std::uint8_t, 16> expectedOut{0xFF, 0x2A, 0, 0, 0, 0, 0, 0,
                                                   0,    0,    0, 0, 0, 0, 0x47, 0x50};
    std::array<std::uint8_t, 16> expectedIn = expectedOut;
    expectedIn[1] = 0x28;
    EXPECT_EQ(out, expectedOut);
    EXPECT_EQ(in, expectedIn);
}

TEST(ReadFromRadio, ZeroesTheBufferWhenTheReadFails) {
    std::array<std::uint8_t, 12> buffer;
    buffer.fill(0xEE);
    FakeLink failing("E:", /*readFails=*/true);
    ReadFromRadio(&failing, buffer.data(), 9);
    for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(buffer[i], 0) << "byte " << i;
    for (std::size_t i = 9; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "byte " << i;
    // The link was handed an already zeroed buffer.
    EXPECT_EQ(failing.seenBeforeRead, std::vector<std::uint8_t>(9, 0));
}

TEST(ReadFromRadio, ZeroesTheBufferWithoutAHandle) {
    std::array<std::uint8_t, 8> buffer;
    buffer.fill(0xEE);
    ReadFromRadio(nullptr, buffer.data(), 5);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 8>{0, 0, 0, 0, 0, 0xEE, 0xEE, 0xEE}));
}

TEST(ReadFromRadio, AWorkingReadFillsTheBuffer) {
    std::array<std::uint8_t, 4> buffer{};
    FakeLink link("E:");
    ReadFromRadio(&link, buffer.data(), 4);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{0x5A, 0x5A, 0x5A, 0x5A}));
}

TEST(SendToRadio, PassesTheBytesAndIgnoresANullHandle) {
    const std::uint8_t frame[] = {0xA1, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0xA4};
    FakeLink link("E:");
    SendToRadio(&link, frame, sizeof frame);
    EXPECT_EQ(link.sent, std::vector<std::uint8_t>(std::begin(frame), std::end(frame)));
    SendToRadio(nullptr, frame, sizeof frame);  // must not crash
}

// ---- the storage device descriptor (as IOCTL_STORAGE_QUERY_PROPERTY returns it) ----

std::vector<std::uint8_t> Descriptor(std::uint32_t vendorAt, std::uint32_t productAt,
                                     std::size_t size = kStorageDescriptorBytes) {
    std::vector<std::uint8_t> bytes(size, 0);
    const auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(kVendorOffsetAt, vendorAt);
    put(kProductOffsetAt, productAt);
    return bytes;
}

void PutString(std::vector<std::uint8_t>& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(StorageDescriptor, ReadsTheStringsAtTheirOffsets) {
    std::vector<std::uint8_t> bytes = Descriptor(0x40, 0x49);  // little-endian offsets
    PutString(bytes, 0x40, kRadioVendor);
    PutString(bytes, 0x49, kRadioProduct);
    const StorageIdentity identity = ParseStorageDescriptor(bytes.data(), bytes.size());
    EXPECT_EQ(identity.vendor, kRadioVendor);
    EXPECT_EQ(identity.product, kRadioProduct);
    EXPECT_TRUE(IsRadioIdentity(identity));
}

TEST(StorageDescriptor, OffsetAbove255UsesAllFourBytes) {
    std::vector<std::uint8_t> bytes = Descriptor(0x123, 0x200);
    PutString(bytes, 0x123, "Vendor");
    PutString(bytes, 0x200, "Product");
    const StorageIdentity identity = ParseStorageDescriptor(bytes.data(), bytes.size());
    EXPECT_EQ(identity.vendor, "Vendor");
    EXPECT_EQ(identity.product, "Product");
}

TEST(StorageDescriptor, ZeroOffsetIsAbsent) {
    std::vector<std::uint8_t> bytes = Descriptor(0, 0x30);
    PutString(bytes, 0x30, kRadioProduct);
    const StorageIdentity identity = ParseStorageDescriptor(bytes.data(), bytes.size());
    EXPECT_EQ(identity.vendor, "(NULL)");
    EXPECT_EQ(identity.product, kRadioProduct);
    EXPECT_FALSE(IsRadioIdentity(identity));
}

TEST(StorageDescriptor, NothingIsReadOutsideTheReceivedBytes) {
    // Offsets past the end, and a string without its NUL at the very end.
    std::vector<std::uint8_t> bytes = Descriptor(600, 0x28, 0x30);
    PutString(bytes, 0x28, "ABCDEFGH");  // fills the last 8 bytes, no terminator
    const StorageIdentity identity = ParseStorageDescriptor(bytes.data(), bytes.size());
    EXPECT_EQ(identity.vendor, "(NULL)");
    EXPECT_EQ(identity.product, "ABCDEFGH");

    // Too short to hold the offsets at all.
    const std::vector<std::uint8_t> tiny(14, 0xFF);
    const StorageIdentity none = ParseStorageDescriptor(tiny.data(), tiny.size());
    EXPECT_EQ(none.vendor, "(NULL)");
    EXPECT_EQ(none.product, "(NULL)");
    EXPECT_EQ(ParseStorageDescriptor(nullptr, 0).vendor, "(NULL)");
}

}  // namespace
}  // namespace varnel
