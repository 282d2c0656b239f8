// Frames read back into words for the communication log and the status bar.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/FrameDecode.h"

namespace varnel {
namespace {

// Every text shows as "<section/key>", so the tests see which texts are used.
std::string Keys(const char* section, const char* key) { return std::string("<") + section + "/" + key + ">"; }

// A1, code, length, payload, 16-bit sum, A4: written out by hand.
std::vector<std::uint8_t> Frame(std::uint16_t code, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> f{0xA1, static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code),
                                static_cast<std::uint8_t>(payload.size() >> 8), static_cast<std::uint8_t>(payload.size())};
    unsigned sum = 0;
    for (std::uint8_t b : payload) {
        f.push_back(b);
        sum += b;
    }
    f.push_back(static_cast<std::uint8_t>((sum >> 8) & 0xFF));
    f.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    f.push_back(0xA4);
    return f;
}

TEST(FrameDecode, LiveSetOfPowerPointFour) {
    // Item 18, action 1 (transmit off), point 4, 435.05 MHz (19 EE 56 10), value 120.
    const auto f = Frame(0x0062, {18, 1, 4, 0x19, 0xEE, 0x56, 0x10, 120});
    ASSERT_EQ(f.size(), 16u);
    const DecodedFrame d = DecodeFrame(f.data(), f.size(), false);
    EXPECT_TRUE(d.wellFormed);
    EXPECT_FALSE(d.received);
    EXPECT_EQ(d.command, 0x0062);
    EXPECT_EQ(d.item, 18);
    EXPECT_EQ(d.band, 0);
    EXPECT_EQ(d.action, 1);
    EXPECT_EQ(d.point, 4);
    EXPECT_EQ(d.frequency, 435050000u);
    EXPECT_EQ(d.value, 120);
    EXPECT_TRUE(d.failure.empty());

    const std::string line = DescribeFrame(d, Keys);
    EXPECT_EQ(line,
              "<Status/D0001> \xC2\xB7 <Status/D0062> \xC2\xB7 <TreeView/T0022> (<ChildForm/C0016>) \xC2\xB7 400-470 MHz \xC2\xB7 "
              "<Status/A0001> \xC2\xB7 <Status/F0002> 4 \xC2\xB7 435.050000 MHz \xC2\xB7 <Status/F0003> 120");
}

TEST(FrameDecode, BandOneItemAndReadBack) {
    // Item 65 is the squelch item of band 1; action 7 is the read-back request.
    const auto f = Frame(0x0062, {65, 7, 2, 0x08, 0x2E, 0xF5, 0xE0, 0});
    const DecodedFrame d = DecodeFrame(f.data(), f.size(), false);
    EXPECT_EQ(d.band, 1);
    EXPECT_STREQ(CommandNameKey(d.command, d.action), "D0067");
    const std::vector<std::string> fields = DescribeFrameFields(d, Keys);
    ASSERT_EQ(fields.size(), 9u);
    EXPECT_EQ(fields[1], "<Status/D0067>");
    EXPECT_EQ(fields[3], "136-174 MHz");
    EXPECT_EQ(fields[4], "");  // the read-back action is the command's name already
    EXPECT_EQ(fields[5], "<Status/F0002> 2");
    EXPECT_EQ(fields[6], "137.295328 MHz");  // 0x082EF5E0 Hz
}

TEST(FrameDecode, FskBlockLiveSetCarriesItsRecord) {
    std::vector<std::uint8_t> payload{31, 5, 2, 0x19, 0xEE, 0x56, 0x10};
    for (int i = 0; i < 8; ++i) payload.push_back(static_cast<std::uint8_t>(i));
    const auto f = Frame(0x0062, payload);
    const DecodedFrame d = DecodeFrame(f.data(), f.size(), false);
    EXPECT_EQ(d.item, 31);
    EXPECT_EQ(d.value, -1);
    EXPECT_EQ(d.dataBytes, 8u);
}

TEST(FrameDecode, SaveOfAPairAndOfOneByte) {
    std::vector<std::uint8_t> payload{18, 16};
    for (int i = 0; i < 16; ++i) payload.push_back(static_cast<std::uint8_t>(100 + i));
    const auto pair = Frame(0x0066, payload);
    const DecodedFrame d = DecodeFrame(pair.data(), pair.size(), false);
    EXPECT_EQ(d.command, 0x0066);
    EXPECT_EQ(d.item, 18);
    EXPECT_EQ(d.dataBytes, 16u);
    EXPECT_EQ(d.value, -1);
    // Item 18 is the low column of the pair its tree node selects.
    EXPECT_EQ(DescribeAcknowledged(d, 3, Keys), "<Status/K0066> <TreeView/T0022> (<ChildForm/C0016>), <Status/F0002> 3");

    const auto single = Frame(0x0066, {27, 1, 77});  // man-down value
    const DecodedFrame s = DecodeFrame(single.data(), single.size(), false);
    EXPECT_EQ(s.value, 77);
    // A single-byte item has no point to name.
    EXPECT_EQ(DescribeAcknowledged(s, 3, Keys).find("F0002"), std::string::npos);
}

TEST(FrameDecode, CommandsWithoutItems) {
    struct Case {
        std::uint16_t code;
        const char* name;
        const char* acknowledged;
    };
    for (const Case& c : {Case{0x0003, "D0003", "<Status/K0003>"}, Case{0x0060, "D0060", "<Status/K0060>"},
                          Case{0x0061, "D0061", "<Status/K0061>"}, Case{0x0065, "D0065", "<Status/K0065>"}}) {
        const auto f = Frame(c.code, {});
        const DecodedFrame d = DecodeFrame(f.data(), f.size(), false);
        EXPECT_TRUE(d.wellFormed);
        EXPECT_EQ(d.item, -1);
        EXPECT_STREQ(CommandNameKey(d.command, d.action), c.name);
        EXPECT_EQ(DescribeAcknowledged(d, 0, Keys), c.acknowledged);
    }
    std::vector<std::uint8_t> image(512, 0x5A);
    const auto all = Frame(0x0063, image);
    ASSERT_EQ(all.size(), 520u);
    const DecodedFrame d = DecodeFrame(all.data(), all.size(), false);
    EXPECT_EQ(d.dataBytes, 512u);
    EXPECT_NE(DescribeFrame(d, Keys).find("512 <Status/F0005>"), std::string::npos);
}

TEST(FrameDecode, RepliesByLength) {
    // 9 bytes: acknowledgement with a status byte.
    const auto ack = Frame(0x8062, {0});
    ASSERT_EQ(ack.size(), 9u);
    const DecodedFrame a = DecodeFrame(ack.data(), ack.size(), true);
    EXPECT_TRUE(a.received);
    EXPECT_EQ(a.command, 0x0062);
    EXPECT_EQ(a.status, 0);
    EXPECT_NE(DescribeFrame(a, Keys).find("<Status/F0010>"), std::string::npos);
    const auto refused = Frame(0x8066, {2});
    const DecodedFrame r = DecodeFrame(refused.data(), refused.size(), true);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(DescribeFrame(r, Keys).find("<Status/F0006> 2"), std::string::npos);

    // 10 bytes: one reading.
    const auto reading = Frame(0x8062, {5, 200});
    const DecodedFrame one = DecodeFrame(reading.data(), reading.size(), true);
    EXPECT_EQ(one.item, 5);
    ASSERT_EQ(one.readings.size(), 1u);
    EXPECT_EQ(one.readings[0], 200u);

    // 11 bytes: two temperature readings.
    const auto temp = Frame(0x8062, {30, 41, 42});
    const DecodedFrame two = DecodeFrame(temp.data(), temp.size(), true);
    ASSERT_EQ(two.readings.size(), 2u);
    EXPECT_EQ(two.readings[1], 42u);

    // 17 bytes: N = 1 frame, E = 1 error: 264 bits.
    const auto ber = Frame(0x8062, {22, 0, 0, 0, 1, 0, 0, 0, 1});
    ASSERT_EQ(ber.size(), 17u);
    const DecodedFrame b = DecodeFrame(ber.data(), ber.size(), true);
    ASSERT_EQ(b.readings.size(), 2u);
    EXPECT_NE(DescribeFrame(b, Keys).find("264 <Status/F0008>, 1 <Status/F0009>"), std::string::npos);
}

TEST(FrameDecode, AReplyReadWithTheExpectedLengthNotTheStatedOne) {
    // A 9-byte acknowledgement read as the 10 bytes a read-back expects:
    // the end byte is not where the length says, so the frame is bad.
    auto ack = Frame(0x8062, {0});
    ack.push_back(0);
    const DecodedFrame d = DecodeFrame(ack.data(), ack.size(), true);
    EXPECT_FALSE(d.wellFormed);
    EXPECT_NE(DescribeFrame(d, Keys).find("<Status/F0011>"), std::string::npos);
}

TEST(FrameDecode, FailureReasonIsShown) {
    const auto f = Frame(0x0066, {4, 8, 1, 2, 3, 4, 5, 6, 7, 8});
    DecodedFrame d = DecodeFrame(f.data(), f.size(), false);
    d.failure = "transfer timed out";
    const std::vector<std::string> fields = DescribeFrameFields(d, Keys);
    EXPECT_EQ(fields.back(), "<Status/F0012>: transfer timed out");
}

TEST(FrameDecode, TooShortOrForeignBytes) {
    const std::uint8_t junk[] = {0x00, 0x01, 0x02};
    const DecodedFrame d = DecodeFrame(junk, sizeof junk, true);
    EXPECT_FALSE(d.wellFormed);
    EXPECT_EQ(d.item, -1);
    const DecodedFrame none = DecodeFrame(nullptr, 0, false);
    EXPECT_FALSE(none.wellFormed);
}

}  // namespace
// A column of a pair without a tree node of its own is named by the pair's
// node and its column, not by its number; so are the raw codes.
TEST(FrameDecode, ColumnsAreNamedByTheirPairsNode) {
    const auto high = Frame(0x0062, {19, 5, 3, 0x19, 0xEE, 0x56, 0x10, 77});
    const DecodedFrame d = DecodeFrame(high.data(), high.size(), false);
    EXPECT_NE(DescribeFrame(d, Keys).find("<TreeView/T0022> (<ChildForm/C0017>)"), std::string::npos);
    const auto nine = Frame(0x0062, {9, 5, 1, 0x19, 0xEE, 0x56, 0x10, 77});
    const DecodedFrame n = DecodeFrame(nine.data(), nine.size(), false);
    EXPECT_NE(DescribeFrame(n, Keys).find("<TreeView/T0014> (<ChildForm/C0013>)"), std::string::npos);
    const auto middle = Frame(0x0062, {26, 5, 1, 0x19, 0xEE, 0x56, 0x10, 77});
    const DecodedFrame m = DecodeFrame(middle.data(), middle.size(), false);
    EXPECT_NE(DescribeFrame(m, Keys).find("<TreeView/T0014> (<ChildForm/C0024>)"), std::string::npos);
    const auto raw = Frame(0x0062, {51, 5, 1, 0x19, 0xEE, 0x56, 0x10, 77});
    const DecodedFrame r = DecodeFrame(raw.data(), raw.size(), false);
    EXPECT_NE(DescribeFrame(r, Keys).find("1233 (<ChildForm/C0016> 51)"), std::string::npos);
    for (const DecodedFrame& f : {d, n, m, r}) EXPECT_EQ(DescribeFrame(f, Keys).find("<Status/F0013>"), std::string::npos);
}

}  // namespace varnel
