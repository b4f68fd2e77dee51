#pragma once

#include <string>
#include <vector>

namespace morvanta {

// How a child process ended and everything it printed.
struct ProcessResult {
    // The exit status; for a child ended by a signal, the signal's number (never 0).
    int status = 0;
    // Standard output and standard error, merged in the order written.
    std::string output;
};

// Starts `executable` with `arguments` (argv[0] is the executable's path; no shell, nothing is
// split, quoted or expanded), one pipe as both its standard output and standard error, standard
// input and environment inherited, no other descriptor passed on. Reads the pipe to its end while
// the child runs, then waits for it. Throws PlatformError naming the program when it cannot be
// started.
ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& arguments);

}  // namespace morvanta
