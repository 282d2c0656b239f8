#include "protocol/RadioValues.h"

#include <algorithm>
#include <initializer_list>
#include <map>

#include "data/ItemTable.h"
#include "protocol/Sendcmd.h"

namespace varnel {

namespace {

constexpr std::size_t kPayload = 5;          // first payload byte of a frame
constexpr std::size_t kShortLiveSet = 8;     // item, action, point, frequency, value
constexpr std::size_t kBlockLiveSet = 15;    // item, action, point, frequency, 8-byte record
constexpr int kReadBack = 7;

std::size_t PayloadLength(const std::uint8_t* frame, std::size_t length) {
    if (frame == nullptr || length < 8) return 0;
    const std::size_t stated = (std::size_t{frame[3]} << 8) | frame[4];
    return stated + 8 <= length ? stated : 0;
}

// Where the image bytes of a saved record go: (offset, length) spans, in
// record order; nothing when the record does not fit the item.
std::vector<std::pair<std::size_t, std::size_t>> SaveSpans(int item, std::size_t size, int lastPoint) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    const auto arrays = [&spans](std::initializer_list<int> codes) {
        for (int code : codes) {
            const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
            if (!bytes || bytes->length != TunerImage::kPoints) {
                spans.clear();
                return;
            }
            spans.emplace_back(static_cast<std::size_t>(bytes->offset), TunerImage::kPoints);
        }
    };
    const std::optional<ItemBytesInfo> bytes = ItemBytes(item);
    switch (size) {
        case 16:
            if (const std::optional<PowerPair> pair = PairOf(item)) arrays({pair->low, pair->high});
            break;
        case 24:
            if (const std::optional<PowerTriple> triple = TripleOf(item)) arrays({triple->low, triple->middle, triple->high});
            break;
        case TunerImage::kFskBlockSize:
        case TunerImage::kPoints:
            if (bytes && static_cast<std::size_t>(bytes->length) == size) {
                spans.emplace_back(static_cast<std::size_t>(bytes->offset), size);
            }
            break;
        case 1:
            if (!bytes) break;
            if (bytes->layout == ItemLayout::Single) {
                spans.emplace_back(static_cast<std::size_t>(bytes->offset), 1);
            } else if (bytes->layout == ItemLayout::Array && lastPoint >= 1 && lastPoint <= TunerImage::kPoints) {
                // A one-byte record of an array keeps the point last set live.
                spans.emplace_back(static_cast<std::size_t>(bytes->offset + lastPoint - 1), 1);
            }
            break;
        default:
            break;
    }
    return spans;
}

// Image byte -> (item, point, cell), for every byte an item owns.
struct Owner {
    int item;
    int point;
    int cell;
    int width;
    std::size_t first;  // first byte of the cell's value
};
const std::map<std::size_t, Owner>& Owners() {
    static const std::map<std::size_t, Owner> owners = [] {
        std::map<std::size_t, Owner> map;
        for (const TuningItem& item : TuningItems()) {
            if (item.layout == ItemLayout::DisplayOnly || item.layout == ItemLayout::Shared) continue;
            const std::vector<ItemCell> cells = CellsOf(item.layout);
            for (int b = 0; b < 2; ++b) {
                if (item.code[static_cast<std::size_t>(b)] == kNoCode) continue;
                const int points = item.layout == ItemLayout::Single ? 1 : TunerImage::kPoints;
                for (int p = 1; p <= points; ++p) {
                    for (std::size_t c = 0; c < cells.size(); ++c) {
                        const int at = PointByte(item, b, p, static_cast<int>(c));
                        if (at < 0) continue;
                        const Owner owner{item.code[static_cast<std::size_t>(b)],
                                          item.layout == ItemLayout::Single ? 0 : p, static_cast<int>(c),
                                          cells[c].width, static_cast<std::size_t>(at)};
                        for (int k = 0; k < cells[c].width; ++k) map.emplace(static_cast<std::size_t>(at + k), owner);
                    }
                }
            }
        }
        return map;
    }();
    return owners;
}

int ValueAt(const TunerImage& image, const Owner& owner) {
    int value = image[owner.first];
    if (owner.width == 2 && owner.first + 1 < TunerImage::kSize) value |= image[owner.first + 1] << 8;
    return value;
}

}  // namespace

RadioValues& HeldValues() {
    static RadioValues values;
    return values;
}

void RadioValues::entered(const TunerImage& image) {
    known_ = true;
    stored_ = image;
    live_ = image;
    pending_.clear();
    abandoned_.clear();
    lastPoint_ = 0;
    writeUnconfirmed_ = false;
}

void RadioValues::wroteAll(const TunerImage& image, std::size_t bytes) {
    writeUnconfirmed_ = false;
    if (!known_) return;
    for (std::size_t i = 0; i < bytes && i < TunerImage::kSize; ++i) stored_[i] = live_[i] = image[i];
}

void RadioValues::forget() {
    known_ = false;
    pending_.clear();
    abandoned_.clear();
}

