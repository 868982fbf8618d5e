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
// A file that cannot be taken whole is refused instead: one that does not parse
// (not well-formed, or nested deeper than XML_MAX_DEPTH), a folder, a FIFO or
// another file that is not a regular one, a file that cannot be read, or a data
// folder that is not a folder. The settings then start from an empty AppConfig,
// the reason is logged and kept for AppConfigRefusal, and no save touches that
// file until a later load succeeds.
// A file that loaded is followed by a trial save into the data folder (a file of
// the same size, made and removed again): a folder that cannot take a save
// (read-only, full) is named by AppConfigUnwritable.
XMLNode LoadAppConfig();
// Why the last LoadAppConfig refused the file (the parser's reason, e.g. "not
// well-formed at line 3: ...", or what the path is instead of a file), in the
// language chosen when it is asked; empty when it did not.
[[nodiscard]] std::string AppConfigRefusal();
// Why the data folder could not take a save when the last LoadAppConfig tried
// (e.g. "Read-only file system"); empty when it could, or when the file was refused.
[[nodiscard]] std::string AppConfigUnwritable();

// Writes gAppConfigDoc to GetAppConfigPath(): to a temporary file in the same folder,
// flushed, then renamed over the old file, so an interrupted save never leaves a
// truncated file. A file that another program changed since the last load or save
// (a hand edit while the tool runs) is read again first and this run's changes are
// carried over to it (MergeChanges), so that nothing added there is lost; the
// document then holds the merged tree, and XMLNode handles taken before the save
// are invalid. A refused file, or one changed meanwhile into something that does
// not load, is left as it is. True on success; otherwise false with the reason in
// `why` (when given).
bool SaveAppConfig(std::string* why = nullptr);

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

// The language the environment asks for, as GNU gettext reads it for messages:
// the locale is the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty; when that locale is "C" or "POSIX" (also with a ".codeset"), or none is
// set, the answer is "C". Otherwise the first entry of LANGUAGE (a colon-separated
// list of language names) when it is set, else the locale.
[[nodiscard]] std::string LanguageFromEnvironment();

// Reads Language of AppConfig, selects the UI language of the string table from it
// (Simplified Chinese for zh-cn and other "zh" names but zh-tw/zh-hk, English
// otherwise; with no name, LanguageFromEnvironment decides) and returns the locale
// name (empty = no change).
std::string ApplyConfiguredLanguage(XMLNode appConfig);
