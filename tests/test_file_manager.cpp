#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "platform/FileManager.h"
#include "platform/PlatformError.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

using test::modeOf;
using test::readFile;
using test::TempDir;
using test::writeFile;

class FileManagerTest : public ::testing::Test {
protected:
    TempDir dir;
    const FileManager& fm = FileManager::shared();
};

// The text of the PlatformError that `action` throws; fails the test when none is thrown.
template <typename Action>
std::string platformErrorText(Action action) {
    try {
        action();
    } catch (const PlatformError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no PlatformError thrown";
    return {};
}

TEST_F(FileManagerTest, ExistenceFollowsLinksAndCoversFolders) {
    writeFile(dir.path() / "file", "x");
    fs::create_symlink(dir.path() / "file", dir.path() / "link");
    fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
    EXPECT_TRUE(fm.fileExists(dir.path() / "file"));
    EXPECT_TRUE(fm.fileExists(dir.path()));
    EXPECT_TRUE(fm.fileExists(dir.path() / "link"));
    EXPECT_FALSE(fm.fileExists(dir.path() / "dangling"));
    EXPECT_FALSE(fm.fileExists(dir.path() / "missing"));
}

TEST_F(FileManagerTest, ListingGivesFullPathsHiddenEntriesIncluded) {
    writeFile(dir.path() / "a.json", "");
    writeFile(dir.path() / "._a.json", "");
    fs::create_directory(dir.path() / "old.json");
    auto entries = fm.contentsOfDirectory(dir.path());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<fs::path>{dir.path() / "._a.json", dir.path() / "a.json", dir.path() / "old.json"}));
}

TEST_F(FileManagerTest, ListingFollowsTheFileSystemOrder) {
    for (const char* name : {"c.json", "a.json", "b.json", "z.json", "m.json"}) writeFile(dir.path() / name, "");
    std::vector<fs::path> expected;
    for (const auto& entry : fs::directory_iterator(dir.path())) expected.push_back(entry.path());
    EXPECT_EQ(fm.contentsOfDirectory(dir.path()), expected);
}

TEST_F(FileManagerTest, ListingAMissingFolderNamesIt) {
    EXPECT_EQ(platformErrorText([&] { fm.contentsOfDirectory(dir.path() / "basic/scenes"); }),
              "Could not list the folder \u201C" + (dir.path() / "basic/scenes").string() +
                  "\u201D: No such file or directory");
}

TEST_F(FileManagerTest, CreatesFoldersWithParentsAndAcceptsExistingOnes) {
    const fs::path deep = dir.path() / "Library/Logs/MorvantaMonitorRelay";
    fm.createDirectory(deep);
    fm.createDirectory(deep);
    fm.createDirectory(deep.string() + "/");
    EXPECT_TRUE(fs::is_directory(deep));
}

TEST_F(FileManagerTest, AFileInTheWayOfAFolderIsAnError) {
    writeFile(dir.path() / "Library/Logs/MorvantaMonitorRelay", "not a folder");
    const fs::path blocked = dir.path() / "Library/Logs/MorvantaMonitorRelay";
    EXPECT_EQ(platformErrorText([&] { fm.createDirectory(blocked); }),
              "Could not create the folder \u201C" + blocked.string() + "\u201D: Not a directory");
    EXPECT_THROW(fm.createDirectory(blocked / "below"), PlatformError);
}

TEST_F(FileManagerTest, RemovesAFolderWithItsContents) {
    writeFile(dir.path() / "mediamtx.yml/inner/file", "x");
    fm.removeItem(dir.path() / "mediamtx.yml");
    EXPECT_FALSE(fs::exists(dir.path() / "mediamtx.yml"));
}

TEST_F(FileManagerTest, CopyKeepsTheModeAndRefusesAnExistingDestination) {
    writeFile(dir.path() / "config", "secret");
    fs::permissions(dir.path() / "config", fs::perms::owner_read | fs::perms::owner_write);
    fm.copyItem(dir.path() / "config", dir.path() / "copy");
    EXPECT_EQ(readFile(dir.path() / "copy"), "secret");
    EXPECT_EQ(modeOf(dir.path() / "copy"), 0600u);
    EXPECT_THROW(fm.copyItem(dir.path() / "config", dir.path() / "copy"), PlatformError);
}

TEST_F(FileManagerTest, CopiesAFolderWithItsContents) {
    writeFile(dir.path() / "src/a/b", "deep");
    fm.copyItem(dir.path() / "src", dir.path() / "dst");
    EXPECT_EQ(readFile(dir.path() / "dst/a/b"), "deep");
}

TEST_F(FileManagerTest, SetsPermissions) {
    writeFile(dir.path() / "mediamtx", "#!");
    fm.setPosixPermissions(dir.path() / "mediamtx", 0755);
    EXPECT_EQ(modeOf(dir.path() / "mediamtx"), 0755u);
    EXPECT_THROW(fm.setPosixPermissions(dir.path() / "missing", 0755), PlatformError);
}

