// Any text as a profile: the patch changes nothing but the recording-type markers, and what it
// produces no longer qualifies.
#include <cstdint>
#include <cstdlib>

#include "engine/ProfilePatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto patched = morvanta::patchedProfileSettings(text);
    if (!patched) return 0;
    if (patched->find("RecType=FFmpeg") != std::string::npos) std::abort();
    if (morvanta::patchedProfileSettings(*patched)) std::abort();
    std::string back = *patched;
    for (size_t at = back.find("RecType=Standard"); at != std::string::npos; at = back.find("RecType=Standard", at + 14)) {
        back.replace(at, 16, "RecType=FFmpeg");
    }
    // Every marker came from "RecType=FFmpeg" or was already "RecType=Standard", so undoing all
    // of them gives the input with its own "RecType=Standard" markers undone too.
    std::string expected = text;
    for (size_t at = expected.find("RecType=Standard"); at != std::string::npos;
         at = expected.find("RecType=Standard", at + 14)) {
        expected.replace(at, 16, "RecType=FFmpeg");
    }
    if (back != expected) std::abort();
    return 0;
}
