#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "engine/InstallError.h"
#include "engine/SceneCollectionPatch.h"
#include "platform/PlatformError.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace morvanta {
namespace {

using test::readFile;
using test::writeFile;

const std::string scriptPath = "/Users/ana/Library/Application Support/MorvantaMonitorRelay/morvanta-monitor-output.lua";
const Json ourEntry = {{"path", scriptPath}, {"settings", {{"enabled", true}, {"profile_name", ""}}}};

Json patch(const std::string& input) {
    return Json::parse(patchedSceneCollection(input, "/scenes/Untitled.json", scriptPath));
}

struct PatchCase {
    const char* name;
    std::string input;
    Json expectedModules;
};

TEST(SceneCollectionPatchTest, RegistersTheScriptOnceAtTheEnd) {
    const Json other = {{"path", "/scripts/other.lua"}, {"settings", Json::object()}};
    const Json third = {{"path", "/scripts/third.py"}, {"settings", {{"x", 1}}}};
    const std::vector<PatchCase> cases = {
        {"no modules", R"({"name":"A"})", {{"scripts-tool", {ourEntry}}}},
        {"modules not an object", R"({"modules":[1,2]})", {{"scripts-tool", {ourEntry}}}},
        {"other modules kept", R"({"modules":{"auto-scene-switcher":{"active":false}}})",
         {{"auto-scene-switcher", {{"active", false}}}, {"scripts-tool", {ourEntry}}}},
        {"two foreign scripts kept in order",
         Json{{"modules", {{"scripts-tool", {other, third}}}}}.dump(), {{"scripts-tool", {other, third, ourEntry}}}},
        {"foreign, ours, foreign",
         Json{{"modules", {{"scripts-tool", {other, {{"path", "/x/morvanta-monitor-output.lua"}}, third}}}}}.dump(),
         {{"scripts-tool", {other, third, ourEntry}}}},
        {"earlier entry replaced and its settings reset",
         Json{{"modules",
               {{"scripts-tool",
                 {{{"path", scriptPath}, {"settings", {{"enabled", false}, {"profile_name", "Mine"}}}}}}}}}
             .dump(),
         {{"scripts-tool", {ourEntry}}}},
        {"several of ours, one in another folder",
         Json{{"modules",
               {{"scripts-tool",
                 {{{"path", scriptPath}}, other, {{"path", "/old/place/morvanta-monitor-output.lua.bak"}}}}}}}
             .dump(),
         {{"scripts-tool", {other, ourEntry}}}},
        {"other letter case not recognised",
         Json{{"modules", {{"scripts-tool", {{{"path", "/x/Morvanta-Monitor-Output.lua"}}}}}}}.dump(),
         {{"scripts-tool", {{{"path", "/x/Morvanta-Monitor-Output.lua"}}, ourEntry}}}},
        {"entries without path or with a numeric path kept",
         Json{{"modules", {{"scripts-tool", {{{"name", "x"}}, {{"path", 7}}}}}}}.dump(),
         {{"scripts-tool", {{{"name", "x"}}, {{"path", 7}}, ourEntry}}}},
        {"a list holding a non-object counts as absent",
         Json{{"modules", {{"scripts-tool", {other, 3}}}}}.dump(), {{"scripts-tool", {ourEntry}}}},
        {"scripts-tool not a list", R"({"modules":{"scripts-tool":{"path":"x"}}})", {{"scripts-tool", {ourEntry}}}},
    };
    for (const auto& testCase : cases) {
        const Json result = patch(testCase.input);
        EXPECT_EQ(result["modules"], testCase.expectedModules) << testCase.name;
    }
}

TEST(SceneCollectionPatchTest, KeepsEveryOtherValueExactly) {
    const std::string input =
        R"({"big":9223372036854775807,"huge":18446744073709551615,"neg":-9223372036854775808,)"
        R"("float":0.1,"tiny":1e-300,"exp":1.5E10,"negzero":-0.0,"text":"Grabaci\u00f3n \u2713 \"q\" a/b","nul":"a\u0000b",)"
        R"("nested":{"z":[{"b":null,"a":true}],"a":[]},"emptyObject":{},"dup":1,"dup":2})";
    const Json original = Json::parse(input);
    Json result = patch(input);
    result.erase("modules");
    EXPECT_EQ(result, original);
    EXPECT_EQ(result["big"].get<int64_t>(), INT64_MAX);
    EXPECT_EQ(result["huge"].get<uint64_t>(), UINT64_MAX);
    EXPECT_EQ(result["float"].get<double>(), 0.1);
    EXPECT_TRUE(std::signbit(result["negzero"].get<double>()));
    EXPECT_EQ(result["text"], "Grabación ✓ \"q\" a/b");
    EXPECT_EQ(result["nul"].get<std::string>(), std::string("a\0b", 3));
}

