#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvanta {

// The definition of one per-user launchd agent as an XML property list of twelve lines (no line
// feed after the last): its label, program arguments, working folder (line 6 empty without one),
// RunAtLoad, KeepAlive, a 5-second ThrottleInterval, and the two log files
// <logDirectory>/<label>.log and <logDirectory>/<label>-error.log. Every inserted value is
// escaped ("&", "<", ">", then the double quote); nothing else is. Cannot fail.
std::string launchAgent(std::string_view label, const std::vector<std::string>& arguments,
                        const std::optional<std::filesystem::path>& workingDirectory,
                        const std::filesystem::path& logDirectory);

}  // namespace morvanta
