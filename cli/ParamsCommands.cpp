// params read | write | check | reset | save | load (diff: ProfileCommands.cpp)
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include <CLI/CLI.hpp>

#include "app/StringIds.h"
#include "Commands.h"
#include "Output.h"
#include "PortList.h"
#include "ProfileCommands.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "common/FileUtils.h"
#include "common/ValueParse.h"
#include "params/ParamEditSession.h"
#include "params/ParamFileSection.h"
#include "params/ParamProfile.h"
#include "params/ParamReadBack.h"
#include "params/ParamRules.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"

namespace {

// ---------------------------------------------------------------- output

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// ---------------------------------------------------------------- edits from the command line

enum class EditKind { Min, Max, StateFreq, RangeFreq, Response, Absence, Trigger, Hold };

struct EditStep {
    EditKind kind;
    std::string text;
    double value = 0.0;
    std::vector<double> gates;
};

struct EditOptions {
    std::map<CLI::Option*, EditKind> kinds;
    std::string configPath;
    std::string profilePath;  // params load FILE when FILE is a profile
    bool json = false;
    bool verify = false;
    bool dryRun = false;
};

void AddEditOptions(CLI::App* command, EditOptions& options) {
    const auto add = [&](const char* name, EditKind kind, const char* type, const char* help) {
        CLI::Option* option = command->add_option(name);
        option->description(help);
        option->type_name(type)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->expected(1);
        options.kinds[option] = kind;
    };
    add("--min", EditKind::Min, "METRES", "Detection range start, m");
    add("--max", EditKind::Max, "METRES", "Detection range end, m");
    add("--state-freq", EditKind::StateFreq, "HZ", "State report frequency, Hz");
    add("--range-freq", EditKind::RangeFreq, "HZ", "Range report frequency, Hz");
    add("--response", EditKind::Response, "normal|fast", "Response speed");
    add("--absence", EditKind::Absence, "SECONDS", "Absence report delay, 10-255 s");
    add("--trigger", EditKind::Trigger, "LIST", "16 comma-separated trigger thresholds, 10-95 dB");
    add("--hold", EditKind::Hold, "LIST", "16 comma-separated hold thresholds, 10-95 dB");
}

std::string OptionName(EditKind kind) {
    switch (kind) {
    case EditKind::Min: return "--min";
    case EditKind::Max: return "--max";
    case EditKind::StateFreq: return "--state-freq";
    case EditKind::RangeFreq: return "--range-freq";
    case EditKind::Response: return "--response";
    case EditKind::Absence: return "--absence";
    case EditKind::Trigger: return "--trigger";
    case EditKind::Hold: return "--hold";
    }
    return {};
}

// The options in the order they stand on the command line, each checked. False
// after printing the first bad value.
bool CollectEditSteps(const CLI::App* command, const EditOptions& options, std::vector<EditStep>& steps) {
    std::map<const CLI::Option*, size_t> used;
    for (const CLI::Option* option : command->parse_order()) {
        const auto found = options.kinds.find(const_cast<CLI::Option*>(option));
        if (found == options.kinds.end()) continue;
        const size_t index = used[option]++;
        if (index >= option->results().size()) continue;
        EditStep step{found->second, option->results()[index], 0.0, {}};
        const std::string name = OptionName(step.kind);
        switch (step.kind) {
        case EditKind::Min:
        case EditKind::Max:
        case EditKind::StateFreq:
        case EditKind::RangeFreq:
            if (!ParseDecimalText(step.text, step.value)) {
                PrintError(Text(TEXT_NOT_A_NUMBER, name.c_str(), step.text.c_str()));
                return false;
            }
            break;
        case EditKind::Response: {
            std::string lower;
            for (char c : step.text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
            if (lower != "normal" && lower != "fast") {
                PrintError("--response: " + step.text + " (normal|fast)");
                return false;
            }
            step.value = lower == "fast" ? 1.0 : 0.0;
            break;
        }
        case EditKind::Absence:
            if (!ParseWholeNumberText(step.text, step.value)) {
                PrintError(Text(TEXT_NOT_A_WHOLE_NUMBER, name.c_str(), step.text.c_str()));
                return false;
            }
            break;
        case EditKind::Trigger:
        case EditKind::Hold: {
            std::vector<std::string> items;
            std::string item;
            for (char c : step.text + ",") {
                if (c == ',') {
                    items.push_back(item);
                    item.clear();
                } else if (c != ' ') {
                    item.push_back(c);
                }
            }
            bool ok = items.size() == PARAM_GATE_COUNT;
            for (const std::string& text : items) {
                double value = 0.0;
                if (!ok || !ParseWholeNumberText(text, value)) {
                    ok = false;
                    break;
                }
                step.gates.push_back(value);
            }
            if (!ok) {
                PrintError(Text(TEXT_BAD_LIST, name.c_str(), PARAM_GATE_COUNT, step.text.c_str()));
                return false;
            }
            break;
        }
        }
        steps.push_back(std::move(step));
    }
    return true;
}

void ApplyEditSteps(ParamEditSession& session, const std::vector<EditStep>& steps) {
    for (const EditStep& step : steps) {
        switch (step.kind) {
        case EditKind::Min: session.CommitRangeMin(step.text, step.value); break;
        case EditKind::Max: session.CommitRangeMax(step.text, step.value); break;
        case EditKind::StateFreq: session.SelectStateReportFreq(step.value); break;
        case EditKind::RangeFreq: session.SelectRangeReportFreq(step.value); break;
        case EditKind::Response: session.SelectResponse(step.value != 0.0); break;
        case EditKind::Absence: session.CommitAbsence(step.value); break;
        case EditKind::Trigger:
            for (int g = 0; g < PARAM_GATE_COUNT; ++g) session.CommitTriggerThreshold(g, step.gates[g]);
            break;
        case EditKind::Hold:
            for (int g = 0; g < PARAM_GATE_COUNT; ++g) session.CommitHoldThreshold(g, step.gates[g]);
            break;
        }
    }
}

std::string CheckResultJson(const ParamSetting& record, const std::vector<ParamNotice>& notices,
                            const std::vector<StoredDifference>* stored = nullptr) {
    Json items = Json::array();
    for (const ParamNotice& notice : notices) items.push_back(ParamNoticeJson(notice));
    Json result = {{"record", ParamRecordJson(record)}, {"notices", items}};
    if (stored) {
        Json differences = Json::array();
        for (const StoredDifference& d : *stored) {
            Json item = {{"field", d.field}};
            if (d.gate >= 0) item["gate"] = d.gate;
            item["written"] = d.written;
            item["stored"] = d.stored;
            item["text"] = CleanText(d.text);
            differences.push_back(std::move(item));
        }
        result["stored"] = std::move(differences);
    }
    return JsonTextShortest(result);
}

std::string StoredDifferenceName(const StoredDifference& d) {
    return d.gate < 0 ? d.field : d.field + "[" + std::to_string(d.gate) + "]";
}

// ---------------------------------------------------------------- configuration files

// The ParamSetting section of the file over the defaults, under the rules of typed
// values, with the corrections made. False after printing why not: a value that does
// not read refuses the whole file.
bool LoadRecordFromConfig(const std::string& path, ParamSetting& record, std::vector<ParamNotice>& notices) {
    XMLParser doc;
    if (!LoadConfigFile(path, doc)) return false;
    const XMLNode section = doc.FindElement("AppConfig").FindChild("ParamSetting");
    if (!section) {
        PrintError(Text(TEXT_CONFIG_NO_SECTION, path.c_str()));
        return false;
    }
    ParamSetting defaults;
    InitParamSetting(defaults);
    const ParamFileSection read = ReadParamFileSection(section, defaults);
    if (read.Refused()) {
        PrintError(Text(TEXT_PARAM_FILE_REFUSED, VisibleText(path).c_str(),
                        CleanText(ParamFileProblemText(read, VisibleText)).c_str()));
        return false;
    }
    record = read.record;
    notices = read.notices;
    return true;
}

// The file's corrections first, then those of the options that came after it.
std::vector<ParamNotice> AllNotices(const std::vector<ParamNotice>& fromFile, const std::vector<ParamNotice>& edits) {
    std::vector<ParamNotice> all = fromFile;
    all.insert(all.end(), edits.begin(), edits.end());
    return all;
}

// A failed write never leaves the user's file truncated, and the file keeps its mode.
bool SaveConfigFile(const std::string& path, const XMLParser& doc, std::string& why) {
    return SaveFileSafely(path, [&doc](std::FILE* file) { return doc.SaveFile(file); }, {}, &why);
}

// ---------------------------------------------------------------- device sequences

// Reads all parameters in one command-mode bracket. EXIT_OK or EXIT_FAILED (printed).
int ReadRecord(SensorSession& sensor, ParamSetting& record) {
    if (const SensorResult read = sensor.ReadParameters(record); !read) {
        PrintSensorFailure(read, TEXT_READ_PARAMS_FAILED);
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

// Compares what was sent with what reads back, as the sensor holds it (a read
// distance, gate x resolution, gives its gate back). True when equal.
bool VerifyRecord(const ParamSetting& written, const ParamSetting& read) {
    static const char* const NAMES[6] = {"DetectRangeMin",  "DetectRangeMax",  "ResponseFreq",
                                          "StateReportFreq", "RangeReportFreq", "ObjectDisappearReportTime"};
    uint32_t sent[DETECT_SETTING_COUNT];
    uint32_t held[DETECT_SETTING_COUNT];
    DetectSettingToValues(written, sent);
    DetectSettingToValues(read, held);
    bool same = true;
    for (int i = 0; i < 6; ++i) {
        if (sent[i] == held[i]) continue;
        same = false;
        std::string a;
        std::string b;
        if (i < 2) {
            a = FormatDistance(sent[i] * written.RangeResolution);
            b = FormatDistance(held[i] * read.RangeResolution);
        } else if (i < 5) {
            a = Fixed(sent[i] / 10.0, 1);
            b = Fixed(held[i] / 10.0, 1);
        } else {
            a = std::to_string(sent[i]);
            b = std::to_string(held[i]);
        }
        PrintError(Text(TEXT_VERIFY_MISMATCH, NAMES[i], a.c_str(), b.c_str()));
    }
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        const std::pair<const char*, std::pair<uint32_t, uint32_t>> tables[2] = {
            {"GateTriggerThreshold", {written.GateTriggerThreshold[g], read.GateTriggerThreshold[g]}},
            {"GateHoldThreshold", {written.GateHoldThreshold[g], read.GateHoldThreshold[g]}}};
        for (const auto& [name, values] : tables) {
            if (values.first == values.second) continue;
            same = false;
            const std::string field = std::string(name) + "[" + std::to_string(g) + "]";
            PrintError(Text(TEXT_VERIFY_MISMATCH, field.c_str(), std::to_string(values.first).c_str(),
                            std::to_string(values.second).c_str()));
        }
    }
    return same;
}

// What params write and params load do on every sensor, checked once before any
// port is opened: the edits, and the file's section when there is a file.
struct WritePlan {
    std::vector<EditStep> steps;
    ParamSetting fromConfig;
    std::vector<ParamNotice> configNotices;
    std::optional<ParamProfile> profile;  // applied over each sensor's own record
};

// EXIT_OK, or the code after printing why the command line or the file is wrong.
int PlanWrite(const CLI::App* command, const EditOptions& options, WritePlan& plan) {
    if (!CollectEditSteps(command, options, plan.steps)) return EXIT_USAGE;
    InitParamSetting(plan.fromConfig);
    if (!options.configPath.empty() &&
        !LoadRecordFromConfig(options.configPath, plan.fromConfig, plan.configNotices)) {
        PrintError(Text(TEXT_PARAM_FILE_NOTHING_WRITTEN));
        return EXIT_FAILED;
    }
    if (!options.profilePath.empty()) {
        plan.profile.emplace();
        if (!LoadProfileFile(options.profilePath, *plan.profile)) {
            PrintError(Text(TEXT_PARAM_FILE_NOTHING_WRITTEN));
            return EXIT_FAILED;
        }
    }
    return EXIT_OK;
}

// Starting record (the sensor's, or the file's section), the edits, the write and
// the optional read-back on one sensor.
int WriteToSensor(const PortOptions& port, const WritePlan& plan, const EditOptions& options) {
    const std::vector<EditStep>& steps = plan.steps;
    ParamSetting start = plan.fromConfig;

    DeviceSession session;
    if (const int rc = session.Open(port); rc != EXIT_OK) return rc;
    SensorSession& sensor = session.Sensor();
    // What the sensor holds: the start of a write without a file, and what a dry run compares with.
    ParamSetting current = start;
    if (options.configPath.empty() || options.dryRun) {
        if (const int rc = ReadRecord(sensor, current); rc != EXIT_OK) return rc;
        if (options.configPath.empty()) start = current;
    }

    ParamSetting record;
    std::vector<ParamNotice> notices;
    if (plan.profile) {
        // Only the profile's keys change; the rest stays as this sensor holds it.
        ProfileApplication applied = ApplyProfile(*plan.profile, start);
        record = applied.record;
        notices = std::move(applied.notices);
    } else {
        ParamEditSession edits(start);
        ApplyEditSteps(edits, steps);
        record = edits.Result();
        notices = AllNotices(plan.configNotices, edits.Notices());
    }
    for (const ParamNotice& notice : notices) PrintError(ParamNoticeLine(notice));
    if (options.dryRun) {
        PrintDryRun(current, record, notices, options.json);
        return EXIT_OK;
    }

    if (const SensorResult written = sensor.WriteParameters(record); !written) {
        PrintSensorFailure(written, TEXT_WRITE_PARAMS_FAILED);
        return EXIT_FAILED;
    }
    // What the sensor stores where it differs from what was asked for: a range
    // between two gates is kept as the gate below.
    std::vector<StoredDifference> stored;
    if (options.verify) {
        // The write is done whatever the read-back gives: a failed read-back must not
        // read as a failed write.
        ParamSetting readBack = record;
        if (const SensorResult read = sensor.ReadParameters(readBack); !read) {
            PrintError(Text(TEXT_WRITTEN_NOT_VERIFIED, CleanText(SensorResultText(read)).c_str()));
            if (!read.commandModeEntered) PrintError(Text(TEXT_SENSOR_SILENT));
            return EXIT_FAILED;
        }
        if (!VerifyRecord(record, readBack)) return EXIT_FAILED;
        stored = CompareStored(record, readBack);
        for (const StoredDifference& d : stored)
            PrintError(Text(TEXT_NOTICE, StoredDifferenceName(d).c_str(), CleanText(d.text).c_str()));
        PrintError(Text(TEXT_VERIFIED));
    }
    if (options.json) {
        PrintLine(CheckResultJson(record, notices, options.verify ? &stored : nullptr));
    } else {
        PrintLine(Text(TEXT_WRITE_PARAMS_SUCCEEDED));
    }
    return EXIT_OK;
}

int RunWrite(const PortListOptions& ports, const CLI::App* command, const EditOptions& options) {
    WritePlan plan;
    if (const int rc = PlanWrite(command, options, plan); rc != EXIT_OK) return rc;
    return RunOnEveryPort(ports, options.json,
                          [&](const PortOptions& port) { return WriteToSensor(port, plan, options); });
}

int RunRead(const PortOptions& port, bool json) {
    DeviceSession session;
    if (const int rc = session.Open(port); rc != EXIT_OK) return rc;
    ParamSetting record;
    InitParamSetting(record);
    if (const int rc = ReadRecord(session.Sensor(), record); rc != EXIT_OK) return rc;
    if (json) {
        // The format's name and version make the output a profile that params load takes.
        Json profile = {{"format", PROFILE_FORMAT}, {"version", PROFILE_VERSION}};
        profile.update(ParamRecordJson(record));
        PrintLine(JsonTextShortest(profile));
    } else {
        for (const std::string& line : ParamRecordLines(record)) PrintLine(line);
    }
    return EXIT_OK;
}

int RunCheck(const CLI::App* command, const EditOptions& options) {
    std::vector<EditStep> steps;
    if (!CollectEditSteps(command, options, steps)) return EXIT_USAGE;
    ParamSetting start;
    InitParamSetting(start);
    std::vector<ParamNotice> fromFile;
    if (!options.configPath.empty() && !LoadRecordFromConfig(options.configPath, start, fromFile)) return EXIT_FAILED;
    ParamEditSession edits(start);
    ApplyEditSteps(edits, steps);
    const ParamSetting record = edits.Result();
    const std::vector<ParamNotice> notices = AllNotices(fromFile, edits.Notices());
    if (options.json) {
        PrintLine(CheckResultJson(record, notices));
        return EXIT_OK;
    }
    for (const std::string& line : ParamRecordLines(record)) PrintLine(line);
    // Corrections go to standard error, as every command's do.
    for (const ParamNotice& notice : notices) PrintError(ParamNoticeLine(notice));
    return EXIT_OK;
}

// The page's Reset: the defaults, the private configuration and the factory tables.
// With json, what the sensor holds afterwards is read back and printed as the record.
int RunReset(const PortOptions& port, bool json) {
    DeviceSession session;
    if (const int rc = session.Open(port); rc != EXIT_OK) return rc;
    ParamSetting defaults;
    InitParamSetting(defaults);
    ParamSetting stored = defaults;
    SensorResult readBack;
    if (const SensorResult reset = session.Sensor().FactoryReset(defaults, json ? &stored : nullptr, &readBack);
        !reset) {
        PrintSensorFailure(reset, TEXT_WRITE_PARAMS_FAILED);
        return EXIT_FAILED;
    }
    if (!json) {
        PrintLine(Text(TEXT_RESET_SUCCEEDED));
        return EXIT_OK;
    }
    Json result = {{"reset", true}, {"record", nullptr}};
    if (readBack)
        result["record"] = ParamRecordJson(stored);
    else
        PrintError(Text(TEXT_RESET_NOT_READ_BACK, CleanText(SensorResultText(readBack)).c_str()));
    PrintLine(JsonTextShortest(result));
    return EXIT_OK;
}

// The sensor's record into the file's ParamSetting section; the rest of the file stays.
int RunSave(const PortOptions& port, const std::string& path, bool json) {
    XMLParser doc;
    const bool exists = ::access(path.c_str(), F_OK) == 0;
    if (exists && !LoadConfigFile(path, doc)) return EXIT_FAILED;
    DeviceSession session;
    if (const int rc = session.Open(port); rc != EXIT_OK) return rc;
    ParamSetting record;
    InitParamSetting(record);
    if (const int rc = ReadRecord(session.Sensor(), record); rc != EXIT_OK) return rc;
    XMLNode root = doc.FindElement("AppConfig");
    if (!root) root = doc.Document().GetOrAddChild("AppConfig");
    SaveParamSetting(root.GetOrAddChild("ParamSetting"), record);
    if (std::string why; !SaveConfigFile(path, doc, why)) {
        PrintError(Text(TEXT_CONFIG_UNWRITABLE_WHY, path.c_str(), why.c_str()));
        return EXIT_FAILED;
    }
    if (json)
        PrintLine(JsonTextShortest({{"config", path}, {"record", ParamRecordJson(record)}}));
    else
        PrintLine(Text(TEXT_CONFIG_SAVED, path.c_str()));
    return EXIT_OK;
}

}  // namespace

// ---------------------------------------------------------------- shared output

Json ParamRecordJson(const ParamSetting& s) {
    return {{"RangeResolution", s.RangeResolution},
            {"DetectRangeMin", s.DetectRangeMin},
            {"DetectRangeMax", s.DetectRangeMax},
            {"ResponseFreq", s.ResponseFreq},
            {"StateReportFreq", s.StateReportFreq},
            {"RangeReportFreq", s.RangeReportFreq},
            {"ObjectDisappearReportTime", s.ObjectDisappearReportTime},
            {"GateTriggerThreshold", s.GateTriggerThreshold},
            {"GateHoldThreshold", s.GateHoldThreshold}};
}

std::vector<std::string> GateTableLines(const ParamSetting& s) {
    std::vector<std::vector<std::string>> rows(3);
    rows[0].push_back(Text(TEXT_COLUMN_GATE));
    rows[1].push_back("GateTriggerThreshold");
    rows[2].push_back("GateHoldThreshold");
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        char label[8];
        std::snprintf(label, sizeof label, "%02d", g);
        rows[0].push_back(label);
        rows[1].push_back(std::to_string(s.GateTriggerThreshold[g]));
        rows[2].push_back(std::to_string(s.GateHoldThreshold[g]));
    }
    return FormatTable(rows);
}

std::vector<std::string> ParamRecordLines(const ParamSetting& s) {
    // Captions of the page's radio buttons: "Normal" / "Fast".
    const std::string speed = LoadCaption(2000, IsFastResponse(s.ResponseFreq) ? "2015" : "2014");
    std::vector<std::vector<std::string>> rows = {
        {"RangeResolution", Fixed(s.RangeResolution, 2) + " m"},
        {"DetectRangeMin", Fixed(s.DetectRangeMin, 2) + " m"},
        {"DetectRangeMax", Fixed(s.DetectRangeMax, 2) + " m"},
        {"ResponseFreq", Fixed(s.ResponseFreq, 1) + " Hz (" + speed + ")"},
        {"StateReportFreq", Fixed(s.StateReportFreq, 1) + " Hz"},
        {"RangeReportFreq", Fixed(s.RangeReportFreq, 1) + " Hz"},
        {"ObjectDisappearReportTime", std::to_string(s.ObjectDisappearReportTime) + " s"},
    };
    std::vector<std::string> lines = FormatTable(rows);
    lines.push_back("");
    for (std::string& line : GateTableLines(s)) lines.push_back(std::move(line));
    return lines;
}

Json ParamNoticeJson(const ParamNotice& notice) {
    Json object = {{"field", notice.field}};
    if (notice.gate >= 0) object["gate"] = notice.gate;
    object["key"] = notice.key;
    object["text"] = notice.text;
    return object;
}

std::string ParamNoticeLine(const ParamNotice& notice) {
    std::string field = notice.field;
    if (notice.gate >= 0) field += "[" + std::to_string(notice.gate) + "]";
    if (notice.key != 0) return Text(TEXT_NOTICE_WITH_KEY, field.c_str(), notice.text.c_str(), notice.key);
    return Text(TEXT_NOTICE, field.c_str(), notice.text.c_str());
}

bool LoadConfigFile(const std::string& path, XMLParser& doc) {
    uint8_t* data = nullptr;
    std::string why;
    const size_t length = ReadFileData(path, &data, &why);
    // pugixml keeps what it could parse of a damaged file; this tool refuses it
    // rather than act on half a configuration.
    const bool ok = length > 0 && doc.LoadBuffer(data, length);
    ReleaseFileData(data);
    if (!ok) {
        if (length > 0) why = doc.LastError();
        PrintError(Text(TEXT_CONFIG_UNREADABLE_WHY, path.c_str(), why.c_str()));
    }
    return ok;
}

// ---------------------------------------------------------------- commands

void AddParamsCommands(CLI::App& app, CommandList& commands) {
    CLI::App* params = app.add_subcommand("params", "Read, write, check, reset, save, load and compare the parameters");
    params->require_subcommand(1);

    {
        CLI::App* read = params->add_subcommand("read", "Read all parameters from the sensor");
        auto port = std::make_shared<PortOptions>();
        auto json = std::make_shared<bool>(false);
        AddPortOptions(read, *port);
        read->add_flag("--json", *json, "Print JSON");
        commands.push_back({read, [port, json] { return RunRead(*port, *json); }});
    }
    {
        CLI::App* write = params->add_subcommand("write", "Correct and write parameters to the sensor");
        auto port = std::make_shared<PortListOptions>();
        auto options = std::make_shared<EditOptions>();
        AddPortListOptions(write, *port);
        write->add_option("--config", options->configPath, "Start from the ParamSetting section of this appConfig.xml")
            ->check(CLI::ExistingFile);
        AddEditOptions(write, *options);
        write->add_flag("--verify", options->verify, "Read the parameters back and fail when they differ");
        write->add_flag("--json", options->json, "Print the written record and the notices as JSON");
        commands.push_back({write, [port, options, write] { return RunWrite(*port, write, *options); }});
    }
    {
        CLI::App* check = params->add_subcommand("check", "Apply the corrections without a sensor");
        auto options = std::make_shared<EditOptions>();
        check->add_option("--config", options->configPath, "Start from the ParamSetting section of this appConfig.xml")
            ->check(CLI::ExistingFile);
        AddEditOptions(check, *options);
        check->add_flag("--json", options->json, "Print JSON");
        commands.push_back({check, [options, check] { return RunCheck(check, *options); }});
    }
    AddParamsDiffCommand(params, commands);
    {
        CLI::App* reset = params->add_subcommand("reset", "Write the factory parameters and tables");
        auto port = std::make_shared<PortListOptions>();
        auto json = std::make_shared<bool>(false);
        AddPortListOptions(reset, *port);
        reset->add_flag("--json", *json, "Print the record the sensor holds afterwards as JSON");
        commands.push_back({reset, [port, json] {
                                return RunOnEveryPort(*port, *json,
                                                      [json](const PortOptions& one) { return RunReset(one, *json); });
                            }});
    }
    {
        CLI::App* save = params->add_subcommand(
            "save", "Read the sensor's parameters into a profile or a configuration file");
        auto port = std::make_shared<PortOptions>();
        auto path = std::make_shared<std::string>();
        auto profile = std::make_shared<std::string>();
        auto notes = std::make_shared<std::string>();
        AddPortOptions(save, *port);
        save->add_option("--config", *path, "appConfig.xml to update (created when missing)");
        CLI::Option* profileOption =
            save->add_option("--profile", *profile, "Profile file to write (replaced when it exists)");
        save->add_option("--notes", *notes, "Notes to keep in the profile");
        auto json = std::make_shared<bool>(false);
        save->add_flag("--json", *json, "Print the file and the saved record as JSON (with --config)")
            ->excludes(profileOption);
        commands.push_back({save, [port, path, profile, notes, json] {
                                if (path->empty() == profile->empty()) {
                                    PrintError(Text(TEXT_SAVE_NEEDS_FILE));
                                    return EXIT_USAGE;
                                }
                                if (!profile->empty()) return RunProfileSave(*port, *profile, *notes);
                                return RunSave(*port, *path, *json);
                            }});
    }
    {
        CLI::App* load = params->add_subcommand(
            "load", "Write a profile's (or a configuration file's) parameters to the sensor");
        auto port = std::make_shared<PortListOptions>();
        auto options = std::make_shared<EditOptions>();
        auto file = std::make_shared<std::string>();
        AddPortListOptions(load, *port);
        load->add_option("file", *file, "Profile (or appConfig.xml) to load")->check(CLI::ExistingFile);
        load->add_option("--config", options->configPath, "appConfig.xml with a ParamSetting section")
            ->check(CLI::ExistingFile);
        load->add_flag("--verify", options->verify, "Read the parameters back and fail when they differ");
        load->add_flag("--dry-run", options->dryRun, "Show what would change on each sensor; write nothing");
        load->add_flag("--json", options->json, "Print the written record and the notices as JSON");
        commands.push_back({load, [port, options, load, file] {
                                if (file->empty() == options->configPath.empty()) {
                                    PrintError(Text(TEXT_LOAD_NEEDS_FILE));
                                    return EXIT_USAGE;
                                }
                                // The XML files of params save --config keep loading by name.
                                if (!file->empty()) {
                                    if (LooksLikeConfigFile(*file))
                                        options->configPath = *file;
                                    else
                                        options->profilePath = *file;
                                }
                                return RunWrite(*port, load, *options);
                            }});
    }
}
