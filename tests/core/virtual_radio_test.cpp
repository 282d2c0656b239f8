// The virtual radio as firmware: frames in, replies out, and what each
// command does to its three copies of the tuning data. Talks to the radio
// directly (no senders, no poll state); exchange_test.cpp drives it through
// the real protocol layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/ItemTable.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualRadio.h"

using namespace varnel;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint16_t code, const Bytes& payload = {}) {
    Bytes frame(payload.size() + 8);
    BuildFrame(frame.data(), code, payload.data(), static_cast<std::uint16_t>(payload.size()));
    return frame;
}

void Send(VirtualRadio& radio, const Bytes& frame) { radio.receive(frame.data(), frame.size()); }

// One read of `length` bytes into a zeroed buffer, as the transport does it.
Bytes Read(VirtualRadio& radio, std::size_t length = kReplyBufferSize) {
    Bytes buffer(length, 0);
    radio.answer(buffer.data(), buffer.size());
    return buffer;
}

// Sends a command and reads once with the whole reply buffer.
Bytes Exchange(VirtualRadio& radio, std::uint16_t code, const Bytes& payload = {}) {
    Send(radio, Frame(code, payload));
    return Read(radio);
}

Bytes LayoutA(int item, int action, int point, int value, std::uint32_t frequency = 435050000) {
    return {static_cast<std::uint8_t>(item),
            static_cast<std::uint8_t>(action),
            static_cast<std::uint8_t>(point),
            static_cast<std::uint8_t>(frequency >> 24),
            static_cast<std::uint8_t>(frequency >> 16),
            static_cast<std::uint8_t>(frequency >> 8),
            static_cast<std::uint8_t>(frequency),
            static_cast<std::uint8_t>(value)};
}

Bytes SaveC(int item, const Bytes& data) {
    Bytes payload{static_cast<std::uint8_t>(item), static_cast<std::uint8_t>(data.size())};
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

// Length of the frame the buffer starts with, from its stated payload length.
std::size_t StatedFrameLength(const Bytes& reply) { return ((std::size_t{reply[3]} << 8) | reply[4]) + 8; }

VirtualRadio InTunerMode(VirtualPreset preset) {
    VirtualRadio radio(preset);
    radio.setTunerMode(true);
    return radio;
}

// Offsets at which two images differ.
std::vector<std::size_t> Differences(const TunerImage& a, const TunerImage& b) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < TunerImage::kSize; ++i)
        if (a[i] != b[i]) out.push_back(i);
    return out;
}

std::vector<std::size_t> Range(std::size_t first, std::size_t count) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(first + i);
    return out;
}

}  // namespace

// ---------------------------------------------------------------- presets

TEST(VirtualRadioPreset, NamesParseAndList) {
    EXPECT_EQ(ParseVirtualPreset("variant0"), VirtualPreset::Variant0);
    EXPECT_EQ(ParseVirtualPreset("variant1"), VirtualPreset::Variant1);
    EXPECT_EQ(ParseVirtualPreset("variant2"), VirtualPreset::Variant2);
    EXPECT_EQ(ParseVirtualPreset("large"), VirtualPreset::LargeNewFirmware);
    EXPECT_FALSE(ParseVirtualPreset("Large").has_value());
    EXPECT_FALSE(ParseVirtualPreset("variant3").has_value());
    EXPECT_FALSE(ParseVirtualPreset("").has_value());
    EXPECT_EQ(VirtualPresetNames(), "variant0, variant1, variant2, large");
    for (VirtualPreset p : {VirtualPreset::Variant0, VirtualPreset::Variant1, VirtualPreset::Variant2,
                            VirtualPreset::LargeNewFirmware})
        EXPECT_EQ(ParseVirtualPreset(VirtualPresetName(p)), p);
    EXPECT_EQ(VirtualRadio().preset(), VirtualPreset::Variant0);
}

TEST(VirtualRadioPreset, InformationBlocks) {
    struct Case {
        VirtualPreset preset;
        std::uint8_t variant;
        bool large;
        bool newFirmware;
    };
    const Case cases[] = {
        {VirtualPreset::Variant0, 0, false, false},
        {VirtualPreset::Variant1, 1, false, false},
        {VirtualPreset::Variant2, 2, false, true},
        {VirtualPreset::LargeNewFirmware, 0, true, true},
    };
    std::set<std::string> names;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(VirtualPresetName(c.preset)));
        const RadioInfo info = VirtualPresetInfo(c.preset);
        EXPECT_EQ(info.modelVariant(), c.variant);
        EXPECT_EQ(info.largeModel(), c.large);
        EXPECT_EQ(info.newFirmware(), c.newFirmware);
        EXPECT_EQ(info.modelCode() == 5, c.large);
        EXPECT_EQ((info.featureFlags() & 1) != 0, c.large);
        EXPECT_EQ(info.modelName().rfind("VR-D", 0), 0u);
        names.insert(info.modelName());
        const std::string version = info.firmwareVersion();
        ASSERT_EQ(version.size(), 4u);
        EXPECT_EQ(version[0], 'V');
        EXPECT_EQ(version[2], '.');
        EXPECT_EQ(info.bytes[65], static_cast<std::uint8_t>(version[1]));
        EXPECT_EQ(info.bytes[67], static_cast<std::uint8_t>(version[3]));
        EXPECT_EQ(VirtualRadio(c.preset).info().bytes, info.bytes);
    }
    EXPECT_EQ(names.size(), 4u);
}

TEST(VirtualRadioPreset, FrequencyTablesInTheirBands) {
    for (VirtualPreset p : {VirtualPreset::Variant0, VirtualPreset::LargeNewFirmware}) {
        const TunerImage image = VirtualPresetImage(p);
        for (int i = 0; i < TunerImage::kPoints; ++i) {
            SCOPED_TRACE(i);
            for (std::uint32_t f : {image.txFrequencyIn(0, i), image.rxFrequencyIn(0, i)}) {
                EXPECT_GE(f, 400000000u);
                EXPECT_LE(f, 470000000u);
                EXPECT_EQ(f % 10, 0u);
            }
            for (std::uint32_t f : {image.txFrequencyIn(1, i), image.rxFrequencyIn(1, i)}) {
                EXPECT_GE(f, 136000000u);
                EXPECT_LE(f, 174000000u);
                EXPECT_EQ(f % 10, 0u);
            }
        }
        EXPECT_EQ(image.txFrequencyIn(0, 2), 435050000u);
        EXPECT_EQ(FormatMegahertz(image.txFrequencyIn(0, 0)), "400.125000");
        // Points 6-8 of band 1 are real, distinct points (used with new firmware).
        std::set<std::uint32_t> band1;
        for (int i = 0; i < TunerImage::kPoints; ++i) band1.insert(image.txFrequencyIn(1, i));
        EXPECT_EQ(band1.size(), 8u);
    }
}

