// The information block and the enter reply, as tuner-mode entry takes them:
// the 265-byte information reply, then the image reply whose length follows
// from the block just stored.
#include <algorithm>
#include <cstring>

#include "FuzzSupport.h"
#include "data/Global.h"
#include "data/ItemTable.h"
#include "protocol/Sendcmd.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    ResetGlobalState();
    ResetPollState();

    const std::string_view info = in.take(265);
    std::fill(replyBuffer.begin(), replyBuffer.end(), 0);
    std::memcpy(replyBuffer.data(), info.data(), info.size());
    if (!MatchReply(replyBuffer.data(), cmd::reply(cmd::kReadInfo), 265)) return 0;
    radioInfo.assign(replyBuffer.data() + 6);

    // Everything derived from the block.
    const std::string name = radioInfo.modelName();
    FUZZ_CHECK(name.size() <= 64);
    const std::string version = radioInfo.firmwareVersion();
    FUZZ_CHECK(version.size() <= RadioInfo::kFirmwareSize);
    const std::size_t imageBytes = radioInfo.imageBytes();
    FUZZ_CHECK(imageBytes == 848 || imageBytes == 512);
    (void)radioInfo.newFirmware();

    const std::uint16_t replyLength = static_cast<std::uint16_t>(imageBytes + 9);
    const std::string_view image = in.take(replyLength);
    std::fill(replyBuffer.begin(), replyBuffer.end(), 0);
    std::memcpy(replyBuffer.data(), image.data(), image.size());
    if (!MatchReply(replyBuffer.data(), cmd::reply(cmd::kEnterTunerMode), replyLength)) return 0;
    std::copy_n(replyBuffer.begin() + 6, imageBytes, tunerImage.bytes.begin());

    // The image as the tuning window reads it: every point's frequencies in
    // both bands.
    for (int b = 0; b < 2; ++b) {
        band = b;
        for (int i = 0; i < 8; ++i) {
            (void)txFrequency(i);
            (void)rxFrequency(i);
        }
    }
    band = 0;
    // Records the save commands take from it, and a live value anywhere.
    for (const TuningItem& item : TuningItems()) {
        for (int b = 0; b < 2; ++b) {
            const int code = CodeForBand(item, b);
            (void)SaveRecord(tunerImage, code);
            (void)WideSaveRecord(tunerImage, code);
        }
    }
    const int code = in.byte();
    const int point = in.byte();
    StoreLiveValue(tunerImage, code, point, in.byte());
    (void)FskRecord(tunerImage, code, point);
    return 0;
}
