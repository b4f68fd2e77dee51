#include "platform/PlatformError.h"

#include <cerrno>

namespace morvanta {

namespace {

std::string composeText(const std::string& action, const std::filesystem::path& path,
                        const std::string& reason) {
    return "Could not " + action + " \u201C" + path.string() + "\u201D: " + reason;
}

}  // namespace

PlatformError::PlatformError(const std::string& action, const std::filesystem::path& path,
                             std::error_code code)
    : PlatformError(action, path, code, code.message()) {}

PlatformError::PlatformError(const std::string& action, const std::filesystem::path& path,
                             std::error_code code, const std::string& reason)
    : std::system_error(code), path_(path), text_(composeText(action, path, reason)) {}

const char* PlatformError::what() const noexcept { return text_.c_str(); }

void throwErrno(const std::string& action, const std::filesystem::path& path) {
    throwErrno(action, path, errno);
}

void throwErrno(const std::string& action, const std::filesystem::path& path, int error) {
    throw PlatformError(action, path, std::error_code(error, std::generic_category()));
}

}  // namespace morvanta
