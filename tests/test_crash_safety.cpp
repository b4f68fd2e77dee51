#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <chrono>
#include <map>

#include "engine/PathLayout.h"
#include "engine/ProfilePatch.h"
#include "engine/SceneCollectionPatch.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

extern char** environ;

namespace morvanta {
namespace {

using test::readFile;
using test::writeFile;

const std::string fileSteps = (test::testToolFolder() / "file_steps").string();
const std::string relayUrl = "FFURL=srt://127.0.0.1:8890?streamid=publish:morvanta";

std::string collection(int index, int sources) {
    std::string text = R"({"name":"Collection )" + std::to_string(index) + R"(","sources":[)";
    for (int i = 0; i < sources; ++i) {
        if (i > 0) text += ",";
        text += R"({"name":"Source )" + std::to_string(i) + R"(","settings":{"file":"/media/clip)" + std::to_string(i) +
                R"(.mp4","volume":0.75},"filters":[{"id":"color_filter","settings":{"gamma":0.1}}]})";
    }
    return text + "]}";
}

pid_t spawnFileSteps(const fs::path& home, const fs::path& obsApp) {
    std::vector<std::string> args{fileSteps, home.string(), test::builtResourceFolder().string(), obsApp.string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, fileSteps.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// A home with several collections and profiles, the exact bytes of each, and what the patch
// makes of each.
class CrashSafetyTest : public ::testing::Test {
protected:
    CrashSafetyTest() {
        fs::create_directories(obsApp);
        writeFile(templateHome / "Library/Application Support/obs-studio/user.ini", "");
        const PathLayout layout(home);
        for (int i = 0; i < 4; ++i) {
            const std::string name = "Collection" + std::to_string(i) + ".json";
            originals["scenes/" + name] = collection(i, 300 + 150 * i);
            expected["scenes/" + name] =
                patchedSceneCollection(originals["scenes/" + name], name, layout.outputScript.string());
        }
        originals["profiles/Relay/basic.ini"] = "[AdvOut]\r\nRecType=FFmpeg\r\n" + relayUrl + "\r\n";
        originals["profiles/Second/basic.ini"] = "[A]\nRecType=FFmpeg\n[B]\nRecType=FFmpeg\n" + relayUrl;
        originals["profiles/Plain/basic.ini"] = "[AdvOut]\nRecType=Standard\n";
        for (const auto& [relative, bytes] : originals) {
            writeFile(templateHome / "Library/Application Support/obs-studio/basic" / relative, bytes);
            if (relative.rfind("profiles/", 0) == 0) expected[relative] = patchedProfileSettings(bytes).value_or(bytes);
        }
    }

    fs::path basic() const { return home / "Library/Application Support/obs-studio/basic"; }

    // Checks that every file holds its old or its complete new bytes, that every backup holds the
    // original bytes, and that no stray name ends in ".json".
    void checkConsistent(int run) {
        for (const auto& [relative, bytes] : originals) {
            const std::string now = readFile(basic() / relative);
            EXPECT_TRUE(now == bytes || now == expected[relative]) << relative << " in run " << run;
        }
        for (const auto& folder : {basic() / "scenes", basic() / "profiles/Relay", basic() / "profiles/Second"}) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                const auto backup = name.find(".morvanta-backup-");
                const std::string relative = fs::relative(entry.path(), basic()).string();
                if (name.find(".morvanta-tmp-") != std::string::npos) continue;
                if (backup != std::string::npos) {
                    const std::string original = fs::relative(folder, basic()).string() + "/" + name.substr(0, backup);
                    EXPECT_TRUE(readFile(entry.path()) == originals[original]) << name << " in run " << run;
                } else if (name.ends_with(".json")) {
                    EXPECT_TRUE(originals.count(relative)) << "stray collection " << name << " in run " << run;
                }
            }
        }
    }

    test::TempDir dir;
    fs::path templateHome = dir.path() / "template";
    fs::path home = dir.path() / "home";
    fs::path obsApp = dir.path() / "OBS.app";
    std::map<std::string, std::string> originals;
    std::map<std::string, std::string> expected;
};

TEST_F(CrashSafetyTest, AKillAtAnyMomentLosesNothingAndTheNextRunSucceeds) {
    // The length of one warm run sets the spread of the kills.
    std::chrono::steady_clock::duration duration{};
    for (int warm = 0; warm < 3; ++warm) {
        fs::remove_all(home);
        fs::copy(templateHome, home, fs::copy_options::recursive);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(waitFor(spawnFileSteps(home, obsApp)), 0);
        duration = std::chrono::steady_clock::now() - started;
    }
    for (const auto& [relative, bytes] : expected) EXPECT_TRUE(readFile(basic() / relative) == bytes) << relative;

    constexpr int runs = 300;
    int killedMidway = 0;
    for (int run = 0; run < runs; ++run) {
        fs::remove_all(home);
        fs::copy(templateHome, home, fs::copy_options::recursive);
        const pid_t pid = spawnFileSteps(home, obsApp);
        const auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(duration * (run + 0.5) / runs);
        const timespec pause{static_cast<time_t>(delay.count() / 1000000000), static_cast<long>(delay.count() % 1000000000)};
        ::nanosleep(&pause, nullptr);
        ::kill(pid, SIGKILL);
        if (WIFSIGNALED(waitFor(pid))) ++killedMidway;
        checkConsistent(run);
        ASSERT_EQ(waitFor(spawnFileSteps(home, obsApp)), 0) << "the run after kill " << run;
        for (const auto& [relative, bytes] : expected) {
            EXPECT_TRUE(readFile(basic() / relative) == bytes) << relative << " after run " << run;
        }
        if (HasFailure()) break;
    }
    EXPECT_GT(killedMidway, runs / 4) << "the kills should land while the steps run";
}

}  // namespace
}  // namespace morvanta
