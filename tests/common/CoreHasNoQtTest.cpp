#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

// The core libraries, the command-line tool and the simulator must build without Qt.
// Widget code lives in src/<subsystem>/widgets/, the image library in src/controls/imagelib/.
TEST(CoreHasNoQt, NoCoreFileIncludesAQtHeader) {
    namespace fs = std::filesystem;
    const fs::path root = PALO_SOURCE_DIR;
    const std::regex qtInclude(R"(^\s*#\s*include\s*[<"](Q[A-Za-z]+|Qt[A-Za-z]+/[^>"]*)[>"])");
    int scanned = 0;
    for (const char* top : {"src", "sim", "cli"}) {
        if (!fs::exists(root / top)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
            const std::string path = entry.path().string();
            if (!entry.is_regular_file()) continue;
            if (path.find("/widgets/") != std::string::npos || path.find("/imagelib/") != std::string::npos) continue;
            const std::string ext = entry.path().extension().string();
            if (ext != ".h" && ext != ".cpp" && ext != ".hpp") continue;
            ++scanned;
            std::ifstream in(path);
            std::string line;
            int number = 0;
            while (std::getline(in, line)) {
                ++number;
                EXPECT_FALSE(std::regex_search(line, qtInclude)) << path << ":" << number << ": " << line;
            }
        }
    }
    EXPECT_GT(scanned, 10) << "the scan found the source tree";
}
