#include "platform/Subprocess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/PlatformError.h"

extern char** environ;

namespace morvanta {

namespace {

// Owns the file actions of one spawn.
class FileActions {
public:
    FileActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

std::string drain(int fd) {
    std::string output;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
    }
    return output;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return WTERMSIG(status);
    return 127;
}

}  // namespace

ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throwErrno("run", executable);
    FileActions actions;
    ::posix_spawn_file_actions_adddup2(actions.get(), pipeFds[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(actions.get(), pipeFds[1], STDERR_FILENO);
    ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);

    std::vector<std::string> argvStorage{executable};
    argvStorage.insert(argvStorage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argvStorage) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, executable.c_str(), actions.get(), nullptr, argv.data(), environ);
    ::close(pipeFds[1]);
    if (error != 0) {
        ::close(pipeFds[0]);
        throwErrno("run", executable, error);
    }
    ProcessResult result;
    result.output = drain(pipeFds[0]);
    ::close(pipeFds[0]);
    result.status = waitFor(pid);
    return result;
}

}  // namespace morvanta
