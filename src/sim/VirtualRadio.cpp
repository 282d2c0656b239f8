#include "sim/VirtualRadio.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "data/ItemTable.h"
#include "protocol/Sendcmd.h"

namespace varnel {

namespace {

constexpr std::size_t kSmall = TunerImage::kSmallSize;
constexpr std::size_t kLarge = TunerImage::kSize;

struct PresetEntry {
    VirtualPreset preset;
    const char* name;
};
constexpr PresetEntry kPresets[] = {
    {VirtualPreset::Variant0, "variant0"},
    {VirtualPreset::Variant1, "variant1"},
    {VirtualPreset::Variant2, "variant2"},
    {VirtualPreset::LargeNewFirmware, "large"},
};

std::uint16_t sum16(const std::uint8_t* bytes, std::size_t count) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint16_t>(sum + bytes[i]);
    return sum;
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

void putBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void putText(RadioInfo& info, std::size_t offset, const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(info.bytes.data() + offset, text, n);
}

std::uint8_t clampByte(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// A triangle wave 0..amplitude..0 over `period` steps of `t`.
int triangle(std::uint64_t t, int period, int amplitude) {
    const int phase = static_cast<int>(t % static_cast<std::uint64_t>(period));
    const int half = period / 2;
    const int up = phase <= half ? phase : period - phase;
    return half == 0 ? 0 : up * amplitude / half;
}

// Calibration points of the two bands, in kHz (every one a multiple of 10 Hz).
constexpr std::uint32_t kTxKilohertz[2][8] = {
    {400125, 415125, 435050, 450125, 469975, 405025, 425025, 460025},
    {136125, 145125, 155050, 165125, 173975, 140025, 150025, 170025},
};
constexpr std::uint32_t kRxKilohertz[2][8] = {
    {400175, 415175, 435075, 450175, 469925, 405075, 425075, 460075},
    {136175, 145175, 155075, 165175, 173925, 140075, 150075, 170075},
};

// A plausible calibration value of an item at a point (k = 0..7; 0 for a
// single item). `retuned` is the radio as it left a field re-alignment; the
// factory copy has the values before it.
int itemValue(const TuningItem& item, int ordinal, int band, int k, bool retuned) {
    const int shift = retuned ? 2 : 0;
    switch (item.page) {
        case Page::Power:
        case Page::PowerMobile: {
            // Drive levels: the VHF half needs a little less than the UHF half.
            const int bandTrim = band == 0 ? 0 : -8;
            switch (item.column) {
                case PowerColumn::Low:
                    return 68 + 3 * k + bandTrim + shift + ordinal % 3;
                case PowerColumn::Middle:
                    return 124 + 3 * k + bandTrim + shift;
                case PowerColumn::High:
                    return 188 + 4 * k + bandTrim + shift + ordinal % 3;
                case PowerColumn::None:
                    break;
            }
            return 128;
        }
        case Page::Ctcss:
            // Sub-audio deviation, around 100.
            return 98 + (ordinal % 5) + (k % 3) - 1 + band * 3 + (retuned ? 1 : 0);
        case Page::Sql:
            // Squelch open/close thresholds rise item by item.
            return 36 + 14 * (ordinal % 4) + 2 * k + band * 4 + (retuned ? 1 : 0);
        case Page::Vox:
            return 40 + 6 * (ordinal % 6) + band * 2 + (retuned ? 1 : 0);
        case Page::FreqStability:
            return 128 + (band == 0 ? 3 : -2) + (retuned ? 1 : 0);
        case Page::Mandown:
            return 90 + 50 * (ordinal % 3) + band * 5;
        case Page::ErrorRate:
            return 32 + k + band;
        case Page::None:
            if (item.layout == ItemLayout::Array) return 128 - k - band * 2;
            return 0x80 + band;  // the reference byte no item owns
        case Page::Temp:
        case Page::Fsk:
            break;
    }
    return 100 + band;
}

void fillFsk(TunerImage& image, const TuningItem& item, int ordinal, int band, bool retuned) {
    const int block = ordinal % 3 + 3 * band;
    for (int k = 0; k < TunerImage::kPoints; ++k) {
        auto at = [&](int cell) { return static_cast<std::size_t>(PointByte(item, band, k + 1, cell)); };
        image[at(0)] = clampByte(80 + k + block * 2);
        image[at(1)] = clampByte(64 + 2 * k + block);
        image[at(2)] = clampByte(100 - k + block);
        image.setWord(at(3), static_cast<std::uint16_t>(2048 + 32 * k + 8 * block + (retuned ? 8 : 0)));
        image.setWord(at(4), static_cast<std::uint16_t>(1024 + 16 * k + 4 * block));
    }
}

TunerImage presetImage(VirtualPreset preset, bool retuned) {
    const bool large = VirtualPresetInfo(preset).largeModel();
    TunerImage image;
    // Bytes no item owns read back as erased flash.
    std::fill(image.bytes.begin(), image.bytes.begin() + kSmall, std::uint8_t{0xFF});
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < TunerImage::kPoints; ++i) {
            image.setTxFrequencyIn(b, i, kTxKilohertz[b][i] * 1000);
            image.setRxFrequencyIn(b, i, kRxKilohertz[b][i] * 1000);
        }
    }
    const std::vector<TuningItem>& items = TuningItems();
    for (std::size_t n = 0; n < items.size(); ++n) {
        const TuningItem& item = items[n];
        const int ordinal = static_cast<int>(n);
        for (int b = 0; b < 2; ++b) {
            const int offset = item.offset[b];
            if (offset < 0) continue;
            const std::size_t s = static_cast<std::size_t>(offset);
            switch (item.layout) {
                case ItemLayout::Single:
                    image[s] = clampByte(itemValue(item, ordinal, b, 0, retuned));
                    break;
                case ItemLayout::Array:
                    for (int k = 0; k < TunerImage::kPoints; ++k)
                        image[s + static_cast<std::size_t>(k)] = clampByte(itemValue(item, ordinal, b, k, retuned));
                    break;
                case ItemLayout::FskBlock:
                    if (large) fillFsk(image, item, ordinal, b, retuned);
                    break;
                case ItemLayout::DisplayOnly:
                case ItemLayout::Shared:  // bytes belong to items 20 and 21
                    break;
            }
        }
    }
    return image;
}

// Where a one-point value or a whole record of an item lives, if this radio
// has those bytes at all (the small models have no FSK extension).
std::optional<ItemBytesInfo> radioBytes(int item, bool large) {
    std::optional<ItemBytesInfo> bytes = ItemBytes(item);
    if (!bytes) return std::nullopt;
    const std::size_t end = static_cast<std::size_t>(bytes->offset + bytes->length);
    if (end > (large ? kLarge : kSmall)) return std::nullopt;
    return bytes;
}

// Where the bytes of a saved record go in the image.
struct Span {
    std::size_t offset;
    std::size_t length;
};

// The spans of the arrays of a power pair or triple; false unless every one
// is a whole array of points.
bool ArraySpans(std::initializer_list<int> codes, bool large, std::vector<Span>& spans) {
    for (int code : codes) {
        const std::optional<ItemBytesInfo> bytes = radioBytes(code, large);
        if (!bytes || bytes->length != TunerImage::kPoints) return false;
        spans.push_back({static_cast<std::size_t>(bytes->offset), TunerImage::kPoints});
    }
    return true;
}

// A whole record of the item: the FSK block or an array of points.
bool WholeRecordSpan(const std::optional<ItemBytesInfo>& bytes, ItemLayout layout, std::size_t size,
                     std::vector<Span>& spans) {
    if (!bytes || bytes->layout != layout) return false;
    spans.push_back({static_cast<std::size_t>(bytes->offset), size});
    return true;
}

// A one-byte record: a single value, or one byte of an array at the point
// the last live-set chose. False when it fits neither.
bool SingleByteSpan(const std::optional<ItemBytesInfo>& bytes, const std::optional<VirtualRadio::LiveSet>& lastLiveSet,
                    std::vector<Span>& spans) {
    if (!bytes) return false;
    if (bytes->layout == ItemLayout::Single) {
        spans.push_back({static_cast<std::size_t>(bytes->offset), 1});
    } else if (bytes->layout == ItemLayout::Array) {
        if (!lastLiveSet || lastLiveSet->point < 1 || lastLiveSet->point > TunerImage::kPoints) return false;
        spans.push_back({static_cast<std::size_t>(bytes->offset + lastLiveSet->point - 1), 1});
    } else {
        return false;
    }
    return true;
}

// The destinations of a saved record of `size` bytes for the item; nothing
// when the record does not fit the item. A display-only item keeps nothing.
std::optional<std::vector<Span>> SaveSpans(int item, std::size_t size, bool large,
                                           const std::optional<VirtualRadio::LiveSet>& lastLiveSet) {
    std::vector<Span> spans;
    const std::optional<ItemBytesInfo> bytes = radioBytes(item, large);
    bool fits = false;
    switch (size) {
        case 16: {
            const std::optional<PowerPair> pair = PairOf(item);
            fits = pair && ArraySpans({pair->low, pair->high}, large, spans);
            break;
        }
        case 24: {
            const std::optional<PowerTriple> triple = TripleOf(item);
            fits = triple && ArraySpans({triple->low, triple->middle, triple->high}, large, spans);
            break;
        }
        case TunerImage::kFskBlockSize:
            fits = WholeRecordSpan(bytes, ItemLayout::FskBlock, size, spans);
            break;
        case TunerImage::kPoints:
            fits = WholeRecordSpan(bytes, ItemLayout::Array, size, spans);
            break;
        case 1: {
            const TuningItem* entry = FindItem(item);
            if (entry != nullptr && entry->layout == ItemLayout::DisplayOnly) return spans;  // nothing kept
            fits = SingleByteSpan(bytes, lastLiveSet, spans);
            break;
        }
        default:
            break;
    }
    if (!fits) return std::nullopt;
    return spans;
}

}  // namespace

