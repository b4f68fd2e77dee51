#include <gtest/gtest.h>

#include <functional>

#include "engine/InstallError.h"
#include "engine/Installer.h"
#include "engine/Preflight.h"
#include "platform/PlatformError.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

using test::TestMachine;
using test::writeFile;

const RunningApplication runningObs{4242, std::string("com.obsproject.obs-studio")};

// What a preflight ended with: "pass", "platform error", or the InstallError kind's name.
std::string outcomeOf(TestMachine& machine) {
    try {
        runPreflight(FileManager::shared(), machine.host(), PathLayout(machine.home()));
        return "pass";
    } catch (const InstallError& error) {
        switch (error.kind()) {
            case InstallError::Kind::missingOBS: return "missingOBS";
            case InstallError::Kind::noConfiguration: return "noConfiguration";
            case InstallError::Kind::noScenes: return "noScenes";
            case InstallError::Kind::obsStillOpen: return "obsStillOpen";
            default: return "other InstallError";
        }
    } catch (const PlatformError&) {
        return "platform error";
    }
}

struct PreflightCase {
    const char* name;
    std::function<void(TestMachine&)> arrange;
    std::string expected;
};

TEST(PreflightTest, OutcomesInTheOrderOfTheChecks) {
    const auto config = [](TestMachine& m) { writeFile(m.obsConfig() / "user.ini", ""); };
    const auto scene = [](TestMachine& m) { writeFile(m.scenes() / "Untitled.json", "{}"); };
    const std::vector<PreflightCase> cases = {
        {"everything in place", [](TestMachine& m) { m.installObs(); }, "pass"},
        {"OBS only as OBS Studio.app",
         [&](TestMachine& m) {
             fs::create_directories(m.applications() / "OBS Studio.app");
             config(m);
             scene(m);
         },
         "pass"},
        {"OBS only in the user's Applications",
         [&](TestMachine& m) {
             fs::create_directories(m.home() / "Applications/OBS.app");
             config(m);
             scene(m);
         },
         "missingOBS"},
        {"OBS missing and never configured", [](TestMachine&) {}, "missingOBS"},
        {"no user.ini",
         [&](TestMachine& m) {
             fs::create_directories(m.applications() / "OBS.app");
             scene(m);
             writeFile(m.obsConfig() / "global.ini", "");
         },
         "noConfiguration"},
        {"user.ini without basic/scenes",
         [&](TestMachine& m) {
             fs::create_directories(m.applications() / "OBS.app");
             config(m);
         },
         "platform error"},
        {"only Main.JSON and notes.txt",
         [&](TestMachine& m) {
             fs::create_directories(m.applications() / "OBS.app");
             config(m);
             writeFile(m.scenes() / "Main.JSON", "{}");
             writeFile(m.scenes() / "notes.txt", "");
         },
         "noScenes"},
        {"no scene collection while OBS runs",
         [&](TestMachine& m) {
             fs::create_directories(m.applications() / "OBS.app");
             config(m);
             fs::create_directories(m.scenes());
             m.workspace.applications = {runningObs};
         },
         "noScenes"},
        {"OBS running",
         [](TestMachine& m) {
             m.installObs();
             m.workspace.applications = {{1, std::nullopt}, runningObs};
         },
         "obsStillOpen"},
        {"other applications only",
         [](TestMachine& m) {
             m.installObs();
             m.workspace.applications = {{1, std::nullopt}, {2, std::string("com.obsproject.obs-studio.helper")}};
         },
         "pass"},
    };
    for (const auto& testCase : cases) {
        TestMachine machine;
        testCase.arrange(machine);
        EXPECT_EQ(outcomeOf(machine), testCase.expected) << testCase.name;
    }
}

TEST(PreflightTest, KeepsEveryJsonEntryInListingOrder) {
    TestMachine machine;
    machine.installObs();
    writeFile(machine.scenes() / "._Untitled.json", "");
    fs::create_directories(machine.scenes() / "old.json");
    writeFile(machine.scenes() / "Untitled.json.morvanta-backup-2026-01-01T00-00-00Z", "");
    std::vector<fs::path> expected;
    for (const auto& entry : fs::directory_iterator(machine.scenes())) {
        if (entry.path().filename().string().ends_with(".json")) expected.push_back(entry.path());
    }
    EXPECT_EQ(expected.size(), 3u);
    EXPECT_EQ(runPreflight(FileManager::shared(), machine.host(), PathLayout(machine.home())), expected);
}

TEST(PreflightTest, MissingScenesFolderIsTheListingErrorNamingTheFolder) {
    TestMachine machine;
    fs::create_directories(machine.applications() / "OBS.app");
    writeFile(machine.obsConfig() / "user.ini", "");
    try {
        runPreflight(FileManager::shared(), machine.host(), PathLayout(machine.home()));
        FAIL() << "no error";
    } catch (const PlatformError& error) {
        EXPECT_NE(std::string(error.what()).find(machine.scenes().string()), std::string::npos) << error.what();
    }
}

TEST(PreflightTest, RefusalWhileObsRunsChangesNothingOnDisk) {
    TestMachine machine;
    machine.installObs();
    machine.workspace.applications = {runningObs};
    const std::string before = test::snapshot(machine.root());
    Installer installer(FileManager::shared(), machine.home(), machine.host());
    EXPECT_THROW(installer.install(), InstallError);
    EXPECT_EQ(test::snapshot(machine.root()), before);
}

}  // namespace
}  // namespace morvanta
