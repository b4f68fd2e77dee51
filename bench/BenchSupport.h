#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace morvanta::bench {

// An OBS-like scene collection of about `bytes` bytes: many sources with nested settings and
// filters, scenes with items, and a scripts-tool list, pretty-printed with an indent of 4 as OBS
// saves it.
std::string generateSceneCollection(size_t bytes);

// Writes `bytes` to `path`, creating its folder.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// Stops both agents through the stand-in `launchctl`, whatever state they are in.
void stopAgents(const std::filesystem::path& launchctl);

// Runs `argv` (no shell) with its output discarded and waits; returns the exit status.
int runQuietly(const std::vector<std::string>& argv);

// Flushes the file at `path` to disk.
void flushToDisk(const std::filesystem::path& path);

// A fresh folder under the temporary folder, removed at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace morvanta::bench
