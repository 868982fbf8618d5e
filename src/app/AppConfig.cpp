#include "app/AppConfig.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/AppConfigSaveHook.h"
#include "app/StringTable.h"
#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "common/UserPlaces.h"
#include "common/Utf8Text.h"
#include "common/ValueParse.h"

XMLParser gAppConfigDoc;

namespace {

// Why a configuration file could not be taken: a string of the table (formatted
// with detail when it has a %s) or, with no id, the detail alone (the parser's or
// the system's words). Kept as such so that it is said in the language chosen
// after the file was read.
struct ConfigProblem {
    int textId = 0;
    std::string detail;
};

std::string ProblemText(const ConfigProblem& problem) {
    if (problem.textId == 0) return problem.detail;
    return FormatStringText(problem.textId, problem.detail.c_str());
}

// UI thread only, as gAppConfigDoc.
AppConfigBeforeRenameHook gBeforeRename = nullptr;
bool gRefused = false;
ConfigProblem gRefusal;
std::string gUnwritable;
// The file as this run last read or wrote it: its tree and its bytes. A save that
// finds other bytes there carries this run's changes over to them.
XMLParser gOnDisk;
std::string gDiskText;
bool gDiskExists = false;

// Reads the configuration file as it is now. True with its bytes (exists false
// when there is none); false with the reason when the path holds something that
// must not be read or replaced: a folder, a FIFO, a device, a file that cannot be
// read, or a data folder that is not a folder.
bool ReadConfigFile(const std::string& folder, const std::string& path, std::string& text, bool& exists,
                    ConfigProblem& problem) {
    text.clear();
    exists = false;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        problem = {TEXT_DATA_FOLDER_NOT_FOLDER, folder};
        return false;
    }
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        problem = {0, std::strerror(errno)};
        return false;
    }
    exists = true;
    if (S_ISDIR(st.st_mode)) {
        problem = {TEXT_CONFIG_IS_FOLDER, {}};
        return false;
    }
    if (S_ISFIFO(st.st_mode)) {
        problem = {TEXT_CONFIG_IS_FIFO, {}};
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        problem = {TEXT_CONFIG_NOT_A_FILE, {}};
        return false;
    }
    if (st.st_size == 0) return true;  // an empty file holds nothing to lose
    uint8_t* data = nullptr;
    std::string why;
    const size_t size = ReadFileData(path, &data, &why);
    if (!data) {
        problem = {0, why};
        return false;
    }
    text.assign(reinterpret_cast<const char*>(data), size);
    ReleaseFileData(data);
    return true;
}

// Writes text to the path as a save does; false with the reason.
bool WriteConfigText(const std::string& path, const std::string& text, AppConfigBeforeRenameHook hook,
                     std::string& why) {
    return SaveFileSafely(
        path, [&text](std::FILE* file) { return std::fwrite(text.data(), 1, text.size(), file) == text.size(); },
        [hook](const std::string& temporary) {
            if (hook) hook(temporary.c_str());
        },
        &why);
}

// A save of the document's size into the data folder, made and removed again, so
// that a read-only or full folder is found at start and not at the first save.
bool TrySaveIntoFolder(const std::string& folder, std::string& why) {
    const std::string probe = CombinePathName(folder, ".appConfig.xml.probe");
    const bool saved = WriteConfigText(probe, gAppConfigDoc.SaveToString(), nullptr, why);
    unlink(probe.c_str());
    return saved;
}

}  // namespace

void SetAppConfigBeforeRenameHook(AppConfigBeforeRenameHook hook) { gBeforeRename = hook; }

std::string GetAppConfigPath() { return CombinePathName(GetConfigFolder(), "appConfig.xml"); }

