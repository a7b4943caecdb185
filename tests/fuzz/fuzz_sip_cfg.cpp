// Configuration file content through the reader. The bytes go to a file of their own, since the
// record reads only from a path.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/sip_cfg.hpp"

namespace {

const std::string& cfgPath() {
    static const std::string path = [] {
        char dir[] = "/tmp/siprelay-fuzz-cfg-XXXXXX";
        if (::mkdtemp(dir) == nullptr) std::abort();
        return std::string(dir) + "/SipCfg.ini";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(cfgPath().c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    TagSipCfg cfg(cfgPath());
    // Every value comes from the file's bytes; none can be longer than the file.
    for (const std::string* text :
         {&cfg.myIp1, &cfg.myIp2, &cfg.msIp1, &cfg.msIp2, &cfg.outProxyAddr}) {
        if (text->size() > size) std::abort();
    }
    return 0;
}
