#include "app/AppConfig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "app/AppConfigSaveHook.h"
#include "app/StringTable.h"
#include "common/FileUtils.h"
#include "common/ValueParse.h"

XMLParser gAppConfigDoc;

namespace {

AppConfigBeforeRenameHook gBeforeRename = nullptr;

}  // namespace

void SetAppConfigBeforeRenameHook(AppConfigBeforeRenameHook hook) { gBeforeRename = hook; }

std::string GetAppConfigPath() { return CombinePathName(GetProgramPath(), "appConfig.xml"); }

XMLNode LoadAppConfig() {
    gAppConfigDoc.Clear();
    uint8_t* data = nullptr;
    const size_t size = ReadFileData(GetAppConfigPath(), &data);
    if (data) {
        gAppConfigDoc.LoadBuffer(data, size);  // a parse error keeps what was parsed
        ReleaseFileData(data);
    }
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    if (!appConfig) {
        appConfig = gAppConfigDoc.Document().GetOrAddChild("AppConfig");
        SaveAppConfig();
    }
    return appConfig;
}

bool SaveAppConfig() {
    const AppConfigBeforeRenameHook hook = gBeforeRename;
    return SaveFileSafely(
        GetAppConfigPath(), [](std::FILE* file) { return gAppConfigDoc.SaveFile(file); },
        [hook](const std::string& temporary) {
            if (hook) hook(temporary.c_str());
        });
}

void ReadConfigValue(XMLNode node, const char* name, int type, void* field) {
    const std::optional<std::string> text = node.GetAttributeText(name);
    if (text && !text->empty()) DigtalStringToValue(text->c_str(), text->size(), field, type);
}

void ReadConfigPath(XMLNode node, const char* name, std::string& field) {
    const std::optional<std::string> text = node.GetAttributeText(name);
    if (!text || text->empty()) return;
    std::string path = GetFileAbsolutePath(*text, GetProgramPath());
    // Paths count characters, not bytes: cut at 259 code points.
    size_t count = 0, i = 0;
    for (; i < path.size(); ++i) {
        if ((static_cast<unsigned char>(path[i]) & 0xC0) != 0x80 && ++count > 259) break;
    }
    path.resize(i);
    field = path;
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
    size_t characters = 0;
    for (unsigned char c : *value) characters += (c & 0xC0) != 0x80;
    if (characters > 31) return {};
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
