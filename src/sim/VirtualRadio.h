// The virtual radio: an emulation of the radio's firmware as it answers the
// alignment commands. It is what the program talks to when no radio is
// attached, and what every test talks to.
//
// The emulation is plain, single-threaded and deterministic. It has no clock
// of its own: its time is a counter that advances by one for every valid
// command frame received and for every read answered (`clock()`), and tests
// may push it on with `advanceClock`. Every reading it reports is a function
// of that counter, the radio's state and the command, so the same sequence of
// calls always gives the same bytes.
//
// What the firmware does, as emulated here:
//   - It holds three copies of the tuning data: the stored ("flash") image,
//     the live image the radio currently runs on, and the factory copy.
//     Entering tuner mode loads the live image from flash and sends it;
//     live-sets (0x0062, actions 4 and 5) change the live image only; a save
//     (0x0066) writes the item into flash and live alike; write-all (0x0063)
//     replaces both. Leaving tuner mode drops unsaved live changes (live is
//     reloaded from flash). The factory copy is read by 0x0065 and replaced
//     by 0x0064.
//   - Live-set, read-back, keying and save commands act only in tuner mode.
//     Outside it the radio still answers them with a reply of the right
//     length (so no poll hangs), but with status byte 0x01 and no effect.
//     Information, enter, leave, write-all and the factory commands act in
//     any mode.
//   - Frames that are not well formed (start byte, end byte, checksum, a
//     payload that does not fit the transfer) and frames carrying a reply
//     code are ignored: no reply, no effect, the pending reply stays.
//     A well-formed frame with an unknown command drops the pending reply
//     and is not answered.
//   - A reply stays readable until the next command replaces it; every read
//     returns it again (a poll may read it several times).
//
// Reply payloads (the program examines only what follows the first byte):
//   status replies (9 bytes): one status byte, 0x00 done, 0x01 not in tuner
//   mode, 0x02 payload rejected; information: status + 256-byte block;
//   enter: status + 512 or 848 image bytes; factory read: status + 512 bytes;
//   read-back: the item code, then the reading(s): one byte (10 bytes), two
//   temperatures (11 bytes, items 30/87), or the frame count N and error
//   count E, each 32-bit big-endian (17 bytes, items 22/82).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"

namespace varnel {

// The radios the emulation can be. Variant0 to Variant2 are small models
// (512-byte image) with modelVariant 0, 1 and 2; LargeNewFirmware is the
// model with the 848-byte image and firmware 2.3.
enum class VirtualPreset { Variant0, Variant1, Variant2, LargeNewFirmware };

// "variant0", "variant1", "variant2", "large"; nothing for any other name.
std::optional<VirtualPreset> ParseVirtualPreset(std::string_view name);
// The accepted names for an error message: "variant0, variant1, variant2, large".
std::string VirtualPresetNames();
// The name ParseVirtualPreset accepts for the preset.
std::string_view VirtualPresetName(VirtualPreset preset);

// The 256-byte information block and the tuning data a preset starts with.
RadioInfo VirtualPresetInfo(VirtualPreset preset);
// The stored image of a fresh radio of the preset (band halves filled from
// the item table; the FSK extension only for the large model).
TunerImage VirtualPresetImage(VirtualPreset preset);
// The factory copy of a fresh radio: the stored image before it was retuned
// in the field, so it differs from VirtualPresetImage in its item values.
TunerImage VirtualPresetFactoryImage(VirtualPreset preset);

// Status bytes of the emulated replies.
namespace vstatus {
inline constexpr std::uint8_t kDone = 0x00;
inline constexpr std::uint8_t kNotInTunerMode = 0x01;
inline constexpr std::uint8_t kRejected = 0x02;
}  // namespace vstatus

// Ways to make the radio misbehave, for tests. A fault stays until cleared
// with Fault::None. The command still takes effect; only its reply suffers.
enum class Fault {
    None,
    NoAnswer,          // never answers
    AnswerAfterReads,  // the reply appears only on the n-th read after the command
    WrongChecksum,     // the reply's checksum is off by one
    WrongCommandCode,  // the reply carries the command code without bit 15
};

// Faults of the link rather than of the firmware: how the transfers
// themselves fail or take time, and random loss on the way. Set with
// setLinkFaults or from a text with ApplyVirtualFaults (VirtualFaults.h).
struct LinkFaults {
    // Every transfer blocks for `hangTime` (the transport's 2-second time-out)
    // and then fails with a time-out; nothing reaches the radio.
    bool hang = false;
    std::chrono::milliseconds hangTime{2000};
    // The same (for hangTime), but only once the radio has taken this many
    // command frames since the faults were set (0: not at all): a radio that
    // takes a frame and then hangs every later transfer, the reads of that
    // frame's reply too.
    unsigned hangAfter = 0;
    // Every transfer takes this long before it completes normally.
    std::chrono::milliseconds delay{0};
    // How every transfer fails, when it does.
    enum class Refusal {
        None,
        Permission,      // the system refuses the command (EPERM / access denied)
        CheckCondition,  // the device answers CHECK CONDITION, ILLEGAL REQUEST
        ShortRead,       // reads move only half the bytes asked for
    } refusal = Refusal::None;
    // Probabilities, 0 to 1: a command frame lost on the way (the radio never
    // sees it), a reply dropped (the command acts, no reply), a reply
    // corrupted (its checksum is off).
    double loseCommand = 0.0;
    double dropReply = 0.0;
    double corruptReply = 0.0;
    // The cable is pulled after this many commands were received (0: never).
    unsigned unplugAfter = 0;
    // Seed of the random faults; the same seed gives the same faults.
    std::uint32_t seed = 1;

