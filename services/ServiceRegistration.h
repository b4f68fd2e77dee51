#pragma once

#include "engine/Host.h"
#include "engine/PathLayout.h"
#include "platform/FileManager.h"

namespace morvanta {

// Writes the relay and discovery agent definitions (atomically, UTF-8, both before any command),
// then for the relay agent and then the discovery agent runs launchctl bootout (failure ignored),
// bootstrap and kickstart -k in the domain gui/<uid>, and finally asks launchctl to print the
// relay agent. Returns when that report contains "state = running". Throws the PlatformError of a
// failed write or of a launchctl that cannot be started, InstallError::command for a failed
// command, and InstallError::command("Relay did not start. / …") when the relay is not running.
void registerServices(const FileManager& fm, const Host& host, const PathLayout& layout);

}  // namespace morvanta
