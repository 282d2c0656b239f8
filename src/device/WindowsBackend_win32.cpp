#include "device/WindowsBackend.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <cstring>

namespace varnel {

namespace {

// The request block handed to IOCTL_SCSI_PASS_THROUGH_DIRECT: the fixed
// structure, a filler word, then the sense buffer the structure points at by
// offset. The whole block is zeroed before each transfer and passed as both
// input and output.
struct PassThroughBlock {
    SCSI_PASS_THROUGH_DIRECT request;
    ULONG filler;
    UCHAR sense[kSenseBytesIn];
};

constexpr bool kWide = sizeof(void*) == 8;
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == (kWide ? 56 : 44),
              "SCSI_PASS_THROUGH_DIRECT has the platform's layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == (kWide ? 24 : 20));
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == (kWide ? 32 : 24));
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == (kWide ? 36 : 28));
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb) == 16);
static_assert(offsetof(PassThroughBlock, filler) == (kWide ? 56 : 44));
static_assert(offsetof(PassThroughBlock, sense) == (kWide ? 60 : 48));
static_assert(sizeof(PassThroughBlock) == (kWide ? 96 : 80));
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "the query block is 12 bytes");

// Zeroes the block and fills it for one transfer of `length` bytes at `data`.
void FillPassThroughBlock(PassThroughBlock& block, TransferDirection direction, const std::uint8_t* cdbBytes,
                          UCHAR cdbLength, void* data, std::uint16_t length) {
    const bool toRadio = direction == TransferDirection::ToRadio;
    std::memset(&block, 0, sizeof block);
    SCSI_PASS_THROUGH_DIRECT& r = block.request;
    r.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    r.TargetId = 1;
    r.CdbLength = cdbLength;
    r.SenseInfoLength = static_cast<UCHAR>(toRadio ? kSenseBytesOut : kSenseBytesIn);
    r.DataIn = toRadio ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN;
    r.DataTransferLength = length;
    r.TimeOutValue = kTransferTimeoutSeconds;
    r.DataBuffer = data;
    r.SenseInfoOffset = offsetof(PassThroughBlock, sense);
    std::memcpy(r.Cdb, cdbBytes, cdbLength);
}

// "\\.\E:" for "E:".
std::wstring DevicePath(const std::string& volume) {
    return std::wstring(L"\\\\.\\") + static_cast<wchar_t>(volume[0]) + L":";
}

// The system's words for an error code, without the trailing full stop and
// line break (the operator's message adds its own).
std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr) message.assign(text, length);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\r' || message.back() == '\n' || message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "error " + std::to_string(code);
    return message;
}

OpenError::Kind KindOfError(DWORD code) {
    switch (code) {
        case ERROR_ACCESS_DENIED:
            return OpenError::Kind::PermissionDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return OpenError::Kind::Busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_NOT_READY:
        case ERROR_DEV_NOT_EXIST:
            return OpenError::Kind::NoRadio;  // the radio went away after the scan
        default:
            return OpenError::Kind::Other;
    }
}

class WindowsRadioLink : public RadioLink {
public:
    explicit WindowsRadioLink(HANDLE handle) : handle_(handle) {}
    ~WindowsRadioLink() override { CloseHandle(handle_); }
    WindowsRadioLink(const WindowsRadioLink&) = delete;
    WindowsRadioLink& operator=(const WindowsRadioLink&) = delete;

