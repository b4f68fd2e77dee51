#include "engine/SceneCollectionPatch.h"

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "engine/InstallError.h"
#include "engine/PathLayout.h"
#include "platform/PlatformError.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace morvanta {

namespace {

constexpr std::string_view scriptName = "morvanta-monitor-output.lua";

// Thrown inside the parser to stop it with our own reason.
struct JsonRefusal {
    std::string reason;
};

// Builds the document like the library's own DOM builder, and refuses nesting deeper than
// maxJsonDepth and numbers that do not fit a double (which could not be written back).
class GuardedBuilder {
public:
    explicit GuardedBuilder(Json& root) : dom_(root, true) {}

    bool null() { return dom_.null(); }
    bool boolean(bool value) { return dom_.boolean(value); }
    bool number_integer(Json::number_integer_t value) { return dom_.number_integer(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return dom_.number_unsigned(value); }
    bool number_float(Json::number_float_t value, const Json::string_t& text) {
        if (!std::isfinite(value)) throw JsonRefusal{"The number " + text + " is too large"};
        return dom_.number_float(value, text);
    }
    bool string(Json::string_t& value) { return dom_.string(value); }
    bool binary(Json::binary_t& value) { return dom_.binary(value); }
    bool start_object(std::size_t size) { return enter() && dom_.start_object(size); }
    bool key(Json::string_t& value) { return dom_.key(value); }
    bool end_object() { return leave() && dom_.end_object(); }
    bool start_array(std::size_t size) { return enter() && dom_.start_array(size); }
    bool end_array() { return leave() && dom_.end_array(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
        throw JsonRefusal{withoutLibraryPrefix(error.what())};
    }

private:
    bool enter() {
        if (++depth_ > maxJsonDepth) {
            throw JsonRefusal{"The JSON is nested more than " + std::to_string(maxJsonDepth) + " levels deep"};
        }
        return true;
    }
    bool leave() {
        --depth_;
        return true;
    }
    // The library's messages start with "[json.exception.parse_error.101] ".
    static std::string withoutLibraryPrefix(const std::string& message) {
        const auto end = message.find("] ");
        return message.rfind("[json.exception", 0) == 0 && end != std::string::npos ? message.substr(end + 2) : message;
    }

    nlohmann::detail::json_sax_dom_parser<Json> dom_;
    int depth_ = 0;
};

[[noreturn]] void refuse(const fs::path& file, const std::string& reason) {
    throw PlatformError("read the scene collection", file, std::make_error_code(std::errc::invalid_argument), reason);
}

// Parses `bytes` as a JSON document whose top level is an object or an array.
Json parseDocument(std::string_view bytes, const fs::path& file) {
    // The parser takes a NUL byte for the end of the input; JSON never holds one.
    if (bytes.find('\0') != std::string_view::npos) refuse(file, "The file holds a NUL byte, which JSON never does");
    Json root;
    GuardedBuilder builder(root);
    try {
        Json::sax_parse(bytes.begin(), bytes.end(), &builder, nlohmann::detail::input_format_t::json, true, false);
    } catch (const JsonRefusal& refusal) {
        refuse(file, refusal.reason);
    }
    if (!root.is_object() && !root.is_array()) refuse(file, "The top level is not a JSON object or array");
    return root;
}

bool isOurEntry(const Json& entry) {
    const auto path = entry.find("path");
    return path != entry.end() && path->is_string() &&
           path->get_ref<const std::string&>().find(scriptName) != std::string::npos;
}

bool isListOfObjects(const Json& value) {
    if (!value.is_array()) return false;
    for (const auto& element : value) {
        if (!element.is_object()) return false;
    }
    return true;
}

Json takeScripts(Json& modules) {
    const auto found = modules.find("scripts-tool");
    if (found == modules.end() || !isListOfObjects(*found)) return Json::array();
    Json scripts = Json::array();
    for (auto& entry : *found) {
        if (!isOurEntry(entry)) scripts.push_back(std::move(entry));
    }
    return scripts;
}

Json scriptEntry(const std::string& outputScriptPath) {
    return Json{{"path", outputScriptPath}, {"settings", Json{{"enabled", true}, {"profile_name", ""}}}};
}

}  // namespace

std::string makeBackupStamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H-%M-%SZ", &utc);
    return text;
}

std::string patchedSceneCollection(std::string_view bytes, const fs::path& file, const std::string& outputScriptPath) {
    Json root = parseDocument(bytes, file);
    if (!root.is_object()) throw InstallError::command("Invalid OBS scene file: " + file.filename().string());
    Json modules = Json::object();
    const auto found = root.find("modules");
    if (found != root.end() && found->is_object()) modules = std::move(*found);
    Json scripts = takeScripts(modules);
    scripts.push_back(scriptEntry(outputScriptPath));
    modules["scripts-tool"] = std::move(scripts);
    root["modules"] = std::move(modules);
    return root.dump(4, ' ', false, Json::error_handler_t::strict);
}

void patchSceneCollections(const FileManager& fm, const std::vector<fs::path>& collections,
                           const std::string& outputScriptPath, const std::string& backupStamp) {
    for (const auto& file : collections) {
        const std::string original = fm.readBytes(file);
        const std::string patched = patchedSceneCollection(original, file, outputScriptPath);
        fm.writeAtomically(PathLayout::backupCopy(file, backupStamp), original);
        fm.writeAtomically(file, patched);
    }
}

}  // namespace morvanta
