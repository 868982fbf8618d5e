#pragma once
// The user-interface texts by numeric id, and the dialog captions, in English and
// Simplified Chinese. One process-wide language; code never picks one itself
// except at start-up.

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "app/StringIds.h"  // TEXT_... names for the ids, made from the English table

enum class UiLanguage { English, SimplifiedChinese };

void SetUiLanguage(UiLanguage language);
[[nodiscard]] UiLanguage GetUiLanguage();

// The text of the id in the current (or given) language; empty when the id has no entry.
[[nodiscard]] std::string LoadStringText(int id);
[[nodiscard]] std::string LoadStringText(int id, UiLanguage language);

// The text of the id used as a printf format.
[[nodiscard]] std::string FormatStringText(int id, ...);
[[nodiscard]] std::string FormatStringTextV(int id, va_list args);

// A text of the table as a window or a terminal shows it: the table ends lines with
// CR LF (the log file keeps them so), Qt and terminals break lines at LF alone.
[[nodiscard]] std::string DisplayText(std::string_view text);

// A caption of a dialog template: key is the control id ("1187"), "label:<id>" for
// the label in front of a control, "group:<id>" for the group box around it, or
// "caption" for the dialog's own caption. Empty when unknown.
[[nodiscard]] std::string LoadCaption(int templateId, const std::string& key);
[[nodiscard]] std::string LoadCaption(int templateId, const std::string& key, UiLanguage language);

// Every string id and every caption key ("<template>/<key>") of a language, for checks.
[[nodiscard]] std::vector<int> StringTableIds(UiLanguage language);
[[nodiscard]] std::vector<std::string> CaptionKeys(UiLanguage language);
