#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "engine/Labels.h"
#include "engine/PathLayout.h"
#include "services/LaunchAgent.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

const fs::path golden = fs::path(MORVANTA_SOURCE_DIR) / "tests/golden";

std::string relayDocument(const PathLayout& layout) {
    return launchAgent(relayLabel, {layout.relayExecutable.string(), layout.relayConfiguration.string()},
                       layout.relayFolder, layout.relayLogFolder);
}

std::string discoveryDocument(const PathLayout& layout) {
    return launchAgent(discoveryLabel,
                       {"/usr/bin/dns-sd", "-R", "Morvanta Studio", "_morvantamonitor._udp", "local", "8890"},
                       std::nullopt, layout.relayLogFolder);
}

TEST(LaunchAgentTest, MatchesTheGoldenDocumentsByteForByte) {
    const PathLayout layout("/Users/ana");
    EXPECT_EQ(relayDocument(layout), test::readFile(golden / "relay.plist"));
    EXPECT_EQ(discoveryDocument(layout), test::readFile(golden / "discovery.plist"));
    EXPECT_EQ(relayDocument(layout), relayDocument(layout));
}

TEST(LaunchAgentTest, EmptyArgumentsAndATrailingSlashInFolders) {
    const std::string text = launchAgent("x", {}, fs::path("/w/"), fs::path("/logs/"));
    EXPECT_NE(text.find("<key>ProgramArguments</key><array></array>\n<key>WorkingDirectory</key><string>/w</string>\n"),
              std::string::npos);
    EXPECT_NE(text.find("<string>/logs/x.log</string>"), std::string::npos);
    EXPECT_EQ(text.back(), '>');
}

// The values of a rendered definition, read back by an XML parser.
struct ReadBack {
    std::string label;
    std::vector<std::string> arguments;
    std::string workingDirectory;
    std::string outPath;
    std::string errorPath;
};

ReadBack readBack(const std::string& text) {
    pugi::xml_document document;
    const auto result = document.load_buffer(text.data(), text.size());
    EXPECT_TRUE(result) << result.description() << "\n" << text;
    ReadBack values;
    const pugi::xml_node dict = document.child("plist").child("dict");
    for (pugi::xml_node key = dict.child("key"); key; key = key.next_sibling("key")) {
        const std::string name = key.child_value();
        const pugi::xml_node value = key.next_sibling();
        if (name == "Label") values.label = value.child_value();
        if (name == "WorkingDirectory") values.workingDirectory = value.child_value();
        if (name == "StandardOutPath") values.outPath = value.child_value();
        if (name == "StandardErrorPath") values.errorPath = value.child_value();
        if (name == "ProgramArguments") {
            for (pugi::xml_node item : value.children("string")) values.arguments.push_back(item.child_value());
        }
    }
    return values;
}

TEST(LaunchAgentTest, HostileValuesStayWellFormedAndReadBackExactly) {
    const std::vector<std::string> hostile = {
        "a&b", "<tag>", "x>y", "say \"hi\"", "it's", "Grabación ünïcode ✓", "&amp; already", "]]>", "&lt;", "tab\there",
    };
    for (const auto& value : hostile) {
        const std::string folder = "/Users/" + value + "/Logs";
        const std::string text = launchAgent(value, {value, "/bin/" + value}, fs::path("/Users/" + value), folder);
        const ReadBack values = readBack(text);
        EXPECT_EQ(values.label, value);
        EXPECT_EQ(values.arguments, (std::vector<std::string>{value, "/bin/" + value}));
        EXPECT_EQ(values.workingDirectory, "/Users/" + value);
        EXPECT_EQ(values.outPath, folder + "/" + value + ".log");
        EXPECT_EQ(values.errorPath, folder + "/" + value + "-error.log");
    }
}

TEST(LaunchAgentTest, EscapesInTheirOrder) {
    const std::string text = launchAgent("a&b", {"\"q\" 'a' <x>", "&amp;"}, std::nullopt, "/l");
    EXPECT_NE(text.find("<key>Label</key><string>a&amp;b</string>\n"), std::string::npos);
    EXPECT_NE(text.find("<string>&quot;q&quot; 'a' &lt;x&gt;</string><string>&amp;amp;</string></array>\n\n"),
              std::string::npos);
    EXPECT_NE(text.find("<string>/l/a&amp;b.log</string>"), std::string::npos);
    EXPECT_NE(text.find("<string>/l/a&amp;b-error.log</string>"), std::string::npos);
}

}  // namespace
}  // namespace morvanta
