#include "usbradio/BulkOnly.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace varnel::usbradio {

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}
void PutLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Room for one CBW read: a whole high-speed packet, so that a host that
// sends more than 31 bytes is seen doing it (a short packet ends the read).
constexpr std::size_t kCbwRoom = 512;
// Data is taken and dropped in pieces of this size.
constexpr std::size_t kDiscardChunk = 64 * 1024;

}  // namespace

std::optional<CommandBlock> ParseCommandBlock(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length != kCbwLength || Le32(bytes) != kCbwSignature) return std::nullopt;
    CommandBlock block;
    block.tag = Le32(bytes + 4);
    block.dataLength = Le32(bytes + 8);
    block.dataIn = (bytes[12] & 0x80) != 0;
    block.lun = bytes[13] & 0x0F;
    block.cdbLength = bytes[14] & 0x1F;
    if (block.cdbLength < 1 || block.cdbLength > 16) return std::nullopt;
    std::copy(bytes + 15, bytes + 15 + 16, block.cdb.begin());
    return block;
}

std::array<std::uint8_t, kCswLength> BuildStatus(std::uint32_t tag, std::uint32_t residue, std::uint8_t status) {
    std::array<std::uint8_t, kCswLength> csw{};
    PutLe32(csw.data(), kCswSignature);
    PutLe32(csw.data() + 4, tag);
    PutLe32(csw.data() + 8, residue);
    csw[12] = status;
    return csw;
}

bool BulkOnlyTransport::sendIn(const Intent& intent, std::uint32_t count, Served& served) {
    std::uint32_t sent = 0;
    while (sent < count) {
        const long n = endpoints_.writeIn(intent.data.data() + sent, count - sent);
        if (n < 0) return false;
        if (n == 0) break;
        sent += static_cast<std::uint32_t>(n);
    }
    served.moved = sent;
    return true;
}

bool BulkOnlyTransport::takeOut(std::uint32_t count, bool use, Served& served) {
    std::vector<std::uint8_t> data;
    std::uint32_t taken = 0;
    if (use) data.resize(count);
    std::vector<std::uint8_t> scratch(use ? 0 : std::min<std::size_t>(count, kDiscardChunk));
    while (taken < count) {
        const std::size_t want = use ? count - taken : std::min<std::size_t>(count - taken, kDiscardChunk);
        std::uint8_t* into = use ? data.data() + taken : scratch.data();
        const long n = endpoints_.readOut(into, want);
        if (n < 0) return false;
        if (n == 0) break;
        taken += static_cast<std::uint32_t>(n);
    }
    served.moved = taken;
    if (use) target_.receiveOut(data.data(), taken);
    return true;
}

Served BulkOnlyTransport::serveOne() {
    Served served;
    std::array<std::uint8_t, kCbwRoom> raw{};
    const long got = endpoints_.readOut(raw.data(), raw.size());
    if (got < 0) {
        served.end = Served::End::Interrupted;
        served.note = "waiting for a command";
        return served;
    }
    const std::optional<CommandBlock> parsed = ParseCommandBlock(raw.data(), static_cast<std::size_t>(got));
    if (!parsed) {
        // Not a valid CBW: both bulk endpoints stay halted until the host's
        // reset recovery.
        endpoints_.haltIn();
        endpoints_.haltOut();
        served.end = Served::End::InvalidCommandBlock;
        served.haltedIn = served.haltedOut = true;
        served.note = "invalid command block wrapper (" + std::to_string(got) + " bytes)";
        endpoints_.pause(std::chrono::milliseconds(-1));
        return served;
    }
    const CommandBlock& block = *parsed;
    served.block = block;
    if (onCommand && onCommand(block)) {
        served.note = "held until the host resets the device";
        endpoints_.pause(std::chrono::milliseconds(-1));
        served.end = Served::End::Interrupted;
        return served;
    }
    const std::uint32_t host = block.dataLength;
    const bool hostIn = host > 0 && block.dataIn;
    const bool hostOut = host > 0 && !block.dataIn;

    Intent intent;
    if (block.lun != 0) {
        intent = Intent{};
        target_.refuse(sense::kLogicalUnitNotSupported);
        served.note = "no such logical unit";
    } else {
        intent = target_.prepare(block.cdb.data(), block.cdbLength, block.dataIn, host);
    }
    std::uint8_t status = block.lun != 0 ? kCswFailed : target_.Status();

    if (intent.hang) {
        // A hung command: no data, no status, until the host resets the device.
        served.note = "held until the host resets the device";
        endpoints_.pause(std::chrono::milliseconds(-1));
        served.end = Served::End::Interrupted;
        return served;
    }
    if (intent.delay.count() > 0 && !endpoints_.pause(intent.delay)) {
        served.end = Served::End::Interrupted;
        served.note = "reset during the delay";
        return served;
    }

    std::uint32_t residue = 0;
    bool ok = true;
    const std::uint32_t device = intent.phase == Phase::None ? 0 : intent.length;
    if (!hostIn && !hostOut) {
        // Hn: only a device that means no data is in step with the host.
        if (device > 0) status = kCswPhaseError;
    } else if (hostIn) {
        if (intent.phase == Phase::Out) {
            endpoints_.haltIn();
            served.haltedIn = true;
            status = kCswPhaseError;
            residue = host;
        } else {
            const std::uint32_t count = std::min(device, host);
            ok = sendIn(intent, count, served);
            if (ok && device > host) status = kCswPhaseError;
            if (ok && served.moved < host) {
                const std::size_t packet = std::max<std::size_t>(endpoints_.maxPacket(), 1);
                // A short packet ends the transfer by itself; an empty or
                // whole-packet end needs the halt.
                if (served.moved % packet == 0) {
                    endpoints_.haltIn();
                    served.haltedIn = true;
                }
            }
            residue = host - served.moved;
        }
    } else {  // hostOut
        if (intent.phase == Phase::In) {
            endpoints_.haltOut();
            served.haltedOut = true;
            status = kCswPhaseError;
            residue = host;
        } else if (intent.phase == Phase::None) {
            ok = takeOut(host, false, served);
            residue = host;
        } else {
            const std::uint32_t use = std::min(device, host);
            ok = takeOut(use, true, served);
            if (ok && host > use) {
                Served rest;
                ok = takeOut(host - use, false, rest);
            }
            if (ok && device > host) status = kCswPhaseError;
            residue = host - std::min(served.moved, host);
        }
    }
    if (!ok) {
        served.end = Served::End::Interrupted;
        served.note = "reset or disconnect during the data phase";
        return served;
    }
    served.status = status;
    served.residue = residue;
    const std::array<std::uint8_t, kCswLength> csw = BuildStatus(block.tag, residue, status);
    if (endpoints_.writeIn(csw.data(), csw.size()) < 0) {
        served.end = Served::End::Interrupted;
        served.note = "reset or disconnect before the status";
    }
    return served;
}

}  // namespace varnel::usbradio
