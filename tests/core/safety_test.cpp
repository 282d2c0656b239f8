#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "data/Safety.h"
#include "sim/VirtualRadio.h"

using namespace varnel;

namespace {

RadioInfo Block(const char* name, std::uint8_t code, std::uint8_t variant, std::uint8_t flags,
                const char* firmware = "V2.1") {
    RadioInfo info;
    std::memcpy(info.bytes.data(), name, std::strlen(name));
    std::memcpy(info.bytes.data() + 64, firmware, std::strlen(firmware));
    info.bytes[88] = code;
    info.bytes[89] = variant;
    info.bytes[128] = flags;
    return info;
}

// Every point of both halves on a frequency of its own band.
TunerImage GoodImage() {
    TunerImage image;
    for (int i = 0; i < 8; ++i) {
        image.setTxFrequencyIn(0, i, 435'050'000u + 10'000u * i);
        image.setRxFrequencyIn(0, i, 435'050'000u + 10'000u * i);
        image.setTxFrequencyIn(1, i, 150'000'000u + 10'000u * i);
        image.setRxFrequencyIn(1, i, 150'000'000u + 10'000u * i);
    }
    return image;
}

}  // namespace

TEST(BandLimits, BothEndsOfBothBandsAreInside) {
    EXPECT_TRUE(FrequencyInBand(400'000'000u, 0));
    EXPECT_TRUE(FrequencyInBand(470'000'000u, 0));
    EXPECT_FALSE(FrequencyInBand(399'999'990u, 0));
    EXPECT_FALSE(FrequencyInBand(470'000'010u, 0));
    EXPECT_TRUE(FrequencyInBand(136'000'000u, 1));
    EXPECT_TRUE(FrequencyInBand(174'000'000u, 1));
    EXPECT_FALSE(FrequencyInBand(435'050'000u, 1));
    EXPECT_FALSE(FrequencyInBand(999'900'000u, 0));
    EXPECT_FALSE(FrequencyInBand(0u, 0));
    EXPECT_TRUE(FrequencyInAnyBand(150'000'000u));
    EXPECT_FALSE(FrequencyInAnyBand(43'500'000u));
}

TEST(Plausibility, AWellFormedBlockAndImageHaveNoProblem) {
    EXPECT_TRUE(PlausibilityProblems(Block("VR-D200", 3, 0, 0), GoodImage()).empty());
    EXPECT_TRUE(PlausibilityProblems(Block("VR-D500", 5, 2, 1, "V2.3"), GoodImage()).empty());
}

TEST(Plausibility, NamesEveryFaultOfAnAllZeroArchive) {
    const auto problems = PlausibilityProblems(RadioInfo{}, TunerImage{});
    ASSERT_FALSE(problems.empty());
    EXPECT_EQ(problems.front().kind, PlausibilityProblem::Kind::ModelName);
    // Points 1-5 of both halves (old firmware), transmit and receive.
    EXPECT_EQ(problems.size(), 1u + 2u * 5u * 2u);
}

TEST(Plausibility, ControlCharactersInTheNameAndAVariantAboveTwo) {
    RadioInfo info = Block("VR\x01" "D", 3, 3, 0);
    const auto problems = PlausibilityProblems(info, GoodImage());
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].kind, PlausibilityProblem::Kind::ModelName);
    EXPECT_EQ(problems[1].kind, PlausibilityProblem::Kind::ModelVariant);
    EXPECT_EQ(problems[1].value, 3u);
}

TEST(Plausibility, AFrequencyOfAUsedPointOutsideBothBands) {
    TunerImage image = GoodImage();
    image.setRxFrequencyIn(1, 2, 43'500'000u);   // point 3 of band half 1
    image.setTxFrequencyIn(0, 6, 0u);            // point 7 of half 0 is not used
    const auto problems = PlausibilityProblems(Block("VR-D200", 3, 0, 0), image);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].kind, PlausibilityProblem::Kind::RxFrequency);
    EXPECT_EQ(problems[0].band, 1);
    EXPECT_EQ(problems[0].point, 3);
    EXPECT_EQ(problems[0].value, 43'500'000u);
}

TEST(Plausibility, EightPointsOfTheSecondHalfWithNewFirmware) {
    TunerImage image = GoodImage();
    image.setTxFrequencyIn(1, 7, 999'900'000u);  // point 8
    EXPECT_TRUE(PlausibilityProblems(Block("VR-D200", 3, 0, 0, "V2.1"), image).empty());
    const auto problems = PlausibilityProblems(Block("VR-D200", 3, 0, 0, "V2.2"), image);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].kind, PlausibilityProblem::Kind::TxFrequency);
    EXPECT_EQ(problems[0].point, 8);
}

TEST(Identity, TheFourFieldsDecide) {
    const RadioInfo a = Block("VR-D200", 3, 0, 0);
    RadioInfo b = a;
    b.bytes[200] = 0x55;  // an uninterpreted byte (a serial number, say)
    EXPECT_TRUE(SameRadio(a, b));
    EXPECT_FALSE(SameRadio(a, Block("VR-D200M", 3, 0, 0)));
    EXPECT_FALSE(SameRadio(a, Block("VR-D200", 4, 0, 0)));
    EXPECT_FALSE(SameRadio(a, Block("VR-D200", 3, 1, 0)));
    // byte 128 bit 0 with code 5 makes the 848-byte model
    EXPECT_FALSE(SameRadio(Block("X", 5, 0, 0), Block("X", 5, 0, 1)));
    EXPECT_TRUE(SameRadio(Block("X", 5, 0, 1), Block("X", 5, 0, 3)));
}

TEST(Identity, DescriptionNamesModelCodeVariantAndSize) {
    EXPECT_EQ(DescribeRadio(Block("VR-D500", 5, 2, 1)), "VR-D500 (model 5, variant 2, 848 bytes)");
    EXPECT_EQ(DescribeRadio(RadioInfo{}), "? (model 0, variant 0, 512 bytes)");
}

TEST(Backup, FileNameFromModelAndLocalTime) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 8;
    t.tm_min = 5;
    t.tm_sec = 7;
    EXPECT_EQ(BackupFileName("VR-D200", t), "VR-D200_2026-12-09_08-05-07.tdb");
    EXPECT_EQ(BackupFileName("A/B C:1", t), "A_B_C_1_2026-12-09_08-05-07.tdb");
    EXPECT_EQ(BackupFileName("", t), "radio_2026-12-09_08-05-07.tdb");
    EXPECT_EQ(BackupFileName("..", t), "radio_2026-12-09_08-05-07.tdb");
}

TEST(SavedImage, AChangedByteMarksTheImageModifiedUntilSaved) {
    ResetSavedImage();
    TunerImage image;
    image[300] = 7;
    EXPECT_FALSE(ImageModified(image));  // no radio's image yet: nothing to lose
    MarkImageSaved(TunerImage{});
    EXPECT_TRUE(ImageModified(image));
    MarkImageSaved(image);
    EXPECT_FALSE(ImageModified(image));
    image[847] = 1;
    EXPECT_TRUE(ImageModified(image));
    ResetSavedImage();
}

TEST(Plausibility, EveryVirtualRadioPresetIsPlausible) {
    for (const VirtualPreset preset : {VirtualPreset::Variant0, VirtualPreset::Variant1, VirtualPreset::Variant2,
                                       VirtualPreset::LargeNewFirmware}) {
        EXPECT_TRUE(PlausibilityProblems(VirtualPresetInfo(preset), VirtualPresetImage(preset)).empty())
            << VirtualPresetName(preset);
    }
}
