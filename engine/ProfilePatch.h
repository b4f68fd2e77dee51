#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/PathLayout.h"
#include "platform/FileManager.h"

namespace morvanta {

// The new text of a profile's settings when it records through the custom FFmpeg output to the
// local relay (it holds both "RecType=FFmpeg" and the relay's FFURL): every "RecType=FFmpeg"
// replaced by "RecType=Standard", every other character unchanged. None when it does not.
std::optional<std::string> patchedProfileSettings(std::string_view text);

// Switches back every qualifying profile in the profiles folder, in listing order: its text as
// read goes to its backup copy atomically, then the new text over it atomically. Does nothing
// when the profiles folder does not exist; skips entries without "basic.ini". Throws the
// PlatformError of a failed listing, read (invalid UTF-8 included) or write; nothing is rolled
// back.
void patchProfiles(const FileManager& fm, const PathLayout& layout, const std::string& backupStamp);

}  // namespace morvanta
