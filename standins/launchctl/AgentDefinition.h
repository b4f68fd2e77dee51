#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace morvanta::standins {

// What the stand-in service manager honours of a launchd agent definition.
struct AgentDefinition {
    std::string label;
    std::vector<std::string> programArguments;
    std::optional<std::string> workingDirectory;
    bool runAtLoad = false;
    bool keepAlive = false;
    int throttleInterval = 10;
    std::optional<std::string> standardOutPath;
    std::optional<std::string> standardErrorPath;
};

// Reads the XML property list at `path`. Throws std::runtime_error with a reason for a missing or
// malformed file, or one without a Label or ProgramArguments.
AgentDefinition readAgentDefinition(const std::filesystem::path& path);

// The definition as lines of "key=value" with arguments one per line, and back; used for the
// agent's record in the state folder.
std::string serialize(const AgentDefinition& definition);
AgentDefinition deserialize(const std::string& text);

}  // namespace morvanta::standins
