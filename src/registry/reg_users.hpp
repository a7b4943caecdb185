#pragma once

#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// One registration: where the phone of a user is reached.
struct TagRegRec {
    TagRegRec() = default;
    TagRegRec(std::string_view srcIp, int srcPort, std::string_view viaIp, int viaPort,
              std::string_view toAcc, int expires);

    std::string srcIp;    // address the REGISTER came from; requests for the user go here
    int srcPort = 0;      // its UDP source port
    std::string viaIp;    // address named in the REGISTER's Via header
    int viaPort = 0;      // port named in that Via header
    std::string toAcc;    // the whole To value of the REGISTER
    int expires = 0;      // Expires in seconds, greater than 0 in every stored record
    std::time_t regTime = 0;  // when the record was built; kept in memory only
};

// Where a lower module writes a line to the traffic log.
using LogLineFunction = void (*)(std::string_view text);

// The table of bindings keyed by user name, in byte-wise ascending name order, persisted in
// the registration file.
class TagRegUsers {
public:
    // Loads fileName when loadNow is set (the server's table always loads at start).
    explicit TagRegUsers(std::string fileName = "RegUsers.txt", bool loadNow = true);
    ~TagRegUsers();
    TagRegUsers(const TagRegUsers&) = delete;
    TagRegUsers& operator=(const TagRegUsers&) = delete;

    // Stores or replaces the binding of name; removes it when expires is 0 or less.
    // Returns 1 when stored, 0 when removed or absent.
    int Update(const std::string& name, std::string_view srcIp, int srcPort,
               std::string_view viaIp, int viaPort, std::string_view toAcc, int expires);

    // 1 with the binding's srcIp and srcPort, or 0 with the outputs untouched.
    int FindByName(const std::string& name, std::string& address, int& port);

    // 1 with srcIp and srcPort of the first binding in name order whose viaIp and viaPort equal
    // the given ones, or 0 with the outputs untouched. Logs "Found Via." or "Via not Found.".
    int FindByVia(std::string_view viaIp, int viaPort, std::string& address, int& port);

    // Lists every binding, one "%s, %s, %d, %s, %d, %s, %d\n" line each, in name order.
    void WriteAll(std::FILE* out);

    // Rewrites the registration file from the table: 0, or -1 with the file unchanged.
    int Save();

    // Reads the registration file into the table: 0, or -1 when it cannot be opened.
    int Load();

    std::string fileName;
    std::map<std::string, TagRegRec> users;
    std::mutex lock;

    LogLineFunction logLine = nullptr;  // traffic log of the server; none in a bare table
    int exitPauseMs = 0;                // the server's table waits 500 ms before it is destroyed
};

// Cuts one registration file line into fields at each comma, skipping the one character after
// the comma. Appends them to fields and returns how many were appended.
int SplitFields(std::string_view line, std::vector<std::string>& fields);
