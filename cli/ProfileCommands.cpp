// params save --profile, params load's profile side and dry run, params diff
#include "ProfileCommands.h"

#include <cstdio>
#include <memory>
#include <optional>

#include <CLI/CLI.hpp>

#include "app/StringIds.h"
#include "Output.h"
#include "common/FileUtils.h"
#include "params/ParamProfile.h"

namespace {

// What a comparison found on one side: a file's profile or a sensor's record.
struct DiffSide {
    std::string file;  // empty for a sensor
    std::string port;
};

std::string SideLabel(const DiffSide& side) { return VisibleText(side.file.empty() ? side.port : side.file); }

// EXIT_OK with the side's profile, or the code after printing why not.
int ReadSide(const DiffSide& side, int baud, ParamProfile& profile) {
    if (!side.file.empty()) return LoadProfileFile(side.file, profile) ? EXIT_OK : EXIT_FAILED;
    DeviceSession session;
    if (const int rc = session.Open({side.port, baud}); rc != EXIT_OK) return rc;
    ParamSetting record;
    InitParamSetting(record);
    if (const SensorResult read = session.Sensor().ReadParameters(record); !read) {
        PrintSensorFailure(read, TEXT_READ_PARAMS_FAILED);
        return EXIT_FAILED;
    }
    profile = ProfileOfRecord(record);
    return EXIT_OK;
}

Json DifferenceJson(const ProfileDifference& d, const char* a = "a", const char* b = "b") {
    Json item = {{"field", ProfileFieldName(d.field)}};
    if (d.gate >= 0) item["gate"] = d.gate;
    item[a] = d.a ? Json(*d.a) : Json();
    item[b] = d.b ? Json(*d.b) : Json();
    item["unit"] = ProfileFieldUnit(d.field);
    return item;
}

std::vector<std::string> DifferenceLines(const std::vector<ProfileDifference>& differences, const std::string& a,
                                         const std::string& b) {
    std::vector<std::vector<std::string>> rows = {{Text(TEXT_DIFF_COLUMN_FIELD), a, b}};
    const auto shown = [](const ProfileDifference& d, const std::optional<double>& value) {
        return value ? ProfileValueText(d.field, *value) : Text(TEXT_PROFILE_NOT_SET);
    };
    for (const ProfileDifference& d : differences) rows.push_back({ProfileDifferenceName(d), shown(d, d.a), shown(d, d.b)});
    return FormatTable(rows);
}

// Compares two sides. EXIT_OK when equal, EXIT_FAILED when they differ; a side
// that cannot be read is EXIT_USAGE (as diff's "trouble"), a port that cannot be
// opened EXIT_PORT_ERROR.
int RunDiff(const DiffSide& a, const DiffSide& b, int baud, bool json) {
    ParamProfile pa;
    ParamProfile pb;
    for (const auto& [side, profile] : {std::pair{&a, &pa}, std::pair{&b, &pb}}) {
        const int rc = ReadSide(*side, baud, *profile);
        if (rc == EXIT_PORT_ERROR) return rc;
        if (rc != EXIT_OK) return EXIT_USAGE;
    }
    const std::vector<ProfileDifference> differences = CompareProfiles(pa, pb);
    const std::string la = SideLabel(a);
    const std::string lb = SideLabel(b);
    if (json) {
        Json items = Json::array();
        for (const ProfileDifference& d : differences) items.push_back(DifferenceJson(d));
        PrintLine(JsonTextShortest(
            {{"a", la}, {"b", lb}, {"equal", differences.empty()}, {"differences", std::move(items)}}));
    } else if (differences.empty()) {
        PrintLine(Text(TEXT_DIFF_SAME, la.c_str(), lb.c_str()));
    } else {
        for (const std::string& line : DifferenceLines(differences, la, lb)) PrintLine(line);
        PrintLine(Text(TEXT_DIFF_COUNT, static_cast<int>(differences.size())));
    }
    return differences.empty() ? EXIT_OK : EXIT_FAILED;
}

struct DiffOptions {
    std::vector<std::string> files;
    PortListOptions ports;
    bool json = false;
};

int RunDiffCommand(const CLI::App* command, const DiffOptions& options) {
    const size_t files = options.files.size();
    const size_t ports = options.ports.ports.size();
    // One file and any number of sensors: each sensor against the file.
    if (files == 1 && (ports > 0 || !options.ports.portsFrom.empty())) {
        ParamProfile checked;
        if (!LoadProfileFile(options.files[0], checked)) return EXIT_USAGE;
        return RunOnEveryPort(options.ports, options.json, [&](const PortOptions& port) {
            return RunDiff({options.files[0], {}}, {{}, port.port}, port.baud, options.json);
        });
    }
    if (files + ports != 2 || !options.ports.portsFrom.empty()) {
        PrintError(Text(TEXT_DIFF_SIDES, static_cast<int>(files + ports)));
        return EXIT_USAGE;
    }
    // The sides in the order they stand on the command line.
    std::vector<DiffSide> sides;
    size_t nextFile = 0;
    size_t nextPort = 0;
    const CLI::Option* portOption = command->get_option("--port");
    for (const CLI::Option* option : command->parse_order()) {
        if (option == portOption && nextPort < ports)
            sides.push_back({{}, options.ports.ports[nextPort++]});
        else if (option->get_name() == "files" && nextFile < files)
            sides.push_back({options.files[nextFile++], {}});
    }
    while (nextFile < files) sides.push_back({options.files[nextFile++], {}});
    while (nextPort < ports) sides.push_back({{}, options.ports.ports[nextPort++]});
    return RunDiff(sides[0], sides[1], options.ports.baud, options.json);
}

}  // namespace

