// Measuring instruments driven over their standard remote interface (SCPI
// text): a signal generator, a power meter, a communications test set. The
// alignment engine only sends commands and reads replies; which commands an
// instrument understands is configuration (InstrumentModel.h).
//
// Transports:
//   tcp://HOST:PORT        SCPI over a raw socket (port 5025 on most LAN
//                          instruments), POSIX sockets or Winsock
//                          (instrument/Net.h); also the virtual instrument's
//   lxi://HOST             VXI-11 through liblxi; a build without liblxi
//                          (Windows among them) says so when asked for it
//   lxi://HOST:PORT        raw socket through liblxi, or through the plain
//                          socket transport where liblxi is not built in
//   usbtmc:///dev/usbtmc0  USB Test & Measurement Class through the Linux
//                          kernel driver
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "util/Error.h"

namespace varnel {

class Instrument {
public:
    virtual ~Instrument() = default;
    // Sends one command line (the transport adds the line end).
    virtual Error send(std::string_view command) = 0;
    // Sends a query and returns its reply without the line end, made safe by
    // SafeInstrumentText. A reply that does not come within the time-out is
    // ErrorCode::Instrument.
    virtual Result<std::string> query(std::string_view command) = 0;
    // Where the instrument is, for messages ("tcp://127.0.0.1:5025").
    virtual std::string describe() const = 0;
};

// Opens an instrument by its address (see above). `timeout` bounds the
// connect and every reply.
Result<std::unique_ptr<Instrument>> OpenInstrument(const std::string& url,
                                                   std::chrono::milliseconds timeout);

// An instrument's text as the program may show, log and store it: valid
// UTF-8 is kept, every byte that is not part of a valid UTF-8 sequence and
// every control character (terminal escapes included; tab aside) becomes
// "\xNN", a backslash "\\", so the original bytes stay recoverable.
std::string SafeInstrumentText(std::string_view bytes);

// Reads a SCPI number reply ("+3.71E+01", "-12.5"); the "not a number"
// value 9.91E37 and anything that is not a number are BadData.
Result<double> ParseScpiNumber(std::string_view reply);

// Transports, for callers that know which one they want.
Result<std::unique_ptr<Instrument>> OpenSocketInstrument(const std::string& host, int port,
                                                         std::chrono::milliseconds timeout);
Result<std::unique_ptr<Instrument>> OpenLxiInstrument(const std::string& host, int port,
                                                      std::chrono::milliseconds timeout);
Result<std::unique_ptr<Instrument>> OpenUsbtmcInstrument(const std::string& device,
                                                         std::chrono::milliseconds timeout);
// True when this build carries liblxi.
bool LxiAvailable();

}  // namespace varnel
