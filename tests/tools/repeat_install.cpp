// Runs whole installations one after the other for the current user with the real host, and
// checks that the installer's open descriptors do not grow:
//   repeat_install <count> <resource folder>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "engine/Installer.h"

namespace {

int openDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: repeat_install <count> <resource folder>\n");
        return 2;
    }
    morvanta::Host host = morvanta::Host::system();
    host.resourceFolder = argv[2];
    const std::filesystem::path home = ::getpwuid(::getuid())->pw_dir;
    const int count = std::atoi(argv[1]);
    int afterFirst = 0;
    for (int run = 1; run <= count; ++run) {
        try {
            morvanta::Installer(morvanta::FileManager::shared(), home, host).install();
        } catch (const std::exception& error) {
            std::printf("run %d failed: %s\n", run, error.what());
            return 1;
        }
        const int descriptors = openDescriptors();
        if (run == 1) afterFirst = descriptors;
        std::printf("run %d: %d open descriptors\n", run, descriptors);
        if (descriptors > afterFirst) {
            std::printf("descriptors grew from %d to %d\n", afterFirst, descriptors);
            return 1;
        }
    }
    return 0;
}
