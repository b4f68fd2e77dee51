#pragma once

#include <string_view>

namespace morvanta {

// The launchd labels of the two agents. They name the agent definition files and the agents,
// and are fixed when the program starts, before anything else runs.
inline constexpr std::string_view relayLabel = "com.brenmoorlabs.morvantamonitor.relay";
inline constexpr std::string_view discoveryLabel = "com.brenmoorlabs.morvantamonitor.discovery";

// The bundle identifier that marks a running application as OBS Studio.
inline constexpr std::string_view obsBundleIdentifier = "com.obsproject.obs-studio";

}  // namespace morvanta