std::optional<VirtualPreset> ParseVirtualPreset(std::string_view name) {
    for (const PresetEntry& entry : kPresets) {
        if (name == entry.name) return entry.preset;
    }
    return std::nullopt;
}

std::string VirtualPresetNames() {
    std::string names;
    for (const PresetEntry& entry : kPresets) {
        if (!names.empty()) names += ", ";
        names += entry.name;
    }
    return names;
}

std::string_view VirtualPresetName(VirtualPreset preset) {
    for (const PresetEntry& entry : kPresets) {
        if (entry.preset == preset) return entry.name;
    }
    return kPresets[0].name;
}

RadioInfo VirtualPresetInfo(VirtualPreset preset) {
    RadioInfo info;
    const char* name = "VR-D200";
    const char* firmware = "V2.1";
    std::uint8_t code = 3;
    std::uint8_t variant = 0;
    std::uint8_t flags = 0x00;
    char serialDigit = '0';
    switch (preset) {
        case VirtualPreset::Variant0:
            break;
        case VirtualPreset::Variant1:
            name = "VR-D200M";  // the mobile set: three power columns
            variant = 1;
            serialDigit = '1';
            break;
        case VirtualPreset::Variant2:
            name = "VR-D200S";
            firmware = "V2.3";
            variant = 2;
            serialDigit = '2';
            break;
        case VirtualPreset::LargeNewFirmware:
            name = "VR-D500";
            firmware = "V2.3";
            code = RadioInfo::kLargeModelCode;
            flags = 0x01;  // FSK extension present
            serialDigit = '5';
            break;
    }
    putText(info, RadioInfo::kModelNameOffset, name);
    putText(info, RadioInfo::kFirmwareOffset, firmware);
    putText(info, 72, "HW1.2");
    info.bytes[80] = 0x01;  // protocol revision
    info.bytes[81] = 0x04;
    info.bytes[RadioInfo::kModelCodeOffset] = code;
    info.bytes[RadioInfo::kModelVariantOffset] = variant;
    info.bytes[90] = 2;  // bands fitted
    putText(info, 96, "VR2403150040");
    info.bytes[107] = static_cast<std::uint8_t>(serialDigit);
    putText(info, 112, "2024-03-15");
    info.bytes[RadioInfo::kFeatureFlagsOffset] = flags;
    info.bytes[132] = 0x01;  // band 0: 400-470 MHz
    info.bytes[133] = 0x02;  // band 1: 136-174 MHz
    return info;
}

