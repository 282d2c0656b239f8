// The tuner image's frequency tables, 16-bit words and megahertz text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "data/Global.h"
#include "data/TunerImage.h"

namespace varnel {
namespace {

class TunerImageTest : public ::testing::Test {
protected:
    void SetUp() override { ResetGlobalState(); }
    void TearDown() override { ResetGlobalState(); }
};

TEST_F(TunerImageTest, Band0FrequencyIsBigEndianAtTheStartOfTheImage) {
    tunerImage[0] = 0x19;
    tunerImage[1] = 0xEE;
    tunerImage[2] = 0x56;
    tunerImage[3] = 0x10;
    band = 0;
    EXPECT_EQ(txFrequency(0), 435050000u);
    EXPECT_EQ(FormatMegahertz(txFrequency(0)), "435.050000");
}

TEST_F(TunerImageTest, Band1Point1ReadsBytes256And288NotTheFirstHalf) {
    // Band 0's tables hold something else entirely.
    for (int i = 0; i < 64; ++i) tunerImage[static_cast<std::size_t>(i)] = 0xAA;
    const std::uint8_t tx[4] = {0x08, 0x1B, 0x32, 0x00};  // 136 000 000 Hz
    const std::uint8_t rx[4] = {0x0A, 0x5E, 0xE7, 0x30};  // 173 991 728 Hz
    for (int k = 0; k < 4; ++k) {
        tunerImage[256 + static_cast<std::size_t>(k)] = tx[k];
        tunerImage[288 + static_cast<std::size_t>(k)] = rx[k];
    }
    band = 1;
    EXPECT_EQ(txFrequency(0), 136000000u);
    EXPECT_EQ(rxFrequency(0), 0x0A5EE730u);
    EXPECT_EQ(tunerImage.txFrequencyIn(1, 0), 136000000u);
    EXPECT_EQ(tunerImage.rxFrequencyIn(1, 0), 0x0A5EE730u);
    // The other half is unaffected by the band 1 bytes.
    EXPECT_EQ(tunerImage.txFrequencyIn(0, 0), 0xAAAAAAAAu);
    band = 0;
    EXPECT_EQ(txFrequency(0), 0xAAAAAAAAu);
}

TEST_F(TunerImageTest, EveryPointOfBothBandsHasItsOwnFourBytes) {
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < 8; ++i) {
            const std::uint32_t txHz = 0x10000000u * static_cast<std::uint32_t>(b + 1) + 0x01020304u * static_cast<std::uint32_t>(i);
            const std::uint32_t rxHz = txHz ^ 0x00FF00FFu;
            tunerImage.setTxFrequencyIn(b, i, txHz);
            tunerImage.setRxFrequencyIn(b, i, rxHz);
        }
    }
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < 8; ++i) {
            SCOPED_TRACE(testing::Message() << "band " << b << " index " << i);
            const std::uint32_t txHz = 0x10000000u * static_cast<std::uint32_t>(b + 1) + 0x01020304u * static_cast<std::uint32_t>(i);
            EXPECT_EQ(tunerImage.txFrequencyIn(b, i), txHz);
            EXPECT_EQ(tunerImage.rxFrequencyIn(b, i), txHz ^ 0x00FF00FFu);
            // Written high byte first.
            const std::size_t at = 256 * static_cast<std::size_t>(b) + 4 * static_cast<std::size_t>(i);
            EXPECT_EQ(tunerImage[at], static_cast<std::uint8_t>(txHz >> 24));
            EXPECT_EQ(tunerImage[at + 3], static_cast<std::uint8_t>(txHz));
            EXPECT_EQ(tunerImage[at + 32], static_cast<std::uint8_t>((txHz ^ 0x00FF00FFu) >> 24));
        }
    }
    // Nothing beyond the two tables of each half was touched.
    for (std::size_t k = 64; k < 256; ++k) EXPECT_EQ(tunerImage[k], 0) << k;
    for (std::size_t k = 320; k < TunerImage::kSize; ++k) EXPECT_EQ(tunerImage[k], 0) << k;
}

TEST_F(TunerImageTest, WordsAreLittleEndian) {
    tunerImage.setWord(536, 0x1234);
    EXPECT_EQ(tunerImage[536], 0x34);
    EXPECT_EQ(tunerImage[537], 0x12);
    EXPECT_EQ(tunerImage.word(536), 0x1234);
    tunerImage[846] = 0x00;
    tunerImage[847] = 0x10;
    EXPECT_EQ(tunerImage.word(846), 4096);
}

struct MegahertzCase {
    std::uint32_t hertz;
    const char* text;
};

class FormatMegahertzTest : public ::testing::TestWithParam<MegahertzCase> {};

TEST_P(FormatMegahertzTest, SixDecimals) {
    EXPECT_EQ(FormatMegahertz(GetParam().hertz), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, FormatMegahertzTest,
                         ::testing::Values(MegahertzCase{0, "0.000000"},                 //
                                           MegahertzCase{1, "0.000001"},                 //
                                           MegahertzCase{136000000, "136.000000"},       //
                                           MegahertzCase{435050000, "435.050000"},       //
                                           MegahertzCase{435123450, "435.123450"},       //
                                           MegahertzCase{999999, "0.999999"},            //
                                           MegahertzCase{0x7FFFFFFFu, "2147.483647"},    //
                                           // The sign bit makes the value negative.
                                           MegahertzCase{0x80000000u, "-2147.483648"},   //
                                           MegahertzCase{0xFFFFFFFFu, "-0.000001"},      //
                                           MegahertzCase{0xFFF0BDC0u, "-1.000000"}));

}  // namespace
}  // namespace varnel
