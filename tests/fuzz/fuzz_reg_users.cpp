// Registration file content through Load, then Save and Load into a second table: the second
// table must hold exactly the bindings of the first (regTime aside, which is never written).
//
// Besides the file, each input adds one binding the way a REGISTER does, with texts taken from
// the input. The file format has no quoting: a binding with a line end or the end-of-file mark in
// any text, or a comma in the user name or an address, cannot be written so that it reads back,
// and Save leaves it out of the file (it stays in memory). A comma not followed by a blank in the
// To value reads back with the To value changed, and only the To value.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "registry/reg_users.hpp"

namespace {

const std::string& regPath() {
    static const std::string path = [] {
        char dir[] = "/tmp/siprelay-fuzz-reg-XXXXXX";
        if (::mkdtemp(dir) == nullptr) std::abort();
        return std::string(dir) + "/RegUsers.txt";
    }();
    return path;
}

bool holdsLineBreak(const std::string& text) {
    return text.find_first_of(std::string("\r\n\x1a", 3)) != std::string::npos;
}

bool written(const std::string& name, const TagRegRec& rec) {
    for (const std::string* text : {&name, &rec.srcIp, &rec.viaIp, &rec.toAcc}) {
        if (holdsLineBreak(*text)) return false;
    }
    for (const std::string* text : {&name, &rec.srcIp, &rec.viaIp}) {
        if (text->find(',') != std::string::npos) return false;
    }
    return true;
}

bool toReadsBack(const std::string& toAcc) {
    for (std::size_t at = toAcc.find(','); at != std::string::npos; at = toAcc.find(',', at + 1)) {
        if (at + 1 >= toAcc.size() || toAcc[at + 1] != ' ') return false;
    }
    return true;
}

bool sameBinding(const TagRegRec& a, const TagRegRec& b) {
    return a.srcIp == b.srcIp && a.srcPort == b.srcPort && a.viaIp == b.viaIp &&
           a.viaPort == b.viaPort && (a.toAcc == b.toAcc || !toReadsBack(a.toAcc)) &&
           a.expires == b.expires;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::abort();
    }
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Load echoes every line and prints "read()..."; the fuzzer's own report is on stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::string name = input.ConsumeRandomLengthString(64);
    TagRegRec added("127.0.0.20", input.ConsumeIntegral<int>(), input.ConsumeRandomLengthString(40),
                    input.ConsumeIntegral<int>(), input.ConsumeRandomLengthString(200),
                    input.ConsumeIntegral<int>());
    writeFile(regPath(), input.ConsumeRemainingBytesAsString());

    TagRegUsers first(regPath(), false);
    if (first.Load() != 0) std::abort();
    first.Update(name, added.srcIp, added.srcPort, added.viaIp, added.viaPort, added.toAcc,
                 added.expires);
    if (first.Save() != 0) std::abort();

    TagRegUsers second(regPath(), false);
    if (second.Load() != 0) std::abort();
    std::size_t kept = 0;
    for (const auto& [userName, rec] : first.users) {
        auto found = second.users.find(userName);
        if (!written(userName, rec)) {
            if (found != second.users.end()) std::abort();
            continue;
        }
        ++kept;
        if (found == second.users.end() || !sameBinding(rec, found->second)) std::abort();
    }
    if (second.users.size() != kept) std::abort();
    return 0;
}
