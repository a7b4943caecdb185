#pragma once

#include <string>
#include <string_view>

// A fresh directory under /tmp, removed with its content when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

    void write(std::string_view name, std::string_view bytes) const;
    // The file's bytes, or empty text when it does not exist.
    std::string read(std::string_view name) const;
    bool exists(std::string_view name) const;

  private:
    std::string path_;
};

// The whole file at path as bytes (empty when missing).
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, std::string_view bytes);
