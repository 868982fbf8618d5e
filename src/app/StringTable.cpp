#include "app/StringTable.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

extern const char STRING_TABLE_ENGLISH[];
extern const char STRING_TABLE_CHINESE[];

namespace {

struct Table {
    std::map<int, std::string> strings;
    std::map<std::string, std::string> captions;  // "<template>/<key>"
};

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case '\\': out += '\\'; break;
            default: out += '\\'; out += text[i]; break;
        }
    }
    return out;
}

// One entry per line: key, a tab, the text. A numeric key may carry the id's name
// between them (key, name, text), as the English table does; a text never holds a
// tab of its own (it is written \t), so a second tab ends the name. '#' starts a
// comment line.
Table Parse(std::string_view data) {
    Table table;
    while (!data.empty()) {
        const size_t end = data.find('\n');
        std::string_view line = data.substr(0, end);
        data = end == std::string_view::npos ? std::string_view() : data.substr(end + 1);
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) continue;
        const std::string key(line.substr(0, tab));
        std::string_view rest = line.substr(tab + 1);
        if (key.find('/') != std::string::npos) {
            table.captions[key] = Unescape(rest);
            continue;
        }
        const size_t nameEnd = rest.find('\t');
        if (nameEnd != std::string_view::npos) rest = rest.substr(nameEnd + 1);
        table.strings[std::atoi(key.c_str())] = Unescape(rest);
    }
    return table;
}

const Table& TableOf(UiLanguage language) {
    static const Table english = Parse(STRING_TABLE_ENGLISH);
    static const Table chinese = Parse(STRING_TABLE_CHINESE);
    return language == UiLanguage::SimplifiedChinese ? chinese : english;
}

std::atomic<UiLanguage> gLanguage{UiLanguage::English};

}  // namespace

void SetUiLanguage(UiLanguage language) { gLanguage.store(language); }

UiLanguage GetUiLanguage() { return gLanguage.load(); }

std::string LoadStringText(int id) { return LoadStringText(id, GetUiLanguage()); }

std::string LoadStringText(int id, UiLanguage language) {
    const Table& table = TableOf(language);
    const auto it = table.strings.find(id);
    return it == table.strings.end() ? std::string() : it->second;
}

std::string FormatStringText(int id, ...) {
    va_list args;
    va_start(args, id);
    std::string out = FormatStringTextV(id, args);
    va_end(args);
    return out;
}

std::string FormatStringTextV(int id, va_list args) {
    const std::string format = LoadStringText(id);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format.c_str(), copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<size_t>(needed));
        std::vsnprintf(out.data(), out.size() + 1, format.c_str(), args);
    }
    return out;
}

std::string DisplayText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r') out += c;
    }
    return out;
}

std::string LoadCaption(int templateId, const std::string& key) {
    return LoadCaption(templateId, key, GetUiLanguage());
}

std::string LoadCaption(int templateId, const std::string& key, UiLanguage language) {
    const Table& table = TableOf(language);
    const auto it = table.captions.find(std::to_string(templateId) + "/" + key);
    return it == table.captions.end() ? std::string() : it->second;
}

std::vector<int> StringTableIds(UiLanguage language) {
    std::vector<int> ids;
    for (const auto& entry : TableOf(language).strings) ids.push_back(entry.first);
    return ids;
}

std::vector<std::string> CaptionKeys(UiLanguage language) {
    std::vector<std::string> keys;
    for (const auto& entry : TableOf(language).captions) keys.push_back(entry.first);
    return keys;
}
