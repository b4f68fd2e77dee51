#include "engine/ProfilePatch.h"

#include "engine/Text.h"

namespace fs = std::filesystem;

namespace morvanta {

namespace {

constexpr std::string_view recordingTypeMarker = "RecType=FFmpeg";
constexpr std::string_view relayOutputMarker = "FFURL=srt://127.0.0.1:8890?streamid=publish:morvanta";
constexpr std::string_view standardRecordingType = "RecType=Standard";

}  // namespace

std::optional<std::string> patchedProfileSettings(std::string_view text) {
    if (text.find(recordingTypeMarker) == std::string_view::npos) return std::nullopt;
    if (text.find(relayOutputMarker) == std::string_view::npos) return std::nullopt;
    return replacingOccurrences(text, recordingTypeMarker, standardRecordingType);
}

void patchProfiles(const FileManager& fm, const PathLayout& layout, const std::string& backupStamp) {
    if (!fm.fileExists(layout.profilesFolder)) return;
    for (const auto& entry : fm.contentsOfDirectory(layout.profilesFolder)) {
        const fs::path settings = PathLayout::profileSettingsFile(entry);
        if (!fm.fileExists(settings)) continue;
        const std::string text = fm.readUtf8(settings);
        const auto patched = patchedProfileSettings(text);
        if (!patched) continue;
        fm.writeUtf8Atomically(PathLayout::backupCopy(settings, backupStamp), text);
        fm.writeUtf8Atomically(settings, *patched);
    }
}

}  // namespace morvanta
