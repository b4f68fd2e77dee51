#include <gtest/gtest.h>

#include "engine/InstallError.h"
#include "engine/Labels.h"
#include "platform/PlatformError.h"
#include "services/LaunchAgent.h"
#include "services/ServiceRegistration.h"
#include "tests/support/FakeLaunchctl.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

using Calls = std::vector<std::vector<std::string>>;
const std::string relayTarget = "gui/501/com.brenmoorlabs.morvantamonitor.relay";
const std::string discoveryTarget = "gui/501/com.brenmoorlabs.morvantamonitor.discovery";

class RegistrationTest : public ::testing::Test {
protected:
    RegistrationTest() { fs::create_directories(layout.agentFolder); }

    void registerAll() { registerServices(FileManager::shared(), machine.host(), layout); }
    std::string failure() {
        try {
            registerAll();
        } catch (const InstallError& error) {
            return error.errorDescription();
        }
        ADD_FAILURE() << "no InstallError";
        return {};
    }

    test::TestMachine machine;
    PathLayout layout{machine.home()};
    test::FakeLaunchctl launchctl{machine.root() / "launchctl"};
};

TEST_F(RegistrationTest, FirstInstallationRunsTheSevenCommandsInOrder) {
    registerAll();
    const Calls expected = {
        {"bootout", relayTarget},
        {"bootstrap", "gui/501", layout.relayAgentDefinitionFile.string()},
        {"kickstart", "-k", relayTarget},
        {"bootout", discoveryTarget},
        {"bootstrap", "gui/501", layout.discoveryAgentDefinitionFile.string()},
        {"kickstart", "-k", discoveryTarget},
        {"print", relayTarget},
    };
    EXPECT_EQ(launchctl.calls(), expected);
    EXPECT_EQ(test::readFile(layout.relayAgentDefinitionFile),
              launchAgent(relayLabel, {layout.relayExecutable.string(), layout.relayConfiguration.string()},
                          layout.relayFolder, layout.relayLogFolder));
    EXPECT_EQ(test::readFile(layout.discoveryAgentDefinitionFile),
              launchAgent(discoveryLabel,
                          {"/usr/bin/dns-sd", "-R", "Morvanta Studio", "_morvantamonitor._udp", "local", "8890"},
                          std::nullopt, layout.relayLogFolder));
}

TEST_F(RegistrationTest, TheRelayCheckReadsThePrintReport) {
    const std::string relayMessage = "Relay did not start. / El repetidor no se inici\xC3\xB3.";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x = {\n\t\tstate = running\n}\n", ""},
        {"prefix state = running suffix", ""},
        {"x = {\n\tstate = not running\n}\n", relayMessage},
        {"x = {\n\tstate = spawn scheduled\n}\n", relayMessage},
        {"STATE = RUNNING", relayMessage},
        {"state = running\xff", relayMessage},
    };
    for (const auto& [report, expected] : cases) {
        launchctl.answer("print", report, 0);
        if (expected.empty()) {
            EXPECT_NO_THROW(registerAll()) << report;
        } else {
            EXPECT_EQ(failure(), expected) << report;
        }
    }
}

TEST_F(RegistrationTest, AFailingRelayBootstrapStopsBeforeAnyDiscoveryCommand) {
    launchctl.answer("bootstrap com.brenmoorlabs.morvantamonitor.relay", "Bootstrap failed: 5: Input/output error\n", 5);
    EXPECT_EQ(failure(), "launchctl failed: Bootstrap failed: 5: Input/output error\n");
    EXPECT_EQ(launchctl.calls().size(), 2u);
    EXPECT_TRUE(fs::exists(layout.discoveryAgentDefinitionFile));
}

TEST_F(RegistrationTest, AFailingPrintIsACommandError) {
    launchctl.answer("print", "Could not find service\n", 113);
    EXPECT_EQ(failure(), "launchctl failed: Could not find service\n");
}

TEST_F(RegistrationTest, AMissingLaunchctlIsThePlatformErrorAfterBothDefinitionsWereWritten) {
    fs::remove(launchctl.executable);
    EXPECT_THROW(registerAll(), PlatformError);
    EXPECT_TRUE(fs::exists(layout.relayAgentDefinitionFile));
    EXPECT_TRUE(fs::exists(layout.discoveryAgentDefinitionFile));
}

}  // namespace
}  // namespace morvanta
