#include "platform/error_report.hpp"

#include <cstdio>
#include <cstring>

void ReportError(std::string_view caption, std::string_view text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%.*s %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

std::string ErrnoText(int error) {
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not be the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text;
}
