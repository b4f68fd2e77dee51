// Stand-in for the relay server shipped with the installer: it takes the configuration path as
// its only argument, says that it started, and keeps running until SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mediamtx <configuration>\n");
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    std::printf("mediamtx placeholder relay started with configuration %s\n", argv[1]);
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    std::printf("mediamtx placeholder relay stopped\n");
    return 0;
}
