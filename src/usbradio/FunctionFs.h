// The radio as a USB function implemented in user space through FunctionFS.
//
// Set-up: the FunctionFS instance is mounted (mount -t functionfs NAME DIR);
// start(DIR) writes the descriptors of one mass-storage interface (class 08h,
// subclass 06h SCSI transparent, protocol 50h bulk-only; bulk IN and bulk
// OUT, full and high speed) and its string to DIR/ep0, after which the
// kernel creates DIR/ep1 (bulk IN) and DIR/ep2 (bulk OUT) and the gadget may
// be bound to a controller.
//
// Two threads: the control thread reads ep0's events (bind, enable,
// disable, unbind, suspend, resume) and answers the class requests of the
// interface (Get Max LUN: one LUN; Bulk-Only Mass Storage Reset), stalling
// every other request; the bulk thread serves the command wrappers. A reset,
// a disable (USB reset, cable pulled) or an unbind interrupts the bulk
// thread's endpoint I/O (a signal makes FunctionFS dequeue the request) and
// its waits, drops the command in hand, and it waits for the next CBW. A
// Bulk-Only reset is acknowledged only once the bulk thread has let go.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "usbradio/BulkOnly.h"
#include "util/Error.h"

namespace varnel::usbradio {

// The FunctionFS descriptor and string blobs (exposed for the tests).
std::string FunctionDescriptors();
std::string FunctionStrings();

class FunctionFsRadio : private Endpoints {
public:
    using Log = std::function<void(const std::string&)>;

    FunctionFsRadio(ScsiTarget& target, Log log, bool verbose);
    ~FunctionFsRadio() override;
    FunctionFsRadio(const FunctionFsRadio&) = delete;
    FunctionFsRadio& operator=(const FunctionFsRadio&) = delete;

    // Writes the descriptors and opens the endpoints; after this the gadget
    // may be bound to a controller.
    Error start(const std::string& directory);
    // Serves until stop() (or ep0 fails, e.g. the instance is unmounted).
    void run();
    void stop();

    std::uint64_t resets() const { return resets_; }

    // Asked with every command wrapper as it arrives; true holds the command
    // until a reset or a disconnect (set before run()).
    std::function<bool(const CommandBlock&)> holdCommand;

private:
    // Endpoints
    long readOut(std::uint8_t* buffer, std::size_t length) override;
    long writeIn(const std::uint8_t* bytes, std::size_t length) override;
    void haltIn() override;
    void haltOut() override;
    std::size_t maxPacket() override;
    bool pause(std::chrono::milliseconds time) override;

    void bulkLoop();
    void controlLoop();
    void handleSetup(const void* setup);
    // Drops the command in hand: bumps the generation and waits (bounded)
    // until the bulk thread has seen it.
    void interruptBulk(const char* why);

    ScsiTarget& target_;
    BulkOnlyTransport transport_;
    Log log_;
    bool verbose_;
    int ep0_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::size_t maxPacket_ = 512;

    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> generation_{0};
    std::uint64_t seenGeneration_ = 0;  // by the bulk thread, under mutex_
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread bulk_;
    pthread_t bulkHandle_{};
    bool bulkRunning_ = false;
    std::atomic<std::uint64_t> resets_{0};
};

}  // namespace varnel::usbradio
