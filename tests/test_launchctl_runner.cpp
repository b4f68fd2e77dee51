#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/InstallError.h"
#include "platform/PlatformError.h"
#include "services/Launchctl.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

class RunnerTest : public ::testing::Test {
protected:
    // Writes an executable shell script named `name` and returns its path.
    std::string tool(const std::string& name, const std::string& body) {
        const fs::path path = dir.path() / name;
        test::writeFile(path, "#!/bin/sh\n" + body + "\n");
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }
    // The message of the InstallError that `run` throws.
    std::string failure(const std::string& executable, const std::vector<std::string>& arguments) {
        try {
            run(executable, arguments, false);
        } catch (const InstallError& error) {
            EXPECT_EQ(error.kind(), InstallError::Kind::command);
            return error.errorDescription();
        }
        ADD_FAILURE() << "no InstallError";
        return {};
    }
    test::TempDir dir;
};

TEST_F(RunnerTest, ReturnsTheOutputOfASuccessfulTool) {
    EXPECT_EQ(run(tool("quiet", "exit 0"), {}, false), "");
    EXPECT_EQ(run(tool("echoer", "printf '%s|' \"$@\""), {"a b", "", "*", "$HOME", "'\""}, false), "a b||*|$HOME|'\"|");
}

TEST_F(RunnerTest, AllowedFailureReturnsTheOutputWithItsLineFeed) {
    EXPECT_EQ(run(tool("three", "echo 'Boot-out failed: 3: No such process'; exit 3"), {}, true),
              "Boot-out failed: 3: No such process\n");
}

TEST_F(RunnerTest, FailureComposesTheToolNameAndItsOutput) {
    EXPECT_EQ(failure(tool("launchctl", "exit 5"), {"bootstrap"}), "launchctl failed: ");
    EXPECT_EQ(failure(tool("launchctl", "echo 'Bootstrap failed: 5: Input/output error'; exit 5"), {}),
              "launchctl failed: Bootstrap failed: 5: Input/output error\n");
    EXPECT_EQ(failure(tool("killed", "kill -9 $$"), {}), "killed failed: ");
}

TEST_F(RunnerTest, InvalidUtf8ReadsAsEmptyText) {
    EXPECT_EQ(run(tool("binary", "printf 'state = running\\377'"), {}, false), "");
    EXPECT_EQ(failure(tool("launchctl", "printf '\\377'; exit 1"), {}), "launchctl failed: ");
}

TEST_F(RunnerTest, MergesStandardErrorInTheOrderWritten) {
    EXPECT_EQ(run(tool("mixed", "echo one; echo two >&2; echo three; echo four >&2"), {}, false),
              "one\ntwo\nthree\nfour\n");
}

TEST_F(RunnerTest, AMissingToolIsThePlatformErrorEvenWhenFailureIsAllowed) {
    const std::string missing = (dir.path() / "launchctl").string();
    try {
        run(missing, {"print"}, true);
        FAIL() << "no error";
    } catch (const PlatformError& error) {
        EXPECT_EQ(std::string(error.what()), "Could not run \u201C" + missing + "\u201D: No such file or directory");
    }
    test::writeFile(dir.path() / "plain", "not executable");
    EXPECT_THROW(run((dir.path() / "plain").string(), {}, true), PlatformError);
}

TEST_F(RunnerTest, DrainsLongOutputWhileTheToolRuns) {
    const std::string output = run(tool("chatty", "head -c 8000000 /dev/zero | tr '\\0' a; echo; echo done >&2"), {}, false);
    EXPECT_EQ(output.size(), 8000000u + 6u);
    EXPECT_EQ(output.substr(output.size() - 6), "\ndone\n");
}

TEST_F(RunnerTest, TheToolInheritsNoOtherDescriptor) {
    const int inheritable = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(inheritable, 3);
    const std::string probe = "[ -e /proc/$$/fd/" + std::to_string(inheritable) + " ] && echo leaked; exit 0";
    EXPECT_EQ(run(tool("fds", probe), {}, false), "");
    ::close(inheritable);
}

}  // namespace
}  // namespace morvanta
