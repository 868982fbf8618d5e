// The parameter page's profiles: Save Profile, Load Profile, Compare with Profile.
#include <cstdio>

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>

#include "app/AppConfig.h"
#include "app/StringIds.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "common/FileUtils.h"
#include "controls/widgets/MessageBox.h"
#include "params/ParamProfile.h"
#include "params/widgets/ParameterPage.h"

namespace {

// A size no profile comes near; a larger file is not one.
constexpr size_t PAGE_PROFILE_FILE_MAX = 1 << 20;

ParameterPage::ProfileFileHook& ProfileFileHookSlot()
{
    static ParameterPage::ProfileFileHook hook;
    return hook;
}

// The folder of the last profile saved, loaded or compared, offered again; kept
// in the configuration's LastProfileFolder.
constexpr const char* PROFILE_FOLDER_SETTING = "LastProfileFolder";

QString LastProfileFolder()
{
    std::string folder;
    ReadConfigPath(gAppConfigDoc.FindElement("AppConfig"), PROFILE_FOLDER_SETTING, folder);
    return QString::fromStdString(folder);
}

void RememberProfileFolder(const QString& folder)
{
    XMLNode root = gAppConfigDoc.FindElement("AppConfig");
    if (!root || folder == LastProfileFolder())
        return;
    WriteConfigPath(root, PROFILE_FOLDER_SETTING, folder.toStdString());
    // A folder that cannot take the save only loses this convenience; the
    // configuration's own saves say why.
    (void)SaveAppConfig();
}

QString PageText(int id)
{
    return QString::fromStdString(DisplayText(LoadStringText(id)));
}

// "DetectRangeMax: 8.40 m, the profile 7.70 m" lines of a box.
std::string ProfileDifferenceLines(const std::vector<ProfileDifference>& differences)
{
    std::string text;
    for (const ProfileDifference& d : differences) {
        text += "\r\n" + ProfileDifferenceName(d) + ": " + (d.a ? ProfileValueText(d.field, *d.a) : std::string("-")) +
                " -> " + (d.b ? ProfileValueText(d.field, *d.b) : std::string("-"));
    }
    return text;
}

// Reads and checks a profile file; on refusal, the sentence why.
bool ReadProfileFile(const QString& path, ParamProfile& profile, std::string& why)
{
    std::string text;
    if (!ReadRegularFile(path.toStdString(), PAGE_PROFILE_FILE_MAX, text, &why))
        return false;
    const ProfileRead read = ReadProfileText(text);
    if (read.Refused()) {
        why = ProfileProblemText(read);
        return false;
    }
    profile = read.profile;
    return true;
}

}  // namespace

ParameterPage::ProfileFileHook ParameterPage::SetProfileFileHook(ProfileFileHook hook)
{
    ProfileFileHook previous = std::move(ProfileFileHookSlot());
    ProfileFileHookSlot() = std::move(hook);
    return previous;
}

void ParameterPage::BuildProfileButton(QRect geometry)
{
    auto* button = new QPushButton(PageText(TEXT_PROFILE_MENU_BUTTON), this);
    button->setObjectName(QStringLiteral("2006"));
    button->setGeometry(geometry);
    auto* menu = new QMenu(button);
    const struct {
        int textId;
        const char* name;
        void (ParameterPage::*handler)();
    } actions[] = {
        {TEXT_PROFILE_SAVE_BUTTON, "action:SaveProfile", &ParameterPage::OnSaveProfile},
        {TEXT_PROFILE_LOAD_BUTTON, "action:LoadProfile", &ParameterPage::OnLoadProfile},
        {TEXT_PROFILE_COMPARE_BUTTON, "action:CompareProfile", &ParameterPage::OnCompareProfile},
    };
    for (const auto& spec : actions) {
        QAction* action = menu->addAction(PageText(spec.textId));
        action->setObjectName(QString::fromLatin1(spec.name));
        connect(action, &QAction::triggered, this, spec.handler);
    }
    button->setMenu(menu);
}

QString ParameterPage::ChooseProfileFile(int titleId, bool save)
{
    const QString title = PageText(titleId);
    QString path;
    if (ProfileFileHookSlot()) {
        path = ProfileFileHookSlot()(title, save);
    } else {
        const QString folder = LastProfileFolder().isEmpty() ? QDir::homePath() : LastProfileFolder();
        const QString filter = PageText(TEXT_PROFILE_FILTER);
        path = save ? QFileDialog::getSaveFileName(this, title, folder, filter)
                    : QFileDialog::getOpenFileName(this, title, folder, filter);
        // A name typed without an extension gets the profile's, as the filter suggests.
        if (save && !path.isEmpty() && QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".json");
    }
    if (!path.isEmpty())
        RememberProfileFolder(QFileInfo(path).absolutePath());
    return path;
}

