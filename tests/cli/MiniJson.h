#pragma once
// A small JSON reader for checking the tool's output by value.

#include <map>
#include <memory>
#include <string>
#include <vector>

struct JsonMember;

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<JsonValue> items;                          // Array
    std::vector<JsonMember> members;                        // Object, in document order

    [[nodiscard]] bool Has(const std::string& key) const;
    // The member of that name; a Null value when missing.
    [[nodiscard]] const JsonValue& operator[](const std::string& key) const;
    [[nodiscard]] const JsonValue& operator[](size_t index) const { return items.at(index); }
    [[nodiscard]] std::vector<std::string> Keys() const;
    [[nodiscard]] std::vector<double> Numbers() const;  // of an array of numbers
};

struct JsonMember {
    std::string first;  // name
    JsonValue second;   // value
};

// Parses one JSON text (surrounding blanks allowed). False on any syntax error.
bool ParseJson(const std::string& text, JsonValue& value);
// Every non-empty line parsed; fails the calling test on a line that is not JSON.
std::vector<JsonValue> ParseJsonLines(const std::string& text);