std::vector<std::pair<std::size_t, std::uint8_t>> RadioValues::LiveSetBytes(const std::uint8_t* frame,
                                                                            std::size_t length) {
    std::vector<std::pair<std::size_t, std::uint8_t>> out;
    const std::size_t payload = PayloadLength(frame, length);
    if (payload < kShortLiveSet) return out;
    if (((frame[1] << 8) | frame[2]) != cmd::kSetItem) return out;
    const std::uint8_t* p = frame + kPayload;
    const int item = p[0];
    const int action = p[1];
    const int point = p[2];
    if (action == kReadBack) return out;
    const std::optional<ItemBytesInfo> bytes = ItemBytes(item);
    if (!bytes) return out;
    const std::size_t start = static_cast<std::size_t>(bytes->offset);
    switch (bytes->layout) {
        case ItemLayout::Single:
            out.emplace_back(start, p[7]);
            break;
        case ItemLayout::Array:
        case ItemLayout::Shared:
            if (point >= 1 && point <= TunerImage::kPoints) out.emplace_back(start + static_cast<std::size_t>(point - 1), p[7]);
            break;
        case ItemLayout::FskBlock: {
            // Only the block form carries a point's whole record: A, B, C, a
            // zero, then D and E low byte first.
            if (payload < kBlockLiveSet || point < 1 || point > TunerImage::kPoints) break;
            const std::uint8_t* record = p + 7;
            const std::vector<ItemCell> cells = CellsOf(ItemLayout::FskBlock);
            std::size_t in = 0;
            for (std::size_t c = 0; c < cells.size(); ++c) {
                const std::size_t at = start + static_cast<std::size_t>(cells[c].start + cells[c].stride * (point - 1));
                for (int k = 0; k < cells[c].width; ++k) out.emplace_back(at + static_cast<std::size_t>(k), record[in++]);
                if (c == 2) ++in;
            }
            break;
        }
        case ItemLayout::DisplayOnly:
            break;
    }
    out.erase(std::remove_if(out.begin(), out.end(), [](const auto& b) { return b.first >= TunerImage::kSize; }),
              out.end());
    return out;
}

void RadioValues::liveSetSent(const std::uint8_t* frame, std::size_t length) {
    const std::size_t payload = PayloadLength(frame, length);
    if (payload < kShortLiveSet || frame[kPayload + 1] == kReadBack) return;
    pending_.assign(frame, frame + payload + 8);
}

void RadioValues::liveSetAcknowledged() {
    if (pending_.empty()) return;
    if (known_) {
        for (const auto& [offset, value] : LiveSetBytes(pending_.data(), pending_.size())) live_[offset] = value;
        lastPoint_ = pending_[kPayload + 2];
    }
    pending_.clear();
}

void RadioValues::liveSetAbandoned() {
    for (const auto& set : LiveSetBytes(pending_.data(), pending_.size())) abandoned_.push_back(set.first);
    pending_.clear();
}

std::vector<std::size_t> RadioValues::takeAbandoned() {
    liveSetAbandoned();
    std::vector<std::size_t> offsets = std::move(abandoned_);
    abandoned_.clear();
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    return offsets;
}

void RadioValues::saveAcknowledged(int item, const std::vector<std::uint8_t>& record) {
    if (!known_) return;
    std::size_t from = 0;
    for (const auto& [offset, length] : SaveSpans(item, record.size(), lastPoint_)) {
        for (std::size_t k = 0; k < length && from < record.size() && offset + k < TunerImage::kSize; ++k, ++from) {
            stored_[offset + k] = record[from];
            live_[offset + k] = record[from];
        }
    }
}

std::optional<std::uint8_t> RadioValues::liveAt(std::size_t offset) const {
    if (!known_ || offset >= TunerImage::kSize) return std::nullopt;
    return live_[offset];
}

std::optional<RadioValues::Change> RadioValues::valueAt(std::size_t offset) const {
    if (!known_) return std::nullopt;
    const auto found = Owners().find(offset);
    if (found == Owners().end()) return std::nullopt;
    const Owner& owner = found->second;
    return Change{owner.item, owner.point, owner.cell, ValueAt(stored_, owner), ValueAt(live_, owner)};
}

std::vector<RadioValues::Change> RadioValues::unsaved() const {
    std::vector<Change> changes;
    if (!known_) return changes;
    const std::map<std::size_t, Owner>& owners = Owners();
    std::size_t lastFirst = TunerImage::kSize;
    for (std::size_t i = 0; i < TunerImage::kSize; ++i) {
        if (live_[i] == stored_[i]) continue;
        const auto found = owners.find(i);
        if (found == owners.end()) continue;
        const Owner& owner = found->second;
        if (owner.first == lastFirst) continue;  // the other byte of a 16-bit value
        lastFirst = owner.first;
        changes.push_back({owner.item, owner.point, owner.cell, ValueAt(stored_, owner), ValueAt(live_, owner)});
    }
    return changes;
}

}  // namespace varnel
