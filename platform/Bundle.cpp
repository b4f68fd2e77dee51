#include "platform/Bundle.h"

#include <pugixml.hpp>

#include <cstring>
#include <system_error>

namespace fs = std::filesystem;

namespace morvanta {

std::optional<std::string> bundleInfoString(const fs::path& bundle, const std::string& key) {
    pugi::xml_document document;
    if (!document.load_file((bundle / "Contents" / "Info.plist").c_str())) return std::nullopt;
    const pugi::xml_node dict = document.child("plist").child("dict");
    for (pugi::xml_node node = dict.child("key"); node; node = node.next_sibling("key")) {
        if (key != node.child_value()) continue;
        const pugi::xml_node value = node.next_sibling();
        if (std::strcmp(value.name(), "string") != 0) return std::nullopt;
        return std::string(value.child_value());
    }
    return std::nullopt;
}

std::optional<fs::path> bundleOfExecutable(const fs::path& executable) {
    const fs::path macos = executable.parent_path();
    const fs::path contents = macos.parent_path();
    const fs::path bundle = contents.parent_path();
    if (macos.filename() != "MacOS" || contents.filename() != "Contents") return std::nullopt;
    if (bundle.extension() != ".app") return std::nullopt;
    return bundle;
}

std::optional<fs::path> mainBundleResourceFolder() {
    std::error_code ec;
    const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    const auto bundle = bundleOfExecutable(executable);
    if (!bundle) return std::nullopt;
    return *bundle / "Contents" / "Resources";
}

}  // namespace morvanta