    bool any() const {
        return hang || hangAfter > 0 || delay.count() > 0 || refusal != Refusal::None || loseCommand > 0 || dropReply > 0 ||
               corruptReply > 0 || unplugAfter > 0;
    }
};

class VirtualRadio {
public:
    explicit VirtualRadio(VirtualPreset preset = VirtualPreset::Variant0);

    VirtualPreset preset() const { return preset_; }

    // ---- transport side -------------------------------------------------
    // One data-out transfer: a whole command frame.
    void receive(const std::uint8_t* bytes, std::size_t length);
    // One data-in transfer: copies up to `length` bytes of the pending reply
    // into `buffer` and leaves the rest of it untouched; with no reply ready
    // (or unplugged) the buffer is not touched at all.
    void answer(std::uint8_t* buffer, std::size_t length);

    // ---- state -----------------------------------------------------------
    const RadioInfo& info() const { return info_; }
    void setInfo(const RadioInfo& info) { info_ = info; }
    // 512 or 848: what this radio exchanges, from its own information block.
    std::size_t imageBytes() const { return info_.imageBytes(); }

    const TunerImage& storedImage() const { return stored_; }
    const TunerImage& liveImage() const { return live_; }
    const TunerImage& factoryImage() const { return factory_; }
    // Replaces flash and the live image.
    void setStoredImage(const TunerImage& image);
    void setFactoryImage(const TunerImage& image) { factory_ = image; }

    bool inTunerMode() const { return tunerMode_; }
    // Puts the radio into or out of tuner mode without a command (test set-up).
    void setTunerMode(bool on);

    // Keying, from live-set actions 0-3 and 8/9. Transmitting and receiving
    // exclude each other; man-down receive is a kind of receiving.
    bool transmitting() const { return transmitting_; }
    bool receiving() const { return receiving_; }
    bool mandownReceiving() const { return mandownReceiving_; }

    // The last live-set or read-back command acted on (item, action, point,
    // frequency word); nothing before the first.
    struct LiveSet {
        int item;
        int action;
        int point;
        std::uint32_t frequency;
        std::uint8_t value;
    };
    const std::optional<LiveSet>& lastLiveSet() const { return lastLiveSet_; }
    // Called after every live-set acted on in tuner mode (read-backs
    // excluded) and after an unplug, with the keying state that follows, so
    // that a coupled instrument can follow the radio. Runs on the caller's
    // thread; the observer does its own locking.
    using LiveObserver = std::function<void(const LiveSet& set, bool transmitting, bool receiving)>;
    void setLiveObserver(LiveObserver observer) { liveObserver_ = std::move(observer); }

    // ---- spread between radios ---------------------------------------------
    // The serial number, also in the information block (bytes 96 to 107, cut
    // to 12 characters). A radio given one differs from the other radios of
    // its model as real ones do: its own squelch reading and the coupled test
    // set's curves move by offsets and slopes seeded by the serial, and the
    // test set's reading noise follows the same seed, so one serial always
    // gives the same radio. Without a serial (seed 0) every radio of a preset
    // is the same.
    void setSerial(const std::string& serial);
    const std::string& serial() const { return serial_; }
    std::uint32_t spreadSeed() const { return spreadSeed_; }
    // This radio's share of the spread for (item, point, salt), in [-1, 1);
    // 0 without a serial.
    double spread(int item, int point, int salt) const;

    // ---- readings --------------------------------------------------------
    // Fixes what read-backs of `itemCode` report: the bytes after the item
    // byte (cut or zero-padded to the reply's room). Stays until cleared.
    void setReading(int itemCode, std::vector<std::uint8_t> bytes);
    void clearReading(int itemCode);
    void clearReadings();
    // The bit-error counters the next read-back of item 22/82 reports. The
    // radio counts on from there while it is receiving; switching the
    // receiver on (action 2) starts both from zero.
    void setErrorCounters(std::uint32_t frames, std::uint32_t errors);
    std::uint32_t frameCount() const { return frames_; }
    std::uint32_t errorCount() const { return errors_; }

