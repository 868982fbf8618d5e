#include "app/AppConfig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "app/AppConfigSaveHook.h"
#include "app/StringTable.h"
#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "common/Utf8Text.h"
#include "common/ValueParse.h"

XMLParser gAppConfigDoc;

namespace {

AppConfigBeforeRenameHook gBeforeRename = nullptr;
std::string gRefusal;  // UI thread only, as gAppConfigDoc

}  // namespace

void SetAppConfigBeforeRenameHook(AppConfigBeforeRenameHook hook) { gBeforeRename = hook; }

std::string GetAppConfigPath() { return CombinePathName(GetProgramPath(), "appConfig.xml"); }

XMLNode LoadAppConfig() {
    gAppConfigDoc.Clear();
    gRefusal.clear();
    const std::string path = GetAppConfigPath();
    uint8_t* data = nullptr;
    const size_t size = ReadFileData(path, &data);
    if (data) {
        const bool parsed = gAppConfigDoc.LoadBuffer(data, size);
        ReleaseFileData(data);
        if (!parsed) {
            // Refused whole, as the command-line tool refuses it: settings taken from
            // part of a damaged file could be wrong, and a save would lose the rest.
            gRefusal = gAppConfigDoc.LastError();
            gAppConfigDoc.Clear();
            DbgOutputA(1, "The configuration file %s was not loaded: %s.\r\n", path.c_str(), gRefusal.c_str());
        }
    }
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    if (!appConfig) {
        appConfig = gAppConfigDoc.Document().GetOrAddChild("AppConfig");
        SaveAppConfig();
    }
    return appConfig;
}

std::string AppConfigRefusal() { return gRefusal; }

bool SaveAppConfig() {
    // A refused file stays as it is: saving over it would lose what it holds.
    if (!gRefusal.empty()) return false;
    const AppConfigBeforeRenameHook hook = gBeforeRename;
    return SaveFileSafely(
        GetAppConfigPath(), [](std::FILE* file) { return gAppConfigDoc.SaveFile(file); },
        [hook](const std::string& temporary) {
            if (hook) hook(temporary.c_str());
        });
}

namespace {

void ReadConfigTyped(XMLNode node, const char* name, void* field, int type) {
    const std::optional<std::string> text = node.GetAttributeText(name);
    if (text && !text->empty()) DigtalStringToValue(text->c_str(), text->size(), field, type);
}

}  // namespace

void ReadConfigValue(XMLNode node, const char* name, int32_t& field) {
    ReadConfigTyped(node, name, &field, DIGITAL_VALUE_INT32);
}

void ReadConfigValue(XMLNode node, const char* name, uint32_t& field) {
    ReadConfigTyped(node, name, &field, DIGITAL_VALUE_UINT32);
}

void ReadConfigValue(XMLNode node, const char* name, double& field) {
    ReadConfigTyped(node, name, &field, DIGITAL_VALUE_DOUBLE);
}

void ReadConfigFlag(XMLNode node, const char* name, int32_t& field) {
    ReadConfigTyped(node, name, &field, DIGITAL_VALUE_FLAG);
}

void ReadConfigPath(XMLNode node, const char* name, std::string& field) {
    const std::optional<std::string> text = node.GetAttributeText(name);
    if (!text || text->empty()) return;
    // No length limit: a path is as long as the system allows.
    field = GetFileAbsolutePath(*text, GetProgramPath());
}

void WriteConfigPath(XMLNode node, const char* name, const std::string& path) {
    const std::string relative = GetFileRelativePath(path, GetProgramPath());
    if (relative.empty()) {
        if (!node.GetAttributeText(name)) node.SetAttributeText(name, "");
        return;
    }
    node.SetAttributeText(name, relative);
}

std::string LanguageNameFromConfig(const std::optional<std::string>& value) {
    if (!value || value->empty()) return {};
    if (strcasecmp(value->c_str(), "ENG") == 0) return "en-US";
    if (strcasecmp(value->c_str(), "CHS") == 0) return "zh-cn";
    if (strcasecmp(value->c_str(), "CHT") == 0) return "zh-tw";
    // A longer name does not fit the 32-character buffer of the language list.
    if (Utf8CharacterCount(*value) > 31) return {};
    return *value;
}

namespace {

bool IsSimplifiedChinese(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : name) if (c == '_') c = '-';
    if (name.rfind("zh", 0) != 0) return false;
    return name.find("tw") == std::string::npos && name.find("hk") == std::string::npos &&
           name.find("hant") == std::string::npos && name.find("mo") == std::string::npos;
}

}  // namespace

std::string ApplyConfiguredLanguage(XMLNode appConfig) {
    const std::string name = LanguageNameFromConfig(appConfig.GetAttributeText("Language"));
    std::string effective = name;
    if (effective.empty()) {
        const char* env = std::getenv("LANG");
        effective = env ? env : "";
    }
    SetUiLanguage(IsSimplifiedChinese(effective) ? UiLanguage::SimplifiedChinese : UiLanguage::English);
    return name;
}