TunerImage VirtualPresetImage(VirtualPreset preset) { return presetImage(preset, true); }
TunerImage VirtualPresetFactoryImage(VirtualPreset preset) { return presetImage(preset, false); }

VirtualRadio::VirtualRadio(VirtualPreset preset)
    : preset_(preset),
      info_(VirtualPresetInfo(preset)),
      stored_(VirtualPresetImage(preset)),
      live_(stored_),
      factory_(VirtualPresetFactoryImage(preset)) {}

void VirtualRadio::setSerial(const std::string& serial) {
    serial_ = serial;
    for (std::size_t i = 0; i < 12; ++i) info_.bytes[96 + i] = i < serial.size() ? static_cast<std::uint8_t>(serial[i]) : 0;
    // FNV-1a of the serial; 0 is kept for "no spread".
    std::uint32_t h = 2166136261u;
    for (unsigned char c : serial) h = (h ^ c) * 16777619u;
    spreadSeed_ = serial.empty() ? 0 : (h == 0 ? 1 : h);
}

double VirtualRadio::spread(int item, int point, int salt) const {
    if (spreadSeed_ == 0) return 0;
    std::uint64_t x = (static_cast<std::uint64_t>(spreadSeed_) << 32) ^ (static_cast<std::uint64_t>(item & 0xFFFF) << 16) ^
                      (static_cast<std::uint64_t>(point & 0xFF) << 8) ^ static_cast<std::uint64_t>(salt & 0xFF);
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<double>(x >> 11) / 4503599627370496.0 - 1.0;  // [-1, 1)
}

