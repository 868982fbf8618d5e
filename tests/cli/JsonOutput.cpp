#include "JsonOutput.h"

#include <regex>
#include <sstream>

#include <gtest/gtest.h>

bool ParseJson(const std::string& text, Json& value) {
    value = Json::parse(text, nullptr, false);
    return !value.is_discarded();
}

std::vector<Json> ParseJsonLines(const std::string& text) {
    std::vector<Json> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        Json value;
        EXPECT_TRUE(ParseJson(line, value)) << "not JSON: " << line;
        values.push_back(std::move(value));
    }
    return values;
}

std::string WithoutReadTimes(const std::string& lines) {
    static const std::regex times(R"(,"time":"[^"]*","t_s":[0-9.]+)");
    return std::regex_replace(lines, times, "");
}

std::vector<std::string> Keys(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& member : object.items()) keys.push_back(member.key());
    return keys;
}
