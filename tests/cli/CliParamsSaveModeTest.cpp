// params save over a configuration file the user has made private.

#include <sys/stat.h>

#include "SimFixture.h"

namespace {

using CliParamsSaveModeTest = CliSimTest;

TEST_F(CliParamsSaveModeTest, SaveKeepsAPrivateFilePrivate) {
    ASSERT_TRUE(StartSim());
    const std::string config = dir_.File("appConfig.xml");
    ASSERT_TRUE(WriteWholeFile(config, "<?xml version=\"1.0\"?>\n<AppConfig Language=\"ENG\"/>\n"));
    ASSERT_EQ(chmod(config.c_str(), 0600), 0);

    const CliResult save = RunOnSim({"params", "save", "--config", config});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_TRUE(Contains(ReadWholeFile(config), "<ParamSetting "));
    struct stat st {};
    ASSERT_EQ(stat(config.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(CliParamsSaveModeTest, SaveThroughALinkUpdatesTheLinkedFile) {
    ASSERT_TRUE(StartSim());
    const std::string real = dir_.File("real.xml");
    const std::string link = dir_.File("l.xml");
    ASSERT_TRUE(WriteWholeFile(real, "<?xml version=\"1.0\"?>\n<AppConfig Language=\"ENG\"/>\n"));
    ASSERT_EQ(symlink("real.xml", link.c_str()), 0);

    const CliResult save = RunOnSim({"params", "save", "--config", link});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(Contains(ReadWholeFile(real), "<ParamSetting "));
}

TEST_F(CliParamsSaveModeTest, AFailedSaveSaysWhy) {
    ASSERT_TRUE(StartSim());
    const std::string config = dir_.File("gone/appConfig.xml");
    const CliResult save = RunOnSim({"params", "save", "--config", config});
    EXPECT_EQ(save.exitCode, 1);
    EXPECT_TRUE(Contains(save.err, "Cannot write the configuration file " + config + ": No such file or directory"))
        << save.err;
}

}  // namespace
