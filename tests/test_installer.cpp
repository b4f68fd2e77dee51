#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "engine/InstallError.h"
#include "engine/Installer.h"
#include "engine/PathLayout.h"
#include "tests/support/FakeLaunchctl.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace morvanta {
namespace {

using test::readFile;
using test::writeFile;

const std::string relayUrl = "FFURL=srt://127.0.0.1:8890?streamid=publish:morvanta";

class InstallerTest : public ::testing::Test {
protected:
    InstallerTest() {
        machine.installObs();
        writeFile(machine.scenes() / "Show.json",
                  R"({"modules":{"scripts-tool":[{"path":"/x/other.lua","settings":{}}]},"name":"Show"})");
        writeFile(machine.profiles() / "Relay/basic.ini", "[AdvOut]\nRecType=FFmpeg\n" + relayUrl + "\n");
        writeFile(machine.profiles() / "Plain/basic.ini", "[AdvOut]\nRecType=Standard\n");
    }
    void install() { Installer(FileManager::shared(), machine.home(), machine.host()).install(); }

    test::TestMachine machine;
    PathLayout layout{machine.home()};
    test::FakeLaunchctl launchctl{machine.root() / "launchctl"};
};

TEST_F(InstallerTest, AWholeInstallationPutsEveryFileInItsPlace) {
    const std::string untitled = readFile(machine.scenes() / "Untitled.json");
    install();
    const std::string stamp = "2026-12-11T09-05-07Z";
    EXPECT_EQ(test::modeOf(layout.relayExecutable), 0755u);
    EXPECT_EQ(readFile(layout.outputScript), readFile(machine.resources() / "morvanta-monitor-output.lua"));
    EXPECT_EQ(readFile(machine.scenes() / ("Untitled.json.morvanta-backup-" + stamp)), untitled);
    const Json show = Json::parse(readFile(machine.scenes() / "Show.json"));
    ASSERT_EQ(show["modules"]["scripts-tool"].size(), 2u);
    EXPECT_EQ(show["modules"]["scripts-tool"][1]["path"], layout.outputScript.string());
    EXPECT_EQ(readFile(machine.profiles() / "Relay/basic.ini"), "[AdvOut]\nRecType=Standard\n" + relayUrl + "\n");
    EXPECT_TRUE(fs::exists(machine.profiles() / ("Relay/basic.ini.morvanta-backup-" + stamp)));
    EXPECT_EQ(test::entryNames(machine.profiles() / "Plain"), std::vector<std::string>{"basic.ini"});
    EXPECT_EQ(test::entryNames(layout.agentFolder),
              (std::vector<std::string>{"com.brenmoorlabs.morvantamonitor.discovery.plist",
                                        "com.brenmoorlabs.morvantamonitor.relay.plist"}));
    EXPECT_EQ(launchctl.calls().size(), 7u);
}

TEST_F(InstallerTest, ASecondRunRepeatsEveryStepUnderANewStamp) {
    install();
    machine.now += std::chrono::seconds(61);
    install();
    EXPECT_TRUE(fs::exists(machine.scenes() / "Untitled.json.morvanta-backup-2026-12-11T09-05-07Z"));
    EXPECT_TRUE(fs::exists(machine.scenes() / "Untitled.json.morvanta-backup-2026-12-11T09-06-08Z"));
    EXPECT_FALSE(fs::exists(machine.profiles() / "Relay/basic.ini.morvanta-backup-2026-12-11T09-06-08Z"));
    EXPECT_EQ(launchctl.calls().size(), 14u);
}

TEST_F(InstallerTest, AnInvalidSceneFileStopsBeforeTheProfilesAndTheServices) {
    writeFile(machine.scenes() / "Broken.json", "[]");
    try {
        install();
        FAIL() << "no error";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.errorDescription(), "Invalid OBS scene file: Broken.json");
    }
    EXPECT_EQ(readFile(machine.profiles() / "Relay/basic.ini"), "[AdvOut]\nRecType=FFmpeg\n" + relayUrl + "\n");
    EXPECT_TRUE(launchctl.calls().empty());
}

TEST_F(InstallerTest, SymbolicLinksToSyncedFilesStayLinksAndTheirTargetsAreUpdated) {
    const fs::path synced = machine.root() / "Synced Folder";
    writeFile(synced / "Show.json", readFile(machine.scenes() / "Show.json"));
    writeFile(synced / "relay.ini", readFile(machine.profiles() / "Relay/basic.ini"));
    const std::string showBefore = readFile(synced / "Show.json");
    fs::remove(machine.scenes() / "Show.json");
    fs::remove(machine.profiles() / "Relay/basic.ini");
    fs::create_symlink(synced / "Show.json", machine.scenes() / "Show.json");
    fs::create_symlink("../../../../../../../../Synced Folder/relay.ini", machine.profiles() / "Relay/basic.ini");
    ASSERT_EQ(readFile(machine.profiles() / "Relay/basic.ini"), "[AdvOut]\nRecType=FFmpeg\n" + relayUrl + "\n");
    install();
    EXPECT_TRUE(fs::is_symlink(machine.scenes() / "Show.json"));
    EXPECT_TRUE(fs::is_symlink(machine.profiles() / "Relay/basic.ini"));
    EXPECT_EQ(Json::parse(readFile(synced / "Show.json"))["modules"]["scripts-tool"].size(), 2u);
    EXPECT_EQ(readFile(synced / "relay.ini"), "[AdvOut]\nRecType=Standard\n" + relayUrl + "\n");
    EXPECT_EQ(readFile(machine.scenes() / "Show.json.morvanta-backup-2026-12-11T09-05-07Z"), showBefore);
    EXPECT_FALSE(fs::is_symlink(machine.scenes() / "Show.json.morvanta-backup-2026-12-11T09-05-07Z"));
    EXPECT_EQ(test::entryNames(synced), (std::vector<std::string>{"Show.json", "relay.ini"}));
}

TEST(InstallerHostileHomeTest, AHomePathWithMarkupAndNonAsciiLettersStaysIntact) {
    test::TestMachine machine;
    const fs::path home = machine.root() / "Users" / "Ana \"Q\" O'Neil & <Co> Grabaci\u00F3n";
    machine.installObs();
    fs::create_directories(home.parent_path());
    fs::rename(machine.home(), home);
    test::FakeLaunchctl launchctl(machine.root() / "launchctl");
    Installer(FileManager::shared(), home, machine.host()).install();

    const PathLayout layout(home);
    pugi::xml_document relay;
    ASSERT_TRUE(relay.load_file(layout.relayAgentDefinitionFile.c_str()));
    std::vector<std::string> arguments;
    for (pugi::xml_node key : relay.child("plist").child("dict").children("key")) {
        if (std::string(key.child_value()) != "ProgramArguments") continue;
        for (pugi::xml_node item : key.next_sibling().children("string")) arguments.push_back(item.child_value());
    }
    EXPECT_EQ(arguments, (std::vector<std::string>{layout.relayExecutable.string(), layout.relayConfiguration.string()}));
    const auto calls = launchctl.calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[1], (std::vector<std::string>{"bootstrap", "gui/501", layout.relayAgentDefinitionFile.string()}));
    const Json scene = Json::parse(readFile(layout.sceneCollectionFolder / "Untitled.json"));
    EXPECT_EQ(scene["modules"]["scripts-tool"][0]["path"], layout.outputScript.string());
}

}  // namespace
}  // namespace morvanta
