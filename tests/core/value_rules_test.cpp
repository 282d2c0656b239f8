// Typed values, bit-error-rate figures and the communication-log text as
// plain functions of the core library.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/ValueRules.h"
#include "lang/FrameLogText.h"
#include "lang/Loadlanguage.h"

namespace varnel {
namespace {

TEST(TypedInteger, SignAndDigitsOnly) {
    EXPECT_EQ(ParseTypedInteger("77"), 77);
    EXPECT_EQ(ParseTypedInteger("+5"), 5);
    EXPECT_EQ(ParseTypedInteger("-3"), -3);
    EXPECT_EQ(ParseTypedInteger("007"), 7);
    EXPECT_EQ(ParseTypedInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseTypedInteger("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "+", "-", " 5", "5 ", "1,000", "1.5", "0x10", "12a", "2147483648", "99999999999"}) {
        EXPECT_FALSE(ParseTypedInteger(bad).has_value()) << bad;
    }
}

TEST(TypedInteger, ClampedToTheControlAndDividedByItsStep) {
    // A byte control 0-255, step 1.
    EXPECT_EQ(TypedStoreValue("300", 0, 255, 1), 255);
    EXPECT_EQ(TypedStoreValue("-4", 0, 255, 1), 0);
    EXPECT_EQ(TypedStoreValue("128", 0, 255, 1), 128);
    // A 16-bit FSK control 0-4096.
    EXPECT_EQ(TypedStoreValue("5000", 0, 4096, 1), 4096);
    // A control stepping by 5 stores the number of steps.
    EXPECT_EQ(TypedStoreValue("25", 0, 255, 5), 5);
    EXPECT_FALSE(TypedStoreValue("abc", 0, 255, 1).has_value());
}

TEST(BitErrorRate, FiguresOfTheCounters) {
    // 1000 frames of 264 bits, 33 errors: 3300 / 264000 = 0.0125 -> "0.01%".
    const BitErrorFigures f = BitErrorRate(1000, 33);
    EXPECT_EQ(f.bits, 264000u);
    EXPECT_EQ(f.errors, 33u);
    EXPECT_EQ(f.rate, "0.01%");
    // 10 frames, 264 errors: 26400 / 2640 = 10.
    EXPECT_EQ(BitErrorRate(10, 264).rate, "10.00%");
    // No frame counted.
    EXPECT_EQ(BitErrorRate(0, 5).rate, "0.0%");
    // The products wrap modulo 2^32: 16268815 frames make 4294967160 bits, one
    // frame more wraps to 128.
    EXPECT_EQ(BitErrorRate(16268815u, 0).bits, 4294967160u);
    EXPECT_EQ(BitErrorRate(16268816u, 0).bits, 128u);
}

class FrameLogTextTest : public testing::Test {
protected:
    void SetUp() override {
        // One folder per process and test: CTest runs the tests in parallel.
        dir_ = std::filesystem::temp_directory_path() /
               ("varnel-logtext-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        ResetLanguageState();
        std::filesystem::remove_all(dir_);
    }
    void useLanguage(const std::string& body) {
        std::ofstream(dir_ / "english.lang", std::ios::binary) << body;
        SetProgramDirectory(dir_);
        OpenLanguage(kLanguageEnglish);
    }
    std::filesystem::path dir_;
};

TEST_F(FrameLogTextTest, SentSetItemFrame) {
    useLanguage("[ChildForm]\r\nC0021=Send\r\nC0020=Receive\r\n");
    const std::uint8_t frame[16] = {0xA1, 0x00, 0x62, 0x00, 0x08, 0x0A, 0x04, 0x01,
                                    0x19, 0xEE, 0x56, 0x10, 0x80, 0x01, 0xFB, 0xA4};
    EXPECT_EQ(FrameLogText(frame, 16, 0),
              "  Send:   A1  00  62  00  08  0A  04  01  19  EE  56  10  80  01  FB  A4  ");
    EXPECT_EQ(FrameLogText(frame, 2, 1), "  Receive:   A1  00  ");
    EXPECT_EQ(FrameLogText(frame, 0, 7), "  Receive:   ");
}

TEST_F(FrameLogTextTest, MissingLabelLeavesTheColon) {
    useLanguage("[ChildForm]\r\nC0020=Receive\r\n");
    const std::uint8_t frame[1] = {0xA4};
    EXPECT_EQ(FrameLogText(frame, 1, 0), "  :   A4  ");
}

}  // namespace
}  // namespace varnel
