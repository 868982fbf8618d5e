#pragma once
// Parameter profiles on the command line: params save --profile, the profile side
// of params load (with --dry-run), and params diff.

#include <string>
#include <vector>

#include "Commands.h"
#include "PortList.h"

struct ParamProfile;
class SensorSession;

// A size no profile comes near; a larger file is not one.
constexpr size_t PROFILE_FILE_MAX = 1 << 20;

// True when the file's text begins with '<': a configuration file with a
// ParamSetting section rather than a profile. False also when it cannot be read
// (reading it as a profile then says why).
[[nodiscard]] bool LooksLikeConfigFile(const std::string& path);

// Reads and checks a profile file. False after printing why it is refused.
bool LoadProfileFile(const std::string& path, ParamProfile& profile);

// The sensor's parameters, firmware version and serial number into a profile file.
int RunProfileSave(const PortOptions& port, const std::string& path, const std::string& notes);

// What loading would change on this sensor: current is what it holds, record what
// would be written. Prints a table (or with json one object) and writes nothing.
void PrintDryRun(const ParamSetting& current, const ParamSetting& record, const std::vector<ParamNotice>& notices,
                 bool json);

// params diff A B: each a profile file or --port.
void AddParamsDiffCommand(CLI::App* params, CommandList& commands);
