// Radio discovery and the vendor SCSI transport.
//
// The radio shows up as a removable mass-storage volume whose storage
// descriptor names vendor "STM     " and product "microSD Flash   ". A scan
// walks 24 volume slots in a fixed order (drive letters A to X on Windows,
// sorted block-device names on Linux), probes the removable ones and records
// the radios it recognises. The link carries raw bytes only; frames are the
// business of the protocol layer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/Transfer.h"

namespace varnel {

inline constexpr char kRadioVendor[] = "STM     ";            // 8 characters
inline constexpr char kRadioProduct[] = "microSD Flash   ";    // 16 characters
inline constexpr int kScanSlots = 24;                        // A to X
inline constexpr int kRadioDriveEntries = 33;
inline constexpr unsigned kTransferTimeoutSeconds = 2;
inline constexpr std::size_t kSenseBytesOut = 24;
inline constexpr std::size_t kSenseBytesIn = 32;

// The 16-byte vendor command descriptor block for one transfer.
std::array<std::uint8_t, 16> VendorCdb(TransferDirection direction);

// Vendor and product strings of a probed volume, as the descriptor holds
// them; an absent string is reported as "(NULL)".
struct StorageIdentity {
    std::string vendor;
    std::string product;
};

// The standard INQUIRY command (opcode 0x12) asking for the 36-byte standard
// inquiry data; vendor at bytes 8 to 15, product at 16 to 31.
inline constexpr std::uint8_t kInquiryLength = 36;
std::array<std::uint8_t, 6> InquiryCdb();
// Vendor and product out of standard inquiry data (`length` bytes received).
StorageIdentity ParseInquiry(const std::uint8_t* data, std::size_t length);

// One SCSI command as a backend issues it: the descriptor block, the
// direction and data buffer, room for sense data and the time-out; after
// issue() also what became of it. A data-out buffer is only read.
struct ScsiCommand {
    std::array<std::uint8_t, 16> cdb{};
    std::uint8_t cdbLength = 0;
    TransferDirection direction = TransferDirection::ToRadio;
    std::uint8_t* data = nullptr;
    std::uint16_t length = 0;
    std::array<std::uint8_t, kSenseBytesIn> sense{};
    std::uint8_t senseRoom = 0;      // sense bytes offered: 24 with data-out, 32 with data-in
    std::uint8_t senseReturned = 0;  // sense bytes the system wrote back
    unsigned timeoutSeconds = kTransferTimeoutSeconds;
    TransferOutcome outcome;         // filled by RadioLink::issue

    std::uint8_t opcode() const { return cdb[0]; }

    // The radio's vendor command carrying `length` bytes in `direction`.
    static ScsiCommand vendor(TransferDirection direction, std::uint8_t* data, std::uint16_t length);
    // Standard INQUIRY for the 36 bytes at `data`.
    static ScsiCommand inquiry(std::uint8_t* data);
};

// An open raw link to a radio volume. Each backend implements one call,
// issue(); the transfers the protocol layer uses are built on it. A data-in
// transfer never leaves bytes beyond what the device moved (they stay as the
// caller zeroed them).
class RadioLink {
public:
    virtual ~RadioLink() = default;
    // Issues one command and fills `command.outcome`: attempted, bytes moved,
    // the OS error of the call, SCSI, host and driver status, the sense key
    // with its codes (and the sense bytes in `command.sense`), the residual
    // count and the duration. A link that cannot carry the command leaves
    // the outcome not attempted.
    virtual void issue(ScsiCommand& command) = 0;

