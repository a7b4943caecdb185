#include "sip/req_proc.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

using HeaderMap = std::map<std::string, std::string>;

// Where the next byte of a line goes: into the name (the first line is collected as a name too)
// or into the value.
enum class State { Name, Value };

// Names, values and the first line are kept as zero-terminated texts were: up to the first zero
// byte inside them.
std::string_view untilZeroByte(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Entries that messages read before no longer use, with the memory of their texts.
thread_local std::vector<HeaderMap::node_type> tSpareEntries;

// Stores value under name as the subscript does (a later line of the same name replaces the
// earlier value) and notes the entry as one of this message's.
void storeEntry(HeaderMap& headers, const std::string& name, std::string_view value,
                std::vector<const void*>& current) {
    auto it = headers.lower_bound(name);
    if (it == headers.end() || it->first != name) {
        if (tSpareEntries.empty()) {
            it = headers.emplace_hint(it, name, std::string());
        } else {
            HeaderMap::node_type entry = std::move(tSpareEntries.back());
            tSpareEntries.pop_back();
            entry.key().assign(name);
            it = headers.insert(it, std::move(entry));
        }
    }
    it->second.assign(value);
    current.push_back(&*it);
}

// Removes the entries that the message just read did not store, keeping them for later names.
void dropStaleEntries(HeaderMap& headers, std::vector<const void*>& current) {
    std::sort(current.begin(), current.end());
    current.erase(std::unique(current.begin(), current.end()), current.end());
    if (current.size() == headers.size()) return;  // every entry was stored by this message
    for (auto it = headers.begin(); it != headers.end();) {
        auto next = std::next(it);
        if (!std::binary_search(current.begin(), current.end(), &*it)) {
            tSpareEntries.push_back(headers.extract(it));
        }
        it = next;
    }
}

// The first line end (CR or LF) at or after from, or size. Values make up most of a message, so
// they are scanned with memchr, which takes many bytes per step.
std::size_t findLineEnd(const char* data, std::size_t from, std::size_t size) {
    const void* cr = std::memchr(data + from, '\r', size - from);
    const std::size_t limit =
        cr == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(cr) - data);
    const void* lf = std::memchr(data + from, '\n', limit - from);
    return lf == nullptr ? limit : static_cast<std::size_t>(static_cast<const char*>(lf) - data);
}

// The first line end or colon at or after from, or size. Names are short: a plain loop.
std::size_t findNameEnd(const char* data, std::size_t from, std::size_t size) {
    std::size_t p = from;
    while (p < size && data[p] != '\r' && data[p] != '\n' && data[p] != ':') ++p;
    return p;
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
//
// Parsing again (the receive loop reads every datagram into the same message) reuses the
// entries of the previous message: an entry whose name comes again takes the new value in
// place, and only the names that do not come again are removed.
int TagReqProc::Parse() {
    firstLine.clear();
    method.clear();

    const char* const data = rawData.data();  // zero-terminated after size bytes
    const std::size_t size = rawData.size();
    // Without a zero byte in the datagram no text needs cutting at one.
    const bool hasZeroByte = std::memchr(data, '\0', size) != nullptr;
    auto asText = [hasZeroByte](std::string_view bytes) {
        return hasZeroByte ? untilZeroByte(bytes) : bytes;
    };

    thread_local std::string name;      // name bytes since the last name was completed
    thread_local std::string lastName;  // the last completed name: a value is stored under it
    thread_local std::string value;     // value bytes since the last line end
    thread_local std::vector<const void*> current;  // the entries this message stored
    name.clear();
    lastName.clear();
    value.clear();
    current.clear();

    State state = State::Name;
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
                    lastName.assign(asText(name));
                    firstLine = lastName;
                    name.clear();
                    state = State::Value;
                } else {
                    // later ones store the entry if the line gave any value byte; the name goes
                    // on, so a line that completed no name prefixes the next one
                    if (!value.empty()) storeEntry(headers, lastName, asText(value), current);
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
                    lastName.assign(asText(name));
                    name.clear();
                    state = State::Value;
                }
                ++p;
                run = p + 1;
                break;

            // any other byte extends the current run, and so do the bytes after it up to the
            // next one that can end it: a line end, or in a name a colon
            default: {
                const std::size_t end = state == State::Name ? findNameEnd(data, p + 1, size)
                                                             : findLineEnd(data, p + 1, size);
                p = end - 1;  // the loop's step lands on the byte that ends the run
                break;
            }
        }
    }
    dropStaleEntries(headers, current);

    // The routing tells requests ("INVITE") from responses ("SIP/2.0") by this word.
    const std::size_t blank = firstLine.find(' ');
    if (blank != std::string::npos) method.assign(firstLine, 0, blank);
    return lineEnds;
}

void TagReqProc::Dump(std::FILE* out) const {
    // The wake-up datagram and other lines that are no SIP first line are not shown.
    if (firstLine.empty() || firstLine.front() == ' ') return;

    // One write per message: the console is on the path of every datagram. The text is kept
    // between calls so that its memory is reused.
    thread_local std::string text;
    text.clear();
    text.append("firstLine: ").append(firstLine).append("\n");
    for (const auto& [name, value] : headers) {
        text.append("[").append(name).append("]: [").append(value).append("]\n");
    }
    text.append("\n");
    std::fwrite(text.data(), 1, text.size(), out);
}
