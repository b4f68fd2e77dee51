#include "platform/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>
#include <thread>

#include "platform/LargeMemory.h"
#include "platform/PlatformError.h"
#include "platform/Utf8.h"

namespace fs = std::filesystem;

namespace morvanta {

namespace {

// Closes a descriptor when it leaves scope, unless released.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports close's own failure (where delayed write errors show up).
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

std::string quoted(const fs::path& path) { return "\u201C" + path.string() + "\u201D"; }

// The process's file-creation mask, read without changing it.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtol(line.c_str() + 6, nullptr, 8));
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Reads into `buffer` until it is full or the file ends; returns the number of bytes read.
size_t readFully(int fd, char* buffer, size_t size, const fs::path& path) {
    size_t used = 0;
    while (used < size) {
        const ssize_t n = ::read(fd, buffer + used, size - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwErrno("read", path);
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    return used;
}

void writeAll(int fd, std::string_view bytes, const fs::path& target) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwErrno("write", target);
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// Flushes a file that is being written to disk in the background, a few megabytes behind the
// writer, so that the flush at the end has little left to do: on some disks flushing costs as
// much as writing, and this way it overlaps with producing the rest of the content.
class BackgroundFlush {
public:
    explicit BackgroundFlush(int fd) : fd_(fd), thread_([this] { run(); }) {}
    ~BackgroundFlush() { finish(); }
    BackgroundFlush(const BackgroundFlush&) = delete;
    BackgroundFlush& operator=(const BackgroundFlush&) = delete;

    // Tells how many bytes the writer has written so far.
    void wrote(size_t total) {
        {
            const std::lock_guard lock(mutex_);
            written_ = total;
        }
        wake_.notify_one();
    }

    // Stops flushing and returns the first error a flush met, or 0. The last bytes are left to
    // the caller's own flush. Call from the writer's thread.
    int finish() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
        return error_;
    }

    // How far behind the writer a flush is started.
    static constexpr size_t step = size_t{4} << 20;

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || written_ - flushed_ >= step; });
            if (stopping_) return;
            const size_t target = written_;
            lock.unlock();
            const int result = ::fdatasync(fd_);
            const int error = result == 0 ? 0 : errno;
            lock.lock();
            flushed_ = target;
            if (error != 0) {
                error_ = error;
                return;
            }
        }
    }

    const int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    size_t written_ = 0;
    size_t flushed_ = 0;
    bool stopping_ = false;
    int error_ = 0;
    std::thread thread_;
};

// Writes the pieces of a temporary file in order; once the file is large, flushes what is
// written in the background (see BackgroundFlush).
class StreamingWrite {
public:
    StreamingWrite(int fd, const fs::path& target) : fd_(fd), target_(target) {}

    void operator()(std::string_view piece) {
        writeAll(fd_, piece, target_);
        written_ += piece.size();
        if (!flush_ && !flushByItself_ && written_ >= BackgroundFlush::step) startBackgroundFlush();
        if (flush_) flush_->wrote(written_);
    }

    // Ends the background flushing; throws its error, if any.
    void finish() {
        if (!flush_) return;
        if (const int error = flush_->finish()) throwErrno("write", target_, error);
    }

private:
    // Without a thread to spare, the final flush does all the work.
    void startBackgroundFlush() {
        try {
            flush_.emplace(fd_);
        } catch (const std::system_error&) {
            flushByItself_ = true;
        }
    }

    int fd_;
    const fs::path& target_;
    size_t written_ = 0;
    std::optional<BackgroundFlush> flush_;
    bool flushByItself_ = false;
};

// Follows symbolic links from `path` to the item they finally lead to (which may not exist).
fs::path resolveLinks(fs::path path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::error_code ec;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) throw PlatformError("read the link", path, ec);
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    throwErrno("write", path, ELOOP);
}

