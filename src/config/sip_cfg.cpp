#include "config/sip_cfg.hpp"

#include <string_view>

#include "platform/decimal.hpp"
#include "platform/text_file.hpp"

namespace {

// Lines longer than this are handed over in pieces, each read as a line of its own.
constexpr std::size_t kMaxLinePiece = 511;

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Applies one line (or piece of a long line) to the record.
void applyLine(TagSipCfg& cfg, std::string_view line) {
    // The line is a text: a zero byte ends it.
    line = line.substr(0, line.find('\0'));
    // Only the first '/' can start a comment, and only when another '/' follows it.
    std::size_t slash = line.find('/');
    if (slash != std::string_view::npos && slash + 1 < line.size() && line[slash + 1] == '/') {
        line = line.substr(0, slash);
    }
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    std::string key(line.substr(0, equals));
    std::string value(line.substr(equals + 1));
    TrimBlanks(key);
    TrimBlanks(value);

    struct TextKey {
        const char* name;
        std::string TagSipCfg::*field;
    };
    struct PortKey {
        const char* name;
        int TagSipCfg::*field;
    };
    // Keys are matched in this order; the first match sets its field.
    static const TextKey textKeys[] = {{"myIp1", &TagSipCfg::myIp1}, {"myIp2", &TagSipCfg::myIp2}};
    static const PortKey myPortKey = {"myPort", &TagSipCfg::myPort};
    static const TextKey msKeys[] = {{"msIp1", &TagSipCfg::msIp1}, {"msIp2", &TagSipCfg::msIp2}};
    static const PortKey msPortKey = {"msPort", &TagSipCfg::msPort};
    static const TextKey proxyKey = {"outProxyAddr", &TagSipCfg::outProxyAddr};
    static const PortKey proxyPortKey = {"outProxyPort", &TagSipCfg::outProxyPort};

    for (const TextKey& k : textKeys) {
        if (equalsIgnoringAsciiCase(key, k.name)) return void(cfg.*k.field = value);
    }
    if (equalsIgnoringAsciiCase(key, myPortKey.name)) {
        return void(cfg.*myPortKey.field = ParseDecimal(value));
    }
    for (const TextKey& k : msKeys) {
        if (equalsIgnoringAsciiCase(key, k.name)) return void(cfg.*k.field = value);
    }
    if (equalsIgnoringAsciiCase(key, msPortKey.name)) {
        return void(cfg.*msPortKey.field = ParseDecimal(value));
    }
    if (equalsIgnoringAsciiCase(key, proxyKey.name)) return void(cfg.*proxyKey.field = value);
    if (equalsIgnoringAsciiCase(key, proxyPortKey.name)) {
        cfg.*proxyPortKey.field = ParseDecimal(value);
    }
}

}  // namespace

TagSipCfg::TagSipCfg(std::string name, bool loadNow) : fileName(std::move(name)) {
    if (loadNow) Load();
}

int TagSipCfg::Load() {
    std::string content;
    if (ReadTextFile(fileName, content) != 0) return -1;
    std::string_view rest = content;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        // A long line is read in pieces of at most 511 characters, each taken as a line.
        do {
            applyLine(*this, line.substr(0, kMaxLinePiece));
            line = line.size() > kMaxLinePiece ? line.substr(kMaxLinePiece) : std::string_view{};
        } while (!line.empty());
    }
    return 0;
}

void TrimBlanks(std::string& text) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) --end;
    std::size_t start = 0;
    while (start < end && isBlank(text[start])) ++start;
    text = text.substr(start, end - start);
}
