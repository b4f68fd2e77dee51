#include <gtest/gtest.h>

#include "engine/ProfilePatch.h"
#include "platform/PlatformError.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

using test::readFile;
using test::writeFile;

const std::string relayUrl = "FFURL=srt://127.0.0.1:8890?streamid=publish:morvanta";

struct ProfileCase {
    const char* name;
    std::string text;
    std::optional<std::string> expected;
};

TEST(ProfilePatchTest, SwitchesOnlyProfilesRecordingToTheLocalRelay) {
    const std::vector<ProfileCase> cases = {
        {"qualifying", "[AdvOut]\nRecType=FFmpeg\n" + relayUrl + "\n",
         "[AdvOut]\nRecType=Standard\n" + relayUrl + "\n"},
        {"markers in either order and other sections", "[A]\n" + relayUrl + "\n[B]\nRecType=FFmpeg\n",
         "[A]\n" + relayUrl + "\n[B]\nRecType=Standard\n"},
        {"another FFURL", "RecType=FFmpeg\nFFURL=srt://127.0.0.1:9000?streamid=publish:morvanta\n", std::nullopt},
        {"standard recording", "RecType=Standard\n" + relayUrl + "\n", std::nullopt},
        {"blanks around the equals sign", "RecType = FFmpeg\n" + relayUrl + "\n", std::nullopt},
        {"other letter case", "rectype=ffmpeg\n" + relayUrl + "\n", std::nullopt},
        {"FFURL longer than the marker", "RecType=FFmpeg\n" + relayUrl + "-2\n",
         "RecType=Standard\n" + relayUrl + "-2\n"},
        {"RecType=FFmpeg2", "RecType=FFmpeg2\n" + relayUrl, "RecType=Standard2\n" + relayUrl},
        {"two occurrences", "[A]\nRecType=FFmpeg\n[B]\nRecType=FFmpeg\n" + relayUrl,
         "[A]\nRecType=Standard\n[B]\nRecType=Standard\n" + relayUrl},
        {"CRLF line endings kept", "RecType=FFmpeg\r\n" + relayUrl + "\r\n", "RecType=Standard\r\n" + relayUrl + "\r\n"},
        {"no final line feed", relayUrl + "\nRecType=FFmpeg", relayUrl + "\nRecType=Standard"},
        {"empty", "", std::nullopt},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(patchedProfileSettings(testCase.text), testCase.expected) << testCase.name;
    }
}

class ProfileFilesTest : public ::testing::Test {
protected:
    void patch(const std::string& stamp) { patchProfiles(FileManager::shared(), layout, stamp); }

    test::TestMachine machine;
    PathLayout layout{machine.home()};
};

TEST_F(ProfileFilesTest, NoProfilesFolderIsNoError) { EXPECT_NO_THROW(patch("S1")); }

TEST_F(ProfileFilesTest, BacksUpAndSwitchesQualifyingProfilesOnly) {
    const std::string relayText = "[Output]\nMode=Advanced\n[AdvOut]\nRecType=FFmpeg\n" + relayUrl + "\n";
    const std::string otherText = "[AdvOut]\nRecType=FFmpeg\nFFURL=file:///tmp/out.mkv\n";
    writeFile(machine.profiles() / "Relay/basic.ini", relayText);
    writeFile(machine.profiles() / "Other/basic.ini", otherText);
    fs::create_directories(machine.profiles() / "Empty");
    writeFile(machine.profiles() / "stray.txt", "RecType=FFmpeg " + relayUrl);
    patch("2026-12-11T09-05-07Z");
    EXPECT_EQ(readFile(machine.profiles() / "Relay/basic.ini"),
              "[Output]\nMode=Advanced\n[AdvOut]\nRecType=Standard\n" + relayUrl + "\n");
    EXPECT_EQ(readFile(machine.profiles() / "Relay/basic.ini.morvanta-backup-2026-12-11T09-05-07Z"), relayText);
    EXPECT_EQ(test::entryNames(machine.profiles() / "Other"), std::vector<std::string>{"basic.ini"});
    EXPECT_EQ(readFile(machine.profiles() / "Other/basic.ini"), otherText);

    const std::string afterFirst = test::snapshot(machine.profiles());
    patch("2026-12-11T09-06-00Z");
    EXPECT_EQ(test::snapshot(machine.profiles()), afterFirst) << "a second run writes nothing";
}

TEST_F(ProfileFilesTest, InvalidUtf8IsAReadErrorAndTheProfileStaysUntouched) {
    const std::string text = "RecType=FFmpeg\n" + relayUrl + "\nName=\xff\n";
    writeFile(machine.profiles() / "Broken/basic.ini", text);
    try {
        patch("S1");
        FAIL() << "no error";
    } catch (const PlatformError& error) {
        EXPECT_NE(std::string(error.what()).find("Broken/basic.ini"), std::string::npos) << error.what();
    }
    EXPECT_EQ(test::entryNames(machine.profiles() / "Broken"), std::vector<std::string>{"basic.ini"});
    EXPECT_EQ(readFile(machine.profiles() / "Broken/basic.ini"), text);
}

TEST_F(ProfileFilesTest, ASettingsFileThatIsAFolderIsAReadError) {
    fs::create_directories(machine.profiles() / "Odd/basic.ini");
    EXPECT_THROW(patch("S1"), PlatformError);
}

}  // namespace
}  // namespace morvanta