// Copies the open file `in` into the open file `out`, preferring the kernel's copy path.
void copyContents(int in, int out, const fs::path& source, const fs::path& destination) {
    bool kernelCopy = true;
    for (;;) {
        ssize_t n = 0;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            char buffer[1 << 16];
            n = ::read(in, buffer, sizeof buffer);
            if (n > 0) writeAll(out, std::string_view(buffer, static_cast<size_t>(n)), destination);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwErrno("copy " + quoted(source) + " to", destination);
        if (n == 0) return;
    }
}

void copyFile(const fs::path& source, const fs::path& destination, const struct stat& st) {
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) throwErrno("read", source);
    Fd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
    if (out.get() < 0) throwErrno("copy " + quoted(source) + " to", destination);
    try {
        copyContents(in.get(), out.get(), source, destination);
        if (::fchmod(out.get(), st.st_mode & 07777) != 0) throwErrno("set the permissions of", destination);
        if (out.close() != 0) throwErrno("copy " + quoted(source) + " to", destination);
    } catch (...) {
        ::unlink(destination.c_str());
        throw;
    }
}

void copyTree(const fs::path& source, const fs::path& destination);

void copyFolder(const fs::path& source, const fs::path& destination, const struct stat& st) {
    if (::mkdir(destination.c_str(), 0700) != 0) throwErrno("create the folder", destination);
    try {
        for (const auto& entry : FileManager::shared().contentsOfDirectory(source)) {
            copyTree(entry, destination / entry.filename());
        }
        if (::chmod(destination.c_str(), st.st_mode & 07777) != 0) throwErrno("set the permissions of", destination);
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(destination, ignored);
        throw;
    }
}

void copyTree(const fs::path& source, const fs::path& destination) {
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0) throwErrno("copy", source);
    if (S_ISDIR(st.st_mode)) return copyFolder(source, destination, st);
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(source, ec);
        if (ec) throw PlatformError("read the link", source, ec);
        if (::symlink(target.c_str(), destination.c_str()) != 0) throwErrno("create the link", destination);
        return;
    }
    copyFile(source, destination, st);
}

// The temporary name beside `target` for a file or link on its way to replacing it, with
// `suffix` for the unique part.
fs::path temporaryName(const fs::path& target, std::string_view suffix) {
    std::string name(".");
    name.append(target.filename().string()).append(".morvanta-tmp-").append(suffix);
    return target.parent_path() / name;
}

// Writes what `produce` passes to its sink into a fresh temporary file beside `target` and
// returns its path. The file is flushed to disk and given `mode`. On failure nothing is left
// behind.
fs::path writeTemporary(const fs::path& target, const std::function<void(const FileManager::Sink&)>& produce,
                        mode_t mode) {
    std::string pattern = temporaryName(target, "XXXXXX").string();
    Fd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.get() < 0) throwErrno("write", target);
    const fs::path temporary(pattern);
    try {
        StreamingWrite write(fd.get(), target);
        produce([&write](std::string_view piece) { write(piece); });
        write.finish();
        if (::fchmod(fd.get(), mode) != 0) throwErrno("write", target);
        if (::fsync(fd.get()) != 0) throwErrno("write", target);
        if (fd.close() != 0) throwErrno("write", target);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    return temporary;
}

void syncFolder(const fs::path& folder, const fs::path& target) {
    Fd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) throwErrno("write", target);
}

// Links the file `source` leads to under a fresh temporary name beside `target`; returns that
// name, or nothing when no link can be made there.
std::optional<fs::path> linkTemporary(const fs::path& source, const fs::path& target) {
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, 'X');
        for (char& c : suffix) c = letters[random() % (sizeof letters - 1)];
        fs::path temporary = temporaryName(target, suffix);
        if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) return temporary;
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

// True when `temporary`, just linked, is a regular file of `size` bytes with no name but its
// source and itself, whose data is flushed to disk (at no cost when it long was: the new name
// itself is made durable by flushing the folder).
bool isPrivateLinkOfSize(const fs::path& temporary, size_t size) {
    Fd fd(::open(temporary.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode) || st.st_nlink != 2 || static_cast<size_t>(st.st_size) != size) return false;
    return ::fdatasync(fd.get()) == 0;
}

}  // namespace

