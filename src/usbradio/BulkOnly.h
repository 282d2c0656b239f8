// USB mass storage Bulk-Only Transport, device side: the 31-byte command
// block wrapper (CBW) on bulk OUT, the data phase, the 13-byte command status
// wrapper (CSW) on bulk IN, with the residue and phase-error rules of the
// thirteen host/device cases (BOT 1.0, 6.7):
//
//   host expects   device means   what is done
//   nothing        nothing        CSW, residue 0
//   nothing        data           CSW phase error
//   IN Hi          nothing        bulk IN halted, CSW residue Hi
//   IN Hi          IN Di <= Hi    Di bytes (a short end halts bulk IN when Di
//                                 is a whole number of packets), residue Hi-Di
//   IN Hi          IN Di > Hi     Hi bytes, CSW phase error
//   IN             OUT            bulk IN halted, CSW phase error
//   OUT Ho         nothing        the Ho bytes are taken and dropped, residue Ho
//   OUT Ho         OUT Do <= Ho   Do bytes used, the rest dropped, residue Ho-Do
//   OUT Ho         OUT Do > Ho    Ho bytes taken, CSW phase error
//   OUT            IN             bulk OUT halted, CSW phase error
//
// A CBW that is not valid (length, signature, CDB length) halts both bulk
// endpoints until the host's reset recovery, as the standard asks. The
// endpoint I/O and the waits sit behind `Endpoints`, so the rules run
// against a fake host in the tests and against FunctionFS in the program.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "usbradio/ScsiTarget.h"

namespace varnel::usbradio {

inline constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC"
inline constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"
inline constexpr std::size_t kCbwLength = 31;
inline constexpr std::size_t kCswLength = 13;

inline constexpr std::uint8_t kCswPassed = 0;
inline constexpr std::uint8_t kCswFailed = 1;
inline constexpr std::uint8_t kCswPhaseError = 2;

struct CommandBlock {
    std::uint32_t tag = 0;
    std::uint32_t dataLength = 0;
    bool dataIn = false;
    std::uint8_t lun = 0;
    std::uint8_t cdbLength = 0;
    std::array<std::uint8_t, 16> cdb{};
};

// A valid CBW (exactly 31 bytes, the signature, a CDB of 1 to 16 bytes),
// or nothing.
std::optional<CommandBlock> ParseCommandBlock(const std::uint8_t* bytes, std::size_t length);
std::array<std::uint8_t, kCswLength> BuildStatus(std::uint32_t tag, std::uint32_t residue, std::uint8_t status);

// The bulk endpoints as the transport needs them. Reads and writes return
// the bytes moved, or a negative errno (a reset or a disconnect interrupts
// them with -EINTR / -ESHUTDOWN).
class Endpoints {
public:
    virtual ~Endpoints() = default;
    virtual long readOut(std::uint8_t* buffer, std::size_t length) = 0;
    virtual long writeIn(const std::uint8_t* bytes, std::size_t length) = 0;
    virtual void haltIn() = 0;
    virtual void haltOut() = 0;
    virtual std::size_t maxPacket() = 0;
    // Waits up to `time` (forever for a negative time); false when a reset
    // or a disconnect came first.
    virtual bool pause(std::chrono::milliseconds time) = 0;
};

// What became of one command, for the log and the tests.
struct Served {
    enum class End { Done, InvalidCommandBlock, Interrupted } end = End::Done;
    CommandBlock block;
    std::uint8_t status = 0;
    std::uint32_t residue = 0;
    std::uint32_t moved = 0;  // data bytes sent or taken
    bool haltedIn = false;
    bool haltedOut = false;
    std::string note;
};

class BulkOnlyTransport {
public:
    BulkOnlyTransport(ScsiTarget& target, Endpoints& endpoints) : target_(target), endpoints_(endpoints) {}

    // Reads one CBW, runs its command and sends the CSW.
    Served serveOne();
    // Called with every valid CBW as it arrives, before its data phase; true
    // holds the command (no data, no status) until the host resets the
    // device or the cable goes, as a hung firmware would.
    std::function<bool(const CommandBlock&)> onCommand;

private:
    // Data phase of a command whose device intent is known; false when the
    // endpoint I/O was interrupted.
    bool sendIn(const Intent& intent, std::uint32_t count, Served& served);
    bool takeOut(std::uint32_t count, bool use, Served& served);

    ScsiTarget& target_;
    Endpoints& endpoints_;
};

}  // namespace varnel::usbradio
