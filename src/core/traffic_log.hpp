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

// Appends the bytes as they are, after the lines written before them.
void LogData(const char* data, int length);

// Writes out everything buffered. The datagram turn calls it once at its end, so every turn's
// entries (its "recv from" line, the datagram, an answer, the "sned to" line) reach the file
// together and at once, with one write.
void LogFlush();

// Closes the log if it is open.
void LogClose();

// The time-stamp prefix and text of one log line, as LogLine writes it.
std::string FormatLogLine(int year, int month, int day, int hour, int minute, int second,
                          int millisecond, std::string_view text);
