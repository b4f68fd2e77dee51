#include "tests/support/TestSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace morvanta::test {

TempDir::TempDir() : TempDir(fs::temp_directory_path()) {}

TempDir::TempDir(const fs::path& parent) {
    std::string pattern = (parent / "morvanta-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path.string());
    return st.st_mode & 07777;
}

std::vector<std::string> entryNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string snapshot(const fs::path& root) {
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_symlink()) {
            lines.push_back(relative + "->" + fs::read_symlink(entry.path()).string());
        } else if (entry.is_directory()) {
            lines.push_back(relative + "/");
        } else {
            lines.push_back(relative + "=" + readFile(entry.path()));
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

TestMachine::TestMachine() : now(std::chrono::sys_days{std::chrono::year{2026} / 12 / 11} + std::chrono::hours{9} +
                                 std::chrono::minutes{5} + std::chrono::seconds{7}) {
    fs::create_directories(home());
    fs::create_directories(applications());
    fs::copy(builtResourceFolder(), resources(), fs::copy_options::recursive);
}

void TestMachine::installObs() {
    fs::create_directories(applications() / "OBS.app" / "Contents" / "MacOS");
    writeFile(obsConfig() / "user.ini", "[General]\nFirstRun=true\n");
    writeFile(scenes() / "Untitled.json", R"({"name":"Untitled","sources":[]})");
}

Host TestMachine::host() const {
    Host host;
    host.workspace = &workspace;
    host.resourceFolder = resources();
    host.obsApplication = applications() / "OBS.app";
    host.obsStudioApplication = applications() / "OBS Studio.app";
    host.launchctl = root() / "launchctl";
    host.userId = 501;
    const auto fixed = now;
    host.now = [fixed] { return fixed; };
    return host;
}

fs::path builtResourceFolder() { return fs::path(MORVANTA_BUILD_DIR) / "MorvantaInstaller.app/Contents/Resources"; }
fs::path builtFakeObsBundle() { return fs::path(MORVANTA_BUILD_DIR) / "tests/fixtures/OBS.app"; }
fs::path testToolFolder() { return fs::path(MORVANTA_BUILD_DIR) / "tests/tools"; }

}  // namespace morvanta::test
