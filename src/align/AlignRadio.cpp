#include "align/AlignRadio.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "protocol/Sendcmd.h"

namespace varnel {

namespace {
constexpr auto kTick = std::chrono::milliseconds(10);
constexpr int kAttempts = 3;
}  // namespace

SendcmdAlignRadio::SendcmdAlignRadio(std::function<void()> idle) : idle_(std::move(idle)) {}

bool SendcmdAlignRadio::await(std::uint16_t replyCode) {
    pollTicks = 0;
    for (;;) {
        std::this_thread::sleep_for(kTick);
        if (idle_) idle_();
        switch (PollStep(replyCode)) {
            case PollResult::Match:
                pollTicks = 0;
                pollRetries = 0;
                return true;
            case PollResult::Expired:
                pollTicks = 0;
                return false;
            case PollResult::Pending:
                break;
        }
    }
}

Error SendcmdAlignRadio::Prepare() {
    if (inTunerMode && linkHandle) return {};
    ScanRadioDrives();
    OpenError openError;
    linkHandle = OpenRadio(&openError);
    if (!linkHandle)
        return Error::Make(ErrorCode::NoRadio, DescribeOpenError(openError)).Wrap("cannot enter tuner mode");
    SendReadInfo();
    ++exchanges_;
    if (!await(cmd::reply(cmd::kReadInfo))) {
        AbandonPoll();
        return Error::Make(ErrorCode::NoAnswer, "the radio did not answer the information request")
            .Wrap("cannot enter tuner mode");
    }
    radioInfo.assign(replyBuffer.data() + kReplyDataOffset);
    SendEnterTunerMode();
    ++exchanges_;
    if (!await(cmd::reply(cmd::kEnterTunerMode))) {
        AbandonPoll();
        return Error::Make(ErrorCode::NoAnswer, "the radio did not send its tuner image").Wrap("cannot enter tuner mode");
    }
    std::copy_n(replyBuffer.begin() + kReplyDataOffset, radioInfo.imageBytes(), tunerImage.bytes.begin());
    inTunerMode = true;
    return {};
}

bool SendcmdAlignRadio::LargeModel() const { return radioInfo.largeModel(); }

int SendcmdAlignRadio::Value(int item, int point) const {
    const std::optional<ItemBytesInfo> bytes = ItemBytes(item);
    if (!bytes) return 0;
    std::size_t at = static_cast<std::size_t>(bytes->offset);
    if (bytes->layout != ItemLayout::Single) at += static_cast<std::size_t>(std::clamp(point, 1, 8) - 1);
    return tunerImage[at];
}

std::uint32_t SendcmdAlignRadio::Frequency(int b, int point, bool receive) const {
    const int i = std::clamp(point, 1, 8) - 1;
    return receive ? tunerImage.rxFrequencyIn(b, i) : tunerImage.txFrequencyIn(b, i);
}

Error SendcmdAlignRadio::SetItem(int item, int action, int point, int value, std::uint32_t frequency) {
    // The value cells store into the slot themselves for the codes the
    // sender does not store (26/86, 51, 52).
    if (action == align_action::kValueAdjusted) {
        if (const std::optional<ItemBytesInfo> bytes = ItemBytes(item)) {
            std::size_t at = static_cast<std::size_t>(bytes->offset);
            if (bytes->layout != ItemLayout::Single) at += static_cast<std::size_t>(std::clamp(point, 1, 8) - 1);
            tunerImage[at] = static_cast<std::uint8_t>(value);
        }
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!linkHandle) break;
        SendSetItem(item, action, point, value, frequency);
        ++exchanges_;
        if (await(cmd::reply(cmd::kSetItem))) return {};
    }
    pollRetries = 0;
    return Error::Make(ErrorCode::NoAnswer, "the radio did not confirm item %1", std::to_string(item));
}

Result<int> SendcmdAlignRadio::ReadBack(int item, int point, int value, std::uint32_t frequency) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!linkHandle) break;
        SendQueryItem(item, align_action::kReadBack, point, value, frequency);
        ++exchanges_;
        if (await(cmd::reply(cmd::kSetItem))) return static_cast<int>(replyBuffer[6]);
    }
    pollRetries = 0;
    return Error::Make(ErrorCode::NoAnswer, "the radio did not answer the read-back of item %1", std::to_string(item));
}

Error SendcmdAlignRadio::Save(int item) {
    const bool wide = radioInfo.modelVariant() == 1 && TripleOf(item).has_value();
    const std::vector<std::uint8_t> record = wide ? WideSaveRecord(tunerImage, item) : SaveRecord(tunerImage, item);
    if (record.empty()) return Error::Make(ErrorCode::BadData, "item %1 has nothing to save", std::to_string(item));
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!linkHandle) break;
        if (wide) SendSaveWideItem(item, record.data());
        else SendSaveItem(item, record.data());
        ++exchanges_;
        if (await(cmd::reply(cmd::kSaveItem))) return {};
    }
    pollRetries = 0;
    return Error::Make(ErrorCode::NoAnswer, "the radio did not confirm saving item %1", std::to_string(item));
}

}  // namespace varnel
