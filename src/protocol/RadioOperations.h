// One operation per radio exchange. Each knows its command frames (through
// the senders of Sendcmd), the poll rule of its reply, how that reply is
// decoded, and what its outcome writes into the program-wide state:
//
//   ReadInfoOperation    0x0003          the 256-byte information block
//   EnterOperation       0x0003, 0x0060  radioInfo, then tunerImage, band 0
//   LeaveOperation       0x0061
//   WriteAllOperation    0x0003, 0x0063  the attached radio's block, the
//                                        operator's consent, then the image
//   FactoryReadOperation 0x0065          image bytes 0 to 511
//   FactoryWriteOperation 0x0064
//   LiveSetOperation     0x0062          verified, re-sent twice
//   SaveOperation        0x0066          verified, re-sent with the same record
//   ReadBackOperation    0x0062 (query)  the reading(s) of the reply
//
// No operation waits. start() sends the first command; tick() is one poll
// step on the exchange engine and says how far the exchange has come. A
// window's timer calls tick() every 10 ms; RadioSession calls it in a plain
// loop. The link (`linkHandle`) is opened by OpenRadioLink / EnsureRadioLink
// and closed when an operation's poll ends unanswered; `inTunerMode` stays
// with the drivers, which set it once their own steps are done (the window
// opens its tuning window first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"
#include "device/Mass_storage.h"
#include "protocol/Exchange.h"

namespace varnel {

// How far an operation has come after a tick.
enum class OpStatus {
    Running,       // waiting for a reply
    NextStep,      // a reply was taken and the next command went out
    NeedsConsent,  // write-all: the attached radio's block is in; proceed() or decline()
    Done,          // the outcome is in place
    Failed,        // no answer: the poll expired or gave up
};

// ---- the link -----------------------------------------------------------------
// Closes an earlier link, scans and opens the radio as linkHandle. False
// (with `error` filled) when none could be opened; linkHandle is then empty.
bool OpenRadioLink(OpenError* error);
// Keeps a link that is open; otherwise as OpenRadioLink.
bool EnsureRadioLink(OpenError* error);

// ---- replies ----------------------------------------------------------------------
// Byte `index` of a reply's data (frame byte 6 + index); 0 beyond `frame`,
// as the cleared reply buffer reads there.
int ReplyDataByte(const std::vector<std::uint8_t>& frame, std::size_t index);

// The status byte of an acknowledgement (the single payload byte of a 9-byte
// reply): 0 "done", anything else a refusal; 0 for a longer reply.
int AcknowledgementStatus(const std::vector<std::uint8_t>& reply);

// The reply of a read-back request: its frame (as long as the command
// expected) and what it carries.
struct ReadBackReply {
    std::vector<std::uint8_t> frame;
    // Reading `index` (the data bytes after the first payload byte).
    int reading(std::size_t index = 0) const { return ReplyDataByte(frame, index); }
    bool hasReading(std::size_t index = 0) const { return kReplyDataOffset + index < frame.size(); }
    // The bit-error test's 32-bit big-endian counters: 0 frames, 1 errors.
    std::uint32_t counter(std::size_t index) const;
};

// ---- information block ------------------------------------------------------------
class ReadInfoOperation {
public:
    explicit ReadInfoOperation(PollRule rule = PollRule::OnceKeepRetries) : rule_(rule) {}
    void start();
    // Done: info() holds the block (frame bytes 6 to 261). Failed: for the
    // Verify rule the link is closed too, as an expiry closes it.
    OpStatus tick();
    const RadioInfo& info() const { return info_; }

private:
    PollRule rule_;
    RadioInfo info_;
};

// ---- entering tuner mode ----------------------------------------------------------
class EnterOperation {
public:
    enum class Stage { Idle, ReadingInfo, Entering, Entered, Failed };
    // Verify: a dropped reply is asked for again twice (the window);
    // OnceKeepRetries: one attempt per command (the command-line tool).
    explicit EnterOperation(PollRule rule = PollRule::Verify) : rule_(rule), info_(rule) {}
    // Sends 0x0003.
    void start();
    // NextStep: the block is in radioInfo and 0x0060 went out, expecting
    // 857 or 521 bytes as the block says. Done: the image bytes of the reply
    // are in tunerImage (848 or 512; a small model's FSK bytes are kept) and
    // band is 0.
    OpStatus tick();
    Stage stage() const { return stage_; }
    // The stage that failed (ReadingInfo or Entering), once Failed.
    Stage failedStage() const { return failedStage_; }

private:
    OpStatus failed(Stage at);

