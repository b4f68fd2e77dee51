#include "standins/launchctl/AgentState.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace morvanta::standins {

fs::path stateRoot() {
    const char* configured = std::getenv("MORVANTA_LAUNCHD_STATE");
    const fs::path root = configured != nullptr && configured[0] != '\0'
                              ? fs::path(configured)
                              : fs::path("/tmp/morvanta-launchd-" + std::to_string(::getuid()));
    ::mkdir(root.c_str(), 0700);
    struct stat st {};
    if (::lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        throw std::runtime_error("unsafe state folder " + root.string() + " (it must be a folder of this user, mode 0700)");
    }
    return root;
}

fs::path agentFolder(const std::string& label) {
    if (label.empty() || label == "." || label == ".." || label.find('/') != std::string::npos) {
        throw std::runtime_error("invalid label \"" + label + "\"");
    }
    return stateRoot() / label;
}

bool supervisorAlive(const fs::path& folder) {
    const int fd = ::open((folder / "lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeText(const fs::path& path, const std::string& text) {
    const fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
    }
    fs::rename(temporary, path);
}

AgentStatus readStatus(const fs::path& folder) {
    AgentStatus status;
    std::istringstream in(readText(folder / "status"));
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "state") status.state = value;
        if (key == "pid") status.pid = std::atoi(value.c_str());
        if (key == "supervisor") status.supervisor = std::atoi(value.c_str());
        if (key == "runs") status.runs = std::atoi(value.c_str());
        if (key == "lastExitCode") status.lastExitCode = std::atoi(value.c_str());
    }
    return status;
}

void writeStatus(const fs::path& folder, const AgentStatus& status) {
    std::ostringstream out;
    out << "state=" << status.state << "\npid=" << status.pid << "\nsupervisor=" << status.supervisor
        << "\nruns=" << status.runs << "\n";
    if (status.lastExitCode) out << "lastExitCode=" << *status.lastExitCode << "\n";
    writeText(folder / "status", out.str());
}

}  // namespace morvanta::standins
