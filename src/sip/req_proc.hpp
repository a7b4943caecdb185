#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>

// One received datagram read as a SIP message. The object owns copies of every byte and text it
// holds, so the caller may reuse the buffer the datagram came from as soon as it is built.
class TagReqProc {
public:
    // The most bytes a message holds; longer input is cut to this length.
    static constexpr int kMaxLength = 2048;

    // Copies at most kMaxLength bytes of data and parses them.
    TagReqProc(const char* data, int length);

    // Fills firstLine, headers and method from rawData; returns the number of CR and LF bytes.
    int Parse();

    // Prints the message in the console dump format; nothing when firstLine is empty or begins
    // with a blank.
    void Dump(std::FILE* out = stdout) const;

    // Plain lookup by exact name: 1 and the whole value, or 0 and empty text. Inserts nothing.
    int GetHeader(std::string_view name, std::string& value) const;

    // Address and port of the (last) Via header; empty and 5060 without one. Prints the
    // "ViaIp: %s, ViaPort: %d" console line. Returns 1 when there is a Via entry, else 0.
    int GetViaAddr(std::string& address, int& port, std::FILE* out = stdout) const;

    // User part and whole value of the To header. Prints the "ToName: %s, ToAcc: %s" console
    // line. Returns 1 when there is a To entry, else 0.
    int GetToName(std::string& userName, std::string& toValue, std::FILE* out = stdout) const;

    // Writes the response with the request's Via, From, To (plus the fixed tag), Contact,
    // Call-ID and CSeq into out and returns its length. Reads the headers with the subscript
    // lookup, so an absent one is added with an empty value.
    int BuildResponse(std::string_view statusCode, std::string_view reason,
                      std::string_view extraHeaders, std::string& out);

    std::string firstLine;
    std::string rawData;
    int rawLength = 0;
    std::map<std::string, std::string> headers;  // byte-wise (unsigned) name order
    std::string method;
};
