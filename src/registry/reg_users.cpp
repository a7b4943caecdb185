#include "registry/reg_users.hpp"

#include <functional>
#include <utility>

#include "platform/clock.hpp"

TagRegRec::TagRegRec(std::string_view srcIp_, int srcPort_, std::string_view viaIp_, int viaPort_,
                     std::string_view toAcc_, int expires_)
    : srcIp(srcIp_),
      srcPort(srcPort_),
      viaIp(viaIp_),
      viaPort(viaPort_),
      toAcc(toAcc_),
      expires(expires_),
      regTime(std::time(nullptr)) {}

std::size_t TagRegUsers::ViaKeyHash::operator()(const ViaKey& key) const {
    std::size_t h = std::hash<std::string>{}(key.ip);
    return h ^ (std::hash<int>{}(key.port) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

TagRegUsers::TagRegUsers(std::string fileName_, bool loadNow) : fileName(std::move(fileName_)) {
    // A missing or unreadable file leaves the table empty; the server starts all the same.
    if (loadNow) Load();
}

TagRegUsers::~TagRegUsers() {
    if (exitPauseMs > 0) SleepMilliseconds(exitPauseMs);
}

namespace {

// True when the two records print the same registration file line; regTime is not written.
bool sameWrittenFields(const TagRegRec& a, const TagRegRec& b) {
    return a.srcPort == b.srcPort && a.viaPort == b.viaPort && a.expires == b.expires &&
           a.srcIp == b.srcIp && a.viaIp == b.viaIp && a.toAcc == b.toAcc;
}

}  // namespace

void TagRegUsers::dropFromViaIndex(const std::string& name, const TagRegRec& rec) {
    auto it = viaIndex.find(ViaKey{rec.viaIp, rec.viaPort});
    if (it == viaIndex.end()) return;
    it->second.erase(name);
    if (it->second.empty()) viaIndex.erase(it);
}

int TagRegUsers::Update(const std::string& name, std::string_view srcIp, int srcPort,
                        std::string_view viaIp, int viaPort, std::string_view toAcc, int expires) {
    if (expires <= 0) {
        std::lock_guard<std::mutex> guard(lock);
        auto it = users.find(name);
        if (it != users.end()) {
            dropFromViaIndex(it->first, it->second);
            users.erase(it);
            ++contentVersion;
        }
        return 0;
    }

    // Built before the lock is taken, so the lock covers only the table itself.
    TagRegRec rec(srcIp, srcPort, viaIp, viaPort, toAcc, expires);

    std::lock_guard<std::mutex> guard(lock);
    auto [it, inserted] = users.try_emplace(name);
    TagRegRec& entry = it->second;
    if (!inserted && sameWrittenFields(entry, rec)) {
        // A refresh: only regTime changes, and nothing that is listed or saved.
        entry.regTime = rec.regTime;
        return 1;
    }
    bool viaMoved = inserted || entry.viaIp != rec.viaIp || entry.viaPort != rec.viaPort;
    if (viaMoved && !inserted) dropFromViaIndex(name, entry);
    entry = std::move(rec);
    if (viaMoved) viaIndex[ViaKey{entry.viaIp, entry.viaPort}].insert(name);
    ++contentVersion;
    return 1;
}

int TagRegUsers::FindByName(const std::string& name, std::string& address, int& port) {
    std::lock_guard<std::mutex> guard(lock);
    auto it = users.find(name);
    if (it == users.end()) return 0;
    address = it->second.srcIp;
    port = it->second.srcPort;
    return 1;
}

int TagRegUsers::FindByVia(std::string_view viaIp, int viaPort, std::string& address, int& port) {
    int found = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto via = viaIndex.find(ViaKey{std::string(viaIp), viaPort});
        if (via != viaIndex.end() && !via->second.empty()) {
            // Several accounts behind one phone: the first name in byte-wise order answers.
            auto it = users.find(*via->second.begin());
            if (it != users.end()) {
                address = it->second.srcIp;
                port = it->second.srcPort;
                found = 1;
            }
        }
    }
    // Logged after the lock is released: the log write may block on the disk.
    if (logLine != nullptr) logLine(found == 1 ? "Found Via." : "Via not Found.");
    return found;
}
