// Runs the file steps of an installation (preflight without OBS, folders, payload, scene
// collections, profiles) over a home, for the crash and fault tests:
//   file_steps <home> <resource folder> <obs application> [<repeat>]
// Prints the error's text and exits 1 on failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "engine/Host.h"
#include "engine/PathLayout.h"
#include "engine/PayloadDeployment.h"
#include "engine/Preflight.h"
#include "engine/ProfilePatch.h"
#include "engine/SceneCollectionPatch.h"

namespace {

class NoApplications : public morvanta::Workspace {
public:
    std::vector<morvanta::RunningApplication> runningApplications() const override { return {}; }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace morvanta;
    if (argc < 4) {
        std::fprintf(stderr, "usage: file_steps <home> <resources> <obs application> [<repeat>]\n");
        return 2;
    }
    NoApplications workspace;
    Host host;
    host.workspace = &workspace;
    host.resourceFolder = argv[2];
    host.obsApplication = argv[3];
    host.obsStudioApplication = argv[3];
    const PathLayout layout(argv[1]);
    const FileManager& fm = FileManager::shared();
    const int repeat = argc > 4 ? std::atoi(argv[4]) : 1;
    try {
        for (int i = 0; i < repeat; ++i) {
            const auto collections = runPreflight(fm, host, layout);
            createInstallFolders(fm, layout);
            deployPayloadFiles(fm, host, layout);
            const std::string stamp = makeBackupStamp(std::chrono::system_clock::now());
            patchSceneCollections(fm, collections, layout.outputScript.string(), stamp);
            patchProfiles(fm, layout, stamp);
        }
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
        return 1;
    }
    return 0;
}