void VirtualRadio::setStoredImage(const TunerImage& image) {
    stored_ = image;
    live_ = image;
}

void VirtualRadio::setTunerMode(bool on) {
    tunerMode_ = on;
    transmitting_ = receiving_ = mandownReceiving_ = false;
    live_ = stored_;
}

void VirtualRadio::setReading(int itemCode, std::vector<std::uint8_t> bytes) {
    fixedReadings_[itemCode] = std::move(bytes);
}
void VirtualRadio::clearReading(int itemCode) { fixedReadings_.erase(itemCode); }
void VirtualRadio::clearReadings() { fixedReadings_.clear(); }

void VirtualRadio::setErrorCounters(std::uint32_t frames, std::uint32_t errors) {
    frames_ = frames;
    errors_ = errors;
}

void VirtualRadio::setFault(Fault fault, unsigned reads) {
    fault_ = fault;
    faultReads_ = std::max(1u, reads);
}

void VirtualRadio::unplug() {
    if (!plugged_) return;
    plugged_ = false;
    ++plugGeneration_;
    pending_.clear();
    tunerMode_ = false;
    transmitting_ = receiving_ = mandownReceiving_ = false;
    live_ = stored_;
    if (liveObserver_ && lastLiveSet_) liveObserver_(*lastLiveSet_, false, false);
}

void VirtualRadio::plug() { plugged_ = true; }

void VirtualRadio::setLinkFaults(const LinkFaults& faults) {
    linkFaults_ = faults;
    unpluggedByFault_ = false;
    random_.seed(faults.seed);
    commandsAtFaults_ = commands_;
}

bool VirtualRadio::transfersHang() const {
    return linkFaults_.hang || (linkFaults_.hangAfter > 0 && commands_ - commandsAtFaults_ >= linkFaults_.hangAfter);
}

LinkFaults VirtualRadio::linkFaults() const { return linkFaults_; }

