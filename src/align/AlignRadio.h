// The radio as automatic alignment sees it: the few exchanges an operator
// makes on a tuning page, nothing else. Every adjustment is the live-set
// 0x0062 with action 5, keying is the live-set with actions 0/1 (transmit)
// and 2/3 (receive), a read-back is action 7 and a save is 0x0066 with the
// item's record, exactly as the tuning window sends them.
#pragma once

#include <cstdint>
#include <functional>

#include "data/Global.h"
#include "protocol/RadioSession.h"
#include "util/Error.h"

namespace varnel {

// The live-set actions alignment uses are the program's own.
namespace align_action = action;

class AlignRadio {
public:
    virtual ~AlignRadio() = default;
    // Brings the radio into tuner mode (a no-op when it is already there).
    virtual Error prepare() = 0;
    virtual bool largeModel() const = 0;
    // The item's value at a point (1-based) in the program's tuner image.
    virtual int value(int item, int point) const = 0;
    // Transmit or receive frequency of a point (1-based) in a band, in Hz.
    virtual std::uint32_t frequency(int band, int point, bool receive) const = 0;
    // A live-set, verified like the tuning window's (three attempts). The
    // value is stored in the image before it is sent; when the radio does
    // not acknowledge it, the image gets the value it had back.
    virtual Error setItem(int item, int action, int point, int value, std::uint32_t frequency) = 0;
    // A read-back (action 7); the radio's reading, the payload byte after the item.
    virtual Result<int> readBack(int item, int point, int value, std::uint32_t frequency) = 0;
    // Saves the item in the radio with its record from the image.
    virtual Error save(int item) = 0;
    // Frames sent so far (re-sends included).
    virtual std::uint64_t Exchanges() const = 0;
};

// The port on the exchange engine through RadioSession: the same senders,
// poll rules and re-sends as the tuning window, polling every 10 ms. `idle`
// runs on every poll tick (the window keeps its interface alive through it).
class SendcmdAlignRadio : public AlignRadio {
public:
    explicit SendcmdAlignRadio(std::function<void()> idle = {});
    Error prepare() override;
    bool largeModel() const override;
    int value(int item, int point) const override;
    std::uint32_t frequency(int band, int point, bool receive) const override;
    Error setItem(int item, int action, int point, int value, std::uint32_t frequency) override;
    Result<int> readBack(int item, int point, int value, std::uint32_t frequency) override;
    Error save(int item) override;
    std::uint64_t Exchanges() const override { return exchanges_; }

private:
    RadioSession session_;
    std::uint64_t exchanges_ = 0;
};

}  // namespace varnel
