// Patches one scene collection file, for measuring the patch's peak memory from outside.
#include <cstdio>
#include <exception>

#include "engine/SceneCollectionPatch.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    try {
        morvanta::patchSceneCollections(morvanta::FileManager::shared(), {argv[1]},
                                        "/Users/ana/Library/Application Support/MorvantaMonitorRelay/morvanta-monitor-output.lua",
                                        "2026-12-11T09-05-07Z");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
