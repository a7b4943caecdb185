#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// The traffic log, "sip_log.txt": time-stamped text lines and raw datagrams, appended untranslated
// and kept open for the whole run. While it is closed (or could not be opened) every write is a
// no-op, so the relay runs on without a log.

// Opens the log for appending; returns the stream, or null when it cannot be opened.
std::FILE* LogOpen(const std::string& path = "sip_log.txt");

// Appends "YYYY-MM-DD hh:mm:ss.ms: text\r\n" through the stream's buffer (no flush of its own).
void LogLine(std::string_view text);

// Appends the bytes as they are and flushes, which also writes out the lines buffered before.
void LogData(const char* data, int length);

// Closes the log if it is open.
void LogClose();

// The time-stamp prefix and text of one log line, as LogLine writes it.
std::string FormatLogLine(int year, int month, int day, int hour, int minute, int second,
                          int millisecond, std::string_view text);
