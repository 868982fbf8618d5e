#include "MiniJson.h"

#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : s_(text) {}

    bool Document(JsonValue& value) {
        Blank();
        if (!Value(value)) return false;
        Blank();
        return i_ == s_.size();
    }

private:
    void Blank() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
    }
    bool Literal(const char* word) {
        const std::string w(word);
        if (s_.compare(i_, w.size(), w) != 0) return false;
        i_ += w.size();
        return true;
    }
    bool Value(JsonValue& v) {
        if (i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '{') return Object(v);
        if (c == '[') return Array(v);
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            return String(v.text);
        }
        if (Literal("true")) {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = true;
            return true;
        }
        if (Literal("false")) {
            v.kind = JsonValue::Kind::Bool;
            return true;
        }
        if (Literal("null")) return true;
        return Number(v);
    }
    bool Number(JsonValue& v) {
        const char* start = s_.c_str() + i_;
        char* end = nullptr;
        v.number = std::strtod(start, &end);
        if (end == start) return false;
        v.kind = JsonValue::Kind::Number;
        i_ += static_cast<size_t>(end - start);
        return true;
    }
    bool String(std::string& out) {
        ++i_;  // opening quote
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c == '\\') {
                if (i_ >= s_.size()) return false;
                const char e = s_[i_++];
                switch (e) {
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                case 't': c = '\t'; break;
                case 'u':
                    if (i_ + 4 > s_.size()) return false;
                    c = static_cast<char>(std::strtol(s_.substr(i_, 4).c_str(), nullptr, 16));
                    i_ += 4;
                    break;
                default: c = e;
                }
            } else if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            out.push_back(c);
        }
        if (i_ >= s_.size()) return false;
        ++i_;
        return true;
    }
    bool Array(JsonValue& v) {
        v.kind = JsonValue::Kind::Array;
        ++i_;
        Blank();
        if (i_ < s_.size() && s_[i_] == ']') {
            ++i_;
            return true;
        }
        while (true) {
            Blank();
            JsonValue item;
            if (!Value(item)) return false;
            v.items.push_back(std::move(item));
            Blank();
            if (i_ >= s_.size()) return false;
            if (s_[i_] == ',') {
                ++i_;
                continue;
            }
            if (s_[i_] == ']') {
                ++i_;
                return true;
            }
            return false;
        }
    }
    bool Object(JsonValue& v) {
        v.kind = JsonValue::Kind::Object;
        ++i_;
        Blank();
        if (i_ < s_.size() && s_[i_] == '}') {
            ++i_;
            return true;
        }
        while (true) {
            Blank();
            if (i_ >= s_.size() || s_[i_] != '"') return false;
            std::string key;
            if (!String(key)) return false;
            Blank();
            if (i_ >= s_.size() || s_[i_] != ':') return false;
            ++i_;
            Blank();
            JsonValue member;
            if (!Value(member)) return false;
            v.members.push_back({std::move(key), std::move(member)});
            Blank();
            if (i_ >= s_.size()) return false;
            if (s_[i_] == ',') {
                ++i_;
                continue;
            }
            if (s_[i_] == '}') {
                ++i_;
                return true;
            }
            return false;
        }
    }

    const std::string& s_;
    size_t i_ = 0;
};

}  // namespace

bool JsonValue::Has(const std::string& key) const {
    for (const auto& [name, value] : members) {
        if (name == key) return true;
    }
    return false;
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
    static const JsonValue kNull;
    for (const auto& [name, value] : members) {
        if (name == key) return value;
    }
    return kNull;
}

std::vector<std::string> JsonValue::Keys() const {
    std::vector<std::string> keys;
    for (const auto& member : members) keys.push_back(member.first);
    return keys;
}

std::vector<double> JsonValue::Numbers() const {
    std::vector<double> out;
    for (const JsonValue& item : items) out.push_back(item.number);
    return out;
}

bool ParseJson(const std::string& text, JsonValue& value) {
    value = JsonValue{};
    return Reader(text).Document(value);
}

std::vector<JsonValue> ParseJsonLines(const std::string& text) {
    std::vector<JsonValue> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        JsonValue value;
        EXPECT_TRUE(ParseJson(line, value)) << "not JSON: " << line;
        values.push_back(std::move(value));
    }
    return values;
}
