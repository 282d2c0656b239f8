// The request blocks of the Windows backend, byte for byte. Built and run
// only where the backend is: the MinGW build under wine64.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "device/WindowsBackend.h"

namespace varnel {
namespace {

constexpr bool kWide = sizeof(void*) == 8;

// The block as the layout table gives it: the fixed part (44 bytes with
// 32-bit pointers; 56 with 64-bit ones, where the data pointer is aligned to
// 8 bytes and the structure padded to a multiple of 8), a filler word, the
// 32-byte sense buffer.
std::vector<std::uint8_t> expectedBlock(bool toRadio, const void* data, std::uint32_t length) {
    const std::size_t fixed = kWide ? 56 : 44;
    std::vector<std::uint8_t> b(kWide ? 96 : 80, 0);
    b[0] = static_cast<std::uint8_t>(fixed);  // Length
    b[4] = 1;                                 // TargetId
    b[6] = 16;                                // CdbLength
    b[7] = toRadio ? 24 : 32;                 // SenseInfoLength
    b[8] = toRadio ? 0 : 1;                   // DataIn
    b[12] = static_cast<std::uint8_t>(length);
    b[13] = static_cast<std::uint8_t>(length >> 8);
    b[16] = 2;  // TimeOutValue, seconds
    const std::size_t pointerAt = kWide ? 24 : 20;
    std::memcpy(&b[pointerAt], &data, sizeof data);
    const std::size_t senseOffsetAt = kWide ? 32 : 24;
    b[senseOffsetAt] = static_cast<std::uint8_t>(fixed + 4);  // SenseInfoOffset: 48 or 60
    const std::size_t cdbAt = kWide ? 36 : 28;
    b[cdbAt + 0] = 0xFF;
    b[cdbAt + 1] = toRadio ? 0x2A : 0x28;
    b[cdbAt + 14] = 0x47;  // 'G'
    b[cdbAt + 15] = 0x50;  // 'P'
    return b;
}

TEST(WindowsPassThrough, DataOutBlockByteForByte) {
    std::uint8_t frame[857] = {};
    const std::vector<std::uint8_t> block = PassThroughRequestBytes(TransferDirection::ToRadio, frame, 857);
    EXPECT_EQ(block, expectedBlock(true, frame, 857));
}

TEST(WindowsPassThrough, DataInBlockByteForByte) {
    std::uint8_t reply[265] = {};
    const std::vector<std::uint8_t> block = PassThroughRequestBytes(TransferDirection::FromRadio, reply, 265);
    EXPECT_EQ(block, expectedBlock(false, reply, 265));
}

TEST(WindowsPassThrough, LengthTravelsOnlyInTheTransferLength) {
    std::uint8_t frame[9] = {};
    const std::vector<std::uint8_t> shortBlock = PassThroughRequestBytes(TransferDirection::ToRadio, frame, 9);
    const std::vector<std::uint8_t> longBlock = PassThroughRequestBytes(TransferDirection::ToRadio, frame, 4096);
    ASSERT_EQ(shortBlock.size(), longBlock.size());
    for (std::size_t i = 0; i < shortBlock.size(); ++i) {
        if (i == 12 || i == 13) continue;
        EXPECT_EQ(shortBlock[i], longBlock[i]) << "byte " << i;
    }
    EXPECT_EQ(longBlock[12], 0x00);
    EXPECT_EQ(longBlock[13], 0x10);
}

}  // namespace
}  // namespace varnel
#endif  // _WIN32
