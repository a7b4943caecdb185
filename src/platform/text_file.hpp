#pragma once

#include <string>
#include <string_view>

// Text-mode files as the configuration and registration files are stored: on reading every CR
// byte is dropped and a byte 0x1A ends the file; on writing each LF becomes CR LF. The bytes on
// disk are therefore the same on every host.

// Reads the whole file into content. Returns 0, or -1 when it cannot be opened or read.
int ReadTextFile(const std::string& path, std::string& content);

// Turns each LF into CR LF.
std::string ToTextModeBytes(std::string_view text);

// Replaces the file at path with bytes as one step: the bytes go to a temporary file in the same
// directory, are flushed to the disk, and the temporary file is renamed over path. On any failure
// the temporary file is removed, path keeps its earlier content, and the result is -1; else 0.
int ReplaceFileAtomically(const std::string& path, std::string_view bytes);
