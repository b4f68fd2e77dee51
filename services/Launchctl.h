#pragma once

#include <string>
#include <vector>

namespace morvanta {

// Runs `executable` with `arguments` as a child process and returns everything it printed on
// standard output and standard error, merged, decoded as UTF-8 (the empty text when the bytes are
// not valid UTF-8; never trimmed). A non-zero exit status (a signal included) with `allowFailure`
// false throws InstallError::command with the executable's last path component, " failed: " and
// the output. A tool that cannot be started throws PlatformError, whatever `allowFailure` says.
std::string run(const std::string& executable, const std::vector<std::string>& arguments, bool allowFailure);

}  // namespace morvanta
