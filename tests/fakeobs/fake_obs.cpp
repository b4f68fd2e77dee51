// A small stand-in for OBS Studio, built into tests/fixtures/OBS.app. It runs until SIGTERM.
// Its behaviour comes from its arguments or, when started without any (as a launched bundle is),
// from the file fake-obs.conf in $HOME: "ignore-term" makes it ignore SIGTERM, "quit-after=N"
// makes it quit N seconds after SIGTERM ("quit-after-ms=N": N milliseconds). It appends what
// happens to $HOME/fake-obs.log.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string homeFile(const char* name) {
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "/tmp") + "/" + name;
}

void logLine(const std::string& line) {
    std::ofstream log(homeFile("fake-obs.log"), std::ios::app);
    log << line << " " << getpid() << "\n";
}

std::vector<std::string> settings(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    if (!words.empty()) return words;
    std::ifstream conf(homeFile("fake-obs.conf"));
    for (std::string word; conf >> word;) words.push_back(word);
    return words;
}

}  // namespace

int main(int argc, char** argv) {
    bool ignoreTerm = false;
    long quitAfterMs = 0;
    for (const auto& word : settings(argc, argv)) {
        if (word == "ignore-term") ignoreTerm = true;
        if (word.rfind("quit-after=", 0) == 0) quitAfterMs = 1000L * std::atol(word.c_str() + 11);
        if (word.rfind("quit-after-ms=", 0) == 0) quitAfterMs = std::atol(word.c_str() + 14);
    }
    sigset_t terms;
    sigemptyset(&terms);
    sigaddset(&terms, SIGTERM);
    sigprocmask(SIG_BLOCK, &terms, nullptr);
    logLine("started");
    for (;;) {
        int received = 0;
        sigwait(&terms, &received);
        logLine("asked to quit");
        if (ignoreTerm) continue;
        if (quitAfterMs > 0) {
            const timespec delay{quitAfterMs / 1000, (quitAfterMs % 1000) * 1'000'000};
            nanosleep(&delay, nullptr);
        }
        logLine("quit");
        return 0;
    }
}
