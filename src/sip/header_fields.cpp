#include <algorithm>
#include <string>

#include "platform/decimal.hpp"
#include "sip/req_proc.hpp"

namespace {

constexpr int kDefaultSipPort = 5060;

// The console lines of the header reads, each written with one call. The text is kept between
// calls so that its memory is reused.
thread_local std::string tLine;

void writeLine(std::FILE* out) {
    std::fwrite(tLine.data(), 1, tLine.size(), out);
}

const std::string kNoValue;

}  // namespace

int TagReqProc::GetHeader(std::string_view name, std::string& value) const {
    const auto entry = headers.find(std::string(name));
    if (entry == headers.end()) {
        value.clear();
        return 0;
    }
    value = entry->second;
    return 1;
}

// The Via value reads "SIP/2.0/UDP host[:port][;params][, next Via]". The host starts after the
// first blank; a colon gives the port. Without a port the host ends where the parameters or the
// next Via begin, so a colon inside a parameter (";branch=a:b") or in a later Via is no port.
int TagReqProc::GetViaAddr(std::string& address, int& port, std::FILE* out) const {
    address.clear();
    port = kDefaultSipPort;
    const auto entry = headers.find("Via");
    const int found = entry == headers.end() ? 0 : 1;
    const std::string& via = found == 1 ? entry->second : kNoValue;
    const std::size_t blank = via.find(' ');
    if (found == 1 && blank != std::string::npos) {
        const std::size_t hostStart = blank + 1;
        const std::size_t hostEnd = std::min(via.find_first_of(";,", hostStart), via.size());
        // The first colon of the whole value counts, also one before the blank ("UDP:5070 host")
        const std::size_t colon = via.find(':');
        const bool hasPort = colon != std::string::npos && colon < hostEnd;
        if (hasPort) port = ParseDecimal(std::string_view(via).substr(colon + 1));
        if (hasPort && colon > blank) {
            address.assign(via, hostStart, colon - hostStart);
        } else {
            std::size_t end = hostEnd;
            while (end > hostStart && (via[end - 1] == ' ' || via[end - 1] == '\t')) --end;
            address.assign(via, hostStart, end - hostStart);
        }
    }
    tLine.assign("ViaIp: ").append(address).append(", ViaPort: ");
    AppendDecimal(tLine, port);
    tLine.append("\n");
    writeLine(out);
    return found;
}

// The user name is what stands between the first colon ("sip:") and the at sign after it. The
// first colon of the whole value counts, even one inside a display name.
int TagReqProc::GetToName(std::string& userName, std::string& toValue, std::FILE* out) const {
    userName.clear();
    const int found = GetHeader("To", toValue);
    const std::size_t colon = toValue.find(':');
    if (colon == std::string::npos) {
        userName = toValue;
    } else {
        const std::size_t at = toValue.find('@', colon + 1);
        if (at == std::string::npos) {
            userName.assign(toValue, colon);
        } else {
            userName.assign(toValue, colon + 1, at - colon - 1);
        }
    }
    tLine.assign("ToName: ").append(userName).append(", ToAcc: ").append(toValue).append("\n");
    writeLine(out);
    return found;
}