    TransferOutcome transferOut(const std::uint8_t* bytes, std::uint16_t length) override {
        // A data-out transfer only reads the buffer; the field is not const.
        const std::array<std::uint8_t, 16> cdb = VendorCdb(TransferDirection::ToRadio);
        return transfer(TransferDirection::ToRadio, cdb.data(), 16, const_cast<std::uint8_t*>(bytes), length);
    }
    TransferOutcome transferIn(std::uint8_t* buffer, std::uint16_t length) override {
        const std::array<std::uint8_t, 16> cdb = VendorCdb(TransferDirection::FromRadio);
        TransferOutcome outcome = transfer(TransferDirection::FromRadio, cdb.data(), 16, buffer, length);
        const std::uint32_t kept = (outcome.ok() || outcome.kind() == TransferOutcome::Kind::Short)
                                       ? (outcome.transferred < length ? outcome.transferred : length)
                                       : 0;
        if (buffer != nullptr && kept < length) std::memset(buffer + kept, 0, length - kept);
        return outcome;
    }
    std::optional<StorageIdentity> inquiry(TransferOutcome* outcome) override {
        std::array<std::uint8_t, kInquiryLength> data{};
        const std::array<std::uint8_t, 6> cdb = InquiryCdb();
        TransferOutcome result = transfer(TransferDirection::FromRadio, cdb.data(), 6, data.data(), kInquiryLength);
        if (outcome != nullptr) *outcome = result;
        if ((!result.ok() && result.kind() != TransferOutcome::Kind::Short) || result.transferred < 32)
            return std::nullopt;
        return ParseInquiry(data.data(), result.transferred);
    }

private:
    TransferOutcome transfer(TransferDirection direction, const std::uint8_t* cdbBytes, UCHAR cdbLength, void* data,
                             std::uint16_t length) {
        PassThroughBlock block;
        FillPassThroughBlock(block, direction, cdbBytes, cdbLength, data, length);
        SCSI_PASS_THROUGH_DIRECT& r = block.request;
        DWORD returned = 0;
        TransferOutcome outcome;
        outcome.direction = direction;
        outcome.attempted = true;
        outcome.requested = length;
        const ULONGLONG start = GetTickCount64();
        const BOOL ok = DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block, &block,
                                        sizeof block, &returned, nullptr);
        outcome.duration = std::chrono::milliseconds(GetTickCount64() - start);
        if (!ok) {
            outcome.osError = static_cast<int>(GetLastError());
            outcome.residual = length;
            return outcome;
        }
        // The port driver writes back the status, the sense bytes it
        // returned and the number of bytes actually moved.
        outcome.scsiStatus = r.ScsiStatus;
        if (r.SenseInfoLength > 0)
            ParseSense(block.sense, r.SenseInfoLength < sizeof block.sense ? r.SenseInfoLength : sizeof block.sense,
                       outcome.senseKey, outcome.asc, outcome.ascq);
        outcome.transferred = r.DataTransferLength <= length ? r.DataTransferLength : 0;
        outcome.residual = static_cast<std::int32_t>(length) - static_cast<std::int32_t>(outcome.transferred);
        return outcome;
    }

    HANDLE handle_;
};

}  // namespace

std::vector<std::uint8_t> PassThroughRequestBytes(TransferDirection direction, void* data, std::uint16_t length) {
    PassThroughBlock block;
    const std::array<std::uint8_t, 16> cdb = VendorCdb(direction);
    FillPassThroughBlock(block, direction, cdb.data(), static_cast<UCHAR>(cdb.size()), data, length);
    std::vector<std::uint8_t> bytes(sizeof block);
    std::memcpy(bytes.data(), &block, sizeof block);
    return bytes;
}

bool IsDriveVolume(const std::string& volume) {
    if (volume.size() != 2 || volume[1] != ':') return false;
    const char letter = volume[0];
    return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

std::vector<std::string> WindowsBackend::volumeSlots() {
    const DWORD mask = GetLogicalDrives();
    std::vector<std::string> slots(kScanSlots);
    for (int n = 0; n < kScanSlots; ++n) {
        if ((mask >> n) & 1u) slots[n] = std::string(1, static_cast<char>('A' + n)) + ":";
    }
    return slots;
}

bool WindowsBackend::isRemovable(const std::string& volume) {
    if (!IsDriveVolume(volume)) return false;
    const std::wstring root = std::wstring(1, static_cast<wchar_t>(volume[0])) + L":\\";
    return GetDriveTypeW(root.c_str()) == DRIVE_REMOVABLE;
}

std::optional<StorageIdentity> WindowsBackend::probe(const std::string& volume) {
    if (!IsDriveVolume(volume)) return std::nullopt;
    const std::wstring path = DevicePath(volume);
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;

    STORAGE_PROPERTY_QUERY query;
    std::memset(&query, 0, sizeof query);
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::array<std::uint8_t, kStorageDescriptorBytes> descriptor{};
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                                    descriptor.data(), static_cast<DWORD>(descriptor.size()), &returned,
                                    nullptr);
    CloseHandle(handle);
    if (!ok) return std::nullopt;
    const std::size_t received = returned < descriptor.size() ? returned : descriptor.size();
    return ParseStorageDescriptor(descriptor.data(), received);
}

std::unique_ptr<RadioLink> WindowsBackend::open(const std::string& volume, OpenError* error) {
    OpenError result;
    std::unique_ptr<RadioLink> link;
    result.device = volume;
    if (!IsDriveVolume(volume)) {
        result.kind = OpenError::Kind::NoRadio;
    } else {
        const std::wstring path = DevicePath(volume);
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            link = std::make_unique<WindowsRadioLink>(handle);
            result = OpenError{};
        } else {
            const DWORD code = GetLastError();
            result.kind = KindOfError(code);
            result.detail = SystemMessage(code);
        }
    }
    if (error != nullptr) *error = result;
    return link;
}

}  // namespace varnel
