#include <gtest/gtest.h>

#include "engine/InstallError.h"

namespace morvanta {
namespace {

struct DescriptionCase {
    InstallError error;
    std::string expected;
};

TEST(InstallErrorTest, EveryCaseDescribesItselfExactly) {
    const std::vector<DescriptionCase> cases = {
        {InstallError::missingResource("mediamtx.yml"), "Installer resource missing: mediamtx.yml"},
        {InstallError::command(""), ""},
        {InstallError::command("launchctl failed: "), "launchctl failed: "},
        {InstallError::command("Relay did not start. / El repetidor no se inició."),
         "Relay did not start. / El repetidor no se inici\xC3\xB3."},
        {InstallError::missingOBS(), "OBS Studio is not installed. / OBS Studio no est\xC3\xA1 instalado."},
        {InstallError::obsStillOpen(), "Close OBS Studio and try again. / Cierra OBS Studio y vuelve a intentarlo."},
        {InstallError::noConfiguration(),
         "Open OBS Studio once, then run this installer again. / Abre OBS Studio una vez y vuelve a ejecutar "
         "este instalador."},
        {InstallError::noScenes(),
         "Create a scene in OBS Studio, then try again. / Crea una escena en OBS Studio y vuelve a intentarlo."},
    };
    for (const auto& [error, expected] : cases) {
        EXPECT_EQ(error.errorDescription(), expected);
        EXPECT_EQ(std::string(error.what()), expected);
    }
}

TEST(InstallErrorTest, KeepsItsKindAndPayloadWhenCopied) {
    const InstallError original = InstallError::missingResource("mediamtx");
    const InstallError copy = original;
    EXPECT_EQ(copy.kind(), InstallError::Kind::missingResource);
    EXPECT_EQ(copy.payload(), "mediamtx");
    EXPECT_EQ(InstallError::noScenes().payload(), "");
}

}  // namespace
}  // namespace morvanta
