// The whole installation over a realistic home (5 collections of 1 MB, 3 profiles, a 40 MB relay
// executable as payload) with the stand-in launchctl, split into its file work and its seven
// launchctl commands, beside the floor: copying the payload bytes and starting a trivial program
// seven times.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/Installer.h"
#include "engine/PayloadDeployment.h"
#include "engine/Preflight.h"
#include "engine/ProfilePatch.h"
#include "engine/SceneCollectionPatch.h"
#include "platform/Subprocess.h"
#include "services/ServiceRegistration.h"

namespace fs = std::filesystem;
using namespace morvanta;

namespace {

class NoApplications : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() const override { return {}; }
};

// The machine every benchmark of this file works on.
struct Machine {
    Machine() {
        ::setenv("MORVANTA_LAUNCHD_STATE", (dir.path() / "launchd").c_str(), 1);
        fs::create_directories(dir.path() / "Applications/OBS.app");
        const fs::path resources = dir.path() / "Resources";
        fs::create_directories(resources);
        fs::copy_file(fs::path(BUNDLE_RESOURCES) / "mediamtx", resources / "mediamtx");
        fs::copy_file(fs::path(BUNDLE_RESOURCES) / "mediamtx.yml", resources / "mediamtx.yml");
        fs::copy_file(fs::path(BUNDLE_RESOURCES) / "morvanta-monitor-output.lua", resources / "morvanta-monitor-output.lua");
        fs::resize_file(resources / "mediamtx", 40'000'000);  // a working executable, padded to 40 MB
        const fs::path config = home / "Library/Application Support/obs-studio";
        bench::writeFile(config / "user.ini", "[General]\n");
        for (int i = 0; i < 5; ++i) bench::writeFile(config / ("basic/scenes/Scene " + std::to_string(i) + ".json"), bench::generateSceneCollection(1'000'000));
        bench::writeFile(config / "basic/profiles/Relay/basic.ini", "[AdvOut]\nRecType=FFmpeg\nFFURL=srt://127.0.0.1:8890?streamid=publish:morvanta\n");
        bench::writeFile(config / "basic/profiles/Stream/basic.ini", "[AdvOut]\nRecType=Standard\n");
        bench::writeFile(config / "basic/profiles/Other/basic.ini", "[AdvOut]\nRecType=FFmpeg\nFFURL=file:///tmp/x.mkv\n");
        host.workspace = &workspace;
        host.resourceFolder = resources;
        host.obsApplication = dir.path() / "Applications/OBS.app";
        host.obsStudioApplication = host.obsApplication;
        host.launchctl = STANDIN_LAUNCHCTL;
        host.userId = ::getuid();
        host.now = [] { return std::chrono::system_clock::now(); };
    }
    ~Machine() {
        bench::stopAgents(STANDIN_LAUNCHCTL);
    }

    bench::ScratchDir dir;
    fs::path home = dir.path() / "home";
    NoApplications workspace;
    Host host;
};

Machine& machine() {
    static Machine instance;
    return instance;
}

void fileWork(benchmark::State& state) {
    Machine& m = machine();
    const PathLayout layout(m.home);
    const FileManager& fm = FileManager::shared();
    for (auto _ : state) {
        const auto collections = runPreflight(fm, m.host, layout);
        createInstallFolders(fm, layout);
        deployPayloadFiles(fm, m.host, layout);
        const std::string stamp = makeBackupStamp(m.host.now());
        patchSceneCollections(fm, collections, layout.outputScript.string(), stamp);
        patchProfiles(fm, layout, stamp);
    }
}

void launchctlCommands(benchmark::State& state) {
    Machine& m = machine();
    const PathLayout layout(m.home);
    Installer(FileManager::shared(), m.home, m.host).install();  // the files the agents need
    for (auto _ : state) registerServices(FileManager::shared(), m.host, layout);
}

void wholeInstall(benchmark::State& state) {
    Machine& m = machine();
    for (auto _ : state) Installer(FileManager::shared(), m.home, m.host).install();
}

void floorCopyPayload(benchmark::State& state) {
    Machine& m = machine();
    const fs::path target = m.dir.path() / "floor";
    for (auto _ : state) {
        fs::remove_all(target);
        fs::create_directories(target);
        for (const auto& entry : fs::directory_iterator(*m.host.resourceFolder)) {
            fs::copy_file(entry.path(), target / entry.path().filename());
        }
    }
}

// Replaces `path` with a copy of itself the shortest durable way: a new file written and flushed,
// renamed over it, the folder flushed.
void replaceDurably(const fs::path& path) {
    const fs::path temporary = path.parent_path() / ".floor-copy";
    fs::copy_file(path, temporary, fs::copy_options::overwrite_existing);
    bench::flushToDisk(temporary);
    fs::rename(temporary, path);
    bench::flushToDisk(path.parent_path());
}

// A lower bound for the file work as a whole: copying the payload bytes, and replacing every
// scene collection with its own bytes durably (no reading, no parsing, no backup).
void floorCopyPayloadAndReplaceCollections(benchmark::State& state) {
    Machine& m = machine();
    const fs::path target = m.dir.path() / "floor";
    const fs::path scenes = m.home / "Library/Application Support/obs-studio/basic/scenes";
    std::vector<fs::path> collections;
    for (const auto& entry : fs::directory_iterator(scenes)) {
        if (entry.path().extension() == ".json") collections.push_back(entry.path());
    }
    for (auto _ : state) {
        fs::remove_all(target);
        fs::create_directories(target);
        for (const auto& entry : fs::directory_iterator(*m.host.resourceFolder)) {
            fs::copy_file(entry.path(), target / entry.path().filename());
        }
        for (const auto& collection : collections) replaceDurably(collection);
    }
}

void floorSevenStarts(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < 7; ++i) runProcess("/bin/true", {});
    }
}

}  // namespace

// Each reports the median of several runs: this machine's memory and disk vary from one moment to the next.
#define MEASURED(function, name) \
    BENCHMARK(function)->Name(name)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true)

MEASURED(fileWork, "install/file_work");
MEASURED(launchctlCommands, "install/seven_launchctl_commands");
MEASURED(wholeInstall, "install/whole");
MEASURED(floorCopyPayload, "floor/copy_payload_bytes");
MEASURED(floorCopyPayloadAndReplaceCollections, "floor/copy_payload_and_replace_collections");
MEASURED(floorSevenStarts, "floor/seven_starts_of_true");
BENCHMARK_MAIN();
