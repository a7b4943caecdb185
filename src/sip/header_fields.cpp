#include <algorithm>
#include <string>

#include "platform/decimal.hpp"
#include "sip/req_proc.hpp"

namespace {

constexpr int kDefaultSipPort = 5060;

void writeLine(std::FILE* out, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), out);
}

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
    std::string via;
    const int found = GetHeader("Via", via);
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
    writeLine(out, "ViaIp: " + address + ", ViaPort: " + std::to_string(port) + "\n");
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
    writeLine(out, "ToName: " + userName + ", ToAcc: " + toValue + "\n");
    return found;
}
