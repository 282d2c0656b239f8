// The Windows view of the host's volumes: drive letters A to X, the drive
// type of their root, the storage device descriptor read through
// IOCTL_STORAGE_QUERY_PROPERTY, and the radio's vendor commands carried by
// IOCTL_SCSI_PASS_THROUGH_DIRECT on the open volume.
//
// Volume ids are "E:" style: the letter and a colon, which is also what the
// operator is shown. Slot n is letter 'A' + n; letters Y and Z are never
// scanned.
//
// The descriptor's vendor and product are narrow strings. They are compared
// as the bytes the device sent with the narrow recognition strings rather
// than widened through the code page first; for the ASCII the radio reports
// the two are the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "device/Mass_storage.h"

namespace varnel {

inline constexpr std::size_t kStorageDescriptorBytes = 551;
inline constexpr std::size_t kVendorOffsetAt = 12;   // STORAGE_DEVICE_DESCRIPTOR::VendorIdOffset
inline constexpr std::size_t kProductOffsetAt = 16;  // STORAGE_DEVICE_DESCRIPTOR::ProductIdOffset

// Reads vendor and product out of the first `size` bytes of a storage device
// descriptor. An offset of 0 means the string is absent ("(NULL)"); so does
// an offset that points outside the bytes received. A string runs to its NUL
// or to the end of the received bytes, never beyond them. Platform-neutral,
// so it is tested everywhere.
inline StorageIdentity ParseStorageDescriptor(const std::uint8_t* data, std::size_t size) {
    const auto word = [&](std::size_t at) -> std::uint32_t {
        if (data == nullptr || at + 4 > size) return 0;
        return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
               static_cast<std::uint32_t>(data[at + 2]) << 16 |
               static_cast<std::uint32_t>(data[at + 3]) << 24;
    };
    const auto text = [&](std::uint32_t offset) -> std::string {
        if (offset == 0 || offset >= size) return "(NULL)";
        const std::uint8_t* begin = data + offset;
        const void* nul = std::memchr(begin, 0, size - offset);
        const std::size_t length =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - begin)
                           : size - offset;
        return std::string(reinterpret_cast<const char*>(begin), length);
    };
    return StorageIdentity{text(word(kVendorOffsetAt)), text(word(kProductOffsetAt))};
}

}  // namespace varnel

#ifdef _WIN32

#include <memory>
#include <optional>
#include <vector>

namespace varnel {

// The request block one transfer hands to IOCTL_SCSI_PASS_THROUGH_DIRECT,
// as bytes: the fixed structure, the filler word and the sense buffer (80
// bytes with 32-bit pointers, 96 with 64-bit ones).
std::vector<std::uint8_t> PassThroughRequestBytes(TransferDirection direction, void* data, std::uint16_t length);

// True for "A:" to "Z:" (either case of letter).
bool IsDriveVolume(const std::string& volume);

class WindowsBackend : public DeviceBackend {
public:
    // "A:" .. "X:" for the letters present in GetLogicalDrives, "" for the others.
    std::vector<std::string> volumeSlots() override;
    // GetDriveTypeW on "X:\" is DRIVE_REMOVABLE.
    bool isRemovable(const std::string& volume) override;
    // Opens "\\.\X:" read-only (sharing read and write), queries the storage
    // device descriptor and closes the volume again.
    std::optional<StorageIdentity> probe(const std::string& volume) override;
    // Opens "\\.\X:" for reading and writing, sharing read and write.
    std::unique_ptr<RadioLink> open(const std::string& volume, OpenError* error) override;
    std::string describe(const std::string& volume) override { return volume; }
};

}  // namespace varnel

#endif  // _WIN32
