// The broken-down local time of a moment, on every platform.
#pragma once

#include <ctime>

namespace varnel {

inline std::tm LocalTime(std::time_t moment) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &moment);
#else
    localtime_r(&moment, &local);
#endif
    return local;
}

}  // namespace varnel