TEST(VirtualRadioPreset, ItemValuesArePlausible) {
    const TunerImage image = VirtualPresetImage(VirtualPreset::LargeNewFirmware);
    for (int band = 0; band < 2; ++band) {
        SCOPED_TRACE(band);
        for (int low : {10, 18, 20}) {
            const int lowCode = band == 0 ? low : low + 60;
            const PowerPair pair = *PairOf(lowCode);
            const auto lo = *ItemBytes(pair.low);
            const auto hi = *ItemBytes(pair.high);
            for (int k = 0; k < 8; ++k)
                EXPECT_GT(image[static_cast<std::size_t>(hi.offset + k)], image[static_cast<std::size_t>(lo.offset + k)])
                    << "pair " << pair.low << "/" << pair.high << " point " << k + 1;
        }
        const PowerTriple triple = *TripleOf(band == 0 ? 26 : 86);
        const int lo = ItemBytes(triple.low)->offset, mid = ItemBytes(triple.middle)->offset,
                  hi = ItemBytes(triple.high)->offset;
        for (int k = 0; k < 8; ++k) {
            EXPECT_LT(image[static_cast<std::size_t>(lo + k)], image[static_cast<std::size_t>(mid + k)]);
            EXPECT_LT(image[static_cast<std::size_t>(mid + k)], image[static_cast<std::size_t>(hi + k)]);
        }
    }
    for (const TuningItem& item : TuningItems()) {
        for (int band = 0; band < 2; ++band) {
            if (item.offset[band] < 0) continue;
            const std::size_t s = static_cast<std::size_t>(item.offset[band]);
            if (item.page == Page::Ctcss) {
                for (std::size_t k = 0; k < 8; ++k) {
                    EXPECT_GE(image[s + k], 90);
                    EXPECT_LE(image[s + k], 110);
                }
            }
            if (item.layout == ItemLayout::FskBlock) {
                for (std::size_t k = 0; k < 16; ++k) {
                    EXPECT_LE(image.word(s + 24 + 2 * k), 4096) << "FSK word at " << s + 24 + 2 * k;
                    EXPECT_GT(image.word(s + 24 + 2 * k), 0);
                }
            }
            // Every byte an item owns is a calibration value, not erased flash.
            if (item.layout != ItemLayout::DisplayOnly) {
                for (int k = 0; k < item.length; ++k)
                    EXPECT_NE(image[s + static_cast<std::size_t>(k)], 0xFF) << "offset " << s + static_cast<std::size_t>(k);
            }
        }
    }
    // Bytes no item owns read as erased flash.
    for (std::size_t i = 235; i < 256; ++i) {
        EXPECT_EQ(image[i], 0xFF);
        EXPECT_EQ(image[i + 256], 0xFF);
    }
}

TEST(VirtualRadioPreset, BandsDifferAndFactoryDiffersFromStored) {
    const TunerImage image = VirtualPresetImage(VirtualPreset::Variant0);
    int sameBytes = 0;
    for (std::size_t i = 64; i < 235; ++i) sameBytes += image[i] == image[i + 256];
    EXPECT_LT(sameBytes, 40);
    EXPECT_NE(VirtualPresetFactoryImage(VirtualPreset::Variant0).bytes, image.bytes);
    // A small model has no extension.
    for (std::size_t i = 512; i < TunerImage::kSize; ++i) EXPECT_EQ(image[i], 0) << i;
    const VirtualRadio radio(VirtualPreset::Variant1);
    EXPECT_EQ(radio.storedImage().bytes, VirtualPresetImage(VirtualPreset::Variant1).bytes);
    EXPECT_EQ(radio.liveImage().bytes, radio.storedImage().bytes);
    EXPECT_EQ(radio.factoryImage().bytes, VirtualPresetFactoryImage(VirtualPreset::Variant1).bytes);
}

// ---------------------------------------------------------------- replies

