#include <filesystem>
#include <system_error>

#include "platform/decimal.hpp"
#include "platform/text_file.hpp"
#include "registry/reg_users.hpp"

namespace {

// One line in the format "%s, %s, %d, %s, %d, %s, %d\n". The texts are appended by their
// bytes, so a '%' or a NUL in them is written as it is.
void appendBindingLine(std::string& out, std::string_view name, const TagRegRec& rec) {
    out.append(name);
    out.append(", ");
    out.append(rec.srcIp);
    out.append(", ");
    AppendDecimal(out, rec.srcPort);
    out.append(", ");
    out.append(rec.viaIp);
    out.append(", ");
    AppendDecimal(out, rec.viaPort);
    out.append(", ");
    out.append(rec.toAcc);
    out.append(", ");
    AppendDecimal(out, rec.expires);
    out.push_back('\n');
}

bool endsLine(std::string_view line, std::size_t at) {
    return at >= line.size() || line[at] == '\r' || line[at] == '\n';
}

// The reader cannot give back a text with a line end or the end-of-file mark 0x1A (the file would
// end there, with every binding after it), nor a comma in the name or an address (the later
// fields shift, and the line reads back as another user's binding). A REGISTER can bring such
// bytes in its To or Via; its binding is kept in memory but left out of the file.
bool readsBack(std::string_view name, const TagRegRec& rec) {
    constexpr std::string_view kLineBreaks("\r\n\x1a", 3);
    constexpr std::string_view kFieldBreaks("\r\n\x1a,", 4);
    return name.find_first_of(kFieldBreaks) == std::string_view::npos &&
           rec.srcIp.find_first_of(kFieldBreaks) == std::string::npos &&
           rec.viaIp.find_first_of(kFieldBreaks) == std::string::npos &&
           rec.toAcc.find_first_of(kLineBreaks) == std::string::npos;
}

std::size_t countLineFeeds(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) count += c == '\n' ? 1 : 0;
    return count;
}

}  // namespace

int SplitFields(std::string_view line, std::vector<std::string>& fields) {
    int count = 0;
    std::string field;
    std::size_t at = 0;
    while (!endsLine(line, at)) {
        if (line[at] != ',') {
            field.push_back(line[at]);
            ++at;
            continue;
        }
        // A comma closes the field and the one character after it is skipped: the blank of
        // the separator in a written file, whatever it is in a hand-edited one.
        fields.push_back(std::move(field));
        field.clear();
        ++count;
        if (endsLine(line, at + 1)) break;
        at += 2;
    }
    fields.push_back(std::move(field));
    return count + 1;
}

void TagRegUsers::refreshListing() {
    if (listingVersion == contentVersion) return;
    listing.clear();
    for (const auto& [name, rec] : users) appendBindingLine(listing, name, rec);
    listingVersion = contentVersion;
}

void TagRegUsers::WriteAll(std::FILE* out) {
    if (out == nullptr) return;
    std::lock_guard<std::mutex> guard(lock);
    refreshListing();
    if (!listing.empty()) std::fwrite(listing.data(), 1, listing.size(), out);
}

int TagRegUsers::Save() {
    std::lock_guard<std::mutex> saving(saveLock);
    std::string bytes;
    std::uint64_t version = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        // Every REGISTER saves; a refresh that changed nothing written needs no disk write.
        if (savedVersion == contentVersion) return 0;
        refreshListing();
        bool allReadBack = true;
        for (const auto& [name, rec] : users) allReadBack = allReadBack && readsBack(name, rec);
        if (allReadBack) {
            bytes = ToTextModeBytes(listing);
        } else {
            std::string lines;
            for (const auto& [name, rec] : users) {
                if (readsBack(name, rec)) appendBindingLine(lines, name, rec);
            }
            bytes = ToTextModeBytes(lines);
        }
        version = contentVersion;
    }
    // Written aside and renamed over the file, so that a crash or a full disk never leaves
    // the file cut short: it holds either the earlier table or this one.
    if (ReplaceFileAtomically(fileName, bytes) != 0) return -1;
    std::lock_guard<std::mutex> guard(lock);
    savedVersion = version;
    return 0;
}

int TagRegUsers::Load() {
    std::string content;
    if (ReadTextFile(fileName, content) != 0) return -1;
    std::fputs("read()...\n", stdout);

    std::vector<std::string> fields;
    std::string echo;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string_view line(content.data() + start, end - start);
        start = end + 1;
        ++lineNumber;

        // A short line is skipped, not the end of loading: the bindings below it still count.
        if (line.empty()) continue;
        fields.clear();
        if (SplitFields(line, fields) < 7) {
            std::printf("%s line %zu: fewer than 7 fields, skipped\n", fileName.c_str(),
                        lineNumber);
            continue;
        }

        // Expires is the last field. Anything between viaPort and it belongs to the To value,
        // which may hold a comma in its display name ("Smith, Anna" <sip:...>).
        std::size_t last = fields.size() - 1;
        std::string toAcc = fields[5];
        for (std::size_t i = 6; i < last; ++i) {
            toAcc.append(", ");
            toAcc.append(fields[i]);
        }
        TagRegRec rec;
        rec.srcIp = std::move(fields[1]);
        rec.srcPort = ParseDecimal(fields[2]);
        rec.viaIp = std::move(fields[3]);
        rec.viaPort = ParseDecimal(fields[4]);
        rec.toAcc = std::move(toAcc);
        rec.expires = ParseDecimal(fields[last]);

        echo.clear();
        appendBindingLine(echo, fields[0], rec);
        std::fwrite(echo.data(), 1, echo.size(), stdout);

        Update(fields[0], rec.srcIp, rec.srcPort, rec.viaIp, rec.viaPort, rec.toAcc, rec.expires);
    }

    // When the file holds exactly what Save would write, the first Save need not rewrite it.
    // Any skipped, repaired or differently ended line makes the bytes differ.
    std::error_code error;
    std::uintmax_t fileSize = std::filesystem::file_size(fileName, error);
    std::lock_guard<std::mutex> guard(lock);
    refreshListing();
    if (!error && listing == content && fileSize == listing.size() + countLineFeeds(listing)) {
        savedVersion = contentVersion;
    } else {
        savedVersion = 0;
    }
    return 0;
}
