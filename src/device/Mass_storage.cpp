#include "device/Mass_storage.h"

#include <algorithm>
#include <cstring>

namespace varnel {

std::array<std::string, kRadioDriveEntries> radioDriveLetters;

namespace {
DeviceBackend* g_backend = nullptr;
OpenError g_lastOpenError;
}  // namespace

std::array<std::uint8_t, 16> VendorCdb(TransferDirection direction) {
    std::array<std::uint8_t, 16> cdb{};
    cdb[0] = 0xFF;
    cdb[1] = direction == TransferDirection::ToRadio ? 0x2A : 0x28;
    cdb[14] = 0x47;  // 'G'
    cdb[15] = 0x50;  // 'P'
    return cdb;
}

std::array<std::uint8_t, 6> InquiryCdb() { return {0x12, 0x00, 0x00, 0x00, kInquiryLength, 0x00}; }

StorageIdentity ParseInquiry(const std::uint8_t* data, std::size_t length) {
    const auto field = [&](std::size_t from, std::size_t size) -> std::string {
        if (data == nullptr || length < from + size) return "(NULL)";
        return std::string(reinterpret_cast<const char*>(data + from), size);
    };
    return StorageIdentity{field(8, 8), field(16, 16)};
}

std::array<std::uint8_t, kInquiryLength> StandardInquiryData(const StorageIdentity& identity) {
    std::array<std::uint8_t, kInquiryLength> data{};
    data[0] = 0x00;                  // direct-access block device
    data[1] = 0x80;                  // removable medium
    data[2] = 0x04;                  // SPC-2
    data[3] = 0x02;                  // response data format 2
    data[4] = kInquiryLength - 5;    // additional length
    const auto put = [&](std::size_t at, std::size_t size, const std::string& text) {
        for (std::size_t i = 0; i < size; ++i)
            data[at + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
    };
    put(8, 8, identity.vendor);
    put(16, 16, identity.product);
    put(32, 4, "1.00");
    return data;
}

ScsiCommand ScsiCommand::vendor(TransferDirection direction, std::uint8_t* data, std::uint16_t length) {
    ScsiCommand command;
    command.cdb = VendorCdb(direction);
    command.cdbLength = 16;
    command.direction = direction;
    command.data = data;
    command.length = length;
    command.senseRoom = static_cast<std::uint8_t>(direction == TransferDirection::ToRadio ? kSenseBytesOut
                                                                                          : kSenseBytesIn);
    return command;
}

ScsiCommand ScsiCommand::inquiry(std::uint8_t* data) {
    ScsiCommand command;
    const std::array<std::uint8_t, 6> cdb = InquiryCdb();
    std::copy(cdb.begin(), cdb.end(), command.cdb.begin());
    command.cdbLength = static_cast<std::uint8_t>(cdb.size());
    command.direction = TransferDirection::FromRadio;
    command.data = data;
    command.length = kInquiryLength;
    command.senseRoom = static_cast<std::uint8_t>(kSenseBytesIn);
    return command;
}

TransferOutcome RadioLink::transferOut(const std::uint8_t* bytes, std::uint16_t length) {
    // A data-out command only reads its buffer.
    ScsiCommand command = ScsiCommand::vendor(TransferDirection::ToRadio, const_cast<std::uint8_t*>(bytes), length);
    issue(command);
    return command.outcome;
}

TransferOutcome RadioLink::transferIn(std::uint8_t* buffer, std::uint16_t length) {
    ScsiCommand command = ScsiCommand::vendor(TransferDirection::FromRadio, buffer, length);
    issue(command);
    const TransferOutcome& outcome = command.outcome;
    const std::uint32_t kept = outcome.ok() || outcome.kind() == TransferOutcome::Kind::Short
                                   ? std::min<std::uint32_t>(outcome.transferred, length)
                                   : 0;
    if (buffer != nullptr && kept < length) std::memset(buffer + kept, 0, length - kept);
    return outcome;
}

std::optional<StorageIdentity> RadioLink::inquiry(TransferOutcome* outcome) {
    std::array<std::uint8_t, kInquiryLength> data{};
    ScsiCommand command = ScsiCommand::inquiry(data.data());
    issue(command);
    const TransferOutcome& result = command.outcome;
    if (outcome != nullptr) *outcome = result;
    // A device may send fewer than 36 bytes; vendor and product need 32.
    if (!result.attempted || (!result.ok() && result.kind() != TransferOutcome::Kind::Short) ||
        result.transferred < 32)
        return std::nullopt;
    return ParseInquiry(data.data(), std::min<std::size_t>(result.transferred, data.size()));
}

bool IsRadioIdentity(const StorageIdentity& identity) {
    return identity.vendor == kRadioVendor && identity.product == kRadioProduct;
}

void SetDeviceBackend(DeviceBackend* backend) { g_backend = backend; }
DeviceBackend* CurrentDeviceBackend() { return g_backend; }

std::uint16_t ScanRadioDrives() {
    for (auto& entry : radioDriveLetters) entry.clear();
    std::uint16_t count = 0;
    if (g_backend == nullptr) return 0;
    const std::vector<std::string> slots = g_backend->volumeSlots();
    const std::size_t limit = std::min<std::size_t>(slots.size(), kScanSlots);
    for (std::size_t n = 0; n < limit; ++n) {
        const std::string& volume = slots[n];
        if (volume.empty()) continue;
        if (!g_backend->slotsAreRemovable() && !g_backend->isRemovable(volume)) continue;
        if (!g_backend->isRadioVolume(volume)) continue;
        radioDriveLetters[count] = volume;
        ++count;
    }
    return count;
}

std::unique_ptr<RadioLink> OpenRadio(OpenError* error) {
    OpenError result;
    std::unique_ptr<RadioLink> link;
    const std::string& volume = radioDriveLetters[0];
    if (g_backend == nullptr || volume.empty()) {
        result.kind = OpenError::Kind::NoRadio;
    } else {
        link = g_backend->open(volume, &result);
        if (link) {
            result = OpenError{};
            // The scan read the strings the system kept; the handle may lead
            // to another device by now. Ask the device itself.
            TransferOutcome outcome;
            const std::optional<StorageIdentity> identity = link->inquiry(&outcome);
            if (identity && !IsRadioIdentity(*identity)) {
                result.kind = OpenError::Kind::WrongDevice;
                result.detail = "it now reports \"" + identity->vendor + "\" \"" + identity->product + "\"";
                link.reset();
            } else if (!identity && outcome.attempted) {
                result.kind = OpenError::Kind::WrongDevice;
                result.detail = "it did not answer the identity query: " + outcome.describe();
                link.reset();
            }
        } else if (result.kind == OpenError::Kind::None) {
            result.kind = OpenError::Kind::Other;
        }
        if (!link && result.device.empty()) result.device = g_backend->describe(volume);
    }
    g_lastOpenError = result;
    if (error != nullptr) *error = result;
    return link;
}

const OpenError& LastOpenError() { return g_lastOpenError; }

std::string DescribeOpenError(const OpenError& error) {
    switch (error.kind) {
        case OpenError::Kind::None:
            return {};
        case OpenError::Kind::NoRadio:
            return "No radio was found among the removable drives. Check the USB cable and that "
                   "the radio is switched on.";
        case OpenError::Kind::PermissionDenied:
            if (error.detail.find("sg driver") != std::string::npos)
                return "The radio was found at " + error.device +
                       ", but this user cannot send it commands there: " + error.detail + ".";
            return "The radio was found at " + error.device +
                   ", but this user may not open it (permission denied). Install the udev rule "
                   "dist/60-varnel-radio.rules as described in the README, then unplug and "
                   "replug the radio.";
        case OpenError::Kind::Busy:
            return "The radio at " + error.device + " is in use by another program" +
                   (error.detail.empty() ? std::string(".") : " (" + error.detail + ").");
        case OpenError::Kind::WrongDevice:
            return "The device at " + error.device + " is no longer the radio" +
                   (error.detail.empty() ? std::string(".") : " (" + error.detail + ").") +
                   " Check which drive is plugged in and try again.";
        case OpenError::Kind::Other:
            break;
    }
    std::string text = "The radio";
    if (!error.device.empty()) text += " at " + error.device;
    text += " could not be opened";
    if (!error.detail.empty()) text += ": " + error.detail;
    return text + ".";
}

TransferOutcome SendToRadio(RadioLink* handle, const std::uint8_t* bytes, std::uint16_t length) {
    if (handle == nullptr) return TransferOutcome::noLinkFor(TransferDirection::ToRadio, length);
    return handle->transferOut(bytes, length);
}

TransferOutcome ReadFromRadio(RadioLink* handle, std::uint8_t* buffer, std::uint16_t length) {
    if (buffer == nullptr || length == 0) return TransferOutcome::done(TransferDirection::FromRadio, 0);
    std::memset(buffer, 0, length);
    if (handle == nullptr) return TransferOutcome::noLinkFor(TransferDirection::FromRadio, length);
    TransferOutcome outcome = handle->transferIn(buffer, length);
    // Only what the device delivered counts. A failed transfer delivered
    // nothing usable; a short one only its first bytes (the sg driver copies
    // its whole reserve buffer back, stale bytes included).
    const std::uint32_t kept = outcome.ok() || outcome.kind() == TransferOutcome::Kind::Short
                                   ? std::min<std::uint32_t>(outcome.transferred, length)
                                   : 0;
    if (kept < length) std::memset(buffer + kept, 0, length - kept);
    return outcome;
}

}  // namespace varnel