bool LooksLikeConfigFile(const std::string& path) {
    std::string text;
    if (!ReadRegularFile(path, PROFILE_FILE_MAX, text)) return false;
    const size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    return first != std::string::npos && text[first] == '<';
}

bool LoadProfileFile(const std::string& path, ParamProfile& profile) {
    std::string text;
    std::string why;
    if (!ReadRegularFile(path, PROFILE_FILE_MAX, text, &why)) {
        PrintError(Text(TEXT_PROFILE_UNREADABLE, VisibleText(path).c_str(), why.c_str()));
        return false;
    }
    const ProfileRead read = ReadProfileText(text);
    if (read.Refused()) {
        PrintError(Text(TEXT_PARAM_FILE_REFUSED, VisibleText(path).c_str(),
                        CleanText(ProfileProblemText(read, VisibleText)).c_str()));
        return false;
    }
    profile = read.profile;
    return true;
}

int RunProfileSave(const PortOptions& port, const std::string& path, const std::string& notes) {
    DeviceSession session;
    if (const int rc = session.Open(port); rc != EXIT_OK) return rc;
    SensorSession& sensor = session.Sensor();
    if (const SensorResult identity = sensor.ReadIdentity(); !identity) {
        PrintError(Text(TEXT_INFO_FAILED));
        if (!identity.commandModeEntered) PrintError(Text(TEXT_SENSOR_SILENT));
        return EXIT_FAILED;
    }
    ParamSetting record;
    InitParamSetting(record);
    if (const SensorResult read = sensor.ReadParameters(record); !read) {
        PrintSensorFailure(read, TEXT_READ_PARAMS_FAILED);
        return EXIT_FAILED;
    }
    ParamProfile profile = ProfileOfRecord(record, sensor.Version(), sensor.SerialNumber());
    profile.notes = notes;
    const std::string text = ProfileText(profile);
    std::string why;
    const bool saved = SaveFileSafely(
        path, [&text](std::FILE* file) { return std::fwrite(text.data(), 1, text.size(), file) == text.size(); }, {},
        &why);
    if (!saved) {
        PrintError(Text(TEXT_PROFILE_UNWRITABLE, VisibleText(path).c_str(), why.c_str()));
        return EXIT_FAILED;
    }
    PrintLine(Text(TEXT_PROFILE_SAVED, VisibleText(path).c_str()));
    return EXIT_OK;
}

void PrintDryRun(const ParamSetting& current, const ParamSetting& record, const std::vector<ParamNotice>& notices,
                 bool json) {
    const std::vector<ProfileDifference> changes = CompareProfiles(ProfileOfRecord(current), ProfileOfRecord(record));
    if (json) {
        Json items = Json::array();
        for (const ProfileDifference& d : changes) items.push_back(DifferenceJson(d, "sensor", "after_load"));
        Json noticeItems = Json::array();
        for (const ParamNotice& notice : notices) noticeItems.push_back(ParamNoticeJson(notice));
        PrintLine(JsonTextShortest({{"dry_run", true},
                                    {"changes", std::move(items)},
                                    {"notices", std::move(noticeItems)},
                                    {"record", ParamRecordJson(record)}}));
        return;
    }
    if (changes.empty()) {
        PrintLine(Text(TEXT_DRY_RUN_NO_CHANGE));
        return;
    }
    PrintLine(Text(TEXT_DRY_RUN_CHANGES, static_cast<int>(changes.size())));
    for (const std::string& line : DifferenceLines(changes, Text(TEXT_COLUMN_SENSOR_NOW), Text(TEXT_COLUMN_AFTER_LOAD)))
        PrintLine(line);
}

void AddParamsDiffCommand(CLI::App* params, CommandList& commands) {
    CLI::App* diff = params->add_subcommand(
        "diff", "Compare two parameter sets (profile files or --port sensors); exit 1 when they differ");
    auto options = std::make_shared<DiffOptions>();
    diff->add_option("files", options->files, "Profile files (at most two)")->expected(0, 2);
    AddPortListOptions(diff, options->ports);
    diff->add_flag("--json", options->json, "Print JSON");
    commands.push_back({diff, [options, diff] { return RunDiffCommand(diff, *options); }});
}
