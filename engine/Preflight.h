#pragma once

#include <filesystem>
#include <vector>

#include "engine/Host.h"
#include "engine/PathLayout.h"
#include "platform/FileManager.h"

namespace morvanta {

// The checks before anything is changed, in order: OBS installed, OBS configured, scene
// collections found, OBS closed. Returns the scene collection list: every entry of the scene
// collection folder whose extension is exactly "json", in listing order. Throws InstallError
// (missingOBS, noConfiguration, noScenes, obsStillOpen) or the listing's PlatformError; changes
// nothing on disk.
std::vector<std::filesystem::path> runPreflight(const FileManager& fm, const Host& host, const PathLayout& layout);

}  // namespace morvanta
