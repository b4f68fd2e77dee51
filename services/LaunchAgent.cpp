#include "services/LaunchAgent.h"

#include "engine/Text.h"

namespace fs = std::filesystem;

namespace morvanta {

namespace {

// The four escapes, in this order: "&" first, so the ampersands the others insert stay as they are.
std::string escaped(std::string_view value) {
    std::string text = replacingOccurrences(value, "&", "&amp;");
    text = replacingOccurrences(text, "<", "&lt;");
    text = replacingOccurrences(text, ">", "&gt;");
    return replacingOccurrences(text, "\"", "&quot;");
}

// `folder` + "/" + `name`, as text: `name` is appended even when it holds or starts with a slash.
std::string appendComponent(const fs::path& folder, const std::string& name) {
    const std::string base = plainPath(folder);
    return (base == "/" ? std::string() : base) + "/" + name;
}

std::string stringElement(std::string_view value) { return "<string>" + escaped(value) + "</string>"; }

}  // namespace

std::string launchAgent(std::string_view label, const std::vector<std::string>& arguments,
                        const std::optional<fs::path>& workingDirectory, const fs::path& logDirectory) {
    std::string programArguments;
    for (const auto& argument : arguments) programArguments += stringElement(argument);
    const std::string workingLine =
        workingDirectory ? "<key>WorkingDirectory</key>" + stringElement(plainPath(*workingDirectory)) : "";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>\n"
           "<key>Label</key>" + stringElement(label) + "\n"
           "<key>ProgramArguments</key><array>" + programArguments + "</array>\n" +
           workingLine + "\n"
           "<key>RunAtLoad</key><true/>\n"
           "<key>KeepAlive</key><true/>\n"
           "<key>ThrottleInterval</key><integer>5</integer>\n"
           "<key>StandardOutPath</key>" + stringElement(appendComponent(logDirectory, std::string(label) + ".log")) + "\n"
           "<key>StandardErrorPath</key>" + stringElement(appendComponent(logDirectory, std::string(label) + "-error.log")) + "\n"
           "</dict></plist>";
}

}  // namespace morvanta
