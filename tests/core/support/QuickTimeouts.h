// Short time-outs for the records tests, so that a stalled server costs them
// little.
#pragma once

#include <chrono>

#include "records/RecordStore.h"

namespace varnel::testing {

inline ServerTimeouts QuickTimeouts() {
    ServerTimeouts t;
    t.connect = std::chrono::milliseconds(2000);
    t.statement = std::chrono::milliseconds(1000);
    t.retryPause = std::chrono::milliseconds(300);
    return t;
}

}  // namespace varnel::testing