bool VirtualRadio::chance(double probability) {
    if (probability <= 0.0) return false;
    if (probability >= 1.0) return true;
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

void VirtualRadio::receive(const std::uint8_t* bytes, std::size_t length) {
    if (!plugged_ || (bytes == nullptr && length != 0)) return;
    // A frame lost on the cable never reaches the firmware.
    if (chance(linkFaults_.loseCommand)) return;
    received_.emplace_back(bytes, bytes + length);
    // The firmware drops anything that is not a whole, intact command frame.
    if (length < 8 || bytes[0] != kFrameStart) return;
    const std::size_t stated = (std::size_t{bytes[3]} << 8) | bytes[4];
    if (stated + 8 > length) return;
    if (bytes[7 + stated] != kFrameEnd) return;
    const std::uint16_t sum = sum16(bytes + 5, stated);
    if (bytes[5 + stated] != static_cast<std::uint8_t>(sum >> 8) ||
        bytes[6 + stated] != static_cast<std::uint8_t>(sum))
        return;
    const std::uint16_t code = static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]);
    if ((code & cmd::kReplyBit) != 0) return;

    ++clock_;
    ++commands_;
    pending_.clear();
    readsSinceCommand_ = 0;
    handle(code, bytes + 5, stated);
    if (!pending_.empty() && dropReplies_ > 0) {
        --dropReplies_;
        pending_.clear();
    }
    if (!pending_.empty() && chance(linkFaults_.dropReply)) pending_.clear();
    if (pending_.size() >= 8 && chance(linkFaults_.corruptReply)) {
        std::uint8_t& low = pending_[pending_.size() - 2];  // low checksum byte
        low = static_cast<std::uint8_t>(low + 1);
    }
    // The cable comes out once; put back in, the radio works again.
    if (linkFaults_.unplugAfter > 0 && !unpluggedByFault_ && commands_ >= linkFaults_.unplugAfter) {
        unpluggedByFault_ = true;
        unplug();
    }
}

void VirtualRadio::answer(std::uint8_t* buffer, std::size_t length) {
    if (!plugged_ || buffer == nullptr) return;
    ++clock_;
    if (pending_.empty()) return;
    ++readsSinceCommand_;
    if (fault_ == Fault::AnswerAfterReads && readsSinceCommand_ < faultReads_) return;
    const std::size_t n = std::min(length, pending_.size());
    std::memcpy(buffer, pending_.data(), n);
}

void VirtualRadio::reply(std::uint16_t code, const std::vector<std::uint8_t>& payload) {
    if (fault_ == Fault::NoAnswer) return;
    pending_.assign(payload.size() + 8, 0);
    BuildFrame(pending_.data(), cmd::reply(code), payload.data(), static_cast<std::uint16_t>(payload.size()));
    if (fault_ == Fault::WrongChecksum) {
        // One off in the low checksum byte: the frame is otherwise perfect.
        std::uint8_t& low = pending_[6 + payload.size()];
        low = static_cast<std::uint8_t>(low + 1);
    } else if (fault_ == Fault::WrongCommandCode) {
        pending_[1] = static_cast<std::uint8_t>(code >> 8);
        pending_[2] = static_cast<std::uint8_t>(code);
    }
}

void VirtualRadio::replyStatus(std::uint16_t code, std::uint8_t status) { reply(code, {status}); }

void VirtualRadio::handle(std::uint16_t code, const std::uint8_t* payload, std::size_t length) {
    switch (code) {
        case cmd::kReadInfo: {
            std::vector<std::uint8_t> out{vstatus::kDone};
            out.insert(out.end(), info_.bytes.begin(), info_.bytes.end());
            reply(code, out);
            return;
        }
        case cmd::kEnterTunerMode: {
            setTunerMode(true);
            std::vector<std::uint8_t> out{vstatus::kDone};
            out.insert(out.end(), live_.bytes.begin(), live_.bytes.begin() + static_cast<std::ptrdiff_t>(imageBytes()));
            reply(code, out);
            return;
        }
        case cmd::kExitTunerMode:
            setTunerMode(false);
            replyStatus(code, vstatus::kDone);
            return;
        case cmd::kSetItem:
            handleLiveSet(payload, length);
            return;
        case cmd::kWriteAll: {
            // A block shorter than the half-image cannot be tuning data; a
            // longer one than this radio holds is taken as far as it goes.
            if (length < kSmall) {
                replyStatus(code, vstatus::kRejected);
                return;
            }
            const std::size_t n = std::min(length, imageBytes());
            std::copy(payload, payload + n, stored_.bytes.begin());
            std::copy(payload, payload + n, live_.bytes.begin());
            replyStatus(code, vstatus::kDone);
            return;
        }
        case cmd::kWriteFactory: {
            if (length < kSmall) {
                replyStatus(code, vstatus::kRejected);
                return;
            }
            const std::size_t n = std::min(length, kLarge);
            std::copy(payload, payload + n, factory_.bytes.begin());
            replyStatus(code, vstatus::kDone);
            return;
        }
        case cmd::kReadFactory: {
            std::vector<std::uint8_t> out{vstatus::kDone};
            out.insert(out.end(), factory_.bytes.begin(), factory_.bytes.begin() + static_cast<std::ptrdiff_t>(kSmall));
            reply(code, out);
            return;
        }
        case cmd::kSaveItem:
            handleSave(payload, length);
            return;
        default:
            return;  // not a command this firmware knows: no answer
    }
}

