// The broken-down local time and UTC of a moment, on every platform.
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

inline std::tm UtcTime(std::time_t moment) {
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &moment);
#else
    gmtime_r(&moment, &utc);
#endif
    return utc;
}

}  // namespace varnel
