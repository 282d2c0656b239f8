// Blocking radio operations, for the command-line tool, soak runs and
// automatic alignment. Each runs one operation of protocol/RadioOperations.h
// (the same ones the windows tick from their timers), polling every 10 ms in
// a plain loop:
// the information, enter, leave, write-all and factory polls give up silently
// after 100 ticks (the link is closed and reopened by the next operation),
// live-sets and saves are re-sent twice before they fail, read-backs are
// asked three times.
//
// Failures come back as Error values: NoRadio, PermissionDenied, Busy,
// WrongDevice (opening), NoAnswer (the radio stayed silent or hangs),
// Refused (the transfers themselves failed: SCSI status, sense, short).
//
// A transfer that hangs ends its exchange when the attempt's 100 ticks are
// over (no re-send is queued behind it); the next command waits for the hung
// transfer to end (its time-out and the system's recovery) and gets one
// attempt; when that hangs too, every later command fails at once. With the
// I/O-thread transport no tick waits on the device, so a command-line tool
// on a hung radio ends within a few seconds.
//
// Uses the program-wide state (linkHandle, the poll state, radioInfo,
// tunerImage, inTunerMode) like the windows do; one session at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "data/RadioInfo.h"
#include "protocol/Exchange.h"
#include "protocol/RadioOperations.h"
#include "util/Error.h"

namespace varnel {

class RadioSession {
public:
    // `tick` is the poll interval (10 ms as the windows' timers; tests and
    // benchmarks may pass 0 for the virtual radio).
    explicit RadioSession(std::chrono::milliseconds tick = std::chrono::milliseconds(10));
    ~RadioSession();
    RadioSession(const RadioSession&) = delete;
    RadioSession& operator=(const RadioSession&) = delete;

    Error open();                       // scan, open, identity check
    Error enter();                      // 0x0003 then 0x0060: fills radioInfo and tunerImage
    Result<RadioInfo> readInfo();       // 0x0003 only
    // 0x0062: stores the value in tunerImage, verified, re-sent as the tuning window does.
    Error setItem(int code, int action, int point, int value, std::uint32_t frequency);
    // 0x0062 read-back: the reply (pendingReplyLength bytes) and its readings.
    Result<ReadBackReply> query(int code, int action, int point, int value, std::uint32_t frequency);
    // 0x0066 with the item's record from tunerImage (the 24-byte wide record
    // where the item needs it), verified.
    Error saveItem(int code);
    // 0x0063, the whole image. With `consent`: first 0x0003 asks the
    // attached radio who it is, and the image goes only when consent(its
    // block) says yes (Refused otherwise).
    Error writeAll(const std::function<bool(const RadioInfo& attached)>& consent = {});
    // The last writeAll sent the image and got no acknowledgement: whether
    // the radio took it is not known (readImageBack tells).
    bool writeUnacknowledged() const { return writeUnacknowledged_; }
    // The radio's image as it holds it now (0x0060), tunerImage untouched;
    // a radio out of tuner mode is taken out of it again.
    Result<TunerImage> readImageBack();
    Error readFactory();                // 0x0065: image bytes 0 to 511 from the factory copy
    Error leave();                      // 0x0061
    void close();

    // Every frame sent and received, and failed transfers, with outcomes.
    void setFrameObserver(std::function<void(const FrameEvent&)> observer);

    // Runs on every poll tick (a window keeps its interface alive through it).
    void setIdle(std::function<void()> idle) { idle_ = std::move(idle); }
    // Ticks polled by the last operation (all attempts).
    unsigned lastTicks() const { return lastTicks_; }

private:
    Error ensureLink();
    // Waits for a hung transfer to end before the next command (bounded), or
    // refuses at once when the radio hung again (see ExchangeEngine).
    Error afterHang();
    // Ticks an operation every poll interval until it is done, failed or
    // waits for consent.
    template <typename Tick>
    OpStatus run(Tick tick);
    Error failed(const char* what) const;

    std::chrono::milliseconds tick_;
    int observer_ = 0;
    unsigned lastTicks_ = 0;
    bool writeUnacknowledged_ = false;
    std::function<void()> idle_;
};

}  // namespace varnel
