// The scene collection patch on generated OBS-like collections, each size measured in the same run
// as its peers: the same edit by Python's json module and by jq, and the floor, cp of the bytes.
#include <benchmark/benchmark.h>

#include <fstream>

#include "bench/BenchSupport.h"
#include "engine/SceneCollectionPatch.h"

namespace fs = std::filesystem;
using namespace morvanta;
using morvanta::bench::ScratchDir;

namespace {

const std::string scriptPath = "/Users/ana/Library/Application Support/MorvantaMonitorRelay/morvanta-monitor-output.lua";

const char* const pythonPatch = R"PY(
import json, sys
path, script = sys.argv[1], sys.argv[2]
with open(path, encoding="utf-8") as f:
    root = json.load(f)
modules = root.get("modules") if isinstance(root.get("modules"), dict) else {}
scripts = modules.get("scripts-tool") if isinstance(modules.get("scripts-tool"), list) else []
scripts = [s for s in scripts if not (isinstance(s.get("path"), str) and "morvanta-monitor-output.lua" in s["path"])]
scripts.append({"path": script, "settings": {"enabled": True, "profile_name": ""}})
modules["scripts-tool"] = scripts
root["modules"] = modules
with open(path, "w", encoding="utf-8") as f:
    json.dump(root, f, sort_keys=True, indent=4, ensure_ascii=False)
)PY";

struct Size {
    const char* label;
    size_t bytes;
};

const Size sizes[] = {{"10KB", 10'000}, {"1MB", 1'000'000}, {"10MB", 10'000'000}, {"50MB", 50'000'000}};

// Puts the collection alone in `dir`, written and flushed to disk as OBS left it, so that every
// iteration of every peer starts from the same state.
void prepare(const fs::path& dir, const fs::path& file, const std::string& bytes) {
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    bench::flushToDisk(file);
}

// Runs `step` once per iteration over a fresh copy of the collection, timing only the step.
template <typename Step>
void measure(benchmark::State& state, const std::string& original, Step step) {
    ScratchDir dir;
    const fs::path file = dir.path() / "Untitled.json";
    for (auto _ : state) {
        state.PauseTiming();
        prepare(dir.path(), file, original);
        state.ResumeTiming();
        step(dir.path(), file);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * original.size()));
}

void registerSize(const Size& size) {
    const auto original = std::make_shared<std::string>(bench::generateSceneCollection(size.bytes));
    const auto iterations = size.bytes >= 10'000'000 ? 3 : 0;
    const auto add = [&](const std::string& name, auto step) {
        auto* b = benchmark::RegisterBenchmark((name + "/" + size.label).c_str(), [original, step](benchmark::State& s) {
            measure(s, *original, step);
        });
        // The median of several runs: this machine's memory and disk vary from one moment to the next.
        b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
        if (iterations > 0) b->Iterations(iterations);
    };
    add("patch", [](const fs::path&, const fs::path& file) {
        patchSceneCollections(FileManager::shared(), {file}, scriptPath, "2026-12-11T09-05-07Z");
    });
    add("python_json", [](const fs::path&, const fs::path& file) {
        bench::runQuietly({"python3", "-c", pythonPatch, file.string(), scriptPath});
    });
    add("jq", [](const fs::path& dir, const fs::path& file) {
        bench::runQuietly({"sh", "-c",
                           "jq -S --arg p \"$1\" '.modules[\"scripts-tool\"] = ([.modules[\"scripts-tool\"][]? | "
                           "select((.path // \"\") | tostring | contains(\"morvanta-monitor-output.lua\") | not)] + "
                           "[{path: $p, settings: {enabled: true, profile_name: \"\"}}])' \"$2\" > \"$3\"",
                           "sh", scriptPath, file.string(), (dir / "out.json").string()});
    });
    add("cp_floor", [](const fs::path& dir, const fs::path& file) {
        bench::runQuietly({"cp", file.string(), (dir / "copy.json").string()});
    });
}

void peakMemory(benchmark::State& state) {
    ScratchDir dir;
    const std::string original = bench::generateSceneCollection(50'000'000);
    const fs::path file = dir.path() / "Big.json";
    long peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        prepare(dir.path(), file, original);
        state.ResumeTiming();
        const fs::path report = dir.path() / "peak.txt";
        bench::runQuietly({PATCH_ONCE, file.string(), report.string()});
        std::ifstream(report) >> peak;
    }
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["x_size"] = static_cast<double>(peak) / static_cast<double>(original.size());
}

}  // namespace

int main(int argc, char** argv) {
    for (const auto& size : sizes) registerSize(size);
    benchmark::RegisterBenchmark("patch_peak_memory/50MB", peakMemory)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
