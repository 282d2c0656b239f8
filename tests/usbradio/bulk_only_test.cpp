// The USB radio's bulk-only transport and SCSI answers against a fake host:
// the thirteen host/device cases of BOT 1.0 (6.7), the standard commands a
// kernel sends to a removable disk, and the vendor commands reaching the
// virtual radio's firmware with its faults.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "protocol/Sendcmd.h"
#include "sim/VirtualFaults.h"
#include "usbradio/BulkOnly.h"
#include "usbradio/FunctionFs.h"

using namespace varnel;
using namespace varnel::usbradio;

namespace {

// The host side of the two bulk pipes: what it sends on OUT, what it got on
// IN, and which endpoints the device halted.
class FakeHost : public Endpoints {
public:
    std::deque<std::vector<std::uint8_t>> out;  // transfers the host sends, in order
    std::vector<std::vector<std::uint8_t>> in;  // transfers the device sent
    int inHalts = 0;
    int outHalts = 0;
    std::size_t packet = 512;

    long readOut(std::uint8_t* buffer, std::size_t length) override {
        if (out.empty()) return -ESHUTDOWN;
        std::vector<std::uint8_t>& next = out.front();
        const std::size_t n = std::min(length, next.size());
        std::memcpy(buffer, next.data(), n);
        next.erase(next.begin(), next.begin() + static_cast<long>(n));
        if (next.empty()) out.pop_front();
        return static_cast<long>(n);
    }
    long writeIn(const std::uint8_t* bytes, std::size_t length) override {
        in.emplace_back(bytes, bytes + length);
        return static_cast<long>(length);
    }
    void haltIn() override { ++inHalts; }
    void haltOut() override { ++outHalts; }
    std::size_t maxPacket() override { return packet; }
    bool pause(std::chrono::milliseconds time) override { return time.count() >= 0; }  // forever: a reset came
};

std::vector<std::uint8_t> Cbw(std::uint32_t tag, std::uint32_t length, bool in, std::vector<std::uint8_t> cdb) {
    std::vector<std::uint8_t> w(31, 0);
    const std::uint32_t sig = kCbwSignature;
    std::memcpy(w.data(), &sig, 4);  // little-endian host
    std::memcpy(w.data() + 4, &tag, 4);
    std::memcpy(w.data() + 8, &length, 4);
    w[12] = in ? 0x80 : 0x00;
    w[14] = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), w.begin() + 15);
    return w;
}

std::vector<std::uint8_t> VendorCdbBytes(TransferDirection direction) {
    const auto cdb = VendorCdb(direction);
    return {cdb.begin(), cdb.end()};
}

struct Csw {
    std::uint32_t signature, tag, residue;
    std::uint8_t status;
};
Csw ParseCsw(const std::vector<std::uint8_t>& bytes) {
    EXPECT_EQ(bytes.size(), 13u);
    Csw c{};
    if (bytes.size() != 13) return c;
    std::memcpy(&c.signature, bytes.data(), 4);
    std::memcpy(&c.tag, bytes.data() + 4, 4);
    std::memcpy(&c.residue, bytes.data() + 8, 4);
    c.status = bytes[12];
    return c;
}

class BulkOnlyTest : public ::testing::Test {
protected:
    std::shared_ptr<VirtualRadio> radio = std::make_shared<VirtualRadio>(VirtualPreset::LargeNewFirmware);
    ScsiTarget target{radio};
    FakeHost host;
    BulkOnlyTransport transport{target, host};

    // Sends one command (and its data-out bytes) and serves it.
    Served run(std::uint32_t length, bool in, std::vector<std::uint8_t> cdb, std::vector<std::uint8_t> data = {}) {
        host.in.clear();
        host.out.push_back(Cbw(0x1234, length, in, std::move(cdb)));
        if (!data.empty()) host.out.push_back(std::move(data));
        return transport.serveOne();
    }
    Csw Status() { return host.in.empty() ? Csw{} : ParseCsw(host.in.back()); }
};

