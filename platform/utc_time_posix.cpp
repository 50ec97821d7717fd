#include <time.h>

#include "platform/utc_time.h"

namespace platform {

std::tm UtcTime(std::time_t seconds) {
    std::tm utc{};
    if (::gmtime_r(&seconds, &utc) == nullptr) return std::tm{};
    return utc;
}

}  // namespace platform