TEST_F(FileManagerTest, ReadsBytesExactly) {
    const std::string bytes("a\0b\xff\n", 5);
    writeFile(dir.path() / "bin", bytes);
    EXPECT_EQ(fm.readBytes(dir.path() / "bin"), bytes);
    writeFile(dir.path() / "empty", "");
    EXPECT_EQ(fm.readBytes(dir.path() / "empty"), "");
}

TEST_F(FileManagerTest, ReadsLargeFilesWithRoomToPad) {
    std::string bytes;
    for (int i = 0; bytes.size() < 5'000'000; ++i) bytes += std::to_string(i) + ',';
    writeFile(dir.path() / "large.json", bytes);
    const std::string read = fm.readBytes(dir.path() / "large.json");
    EXPECT_EQ(read, bytes);
    EXPECT_GE(read.capacity(), read.size() + 64);
}

TEST_F(FileManagerTest, ReadsFilesWhoseSizeIsNotKnownInAdvance) {
    // Files of /proc report a size of 0 but have content.
    const std::string status = fm.readBytes("/proc/self/status");
    EXPECT_NE(status.find("Umask:"), std::string::npos);
    EXPECT_EQ(status.back(), '\n');
}

TEST_F(FileManagerTest, ReadingAFolderSaysSo) {
    fs::create_directories(dir.path() / "basic.ini");
    EXPECT_EQ(platformErrorText([&] { fm.readBytes(dir.path() / "basic.ini"); }),
              "Could not read \u201C" + (dir.path() / "basic.ini").string() + "\u201D: Is a directory");
}

TEST_F(FileManagerTest, ReadingInvalidUtf8AsTextIsAnError) {
    writeFile(dir.path() / "basic.ini", "RecType=FFmpeg\n\xC3\x28\n");
    writeFile(dir.path() / "good.ini", "Grabaci\xC3\xB3n\n");
    EXPECT_EQ(fm.readUtf8(dir.path() / "good.ini"), "Grabaci\xC3\xB3n\n");
    EXPECT_EQ(platformErrorText([&] { fm.readUtf8(dir.path() / "basic.ini"); }),
              "Could not read \u201C" + (dir.path() / "basic.ini").string() + "\u201D: The file is not valid UTF-8 text");
}

TEST_F(FileManagerTest, AtomicWriteCreatesAFileWithTheOrdinaryMode) {
    const mode_t mask = ::umask(027);
    fm.writeAtomically(dir.path() / "new.json", "{}");
    ::umask(mask);
    EXPECT_EQ(readFile(dir.path() / "new.json"), "{}");
    EXPECT_EQ(modeOf(dir.path() / "new.json"), 0640u);
    EXPECT_EQ(test::entryNames(dir.path()), std::vector<std::string>{"new.json"});
}

TEST_F(FileManagerTest, AtomicWriteReplacesContentAndKeepsTheMode) {
    writeFile(dir.path() / "basic.ini", "old content that is longer");
    fs::permissions(dir.path() / "basic.ini", fs::perms::owner_read | fs::perms::owner_write);
    fm.writeUtf8Atomically(dir.path() / "basic.ini", "new");
    EXPECT_EQ(readFile(dir.path() / "basic.ini"), "new");
    EXPECT_EQ(modeOf(dir.path() / "basic.ini"), 0600u);
}

TEST_F(FileManagerTest, FailedAtomicWriteLeavesNoTemporaryFileAndNamesTheTarget) {
    writeFile(dir.path() / "scenes", "a file where a folder is expected");
    const fs::path target = dir.path() / "scenes/Untitled.json";
    EXPECT_EQ(platformErrorText([&] { fm.writeAtomically(target, "{}"); }),
              "Could not write \u201C" + target.string() + "\u201D: Not a directory");
    EXPECT_EQ(test::entryNames(dir.path()), std::vector<std::string>{"scenes"});
}

TEST_F(FileManagerTest, FailedRenameKeepsTheOldTargetAndRemovesTheTemporaryFile) {
    fs::create_directories(dir.path() / "Untitled.json/child");
    EXPECT_THROW(fm.writeAtomically(dir.path() / "Untitled.json", "{}"), PlatformError);
    EXPECT_TRUE(fs::is_directory(dir.path() / "Untitled.json/child"));
    EXPECT_EQ(test::entryNames(dir.path()), std::vector<std::string>{"Untitled.json"});
}

TEST_F(FileManagerTest, ALargeStreamedWriteArrivesWhole) {
    // Large enough to be flushed in the background while it is still being written.
    const fs::path target = dir.path() / "Big.json";
    std::string expected;
    fm.writeAtomically(target, [&](const FileManager::Sink& sink) {
        for (int i = 0; i < 40; ++i) {
            const std::string piece(size_t{1} << 19, static_cast<char>('a' + i % 26));
            expected += piece;
            sink(piece);
        }
    });
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(test::entryNames(dir.path()), std::vector<std::string>{"Big.json"});
}

TEST_F(FileManagerTest, AProducerFailingInTheMiddleOfALargeWriteLeavesTheOldFile) {
    const fs::path target = dir.path() / "Big.json";
    writeFile(target, "old");
    const auto produce = [](const FileManager::Sink& sink) {
        for (int i = 0; i < 12; ++i) sink(std::string(size_t{1} << 20, 'x'));
        throw std::runtime_error("the producer gave up");
    };
    EXPECT_THROW(fm.writeAtomically(target, produce), std::runtime_error);
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(test::entryNames(dir.path()), std::vector<std::string>{"Big.json"});
}

