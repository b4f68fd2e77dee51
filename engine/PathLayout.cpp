#include "engine/PathLayout.h"

#include "engine/Labels.h"
#include "engine/Text.h"

namespace fs = std::filesystem;

namespace morvanta {

namespace {

}  // namespace

PathLayout::PathLayout(const fs::path& homeFolder)
    : home(plainPath(homeFolder)),
      obsConfigurationFolder(home / "Library/Application Support/obs-studio"),
      obsUserSettingsFile(obsConfigurationFolder / "user.ini"),
      sceneCollectionFolder(obsConfigurationFolder / "basic/scenes"),
      profilesFolder(obsConfigurationFolder / "basic/profiles"),
      relayFolder(home / "Library/Application Support/MorvantaMonitorRelay"),
      relayExecutable(relayFolder / "mediamtx"),
      relayConfiguration(relayFolder / "mediamtx.yml"),
      outputScript(relayFolder / "morvanta-monitor-output.lua"),
      relayLogFolder(home / "Library/Logs/MorvantaMonitorRelay"),
      agentFolder(home / "Library/LaunchAgents"),
      relayAgentDefinitionFile(agentFolder / (std::string(relayLabel) + ".plist")),
      discoveryAgentDefinitionFile(agentFolder / (std::string(discoveryLabel) + ".plist")) {}

fs::path PathLayout::profileSettingsFile(const fs::path& entry) { return entry / "basic.ini"; }

fs::path PathLayout::backupCopy(const fs::path& file, const std::string& backupStamp) {
    return fs::path(file.string() + ".morvanta-backup-" + backupStamp);
}

}  // namespace morvanta
