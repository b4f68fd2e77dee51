#include "engine/SceneCollectionPatch.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <simdjson.h>

#include "engine/InstallError.h"
#include "engine/PathLayout.h"
#include "platform/LargeMemory.h"
#include "platform/PlatformError.h"

namespace fs = std::filesystem;
namespace dom = simdjson::dom;

// All JSON handling of the installer is in this file: parsing with simdjson, and a writer of our
// own that pretty-prints with the keys of every object sorted and every value written back as it
// was read.

namespace morvanta {

namespace {

constexpr std::string_view scriptName = "morvanta-monitor-output.lua";
constexpr int indentWidth = 4;

[[noreturn]] void refuse(const fs::path& file, const std::string& reason) {
    throw PlatformError("read the scene collection", file, std::make_error_code(std::errc::invalid_argument), reason);
}

std::string describe(simdjson::error_code error) {
    switch (error) {
        case simdjson::DEPTH_ERROR:
            return "The JSON is nested more than " + std::to_string(maxJsonDepth) + " levels deep";
        case simdjson::MEMALLOC:
        case simdjson::CAPACITY:
            return "There is not enough memory to read the file";
        case simdjson::EMPTY:
            return "The file is empty";
        case simdjson::UTF8_ERROR:
            return "The file is not valid UTF-8 text";
        case simdjson::NUMBER_ERROR:
            return "The JSON holds a number that is malformed or too large to keep exactly";
        default:
            return std::string("The file is not valid JSON (") + simdjson::error_message(error) + ")";
    }
}

// Writes a parsed document back as pretty-printed JSON with sorted keys.
class Writer {
public:
    // Passes the text to `sink` in pieces of about a megabyte, so that a large document is never
    // held whole in memory; `buffer` holds the piece being written. One list of members per
    // nesting level is made up front, so that a reference to one level's list stays valid while
    // deeper levels are written.
    Writer(std::string& buffer, const FileManager::Sink& sink, size_t expectedSize)
        : out_(buffer), sink_(sink), scratch_(maxJsonDepth + 2) {
        out_.clear();
        out_.reserve(std::min(flushSize + (flushSize >> 2), expectedSize * 3));
    }

    // Passes on what is left; call once at the end.
    void finish() {
        sink_(out_);
        out_.clear();
    }

    void value(dom::element element, int depth) {
        switch (element.type()) {
            case dom::element_type::OBJECT: return object(dom::object(element), depth);
            case dom::element_type::ARRAY: return array(dom::array(element), depth);
            case dom::element_type::STRING: return string(std::string_view(element));
            case dom::element_type::INT64: return integer(int64_t(element));
            case dom::element_type::UINT64: return integer(uint64_t(element));
            case dom::element_type::DOUBLE: return floating(double(element));
            case dom::element_type::BOOL: return raw(bool(element) ? "true" : "false");
            case dom::element_type::NULL_VALUE: return raw("null");
        }
    }

    // Writes `members` (any order, duplicates allowed: the last one counts) as an object. A member
    // named `replaced` is written by `replacement` instead, and added when absent.
    template <typename Replacement>
    void object(dom::object members, int depth, std::string_view replaced, Replacement* replacement) {
        auto& fields = scratch(depth);
        for (auto field : members) fields.emplace_back(field.key, field.value);
        if (replacement != nullptr) fields.emplace_back(replaced, dom::element());
        std::stable_sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        out_ += '{';
        bool first = true;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i + 1 < fields.size() && fields[i + 1].first == fields[i].first) continue;
            separator(first, depth + 1);
            string(fields[i].first);
            out_ += ": ";
            if (replacement != nullptr && fields[i].first == replaced) {
                (*replacement)(depth + 1);
            } else {
                value(fields[i].second, depth + 1);
            }
        }
        close(first, depth, '}');
        fields.clear();
    }

    void object(dom::object members, int depth) { object<void(int)>(members, depth, {}, nullptr); }

