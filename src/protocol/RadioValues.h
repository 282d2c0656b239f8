// What the radio holds, known in one place: per item, band, point and cell
// the value stored in the radio (the image it sent at entry, then every
// acknowledged save and write-all), the value it runs with (every
// acknowledged live-set), the live-set sent and not yet acknowledged, and
// whether a write-all went out without an acknowledgement. The program's
// copy is tunerImage; where it differs from what the radio runs, the
// windows say so.
//
// Only the exchanges' outcomes change it: the operations of
// RadioOperations.h (entry, an acknowledged live-set, a given-up one, an
// acknowledged save, a write-all, leaving) and the senders (a live-set on
// its way). The tuning window, its chart and its questions, automatic
// alignment and the command-line tool read it; one instance for the
// program, HeldValues().
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "data/TunerImage.h"

namespace varnel {

class RadioValues {
public:
    // Tuner mode was entered with `image`: the radio stores and runs it.
    void entered(const TunerImage& image);
    // The radio acknowledged a write-all of `image` (its first `bytes`): it
    // stores and runs them. Nothing changes while nothing is known.
    void wroteAll(const TunerImage& image, std::size_t bytes);
    // A write-all went out and no acknowledgement came: whether the radio
    // took the image is not known until it is read back.
    void writeUnconfirmed() { writeUnconfirmed_ = true; }
    // The radio's image was read back after such a write-all.
    void writeReadBack() { writeUnconfirmed_ = false; }
    bool writeOutcomeUnknown() const { return writeUnconfirmed_; }
    // Nothing is known about the radio any more (it left tuner mode or was lost).
    void forget();
    bool known() const { return known_; }

    // A live-set frame has just been sent (the whole frame); it waits for its
    // acknowledgement. A read-back is no change and is ignored.
    void liveSetSent(const std::uint8_t* frame, std::size_t length);
    // The radio acknowledged the live-set in flight.
    void liveSetAcknowledged();
    // The live-set in flight was given up or refused: it is forgotten. Its
    // image bytes are kept for takeAbandoned().
    void liveSetAbandoned();
    // The image bytes of the live-sets given up since the last call (the one
    // in flight too, which is given up now: the radio went away).
    std::vector<std::size_t> takeAbandoned();
    // A live-set is on its way.
    bool liveSetPending() const { return !pending_.empty(); }
    // The radio acknowledged the save of `item` with `record` (its length
    // says which bytes it covers, as the radio reads it).
    void saveAcknowledged(int item, const std::vector<std::uint8_t>& record);

    // The value the radio runs with at an image byte (nothing when unknown).
    std::optional<std::uint8_t> liveAt(std::size_t offset) const;
    // The image of what the radio runs with.
    const TunerImage& live() const { return live_; }

    // One value the radio runs with but does not store.
    struct Change {
        int item = -1;   // item code (the column's code for power pairs)
        int point = 0;   // 1-8, 0 for a single-byte item
        int cell = 0;    // cell of the item (FSK blocks: A to E)
        int stored = 0;
        int live = 0;
    };
    // Every such value, in image order; empty when nothing is known.
    std::vector<Change> unsaved() const;
    // The value of the item cell that owns an image byte (stored and live),
    // or nothing when no item owns it or nothing is known.
    std::optional<Change> valueAt(std::size_t offset) const;

    // The bytes a live-set frame sets: (offset, value) pairs; nothing for a
    // read-back, for codes without bytes or for points out of range.
    static std::vector<std::pair<std::size_t, std::uint8_t>> LiveSetBytes(const std::uint8_t* frame,
                                                                          std::size_t length);

private:
    bool known_ = false;
    TunerImage stored_;
    TunerImage live_;
    std::vector<std::uint8_t> pending_;  // the live-set frame in flight
    std::vector<std::size_t> abandoned_; // image bytes of live-sets given up, not yet taken
    bool writeUnconfirmed_ = false;
    int lastPoint_ = 0;                  // point of the last acknowledged live-set
};

// The program's one model of what the radio holds.
RadioValues& HeldValues();

}  // namespace varnel
