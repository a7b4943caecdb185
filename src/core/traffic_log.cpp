#include "core/traffic_log.hpp"

#include <memory>

#include "platform/clock.hpp"

namespace {

std::FILE* gLogStream = nullptr;

// A buffer large enough for a line and a whole datagram, so that one turn's entries reach the
// file with a single write at the flush.
constexpr std::size_t kLogBufferSize = 64 * 1024;
std::unique_ptr<char[]> gLogBuffer;

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
    char stamp[96];
    int n = std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d.%d: ", year, month, day,
                          hour, minute, second, millisecond);
    std::string line(stamp, n > 0 ? static_cast<std::size_t>(n) : 0);
    line.append(text);
    line.append("\r\n");
    return line;
}

void LogLine(std::string_view text) {
    if (gLogStream == nullptr) return;
    LocalTime t = GetLocalTime();
    std::string line =
        FormatLogLine(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond, text);
    std::fwrite(line.data(), 1, line.size(), gLogStream);
}

void LogData(const char* data, int length) {
    if (gLogStream == nullptr) return;
    if (length > 0) std::fwrite(data, 1, static_cast<std::size_t>(length), gLogStream);
    std::fflush(gLogStream);
}

void LogClose() {
    if (gLogStream != nullptr) std::fclose(gLogStream);
    gLogStream = nullptr;
    gLogBuffer.reset();
}
