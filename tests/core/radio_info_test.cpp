#include <gtest/gtest.h>

#include <cstring>

#include "data/RadioInfo.h"

using varnel::RadioInfo;

namespace {

RadioInfo blockWith(std::uint8_t flags, std::uint8_t code) {
    RadioInfo info;
    info.bytes[128] = flags;
    info.bytes[88] = code;
    return info;
}

RadioInfo blockWithVersion(const char* text) {
    RadioInfo info;
    std::memcpy(info.bytes.data() + 64, text, std::strlen(text));
    return info;
}

}  // namespace

TEST(RadioInfo, LargeModelNeedsFlagBitAndModelFive) {
    EXPECT_TRUE(blockWith(0x01, 5).largeModel());
    EXPECT_TRUE(blockWith(0x03, 5).largeModel());
    EXPECT_FALSE(blockWith(0x00, 5).largeModel());
    EXPECT_FALSE(blockWith(0x01, 4).largeModel());
    EXPECT_FALSE(blockWith(0xFE, 5).largeModel());
    EXPECT_EQ(blockWith(0x01, 5).imageBytes(), 848u);
    EXPECT_EQ(blockWith(0x01, 4).imageBytes(), 512u);
}

TEST(RadioInfo, NewFirmwareFromMajorAndMinorDigit) {
    struct Case {
        const char* version;
        bool expected;
    };
    const Case cases[] = {
        {"V2.1", false}, {"V2.2", true},  {"V3.0", true},  {"2.20", false},
        {"V1.9", false}, {"V2.9", true},  {"V9.0", true},  {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(blockWithVersion(c.version).newFirmware(), c.expected) << c.version;
    }
}

TEST(RadioInfo, NewFirmwareComparesUnsignedBytes) {
    // A high byte at the major digit counts as "greater than 2".
    RadioInfo info;
    info.bytes[65] = 0xC8;
    EXPECT_TRUE(info.newFirmware());
    info.bytes[65] = '2';
    info.bytes[67] = 0xB0;
    EXPECT_TRUE(info.newFirmware());
}

TEST(RadioInfo, ModelNameUpToFirstNul) {
    RadioInfo info;
    EXPECT_EQ(info.modelName(), "");

    const std::string name63(63, 'M');
    std::memcpy(info.bytes.data(), name63.data(), name63.size());
    EXPECT_EQ(info.modelName(), name63);

    const char shortName[] = "VR-D200\0junk";
    std::memcpy(info.bytes.data(), shortName, sizeof shortName);
    EXPECT_EQ(info.modelName(), "VR-D200");
}

TEST(RadioInfo, ModelNameStopsAtNameAreaWithoutNul) {
    RadioInfo info;
    info.bytes.fill('A');
    EXPECT_EQ(info.modelName().size(), 64u);
}

TEST(RadioInfo, FieldsReadFromTheirOffsets) {
    RadioInfo info;
    for (std::size_t i = 0; i < info.bytes.size(); ++i) info.bytes[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(info.modelCode(), 88);
    EXPECT_EQ(info.modelVariant(), 89);
    EXPECT_EQ(info.featureFlags(), 128);
}

TEST(RadioInfo, AssignKeepsEveryByte) {
    std::uint8_t source[256];
    for (int i = 0; i < 256; ++i) source[i] = static_cast<std::uint8_t>(255 - i);
    RadioInfo info;
    info.assign(source);
    EXPECT_EQ(0, std::memcmp(info.bytes.data(), source, 256));
}
