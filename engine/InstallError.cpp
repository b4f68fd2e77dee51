#include "engine/InstallError.h"

#include <utility>

namespace morvanta {

namespace {

std::string describe(InstallError::Kind kind, const std::string& payload) {
    using Kind = InstallError::Kind;
    switch (kind) {
        case Kind::missingResource:
            return "Installer resource missing: " + payload;
        case Kind::command:
            return payload;
        case Kind::missingOBS:
            return "OBS Studio is not installed. / OBS Studio no está instalado.";
        case Kind::obsStillOpen:
            return "Close OBS Studio and try again. / Cierra OBS Studio y vuelve a intentarlo.";
        case Kind::noConfiguration:
            return "Open OBS Studio once, then run this installer again. / Abre OBS Studio una vez y "
                   "vuelve a ejecutar este instalador.";
        case Kind::noScenes:
            return "Create a scene in OBS Studio, then try again. / Crea una escena en OBS Studio y "
                   "vuelve a intentarlo.";
    }
    return payload;
}

}  // namespace

InstallError::InstallError(Kind kind, std::string payload)
    : kind_(kind), payload_(std::move(payload)), description_(describe(kind_, payload_)) {}

InstallError InstallError::missingResource(std::string name) {
    return InstallError(Kind::missingResource, std::move(name));
}
InstallError InstallError::command(std::string text) { return InstallError(Kind::command, std::move(text)); }
InstallError InstallError::missingOBS() { return InstallError(Kind::missingOBS, {}); }
InstallError InstallError::obsStillOpen() { return InstallError(Kind::obsStillOpen, {}); }
InstallError InstallError::noConfiguration() { return InstallError(Kind::noConfiguration, {}); }
InstallError InstallError::noScenes() { return InstallError(Kind::noScenes, {}); }

std::string InstallError::errorDescription() const { return description_; }

}  // namespace morvanta
