#include "platform/clock.hpp"

#include <chrono>
#include <ctime>
#include <thread>

namespace {

// The broken-down time of one whole second. The traffic log stamps two or three lines per
// forwarded datagram, and localtime_r is a large part of a stamp's cost, so it runs once a
// second. A local time changes only at second boundaries (also across a change of daylight
// saving time), so the cached parts stay exact for the whole second.
struct SecondParts {
    std::time_t second = -1;  // no second is cached yet
    std::tm parts{};
};

const std::tm& partsOf(std::time_t second) {
    thread_local SecondParts cache;
    if (cache.second != second) {
        localtime_r(&second, &cache.parts);
        cache.second = second;
    }
    return cache.parts;
}

}  // namespace

LocalTime GetLocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::tm& parts = partsOf(now.tv_sec);
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return t;
}

void SleepMilliseconds(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
