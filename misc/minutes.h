// Modification dates as the disk keeps them: to the minute, in local time.
// A host file copied out and back keeps its minute and loses its seconds,
// so dates are compared by the minute they fall in.
#pragma once

#include <ctime>

namespace dv {

// The start of the local minute holding `t` (what the disk would keep).
inline std::time_t minute_of(std::time_t t) {
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return t;
    return t - tm.tm_sec;
}

}  // namespace dv