void VirtualRadio::handleLiveSet(const std::uint8_t* payload, std::size_t length) {
    if (length < 8) {
        replyStatus(cmd::kSetItem, vstatus::kRejected);
        return;
    }
    const int item = payload[0];
    const int actionByte = payload[1];
    const int point = payload[2];
    if (tunerMode_) lastLiveSet_ = LiveSet{item, actionByte, point, bigEndian32(payload + 3), payload[7]};
    if (actionByte == 7) {
        handleReadBack(item, point);
        return;
    }
    if (!tunerMode_) {
        replyStatus(cmd::kSetItem, vstatus::kNotInTunerMode);
        return;
    }
    std::uint8_t status = vstatus::kDone;
    switch (actionByte) {
        case 0:  // transmit on
            transmitting_ = true;
            receiving_ = mandownReceiving_ = false;
            keyedQueries_ = 0;
            break;
        case 1:
            transmitting_ = false;
            break;
        case 2: {  // receive on; a bit-error test starts counting afresh
            receiving_ = true;
            transmitting_ = mandownReceiving_ = false;
            const TuningItem* entry = FindItem(item);
            if (entry != nullptr && entry->page == Page::ErrorRate) frames_ = errors_ = 0;
            break;
        }
        case 3:
            receiving_ = mandownReceiving_ = false;
            break;
        case 4:
        case 5:
            applyLiveValue(item, point, payload, length);
            break;
        case 8:
            receiving_ = mandownReceiving_ = true;
            transmitting_ = false;
            break;
        case 9:
            receiving_ = mandownReceiving_ = false;
            break;
        default:
            status = vstatus::kRejected;
            break;
    }
    replyStatus(cmd::kSetItem, status);
    if (liveObserver_) liveObserver_(*lastLiveSet_, transmitting_, receiving_);
}

void VirtualRadio::applyLiveValue(int item, int point, const std::uint8_t* payload, std::size_t length) {
    const std::optional<ItemBytesInfo> bytes = radioBytes(item, info_.largeModel());
    if (!bytes) return;
    const std::size_t s = static_cast<std::size_t>(bytes->offset);
    const std::uint8_t value = payload[7];
    switch (bytes->layout) {
        case ItemLayout::Single:
            live_[s] = value;
            return;
        case ItemLayout::Array:
        case ItemLayout::Shared:
            if (point >= 1 && point <= TunerImage::kPoints) live_[s + static_cast<std::size_t>(point - 1)] = value;
            return;
        case ItemLayout::FskBlock: {
            // A point of an FSK block needs its whole 8-byte record; the short
            // live-set carries a single value and leaves the block alone.
            if (length < 15 || point < 1 || point > TunerImage::kPoints) return;
            // The record is A, B, C, a zero, then D and E low byte first.
            const std::uint8_t* r = payload + 7;
            const std::vector<ItemCell> cells = CellsOf(ItemLayout::FskBlock);
            std::size_t in = 0;
            for (std::size_t c = 0; c < cells.size(); ++c) {
                const std::size_t at = s + static_cast<std::size_t>(cells[c].start + cells[c].stride * (point - 1));
                for (int b = 0; b < cells[c].width; ++b) live_[at + static_cast<std::size_t>(b)] = r[in++];
                if (c == 2) ++in;
            }
            return;
        }
        case ItemLayout::DisplayOnly:
            return;
    }
}

