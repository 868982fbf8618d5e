#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/StringTable.h"
#include "session/SensorResult.h"
#include "support/TempDir.h"

namespace {

// The advice for a refused port follows the port's group: "join dialout" helps
// only when the port is dialout's; any other port is named with its owner and group.
TEST(PortPermissionText, DialoutAdviceOnlyForADialoutPort) {
    TempDir dir;
    const std::string port = dir.File("ttyFAKE0");
    ASSERT_TRUE(WriteWholeFile(port, ""));
    ASSERT_EQ(chmod(port.c_str(), 0660), 0);
    const passwd* me = getpwuid(geteuid());
    ASSERT_NE(me, nullptr);
    const group* dialout = getgrnam("dialout");
    const group* mine = getgrgid(getegid());
    ASSERT_NE(mine, nullptr);
    SetUiLanguage(UiLanguage::English);

    struct Case {
        const char* name;
        const group* owner;
        bool dialoutAdvice;
    };
    const Case cases[] = {{"a dialout port", dialout, true}, {"a port of another group", mine, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.owner) {
            ADD_FAILURE() << "no such group on this machine";
            continue;
        }
        if (std::string(c.owner->gr_name) == "dialout" && !c.dialoutAdvice) continue;
        if (chown(port.c_str(), static_cast<uid_t>(-1), c.owner->gr_gid) != 0) {
            // Only root or a member of the group may give the file to it.
            GTEST_SKIP() << "cannot give the file to group " << c.owner->gr_name;
        }
        const std::string text = PortOpenFailureText(port, eRADAR_OPEN_PERMISSION_DENIED);
        EXPECT_EQ(text.rfind("Cannot open the port " + port + ": Permission denied", 0), 0u) << text;
        EXPECT_EQ(text.find("dialout") != std::string::npos, c.dialoutAdvice) << text;
        if (!c.dialoutAdvice) {
            EXPECT_NE(text.find(std::string("user \"") + me->pw_name + "\""), std::string::npos) << text;
            EXPECT_NE(text.find(std::string("group \"") + c.owner->gr_name + "\""), std::string::npos) << text;
            EXPECT_NE(text.find("0660"), std::string::npos) << text;
            EXPECT_NE(text.find("60-palo520g.rules"), std::string::npos) << text;
        }
    }
    // A port that is gone by the time the text is made keeps the general advice.
    const std::string gone = PortOpenFailureText(dir.File("missing"), eRADAR_OPEN_PERMISSION_DENIED);
    EXPECT_NE(gone.find("Permission denied"), std::string::npos) << gone;
}

}  // namespace
