// What became of one transfer to or from the radio.
//
// Every vendor command (and the identity query) records the system's answer
// the way a SCSI pass-through reports it: the OS error of the call, the SCSI
// status, the host adapter's and the driver's status, the sense key with its
// additional codes, the residual count and how long the call took. Nothing
// here is Linux- or Windows-specific; each backend fills what its platform
// reports and leaves the rest at zero.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace varnel {

enum class TransferDirection { ToRadio, FromRadio };

struct TransferOutcome {
    // What went wrong, coarsely, for messages and exit codes.
    enum class Kind {
        Ok,
        NoLink,          // there was no open link; nothing was tried
        Permission,      // the system refused the command (EPERM, EACCES, access denied)
        Gone,            // the device went away (ENODEV, ENXIO, device not connected)
        TimedOut,        // the transfer did not complete within its time-out
        CheckCondition,  // the device answered CHECK CONDITION (see sense key)
        DeviceBusy,      // SCSI status BUSY or RESERVATION CONFLICT, or the link's queue is full
        HostError,       // the host adapter or driver reported a failure
        Short,           // fewer bytes moved than requested
        OsError,         // any other error of the system call
    };

    TransferDirection direction = TransferDirection::ToRadio;
    bool attempted = false;         // false: no link, nothing was tried
    std::uint32_t requested = 0;    // bytes asked for
    std::uint32_t transferred = 0;  // bytes the device actually moved
    int osError = 0;                // errno / GetLastError of the call, 0 when it succeeded
    bool timedOut = false;          // the system reported the time-out
    std::uint8_t scsiStatus = 0;    // 0x00 GOOD, 0x02 CHECK CONDITION, 0x08 BUSY, ...
    std::uint16_t hostStatus = 0;   // Linux host_status (DID_*), 0 elsewhere
    std::uint16_t driverStatus = 0; // Linux driver_status (DRIVER_*), 0 elsewhere
    std::uint8_t senseKey = 0;      // from fixed or descriptor sense data
    std::uint8_t asc = 0;           // additional sense code
    std::uint8_t ascq = 0;          // additional sense code qualifier
    std::int32_t residual = 0;      // requested - transferred, as the system reports it
    std::chrono::microseconds duration{0};
    // The transfer failed and a check right after it found the device gone
    // (Linux: a command in flight when the cable is pulled ends in DID_ERROR;
    // only the next one is told DID_NO_CONNECT).
    bool deviceGone = false;

    // A successful, complete transfer.
    static TransferOutcome done(TransferDirection direction, std::uint32_t bytes) {
        TransferOutcome o;
        o.direction = direction;
        o.attempted = true;
        o.requested = bytes;
        o.transferred = bytes;
        return o;
    }
    // Nothing was tried: no link.
    static TransferOutcome noLinkFor(TransferDirection direction, std::uint32_t bytes) {
        TransferOutcome o;
        o.direction = direction;
        o.requested = bytes;
        return o;
    }

    Kind kind() const;
    bool ok() const { return kind() == Kind::Ok; }
    // One line for the communication log and the command-line tool, e.g.
    // "read failed: permission refused (EPERM), 0 of 9 bytes, 0.1 ms".
    std::string describe() const;
};

// Sense key, additional sense code and qualifier out of fixed (0x70/0x71) or
// descriptor (0x72/0x73) format sense data; false when there is none.
bool ParseSense(const std::uint8_t* sense, std::size_t length, std::uint8_t& key, std::uint8_t& asc,
                std::uint8_t& ascq);

// The SCSI name of a sense key ("ILLEGAL REQUEST").
const char* SenseKeyName(std::uint8_t key);

}  // namespace varnel

namespace varnel {
// The platform's error codes for a refused command and for a device that is
// gone (EPERM / ENODEV on Linux, ERROR_ACCESS_DENIED /
// ERROR_DEVICE_NOT_CONNECTED on Windows); the virtual radio reports these.
// Defined beside the platform's error table.
int PermissionErrorCode();
int DeviceGoneErrorCode();
}  // namespace varnel
