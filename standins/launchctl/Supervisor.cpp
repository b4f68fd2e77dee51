#include "standins/launchctl/Supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "standins/launchctl/AgentState.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace morvanta::standins {

namespace {

int openLog(const std::optional<std::string>& path) {
    if (!path) return ::open("/dev/null", O_WRONLY);
    return ::open(path->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// In the forked child: becomes the agent's program. Never returns.
[[noreturn]] void execProgram(const AgentDefinition& definition) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = openLog(definition.standardOutPath);
    const int err = openLog(definition.standardErrorPath);
    ::dup2(in, 0);
    ::dup2(out >= 0 ? out : in, 1);
    ::dup2(err >= 0 ? err : in, 2);
    ::close_range(3, ~0U, 0);
    if (definition.workingDirectory && ::chdir(definition.workingDirectory->c_str()) != 0) {
        std::fprintf(stderr, "launchctl: could not enter %s: %s\n", definition.workingDirectory->c_str(), std::strerror(errno));
        ::_exit(78);
    }
    std::vector<std::string> arguments = definition.programArguments;
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "launchctl: could not start %s: %s\n", argv[0], std::strerror(errno));
    ::_exit(78);
}

class Supervisor {
public:
    Supervisor(fs::path folder, AgentDefinition definition) : folder_(std::move(folder)), definition_(std::move(definition)) {
        status_.supervisor = ::getpid();
    }

    [[noreturn]] void run(int readyFd) {
        if (definition_.runAtLoad) start();
        save();
        (void)!::write(readyFd, "1", 1);
        ::close(readyFd);
        for (;;) waitForEvent();
    }

private:
    void start() {
        const pid_t child = ::fork();
        if (child == 0) execProgram(definition_);
        lastStart_ = Clock::now();
        scheduled_.reset();
        if (child < 0) return reschedule();
        ++status_.runs;
        status_.pid = child;
        status_.state = "running";
    }

    void reschedule() {
        if (!definition_.keepAlive || stopping_) {
            status_.state = "not running";
            return;
        }
        const auto earliest = lastStart_ + std::chrono::seconds(definition_.throttleInterval);
        scheduled_ = std::max(Clock::now(), earliest);
        status_.state = "spawn scheduled";
    }

    void reap() {
        int status = 0;
        for (pid_t pid; (pid = ::waitpid(-1, &status, WNOHANG)) > 0;) {
            if (pid != status_.pid) continue;
            status_.pid = 0;
            status_.lastExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            reschedule();
        }
    }

    void stopProgram() {
        if (status_.pid <= 0) return;
        ::kill(status_.pid, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (::waitpid(status_.pid, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                ::kill(status_.pid, SIGKILL);
                ::waitpid(status_.pid, &status, 0);
                break;
            }
            ::usleep(1000);
        }
        status_.lastExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        status_.pid = 0;
        status_.state = "not running";
    }

    void waitForEvent() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&set, signal);
        auto timeout = std::chrono::milliseconds(1000);
        if (scheduled_) {
            timeout = std::max(std::chrono::milliseconds(0),
                               std::chrono::duration_cast<std::chrono::milliseconds>(*scheduled_ - Clock::now()));
        }
        const timespec wait{static_cast<time_t>(timeout.count() / 1000), static_cast<long>(timeout.count() % 1000) * 1000000};
        const int signal = ::sigtimedwait(&set, nullptr, &wait);
        if (signal == SIGCHLD) reap();
        if (signal == SIGUSR1) {
            stopping_ = true;
            stopProgram();
            stopping_ = false;
            start();
        }
        if (signal == SIGTERM || signal == SIGINT || signal == SIGHUP) {
            stopping_ = true;
            stopProgram();
            save();
            ::_exit(0);
        }
        if (scheduled_ && Clock::now() >= *scheduled_) start();
        save();
    }

    void save() { writeStatus(folder_, status_); }

    fs::path folder_;
    AgentDefinition definition_;
    AgentStatus status_;
    Clock::time_point lastStart_;
    std::optional<Clock::time_point> scheduled_;
    bool stopping_ = false;
};

// In the grandchild: detaches from the caller and supervises until told to stop.
[[noreturn]] void becomeSupervisor(const fs::path& folder, const AgentDefinition& definition, int readyFd) {
    const int lock = ::open((folder / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) ::_exit(1);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2) ::close(null);
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != readyFd && fd != lock) ::close(fd);
    }
    ::chdir("/");
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    Supervisor(folder, definition).run(readyFd);
}

}  // namespace

bool startSupervisor(const fs::path& folder, const AgentDefinition& definition) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::close(ready[0]);
        ::setsid();
        if (::fork() == 0) becomeSupervisor(folder, definition, ready[1]);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::waitpid(child, nullptr, 0);
    pollfd waitReady{ready[0], POLLIN, 0};
    char byte = 0;
    const bool ok = ::poll(&waitReady, 1, 10000) == 1 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return ok;
}

}  // namespace morvanta::standins
