#pragma once

#include <array>
#include <string_view>

#include "engine/Host.h"
#include "engine/PathLayout.h"
#include "platform/FileManager.h"

namespace morvanta {

// The payload files, in the order they are deployed. Each keeps its name in the relay folder.
inline constexpr std::array<std::string_view, 3> payloadFileNames = {
    "mediamtx", "mediamtx.yml", "morvanta-monitor-output.lua"};

// Creates the relay folder, the relay log folder and the agent folder, in that order.
// Throws the PlatformError of the first creation that fails; existing folders are no failure.
void createInstallFolders(const FileManager& fm, const PathLayout& layout);

// Replaces each payload file in the relay folder with the resource of the same name, one after
// the other, then gives the relay executable mode 0755. Throws InstallError::missingResource for
// a resource that is absent (earlier files are already replaced), or the PlatformError of a
// failed removal, copy or permission change. Nothing is rolled back.
void deployPayloadFiles(const FileManager& fm, const Host& host, const PathLayout& layout);

}  // namespace morvanta
