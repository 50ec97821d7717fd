#include "records/record.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#include "platform/utc_time.h"
#include "platform/version.h"

namespace records {

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm utc = platform::UtcTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string NewRecordId() {
    // Seeded with 256 bits: ids from different stations must never meet.
    static thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(generator()),
                  static_cast<unsigned long long>(generator()));
    return text;
}

std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
        // Overlong forms and surrogates are refused along with stray bytes.
        if (length == 2 && lead < 0xC2) length = 0;
        if (length == 4 && lead > 0xF4) length = 0;
        for (size_t k = 1; length != 0 && k < length; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                length = 0;
        }
        if (length == 3) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if ((lead == 0xE0 && next < 0xA0) || (lead == 0xED && next >= 0xA0)) length = 0;
        }
        if (length == 4) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if ((lead == 0xF0 && next < 0x90) || (lead == 0xF4 && next >= 0x90)) length = 0;
        }
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

const char* KelvaneVersion() {
    return platform::VersionNumber();
}

}  // namespace records
