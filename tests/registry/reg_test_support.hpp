#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "registry/reg_users.hpp"

// A fresh directory under /tmp for one test, removed with everything in it afterwards.
class RegTempDir {
  public:
    RegTempDir() {
        char pattern[] = "/tmp/siprelay-reg-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) path = pattern;
    }
    ~RegTempDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    RegTempDir(const RegTempDir&) = delete;
    RegTempDir& operator=(const RegTempDir&) = delete;

    std::string File(const std::string& name = "RegUsers.txt") const { return path + "/" + name; }

    std::string path;
};

inline std::string ReadBytes(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// What WriteAll prints, taken through a real stream.
inline std::string ListingOf(TagRegUsers& table) {
    std::string text;
    std::FILE* file = std::tmpfile();
    if (file == nullptr) return text;
    table.WriteAll(file);
    std::rewind(file);
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return text;
}

inline std::string WithCrLf(const std::string& text) {
    std::string bytes;
    for (char c : text) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    return bytes;
}

// 0 when the file is absent; a rewrite by rename always gives a new inode.
inline ino_t InodeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return info.st_ino;
}

// One call of Update and the result it should give.
struct UpdateCall {
    std::string name;
    std::string srcIp;
    int srcPort;
    std::string viaIp;
    int viaPort;
    std::string toAcc;
    int expires;
};

inline int Apply(TagRegUsers& table, const UpdateCall& call) {
    return table.Update(call.name, call.srcIp, call.srcPort, call.viaIp, call.viaPort, call.toAcc,
                        call.expires);
}