    // One vendor data-out transfer of `length` bytes.
    TransferOutcome transferOut(const std::uint8_t* bytes, std::uint16_t length);
    // One vendor data-in transfer of up to `length` bytes into `buffer`. The
    // caller has zeroed the buffer; bytes the device did not move are zero
    // afterwards (the sg driver copies its whole reserve buffer back).
    TransferOutcome transferIn(std::uint8_t* buffer, std::uint16_t length);
    // The device's own identity, read with INQUIRY on this handle. Nothing
    // when the link cannot ask (then `outcome`, if given, says why; a link
    // that does not carry the query leaves it not attempted).
    std::optional<StorageIdentity> inquiry(TransferOutcome* outcome);
};

// The 36 bytes of standard inquiry data a removable direct-access device
// with `identity` answers (vendor and product space-padded, revision "1.00").
std::array<std::uint8_t, kInquiryLength> StandardInquiryData(const StorageIdentity& identity);

// Why an open failed, in words for the operator.
struct OpenError {
    enum class Kind { None, NoRadio, PermissionDenied, Busy, WrongDevice, Other };
    Kind kind = Kind::None;
    std::string device;   // the volume that was tried, if any
    std::string detail;   // the system's reason
};

// The host's view of its volumes. One implementation per platform plus the
// virtual radio. Probing never opens a volume for writing.
// True when both strings match the radio's exactly (case and trailing spaces).
bool IsRadioIdentity(const StorageIdentity& identity);

class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;
    // The 24 scan slots in scan order; slot n stands in for drive letter
    // 'A' + n. An empty string marks a slot without a volume. Fewer than 24
    // entries means the remaining slots are empty.
    virtual std::vector<std::string> volumeSlots() = 0;
    // True when the volume is a removable drive (anything else is never probed).
    virtual bool isRemovable(const std::string& volume) = 0;
    // Opens the volume read-only, reads its storage descriptor and closes it.
    // Returns nothing when the open or the query fails.
    virtual std::optional<StorageIdentity> probe(const std::string& volume) = 0;
    // True when every volume volumeSlots() lists is removable already (the
    // scan then asks isRemovable() no second time).
    virtual bool slotsAreRemovable() const { return false; }
    // Whether the volume reports the radio's identity; the scan's test. A
    // backend may answer it with less work than a whole probe().
    virtual bool isRadioVolume(const std::string& volume) {
        const std::optional<StorageIdentity> identity = probe(volume);
        return identity && IsRadioIdentity(*identity);
    }
    // Opens the volume for reading and writing. Only called for volumes that
    // a scan recognised as radios.
    virtual std::unique_ptr<RadioLink> open(const std::string& volume, OpenError* error) = 0;
    // A name for the operator ("/dev/sdb", "E:", "virtual radio").
    virtual std::string describe(const std::string& volume) { return volume; }
};


// The backend the scan uses; the program installs one at start-up. Tests may
// swap it. Not owned.
void SetDeviceBackend(DeviceBackend* backend);
DeviceBackend* CurrentDeviceBackend();

// Volumes recognised by the last scan, in scan order; entry 0 is opened.
extern std::array<std::string, kRadioDriveEntries> radioDriveLetters;

// Scans the slots and returns the number of radios found.
std::uint16_t ScanRadioDrives();
// Opens the volume in entry 0 of radioDriveLetters; nullptr on failure, with
// the reason in `error` (and in LastOpenError()). Before anything is sent,
// the device's INQUIRY data are read on the new handle and compared with the
// radio's strings: a device that changed between scan and open is closed
// again (Kind::WrongDevice).
std::unique_ptr<RadioLink> OpenRadio(OpenError* error = nullptr);
const OpenError& LastOpenError();
// One sentence for the operator about the last failed open, or empty.
std::string DescribeOpenError(const OpenError& error);

// What an error code of the system means, from the platform's one table
// beside its backend (errno values on Linux, Win32 error codes on Windows):
// the kind of a transfer that failed with it, the kind of an open that failed
// with it, and its name for messages.
struct OsErrorMeaning {
    TransferOutcome::Kind transfer = TransferOutcome::Kind::OsError;
    OpenError::Kind open = OpenError::Kind::Other;
};
OsErrorMeaning MeaningOfOsError(int code);
// "Operation not permitted (EPERM)" on Linux, "error 5" on Windows.
std::string OsErrorName(int code);

// Sends `length` bytes; a null handle sends nothing.
TransferOutcome SendToRadio(RadioLink* handle, const std::uint8_t* bytes, std::uint16_t length);
// Zeroes `length` bytes of `buffer`, then reads into it; a null handle reads
// nothing. Bytes beyond what the device moved are zero afterwards, whatever
// the link did with them.
TransferOutcome ReadFromRadio(RadioLink* handle, std::uint8_t* buffer, std::uint16_t length);

}  // namespace varnel