TEST_F(BulkOnlyTest, InquiryNamesTheRadioAsARemovableDisk) {
    const Served s = run(36, true, {0x12, 0, 0, 0, 36, 0});
    ASSERT_EQ(host.in.size(), 2u);
    const std::vector<std::uint8_t>& data = host.in[0];
    ASSERT_EQ(data.size(), 36u);
    EXPECT_EQ(data[0], 0x00);  // direct access
    EXPECT_EQ(data[1], 0x80);  // removable
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "STM     ");
    EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 32), "microSD Flash   ");
    const Csw csw = Status();
    EXPECT_EQ(csw.signature, kCswSignature);
    EXPECT_EQ(csw.tag, 0x1234u);
    EXPECT_EQ(csw.status, kCswPassed);
    EXPECT_EQ(csw.residue, 0u);
    EXPECT_EQ(s.end, Served::End::Done);
}

// Each row: what the host announces, the command, and what BOT 6.7 asks of
// the device (data moved, halts, status, residue).
struct CaseRow {
    const char* name;
    std::uint32_t hostLength;
    bool hostIn;
    std::vector<std::uint8_t> cdb;
    std::uint32_t moved;
    int inHalts;
    int outHalts;
    std::uint8_t status;
    std::uint32_t residue;
};

class BulkOnlyCases : public BulkOnlyTest, public ::testing::WithParamInterface<CaseRow> {};

TEST_P(BulkOnlyCases, FollowTheThirteenCases) {
    const CaseRow& row = GetParam();
    std::vector<std::uint8_t> data;
    if (!row.hostIn && row.hostLength > 0) data.assign(row.hostLength, 0x5A);
    const Served s = run(row.hostLength, row.hostIn, row.cdb, data);
    EXPECT_EQ(s.moved, row.moved) << row.name;
    EXPECT_EQ(host.inHalts, row.inHalts) << row.name;
    EXPECT_EQ(host.outHalts, row.outHalts) << row.name;
    const Csw csw = Status();
    EXPECT_EQ(csw.status, row.status) << row.name;
    EXPECT_EQ(csw.residue, row.residue) << row.name;
    // The host's data is all taken, unless the halted OUT pipe refused it.
    EXPECT_EQ(host.out.empty(), row.outHalts == 0) << row.name;
}

