#pragma once
// The user-interface texts by numeric id, and the dialog captions, in English and
// Simplified Chinese. One process-wide language; code never picks one itself
// except at start-up.

#include <cstdarg>
#include <string>
#include <vector>

// Balloon texts of the numeric edits, shared with the rules that stand in for them
// without a window (the parameter edit session, the command-line tool).
enum : int {
    TEXT_DATA_INVALID = 24005,       // balloon title "Data Invalid"
    TEXT_INPUT_ERROR = 24006,        // balloon title "Input Error"
    TEXT_INVALID_CHARACTER = 24007,  // "Invalid character '%s'"
    TEXT_MIN_VALUE_MUST = 24008,     // "MinValue Must >= %s"
    TEXT_MAX_VALUE_MUST = 24009,     // "MaxValue Must <= %s"
};

enum class UiLanguage { English, SimplifiedChinese };

void SetUiLanguage(UiLanguage language);
[[nodiscard]] UiLanguage GetUiLanguage();

// The text of the id in the current (or given) language; empty when the id has no entry.
[[nodiscard]] std::string LoadStringText(int id);
[[nodiscard]] std::string LoadStringText(int id, UiLanguage language);

// The text of the id used as a printf format.
[[nodiscard]] std::string FormatStringText(int id, ...);
[[nodiscard]] std::string FormatStringTextV(int id, va_list args);

// A caption of a dialog template: key is the control id ("1187"), "label:<id>" for
// the label in front of a control, "group:<id>" for the group box around it, or
// "caption" for the dialog's own caption. Empty when unknown.
[[nodiscard]] std::string LoadCaption(int templateId, const std::string& key);
[[nodiscard]] std::string LoadCaption(int templateId, const std::string& key, UiLanguage language);

// Every string id and every caption key ("<template>/<key>") of a language, for checks.
[[nodiscard]] std::vector<int> StringTableIds(UiLanguage language);
[[nodiscard]] std::vector<std::string> CaptionKeys(UiLanguage language);
