// Registration file content through Load, then Save and Load into a second table: the second
// table must hold exactly the bindings of the first (regTime aside, which is never written).
//
// Besides the file, each input adds one binding the way a REGISTER does, with texts taken from
// the input. The file format has no quoting: a line end in any text, a comma in the user name or
// an address, or a comma not followed by a blank in the To value cannot be written so that it
// reads back. Such a binding is left out of the check (see representable()); every binding read
// from a file is representable, since the reader only ever builds texts it can split again.
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

bool representable(const std::string& name, const TagRegRec& rec) {
    for (const std::string* text : {&name, &rec.srcIp, &rec.viaIp, &rec.toAcc}) {
        if (holdsLineBreak(*text)) return false;
    }
    for (const std::string* text : {&name, &rec.srcIp, &rec.viaIp}) {
        if (text->find(',') != std::string::npos) return false;
    }
    for (std::size_t at = rec.toAcc.find(','); at != std::string::npos;
         at = rec.toAcc.find(',', at + 1)) {
        if (at + 1 >= rec.toAcc.size() || rec.toAcc[at + 1] != ' ') return false;
    }
    return true;
}

bool sameBinding(const TagRegRec& a, const TagRegRec& b) {
    return a.srcIp == b.srcIp && a.srcPort == b.srcPort && a.viaIp == b.viaIp &&
           a.viaPort == b.viaPort && a.toAcc == b.toAcc && a.expires == b.expires;
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
    if (representable(name, added)) {
        first.Update(name, added.srcIp, added.srcPort, added.viaIp, added.viaPort, added.toAcc,
                     added.expires);
    }
    if (first.Save() != 0) std::abort();

    TagRegUsers second(regPath(), false);
    if (second.Load() != 0) std::abort();
    if (first.users.size() != second.users.size()) std::abort();
    for (auto a = first.users.begin(), b = second.users.begin(); a != first.users.end(); ++a, ++b) {
        if (a->first != b->first || !sameBinding(a->second, b->second)) std::abort();
    }
    return 0;
}
