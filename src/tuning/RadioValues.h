// What the radio holds, as far as its acknowledgements tell: the values it
// keeps in its store (the image it sent at entry, then every acknowledged
// save) and the values it runs with (every acknowledged live-set). A live
// value that differs from the stored one is lost when the radio leaves tuner
// mode unless it is saved first.
//
// The live-set in flight is remembered when it is sent and applied only when
// the radio acknowledges it, so that a live-set the radio never confirmed can
// be taken back on screen and in the image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "data/TunerImage.h"

namespace varnel::tuning {

class RadioValues {
public:
    // Tuner mode was entered with `image`: the radio stores and runs it.
    void entered(const TunerImage& image);
    // Nothing is known about the radio any more (it left tuner mode or was lost).
    void forget();
    bool known() const { return known_; }

    // A live-set frame has just been sent (the whole frame); it waits for its
    // acknowledgement. A read-back is no change and is ignored.
    void liveSetSent(const std::uint8_t* frame, std::size_t length);
    // The radio acknowledged the live-set in flight.
    void liveSetAcknowledged();
    // The live-set in flight was given up (or the radio went away): it is
    // forgotten. Returns the image bytes it would have set.
    std::vector<std::size_t> liveSetAbandoned();
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
    int lastPoint_ = 0;                  // point of the last acknowledged live-set
};

}  // namespace varnel::tuning
