// Any bytes as a scene collection: the patch either refuses them with one of its two errors or
// produces JSON that parses, holds exactly one entry of ours at the end, keeps every other value
// as a second parser reads the input, and patches to itself.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "engine/InstallError.h"
#include "engine/SceneCollectionPatch.h"
#include "platform/PlatformError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string script = "/Users/ana/Library/Application Support/MorvantaMonitorRelay/morvanta-monitor-output.lua";
    std::string patched;
    try {
        patched = morvanta::patchedSceneCollection(bytes, "/x/Untitled.json", script);
    } catch (const morvanta::InstallError&) {
        return 0;
    } catch (const morvanta::PlatformError&) {
        return 0;
    }
    const auto document = nlohmann::json::parse(patched);
    const auto& scripts = document.at("modules").at("scripts-tool");
    if (scripts.back().at("path") != script) std::abort();
    auto original = nlohmann::json::parse(bytes, nullptr, false);
    if (!original.is_discarded()) {
        auto rest = document;
        rest.erase("modules");
        original.erase("modules");
        if (rest != original) std::abort();
    }
    if (morvanta::patchedSceneCollection(patched, "/x/Untitled.json", script) != patched) std::abort();
    return 0;
}
