// The radio's SCSI personality as a USB disk: the standard commands a host
// sends to a removable direct-access device, answered per SPC/SBC, and the
// radio's vendor commands (FF 2A ... 47 50 data-out, FF 28 ... 47 50 data-in)
// handed to the virtual radio's firmware emulation.
//
// The medium is a small write-protected disk that reads as zeros (2048
// blocks of 512 bytes): the kernel sizes it, reads its partition table and
// never writes. What is not supported ends in CHECK CONDITION with sense
// ILLEGAL REQUEST (invalid opcode 20/00, invalid field in CDB 24/00, LBA out
// of range 21/00) or DATA PROTECT (write protected 27/00), kept for the
// REQUEST SENSE that follows.
//
// The firmware's link faults act on the vendor commands only, as a radio
// whose alignment handler misbehaves while its USB disk still answers:
// hang (the command is held until the host resets the device), delay,
// check-condition (05/20/00) and short (a data-in moves half its bytes).
//
// A command runs in two steps: prepare() says which data phase the device
// intends and, for data-in, produces the bytes; data-out commands then get
// their bytes in receiveOut(). Status() and the sense describe the result.
// Not thread-safe by itself; the radio is touched under its transport mutex.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/VirtualRadio.h"

namespace varnel::usbradio {

inline constexpr std::uint32_t kBlockSize = 512;
inline constexpr std::uint32_t kBlockCount = 2048;

enum class Phase { None, In, Out };

struct Sense {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

namespace sense {
inline constexpr Sense kNone{};
inline constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr Sense kInvalidField{0x05, 0x24, 0x00};
inline constexpr Sense kLbaOutOfRange{0x05, 0x21, 0x00};
inline constexpr Sense kWriteProtected{0x07, 0x27, 0x00};
inline constexpr Sense kParameterListLength{0x05, 0x1A, 0x00};
inline constexpr Sense kLogicalUnitNotSupported{0x05, 0x25, 0x00};
}  // namespace sense

// What the device means to do with one command.
struct Intent {
    Phase phase = Phase::None;
    std::uint32_t length = 0;         // bytes the device means to move
    std::vector<std::uint8_t> data;   // data-in: the bytes (length of them)
    bool hang = false;                // held until the host resets the device
    std::chrono::milliseconds delay{0};
};

class ScsiTarget {
public:
    explicit ScsiTarget(std::shared_ptr<VirtualRadio> radio);

    // `hostIn`/`hostLength`: the direction and length the host's wrapper
    // announces (the vendor commands take their length from it).
    Intent prepare(const std::uint8_t* cdb, std::size_t cdbLength, bool hostIn, std::uint32_t hostLength);
    // The data-out bytes of the prepared command (`length` may be less than
    // intended when the host sent less).
    void receiveOut(const std::uint8_t* data, std::size_t length);
    // 0 GOOD, 1 failed (CHECK CONDITION; the sense says why).
    std::uint8_t Status() const { return failed_ ? 1 : 0; }
    const Sense& currentSense() const { return sense_; }

    // Ends the command in hand in CHECK CONDITION with `sense` (a command for
    // a logical unit the device does not have).
    void refuse(const Sense& sense) { fail(sense); }

    // A reset of the device (Bulk-Only reset, USB reset): the command in
    // hand is dropped and the sense forgotten.
    void reset();

    // Counters for the log.
    std::uint64_t vendorOut() const { return vendorOut_; }
    std::uint64_t vendorIn() const { return vendorIn_; }

    // Opcodes and the commands seen, for the log ("12 INQUIRY" ...).
    static const char* opcodeName(std::uint8_t opcode);

private:
    Intent fail(const Sense& sense);
    Intent dataIn(std::vector<std::uint8_t> data, std::uint32_t allocation);
    Intent inquiry(const std::uint8_t* cdb);
    Intent modeSense(const std::uint8_t* cdb, bool ten);
    Intent read(std::uint64_t lba, std::uint32_t blocks);
    Intent vendor(const std::uint8_t* cdb, std::size_t cdbLength, bool hostIn, std::uint32_t hostLength);

    std::shared_ptr<VirtualRadio> radio_;
    Sense sense_;
    bool failed_ = false;
    enum class Pending { None, VendorOut, Discard } pending_ = Pending::None;
    std::uint64_t vendorOut_ = 0;
    std::uint64_t vendorIn_ = 0;
    bool preventRemoval_ = false;
};

}  // namespace varnel::usbradio
