#include "engine/PayloadDeployment.h"

#include <string>

#include "engine/InstallError.h"

namespace fs = std::filesystem;

namespace morvanta {

namespace {

void deployOne(const FileManager& fm, const Host& host, const PathLayout& layout, std::string_view name) {
    const fs::path destination = layout.relayFolder / name;
    if (!host.resourceFolder) throw InstallError::missingResource(std::string(name));
    const fs::path source = *host.resourceFolder / name;
    if (!fm.fileExists(source)) throw InstallError::missingResource(std::string(name));
    std::error_code ec;
    if (fm.fileExists(destination) || fs::is_symlink(destination, ec)) fm.removeItem(destination);
    fm.copyItem(source, destination);
}

}  // namespace

void createInstallFolders(const FileManager& fm, const PathLayout& layout) {
    fm.createDirectory(layout.relayFolder);
    fm.createDirectory(layout.relayLogFolder);
    fm.createDirectory(layout.agentFolder);
}

void deployPayloadFiles(const FileManager& fm, const Host& host, const PathLayout& layout) {
    for (const auto name : payloadFileNames) deployOne(fm, host, layout, name);
    fm.setPosixPermissions(layout.relayExecutable, 0755);
}

}  // namespace morvanta
