#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace morvanta {

// The error of a file or process operation of the platform layer. Its text is what the window
// shows: the operation, the path and the system's reason, for example
// `Could not write “/home/ana/…/Untitled.json”: No space left on device`.
class PlatformError : public std::system_error {
public:
    // `action` is the verb phrase after "Could not" ("read", "create the folder"), `path` the
    // file concerned, `code` the system's reason.
    PlatformError(const std::string& action, const std::filesystem::path& path, std::error_code code);

    // As above, with a reason text of our own in place of the system's (a parser's message).
    PlatformError(const std::string& action, const std::filesystem::path& path, std::error_code code,
                  const std::string& reason);

    // The full text shown to the user.
    const char* what() const noexcept override;

    // The file the failed operation concerned.
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
    std::string text_;
};

// Throws the PlatformError for `action` on `path` with the current errno.
[[noreturn]] void throwErrno(const std::string& action, const std::filesystem::path& path);

// Throws the PlatformError for `action` on `path` with the given errno value.
[[noreturn]] void throwErrno(const std::string& action, const std::filesystem::path& path, int error);

}  // namespace morvanta
