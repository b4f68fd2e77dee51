#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "engine/Labels.h"
#include "platform/Subprocess.h"

namespace fs = std::filesystem;

extern char** environ;

namespace morvanta::bench {

namespace {

std::string compactCollection(size_t sources) {
    std::string text = R"({"current_program_scene":"Main","current_scene":"Main","name":"Generated","sources":[)";
    for (size_t i = 0; i < sources; ++i) {
        const std::string n = std::to_string(i);
        if (i > 0) text += ',';
        text += R"({"balance":0.5,"deinterlace_mode":0,"enabled":true,"filters":[{"enabled":true,"id":"color_filter_v2",)"
                R"("name":"Color Correction","settings":{"brightness":0.02,"contrast":0.1,"gamma":-0.05,"saturation":0.2}},)"
                R"({"enabled":true,"id":"noise_suppress_filter_v2","name":"Noise","settings":{"method":"rnnoise"}}],)"
                R"("flags":0,"hotkeys":{"libobs.mute":[],"libobs.unmute":[]},"id":"ffmpeg_source","mixers":255,)"
                R"("muted":false,"name":"Media )" + n + R"(","private_settings":{},"settings":{"hw_decode":true,)"
                R"("local_file":"/Users/ana/Movies/clip)" + n + R"(.mov","looping":false,"restart_on_activate":true},)"
                R"("sync":0,"uuid":"5f1c)" + n + R"(-aa1e-4b63-9d35-0c6b1de4e7a2","versioned_id":"ffmpeg_source","volume":1.0})";
    }
    text += R"(],"modules":{"auto-scene-switcher":{"active":false,"interval":300,"switches":[]},)"
            R"("scripts-tool":[{"path":"/Users/ana/scripts/clock.lua","settings":{"format":"%H:%M"}}]},)"
            R"("scene_order":[{"name":"Main"}],"transitions":[]})";
    return text;
}

// As OBS saves collections: pretty-printed with an indent of 4, keys in OBS's own order.
std::string prettyCollection(size_t sources) {
    return nlohmann::ordered_json::parse(compactCollection(sources)).dump(4);
}

}  // namespace

std::string generateSceneCollection(size_t bytes) {
    constexpr size_t sample = 100;
    const size_t base = prettyCollection(0).size();
    const size_t perSource = (prettyCollection(sample).size() - base) / sample;
    return prettyCollection(bytes > base ? (bytes - base + perSource - 1) / perSource : 0);
}

namespace {

pid_t spawnQuietly(const std::vector<std::string>& argv) {
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (auto& arg : copy) args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

}  // namespace

int runQuietly(const std::vector<std::string>& argv) {
    int status = 0;
    waitpid(spawnQuietly(argv), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void stopAgents(const fs::path& launchctl) {
    const std::string domain = "gui/" + std::to_string(::getuid()) + "/";
    for (const auto label : {relayLabel, discoveryLabel}) {
        runProcess(launchctl.string(), {"bootout", domain + std::string(label)});
    }
}

void flushToDisk(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) throw std::runtime_error("cannot flush " + path.string());
    ::close(fd);
}

ScratchDir::ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "morvanta-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

}  // namespace morvanta::bench
