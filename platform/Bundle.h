#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace morvanta {

// The string value of `key` in the top-level dictionary of the bundle's Contents/Info.plist, or
// none when the file is missing, malformed or has no such string.
std::optional<std::string> bundleInfoString(const std::filesystem::path& bundle, const std::string& key);

// The application bundle whose Contents/MacOS folder holds `executable` (the folder ending in
// ".app"), or none when the executable lies in no bundle.
std::optional<std::filesystem::path> bundleOfExecutable(const std::filesystem::path& executable);

// The resource folder (Contents/Resources) of the bundle holding the running executable, or none
// when the program does not run from a bundle.
std::optional<std::filesystem::path> mainBundleResourceFolder();

}  // namespace morvanta
