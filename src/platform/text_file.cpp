#include "platform/text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int ReadTextFile(const std::string& path, std::string& content) {
    content.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return -1;
    char chunk[8192];
    bool ended = false;
    int result = 0;
    while (!ended) {
        std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        for (std::size_t i = 0; i < got; ++i) {
            if (chunk[i] == '\x1a') {  // end-of-file mark of text mode
                ended = true;
                break;
            }
            if (chunk[i] != '\r') content.push_back(chunk[i]);
        }
        if (got < sizeof chunk) {
            if (std::ferror(file)) result = -1;
            break;
        }
    }
    std::fclose(file);
    return result;
}

std::string ToTextModeBytes(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    return bytes;
}

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Makes the rename itself durable, so the new file survives a power loss too. A failure here
// changes nothing of what the file holds, so it is not reported.
void syncDirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

int ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
    // The temporary file sits beside the target so that the rename stays on one file system.
    std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    // The new file keeps the permissions an administrator gave the old one.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return -1;
    }
    syncDirectoryOf(path);
    return 0;
}