INSTANTIATE_TEST_SUITE_P(
    Bot, BulkOnlyCases,
    ::testing::Values(
        // case 1 Hn = Dn
        CaseRow{"test unit ready", 0, false, {0x00, 0, 0, 0, 0, 0}, 0, 0, 0, kCswPassed, 0},
        // case 4 Hi > Dn: bulk IN halted, residue Hi
        CaseRow{"test unit ready, host expects 512 in", 512, true, {0x00, 0, 0, 0, 0, 0}, 0, 1, 0, kCswPassed, 512},
        // case 5 Hi > Di, a short packet ends it: no halt
        CaseRow{"inquiry 36 of 255", 255, true, {0x12, 0, 0, 0, 255, 0}, 36, 0, 0, kCswPassed, 219},
        // case 5 with a whole packet: the halt ends it
        CaseRow{"read one block into 1024", 1024, true, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, 1, 0, kCswPassed, 512},
        // case 6 Hi = Di
        CaseRow{"read capacity", 8, true, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 0, 0, kCswPassed, 0},
        // case 7 Hi < Di: phase error
        CaseRow{"inquiry 36 into 8", 8, true, {0x12, 0, 0, 0, 36, 0}, 8, 0, 0, kCswPhaseError, 0},
        // case 2 Hn < Di: phase error
        CaseRow{"inquiry, host expects nothing", 0, false, {0x12, 0, 0, 0, 36, 0}, 0, 0, 0, kCswPhaseError, 0},
        // case 10 Ho <> Di: bulk OUT halted, phase error
        CaseRow{"inquiry, host sends 36", 36, false, {0x12, 0, 0, 0, 36, 0}, 0, 0, 1, kCswPhaseError, 36},
        // case 9 Ho > Dn: taken and dropped, residue Ho; the write is refused
        CaseRow{"write to the write-protected medium", 512, false, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, 0, 0,
                kCswFailed, 512},
        // a failed data-in command: nothing sent, bulk IN halted, residue Hi
        CaseRow{"read beyond the medium", 512, true, {0x28, 0, 0, 0, 0x08, 0, 0, 0, 1, 0}, 0, 1, 0, kCswFailed, 512},
        CaseRow{"unsupported opcode", 0, false, {0x4A, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 0, 0, 0, kCswFailed, 0}));

TEST_F(BulkOnlyTest, VendorCommandOfTheWrongDirectionIsAPhaseError) {
    // case 8 Hi <> Do: the data-out command with a host that expects data in.
    run(9, true, VendorCdbBytes(TransferDirection::ToRadio));
    EXPECT_EQ(host.inHalts, 1);
    EXPECT_EQ(Status().status, kCswPhaseError);
    EXPECT_EQ(radio->receivedFrames().size(), 0u);
}

TEST_F(BulkOnlyTest, RequestSenseReportsTheLastFailureOnce) {
    run(512, true, {0x28, 0, 0, 0, 0x08, 0, 0, 0, 1, 0});  // LBA 2048: out of range
    run(18, true, {0x03, 0, 0, 0, 18, 0});
    ASSERT_EQ(host.in.size(), 2u);
    const std::vector<std::uint8_t>& sense = host.in[0];
    ASSERT_EQ(sense.size(), 18u);
    EXPECT_EQ(sense[0], 0x70);
    EXPECT_EQ(sense[2], 0x05);   // ILLEGAL REQUEST
    EXPECT_EQ(sense[12], 0x21);  // logical block address out of range
    EXPECT_EQ(Status().status, kCswPassed);
    run(18, true, {0x03, 0, 0, 0, 18, 0});
    EXPECT_EQ(host.in[0][2], 0x00) << "the sense is cleared once reported";
}

TEST_F(BulkOnlyTest, ACommandForAnotherLogicalUnitIsRefused) {
    std::vector<std::uint8_t> wrapper = Cbw(7, 36, true, {0x12, 0, 0, 0, 36, 0});
    wrapper[13] = 1;  // LUN 1: the radio has only LUN 0
    host.out.push_back(wrapper);
    transport.serveOne();
    EXPECT_EQ(Status().status, kCswFailed);
    EXPECT_EQ(Status().residue, 36u);
    run(18, true, {0x03, 0, 0, 0, 18, 0});
    EXPECT_EQ(host.in[0][2], 0x05);
    EXPECT_EQ(host.in[0][12], 0x25);  // logical unit not supported
}

TEST_F(BulkOnlyTest, ModeSenseReportsAWriteProtectedMedium) {
    run(192, true, {0x1A, 0, 0x3F, 0, 192, 0});
    ASSERT_EQ(host.in.size(), 2u);
    const std::vector<std::uint8_t>& data = host.in[0];
    ASSERT_GE(data.size(), 4u);
    EXPECT_EQ(data[0], data.size() - 1);
    EXPECT_EQ(data[2] & 0x80, 0x80);  // WP
    EXPECT_EQ(Status().residue, 192u - data.size());
}

TEST_F(BulkOnlyTest, VendorFramesReachTheFirmwareAndItsReplyComesBack) {
    std::vector<std::uint8_t> frame(8);
    frame.resize(BuildFrame(frame.data(), cmd::kReadInfo, nullptr, 0));
    run(static_cast<std::uint32_t>(frame.size()), false, VendorCdbBytes(TransferDirection::ToRadio), frame);
    EXPECT_EQ(Status().status, kCswPassed);
    EXPECT_EQ(Status().residue, 0u);
    ASSERT_EQ(radio->receivedFrames().size(), 1u);
    EXPECT_EQ(radio->receivedFrames()[0], frame);

    run(265, true, VendorCdbBytes(TransferDirection::FromRadio));
    ASSERT_EQ(host.in.size(), 2u);
    const std::vector<std::uint8_t>& reply = host.in[0];
    ASSERT_EQ(reply.size(), 265u);
    EXPECT_EQ(reply[0], 0xA1);
    EXPECT_EQ(reply[1], 0x80);
    EXPECT_EQ(reply[2], 0x03);
    EXPECT_EQ(reply[264], 0xA4);
    EXPECT_EQ(Status().residue, 0u);
}

TEST_F(BulkOnlyTest, CheckConditionFaultEndsInIllegalRequestSense) {
    ASSERT_TRUE(ApplyVirtualFaults(*radio, "check-condition").ok());
    run(9, true, VendorCdbBytes(TransferDirection::FromRadio));
    EXPECT_EQ(Status().status, kCswFailed);
    EXPECT_EQ(Status().residue, 9u);
    EXPECT_EQ(host.inHalts, 1);
    run(18, true, {0x03, 0, 0, 0, 18, 0});
    EXPECT_EQ(host.in[0][2], 0x05);
    EXPECT_EQ(host.in[0][12], 0x20);
    EXPECT_EQ(host.in[0][13], 0x00);
}

TEST_F(BulkOnlyTest, ShortFaultMovesHalfAndStatesTheResidue) {
    ASSERT_TRUE(ApplyVirtualFaults(*radio, "short").ok());
    const Served s = run(9, true, VendorCdbBytes(TransferDirection::FromRadio));
    EXPECT_EQ(s.moved, 4u);
    EXPECT_EQ(Status().status, kCswPassed);
    EXPECT_EQ(Status().residue, 5u);
}

TEST_F(BulkOnlyTest, HungCommandSendsNothingUntilTheReset) {
    ASSERT_TRUE(ApplyVirtualFaults(*radio, "hang").ok());
    std::vector<std::uint8_t> frame(8);
    frame.resize(BuildFrame(frame.data(), cmd::kReadInfo, nullptr, 0));
    const Served s = run(static_cast<std::uint32_t>(frame.size()), false, VendorCdbBytes(TransferDirection::ToRadio), frame);
    EXPECT_EQ(s.end, Served::End::Interrupted);
    EXPECT_TRUE(host.in.empty()) << "no data and no status while hung";
    EXPECT_EQ(radio->receivedFrames().size(), 0u) << "nothing reaches the firmware";
}

TEST_F(BulkOnlyTest, InvalidWrapperHaltsBothEndpoints) {
    std::vector<std::uint8_t> wrapper = Cbw(1, 0, false, {0x00, 0, 0, 0, 0, 0});
    wrapper.pop_back();  // 30 bytes
    host.out.push_back(wrapper);
    const Served s = transport.serveOne();
    EXPECT_EQ(s.end, Served::End::InvalidCommandBlock);
    EXPECT_EQ(host.inHalts, 1);
    EXPECT_EQ(host.outHalts, 1);
    EXPECT_TRUE(host.in.empty());
}

TEST(FunctionFsDescriptors, OneBulkOnlyMassStorageInterfacePerSpeed) {
    const std::string d = FunctionDescriptors();
    ASSERT_EQ(d.size(), 20u + 2 * (9 + 7 + 7));
    std::uint32_t length = 0;
    std::memcpy(&length, d.data() + 4, 4);
    EXPECT_EQ(length, d.size());
    // Full speed, then high speed: interface 08/06/50, endpoints 0x81 and 0x02, bulk.
    for (std::size_t at : {std::size_t{20}, std::size_t{43}}) {
        EXPECT_EQ(static_cast<unsigned char>(d[at + 5]), 0x08);
        EXPECT_EQ(static_cast<unsigned char>(d[at + 6]), 0x06);
        EXPECT_EQ(static_cast<unsigned char>(d[at + 7]), 0x50);
        EXPECT_EQ(static_cast<unsigned char>(d[at + 9 + 2]), 0x81);
        EXPECT_EQ(static_cast<unsigned char>(d[at + 9 + 3]), 0x02);
        EXPECT_EQ(static_cast<unsigned char>(d[at + 16 + 2]), 0x02);
    }
    EXPECT_EQ(static_cast<unsigned char>(d[20 + 9 + 4]), 64);   // full-speed packet
    EXPECT_EQ(static_cast<unsigned char>(d[43 + 9 + 5]), 2);    // high speed: 512 = 0x0200
}

}  // namespace
