#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace morvanta {

// `text` with every occurrence of `of` replaced by `with`: literal, case-sensitive, left to
// right, replacements never rescanned.
std::string replacingOccurrences(std::string_view text, std::string_view of, std::string_view with);

// The plain file-system path of `path`: no trailing slash (the root stays "/").
std::string plainPath(const std::filesystem::path& path);

}  // namespace morvanta
