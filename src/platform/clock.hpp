#pragma once

// Local date and time with milliseconds, as the traffic log stamps its lines.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    int hour = 0;   // 0 to 23
    int minute = 0;
    int second = 0;
    int millisecond = 0;  // 0 to 999
};

LocalTime GetLocalTime();

// Blocks the calling thread for the given number of milliseconds.
void SleepMilliseconds(int milliseconds);