FileManager& FileManager::shared() {
    static FileManager instance;
    return instance;
}

bool FileManager::fileExists(const fs::path& path) const {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<fs::path> FileManager::contentsOfDirectory(const fs::path& path) const {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) throwErrno("list the folder", path);
    std::vector<fs::path> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) break;
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        entries.push_back(path / name);
    }
    if (errno != 0) throwErrno("list the folder", path);
    return entries;
}

void FileManager::createDirectory(const fs::path& path) const {
    fs::path prefix;
    for (const auto& component : path) {
        prefix /= component;
        if (component == prefix.root_path() || component.empty()) continue;
        if (::mkdir(prefix.c_str(), 0777) == 0) continue;
        const int error = errno;
        struct stat st {};
        if (error == EEXIST && ::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        throwErrno("create the folder", prefix, error == EEXIST ? ENOTDIR : error);
    }
}

void FileManager::removeItem(const fs::path& path) const {
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) throw PlatformError("remove", path, ec);
}

void FileManager::copyItem(const fs::path& source, const fs::path& destination) const {
    struct stat st {};
    if (::lstat(destination.c_str(), &st) == 0) {
        throwErrno("copy " + quoted(source) + " to", destination, EEXIST);
    }
    copyTree(source, destination);
}

void FileManager::setPosixPermissions(const fs::path& path, mode_t mode) const {
    if (::chmod(path.c_str(), mode) != 0) throwErrno("set the permissions of", path);
}

std::string FileManager::readBytes(const fs::path& path) const {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throwErrno("read", path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throwErrno("read", path);
    if (S_ISDIR(st.st_mode)) throwErrno("read", path, EISDIR);
    const size_t expected = static_cast<size_t>(st.st_size > 0 ? st.st_size : 0);
    std::string bytes;
    bytes.reserve(expected + 64);
    preferHugePages(bytes.data(), bytes.capacity());
    bytes.resize(expected);
    const size_t used = readFully(fd.get(), bytes.data(), expected, path);
    bytes.resize(used);
    if (used < expected) return bytes;
    // The file may hold more than its size said (a growing file, or one of /proc).
    char more[1 << 16];
    for (;;) {
        const size_t n = readFully(fd.get(), more, sizeof more, path);
        bytes.append(more, n);
        if (n < sizeof more) return bytes;
    }
}

std::string FileManager::readUtf8(const fs::path& path) const {
    std::string text = readBytes(path);
    if (!isValidUtf8(text)) {
        throw PlatformError("read", path, std::make_error_code(std::errc::illegal_byte_sequence),
                            "The file is not valid UTF-8 text");
    }
    return text;
}

void FileManager::writeAtomically(const fs::path& path, std::string_view bytes) const {
    writeAtomically(path, [bytes](const Sink& sink) { sink(bytes); });
}

void FileManager::writeAtomically(const fs::path& path, const std::function<void(const Sink&)>& produce) const {
    const fs::path target = resolveLinks(path);
    struct stat st {};
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    const fs::path temporary = writeTemporary(target, produce, mode);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throwErrno("write", target, error);
    }
    syncFolder(target.parent_path(), target);
}

void FileManager::writeCopyAtomically(const fs::path& source, std::string_view bytes, const fs::path& path) const {
    const fs::path target = resolveLinks(path);
    const auto temporary = linkTemporary(source, target);
    if (!temporary || !isPrivateLinkOfSize(*temporary, bytes.size())) {
        if (temporary) ::unlink(temporary->c_str());
        return writeAtomically(path, bytes);
    }
    if (::rename(temporary->c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary->c_str());
        throwErrno("write", target, error);
    }
    syncFolder(target.parent_path(), target);
}

void FileManager::writeUtf8Atomically(const fs::path& path, std::string_view text) const {
    if (!isValidUtf8(text)) {
        throw PlatformError("write", path, std::make_error_code(std::errc::illegal_byte_sequence),
                            "The text is not valid UTF-8");
    }
    writeAtomically(path, text);
}

}  // namespace morvanta