TEST(VirtualRadioReply, EveryCommandHasItsFixedLengthAndCode) {
    struct Case {
        const char* name;
        VirtualPreset preset;
        std::uint16_t code;
        Bytes payload;
        std::size_t length;
    };
    const Bytes small(512, 0x11), large(848, 0x22);
    const Case cases[] = {
        {"read info", VirtualPreset::Variant0, cmd::kReadInfo, {}, 265},
        {"read info large", VirtualPreset::LargeNewFirmware, cmd::kReadInfo, {}, 265},
        {"enter small", VirtualPreset::Variant2, cmd::kEnterTunerMode, {}, 521},
        {"enter large", VirtualPreset::LargeNewFirmware, cmd::kEnterTunerMode, {}, 857},
        {"exit", VirtualPreset::Variant0, cmd::kExitTunerMode, {}, 9},
        {"live-set", VirtualPreset::Variant0, cmd::kSetItem, LayoutA(10, 4, 3, 77), 9},
        {"keying", VirtualPreset::Variant0, cmd::kSetItem, LayoutA(10, 0, 3, 77), 9},
        {"read-back 22", VirtualPreset::Variant0, cmd::kSetItem, LayoutA(22, 7, 1, 0), 17},
        {"read-back 82", VirtualPreset::Variant0, cmd::kSetItem, LayoutA(82, 7, 1, 0), 17},
        {"read-back 30", VirtualPreset::Variant0, cmd::kSetItem, LayoutA(30, 7, 3, 0), 11},
        {"read-back 87", VirtualPreset::Variant0, cmd::kSetItem, LayoutA(87, 7, 3, 0), 11},
        {"read-back 5", VirtualPreset::Variant0, cmd::kSetItem, LayoutA(5, 7, 3, 0), 10},
        {"read-back 27", VirtualPreset::Variant0, cmd::kSetItem, LayoutA(27, 7, 1, 0), 10},
        {"read-back 31", VirtualPreset::LargeNewFirmware, cmd::kSetItem, LayoutA(31, 7, 1, 0), 10},
        {"write all small", VirtualPreset::Variant0, cmd::kWriteAll, small, 9},
        {"write all large", VirtualPreset::LargeNewFirmware, cmd::kWriteAll, large, 9},
        {"write factory", VirtualPreset::Variant0, cmd::kWriteFactory, large, 9},
        {"read factory", VirtualPreset::Variant0, cmd::kReadFactory, {}, 521},
        {"read factory large", VirtualPreset::LargeNewFirmware, cmd::kReadFactory, {}, 521},
        {"save", VirtualPreset::Variant0, cmd::kSaveItem, SaveC(23, {0x81}), 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualRadio radio = InTunerMode(c.preset);
        const Bytes reply = Exchange(radio, c.code, c.payload);
        EXPECT_TRUE(MatchReply(reply.data(), cmd::reply(c.code), static_cast<std::uint16_t>(c.length)));
        EXPECT_EQ(StatedFrameLength(reply), c.length);
        EXPECT_EQ(radio.pendingReply().size(), c.length);
        // Nothing beyond the reply is written.
        EXPECT_TRUE(std::all_of(reply.begin() + static_cast<std::ptrdiff_t>(c.length), reply.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

TEST(VirtualRadioReply, InformationAndImageFollowTheStatusByte) {
    VirtualRadio radio(VirtualPreset::LargeNewFirmware);
    const Bytes info = Exchange(radio, cmd::kReadInfo);
    EXPECT_EQ(info[5], vstatus::kDone);
    EXPECT_TRUE(std::equal(info.begin() + 6, info.begin() + 262, radio.info().bytes.begin()));

    const Bytes image = Exchange(radio, cmd::kEnterTunerMode);
    EXPECT_TRUE(radio.inTunerMode());
    EXPECT_TRUE(std::equal(image.begin() + 6, image.begin() + 6 + 848, radio.storedImage().bytes.begin()));

    VirtualRadio small(VirtualPreset::Variant0);
    const Bytes half = Exchange(small, cmd::kEnterTunerMode);
    EXPECT_TRUE(std::equal(half.begin() + 6, half.begin() + 6 + 512, small.storedImage().bytes.begin()));

    EXPECT_EQ(Exchange(small, cmd::kExitTunerMode)[5], vstatus::kDone);
    EXPECT_FALSE(small.inTunerMode());
}

TEST(VirtualRadioReply, ReadsRepeatTheReplyUntilTheNextCommand) {
    VirtualRadio radio;
    Send(radio, Frame(cmd::kReadInfo));
    const Bytes first = Read(radio, 265);
    EXPECT_EQ(Read(radio, 265), first);
    Send(radio, Frame(cmd::kExitTunerMode));
    EXPECT_TRUE(MatchReply(Read(radio, 9).data(), 0x8061, 9));
}

TEST(VirtualRadioReply, ReadLengthBoundsTheCopy) {
    VirtualRadio radio;
    Send(radio, Frame(cmd::kExitTunerMode));
    Bytes shortRead(5, 0xEE);
    radio.answer(shortRead.data(), shortRead.size());
    EXPECT_EQ(shortRead, (Bytes{0xA1, 0x80, 0x61, 0x00, 0x01}));
    Bytes longRead(12, 0xEE);
    radio.answer(longRead.data(), longRead.size());
    EXPECT_EQ(longRead[8], 0xA4);
    EXPECT_EQ(longRead[9], 0xEE);  // past the reply: untouched
    // A 9-byte reply read as 10 bytes has no end byte at position 9.
    EXPECT_FALSE(MatchReply(Read(radio, 10).data(), 0x8061, 10));
}

TEST(VirtualRadioReply, NoPendingReplyLeavesTheBufferAlone) {
    VirtualRadio radio;
    Bytes buffer(16, 0x5A);
    radio.answer(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, Bytes(16, 0x5A));
    // An unknown command is not answered and drops the previous reply.
    Send(radio, Frame(cmd::kReadInfo));
    EXPECT_TRUE(radio.hasPendingReply());
    Send(radio, Frame(0x0042));
    EXPECT_FALSE(radio.hasPendingReply());
    EXPECT_EQ(Read(radio, 16), Bytes(16, 0));
}

TEST(VirtualRadioReply, MalformedFramesAreIgnored) {
    struct Case {
        const char* name;
        Bytes frame;
    };
    auto mutate = [](Bytes frame, std::size_t at, std::uint8_t value) {
        frame[at] = value;
        return frame;
    };
    const Bytes enter = Frame(cmd::kEnterTunerMode);
    const Bytes save = Frame(cmd::kWriteAll, Bytes(512, 0x33));
    Bytes truncated = save;
    truncated.resize(300);
    const Case cases[] = {
        {"start byte", mutate(enter, 0, 0xA2)},
        {"end byte", mutate(enter, 7, 0xA5)},
        {"checksum", mutate(save, 5 + 512 + 1, static_cast<std::uint8_t>(save[5 + 512 + 1] + 1))},
        {"payload byte", mutate(save, 100, 0x34)},
        {"truncated", truncated},
        {"too short", Bytes{0xA1, 0x00, 0x60, 0x00, 0x00, 0x00, 0xA4}},
        {"reply code", Frame(cmd::reply(cmd::kEnterTunerMode))},
        {"empty", Bytes{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualRadio radio;
        Send(radio, Frame(cmd::kReadInfo));
        const Bytes pending = radio.pendingReply();
        const TunerImage before = radio.storedImage();
        Send(radio, c.frame);
        EXPECT_FALSE(radio.inTunerMode());
        EXPECT_EQ(radio.pendingReply(), pending);
        EXPECT_EQ(radio.storedImage().bytes, before.bytes);
        EXPECT_EQ(radio.commandCount(), 1u);
        ASSERT_EQ(radio.receivedFrames().size(), 2u);
        EXPECT_EQ(radio.receivedFrames()[1], c.frame);
    }
}

TEST(VirtualRadioReply, TrailingBytesAfterAFrameAreHarmless) {
    VirtualRadio radio;
    Bytes frame = Frame(cmd::kEnterTunerMode);
    frame.resize(512, 0);  // padded to a sector
    Send(radio, frame);
    EXPECT_TRUE(radio.inTunerMode());
}

TEST(VirtualRadioReply, RecordsEveryFrame) {
    VirtualRadio radio;
    const Bytes a = Frame(cmd::kReadInfo), b = Frame(cmd::kSetItem, LayoutA(5, 4, 2, 9));
    Send(radio, a);
    Send(radio, b);
    ASSERT_EQ(radio.receivedFrames().size(), 2u);
    EXPECT_EQ(radio.receivedFrames()[0], a);
    EXPECT_EQ(radio.receivedFrames()[1], b);
    radio.clearReceivedFrames();
    EXPECT_TRUE(radio.receivedFrames().empty());
}

// ---------------------------------------------------------------- saving

TEST(VirtualRadioSave, ChangesTheStoredImageExactlyAtTheItemsBytes) {
    struct Case {
        int item;
        std::size_t size;
        VirtualPreset preset;
        std::vector<std::size_t> offsets;  // where the record's bytes land, in order
    };
    auto cat = [](std::vector<std::size_t> a, const std::vector<std::size_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const VirtualPreset s = VirtualPreset::Variant1, l = VirtualPreset::LargeNewFirmware;
    const Case cases[] = {
        {9, 16, s, cat(Range(116, 8), Range(108, 8))},
        {10, 16, s, cat(Range(116, 8), Range(108, 8))},
        {70, 16, s, cat(Range(372, 8), Range(364, 8))},
        {19, 16, s, cat(Range(180, 8), Range(188, 8))},
        {81, 16, s, cat(Range(452, 8), Range(460, 8))},
        {52, 16, s, cat(Range(196, 8), Range(204, 8))},
        {26, 24, s, cat(cat(Range(116, 8), Range(224, 8)), Range(108, 8))},
        {86, 24, s, cat(cat(Range(372, 8), Range(480, 8)), Range(364, 8))},
        {5, 8, s, Range(76, 8)},
        {64, 8, s, Range(324, 8)},
        {22, 8, s, Range(212, 8)},
        {31, 56, l, Range(512, 56)},
        {92, 56, l, Range(736, 56)},
        {23, 1, s, {220}},
        {83, 1, s, {476}},
        {27, 1, s, {232}},
        {88, 1, s, {488}},
        {0, 1, s, {64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("item " + std::to_string(c.item));
        VirtualRadio radio = InTunerMode(c.preset);
        const TunerImage before = radio.storedImage();
        Bytes data(c.size);
        for (std::size_t i = 0; i < c.size; ++i)
            data[i] = static_cast<std::uint8_t>(before[c.offsets[i]] ^ 0x5A);  // surely different
        const Bytes reply = Exchange(radio, cmd::kSaveItem, SaveC(c.item, data));
        EXPECT_EQ(reply[5], vstatus::kDone);
        std::vector<std::size_t> expected = c.offsets;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Differences(before, radio.storedImage()), expected);
        for (std::size_t i = 0; i < c.size; ++i) EXPECT_EQ(radio.storedImage()[c.offsets[i]], data[i]);
        EXPECT_EQ(radio.liveImage().bytes, radio.storedImage().bytes);
    }
}

TEST(VirtualRadioSave, OneByteOfAnArrayGoesToTheLastSelectedPoint) {
    VirtualRadio radio = InTunerMode(VirtualPreset::Variant1);
    Exchange(radio, cmd::kSetItem, LayoutA(26, 4, 3, 100));
    const TunerImage before = radio.storedImage();
    EXPECT_EQ(Exchange(radio, cmd::kSaveItem, SaveC(26, {0x42}))[5], vstatus::kDone);
    EXPECT_EQ(Differences(before, radio.storedImage()), std::vector<std::size_t>{226});
    EXPECT_EQ(radio.storedImage()[226], 0x42);
}

TEST(VirtualRadioSave, RecordsThatDoNotFitAreRejectedAndChangeNothing) {
    struct Case {
        const char* name;
        VirtualPreset preset;
        Bytes payload;
    };
    const VirtualPreset s = VirtualPreset::Variant0;
    Bytes overlong = SaveC(5, Bytes(8, 1));
    overlong[1] = 20;  // says 20 data bytes, carries 8
    const Case cases[] = {
        {"array with pair size", s, SaveC(5, Bytes(16, 1))},
        {"pair size without pair", s, SaveC(4, Bytes(16, 1))},
        {"triple size without triple", s, SaveC(18, Bytes(24, 1))},
        {"single with array size", s, SaveC(23, Bytes(8, 1))},
        {"fsk on a small radio", s, SaveC(31, Bytes(56, 1))},
        {"unknown item", s, SaveC(45, {1})},
        {"stated size beyond payload", s, overlong},
        {"no size byte", s, Bytes{5}},
        {"array byte without a point", s, SaveC(26, {1})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualRadio radio = InTunerMode(c.preset);
        const TunerImage before = radio.storedImage();
        const Bytes reply = Exchange(radio, cmd::kSaveItem, c.payload);
        EXPECT_TRUE(MatchReply(reply.data(), 0x8066, 9));
        EXPECT_EQ(reply[5], vstatus::kRejected);
        EXPECT_EQ(radio.storedImage().bytes, before.bytes);
    }
    // The temperature has nothing to keep: done, nothing stored.
    VirtualRadio radio = InTunerMode(s);
    const TunerImage before = radio.storedImage();
    EXPECT_EQ(Exchange(radio, cmd::kSaveItem, SaveC(30, {25}))[5], vstatus::kDone);
    EXPECT_EQ(radio.storedImage().bytes, before.bytes);
}

TEST(VirtualRadioSave, OutsideTunerModeAnsweredButNotApplied) {
    VirtualRadio radio;
    const TunerImage before = radio.storedImage();
    const Bytes reply = Exchange(radio, cmd::kSaveItem, SaveC(23, {0x01}));
    EXPECT_TRUE(MatchReply(reply.data(), 0x8066, 9));
    EXPECT_EQ(reply[5], vstatus::kNotInTunerMode);
    EXPECT_EQ(radio.storedImage().bytes, before.bytes);
    const Bytes set = Exchange(radio, cmd::kSetItem, LayoutA(10, 0, 1, 70));
    EXPECT_EQ(set[5], vstatus::kNotInTunerMode);
    EXPECT_FALSE(radio.transmitting());
}

TEST(VirtualRadioWriteAll, StoresWhatTheRadioHolds) {
    struct Case {
        const char* name;
        VirtualPreset preset;
        std::size_t sent;
        std::size_t storedBytes;  // how many leading bytes take the new data
    };
    const Case cases[] = {
        {"small gets 512", VirtualPreset::Variant0, 512, 512},
        {"large gets 848", VirtualPreset::LargeNewFirmware, 848, 848},
        {"large gets 512: extension kept", VirtualPreset::LargeNewFirmware, 512, 512},
        {"small gets 848: no extension to keep it in", VirtualPreset::Variant2, 848, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualRadio radio(c.preset);
        const TunerImage before = radio.storedImage();
        Bytes block(c.sent);
        for (std::size_t i = 0; i < c.sent; ++i) block[i] = static_cast<std::uint8_t>(before[i] ^ 0xA5);
        const Bytes reply = Exchange(radio, cmd::kWriteAll, block);  // outside tuner mode too
        EXPECT_EQ(reply[5], vstatus::kDone);
        EXPECT_EQ(Differences(before, radio.storedImage()), Range(0, c.storedBytes));
        EXPECT_EQ(radio.liveImage().bytes, radio.storedImage().bytes);
    }
    VirtualRadio radio;
    const TunerImage before = radio.storedImage();
    EXPECT_EQ(Exchange(radio, cmd::kWriteAll, Bytes(100, 1))[5], vstatus::kRejected);
    EXPECT_EQ(radio.storedImage().bytes, before.bytes);
}

// ---------------------------------------------------------------- live-set

TEST(VirtualRadioLiveSet, ChangesTheLiveImageOnly) {
    VirtualRadio radio(VirtualPreset::Variant0);
    Exchange(radio, cmd::kEnterTunerMode);
    const TunerImage stored = radio.storedImage();
    Exchange(radio, cmd::kSetItem, LayoutA(10, 5, 3, 177));
    Exchange(radio, cmd::kSetItem, LayoutA(83, 4, 5, 140));
    EXPECT_EQ(Differences(stored, radio.liveImage()), (std::vector<std::size_t>{118, 476}));
    EXPECT_EQ(radio.liveImage()[118], 177);
    EXPECT_EQ(radio.liveImage()[476], 140);
    EXPECT_EQ(radio.storedImage().bytes, stored.bytes);
    ASSERT_TRUE(radio.lastLiveSet().has_value());
    EXPECT_EQ(radio.lastLiveSet()->item, 83);
    EXPECT_EQ(radio.lastLiveSet()->frequency, 435050000u);
    // Keying actions carry a value but do not apply it.
    Exchange(radio, cmd::kSetItem, LayoutA(10, 0, 2, 1));
    EXPECT_EQ(radio.liveImage()[117], stored[117]);
    // Unsaved live values are gone after leaving tuner mode.
    Exchange(radio, cmd::kExitTunerMode);
    EXPECT_EQ(radio.liveImage().bytes, stored.bytes);
}

TEST(VirtualRadioLiveSet, FskPointNeedsTheWholeRecord) {
    VirtualRadio radio = InTunerMode(VirtualPreset::LargeNewFirmware);
    Bytes block = LayoutA(91, 5, 2, 0);
    block.pop_back();
    const Bytes record{1, 2, 3, 0, 0x34, 0x02, 0x10, 0x01};
    block.insert(block.end(), record.begin(), record.end());
    ASSERT_EQ(block.size(), 15u);
    const TunerImage before = radio.liveImage();
    Exchange(radio, cmd::kSetItem, block);
    EXPECT_EQ(Differences(before, radio.liveImage()),
              (std::vector<std::size_t>{681, 689, 697, 706, 707, 722, 723}));
    EXPECT_EQ(FskRecord(radio.liveImage(), 91, 2), (std::array<std::uint8_t, 8>{1, 2, 3, 0, 0x34, 0x02, 0x10, 0x01}));
    // The short form (a resend) leaves the block as it is.
    const TunerImage after = radio.liveImage();
    Exchange(radio, cmd::kSetItem, LayoutA(91, 5, 2, 99));
    EXPECT_EQ(radio.liveImage().bytes, after.bytes);
}

TEST(VirtualRadioLiveSet, KeyingFollowsTheActionCodes) {
    struct Step {
        int action;
        bool tx, rx, mandown;
    };
    const Step steps[] = {
        {0, true, false, false}, {1, false, false, false}, {2, false, true, false}, {0, true, false, false},
        {2, false, true, false}, {3, false, false, false}, {8, false, true, true},  {9, false, false, false},
        {8, false, true, true},  {0, true, false, false},  {4, true, false, false}, {1, false, false, false},
    };
    VirtualRadio radio = InTunerMode(VirtualPreset::Variant0);
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(n++);
        EXPECT_EQ(Exchange(radio, cmd::kSetItem, LayoutA(27, s.action, 1, 0))[5], vstatus::kDone);
        EXPECT_EQ(radio.transmitting(), s.tx);
        EXPECT_EQ(radio.receiving(), s.rx);
        EXPECT_EQ(radio.mandownReceiving(), s.mandown);
    }
    EXPECT_EQ(Exchange(radio, cmd::kSetItem, LayoutA(27, 6, 1, 0))[5], vstatus::kRejected);
    Exchange(radio, cmd::kSetItem, LayoutA(10, 0, 1, 0));
    EXPECT_TRUE(radio.transmitting());
    Exchange(radio, cmd::kExitTunerMode);
    EXPECT_FALSE(radio.transmitting());
}

// ---------------------------------------------------------------- factory

TEST(VirtualRadioFactory, ReadGivesTheFirst512BytesOfTheFactoryCopy) {
    VirtualRadio radio = InTunerMode(VirtualPreset::LargeNewFirmware);
    const Bytes reply = Exchange(radio, cmd::kReadFactory);
    EXPECT_TRUE(std::equal(reply.begin() + 6, reply.begin() + 518, radio.factoryImage().bytes.begin()));
    EXPECT_EQ(reply[520], 0xA4);

    Bytes copy(848);
    for (std::size_t i = 0; i < copy.size(); ++i) copy[i] = static_cast<std::uint8_t>(i * 7);
    const TunerImage stored = radio.storedImage();
    EXPECT_EQ(Exchange(radio, cmd::kWriteFactory, copy)[5], vstatus::kDone);
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), radio.factoryImage().bytes.begin()));
    EXPECT_EQ(radio.storedImage().bytes, stored.bytes);  // flash of the tuning data untouched
    const Bytes again = Exchange(radio, cmd::kReadFactory);
    EXPECT_TRUE(std::equal(again.begin() + 6, again.begin() + 518, copy.begin()));
}

// ---------------------------------------------------------------- readings

namespace {
Bytes ReadBack(VirtualRadio& radio, int item, int point = 1) {
    const Bytes reply = Exchange(radio, cmd::kSetItem, LayoutA(item, 7, point, 0));
    EXPECT_EQ(reply[5], item);  // the reply opens with the item
    const std::size_t length = QueryReplyLength(item);
    return Bytes(reply.begin() + 6, reply.begin() + static_cast<std::ptrdiff_t>(length) - 3);
}
}  // namespace

TEST(VirtualRadioReading, ChangesOverTimeAndIsDeterministic) {
    for (int item : {0, 84, 30, 27, 90}) {
        SCOPED_TRACE(item);
        VirtualRadio a = InTunerMode(VirtualPreset::Variant0), b = InTunerMode(VirtualPreset::Variant0);
        std::set<Bytes> seen;
        for (int i = 0; i < 12; ++i) {
            const Bytes ra = ReadBack(a, item);
            EXPECT_EQ(ra, ReadBack(b, item));
            seen.insert(ra);
        }
        EXPECT_GT(seen.size(), 2u);
    }
}

TEST(VirtualRadioReading, TemperaturesArePlausibleAndWarmWhileTransmitting) {
    VirtualRadio radio = InTunerMode(VirtualPreset::Variant0);
    const Bytes idle = ReadBack(radio, 87, 3);
    ASSERT_EQ(idle.size(), 2u);
    for (std::uint8_t t : idle) {
        EXPECT_GE(t, 15);
        EXPECT_LE(t, 60);
    }
    Exchange(radio, cmd::kSetItem, LayoutA(30, 0, 3, 0));
    Bytes warm;
    for (int i = 0; i < 15; ++i) warm = ReadBack(radio, 30, 3);
    EXPECT_GT(warm[0], idle[0] + 5);
    EXPECT_LE(warm[0], 60);
}

TEST(VirtualRadioReading, SquelchReadingStaysNearTheLiveValue) {
    VirtualRadio radio = InTunerMode(VirtualPreset::Variant0);
    Exchange(radio, cmd::kSetItem, LayoutA(65, 5, 3, 120));
    for (int i = 0; i < 10; ++i) {
        const int r = ReadBack(radio, 65, 3).at(0);
        EXPECT_GE(r, 117);
        EXPECT_LE(r, 123);
    }
    // Items without a measurement report their live value.
    EXPECT_EQ(ReadBack(radio, 10, 2).at(0), radio.liveImage()[117]);
}

TEST(VirtualRadioReading, ErrorCountersCountWhileReceiving) {
    VirtualRadio radio = InTunerMode(VirtualPreset::Variant0);
    Exchange(radio, cmd::kSetItem, LayoutA(22, 2, 1, 0));
    EXPECT_EQ(radio.frameCount(), 0u);
    radio.setErrorCounters(1, 1);
    EXPECT_EQ(ReadBack(radio, 22), (Bytes{0, 0, 0, 1, 0, 0, 0, 1}));
    std::uint32_t lastN = 1;
    for (int i = 0; i < 5; ++i) {
        const Bytes r = ReadBack(radio, 22);
        const std::uint32_t n = (std::uint32_t{r[0]} << 24) | (r[1] << 16) | (r[2] << 8) | r[3];
        const std::uint32_t e = (std::uint32_t{r[4]} << 24) | (r[5] << 16) | (r[6] << 8) | r[7];
        EXPECT_GT(n, lastN);
        EXPECT_LT(e, n / 10);
        lastN = n;
    }
    // Receiver off: the counters hold.
    Exchange(radio, cmd::kSetItem, LayoutA(22, 3, 1, 0));
    const Bytes held = ReadBack(radio, 22);
    EXPECT_EQ(ReadBack(radio, 22), held);
    radio.setErrorCounters(17000000, 0xFFFFFFFF);
    EXPECT_EQ(ReadBack(radio, 82), (Bytes{0x01, 0x03, 0x66, 0x40, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(VirtualRadioReading, FixedReadingsOverrideTheMeasurement) {
    VirtualRadio radio = InTunerMode(VirtualPreset::Variant0);
    radio.setReading(30, {17, 200});
    radio.setReading(28, {99, 1, 2});  // cut to the room of a 10-byte reply
    radio.setReading(82, {1});         // zero-padded
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadBack(radio, 30, 3), (Bytes{17, 200}));
        EXPECT_EQ(ReadBack(radio, 28), (Bytes{99}));
        EXPECT_EQ(ReadBack(radio, 82), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
    }
    radio.clearReading(30);
    EXPECT_NE(ReadBack(radio, 30, 3), (Bytes{17, 200}));
    radio.clearReadings();
    EXPECT_NE(ReadBack(radio, 28), (Bytes{99}));
}

TEST(VirtualRadioReading, OutsideTunerModeTheReadingIsZero) {
    VirtualRadio radio;
    radio.setReading(30, {17, 200});
    EXPECT_EQ(ReadBack(radio, 30, 3), (Bytes{0, 0}));
}

TEST(VirtualRadioReading, ClockCountsCommandsAndReads) {
    VirtualRadio radio;
    EXPECT_EQ(radio.clock(), 0u);
    Send(radio, Frame(cmd::kReadInfo));
    Read(radio, 265);
    Read(radio, 265);
    EXPECT_EQ(radio.clock(), 3u);
    Send(radio, Bytes{1, 2, 3});  // not a frame: no time passes for the firmware
    EXPECT_EQ(radio.clock(), 3u);
    radio.advanceClock(10);
    EXPECT_EQ(radio.clock(), 13u);
}

// ---------------------------------------------------------------- faults

TEST(VirtualRadioFault, EachFaultSpoilsTheReplyButNotTheCommand) {
    VirtualRadio good;
    Send(good, Frame(cmd::kEnterTunerMode));
    const Bytes goodReply = Read(good, 521);

    {
        VirtualRadio radio;
        radio.setFault(Fault::NoAnswer);
        Send(radio, Frame(cmd::kEnterTunerMode));
        EXPECT_TRUE(radio.inTunerMode());
        EXPECT_EQ(Read(radio, 521), Bytes(521, 0));
    }
    {
        VirtualRadio radio;
        radio.setFault(Fault::WrongChecksum);
        Send(radio, Frame(cmd::kEnterTunerMode));
        const Bytes reply = Read(radio, 521);
        EXPECT_FALSE(MatchReply(reply.data(), 0x8060, 521));
        std::size_t differing = 0;
        for (std::size_t i = 0; i < reply.size(); ++i) differing += reply[i] != goodReply[i];
        EXPECT_EQ(differing, 1u);
        EXPECT_NE(reply[519], goodReply[519]);  // the checksum's low byte
    }
    {
        VirtualRadio radio;
        radio.setFault(Fault::WrongCommandCode);
        Send(radio, Frame(cmd::kEnterTunerMode));
        const Bytes reply = Read(radio, 521);
        EXPECT_FALSE(MatchReply(reply.data(), 0x8060, 521));
        EXPECT_TRUE(MatchReply(reply.data(), 0x0060, 521));
    }
    {
        VirtualRadio radio;
        radio.setFault(Fault::WrongChecksum);
        radio.setFault(Fault::None);
        Send(radio, Frame(cmd::kEnterTunerMode));
        EXPECT_EQ(Read(radio, 521), goodReply);
    }
}

TEST(VirtualRadioFault, AnswerAfterReadsCountsFromEachCommand) {
    VirtualRadio radio;
    radio.setFault(Fault::AnswerAfterReads, 3);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Send(radio, Frame(cmd::kExitTunerMode));
        EXPECT_EQ(Read(radio, 9), Bytes(9, 0));
        EXPECT_EQ(Read(radio, 9), Bytes(9, 0));
        EXPECT_TRUE(MatchReply(Read(radio, 9).data(), 0x8061, 9));
        EXPECT_TRUE(MatchReply(Read(radio, 9).data(), 0x8061, 9));
    }
}

TEST(VirtualRadioFault, DropNextRepliesIsOneShot) {
    VirtualRadio radio = InTunerMode(VirtualPreset::Variant0);
    radio.dropNextReplies(2);
    const Bytes set = Frame(cmd::kSetItem, LayoutA(10, 5, 1, 66));
    Send(radio, set);
    EXPECT_EQ(Read(radio, 9), Bytes(9, 0));
    EXPECT_EQ(radio.liveImage()[116], 66);  // the command still acted
    Send(radio, set);
    EXPECT_EQ(Read(radio, 9), Bytes(9, 0));
    EXPECT_EQ(radio.pendingDrops(), 0u);
    Send(radio, set);
    EXPECT_TRUE(MatchReply(Read(radio, 9).data(), 0x8062, 9));
    Send(radio, set);
    EXPECT_TRUE(MatchReply(Read(radio, 9).data(), 0x8062, 9));
}

TEST(VirtualRadioFault, UnpluggedTakesNothingAndAnswersNothing) {
    VirtualRadio radio;
    Send(radio, Frame(cmd::kEnterTunerMode));
    EXPECT_TRUE(radio.inTunerMode());
    const std::uint64_t generation = radio.plugGeneration();
    radio.unplug();
    EXPECT_FALSE(radio.plugged());
    EXPECT_FALSE(radio.inTunerMode());
    EXPECT_FALSE(radio.hasPendingReply());
    EXPECT_EQ(radio.plugGeneration(), generation + 1);
    radio.clearReceivedFrames();
    Send(radio, Frame(cmd::kReadInfo));
    EXPECT_TRUE(radio.receivedFrames().empty());
    EXPECT_EQ(Read(radio, 265), Bytes(265, 0));
    radio.plug();
    EXPECT_TRUE(radio.plugged());
    EXPECT_EQ(Read(radio, 265), Bytes(265, 0));  // the reply was lost with the cable
    Send(radio, Frame(cmd::kReadInfo));
    EXPECT_TRUE(MatchReply(Read(radio, 265).data(), 0x8003, 265));
}

// ---------------------------------------------------------------- backend

TEST(VirtualBackendScan, PresentsTheRadioInSlotE) {
    VirtualBackend backend;
    const std::vector<std::string> slots = backend.volumeSlots();
    ASSERT_EQ(slots.size(), 24u);
    for (std::size_t n = 0; n < slots.size(); ++n) EXPECT_EQ(slots[n], n == 4 ? "E:" : "") << n;
    EXPECT_TRUE(backend.isRemovable("E:"));
    const auto identity = backend.probe("E:");
    ASSERT_TRUE(identity.has_value());
    EXPECT_TRUE(IsRadioIdentity(*identity));
#ifdef _WIN32
    EXPECT_EQ(backend.describe("E:"), "virtual radio (E:)");
#else
    // No drive letter outside Windows: the fifth slot is E:.
    EXPECT_EQ(backend.describe("E:"), "virtual radio (slot 5)");
#endif
    EXPECT_FALSE(backend.probe("F:").has_value());
    EXPECT_FALSE(backend.isRemovable("F:"));
    EXPECT_EQ(VirtualBackend::slotName(0), "A:");
    EXPECT_EQ(VirtualBackend::slotName(23), "X:");

    SetDeviceBackend(&backend);
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_EQ(radioDriveLetters[0], "E:");
    SetDeviceBackend(nullptr);
}

TEST(VirtualBackendScan, OtherVolumesAreProbedButNotTaken) {
    VirtualBackend backend(VirtualPreset::Variant0, 6);  // "G:"
    backend.addVolume(2, {"Kingston", "DataTraveler 3.0"}, true);     // C: a USB stick
    backend.addVolume(3, {kRadioVendor, kRadioProduct}, false);       // D: fixed, radio strings
    backend.addVolume(4, {"STM", kRadioProduct}, true);               // E: vendor without spaces
    backend.addUnreadableVolume(5);                                   // F: descriptor query fails
    const std::shared_ptr<VirtualRadio> second = backend.addRadio(9, VirtualPreset::LargeNewFirmware);  // J:
    SetDeviceBackend(&backend);
    EXPECT_EQ(ScanRadioDrives(), 2);
    EXPECT_EQ(radioDriveLetters[0], "G:");
    EXPECT_EQ(radioDriveLetters[1], "J:");
    EXPECT_FALSE(backend.isRemovable("D:"));
#ifdef _WIN32
    EXPECT_EQ(backend.describe("C:"), "virtual volume (C:)");
#else
    EXPECT_EQ(backend.describe("C:"), "virtual volume (slot 3)");
#endif
    // The lower letter is the one opened.
    std::unique_ptr<RadioLink> link = OpenRadio();
    ASSERT_NE(link, nullptr);
    const Bytes frame = Frame(cmd::kReadInfo);
    link->transferOut(frame.data(), static_cast<std::uint16_t>(frame.size()));
    EXPECT_EQ(backend.radio().receivedFrames().size(), 1u);
    EXPECT_TRUE(second->receivedFrames().empty());
    // With the first radio gone, the second is found.
    backend.unplug();
    EXPECT_EQ(ScanRadioDrives(), 1);
    EXPECT_EQ(radioDriveLetters[0], "J:");
    backend.clearSlot(9);
    EXPECT_EQ(ScanRadioDrives(), 0);
    SetDeviceBackend(nullptr);
}

TEST(VirtualBackendScan, ClearingTheRadioSlotGivesAHostWithoutRadio) {
    VirtualBackend backend;
    backend.clearSlot(backend.radioSlot());
    EXPECT_EQ(backend.volumeSlots(), std::vector<std::string>(24));
    SetDeviceBackend(&backend);
    EXPECT_EQ(ScanRadioDrives(), 0);
    EXPECT_EQ(OpenRadio(), nullptr);
    EXPECT_EQ(backend.open("E:", nullptr), nullptr);
    // A radio put back in the slot becomes the primary one again.
    const std::shared_ptr<VirtualRadio> again = backend.addRadio(backend.radioSlot(), VirtualPreset::Variant2);
    EXPECT_EQ(&backend.radio(), again.get());
    EXPECT_EQ(ScanRadioDrives(), 1);
    SetDeviceBackend(nullptr);
    EXPECT_THROW(backend.clearSlot(24), std::out_of_range);
}

TEST(VirtualBackendLink, ForwardsTransfersBothWays) {
    VirtualBackend backend(VirtualPreset::Variant2);
    OpenError error;
    std::unique_ptr<RadioLink> link = backend.open("E:", &error);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::None);
    EXPECT_EQ(backend.openCount(), 1);
    const Bytes frame = Frame(cmd::kReadInfo);
    link->transferOut(frame.data(), static_cast<std::uint16_t>(frame.size()));
    Bytes buffer(265, 0);
    link->transferIn(buffer.data(), 265);
    EXPECT_TRUE(MatchReply(buffer.data(), 0x8003, 265));
    EXPECT_TRUE(std::equal(buffer.begin() + 6, buffer.begin() + 262, backend.radio().info().bytes.begin()));
}

TEST(VirtualBackendLink, AnswersInquiryAsARemovableDiskAndRefusesOtherCommands) {
    VirtualBackend backend(VirtualPreset::Variant0);
    std::unique_ptr<RadioLink> link = backend.open("E:", nullptr);
    ASSERT_NE(link, nullptr);
    std::array<std::uint8_t, 36> data{};
    ScsiCommand inquiry = ScsiCommand::inquiry(data.data());
    link->issue(inquiry);
    ASSERT_TRUE(inquiry.outcome.ok()) << inquiry.outcome.describe();
    EXPECT_EQ(inquiry.outcome.transferred, 36u);
    EXPECT_EQ(data[0] & 0x1F, 0x00);  // direct-access device
    EXPECT_EQ(data[1], 0x80);         // removable
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "STM     ");
    EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 32), "microSD Flash   ");
    // TEST UNIT READY is no command of the radio's.
    ScsiCommand ready;
    ready.cdbLength = 6;
    link->issue(ready);
    EXPECT_EQ(ready.outcome.kind(), TransferOutcome::Kind::CheckCondition);
    EXPECT_EQ(ready.outcome.senseKey, 0x05);  // ILLEGAL REQUEST
    EXPECT_TRUE(backend.radio().receivedFrames().empty());
}

TEST(VirtualBackendLink, UnplugKillsExistingLinksForGood) {
    auto backend = std::make_unique<VirtualBackend>();
    std::vector<bool> events;
    backend->setPlugListener([&](bool plugged) { events.push_back(plugged); });
    std::unique_ptr<RadioLink> link = backend->open("E:", nullptr);
    ASSERT_NE(link, nullptr);
    const Bytes frame = Frame(cmd::kReadInfo);
    link->transferOut(frame.data(), static_cast<std::uint16_t>(frame.size()));

    backend->unplug();
    backend->unplug();  // no second event for the same state
    EXPECT_EQ(backend->volumeSlots()[4], "");
    EXPECT_FALSE(backend->probe("E:").has_value());
    OpenError error;
    EXPECT_EQ(backend->open("E:", &error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::NoRadio);

    Bytes buffer(265, 0);
    link->transferIn(buffer.data(), 265);
    EXPECT_EQ(buffer, Bytes(265, 0));

    backend->plug();
    EXPECT_EQ(events, (std::vector<bool>{false, true}));
    // The old handle stays dead; a new open works.
    backend->radio().clearReceivedFrames();
    link->transferOut(frame.data(), static_cast<std::uint16_t>(frame.size()));
    EXPECT_TRUE(backend->radio().receivedFrames().empty());
    std::unique_ptr<RadioLink> fresh = backend->open("E:", nullptr);
    ASSERT_NE(fresh, nullptr);
    fresh->transferOut(frame.data(), static_cast<std::uint16_t>(frame.size()));
    fresh->transferIn(buffer.data(), 265);
    EXPECT_TRUE(MatchReply(buffer.data(), 0x8003, 265));

    // A link may outlive the backend.
    backend.reset();
    fresh->transferOut(frame.data(), static_cast<std::uint16_t>(frame.size()));
    std::fill(buffer.begin(), buffer.end(), 0);
    fresh->transferIn(buffer.data(), 265);
    EXPECT_TRUE(MatchReply(buffer.data(), 0x8003, 265));
}

TEST(VirtualBackendLink, OpenFailureCanBeInjected) {
    VirtualBackend backend;
    backend.setOpenFailure(OpenError::Kind::Busy, "held by another program");
    OpenError error;
    EXPECT_EQ(backend.open("E:", &error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::Busy);
#ifdef _WIN32
    EXPECT_EQ(error.device, "virtual radio (E:)");
#else
    EXPECT_EQ(error.device, "virtual radio (slot 5)");
#endif
    EXPECT_EQ(error.detail, "held by another program");
    backend.setOpenFailure(OpenError::Kind::None);
    EXPECT_NE(backend.open("E:", &error), nullptr);
    EXPECT_EQ(error.kind, OpenError::Kind::None);
}

TEST(VirtualBackendLink, DestroyedBackendUninstallsItself) {
    {
        VirtualBackend backend;
        SetDeviceBackend(&backend);
    }
    EXPECT_EQ(CurrentDeviceBackend(), nullptr);
}
