#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvanta {

// The file services the installer uses, on POSIX. Every failure throws PlatformError naming the
// operation, the path and the system's reason. The operations are virtual so that tests can wrap
// the real thing and inject faults.
class FileManager {
public:
    virtual ~FileManager() = default;

    // The process-wide file manager.
    static FileManager& shared();

    // True when an item of any kind exists at `path`, symbolic links followed. Never throws.
    virtual bool fileExists(const std::filesystem::path& path) const;

    // The immediate entries of the folder `path` as full paths, in the order the file system
    // gives, hidden entries included, "." and ".." left out. Throws when the folder is missing
    // or cannot be read.
    virtual std::vector<std::filesystem::path> contentsOfDirectory(
        const std::filesystem::path& path) const;

    // Creates the folder `path` and any missing parent folders. A folder already there is no
    // failure; anything else standing in the way is.
    virtual void createDirectory(const std::filesystem::path& path) const;

    // Removes the item at `path`: a file, a symbolic link (not what it points to) or a folder
    // with all its contents.
    virtual void removeItem(const std::filesystem::path& path) const;

    // Copies the item at `source` to `destination`, which must not exist. A file keeps its mode
    // and is copied through the kernel's copy path where it can be; a folder is copied with its
    // contents; a symbolic link is copied as a link. A failed copy leaves no partial destination.
    virtual void copyItem(const std::filesystem::path& source,
                          const std::filesystem::path& destination) const;

    // Sets the permission bits of the item at `path` (symbolic links followed).
    virtual void setPosixPermissions(const std::filesystem::path& path, mode_t mode) const;

    // The whole content of the file at `path`. The string has room for 64 more bytes, so that a
    // caller can pad it without copying.
    virtual std::string readBytes(const std::filesystem::path& path) const;

    // The whole content of the file at `path`, which must be valid UTF-8.
    virtual std::string readUtf8(const std::filesystem::path& path) const;

    // Replaces the file at `path` with `bytes` atomically: afterwards it holds either its old
    // content or all of `bytes`, never a mix, also after a crash. The bytes go to a uniquely
    // named temporary file in the same folder (whose name never ends in ".json"), are flushed to
    // disk and renamed over the target, and the folder is flushed. On failure the temporary file
    // is removed and the target is untouched. A new file gets mode 0666 less the umask; a
    // replaced file keeps its mode. When `path` is a symbolic link, the file it leads to is
    // replaced and the link stays.
    virtual void writeAtomically(const std::filesystem::path& path, std::string_view bytes) const;

    // Receives the pieces of a file's new content, in order.
    using Sink = std::function<void(std::string_view piece)>;
    // As writeAtomically, with the content produced piece by piece by `produce`, which passes
    // each piece to the sink it is given; an exception from `produce` fails the write the same
    // way, leaving the target untouched.
    virtual void writeAtomically(const std::filesystem::path& path, const std::function<void(const Sink&)>& produce) const;

    // As writeAtomically(path, bytes), for `bytes` just read whole from the file `source`, which
    // the caller is about to replace with writeAtomically. Where the file system allows it, the
    // file `source` leads to is linked at `path` instead of being copied, so that nothing is
    // written; once `source` is replaced (by a new file renamed over it), `path` is the only
    // name of the old file. It copies `bytes` instead when no link can be made there, or when
    // the file has other names or no longer has the size of `bytes`.
    virtual void writeCopyAtomically(const std::filesystem::path& source, std::string_view bytes,
                                     const std::filesystem::path& path) const;

    // As writeAtomically, for a text that must be valid UTF-8.
    virtual void writeUtf8Atomically(const std::filesystem::path& path, std::string_view text) const;
};

}  // namespace morvanta
