#include "align/AlignRadio.h"

#include <algorithm>
#include <optional>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "protocol/Sendcmd.h"

namespace varnel {

SendcmdAlignRadio::SendcmdAlignRadio(std::function<void()> idle) {
    session_.setIdle(std::move(idle));
    // Every frame that goes out counts, re-sends included.
    session_.setFrameObserver([this](const FrameEvent& event) {
        if (event.kind == FrameEvent::Kind::Sent) ++exchanges_;
    });
}

Error SendcmdAlignRadio::prepare() {
    if (inTunerMode && linkHandle) return {};
    return session_.enter();
}

bool SendcmdAlignRadio::largeModel() const { return radioInfo.largeModel(); }

int SendcmdAlignRadio::value(int item, int point) const {
    const std::optional<ItemBytesInfo> bytes = ItemBytes(item);
    if (!bytes) return 0;
    std::size_t at = static_cast<std::size_t>(bytes->offset);
    if (bytes->layout != ItemLayout::Single) at += static_cast<std::size_t>(std::clamp(point, 1, 8) - 1);
    return tunerImage[at];
}

std::uint32_t SendcmdAlignRadio::frequency(int b, int point, bool receive) const {
    const int i = std::clamp(point, 1, 8) - 1;
    return receive ? tunerImage.rxFrequencyIn(b, i) : tunerImage.txFrequencyIn(b, i);
}

Error SendcmdAlignRadio::setItem(int item, int action, int point, int value, std::uint32_t frequency) {
    // The value cells store into the slot themselves for the codes the
    // sender does not store (26/86, 51, 52).
    std::optional<std::size_t> slot;
    if (action == align_action::kValueAdjusted) {
        if (const std::optional<ItemBytesInfo> bytes = ItemBytes(item)) {
            std::size_t at = static_cast<std::size_t>(bytes->offset);
            if (bytes->layout != ItemLayout::Single) at += static_cast<std::size_t>(std::clamp(point, 1, 8) - 1);
            slot = at;
        }
    }
    const std::uint8_t acknowledged = slot ? tunerImage[*slot] : 0;
    if (slot) tunerImage[*slot] = static_cast<std::uint8_t>(value);
    Error e = session_.setItem(item, action, point, value, frequency);
    // The image keeps the last value the radio acknowledged.
    if (!e.ok() && slot) tunerImage[*slot] = acknowledged;
    return e;
}

Result<int> SendcmdAlignRadio::readBack(int item, int point, int value, std::uint32_t frequency) {
    Result<ReadBackReply> reply = session_.query(item, align_action::kReadBack, point, value, frequency);
    if (!reply) return reply.error();
    if (!reply->hasReading(0))
        return Error::make(ErrorCode::BadData, "the read-back reply of item %1 is too short", std::to_string(item));
    return reply->reading(0);
}

Error SendcmdAlignRadio::save(int item) { return session_.saveItem(item); }

}  // namespace varnel
