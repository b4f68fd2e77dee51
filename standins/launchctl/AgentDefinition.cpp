#include "standins/launchctl/AgentDefinition.h"

#include <pugixml.hpp>

#include <cstring>
#include <sstream>
#include <stdexcept>

namespace morvanta::standins {

namespace {

bool isTrue(const pugi::xml_node& value) { return std::strcmp(value.name(), "true") == 0; }

void readValue(AgentDefinition& definition, const std::string& key, const pugi::xml_node& value) {
    const std::string type = value.name();
    if (key == "Label" && type == "string") definition.label = value.child_value();
    if (key == "WorkingDirectory" && type == "string") definition.workingDirectory = value.child_value();
    if (key == "StandardOutPath" && type == "string") definition.standardOutPath = value.child_value();
    if (key == "StandardErrorPath" && type == "string") definition.standardErrorPath = value.child_value();
    if (key == "RunAtLoad") definition.runAtLoad = isTrue(value);
    if (key == "KeepAlive") definition.keepAlive = isTrue(value);
    if (key == "ThrottleInterval" && type == "integer") definition.throttleInterval = std::atoi(value.child_value());
    if (key == "ProgramArguments" && type == "array") {
        for (pugi::xml_node item : value.children()) {
            if (std::strcmp(item.name(), "string") != 0) throw std::runtime_error("ProgramArguments holds a non-string");
            definition.programArguments.push_back(item.child_value());
        }
    }
}

// Escapes line feeds and backslashes so that every value stays on one line.
std::string escapeLine(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string unescapeLine(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        out += value[++i] == 'n' ? '\n' : value[i];
    }
    return out;
}

}  // namespace

AgentDefinition readAgentDefinition(const std::filesystem::path& path) {
    pugi::xml_document document;
    const pugi::xml_parse_result result = document.load_file(path.c_str());
    if (result.status == pugi::status_file_not_found) throw std::runtime_error("No such file or directory");
    if (!result) throw std::runtime_error(std::string("malformed property list: ") + result.description());
    const pugi::xml_node dict = document.child("plist").child("dict");
    if (!dict) throw std::runtime_error("malformed property list: no top-level dictionary");
    AgentDefinition definition;
    for (pugi::xml_node key = dict.child("key"); key; key = key.next_sibling("key")) {
        readValue(definition, key.child_value(), key.next_sibling());
    }
    if (definition.label.empty()) throw std::runtime_error("the definition has no Label");
    if (definition.programArguments.empty()) throw std::runtime_error("the definition has no ProgramArguments");
    if (definition.throttleInterval < 0) definition.throttleInterval = 0;
    return definition;
}

std::string serialize(const AgentDefinition& d) {
    std::ostringstream out;
    out << "label=" << escapeLine(d.label) << "\n";
    for (const auto& argument : d.programArguments) out << "argument=" << escapeLine(argument) << "\n";
    if (d.workingDirectory) out << "workingDirectory=" << escapeLine(*d.workingDirectory) << "\n";
    out << "runAtLoad=" << d.runAtLoad << "\nkeepAlive=" << d.keepAlive << "\nthrottleInterval=" << d.throttleInterval
        << "\n";
    if (d.standardOutPath) out << "standardOutPath=" << escapeLine(*d.standardOutPath) << "\n";
    if (d.standardErrorPath) out << "standardErrorPath=" << escapeLine(*d.standardErrorPath) << "\n";
    return out.str();
}

AgentDefinition deserialize(const std::string& text) {
    AgentDefinition d;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = unescapeLine(line.substr(equals + 1));
        if (key == "label") d.label = value;
        if (key == "argument") d.programArguments.push_back(value);
        if (key == "workingDirectory") d.workingDirectory = value;
        if (key == "runAtLoad") d.runAtLoad = value == "1";
        if (key == "keepAlive") d.keepAlive = value == "1";
        if (key == "throttleInterval") d.throttleInterval = std::atoi(value.c_str());
        if (key == "standardOutPath") d.standardOutPath = value;
        if (key == "standardErrorPath") d.standardErrorPath = value;
    }
    return d;
}

}  // namespace morvanta::standins
