#include "services/Launchctl.h"

#include <filesystem>

#include "engine/InstallError.h"
#include "platform/Subprocess.h"
#include "platform/Utf8.h"

namespace morvanta {

std::string run(const std::string& executable, const std::vector<std::string>& arguments, bool allowFailure) {
    ProcessResult result = runProcess(executable, arguments);
    std::string output = isValidUtf8(result.output) ? std::move(result.output) : std::string();
    if (result.status == 0 || allowFailure) return output;
    const std::string tool = std::filesystem::path(executable).filename().string();
    throw InstallError::command(tool + " failed: " + output);
}

}  // namespace morvanta