    // The emulation's time (commands received plus reads answered).
    std::uint64_t clock() const { return clock_; }
    void advanceClock(std::uint64_t ticks) { clock_ += ticks; }

    // ---- faults ----------------------------------------------------------
    // `reads` is used by AnswerAfterReads (n >= 1; 1 is a normal radio).
    void setFault(Fault fault, unsigned reads = 1);
    Fault fault() const { return fault_; }
    // One-shot: the next `count` commands get no reply at all (the command
    // still acts). Lets a test answer only the third send of a command.
    void dropNextReplies(unsigned count) { dropReplies_ = count; }
    unsigned pendingDrops() const { return dropReplies_; }

    // Link faults (see LinkFaults). Setting them restarts the random faults
    // from the seed.
    void setLinkFaults(const LinkFaults& faults);
    LinkFaults linkFaults() const;
    // Whether every transfer hangs now (hang, or hangAfter frames taken
    // since the faults were set).
    bool transfersHang() const;

    // Held by the link for each transfer and by plug()/unplug(): the link may
    // run its transfers on an I/O thread while the program pulls the virtual
    // cable from its own.
    std::mutex& transportMutex() const { return transportMutex_.mutex; }

    // Unplugged, the radio takes no frames and answers no reads; it forgets
    // the pending reply, drops out of tuner mode and unkeys. plug() brings it
    // back with its flash, factory copy and faults as they were.
    void unplug();
    void plug();
    bool plugged() const { return plugged_; }
    // Counts unplugs; a link opened before the latest unplug stays dead.
    std::uint64_t plugGeneration() const { return plugGeneration_; }

    // ---- recording -------------------------------------------------------
    // Every transfer received while plugged in, raw, malformed ones included.
    const std::vector<std::vector<std::uint8_t>>& receivedFrames() const { return received_; }
    void clearReceivedFrames() { received_.clear(); }
    // Well-formed command frames acted on so far.
    std::uint64_t commandCount() const { return commands_; }
    // The reply held for the coming reads (empty when none). Under
    // AnswerAfterReads it is held but not yet handed out by early reads.
    bool hasPendingReply() const { return !pending_.empty(); }
    const std::vector<std::uint8_t>& pendingReply() const { return pending_; }

private:
    void handle(std::uint16_t code, const std::uint8_t* payload, std::size_t length);
    void handleLiveSet(const std::uint8_t* payload, std::size_t length);
    void handleReadBack(int item, int point);
    void handleSave(const std::uint8_t* payload, std::size_t length);
    std::vector<std::uint8_t> reading(int item, int point, std::size_t room);
    void reply(std::uint16_t code, const std::vector<std::uint8_t>& payload);
    void replyStatus(std::uint16_t code, std::uint8_t status);
    bool storeSave(int item, const std::uint8_t* data, std::size_t size);
    void applyLiveValue(int item, int point, const std::uint8_t* payload, std::size_t length);

    VirtualPreset preset_;
    RadioInfo info_;
    TunerImage stored_;
    TunerImage live_;
    TunerImage factory_;

    bool tunerMode_ = false;
    bool transmitting_ = false;
    bool receiving_ = false;
    bool mandownReceiving_ = false;
    unsigned keyedQueries_ = 0;  // read-backs since the transmitter was keyed
    std::optional<LiveSet> lastLiveSet_;
    LiveObserver liveObserver_;

    std::string serial_;
    std::uint32_t spreadSeed_ = 0;

    std::map<int, std::vector<std::uint8_t>> fixedReadings_;
    std::uint32_t frames_ = 0;
    std::uint32_t errors_ = 0;

    std::uint64_t clock_ = 0;
    std::uint64_t commands_ = 0;
    std::uint64_t commandsAtFaults_ = 0;  // commands_ when the link faults were set
    bool unpluggedByFault_ = false;  // unplug-after has pulled the cable (once)

    Fault fault_ = Fault::None;
    unsigned faultReads_ = 1;
    unsigned dropReplies_ = 0;
    bool plugged_ = true;
    std::uint64_t plugGeneration_ = 0;

    std::vector<std::uint8_t> pending_;
    unsigned readsSinceCommand_ = 0;
    LinkFaults linkFaults_;
    std::mt19937 random_{1};
    bool chance(double probability);
    // A copy of the radio gets a mutex of its own.
    struct OwnMutex {
        std::mutex mutex;
        OwnMutex() = default;
        OwnMutex(const OwnMutex&) {}
        OwnMutex& operator=(const OwnMutex&) { return *this; }
    };
    mutable OwnMutex transportMutex_;
    std::vector<std::vector<std::uint8_t>> received_;
};

}  // namespace varnel
