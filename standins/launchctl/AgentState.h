#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace morvanta::standins {

// The recorded state of one loaded agent, written by its supervisor.
struct AgentStatus {
    std::string state = "not running";  // "running", "not running" or "spawn scheduled"
    pid_t pid = 0;                       // the program's pid while running
    pid_t supervisor = 0;
    int runs = 0;
    std::optional<int> lastExitCode;
};

// The stand-in's private per-user state folder: $MORVANTA_LAUNCHD_STATE when set (tests), else
// /tmp/morvanta-launchd-<uid>. Created with mode 0700; refused (std::runtime_error) when it is not
// a real folder owned by this user and closed to others.
std::filesystem::path stateRoot();

// The folder of the agent `label` in the state root. Throws for a label that cannot name one.
std::filesystem::path agentFolder(const std::string& label);

// True while the supervisor of the agent in `folder` runs (it holds the folder's lock).
bool supervisorAlive(const std::filesystem::path& folder);

// Reads and atomically writes an agent's status.
AgentStatus readStatus(const std::filesystem::path& folder);
void writeStatus(const std::filesystem::path& folder, const AgentStatus& status);

// Reads and writes a small file of the agent folder.
std::string readText(const std::filesystem::path& path);
void writeText(const std::filesystem::path& path, const std::string& text);

}  // namespace morvanta::standins