TEST(SceneCollectionPatchTest, LongStringsAndWideObjectsKeepTheirValues) {
    // Escapes on both sides of every 4 KiB stretch of a long string, and objects wide enough to
    // be sorted by a merge rather than in place, with a repeated key in each.
    std::string text(20'000, 'x');
    for (size_t at = 4094; at < text.size(); at += 4096) text.replace(at, 4, "\"\n\x01\\");
    Json input = {{"long", text}};
    std::string wide = "{";
    for (int i = 40; i >= 0; --i) wide += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    wide += "\"k7\":\"last\"}";
    const std::string raw = input.dump().insert(1, "\"wide\":" + wide + ",");
    const Json result = patch(raw);
    EXPECT_EQ(result["long"].get<std::string>(), text);
    EXPECT_EQ(result["wide"].size(), 41u);
    EXPECT_EQ(result["wide"]["k7"], "last");
    EXPECT_EQ(result["wide"]["k40"], 40);
    const std::string written = patchedSceneCollection(raw, "x.json", scriptPath);
    EXPECT_LT(written.find("\"k0\""), written.find("\"k1\"")) << "keys in byte order";
    EXPECT_LT(written.find("\"k39\""), written.find("\"k4\""));
}

TEST(SceneCollectionPatchTest, WritesSortedKeysAtEveryLevel) {
    const std::string text = patchedSceneCollection(R"({"z":{"b":1,"a":2},"a":0,"modules":{}})", "x.json", scriptPath);
    const auto at = [&](const std::string& piece) { return text.find(piece); };
    EXPECT_LT(at("\"a\": 0"), at("\"modules\""));
    EXPECT_LT(at("\"modules\""), at("\"z\""));
    EXPECT_LT(at("\"a\": 2"), at("\"b\": 1"));
    EXPECT_LT(at("\"path\""), at("\"settings\""));
    EXPECT_LT(at("\"enabled\""), at("\"profile_name\""));
    EXPECT_NE(text.find('\n'), std::string::npos) << "pretty-printed";
    EXPECT_NE(text.find(scriptPath), std::string::npos) << "the path is written plainly";
}

TEST(SceneCollectionPatchTest, ATopLevelArrayIsAnInvalidSceneFile) {
    try {
        patchedSceneCollection("[1,2]", "/home/ana/scenes/Untitled.json", scriptPath);
        FAIL() << "no error";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.errorDescription(), "Invalid OBS scene file: Untitled.json");
    }
}

TEST(SceneCollectionPatchTest, ContentThatIsNoObjectOrArrayIsAParseErrorNamingTheFile) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"malformed", "{\"a\":"},
        {"scalar", "42"},
        {"string", "\"text\""},
        {"invalid UTF-8", "{\"a\":\"\xC3\x28\"}"},
        {"NUL byte", std::string("{\"a\":1}\0", 8)},
        {"trailing garbage", "{} {}"},
        {"number too large for a double", "{\"a\":1e400}"},
        {"lone surrogate", R"({"a":"\ud800"})"},
        {"deeply nested", "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}"},
        {"a million levels", "{\"a\":" + std::string(1000000, '{') + "}"},
        {"a million levels of arrays unclosed", std::string(1000000, '[')},
    };
    for (const auto& [name, input] : cases) {
        try {
            patchedSceneCollection(input, "/home/ana/scenes/Untitled.json", scriptPath);
            ADD_FAILURE() << name << ": no error";
        } catch (const PlatformError& error) {
            EXPECT_NE(std::string(error.what()).find("\u201C/home/ana/scenes/Untitled.json\u201D: "), std::string::npos)
                << name << ": " << error.what();
        }
    }
}

TEST(SceneCollectionPatchTest, AcceptsAByteOrderMarkAndNestingUpToTheLimit) {
    EXPECT_EQ(patch("\xEF\xBB\xBF{\"a\":1}")["a"], 1);
    const int depth = maxJsonDepth - 1;
    const std::string deep = "{\"a\":" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
    EXPECT_NO_THROW(patch(deep));
}

