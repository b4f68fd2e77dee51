#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileManager.h"

namespace morvanta {

// Deepest nesting of arrays and objects a scene collection may have. Deeper documents are
// refused before anything is written, so that no step can run out of stack on them.
inline constexpr int maxJsonDepth = 512;

// The stamp of one run's backups: the time as an ISO 8601 date-time in UTC with whole seconds
// and "Z", every ":" replaced by "-" (yyyy-MM-ddTHH-mm-ssZ).
std::string makeBackupStamp(std::chrono::system_clock::time_point time);

// The new content of the scene collection `file` whose bytes are `bytes`: every script entry
// whose "path" contains "morvanta-monitor-output.lua" removed from modules/scripts-tool, one
// entry for `outputScriptPath` appended, the whole document pretty-printed with sorted keys and
// every other value unchanged. Throws InstallError::command ("Invalid OBS scene file: <name>")
// for a top-level array, and a PlatformError naming `file` for anything that is not a JSON
// object or array, for invalid UTF-8 or a NUL byte, for a number that cannot be kept exactly
// (an integer beyond 64 bits, a value beyond the range of a double), and for nesting deeper than
// maxJsonDepth. Duplicate keys keep the last value.
std::string patchedSceneCollection(std::string_view bytes, const std::filesystem::path& file,
                                   const std::string& outputScriptPath);

// Patches each scene collection in list order: reads and parses it, writes the exact bytes read
// to its backup copy atomically, then streams the new content over it atomically. A collection
// that cannot be read or parsed is left untouched, without a backup. The first failure ends the
// step; collections already patched stay patched.
void patchSceneCollections(const FileManager& fm, const std::vector<std::filesystem::path>& collections,
                           const std::string& outputScriptPath, const std::string& backupStamp);

}  // namespace morvanta
