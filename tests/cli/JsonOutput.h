#pragma once
// The tool's JSON output read back with nlohmann, members in document order.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

// Parses one JSON text (surrounding blanks allowed). False on any syntax error.
bool ParseJson(const std::string& text, Json& value);
// Every non-empty line parsed; fails the calling test on a line that is not JSON.
std::vector<Json> ParseJsonLines(const std::string& text);
// Report lines of a live run without their reading times ("time" and "t_s"), so
// that they compare with the lines a replay of its record prints.
std::string WithoutReadTimes(const std::string& lines);
// The member names of an object, in document order.
std::vector<std::string> Keys(const Json& object);
