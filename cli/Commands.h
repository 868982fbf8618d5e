#pragma once
// The command groups of palo520g; each adds its subcommands to the application.

#include <string>
#include <vector>

#include "Output.h"
#include "Session.h"

struct ParamSetting;
struct ParamNotice;
struct ReplayDescription;
class XMLParser;

void AddDeviceCommands(CLI::App& app, CommandList& commands);     // ports, info
void AddParamsCommands(CLI::App& app, CommandList& commands);     // params read|write|check|reset|save|load|diff
void AddMonitorCommands(CLI::App& app, CommandList& commands);    // monitor, replay
void AddStatsCommand(CLI::App& app, CommandList& commands);       // stats
void AddThresholdCommand(CLI::App& app, CommandList& commands);   // threshold
void AddFirmwareCommands(CLI::App& app, CommandList& commands);   // fw info|flash

// --- shared by the groups ---

// The record as a JSON object keyed by its field names.
[[nodiscard]] Json ParamRecordJson(const ParamSetting& setting);
// The record as aligned text lines.
[[nodiscard]] std::vector<std::string> ParamRecordLines(const ParamSetting& setting);
// Lines of a gate table block: a header row of gate numbers, then one row per table.
[[nodiscard]] std::vector<std::string> GateTableLines(const ParamSetting& setting);
[[nodiscard]] Json ParamNoticeJson(const ParamNotice& notice);
[[nodiscard]] std::string ParamNoticeLine(const ParamNotice& notice);

// Says on standard error when a record's description is there but cannot be used,
// or when some of its values gave way to the defaults.
void ReportDescriptionProblems(const ReplayDescription& description);

// Reads a configuration file into doc. False after printing why it failed.
bool LoadConfigFile(const std::string& path, XMLParser& doc);
