#include "engine/Host.h"

#include <unistd.h>

#include "platform/Bundle.h"

namespace morvanta {

Host Host::system() {
    Host host;
    host.workspace = &Workspace::shared();
    host.resourceFolder = mainBundleResourceFolder();
    host.userId = ::getuid();
    host.now = [] { return std::chrono::system_clock::now(); };
    return host;
}

}  // namespace morvanta
