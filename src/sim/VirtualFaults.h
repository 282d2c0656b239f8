// Virtual-radio faults from a short text, for the command line
// (--virtual-faults=SPEC) of the program, the command-line tool and soak runs.
//
// SPEC is a comma-separated list; items may repeat, the last one counts:
//   hang             every transfer blocks for the full 2-second time-out and fails
//   hang=MS          the same, blocking MS milliseconds
//   hang-after=N     the radio takes N command frames, then every later
//                    transfer hangs for the 2-second time-out and fails
//   hang-after=N:MS  the same, each blocking MS milliseconds
//   no-answer        the radio never answers
//   late=N           a reply appears only on the N-th read after its command
//   bad-checksum     every reply's checksum is off by one
//   refuse           every transfer is refused by the system (permission)
//   check-condition  every transfer ends in CHECK CONDITION, ILLEGAL REQUEST
//   short            every read moves only half the bytes asked for
//   drop=P           a reply is dropped with probability P (0 to 1)
//   corrupt=P        a reply's checksum is spoiled with probability P
//   lose-commands=P  a command frame is lost on the way with probability P
//   delay=MS         every transfer takes MS milliseconds
//   unplug-after=N   the cable is pulled after N commands (once: put back in, the radio works)
//   seed=N           seed of the random faults (default 1)
//   none             no faults
// Example: "drop=0.2,corrupt=0.1,seed=7".
#pragma once

#include <string>
#include <string_view>

#include "sim/VirtualRadio.h"
#include "util/Error.h"

namespace varnel {

struct VirtualFaultSpec {
    LinkFaults link;
    Fault firmware = Fault::None;
    unsigned firmwareReads = 1;
};

// Parses SPEC; a malformed item is an error naming it.
Result<VirtualFaultSpec> ParseVirtualFaults(std::string_view spec);
// Parses SPEC and sets the faults on `radio`.
Error ApplyVirtualFaults(VirtualRadio& radio, std::string_view spec);
// The accepted items, for usage texts.
std::string VirtualFaultNames();

}  // namespace varnel
