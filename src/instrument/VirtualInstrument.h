// A virtual communications test set coupled to a virtual radio. It listens
// on a loopback TCP port and answers SCPI text like a LAN instrument, so the
// whole alignment path (socket, SCPI, engine, radio frames) runs without
// hardware.
//
// Its readings follow the radio: every live-set the radio acts on is
// reported to the instrument (VirtualRadio::setLiveObserver), and the
// reading of the item being transmitted comes from a response curve of the
// item's value. The curves are monotonic in the value, differ per radio
// model (seeded), per item and per point, carry a little noise and need a
// settle time after each change before they show the new value. A radio with
// a serial (VirtualRadio::setSerial) lies around its model's curves by its
// own offsets and slopes, with its own noise.
//
// Commands (case-insensitive):
//   *IDN?  *RST  *CLS  *OPC?  SYST:ERR?
//   RF:FREQ <Hz>  RF:FREQ?          analyser and generator frequency
//   GEN:LEV <dBm>  GEN:STAT ON|OFF  signal generator
//   MEAS:POW?   transmit power, dBm
//   MEAS:FERR?  carrier frequency error, Hz
//   MEAS:DEV?   sub-audio (CTCSS) deviation, Hz
//   MEAS:VOLT?  the voltmeter, V
// A measurement without a carrier on the analyser's frequency answers
// 9.91E37, the SCPI "not a number". An unknown command is put in the error
// queue (-113) and a query of it gets no reply; SYST:ERR? takes the oldest
// entry (the queue keeps 16, later ones are lost as -350). As on a LAN
// instrument, every connection has an error queue of its own: what one
// client gets wrong is never read by another, and *CLS clears only its own.
//
// Every client is served: the sockets do not block, a line longer than
// kMaxLine bytes is dropped (-223 in the error queue) without being kept,
// and a client that does not read its replies is disconnected once
// kMaxPending bytes wait for it. Stop returns at once, whatever the
// clients do.
//
// Threads: the server runs on a thread of its own; the radio's reports
// arrive on the radio's thread and are kept under a lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "instrument/Net.h"
#include "sim/VirtualRadio.h"
#include "util/Error.h"

namespace varnel {

class VirtualInstrument {
public:
    enum class Quantity { Power, FrequencyError, Deviation, Voltage };

    static constexpr std::size_t kMaxLine = 4096;          // bytes of one command line
    static constexpr std::size_t kMaxPending = 64 * 1024;  // replies waiting for one client
    static constexpr std::size_t kMaxClients = 16;

    // How the test set misbehaves, for tests.
    struct Misbehaviour {
        bool nonUtf8 = false;   // every reply starts with the bytes FF FE (not UTF-8)
        std::string identity;   // the reply to *IDN? instead of its own
        std::string refuse;     // a command header (upper case) it refuses: -222 in the error queue
        std::string ignore;     // a query header (upper case) it never answers
        // A meter that lies: every measurement answers this number instead
        // of the radio's reading (say -123 dBm from a keyed transmitter).
        std::optional<double> reading;
        // A meter that drifts off: each measurement reads this much more than
        // the one before.
        double drift = 0;
    };

    // `seed` 0 takes a seed from the radio's preset, so each virtual model
    // has its own curves.
    explicit VirtualInstrument(std::shared_ptr<VirtualRadio> radio, std::uint32_t seed = 0);
    ~VirtualInstrument();
    VirtualInstrument(const VirtualInstrument&) = delete;
    VirtualInstrument& operator=(const VirtualInstrument&) = delete;

    // Listens on 127.0.0.1 (port 0: any free port) and starts serving.
    Error start(int port = 0);
    void stop();
    int port() const { return port_; }
    // "tcp://127.0.0.1:PORT"
    std::string url() const;

    // Settle time after a change of the radio (default 20 ms).
    void setSettle(std::chrono::milliseconds settle);
    // Peak noise as a share of the default (1.0 default, 0 none).
    void setNoise(double scale);
    // Faults for tests: never answer; answer every query with garbage.
    void setSilent(bool silent) { silent_ = silent; }
    void setMalformed(bool malformed) { malformed_ = malformed; }
    void setMisbehaviour(Misbehaviour misbehaviour);
    // A fixture whose loss creeps: from the `fromRadio`-th radio on (1-based)
    // every power reading lies `dbPerRadio` dB lower per radio since then
    // (the radio `fromRadio` itself by one step). The instrument counts the
    // radios itself, a new serial on the virtual radio being the next one,
    // unless setRadioNumber says which radio is on the fixture.
    void setDrift(double dbPerRadio, int fromRadio);
    void setRadioNumber(int number);
    // The extra loss that the drift puts on the radio now on the fixture, dB.
    double driftLoss() const;
    // Commands and queries received so far, in order (at most the last 4096).
    std::vector<std::string> received() const;
    // The most bytes one client's unfinished line has held.
    std::size_t largestLineBuffer() const { return largestLine_; }
    // Clients disconnected because they did not read their replies.
    std::uint64_t clientsDropped() const { return dropped_; }

    // The noiseless, settled reading of `item` at `point` with `value` (NaN
    // when the instrument would show nothing for that item).
    double steadyReading(Quantity quantity, int item, int point, int value) const;
    // Queries answered so far.
    std::uint64_t queries() const { return queries_; }

private:
    struct RadioState {
        bool transmitting = false;
        int item = -1;
        int point = 0;
        int value = 0;
        std::uint32_t frequency = 0;
    };
    using ErrorQueue = std::deque<std::string>;  // one per connection
    void serve();
    std::string handle(const std::string& line, bool* answer, ErrorQueue& errors);
    std::string answerLine(const std::string& line, ErrorQueue& errors);
    std::string measured(Quantity quantity);
    static void pushError(ErrorQueue& errors, const std::string& entry);
    double reading(Quantity quantity);
    double unit(int item, int point, int salt) const;
    double driftLossLocked() const;

    std::shared_ptr<VirtualRadio> radio_;
    std::uint32_t seed_;

    mutable std::mutex mutex_;
    RadioState now_;
    RadioState before_;
    std::chrono::steady_clock::time_point changed_{};
    std::chrono::milliseconds settle_{20};
    double noise_ = 1.0;
    struct Drift {
        double dbPerRadio = 0;
        int fromRadio = 0;
        int radio = 0;                 // the radio on the fixture, 1-based (0: none seen yet)
        bool counted = true;           // counted from the serials, not set
        std::uint32_t lastSeed = 0;    // the serial's spread seed of the radio counted last
    };
    mutable Drift drift_;
    std::uint64_t noiseCounter_ = 0;
    double analyserHz_ = 0;
    double generatorDbm_ = -120;
    bool generatorOn_ = false;
    Misbehaviour misbehaviour_;
    double drifted_ = 0;  // what the drift has added so far
    std::deque<std::string> received_;

    std::atomic<bool> silent_{false};
    std::atomic<bool> malformed_{false};
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> queries_{0};
    std::atomic<std::size_t> largestLine_{0};
    std::atomic<std::uint64_t> dropped_{0};
    net::Socket listener_;
    net::Socket wakeRead_;   // Stop sends a byte on wakeWrite_ to end the poll
    net::Socket wakeWrite_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace varnel
