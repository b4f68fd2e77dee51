#include <gtest/gtest.h>

#include "engine/InstallError.h"
#include "engine/PayloadDeployment.h"
#include "platform/PlatformError.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

using test::modeOf;
using test::readFile;
using test::writeFile;

class PayloadTest : public ::testing::Test {
protected:
    void deploy() {
        const Host host = machine.host();
        createInstallFolders(FileManager::shared(), layout);
        deployPayloadFiles(FileManager::shared(), host, layout);
    }
    std::string resource(const char* name) { return readFile(machine.resources() / name); }
    std::string deployed(const char* name) { return readFile(machine.relayFolder() / name); }

    test::TestMachine machine;
    PathLayout layout{machine.home()};
};

TEST_F(PayloadTest, FirstRunCreatesTheFoldersAndDeploysTheThreeFiles) {
    deploy();
    EXPECT_TRUE(fs::is_directory(machine.home() / "Library/LaunchAgents"));
    EXPECT_TRUE(fs::is_directory(machine.home() / "Library/Logs/MorvantaMonitorRelay"));
    for (const char* name : {"mediamtx", "mediamtx.yml", "morvanta-monitor-output.lua"}) {
        EXPECT_EQ(deployed(name), resource(name)) << name;
    }
    EXPECT_EQ(modeOf(machine.resources() / "mediamtx"), 0644u) << "the bundle ships the relay without execute bits";
    EXPECT_EQ(modeOf(layout.relayExecutable), 0755u);
    EXPECT_EQ(modeOf(layout.relayConfiguration), modeOf(machine.resources() / "mediamtx.yml"));
}

TEST_F(PayloadTest, ASecondRunReplacesEditedFilesWithFreshCopies) {
    deploy();
    writeFile(layout.relayConfiguration, "edited by the user");
    fs::permissions(layout.relayExecutable, fs::perms::owner_read);
    deploy();
    EXPECT_EQ(deployed("mediamtx.yml"), resource("mediamtx.yml"));
    EXPECT_EQ(modeOf(layout.relayExecutable), 0755u);
}

TEST_F(PayloadTest, AConfigurationShippedPrivateStaysPrivate) {
    fs::permissions(machine.resources() / "mediamtx.yml", fs::perms::owner_read | fs::perms::owner_write);
    deploy();
    EXPECT_EQ(modeOf(layout.relayConfiguration), 0600u);
}

TEST_F(PayloadTest, AMissingResourceStopsAfterTheEarlierFilesWereReplaced) {
    writeFile(layout.relayExecutable, "old relay");
    writeFile(layout.outputScript, "old script");
    fs::remove(machine.resources() / "mediamtx.yml");
    try {
        deploy();
        FAIL() << "no error";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.errorDescription(), "Installer resource missing: mediamtx.yml");
    }
    EXPECT_EQ(deployed("mediamtx"), resource("mediamtx"));
    EXPECT_EQ(deployed("morvanta-monitor-output.lua"), "old script");
    EXPECT_FALSE(fs::exists(layout.relayConfiguration));
}

TEST_F(PayloadTest, AnUnknownResourceFolderIsAMissingResource) {
    Host host = machine.host();
    host.resourceFolder.reset();
    createInstallFolders(FileManager::shared(), layout);
    try {
        deployPayloadFiles(FileManager::shared(), host, layout);
        FAIL() << "no error";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.errorDescription(), "Installer resource missing: mediamtx");
    }
}

TEST_F(PayloadTest, AFolderWhereAPayloadFileBelongsIsReplaced) {
    writeFile(layout.relayConfiguration / "nested/file", "x");
    fs::create_symlink("/nowhere", layout.outputScript);
    deploy();
    EXPECT_EQ(deployed("mediamtx.yml"), resource("mediamtx.yml"));
    EXPECT_EQ(deployed("morvanta-monitor-output.lua"), resource("morvanta-monitor-output.lua"));
}

TEST_F(PayloadTest, AFileInPlaceOfTheLogFolderFailsAfterTheRelayFolderWasCreated) {
    writeFile(machine.home() / "Library/Logs/MorvantaMonitorRelay", "a file");
    EXPECT_THROW(deploy(), PlatformError);
    EXPECT_TRUE(fs::is_directory(layout.relayFolder));
    EXPECT_FALSE(fs::exists(layout.agentFolder));
}

}  // namespace
}  // namespace morvanta
