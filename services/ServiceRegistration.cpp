#include "services/ServiceRegistration.h"

#include <string>
#include <vector>

#include "engine/InstallError.h"
#include "engine/Labels.h"
#include "services/LaunchAgent.h"
#include "services/Launchctl.h"

namespace fs = std::filesystem;

namespace morvanta {

namespace {

std::vector<std::string> discoveryArguments() {
    return {"/usr/bin/dns-sd", "-R", "Morvanta Studio", "_morvantamonitor._udp", "local", "8890"};
}

void writeDefinitions(const FileManager& fm, const PathLayout& layout) {
    const std::vector<std::string> relayArguments{layout.relayExecutable.string(), layout.relayConfiguration.string()};
    fm.writeUtf8Atomically(layout.relayAgentDefinitionFile,
                           launchAgent(relayLabel, relayArguments, layout.relayFolder, layout.relayLogFolder));
    fm.writeUtf8Atomically(layout.discoveryAgentDefinitionFile,
                           launchAgent(discoveryLabel, discoveryArguments(), std::nullopt, layout.relayLogFolder));
}

// Takes the agent out if it is loaded, loads its definition and restarts it.
void restartAgent(const std::string& launchctl, const std::string& domain, std::string_view label,
                  const fs::path& definition) {
    const std::string target = domain + "/" + std::string(label);
    run(launchctl, {"bootout", target}, true);
    run(launchctl, {"bootstrap", domain, definition.string()}, false);
    run(launchctl, {"kickstart", "-k", target}, false);
}

}  // namespace

void registerServices(const FileManager& fm, const Host& host, const PathLayout& layout) {
    writeDefinitions(fm, layout);
    const std::string launchctl = host.launchctl.string();
    const std::string domain = "gui/" + std::to_string(host.userId);
    restartAgent(launchctl, domain, relayLabel, layout.relayAgentDefinitionFile);
    restartAgent(launchctl, domain, discoveryLabel, layout.discoveryAgentDefinitionFile);
    const std::string report = run(launchctl, {"print", domain + "/" + std::string(relayLabel)}, false);
    if (report.find("state = running") == std::string::npos) {
        throw InstallError::command("Relay did not start. / El repetidor no se inició.");
    }
}

}  // namespace morvanta
