// Patches one scene collection file, for measuring the patch's peak memory. With a second
// argument it writes there the peak resident memory of this program, in bytes. A child's
// rusage cannot serve: it also counts the memory of the parent it was started from.
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "engine/SceneCollectionPatch.h"

namespace {

// The peak resident memory of this program since it started (VmHWM), in bytes.
long peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) * 1024;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) return 2;
    try {
        morvanta::patchSceneCollections(morvanta::FileManager::shared(), {argv[1]},
                                        "/Users/ana/Library/Application Support/MorvantaMonitorRelay/morvanta-monitor-output.lua",
                                        "2026-12-11T09-05-07Z");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    if (argc == 3) std::ofstream(argv[2]) << peakResidentBytes() << '\n';
    return 0;
}