    PollRule rule_;
    ReadInfoOperation info_;
    Stage stage_ = Stage::Idle;
    Stage failedStage_ = Stage::Idle;
};

// ---- leaving tuner mode -----------------------------------------------------------
class LeaveOperation {
public:
    void start();  // 0x0061
    OpStatus tick();
};

// ---- writing the whole image ------------------------------------------------------
// First the attached radio says who it is (0x0003); the image goes out (0x0063:
// 848 or 512 bytes, as radioInfo, the image's own block, says) only after the
// driver's consent, so that it reaches only the radio it belongs to.
class WriteAllOperation {
public:
    enum class Stage { Idle, Checking, AwaitingConsent, Writing, Written, Declined, Failed };
    void start();       // 0x0003 to the attached radio
    // NeedsConsent once attached() is known; Done once the write is acknowledged.
    OpStatus tick();
    const RadioInfo& attached() const { return check_.info(); }
    // The attached radio is the one the image was read from.
    bool sameRadio() const;
    void proceed();     // 0x0063 with the image
    void decline() { stage_ = Stage::Declined; }
    // Writes without asking (the caller has identified the radio itself).
    void startWrite() { proceed(); }
    Stage stage() const { return stage_; }
    Stage failedStage() const { return failedStage_; }

private:
    ReadInfoOperation check_{PollRule::Once};
    Stage stage_ = Stage::Idle;
    Stage failedStage_ = Stage::Idle;
};

// ---- reading the image back -------------------------------------------------------
// After a write-all whose acknowledgement never came: the radio's image
// (0x0060, the reply of an entry, 857 or 521 bytes as radioInfo says, asked
// again twice), kept apart from tunerImage, which stays as it is, so that it
// can be compared with the image sent. A radio that was not in tuner mode is
// taken out of it again (0x0061, one attempt).
class ImageReadBackOperation {
public:
    enum class Stage { Idle, Reading, Leaving, Done, Failed };
    void start(bool leaveAfter);
    // NextStep: the image is in and the leave went out. Done: the image is
    // in (and the radio left tuner mode where asked; left() says whether it
    // acknowledged). Failed: no image came.
    OpStatus tick();
    const TunerImage& image() const { return image_; }
    std::size_t bytes() const { return bytes_; }
    bool left() const { return left_; }
    // Bytes of the image read back that differ from `sent` (over bytes()).
    int differences(const TunerImage& sent) const;

private:
    Stage stage_ = Stage::Idle;
    bool leaveAfter_ = false;
    bool left_ = false;
    TunerImage image_;
    std::size_t bytes_ = 0;
};

// ---- the factory copy ---------------------------------------------------------------
class FactoryReadOperation {
public:
    void start();  // 0x0065, reply of 521 bytes
    // Done: image bytes 0 to 511 hold the factory copy; the FSK blocks are
    // not part of it and stay as they are.
    OpStatus tick();
};

class FactoryWriteOperation {
public:
    void start();  // 0x0064 with the 848 image bytes
    OpStatus tick();
};

// ---- live-sets, saves, read-backs ---------------------------------------------------
// The arguments of a live-set (layout A).
struct LiveSetRequest {
    int item = 0;
    int action = 0;
    int point = 1;
    int value = 0;
    std::uint32_t frequency = 0;
};

class LiveSetOperation {
public:
    // Stores the value in tunerImage and sends 0x0062 (SendSetItem).
    void start(const LiveSetRequest& request);
    // The live-set (or an FSK block) went out through a sender already.
    void sent() { reply_.clear(); }
    // One tick; a time-out sends `again` (always the 8-byte form), the third
    // gives up. Done: reply() holds the acknowledgement, replyBuffer is clear.
    OpStatus tick(const LiveSetRequest& again);
    const std::vector<std::uint8_t>& reply() const { return reply_; }
    int status() const { return AcknowledgementStatus(reply_); }

private:
    std::vector<std::uint8_t> reply_;
};

class SaveOperation {
public:
    // The item code and record of a save command.
    struct Record {
        int item = -1;
        bool wide = false;  // SendSaveWideItem
        std::vector<std::uint8_t> record;
    };
    // Builds the record from tunerImage (the 24-byte wide record where the
    // item needs it) and sends 0x0066. False when the item has no record.
    bool start(int item);
    // A save went out through a sender; its record is read back from the
    // frame just sent (lastSentFrame), for the re-sends.
    void sent(bool wide);
    // One tick; a time-out sends exactly the same record again, the third
    // gives up. Done: reply() holds the acknowledgement, replyBuffer is clear.
    OpStatus tick() { return tick(record_.wide); }
    // The same for the poller of one kind of save: a record of the other
    // kind is not sent again by it.
    OpStatus tick(bool wide);
    const Record& record() const { return record_; }
    const std::vector<std::uint8_t>& reply() const { return reply_; }
    int status() const { return AcknowledgementStatus(reply_); }

private:
    void send() const;

    Record record_;
    std::vector<std::uint8_t> reply_;
};

class ReadBackOperation {
public:
    // `asks`: how often the request is asked before it gives up; 0 never
    // (the window's reading polls, which its read-back timer asks anew).
    explicit ReadBackOperation(int asks = 0) : asks_(asks) {}
    // Sends the read-back request (SendQueryItem).
    void start(const LiveSetRequest& request);
    // The request went out through the sender already.
    void sent() { request_.reset(); }
    // Done: reply() holds the decoded reply, replyBuffer is clear.
    OpStatus tick();
    const ReadBackReply& reply() const { return reply_; }
    // The first reading becomes `item`'s value at `point` in tunerImage (a
    // measured squelch level); nothing for an item without such a byte.
    void takeReadingAsValue(int item, int point) const;

private:
    int asks_;
    std::optional<LiveSetRequest> request_;
    ReadBackReply reply_;
};

}  // namespace varnel
