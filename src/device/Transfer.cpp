#include "device/Transfer.h"

#include <cstdio>

#include "device/Mass_storage.h"

namespace varnel {

namespace {

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

// Linux host_status values (DID_*) by name, after the number.
std::string HostStatusText(unsigned status) {
    static const char* const kNames[] = {"DID_OK",     "DID_NO_CONNECT", "DID_BUS_BUSY", "DID_TIME_OUT",
                                         "DID_BAD_TARGET", "DID_ABORT",  "DID_PARITY",   "DID_ERROR",
                                         "DID_RESET",  "DID_BAD_INTR",   "DID_PASSTHROUGH", "DID_SOFT_ERROR",
                                         "DID_IMM_RETRY", "DID_REQUEUE", "DID_TRANSPORT_DISRUPTED",
                                         "DID_TRANSPORT_FAILFAST"};
    std::string text = Hex2(status);
    if (status < sizeof kNames / sizeof kNames[0]) text += std::string(" (") + kNames[status] + ")";
    return text;
}

constexpr std::uint16_t kDidNoConnect = 0x01;

}  // namespace

TransferOutcome::Kind TransferOutcome::kind() const {
    if (!attempted) return Kind::NoLink;
    if (timedOut) return Kind::TimedOut;
    if (deviceGone) return Kind::Gone;
    if (osError != 0) return MeaningOfOsError(osError).transfer;
    // Linux host codes: DID_TIME_OUT 0x03, DID_NO_CONNECT 0x01 (the device
    // is gone); anything else non-zero is a link failure.
    if (hostStatus == 0x03) return Kind::TimedOut;
    if (hostStatus == kDidNoConnect) return Kind::Gone;
    if (hostStatus != 0) return Kind::HostError;
    switch (scsiStatus & 0xFE) {
        case 0x00: break;
        case 0x02: return Kind::CheckCondition;
        case 0x08:
        case 0x18: return Kind::DeviceBusy;
        default: return Kind::CheckCondition;
    }
    // Linux driver codes: low nibble DRIVER_TIMEOUT 0x06, others failures.
    // DRIVER_SENSE (0x08) alone only says sense data came back.
    if ((driverStatus & 0x0F) == 0x06) return Kind::TimedOut;
    if ((driverStatus & 0x0F) != 0) return Kind::HostError;
    if (senseKey != 0 && senseKey != 0x01) return Kind::CheckCondition;  // RECOVERED ERROR is fine
    if (transferred < requested) return Kind::Short;
    return Kind::Ok;
}

std::string TransferOutcome::describe() const {
    std::string text = direction == TransferDirection::ToRadio ? "send" : "read";
    const Kind k = kind();
    switch (k) {
        case Kind::Ok: text += " done"; break;
        case Kind::NoLink: return text + " not attempted: no link to the radio";
        case Kind::Permission: text += " refused by the system: " + OsErrorName(osError); break;
        case Kind::Gone:
            text += " failed, device gone: ";
            if (osError != 0) {
                text += OsErrorName(osError);
            } else {
                text += "host status " + HostStatusText(hostStatus);
                if (hostStatus != kDidNoConnect) text += ", then DID_NO_CONNECT";
            }
            break;
        case Kind::TimedOut: text += " timed out"; break;
        case Kind::CheckCondition:
            text += " failed: SCSI status " + Hex2(scsiStatus) + (scsiStatus == 0x02 ? " (CHECK CONDITION)" : "");
            if (senseKey != 0) {
                text += ", sense key " + Hex2(senseKey) + " " + SenseKeyName(senseKey) + ", ASC/ASCQ " +
                        Hex2(asc) + "/" + Hex2(ascq);
            }
            break;
        case Kind::DeviceBusy: text += " failed: device busy (SCSI status " + Hex2(scsiStatus) + ")"; break;
        case Kind::HostError:
            text += " failed: host status " + HostStatusText(hostStatus) + ", driver status " + Hex2(driverStatus);
            break;
        case Kind::Short: text += " short"; break;
        case Kind::OsError: text += " failed: " + OsErrorName(osError); break;
    }
    text += ", " + std::to_string(transferred) + " of " + std::to_string(requested) + " bytes";
    char ms[32];
    std::snprintf(ms, sizeof ms, ", %.1f ms", static_cast<double>(duration.count()) / 1000.0);
    return text + ms;
}

bool ParseSense(const std::uint8_t* sense, std::size_t length, std::uint8_t& key, std::uint8_t& asc,
                std::uint8_t& ascq) {
    key = asc = ascq = 0;
    if (sense == nullptr || length < 2) return false;
    const std::uint8_t code = sense[0] & 0x7F;
    if (code == 0x70 || code == 0x71) {
        if (length < 3) return false;
        key = sense[2] & 0x0F;
        if (length > 12) asc = sense[12];
        if (length > 13) ascq = sense[13];
        return true;
    }
    if (code == 0x72 || code == 0x73) {
        key = sense[1] & 0x0F;
        if (length > 2) asc = sense[2];
        if (length > 3) ascq = sense[3];
        return true;
    }
    return false;
}

const char* SenseKeyName(std::uint8_t key) {
    static const char* const kNames[] = {
        "NO SENSE",        "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",    "HARDWARE ERROR",
        "ILLEGAL REQUEST", "UNIT ATTENTION",  "DATA PROTECT",   "BLANK CHECK",     "VENDOR SPECIFIC",
        "COPY ABORTED",    "ABORTED COMMAND", "(reserved)",     "VOLUME OVERFLOW", "MISCOMPARE",
        "COMPLETED"};
    return kNames[key & 0x0F];
}

}  // namespace varnel