XMLNode LoadAppConfig() {
    gAppConfigDoc.Clear();
    gOnDisk.Clear();
    gDiskText.clear();
    gDiskExists = false;
    gRefused = false;
    gRefusal = {};
    gUnwritable.clear();
    const std::string folder = GetConfigFolder();
    const std::string path = GetAppConfigPath();
    std::string text;
    bool exists = false;
    ConfigProblem problem;
    bool taken = ReadConfigFile(folder, path, text, exists, problem);
    if (taken && !text.empty() && !gAppConfigDoc.LoadBuffer(text.data(), text.size())) {
        problem = {0, gAppConfigDoc.LastError()};
        taken = false;
    }
    if (!taken) {
        // Refused whole, as the command-line tool refuses it: settings taken from
        // part of a damaged file could be wrong, and a save would lose the rest.
        gRefused = true;
        gRefusal = problem;
        gAppConfigDoc.Clear();
        DbgOutputA(1, "The configuration file %s was not loaded: %s.\r\n", path.c_str(), ProblemText(problem).c_str());
        return gAppConfigDoc.Document().GetOrAddChild("AppConfig");
    }
    gOnDisk.CopyFrom(gAppConfigDoc);
    gDiskText = text;
    gDiskExists = exists;

    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    std::string why;
    if (!appConfig) {
        gAppConfigDoc.Document().GetOrAddChild("AppConfig");
        if (!SaveAppConfig(&why)) gUnwritable = why;
        appConfig = gAppConfigDoc.FindElement("AppConfig");
    } else if (!TrySaveIntoFolder(folder, why)) {
        gUnwritable = why;
    }
    if (!gUnwritable.empty())
        DbgOutputA(1, "The data folder %s cannot take a save of %s: %s.\r\n", folder.c_str(), path.c_str(),
                   gUnwritable.c_str());
    return appConfig;
}

std::string AppConfigRefusal() { return gRefused ? ProblemText(gRefusal) : std::string(); }

std::string AppConfigUnwritable() { return gUnwritable; }

bool SaveAppConfig(std::string* why) {
    const auto fail = [why](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    // A refused file stays as it is: saving over it would lose what it holds.
    if (gRefused) return fail(FormatStringText(TEXT_CONFIG_NOT_LOADED_AT_START, ProblemText(gRefusal).c_str()));
    const std::string path = GetAppConfigPath();
    std::string current;
    bool exists = false;
    ConfigProblem problem;
    if (!ReadConfigFile(GetConfigFolder(), path, current, exists, problem)) return fail(ProblemText(problem));
    // Someone changed the file since this run read or wrote it (a hand edit): their
    // change stays and this run's changes go on top of it.
    if (exists && !current.empty() && (!gDiskExists || current != gDiskText)) {
        XMLParser onDisk;
        if (!onDisk.LoadBuffer(current.data(), current.size()))
            return fail(FormatStringText(TEXT_CONFIG_CHANGED_DAMAGED, onDisk.LastError().c_str()));
        MergeChanges(gOnDisk, gAppConfigDoc, onDisk);
        gAppConfigDoc.CopyFrom(onDisk);
    }
    const std::string text = gAppConfigDoc.SaveToString();
    std::string reason;
    if (!WriteConfigText(path, text, gBeforeRename, reason)) return fail(reason);
    gOnDisk.CopyFrom(gAppConfigDoc);
    gDiskText = text;
    gDiskExists = true;
    return true;
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

std::string LanguageFromEnvironment() {
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    const std::string base = locale.substr(0, locale.find_first_of(".@"));
    if (base.empty() || base == "C" || base == "POSIX") return "C";
    // LANGUAGE lists languages by preference ("zh_CN:en"); its first entry decides.
    if (const char* list = std::getenv("LANGUAGE"); list && *list) {
        std::string entries = list;
        size_t begin = 0;
        while (begin <= entries.size()) {
            const size_t end = std::min(entries.find(':', begin), entries.size());
            if (end > begin) return entries.substr(begin, end - begin);
            begin = end + 1;
        }
    }
    return locale;
}

std::string ApplyConfiguredLanguage(XMLNode appConfig) {
    const std::string name = LanguageNameFromConfig(appConfig.GetAttributeText("Language"));
    const std::string effective = name.empty() ? LanguageFromEnvironment() : name;
    SetUiLanguage(IsSimplifiedChinese(effective) ? UiLanguage::SimplifiedChinese : UiLanguage::English);
    return name;
}