    void array(dom::array elements, int depth) {
        out_ += '[';
        bool first = true;
        for (dom::element element : elements) {
            separator(first, depth + 1);
            value(element, depth + 1);
        }
        close(first, depth, ']');
    }

    // Opens the next element of an array or object on its own line.
    void separator(bool& first, int depth) {
        if (out_.size() >= flushSize) finish();
        if (!first) out_ += ',';
        first = false;
        newline(depth);
    }

    void close(bool empty, int depth, char bracket) {
        if (!empty) newline(depth);
        out_ += bracket;
    }

    void newline(int depth) {
        out_ += '\n';
        out_.append(static_cast<size_t>(depth * indentWidth), ' ');
    }

    void raw(std::string_view text) { out_ += text; }

    void string(std::string_view text) {
        out_ += '"';
        size_t start = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            out_.append(text.substr(start, i - start));
            escape(c);
            start = i + 1;
        }
        out_.append(text.substr(start));
        out_ += '"';
    }

    template <typename Integer>
    void integer(Integer number) {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, number);
        out_.append(digits, result.ptr);
    }

    // The shortest text that reads back as the same double, always recognisable as a float.
    void floating(double number) {
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, number);
        const std::string_view text(digits, static_cast<size_t>(result.ptr - digits));
        out_ += text;
        if (text.find_first_of(".eE") == std::string_view::npos) out_ += ".0";
    }

private:
    void escape(unsigned char c) {
        switch (c) {
            case '"': out_ += "\\\""; return;
            case '\\': out_ += "\\\\"; return;
            case '\b': out_ += "\\b"; return;
            case '\f': out_ += "\\f"; return;
            case '\n': out_ += "\\n"; return;
            case '\r': out_ += "\\r"; return;
            case '\t': out_ += "\\t"; return;
            default: {
                static const char hex[] = "0123456789abcdef";
                const char code[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                out_.append(code, sizeof code);
            }
        }
    }

    std::vector<std::pair<std::string_view, dom::element>>& scratch(int depth) {
        return scratch_.at(static_cast<size_t>(depth));
    }

    static constexpr size_t flushSize = size_t{1} << 20;

    std::string& out_;
    const FileManager::Sink& sink_;
    std::vector<std::vector<std::pair<std::string_view, dom::element>>> scratch_;
};

bool isOurEntry(dom::element entry) {
    std::string_view path;
    return !entry["path"].get(path) && path.find(scriptName) != std::string_view::npos;
}

// The "scripts-tool" list when it is an array of objects only; anything else counts as absent.
std::optional<dom::array> scriptsOf(dom::object modules) {
    dom::array scripts;
    if (modules["scripts-tool"].get(scripts)) return std::nullopt;
    for (dom::element entry : scripts) {
        if (!entry.is_object()) return std::nullopt;
    }
    return scripts;
}

void writeScripts(Writer& writer, std::optional<dom::array> scripts, const std::string& outputScriptPath, int depth) {
    writer.raw("[");
    bool first = true;
    if (scripts) {
        for (dom::element entry : *scripts) {
            if (isOurEntry(entry)) continue;
            writer.separator(first, depth + 1);
            writer.value(entry, depth + 1);
        }
    }
    writer.separator(first, depth + 1);
    writer.raw("{");
    writer.newline(depth + 2);
    writer.raw("\"path\": ");
    writer.string(outputScriptPath);
    writer.raw(",");
    writer.newline(depth + 2);
    writer.raw("\"settings\": {");
    writer.newline(depth + 3);
    writer.raw("\"enabled\": true,");
    writer.newline(depth + 3);
    writer.raw("\"profile_name\": \"\"");
    writer.newline(depth + 2);
    writer.raw("}");
    writer.newline(depth + 1);
    writer.raw("}");
    writer.close(false, depth, ']');
}

void writeModules(Writer& writer, std::optional<dom::object> modules, const std::string& outputScriptPath, int depth) {
    const auto scripts = modules ? scriptsOf(*modules) : std::nullopt;
    auto writeList = [&](int at) { writeScripts(writer, scripts, outputScriptPath, at); };
    if (!modules) {
        writer.raw("{");
        writer.newline(depth + 1);
        writer.string("scripts-tool");
        writer.raw(": ");
        writeList(depth + 1);
        writer.close(false, depth, '}');
        return;
    }
    writer.object(*modules, depth, "scripts-tool", &writeList);
}