TEST(BackupStampTest, IsIsoUtcWithDashes) {
    using namespace std::chrono;
    const auto time = sys_days{year{2026} / 1 / 2} + hours{3} + minutes{4} + seconds{5} + milliseconds{678};
    EXPECT_EQ(makeBackupStamp(time), "2026-01-02T03-04-05Z");
}

class SceneFilesTest : public ::testing::Test {
protected:
    void patchAll(const std::vector<fs::path>& files, const std::string& stamp) {
        patchSceneCollections(FileManager::shared(), files, scriptPath, stamp);
    }
    test::TempDir dir;
};

TEST_F(SceneFilesTest, BacksUpTheExactBytesThenRewrites) {
    const std::string original = "{ \"name\" : \"Untitled\",\n  \"sources\": [] }";
    writeFile(dir.path() / "Untitled.json", original);
    patchAll({dir.path() / "Untitled.json"}, "2026-12-11T09-05-07Z");
    EXPECT_EQ(readFile(dir.path() / "Untitled.json.morvanta-backup-2026-12-11T09-05-07Z"), original);
    EXPECT_EQ(Json::parse(readFile(dir.path() / "Untitled.json"))["modules"]["scripts-tool"], Json::array({ourEntry}));

    const std::string afterFirst = readFile(dir.path() / "Untitled.json");
    patchAll({dir.path() / "Untitled.json"}, "2026-12-11T09-05-08Z");
    EXPECT_EQ(readFile(dir.path() / "Untitled.json.morvanta-backup-2026-12-11T09-05-08Z"), afterFirst);
    EXPECT_EQ(readFile(dir.path() / "Untitled.json"), afterFirst) << "a second patch changes nothing more";
    patchAll({dir.path() / "Untitled.json"}, "2026-12-11T09-05-08Z");
    EXPECT_EQ(test::entryNames(dir.path()).size(), 3u) << "the same second replaces its backup";
}

TEST_F(SceneFilesTest, AFailureLeavesThatFileAndLaterOnesUntouched) {
    writeFile(dir.path() / "a.json", "{}");
    writeFile(dir.path() / "b.json", "{broken");
    writeFile(dir.path() / "c.json", "{}");
    EXPECT_THROW(patchAll({dir.path() / "a.json", dir.path() / "b.json", dir.path() / "c.json"}, "S"), PlatformError);
    EXPECT_EQ(test::entryNames(dir.path()),
              (std::vector<std::string>{"a.json", "a.json.morvanta-backup-S", "b.json", "c.json"}));
    EXPECT_EQ(readFile(dir.path() / "b.json"), "{broken");
    EXPECT_EQ(readFile(dir.path() / "c.json"), "{}");
}

TEST_F(SceneFilesTest, AFolderNamedLikeACollectionIsAReadError) {
    fs::create_directories(dir.path() / "old.json");
    try {
        patchAll({dir.path() / "old.json"}, "S");
        FAIL() << "no error";
    } catch (const PlatformError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Could not read \u201C" + (dir.path() / "old.json").string() + "\u201D: Is a directory");
    }
}

TEST_F(SceneFilesTest, PatchesALargeCollection) {
    // 100 MB; the sanitizer build, several times slower, is content with half of it.
#ifdef MORVANTA_SANITIZED
    constexpr size_t size = 50'000'000;
#else
    constexpr size_t size = 100'000'000;
#endif
    std::string text = R"({"name":"Big","sources":[)";
    for (int i = 0; text.size() < size; ++i) {
        if (i > 0) text += ',';
        const std::string n = std::to_string(i);
        text += R"({"name":"Source )" + n + R"(","settings":{"url":"https://example.invalid/)" + n +
                R"(","volume":)" + n + R"(.5},"filters":[{"id":"gain_filter","settings":{"db":-3.5}}]})";
    }
    text += "]}";
    writeFile(dir.path() / "Big.json", text);
    patchAll({dir.path() / "Big.json"}, "S");
    Json result = Json::parse(readFile(dir.path() / "Big.json"));
    EXPECT_EQ(result["modules"]["scripts-tool"], Json::array({ourEntry}));
    result.erase("modules");
    EXPECT_EQ(result, Json::parse(text));
}

}  // namespace
}  // namespace morvanta
