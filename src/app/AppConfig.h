#pragma once
// appConfig.xml in the data folder: the process-wide document, its start-up
// steps, the reading pattern of settings and the save.
//
// Only the controlling (UI) thread touches the document; it has no lock.

#include <optional>
#include <string>

#include "app/XMLParser.h"

extern XMLParser gAppConfigDoc;

// data folder + "appConfig.xml"
[[nodiscard]] std::string GetAppConfigPath();

// At start-up, before anything reads a setting: reads the file into gAppConfigDoc;
// when there is no top-level AppConfig element, appends an empty one and saves at
// once. Returns the AppConfig element.
// A file that does not parse (not well-formed, or nested deeper than XML_MAX_DEPTH)
// is refused instead: the settings start from an empty AppConfig, the reason is
// logged and kept for AppConfigRefusal, and no save touches that file until a
// later load succeeds.
XMLNode LoadAppConfig();
// Why the last LoadAppConfig refused the file (the parser's reason, e.g. "not
// well-formed at line 3: ..."); empty when it did not.
[[nodiscard]] std::string AppConfigRefusal();

// Writes gAppConfigDoc to GetAppConfigPath(): to a temporary file in the same folder,
// flushed, then renamed over the old file, so an interrupted save never leaves a
// truncated file. True on success; callers ignore failures.
bool SaveAppConfig();

// The reading pattern of every numeric setting: when the attribute has a non-empty
// value it is parsed into field (ValueParse.h: whole numbers in decimal, unsigned
// ones also in "0x" hexadecimal); otherwise the field keeps its default.
void ReadConfigValue(XMLNode node, const char* name, int32_t& field);
void ReadConfigValue(XMLNode node, const char* name, uint32_t& field);
void ReadConfigValue(XMLNode node, const char* name, double& field);
// A switch: 0 or 1.
void ReadConfigFlag(XMLNode node, const char* name, int32_t& field);

// Paths: read absolute against the data folder (relative and absolute values both
// work), whole at any length; written relative to the data folder when inside it.
// A missing or empty attribute keeps the field.
void ReadConfigPath(XMLNode node, const char* name, std::string& field);
void WriteConfigPath(XMLNode node, const char* name, const std::string& path);

// Start-up step 4: the locale name chosen by the Language value. "ENG" -> "en-US",
// "CHS" -> "zh-cn", "CHT" -> "zh-tw" (without regard to case); other names pass
// unchanged. Empty when the value is absent, empty, or longer than 31 characters.
[[nodiscard]] std::string LanguageNameFromConfig(const std::optional<std::string>& value);

// Reads Language of AppConfig, selects the UI language of the string table from it
// (Simplified Chinese for zh-cn and other "zh" names but zh-tw/zh-hk, English
// otherwise; with no name, the environment's LANG decides) and returns the locale
// name (empty = no change).
std::string ApplyConfiguredLanguage(XMLNode appConfig);