// Patches one document after another, keeping the parser's memory and the buffers between
// them: on large collections most of the time goes into touching fresh memory.
class SceneCollectionPatcher {
public:
    // Parses `bytes`, the content of `file`, padding it in place for the parser and restoring it
    // afterwards. Throws as patchedSceneCollection does; the document lives until the next call.
    void parse(std::string& bytes, const fs::path& file) {
        if (bytes.find('\0') != std::string::npos) refuse(file, "The file holds a NUL byte, which JSON never does");
        const size_t size = bytes.size();
        size_ = size;
        const size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        const size_t capacity = std::max(size - start, dom::MINIMAL_DOCUMENT_CAPACITY);
        if (capacity > parser_.capacity() || parser_.max_depth() != maxJsonDepth) allocate(capacity, file);
        bytes.append(simdjson::SIMDJSON_PADDING, ' ');
        const auto error = parser_.parse(bytes.data() + start, size - start, false).get(root_);
        bytes.resize(size);
        if (error) refuse(file, describe(error));
        if (root_.is_array()) throw InstallError::command("Invalid OBS scene file: " + file.filename().string());
        if (!root_.is_object()) refuse(file, "The top level is not a JSON object or array");
    }

    // Writes the parsed document with the script entry to `sink`.
    void write(const std::string& outputScriptPath, const FileManager::Sink& sink) {
        dom::object modulesObject;
        const std::optional<dom::object> modules =
            root_["modules"].get(modulesObject) ? std::nullopt : std::optional<dom::object>(modulesObject);
        Writer writer(output_, sink, size_);
        auto writeModulesMember = [&](int depth) { writeModules(writer, modules, outputScriptPath, depth); };
        writer.object(dom::object(root_), 0, "modules", &writeModulesMember);
        writer.finish();
    }

private:
    // Makes room for documents of up to `capacity` bytes. The parser's index, tape and string
    // buffer are filled once per document; backing them with huge pages saves most of the page
    // faults on large collections. simdjson keeps these buffers in public members (the document's
    // are otherwise made on the first parse); the lengths advised are lower bounds of what it
    // allocates for `capacity`.
    void allocate(size_t capacity, const fs::path& file) {
        if (const auto error = parser_.allocate(capacity, maxJsonDepth)) refuse(file, describe(error));
        if (const auto error = parser_.doc.allocate(capacity)) refuse(file, describe(error));
        if (parser_.implementation) preferHugePages(parser_.implementation->structural_indexes.get(), capacity * 4);
        preferHugePages(parser_.doc.tape.get(), capacity * 8);
        preferHugePages(parser_.doc.string_buf.get(), capacity / 3 * 5);
    }

    dom::parser parser_;
    dom::element root_;
    size_t size_ = 0;
    std::string output_;
};

}  // namespace

std::string makeBackupStamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H-%M-%SZ", &utc);
    return text;
}

std::string patchedSceneCollection(std::string_view bytes, const fs::path& file, const std::string& outputScriptPath) {
    SceneCollectionPatcher patcher;
    std::string input(bytes);
    patcher.parse(input, file);
    std::string text;
    patcher.write(outputScriptPath, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

void patchSceneCollections(const FileManager& fm, const std::vector<fs::path>& collections,
                           const std::string& outputScriptPath, const std::string& backupStamp) {
    SceneCollectionPatcher patcher;
    for (const auto& file : collections) {
        std::string original = fm.readBytes(file);
        patcher.parse(original, file);
        fm.writeCopyAtomically(file, original, PathLayout::backupCopy(file, backupStamp));
        fm.writeAtomically(file, [&](const FileManager::Sink& sink) { patcher.write(outputScriptPath, sink); });
    }
}

}  // namespace morvanta
