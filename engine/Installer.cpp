#include "engine/Installer.h"

#include <utility>

#include "engine/PathLayout.h"
#include "engine/PayloadDeployment.h"
#include "engine/Preflight.h"
#include "engine/ProfilePatch.h"
#include "engine/SceneCollectionPatch.h"
#include "services/ServiceRegistration.h"

namespace morvanta {

Installer::Installer(const FileManager& fileManager, std::filesystem::path homeFolder, Host host)
    : fm(fileManager), home(std::move(homeFolder)), host_(std::move(host)) {}

void Installer::install() {
    const PathLayout layout(home);
    const auto sceneCollections = runPreflight(fm, host_, layout);
    createInstallFolders(fm, layout);
    deployPayloadFiles(fm, host_, layout);
    const std::string outputScriptPath = layout.outputScript.string();
    const std::string backupStamp = makeBackupStamp(host_.now());
    patchSceneCollections(fm, sceneCollections, outputScriptPath, backupStamp);
    patchProfiles(fm, layout, backupStamp);
    registerServices(fm, host_, layout);
}

}  // namespace morvanta
