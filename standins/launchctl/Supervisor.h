#pragma once

#include <filesystem>

#include "standins/launchctl/AgentDefinition.h"

namespace morvanta::standins {

// Starts a detached supervisor for `definition`, recorded in `folder`: in a session of its own,
// holding none of the caller's descriptors, with the folder's lock held for its whole life. It
// starts the program at once when RunAtLoad is set, restarts it whenever it ends when KeepAlive is
// set (at least ThrottleInterval seconds after the previous start), restarts it at once on
// SIGUSR1, and stops it and itself on SIGTERM. Returns once the supervisor is ready (and, with
// RunAtLoad, has started the program); false when it could not be started.
bool startSupervisor(const std::filesystem::path& folder, const AgentDefinition& definition);

}  // namespace morvanta::standins
