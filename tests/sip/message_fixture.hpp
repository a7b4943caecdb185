#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sip/req_proc.hpp"

using Entries = std::vector<std::pair<std::string, std::string>>;

// Builds the message from an exact-size heap copy of the bytes, so that reading one byte too far
// fails under AddressSanitizer; the copy is freed before the test looks at the message, which
// must therefore own everything it holds.
inline TagReqProc ParseBytes(std::string_view bytes) {
    auto buffer = std::make_unique<char[]>(bytes.size());
    std::memcpy(buffer.get(), bytes.data(), bytes.size());
    return TagReqProc(buffer.get(), static_cast<int>(bytes.size()));
}

// The header entries in the map's order.
inline Entries EntriesOf(const TagReqProc& message) {
    return Entries(message.headers.begin(), message.headers.end());
}

// Everything that `write` printed to the stream it was given.
template <typename Write>
std::string CaptureOutput(Write&& write) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) return "(no temporary file)";
    std::forward<Write>(write)(file);
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char chunk[512];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return text;
}