TEST_F(FileManagerTest, AtomicWriteThroughASymbolicLinkUpdatesItsTargetAndKeepsTheLink) {
    writeFile(dir.path() / "synced/Untitled.json", "old");
    fs::create_directories(dir.path() / "scenes");
    fs::create_symlink("../synced/Untitled.json", dir.path() / "scenes/Untitled.json");
    fm.writeAtomically(dir.path() / "scenes/Untitled.json", "new");
    EXPECT_TRUE(fs::is_symlink(dir.path() / "scenes/Untitled.json"));
    EXPECT_EQ(readFile(dir.path() / "synced/Untitled.json"), "new");
    EXPECT_EQ(test::entryNames(dir.path() / "synced"), std::vector<std::string>{"Untitled.json"});
}

ino_t inodeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

struct CopyCase {
    const char* name;
    bool otherName;         // the file has a second hard link elsewhere
    bool symlinked;         // the file is reached through a symbolic link
    bool changedSinceRead;  // the bytes read are no longer the file's size
    bool expectLinked;      // the copy is the old file itself rather than new bytes
};

class CopyAtomicallyTest : public FileManagerTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(CopyAtomicallyTest, KeepsTheBytesReadAfterTheSourceIsReplaced) {
    const CopyCase& c = GetParam();
    const fs::path file = dir.path() / "synced/Untitled.json";
    writeFile(file, "{\"old\": true}");
    if (c.otherName) fs::create_hard_link(file, dir.path() / "elsewhere.json");
    fs::path source = file;
    if (c.symlinked) {
        fs::create_directories(dir.path() / "scenes");
        source = dir.path() / "scenes/Untitled.json";
        fs::create_symlink("../synced/Untitled.json", source);
    }
    const std::string bytes = c.changedSinceRead ? "{}" : readFile(file);
    const ino_t original = inodeOf(file);
    const fs::path backup = source.string() + ".morvanta-backup-S";
    writeFile(backup, "an older backup of the same second");

    fm.writeCopyAtomically(source, bytes, backup);
    EXPECT_EQ(readFile(backup), bytes);
    EXPECT_EQ(inodeOf(backup) == original, c.expectLinked);
    fm.writeAtomically(source, "{\"new\": true}");

    EXPECT_EQ(readFile(file), "{\"new\": true}");
    EXPECT_EQ(readFile(backup), bytes);
    EXPECT_FALSE(fs::is_symlink(backup));
    EXPECT_EQ(fs::hard_link_count(backup), 1u);
    EXPECT_EQ(fs::is_symlink(source), c.symlinked);
    for (const auto& folder : {dir.path(), dir.path() / "synced", source.parent_path()}) {
        for (const auto& name : test::entryNames(folder)) EXPECT_EQ(name.find("morvanta-tmp"), std::string::npos) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyAtomicallyTest,
    ::testing::Values(CopyCase{"plain", false, false, false, true}, CopyCase{"otherName", true, false, false, false},
                      CopyCase{"symlinked", false, true, false, true},
                      CopyCase{"changedSinceRead", false, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileManagerTest, CopyAcrossFileSystemsWritesTheBytes) {
    const fs::path shm = "/dev/shm";
    struct stat here {}, there {};
    if (::stat(dir.path().c_str(), &here) != 0 || ::stat(shm.c_str(), &there) != 0 || here.st_dev == there.st_dev) {
        GTEST_SKIP() << "needs /dev/shm on another file system";
    }
    TempDir other(shm);
    writeFile(other.path() / "Untitled.json", "{}");
    fs::create_symlink(other.path() / "Untitled.json", dir.path() / "Untitled.json");
    fm.writeCopyAtomically(dir.path() / "Untitled.json", "{}", dir.path() / "Untitled.json.morvanta-backup-S");
    EXPECT_EQ(readFile(dir.path() / "Untitled.json.morvanta-backup-S"), "{}");
    EXPECT_EQ(test::entryNames(dir.path()).size(), 2u);
}

TEST_F(FileManagerTest, FailedCopyNamesTheCopy) {
    writeFile(dir.path() / "Untitled.json", "{}");
    const fs::path backup = dir.path() / "missing/Untitled.json.morvanta-backup-S";
    EXPECT_EQ(platformErrorText([&] { fm.writeCopyAtomically(dir.path() / "Untitled.json", "{}", backup); }),
              "Could not write \u201C" + backup.string() + "\u201D: No such file or directory");
    EXPECT_EQ(test::entryNames(dir.path()), std::vector<std::string>{"Untitled.json"});
}

TEST_F(FileManagerTest, WritingInvalidUtf8TextIsRefused) {
    EXPECT_THROW(fm.writeUtf8Atomically(dir.path() / "x.ini", "\xff"), PlatformError);
    EXPECT_FALSE(fs::exists(dir.path() / "x.ini"));
}

}  // namespace
}  // namespace morvanta
