#include <gtest/gtest.h>

#include "platform/Subprocess.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

using test::writeFile;

const std::string fileSteps = (test::testToolFolder() / "file_steps").string();

struct FaultCase {
    const char* name;
    // Shell commands run in a private mount namespace before the steps; $H is the home,
    // $S the scene collection folder, $P the profiles folder, $K a folder outside the home.
    std::string setup;
    // The whole first line the steps print, with $H standing for the home.
    std::string message;
    // The file, relative to the home, that must keep its bytes.
    std::string untouched;
};

// A home with OBS configured, and a copy of every file outside it to compare with.
class FaultTest : public ::testing::Test {
protected:
    FaultTest() {
        fs::create_directories(dir.path() / "OBS.app");
        writeFile(scenes() / "../../user.ini", "");
        std::string big = R"({"sources":[)";
        for (int i = 0; i < 9000; ++i) big += (i ? "," : "") + std::string(R"({"name":"source","settings":{"a":[1,2,3]}})");
        writeFile(scenes() / "Untitled.json", big + "]}");
        writeFile(home() / "Library/Application Support/obs-studio/basic/profiles/Relay/basic.ini",
                  "RecType=FFmpeg\nFFURL=srt://127.0.0.1:8890?streamid=publish:morvanta\n");
        fs::copy(home(), dir.path() / "copy", fs::copy_options::recursive);
    }
    fs::path home() const { return dir.path() / "home dir"; }
    fs::path scenes() const { return home() / "Library/Application Support/obs-studio/basic/scenes"; }

    // Runs the steps after `setup` in a private mount namespace; returns what they printed and
    // whether `untouched` kept its bytes and no temporary file was left, as seen inside.
    std::string runCase(const FaultCase& testCase) {
        const std::string script =
            "set -e; H=\"$1\"; S=\"$H/Library/Application Support/obs-studio/basic/scenes\"; "
            "P=\"$H/Library/Application Support/obs-studio/basic/profiles\"; K=\"$2\"; " +
            testCase.setup +
            "\nset +e; \"$3\" \"$H\" \"$4\" \"$5\"; echo \"exit=$?\"; "
            "cmp -s \"$H/$6\" \"$K/copy/$6\" && echo untouched || echo changed; "
            "find \"$H\" -name '*.morvanta-tmp-*' | grep -q . && echo temporary-left || echo clean";
        const ProcessResult result =
            runProcess("/usr/bin/unshare", {"--mount", "--propagation", "private", "/bin/sh", "-c", script, "sh",
                                            home().string(), dir.path().string(), fileSteps,
                                            test::builtResourceFolder().string(), (dir.path() / "OBS.app").string(),
                                            testCase.untouched});
        return result.output;
    }

    test::TempDir dir;
};

std::string substituted(std::string text, const std::string& home) {
    for (size_t at = text.find("$H"); at != std::string::npos; at = text.find("$H", at + home.size())) {
        text.replace(at, 2, home);
    }
    return text;
}

TEST_F(FaultTest, EachFaultEndsWithTheFileAndTheReasonAndLosesNothing) {
    const std::string scenesText = "$H/Library/Application Support/obs-studio/basic/scenes";
    const std::vector<FaultCase> cases = {
        {"disk full during the scene collection patch",
         "mount -t tmpfs -o size=1200k full \"$S\"; cp \"$K/copy/Library/Application Support/obs-studio/basic/scenes/Untitled.json\" \"$S/\"",
         "Could not write \u201C" + scenesText + "/Untitled.json\u201D: No space left on device",
         "Library/Application Support/obs-studio/basic/scenes/Untitled.json"},
        {"read-only home", "mount --bind \"$H\" \"$H\"; mount -o remount,bind,ro \"$H\"",
         "Could not create the folder \u201C$H/Library/Application Support/MorvantaMonitorRelay\u201D: Read-only file system",
         "Library/Application Support/obs-studio/basic/scenes/Untitled.json"},
        {"read-only scene collection folder", "mount --bind \"$S\" \"$S\"; mount -o remount,bind,ro \"$S\"",
         "Could not write \u201C" + scenesText + "/Untitled.json.morvanta-backup-",
         "Library/Application Support/obs-studio/basic/scenes/Untitled.json"},
        {"unreadable profile", "rm \"$P/Relay/basic.ini\"; ln -s /proc/self/mem \"$P/Relay/basic.ini\"",
         "Could not read \u201C$H/Library/Application Support/obs-studio/basic/profiles/Relay/basic.ini\u201D: "
         "Input/output error",
         "Library/Application Support/obs-studio/basic/scenes/Untitled.json.never"},
        {"a file where a folder is expected", "mkdir -p \"$H/Library\"; echo x > \"$H/Library/Logs\"",
         "Could not create the folder \u201C$H/Library/Logs\u201D: Not a directory",
         "Library/Application Support/obs-studio/basic/scenes/Untitled.json"},
        {"a scene collection that is a folder", "mkdir \"$S/old.json\"",
         "Could not read \u201C" + scenesText + "/old.json\u201D: Is a directory",
         "Library/Application Support/obs-studio/basic/profiles/Relay/basic.ini"},
    };
    for (const auto& testCase : cases) {
        const std::string output = runCase(testCase);
        const std::string message = substituted(testCase.message, home().string());
        EXPECT_EQ(output.rfind(message, 0), 0u) << testCase.name << "\n" << output;
        EXPECT_NE(output.find("exit=1\n"), std::string::npos) << testCase.name << "\n" << output;
        if (!testCase.untouched.ends_with(".never")) {
            EXPECT_NE(output.find("untouched\n"), std::string::npos) << testCase.name << "\n" << output;
        }
        EXPECT_NE(output.find("clean\n"), std::string::npos) << testCase.name << "\n" << output;
        fs::remove_all(home());
        fs::copy(dir.path() / "copy", home(), fs::copy_options::recursive);
    }
}

}  // namespace
}  // namespace morvanta
