#include "engine/Preflight.h"

#include "engine/InstallError.h"
#include "engine/Labels.h"

namespace fs = std::filesystem;

namespace morvanta {

namespace {

void checkObsInstalled(const FileManager& fm, const Host& host) {
    if (fm.fileExists(host.obsApplication)) return;
    if (fm.fileExists(host.obsStudioApplication)) return;
    throw InstallError::missingOBS();
}

void checkObsConfigured(const FileManager& fm, const PathLayout& layout) {
    if (!fm.fileExists(layout.obsUserSettingsFile)) throw InstallError::noConfiguration();
}

// The extension after the last "." of the last component, without the dot.
std::string pathExtension(const fs::path& path) {
    const std::string name = path.filename().string();
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::vector<fs::path> findSceneCollections(const FileManager& fm, const PathLayout& layout) {
    std::vector<fs::path> collections;
    for (const auto& entry : fm.contentsOfDirectory(layout.sceneCollectionFolder)) {
        if (pathExtension(entry) == "json") collections.push_back(entry);
    }
    if (collections.empty()) throw InstallError::noScenes();
    return collections;
}

void checkObsClosed(const Host& host) {
    for (const auto& application : host.workspace->runningApplications()) {
        if (application.bundleIdentifier == obsBundleIdentifier) throw InstallError::obsStillOpen();
    }
}

}  // namespace

std::vector<fs::path> runPreflight(const FileManager& fm, const Host& host, const PathLayout& layout) {
    checkObsInstalled(fm, host);
    checkObsConfigured(fm, layout);
    auto collections = findSceneCollections(fm, layout);
    checkObsClosed(host);
    return collections;
}

}  // namespace morvanta
