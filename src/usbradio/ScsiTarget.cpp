#include "usbradio/ScsiTarget.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "device/Mass_storage.h"

namespace varnel::usbradio {

namespace {

std::uint32_t Be16(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint64_t Be64(const std::uint8_t* p) { return (std::uint64_t{Be32(p)} << 32) | Be32(p + 4); }
void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

constexpr char kRevision[] = "1.00";
constexpr char kSerial[] = "VARNEL000001";

// The length a command's CDB needs for its opcode group (SPC 4.3).
std::size_t CdbLengthFor(std::uint8_t opcode) {
    switch (opcode >> 5) {
        case 0: return 6;
        case 1:
        case 2: return 10;
        case 4: return 16;
        case 5: return 12;
        default: return 1;  // vendor groups: checked by the command itself
    }
}

}  // namespace

ScsiTarget::ScsiTarget(std::shared_ptr<VirtualRadio> radio) : radio_(std::move(radio)) {}

const char* ScsiTarget::opcodeName(std::uint8_t opcode) {
    switch (opcode) {
        case 0x00: return "TEST UNIT READY";
        case 0x03: return "REQUEST SENSE";
        case 0x08: return "READ(6)";
        case 0x0A: return "WRITE(6)";
        case 0x12: return "INQUIRY";
        case 0x15: return "MODE SELECT(6)";
        case 0x1A: return "MODE SENSE(6)";
        case 0x1B: return "START STOP UNIT";
        case 0x1E: return "PREVENT ALLOW MEDIUM REMOVAL";
        case 0x23: return "READ FORMAT CAPACITIES";
        case 0x25: return "READ CAPACITY(10)";
        case 0x28: return "READ(10)";
        case 0x2A: return "WRITE(10)";
        case 0x2F: return "VERIFY(10)";
        case 0x35: return "SYNCHRONIZE CACHE(10)";
        case 0x55: return "MODE SELECT(10)";
        case 0x5A: return "MODE SENSE(10)";
        case 0x88: return "READ(16)";
        case 0x8A: return "WRITE(16)";
        case 0x9E: return "SERVICE ACTION IN(16)";
        case 0xA0: return "REPORT LUNS";
        case 0xFF: return "VENDOR (radio)";
        default: return "unsupported";
    }
}

void ScsiTarget::reset() {
    sense_ = sense::kNone;
    failed_ = false;
    pending_ = Pending::None;
}

Intent ScsiTarget::fail(const Sense& s) {
    sense_ = s;
    failed_ = true;
    pending_ = Pending::None;
    return Intent{};
}

// A data-in reply cut to the allocation length the CDB allows.
Intent ScsiTarget::dataIn(std::vector<std::uint8_t> data, std::uint32_t allocation) {
    if (data.size() > allocation) data.resize(allocation);
    Intent intent;
    intent.phase = data.empty() ? Phase::None : Phase::In;
    intent.length = static_cast<std::uint32_t>(data.size());
    intent.data = std::move(data);
    return intent;
}

Intent ScsiTarget::prepare(const std::uint8_t* cdb, std::size_t cdbLength, bool hostIn, std::uint32_t hostLength) {
    pending_ = Pending::None;
    if (cdb == nullptr || cdbLength == 0) return fail(sense::kInvalidOpcode);
    const std::uint8_t opcode = cdb[0];
    // REQUEST SENSE reports the sense of the command before it; every other
    // command starts with a clean slate.
    if (opcode == 0x03) {
        const std::uint32_t allocation = cdbLength >= 5 ? cdb[4] : 0;
        std::vector<std::uint8_t> data(18, 0);
        data[0] = 0x70;  // current error, fixed format
        data[2] = sense_.key;
        data[7] = 10;    // additional sense length
        data[12] = sense_.asc;
        data[13] = sense_.ascq;
        sense_ = sense::kNone;
        failed_ = false;
        return dataIn(std::move(data), allocation);
    }
    sense_ = sense::kNone;
    failed_ = false;
    if (opcode != 0xFF && cdbLength < CdbLengthFor(opcode)) return fail(sense::kInvalidField);

    switch (opcode) {
        case 0x00:  // TEST UNIT READY: the medium is always there
        case 0x1B:  // START STOP UNIT
        case 0x2F:  // VERIFY(10): zeros verify
        case 0x35:  // SYNCHRONIZE CACHE(10): nothing is cached
            return Intent{};
        case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
            preventRemoval_ = (cdb[4] & 0x03) != 0;
            return Intent{};
        case 0x12:
            return inquiry(cdb);
        case 0x1A:
            return modeSense(cdb, false);
        case 0x5A:
            return modeSense(cdb, true);
        case 0x25: {  // READ CAPACITY(10)
            if ((cdb[8] & 0x01) != 0 || Be32(cdb + 2) != 0) return fail(sense::kInvalidField);  // PMI, LBA
            std::vector<std::uint8_t> data(8, 0);
            PutBe32(data.data(), kBlockCount - 1);
            PutBe32(data.data() + 4, kBlockSize);
            return dataIn(std::move(data), 8);
        }
        case 0x9E: {  // SERVICE ACTION IN(16): READ CAPACITY(16) only
            if ((cdb[1] & 0x1F) != 0x10) return fail(sense::kInvalidField);
            std::vector<std::uint8_t> data(32, 0);
            PutBe32(data.data() + 4, kBlockCount - 1);
            PutBe32(data.data() + 8, kBlockSize);
            return dataIn(std::move(data), Be32(cdb + 10));
        }
        case 0x23: {  // READ FORMAT CAPACITIES
            std::vector<std::uint8_t> data(12, 0);
            data[3] = 8;  // capacity list length
            PutBe32(data.data() + 4, kBlockCount);
            PutBe32(data.data() + 8, kBlockSize);
            data[8] = 0x02;  // formatted media
            return dataIn(std::move(data), Be16(cdb + 7));
        }
        case 0x08: {  // READ(6): 0 blocks means 256
            const std::uint32_t lba = (std::uint32_t{cdb[1] & 0x1Fu} << 16) | Be16(cdb + 2);
            return read(lba, cdb[4] == 0 ? 256u : cdb[4]);
        }
        case 0x28:
            return read(Be32(cdb + 2), Be16(cdb + 7));
        case 0x88:
            return read(Be64(cdb + 2), Be32(cdb + 10));
        case 0x0A:  // the medium is write-protected: the data is taken and dropped
        case 0x2A:
        case 0x8A:
            return fail(sense::kWriteProtected);
        case 0xFF:
            return vendor(cdb, cdbLength, hostIn, hostLength);
        default:
            return fail(sense::kInvalidOpcode);
    }
}

Intent ScsiTarget::inquiry(const std::uint8_t* cdb) {
    const bool evpd = (cdb[1] & 0x01) != 0;
    const std::uint8_t page = cdb[2];
    const std::uint32_t allocation = Be16(cdb + 3);
    if ((cdb[1] & 0x02) != 0) return fail(sense::kInvalidField);  // CmdDt
    if (!evpd) {
        if (page != 0) return fail(sense::kInvalidField);
        std::vector<std::uint8_t> data(36, ' ');
        data[0] = 0x00;  // direct-access block device, connected
        data[1] = 0x80;  // removable medium
        data[2] = 0x02;  // SCSI-2, as small USB disks report
        data[3] = 0x02;  // response data format 2
        data[4] = 31;    // additional length
        data[5] = data[6] = data[7] = 0;
        std::memcpy(data.data() + 8, kRadioVendor, 8);
        std::memcpy(data.data() + 16, kRadioProduct, 16);
        std::memcpy(data.data() + 32, kRevision, 4);
        return dataIn(std::move(data), allocation);
    }
    if (page == 0x00) {  // supported pages
        return dataIn({0x00, 0x00, 0x00, 0x02, 0x00, 0x80}, allocation);
    }
    if (page == 0x80) {  // unit serial number
        constexpr std::size_t serial = sizeof kSerial - 1;
        std::vector<std::uint8_t> data(4 + serial, 0);
        data[1] = 0x80;
        data[3] = static_cast<std::uint8_t>(serial);
        std::memcpy(data.data() + 4, kSerial, serial);
        return dataIn(std::move(data), allocation);
    }
    return fail(sense::kInvalidField);
}

Intent ScsiTarget::modeSense(const std::uint8_t* cdb, bool ten) {
    const std::uint8_t control = cdb[2] >> 6;
    const std::uint8_t page = cdb[2] & 0x3F;
    const std::uint32_t allocation = ten ? Be16(cdb + 7) : cdb[4];
    if (control == 3) return fail(Sense{0x05, 0x39, 0x00});  // saving parameters not supported
    if (page != 0x08 && page != 0x3F) return fail(sense::kInvalidField);
    if (cdb[3] != 0) return fail(sense::kInvalidField);  // subpages
    const std::size_t header = ten ? 8 : 4;
    std::vector<std::uint8_t> data(header, 0);
    // Caching page: no write cache, read cache on; changeable values (PC 1) all zero.
    std::vector<std::uint8_t> caching(20, 0);
    caching[0] = 0x08;
    caching[1] = 0x12;
    data.insert(data.end(), caching.begin(), caching.end());
    if (ten) {
        const std::size_t n = data.size() - 2;
        data[0] = static_cast<std::uint8_t>(n >> 8);
        data[1] = static_cast<std::uint8_t>(n);
        data[3] = 0x80;  // write-protected
    } else {
        data[0] = static_cast<std::uint8_t>(data.size() - 1);
        data[2] = 0x80;  // write-protected
    }
    return dataIn(std::move(data), allocation);
}

Intent ScsiTarget::read(std::uint64_t lba, std::uint32_t blocks) {
    if (lba > kBlockCount || blocks > kBlockCount - lba) return fail(sense::kLbaOutOfRange);
    Intent intent;
    intent.length = blocks * kBlockSize;
    intent.phase = intent.length == 0 ? Phase::None : Phase::In;
    intent.data.assign(intent.length, 0);  // an empty medium
    return intent;
}

Intent ScsiTarget::vendor(const std::uint8_t* cdb, std::size_t cdbLength, bool hostIn, std::uint32_t hostLength) {
    const std::array<std::uint8_t, 16> toRadio = VendorCdb(TransferDirection::ToRadio);
    const std::array<std::uint8_t, 16> fromRadio = VendorCdb(TransferDirection::FromRadio);
    const bool isOut = cdbLength == 16 && std::equal(toRadio.begin(), toRadio.end(), cdb);
    const bool isIn = cdbLength == 16 && std::equal(fromRadio.begin(), fromRadio.end(), cdb);
    if (!isOut && !isIn) return fail(sense::kInvalidField);

    LinkFaults faults;
    bool hangs = false;
    {
        std::lock_guard lock(radio_->transportMutex());
        faults = radio_->linkFaults();
        hangs = radio_->transfersHang();
    }
    Intent intent;
    intent.phase = isOut ? Phase::Out : Phase::In;
    intent.length = hostLength;
    if (hangs) {
        intent.hang = true;
        return intent;
    }
    intent.delay = faults.delay;
    if (faults.refusal == LinkFaults::Refusal::CheckCondition) {
        Intent failed = fail(sense::kInvalidOpcode);
        failed.delay = faults.delay;
        return failed;
    }
    if (hostLength == 0) {
        intent.phase = Phase::None;
        return intent;
    }
    if (isOut) {
        pending_ = Pending::VendorOut;
        return intent;
    }
    ++vendorIn_;
    intent.data.assign(hostLength, 0);
    if (hostIn) {
        // As the link would: a radio without a reply ready still fills the
        // read, with the zeros it was given.
        std::lock_guard lock(radio_->transportMutex());
        radio_->answer(intent.data.data(), intent.data.size());
    }
    if (faults.refusal == LinkFaults::Refusal::ShortRead) {
        intent.length = hostLength / 2;
        intent.data.resize(intent.length);
        if (intent.length == 0) intent.phase = Phase::None;
    }
    return intent;
}

void ScsiTarget::receiveOut(const std::uint8_t* data, std::size_t length) {
    if (pending_ != Pending::VendorOut) return;
    pending_ = Pending::None;
    ++vendorOut_;
    std::lock_guard lock(radio_->transportMutex());
    radio_->receive(data, length);
}

}  // namespace varnel::usbradio
