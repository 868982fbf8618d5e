// Every command takes --json and then prints only JSON objects, one a line, each
// starting with its "format" version; a monitor line also says when it was read.
#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "common/FileUtils.h"

namespace {

// The subcommand names of a command's --help ("Subcommands:" then "  name  text").
std::vector<std::string> SubcommandsOf(const std::vector<std::string>& path) {
    std::vector<std::string> args = path;
    args.push_back("--help");
    const CliResult help = RunCli(args);
    std::vector<std::string> names;
    const size_t start = help.out.find("Subcommands:\n");
    if (start == std::string::npos) return names;
    const std::regex line(R"(^  ([a-z][a-z0-9-]*) )");
    size_t pos = start + 13;
    while (pos < help.out.size()) {
        const size_t end = help.out.find('\n', pos);
        const std::string text = help.out.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        std::smatch match;
        if (std::regex_search(text, match, line)) names.push_back(match[1]);
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return names;
}

// "params read", "fw flash", ...: every command that does something.
void CollectCommands(const std::vector<std::string>& path, std::vector<std::string>& out) {
    const std::vector<std::string> subcommands = SubcommandsOf(path);
    if (subcommands.empty() && !path.empty()) {
        std::string name;
        for (const std::string& word : path) name += (name.empty() ? "" : " ") + word;
        out.push_back(name);
    }
    for (const std::string& sub : subcommands) {
        std::vector<std::string> next = path;
        next.push_back(sub);
        CollectCommands(next, out);
    }
}

class CliJsonEveryCommandTest : public CliSimTest {};

TEST_F(CliJsonEveryCommandTest, EveryCommandPrintsOneObjectALineWithItsFormat) {
    ASSERT_TRUE(StartSim());
    const std::string record = dir_.File("records");
    const std::string config = dir_.File("line3.xml");
    const std::string profile = dir_.File("line3.json");
    const std::string image = dir_.File("app0.bin");
    const std::string catalogue = dir_.File("catalogue");
    const std::string url = "file://" + catalogue + "/";
    ASSERT_TRUE(WriteSimFirmwareImage(image, "v1.0.3", 1500));

    struct Case {
        std::string command;  // as the help names it
        std::vector<std::string> args;
        bool onSim;
        size_t minLines;
    };
    // In this order: the record, the catalogue and the configuration file are made
    // by the commands before the ones that read them.
    std::vector<Case> cases = {
        {"ports", {"ports"}, false, 1},
        {"info", {"info"}, true, 1},
        {"params read", {"params", "read"}, true, 1},
        {"params check", {"params", "check", "--min", "7.9"}, false, 1},
        {"params write", {"params", "write", "--absence", "30", "--verify"}, true, 1},
        {"params save", {"params", "save", "--config", config}, true, 1},
        {"params load", {"params", "load", "--config", config}, true, 1},
        {"params reset", {"params", "reset"}, true, 1},
        {"monitor", {"monitor", "--count", "3", "--record", record}, true, 3},
        {"threshold", {"threshold", "--scan", "120"}, true, 1},
        {"fw info", {"fw", "info"}, true, 1},
        {"fw flash", {"fw", "flash", image, "--partition", "0"}, true, 1},
        {"fw publish", {"fw", "publish", "--catalogue", catalogue, "1.0.3", image}, false, 1},
        {"fw versions", {"fw", "versions", "--update-url", url}, false, 1},
        {"fw fetch", {"fw", "fetch", "1.0.3", "--update-url", url, "--data-dir", dir_.File("data")}, false, 1},
        {"fw update",
         {"fw", "update", "1.0.3", "--partition", "0", "--update-url", url, "--data-dir", dir_.File("data")},
         true,
         1},
    };

    std::set<std::string> covered;
    for (Case& c : cases) {
        SCOPED_TRACE(c.command);
        c.args.push_back("--json");
        const CliResult result = c.onSim ? RunOnSim(c.args, 60000) : RunCli(c.args, 60000);
        ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
        const std::vector<Json> objects = ParseJsonLines(result.out);
        EXPECT_GE(objects.size(), c.minLines) << result.out;
        for (const Json& object : objects) {
            ASSERT_TRUE(object.is_object()) << object.dump();
            ASSERT_FALSE(object.empty());
            EXPECT_EQ(object.begin().key(), "format") << object.dump();
            // params read prints a profile, which names its own format and version.
            if (object.at("format").is_string()) {
                EXPECT_EQ(object.at("format"), "palo520g-profile") << object.dump();
                EXPECT_EQ(object.at("version"), 1) << object.dump();
            } else {
                EXPECT_EQ(object.at("format"), 1) << object.dump();
            }
        }
        covered.insert(c.command);

        if (c.command == "monitor") {
            // ISO 8601 in UTC with milliseconds, and seconds since the run began that never go back.
            const std::regex iso(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z$)");
            double last = -1;
            for (const Json& line : objects) {
                ASSERT_TRUE(line.contains("time") && line.contains("t_s")) << line.dump();
                EXPECT_TRUE(std::regex_match(line.at("time").get<std::string>(), iso)) << line.dump();
                const double t = line.at("t_s").get<double>();
                EXPECT_GE(t, last);
                EXPECT_GE(t, 0.0);
                last = t;
                const int state = line.at("state").get<int>();
                const char* names[] = {"none", "none_alt", "moving", "motionless"};
                EXPECT_EQ(line.at("state_name"), state >= 0 && state < 4 ? names[state] : "other") << line.dump();
            }
            // The record made here serves the two commands that read records.
            const std::vector<std::string> files = GetLocalFolderFileList(record, "dat");
            ASSERT_EQ(files.size(), 1u);
            const std::string file = CombinePathName(record, files[0]);
            for (const char* command : {"replay", "stats"}) {
                SCOPED_TRACE(command);
                const CliResult read = RunCli({command, file, "--json"});
                ASSERT_EQ(read.exitCode, 0) << read.err;
                const std::vector<Json> lines = ParseJsonLines(read.out);
                ASSERT_FALSE(lines.empty());
                for (const Json& line : lines) {
                    EXPECT_EQ(line.begin().key(), "format") << line.dump();
                    EXPECT_EQ(line.at("format"), 1);
                    // A record holds no reading times.
                    EXPECT_FALSE(line.contains("time")) << line.dump();
                }
                covered.insert(command);
            }
        }
    }

    // A command added later without --json, or without a case here, fails.
    std::vector<std::string> commands;
    CollectCommands({}, commands);
    ASSERT_GE(commands.size(), 15u);
    {
        // params diff of the sensor against what it just said it holds: equal, exit 0.
        SCOPED_TRACE("params diff");
        const CliResult read = RunOnSim({"params", "read", "--json"});
        ASSERT_EQ(read.exitCode, 0) << read.err;
        {
            std::ofstream out(profile);
            out << read.out;
        }
        const CliResult diff = RunOnSim({"params", "diff", profile, "--json"});
        ASSERT_EQ(diff.exitCode, 0) << diff.err << diff.out;
        const std::vector<Json> objects = ParseJsonLines(diff.out);
        ASSERT_FALSE(objects.empty()) << diff.out;
        for (const Json& object : objects) {
            ASSERT_TRUE(object.is_object()) << object.dump();
            EXPECT_EQ(object.begin().key(), "format") << object.dump();
            EXPECT_EQ(object.at("format"), 1) << object.dump();
        }
        covered.insert("params diff");
    }

    for (const std::string& command : commands) {
        EXPECT_TRUE(covered.count(command)) << "no --json case for: " << command;
        std::vector<std::string> args;
        for (size_t start = 0; start <= command.size();) {
            const size_t space = std::min(command.find(' ', start), command.size());
            args.push_back(command.substr(start, space - start));
            start = space + 1;
        }
        args.push_back("--help");
        EXPECT_TRUE(Contains(RunCli(args).out, "--json")) << command;
    }
}

}  // namespace
