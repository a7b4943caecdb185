#include "sip/req_proc.hpp"

#include <algorithm>
#include <cstddef>

namespace {

// Where the next byte of a line goes: into the name (the first line is collected as a name too)
// or into the value.
enum class State { Name, Value };

// Names, values and the first line are kept as zero-terminated texts were: up to the first zero
// byte inside them.
std::string_view untilZeroByte(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace

TagReqProc::TagReqProc(const char* data, int length) {
    const int kept = (data == nullptr || length < 0) ? 0 : std::min(length, kMaxLength);
    rawData.assign(data == nullptr ? "" : data, static_cast<std::size_t>(kept));
    rawLength = kept;
    Parse();
}

// One pass over the bytes. Name and value bytes are not copied one at a time: `run` marks where
// the bytes not yet moved into the current accumulator begin, and a run is appended whole when a
// line end or a colon breaks it.
int TagReqProc::Parse() {
    firstLine.clear();
    method.clear();
    headers.clear();

    const char* const data = rawData.data();
    const std::size_t size = rawData.size();
    State state = State::Name;
    std::string name;      // name bytes since the last name was completed
    std::string lastName;  // the last completed name: a value is stored under it
    std::string value;     // value bytes since the last line end; the first one keeps them
    std::size_t run = 0;
    int lineEnds = 0;

    for (std::size_t p = 0; p < size; ++p) {
        switch (data[p]) {
            // CR or LF: ends the line, whatever is being collected
            case '\r':
            case '\n':
                (state == State::Name ? name : value).append(data + run, p - run);
                if (lineEnds == 0) {
                    // the first line end: the name collected so far is the first line
                    lastName.assign(untilZeroByte(name));
                    firstLine = lastName;
                    name.clear();
                    state = State::Value;
                } else {
                    // later ones store the entry if the line gave any value byte; the name goes
                    // on, so a line that completed no name prefixes the next one
                    if (!value.empty()) headers[lastName].assign(untilZeroByte(value));
                    value.clear();
                    state = State::Name;
                }
                ++lineEnds;
                run = p + 1;
                break;

            // colon in a name: with a blank after it the name is complete, with any other byte
            // both are dropped (so "sip:10.0.0.1" reads "sip0.0.0.1"); in a value it is a byte
            case ':':
                if (state != State::Name) break;
                name.append(data + run, p - run);
                if (p + 1 < size && data[p + 1] == ' ') {
                    lastName.assign(untilZeroByte(name));
                    name.clear();
                    state = State::Value;
                }
                ++p;
                run = p + 1;
                break;

            // any other byte extends the current run
            default:
                break;
        }
    }

    // The routing tells requests ("INVITE") from responses ("SIP/2.0") by this word.
    const std::size_t blank = firstLine.find(' ');
    if (blank != std::string::npos) method.assign(firstLine, 0, blank);
    return lineEnds;
}

void TagReqProc::Dump(std::FILE* out) const {
    // The wake-up datagram and other lines that are no SIP first line are not shown.
    if (firstLine.empty() || firstLine.front() == ' ') return;

    // One write per message: the console is on the path of every datagram.
    std::size_t length = firstLine.size() + 16;
    for (const auto& [name, value] : headers) length += name.size() + value.size() + 7;
    std::string text;
    text.reserve(length);
    text.append("firstLine: ").append(firstLine).append("\n");
    for (const auto& [name, value] : headers) {
        text.append("[").append(name).append("]: [").append(value).append("]\n");
    }
    text.append("\n");
    std::fwrite(text.data(), 1, text.size(), out);
}