void ParameterPage::OnSaveProfile()
{
    const QString path = ChooseProfileFile(TEXT_PROFILE_SAVE_TITLE, true);
    if (path.isEmpty())
        return;
    // What the page shows, marked values included: a profile is a parameter set
    // being prepared as often as one read from a sensor.
    const std::string text = ProfileText(ProfileOfRecord(ControlsRecord()));
    std::string why;
    const std::string file = path.toStdString();
    const bool saved = SaveFileSafely(
        file, [&text](std::FILE* out) { return std::fwrite(text.data(), 1, text.size(), out) == text.size(); }, {},
        &why);
    if (saved) {
        if (notify_)
            notify_(FormatStringText(TEXT_PROFILE_SAVED, file.c_str()));
        return;
    }
    const std::string message = FormatStringText(TEXT_PROFILE_UNWRITABLE, file.c_str(), why.c_str());
    if (notify_)
        notify_(message);
    ShowMessageBox(this, DisplayText(message), LoadStringText(TEXT_ERROR), MessageIcon::Error);
}

bool ParameterPage::ChooseAndReadProfile(int titleId, std::string& file, ParamProfile& profile)
{
    const QString path = ChooseProfileFile(titleId, false);
    if (path.isEmpty())
        return false;
    file = path.toStdString();
    std::string why;
    if (!ReadProfileFile(path, profile, why)) {
        ShowMessageBox(this, DisplayText(FormatStringText(TEXT_PROFILE_REFUSED_PAGE, file.c_str(), why.c_str())),
                       LoadStringText(TEXT_ERROR), MessageIcon::Error);
        return false;
    }
    return true;
}

void ParameterPage::OnLoadProfile()
{
    std::string file;
    ParamProfile profile;
    if (!ChooseAndReadProfile(TEXT_PROFILE_LOAD_TITLE, file, profile))
        return;
    // Over what the page shows, under the rules of typed values; nothing goes to
    // the sensor: the changed controls are marked as unwritten until Write.
    const ParamSetting before = ControlsRecord();
    const ProfileApplication applied = ApplyProfile(profile, before);
    *setting_ = applied.record;
    UpdateControls();
    RefreshMarks();
    const ParamSetting after = ControlsRecord();
    const auto changed = static_cast<int>(CompareProfiles(ProfileOfRecord(before), ProfileOfRecord(after)).size());

    const std::string headline = changed == 0 ? FormatStringText(TEXT_PROFILE_LOADED_NOTHING, file.c_str())
                                              : FormatStringText(TEXT_PROFILE_LOADED, file.c_str(), changed);
    std::string text = headline;
    if (!applied.notices.empty()) {
        text += "\r\n\r\n" + LoadStringText(TEXT_PROFILE_CORRECTIONS);
        for (const ParamNotice& notice : applied.notices) {
            std::string field = notice.field;
            if (notice.gate >= 0)
                field += "[" + std::to_string(notice.gate) + "]";
            text += "\r\n" + field + ": " + notice.text;
        }
    }
    if (!profile.notes.empty())
        text += "\r\n\r\n" + FormatStringText(TEXT_PROFILE_NOTES, profile.notes.c_str());
    if (notify_)
        notify_(headline);
    ShowMessageBox(this, DisplayText(text), LoadStringText(TEXT_PROFILE_LOAD_TITLE),
                   applied.notices.empty() ? MessageIcon::Information : MessageIcon::Warning);
}

void ParameterPage::OnCompareProfile()
{
    std::string file;
    ParamProfile profile;
    if (!ChooseAndReadProfile(TEXT_PROFILE_COMPARE_TITLE, file, profile))
        return;
    // The page against the profile's keys only, as a sensor is compared with it.
    const std::vector<ProfileDifference> differences = CompareProfiles(ProfileOfRecord(ControlsRecord()), profile);
    for (MarkedControl& mark : marks_) {
        mark.compared = false;
        mark.comparedTip.clear();
    }
    for (const ProfileDifference& d : differences) {
        MarkedControl* mark = MarkOf(ControlOf(ProfileFieldName(d.field), d.gate));
        if (!mark || !d.b)
            continue;
        mark->compared = true;
        mark->comparedValue = mark->value();
        mark->comparedTip = QString::fromStdString(
            DisplayText(FormatStringText(TEXT_PROFILE_DIFFERS_TIP, ProfileValueText(d.field, *d.b).c_str())));
    }
    for (MarkedControl& mark : marks_)
        StyleMark(mark);

    const std::string text =
        differences.empty()
            ? FormatStringText(TEXT_PROFILE_SAME, file.c_str())
            : FormatStringText(TEXT_PROFILE_DIFFERS, static_cast<int>(differences.size()), file.c_str()) +
                  ProfileDifferenceLines(differences);
    ShowMessageBox(this, DisplayText(text), LoadStringText(TEXT_PROFILE_COMPARE_TITLE), MessageIcon::Information);
}
