// Any texts as label, arguments and folders: the definition is a well-formed property list whose
// values read back exactly, for every text XML can carry (valid UTF-8 without control characters
// other than tab and line feed).
#include <cstdint>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "platform/Utf8.h"
#include "services/LaunchAgent.h"

namespace {

bool carriable(const std::string& text) {
    for (const unsigned char c : text) {
        if (c < 0x20 && c != '\t' && c != '\n') return false;
    }
    return morvanta::isValidUtf8(text);
}

std::vector<std::string> split(const std::string& input) {
    std::vector<std::string> parts(1);
    for (const char c : input) {
        if (c == '\x1f') parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (!carriable(input)) return 0;
    std::vector<std::string> parts = split(input);
    while (parts.size() < 3) parts.emplace_back();
    const std::string label = parts[0];
    const std::string folder = "/" + parts[1];
    const std::vector<std::string> arguments(parts.begin() + 2, parts.end());
    const std::string text = morvanta::launchAgent(label, arguments, folder, folder);

    pugi::xml_document document;
    if (!document.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_ws_pcdata)) std::abort();
    std::vector<std::string> values;
    for (pugi::xml_node node : document.child("plist").child("dict").children()) {
        if (std::string(node.name()) == "string") values.emplace_back(node.child_value());
        if (std::string(node.name()) == "array") {
            for (pugi::xml_node item : node.children("string")) values.emplace_back(item.child_value());
        }
    }
    std::vector<std::string> expected{label};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    std::string base = folder;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    expected.push_back(base);
    const std::string logs = base == "/" ? "" : base;
    expected.push_back(logs + "/" + label + ".log");
    expected.push_back(logs + "/" + label + "-error.log");
    if (values != expected) std::abort();
    return 0;
}
