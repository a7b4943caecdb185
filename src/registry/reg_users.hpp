#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One registration: where the phone of a user is reached.
struct TagRegRec {
    TagRegRec() = default;
    TagRegRec(std::string_view srcIp, int srcPort, std::string_view viaIp, int viaPort,
              std::string_view toAcc, int expires);

    std::string srcIp;        // address the REGISTER came from; requests for the user go here
    int srcPort = 0;          // its UDP source port
    std::string viaIp;        // address named in the REGISTER's Via header
    int viaPort = 0;          // port named in that Via header
    std::string toAcc;        // the whole To value of the REGISTER
    int expires = 0;          // Expires in seconds, greater than 0 in every stored record
    std::time_t regTime = 0;  // when the record was built; kept in memory only
};

// Where a lower module writes a line to the traffic log.
using LogLineFunction = void (*)(std::string_view text);

// The table of bindings keyed by user name, in byte-wise ascending name order, persisted in
// the registration file. users is changed only through Update and Load, which keep the Via index
// and the cached listing in step with it.
class TagRegUsers {
  public:
    // Loads fileName when loadNow is set (the server's table always loads at start).
    explicit TagRegUsers(std::string fileName = "RegUsers.txt", bool loadNow = true);
    ~TagRegUsers();
    TagRegUsers(const TagRegUsers&) = delete;
    TagRegUsers& operator=(const TagRegUsers&) = delete;

    // Stores or replaces the binding of name; removes it when expires is 0 or less.
    // Returns 1 when stored, 0 when removed or absent.
    int Update(const std::string& name, std::string_view srcIp, int srcPort, std::string_view viaIp,
               int viaPort, std::string_view toAcc, int expires);

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

  private:
    struct ViaKey {
        std::string ip;
        int port = 0;
        bool operator==(const ViaKey&) const = default;
    };
    struct ViaKeyHash {
        std::size_t operator()(const ViaKey& key) const;
    };

    // Both run with lock held.
    void refreshListing();
    void dropFromViaIndex(const std::string& name, const TagRegRec& rec);

    // Names of every binding by its Via, each set in name order, so that FindByVia answers
    // the first name without walking the table.
    std::unordered_map<ViaKey, std::set<std::string>, ViaKeyHash> viaIndex;

    // Every change to what WriteAll prints bumps contentVersion; the listing is re-formatted
    // only when it lags behind, and Save skips the rewrite when the file already holds it.
    std::uint64_t contentVersion = 1;
    std::uint64_t listingVersion = 0;
    std::uint64_t savedVersion = 0;  // 0: the file is not known to hold the table
    std::string listing;

    // Keeps two Saves from writing the file in one order and recording it in the other.
    std::mutex saveLock;
};

// Cuts one registration file line into fields at each comma, skipping the one character after
// the comma. Appends them to fields and returns how many were appended.
int SplitFields(std::string_view line, std::vector<std::string>& fields);