void VirtualRadio::handleReadBack(int item, int point) {
    const std::size_t room = QueryReplyLength(item) - 8u - 1u;  // after the item byte
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(item)};
    if (tunerMode_) {
        const std::vector<std::uint8_t> values = reading(item, point, room);
        out.insert(out.end(), values.begin(), values.end());
    } else {
        out.resize(1 + room, 0);
    }
    reply(cmd::kSetItem, out);
}

std::vector<std::uint8_t> VirtualRadio::reading(int item, int point, std::size_t room) {
    std::vector<std::uint8_t> out;
    const TuningItem* entry = FindItem(item);
    const Page page = entry != nullptr ? entry->page : Page::None;
    const auto fixed = fixedReadings_.find(item);
    if (fixed != fixedReadings_.end()) {
        out = fixed->second;
    } else if (page == Page::ErrorRate && room >= 8) {
        putBigEndian32(out, frames_);
        putBigEndian32(out, errors_);
        // Frames keep arriving until the next request: about 2 s of voice
        // frames, with an error now and then.
        if (receiving_) {
            frames_ += 90 + static_cast<std::uint32_t>(clock_ % 7);
            if (clock_ % 3 == 0) errors_ += 1 + static_cast<std::uint32_t>(point % 2);
        }
    } else if (page == Page::Temp) {
        // Power amplifier and board temperature in degrees; the amplifier
        // warms while the transmitter is keyed.
        const int warming = transmitting_ ? static_cast<int>(std::min(keyedQueries_, 20u)) : 0;
        out.push_back(clampByte(28 + warming + triangle(clock_, 6, 2)));
        out.push_back(clampByte(26 + triangle(clock_, 10, 2)));
        if (transmitting_) ++keyedQueries_;
    } else if (page == Page::Mandown) {
        // The tilt sensor's converter reading as the set is moved about.
        out.push_back(clampByte(70 + triangle(clock_, 20, 120)));
    } else if (page == Page::Vox) {
        // Audio level at the microphone input.
        out.push_back(clampByte(20 + triangle(clock_, 16, 40)));
    } else {
        std::uint8_t value = 0;
        if (const std::optional<ItemBytesInfo> bytes = radioBytes(item, info_.largeModel())) {
            std::size_t at = static_cast<std::size_t>(bytes->offset);
            if (bytes->layout != ItemLayout::Single && point >= 1 && point <= TunerImage::kPoints)
                at += static_cast<std::size_t>(point - 1);
            value = live_[at];
        }
        if (page == Page::Sql) {
            // The measured threshold wanders a little around the set value;
            // each radio's receiver sits a little off its model's.
            const int own = static_cast<int>(std::lround(6.0 * spread(item, 0, 1) + 1.5 * spread(item, point, 2)));
            value = clampByte(value + own + triangle(clock_, 8, 6) - 3);
        }
        out.push_back(value);
    }
    out.resize(room, 0);
    return out;
}

void VirtualRadio::handleSave(const std::uint8_t* payload, std::size_t length) {
    if (!tunerMode_) {
        replyStatus(cmd::kSaveItem, vstatus::kNotInTunerMode);
        return;
    }
    if (length < 2 || std::size_t{payload[1]} + 2 > length) {
        replyStatus(cmd::kSaveItem, vstatus::kRejected);
        return;
    }
    const bool stored = storeSave(payload[0], payload + 2, payload[1]);
    replyStatus(cmd::kSaveItem, stored ? vstatus::kDone : vstatus::kRejected);
}

bool VirtualRadio::storeSave(int item, const std::uint8_t* data, std::size_t size) {
    // Collect the destinations first, so a record that does not fit the item
    // changes nothing.
    const std::optional<std::vector<Span>> spans = SaveSpans(item, size, info_.largeModel(), lastLiveSet_);
    if (!spans) return false;
    std::size_t from = 0;
    for (const Span& span : *spans) {
        std::copy(data + from, data + from + span.length, stored_.bytes.begin() + static_cast<std::ptrdiff_t>(span.offset));
        std::copy(data + from, data + from + span.length, live_.bytes.begin() + static_cast<std::ptrdiff_t>(span.offset));
        from += span.length;
    }
    return true;
}

}  // namespace varnel
