// A stand-in for macOS's launchctl and its per-user service manager, for the subcommands the
// installer uses: bootstrap, bootout, kickstart and print in the domain gui/<uid>. Exit statuses
// and messages follow the real tool's manner.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "standins/launchctl/AgentDefinition.h"
#include "standins/launchctl/AgentState.h"
#include "standins/launchctl/Supervisor.h"

namespace fs = std::filesystem;
using namespace morvanta::standins;
using namespace std::chrono_literals;

namespace {

constexpr int notFoundStatus = 113;

struct Target {
    uid_t uid = 0;
    std::string label;  // empty for a bare domain
};

// Parses "gui/<uid>" or "gui/<uid>/<label>"; nullopt when it is not such a specifier.
std::optional<Target> parseTarget(const std::string& text) {
    if (text.rfind("gui/", 0) != 0) return std::nullopt;
    const std::string rest = text.substr(4);
    const auto slash = rest.find('/');
    const std::string uid = rest.substr(0, slash);
    if (uid.empty() || uid.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    Target target{static_cast<uid_t>(std::stoul(uid)), slash == std::string::npos ? "" : rest.substr(slash + 1)};
    return target;
}

int usage() {
    std::cout << "Usage: launchctl bootstrap gui/<uid> <plist> | bootout gui/<uid>/<label> | "
                 "kickstart [-k] gui/<uid>/<label> | print gui/<uid>/<label>\n";
    return 64;
}

// Checks that `target` is this user's domain; prints the refusal of `verb` and returns its
// status otherwise, 0 when it is fine.
int checkDomain(const std::optional<Target>& target, const char* verb) {
    if (!target) {
        std::cout << "Unrecognized target specifier.\n";
        return 64;
    }
    if (target->uid != ::getuid()) {
        std::cout << verb << " failed: 1: Operation not permitted\n";
        return 1;
    }
    return 0;
}

// True when the agent in `folder` is loaded; forgets an agent whose supervisor died.
bool loaded(const fs::path& folder) {
    if (!fs::exists(folder)) return false;
    if (supervisorAlive(folder)) return true;
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return false;
}

int notFound(const Target& target) {
    std::cout << "Could not find service \"" << target.label << "\" in domain for user gui: " << target.uid << "\n";
    return notFoundStatus;
}

int bootstrap(const std::vector<std::string>& args) {
    if (args.size() != 2) return usage();
    const auto domain = parseTarget(args[0]);
    if (const int refused = checkDomain(domain, "Bootstrap")) return refused;
    if (!domain->label.empty()) {
        std::cout << "Bootstrap failed: 125: Domain does not support specified action\n";
        return 125;
    }
    AgentDefinition definition;
    try {
        definition = readAgentDefinition(args[1]);
    } catch (const std::exception& error) {
        std::cout << args[1] << ": " << error.what() << "\nBootstrap failed: 5: Input/output error\n";
        return 5;
    }
    const fs::path folder = agentFolder(definition.label);
    if (loaded(folder)) {
        std::cout << "Bootstrap failed: 5: Input/output error\n";
        return 5;
    }
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);
    writeText(folder / "definition", serialize(definition));
    writeText(folder / "plist", fs::absolute(args[1]).string());
    if (!startSupervisor(folder, definition)) {
        std::cout << "Bootstrap failed: 5: Input/output error\n";
        return 5;
    }
    return 0;
}

// Waits up to `limit` for `condition`.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

int bootout(const std::vector<std::string>& args) {
    if (args.size() != 1) return usage();
    const auto target = parseTarget(args[0]);
    if (const int refused = checkDomain(target, "Boot-out")) return refused;
    const fs::path folder = agentFolder(target->label);
    if (!loaded(folder)) {
        std::cout << "Boot-out failed: 3: No such process\n";
        return 3;
    }
    ::kill(readStatus(folder).supervisor, SIGTERM);
    waitUntil([&] { return !supervisorAlive(folder); }, 15s);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}

int kickstart(const std::vector<std::string>& args) {
    const bool kill = !args.empty() && args[0] == "-k";
    const std::vector<std::string> rest(args.begin() + (kill ? 1 : 0), args.end());
    if (rest.size() != 1) return usage();
    const auto target = parseTarget(rest[0]);
    if (const int refused = checkDomain(target, "Kickstart")) return refused;
    const fs::path folder = agentFolder(target->label);
    if (!loaded(folder)) return notFound(*target);
    const AgentStatus before = readStatus(folder);
    if (!kill && before.state == "running") return 0;
    ::kill(before.supervisor, SIGUSR1);
    waitUntil([&] { return readStatus(folder).runs > before.runs || !supervisorAlive(folder); }, 15s);
    return 0;
}

std::string reportedState(const AgentStatus& status) {
    if (status.state == "running" && (status.pid <= 0 || ::kill(status.pid, 0) != 0)) return "not running";
    return status.state;
}

int print(const std::vector<std::string>& args) {
    if (args.size() != 1) return usage();
    const auto target = parseTarget(args[0]);
    if (const int refused = checkDomain(target, "Print")) return refused;
    const fs::path folder = agentFolder(target->label);
    if (!loaded(folder)) return notFound(*target);
    const AgentStatus status = readStatus(folder);
    const AgentDefinition definition = deserialize(readText(folder / "definition"));
    const std::string state = reportedState(status);
    std::cout << "gui/" << target->uid << "/" << definition.label << " = {\n"
              << "\tactive count = " << (state == "running" ? 1 : 0) << "\n"
              << "\tpath = " << readText(folder / "plist") << "\n"
              << "\tstate = " << state << "\n\n"
              << "\tprogram = " << definition.programArguments.front() << "\n"
              << "\targuments = {\n";
    for (const auto& argument : definition.programArguments) std::cout << "\t\t" << argument << "\n";
    std::cout << "\t}\n\n";
    if (definition.workingDirectory) std::cout << "\tworking directory = " << *definition.workingDirectory << "\n";
    std::cout << "\tstdout path = " << definition.standardOutPath.value_or("/dev/null") << "\n"
              << "\tstderr path = " << definition.standardErrorPath.value_or("/dev/null") << "\n"
              << "\truns = " << status.runs << "\n";
    if (state == "running") std::cout << "\tpid = " << status.pid << "\n";
    if (status.lastExitCode) std::cout << "\tlast exit code = " << *status.lastExitCode << "\n";
    else std::cout << "\tlast exit code = (never exited)\n";
    std::cout << "}\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "bootstrap") return bootstrap(args);
        if (command == "bootout") return bootout(args);
        if (command == "kickstart") return kickstart(args);
        if (command == "print") return print(args);
    } catch (const std::exception& error) {
        std::cout << "launchctl: " << error.what() << "\n";
        return 1;
    }
    std::cout << "Unrecognized subcommand: " << command << "\n";
    return usage();
}
