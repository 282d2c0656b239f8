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
#include <map>
#include <memory>
#include <mutex>
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

// Zeroes the block and fills it for one command.
void FillPassThroughBlock(PassThroughBlock& block, const ScsiCommand& command) {
    const bool toRadio = command.direction == TransferDirection::ToRadio;
    std::memset(&block, 0, sizeof block);
    SCSI_PASS_THROUGH_DIRECT& r = block.request;
    r.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    r.TargetId = 1;
    r.CdbLength = command.cdbLength;
    r.SenseInfoLength = static_cast<UCHAR>(command.senseRoom < sizeof block.sense ? command.senseRoom
                                                                                   : sizeof block.sense);
    r.DataIn = toRadio ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN;
    r.DataTransferLength = command.length;
    r.TimeOutValue = command.timeoutSeconds;
    r.DataBuffer = command.data;
    r.SenseInfoOffset = offsetof(PassThroughBlock, sense);
    std::memcpy(r.Cdb, command.cdb.data(), command.cdbLength);
}

// The system's error codes as this program reads them: what a transfer or
// an open that failed with the code means.
struct OsErrorRow {
    DWORD code;
    TransferOutcome::Kind transfer;
    OpenError::Kind open;
};
using TK = TransferOutcome::Kind;
using OK = OpenError::Kind;
constexpr OsErrorRow kOsErrors[] = {
    {ERROR_ACCESS_DENIED, TK::Permission, OK::PermissionDenied},
    {ERROR_NOT_READY, TK::Gone, OK::NoRadio},  // the radio went away after the scan
    {ERROR_FILE_NOT_FOUND, TK::Gone, OK::NoRadio},
    {ERROR_DEVICE_NOT_CONNECTED, TK::Gone, OK::Other},
    {433, TK::Gone, OK::Other},  // ERROR_NO_SUCH_DEVICE (not in every SDK's headers)
    {ERROR_GEN_FAILURE, TK::Gone, OK::Other},
    {ERROR_SEM_TIMEOUT, TK::TimedOut, OK::Other},
    {ERROR_BUSY, TK::DeviceBusy, OK::Other},
    {ERROR_SHARING_VIOLATION, TK::OsError, OK::Busy},
    {ERROR_LOCK_VIOLATION, TK::OsError, OK::Busy},
    {ERROR_PATH_NOT_FOUND, TK::OsError, OK::NoRadio},
    {ERROR_DEV_NOT_EXIST, TK::OsError, OK::NoRadio},
};

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

// One program per radio: a named mutex per drive letter, held (its handle
// open) as long as a link of this process is open on that drive. The
// volume itself stays shared, as the scan's probes need it; the mutex's
// existence is the lock, so it may be released from any thread (a link
// closed meanwhile may be finishing its last transfer on the I/O thread).
class DriveLock {
public:
    explicit DriveLock(HANDLE handle) : handle_(handle) {}
    ~DriveLock() { CloseHandle(handle_); }
    DriveLock(const DriveLock&) = delete;
    DriveLock& operator=(const DriveLock&) = delete;

private:
    HANDLE handle_;
};

// The drive's lock, shared with this process's other links on it; nothing
// when another program holds it.
std::shared_ptr<DriveLock> LockDrive(const std::string& volume) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<DriveLock>> held;
    std::lock_guard lock(mutex);
    if (auto it = held.find(volume); it != held.end()) {
        if (std::shared_ptr<DriveLock> existing = it->second.lock()) return existing;
    }
    const std::wstring name = L"Global\\VarnelTunerRadio-" + std::wstring(1, static_cast<wchar_t>(volume[0]));
    HANDLE handle = CreateMutexW(nullptr, FALSE, name.c_str());
    if (handle == nullptr) return nullptr;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        return nullptr;
    }
    auto created = std::make_shared<DriveLock>(handle);
    held[volume] = created;
    return created;
}

class WindowsRadioLink : public RadioLink {
public:
    WindowsRadioLink(HANDLE handle, std::shared_ptr<DriveLock> lock) : handle_(handle), lock_(std::move(lock)) {}
    ~WindowsRadioLink() override { CloseHandle(handle_); }
    WindowsRadioLink(const WindowsRadioLink&) = delete;
    WindowsRadioLink& operator=(const WindowsRadioLink&) = delete;

    void issue(ScsiCommand& command) override {
        PassThroughBlock block;
        FillPassThroughBlock(block, command);
        SCSI_PASS_THROUGH_DIRECT& r = block.request;
        DWORD returned = 0;
        TransferOutcome& outcome = command.outcome;
        outcome = TransferOutcome{};
        outcome.direction = command.direction;
        outcome.attempted = true;
        outcome.requested = command.length;
        command.sense.fill(0);
        command.senseReturned = 0;
        const ULONGLONG start = GetTickCount64();
        const BOOL ok = DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block, &block,
                                        sizeof block, &returned, nullptr);
        outcome.duration = std::chrono::milliseconds(GetTickCount64() - start);
        if (!ok) {
            outcome.osError = static_cast<int>(GetLastError());
            outcome.residual = command.length;
            return;
        }
        // The port driver writes back the status, the sense bytes it
        // returned and the number of bytes actually moved.
        outcome.scsiStatus = r.ScsiStatus;
        if (r.SenseInfoLength > 0) {
            const std::size_t senseBytes =
                r.SenseInfoLength < sizeof block.sense ? r.SenseInfoLength : sizeof block.sense;
            std::memcpy(command.sense.data(), block.sense, senseBytes);
            command.senseReturned = static_cast<std::uint8_t>(senseBytes);
            ParseSense(block.sense, senseBytes, outcome.senseKey, outcome.asc, outcome.ascq);
        }
        outcome.transferred = r.DataTransferLength <= command.length ? r.DataTransferLength : 0;
        outcome.residual = static_cast<std::int32_t>(command.length) - static_cast<std::int32_t>(outcome.transferred);
    }

private:
    HANDLE handle_;
    std::shared_ptr<DriveLock> lock_;
};

}  // namespace

OsErrorMeaning MeaningOfOsError(int code) {
    for (const OsErrorRow& row : kOsErrors) {
        if (row.code == static_cast<DWORD>(code)) return {row.transfer, row.open};
    }
    return {};
}

std::string OsErrorName(int code) { return "error " + std::to_string(code); }

int PermissionErrorCode() { return ERROR_ACCESS_DENIED; }
int DeviceGoneErrorCode() { return ERROR_DEVICE_NOT_CONNECTED; }

std::vector<std::uint8_t> PassThroughRequestBytes(TransferDirection direction, void* data, std::uint16_t length) {
    PassThroughBlock block;
    FillPassThroughBlock(block, ScsiCommand::vendor(direction, static_cast<std::uint8_t*>(data), length));
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
        std::shared_ptr<DriveLock> lock = LockDrive(volume);
        HANDLE handle = INVALID_HANDLE_VALUE;
        if (lock) {
            handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
        }
        if (!lock) {
            result.kind = OpenError::Kind::Busy;
            result.detail = "another program has it open; close that program, or wait until it is done";
        } else if (handle != INVALID_HANDLE_VALUE) {
            link = std::make_unique<WindowsRadioLink>(handle, std::move(lock));
            result = OpenError{};
        } else {
            const DWORD code = GetLastError();
            result.kind = MeaningOfOsError(static_cast<int>(code)).open;
            result.detail = SystemMessage(code);
        }
    }
    if (error != nullptr) *error = result;
    return link;
}

}  // namespace varnel
