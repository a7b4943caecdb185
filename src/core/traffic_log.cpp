#include "core/traffic_log.hpp"

#include <charconv>
#include <memory>

#include "platform/clock.hpp"

namespace {

std::FILE* gLogStream = nullptr;

// A buffer large enough for a line and a whole datagram, so that one turn's entries reach the
// file with a single write at the flush.
constexpr std::size_t kLogBufferSize = 64 * 1024;
std::unique_ptr<char[]> gLogBuffer;

// "YYYY-MM-DD hh:mm:ss.": the part of a line's stamp that changes only once a second.
std::string formatStampToSecond(int year, int month, int day, int hour, int minute, int second) {
    char stamp[96];
    int n = std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d.", year, month, day,
                          hour, minute, second);
    return std::string(stamp, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// The milliseconds without leading zeros, ": ", the text as it is, CR LF.
void appendLineRest(std::string& line, int millisecond, std::string_view text) {
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, millisecond);
    line.append(digits, result.ptr);
    line.append(": ");
    line.append(text);
    line.append("\r\n");
}

// Every line of a second shares its stamp up to the point, so LogLine formats it once a second.
struct StampCache {
    LocalTime time;  // the second the prefix was formatted for
    std::string prefix;
};
StampCache gStamp;
std::string gLine;  // LogLine's line, kept so that its memory is reused

bool sameSecond(const LocalTime& a, const LocalTime& b) {
    return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day &&
           a.month == b.month && a.year == b.year;
}

}  // namespace

std::FILE* LogOpen(const std::string& path) {
    LogClose();
    gLogStream = std::fopen(path.c_str(), "ab");
    if (gLogStream != nullptr) {
        gLogBuffer = std::make_unique<char[]>(kLogBufferSize);
        std::setvbuf(gLogStream, gLogBuffer.get(), _IOFBF, kLogBufferSize);
    }
    return gLogStream;
}

std::string FormatLogLine(int year, int month, int day, int hour, int minute, int second,
                          int millisecond, std::string_view text) {
    std::string line = formatStampToSecond(year, month, day, hour, minute, second);
    appendLineRest(line, millisecond, text);
    return line;
}

void LogLine(std::string_view text) {
    if (gLogStream == nullptr) return;
    LocalTime t = GetLocalTime();
    if (gStamp.prefix.empty() || !sameSecond(t, gStamp.time)) {
        gStamp.prefix = formatStampToSecond(t.year, t.month, t.day, t.hour, t.minute, t.second);
        gStamp.time = t;
    }
    gLine.assign(gStamp.prefix);
    appendLineRest(gLine, t.millisecond, text);
    std::fwrite(gLine.data(), 1, gLine.size(), gLogStream);
}

void LogData(const char* data, int length) {
    if (gLogStream == nullptr) return;
    if (length > 0) std::fwrite(data, 1, static_cast<std::size_t>(length), gLogStream);
}

void LogFlush() {
    if (gLogStream != nullptr) std::fflush(gLogStream);
}

void LogClose() {
    if (gLogStream != nullptr) std::fclose(gLogStream);
    gLogStream = nullptr;
    gLogBuffer.reset();
}
