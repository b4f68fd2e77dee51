#include "engine/SceneCollectionPatch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
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

// Collects text in a buffer and passes it to a sink in pieces of the buffer's size, so that the
// text of a large document is never held whole. Callers ask for room, write into it directly and
// say where they stopped.
class TextBuffer {
public:
    // `storage` is kept by the caller so that its memory serves one document after another.
    TextBuffer(std::string& storage, const FileManager::Sink& sink, size_t size) : storage_(storage), sink_(sink) {
        if (storage_.size() < size) storage_.resize(size);
        reset();
    }

    // Space for at least `bytes` more bytes, valid until the next call to room.
    char* room(size_t bytes) {
        if (static_cast<size_t>(end_ - at_) >= bytes) return at_;
        flush();
        if (storage_.size() < bytes) {
            storage_.resize(bytes);
            reset();
        }
        return at_;
    }

    // Marks the text up to `to`, a place inside the last room given, as written.
    void advance(char* to) { at_ = to; }

    void put(char c) {
        *room(1) = c;
        ++at_;
    }

    // Writes `text`; a text as large as the buffer goes to the sink directly.
    void put(std::string_view text) {
        if (text.size() >= storage_.size() / 2) return passOn(text);
        char* to = room(text.size());
        std::memcpy(to, text.data(), text.size());
        at_ = to + text.size();
    }

    // Passes on the text written so far, then `text`.
    void passOn(std::string_view text) {
        flush();
        sink_(text);
    }

    // Passes on the text written so far.
    void flush() {
        if (at_ != begin_) sink_(std::string_view(begin_, static_cast<size_t>(at_ - begin_)));
        at_ = begin_;
    }

private:
    void reset() {
        begin_ = at_ = storage_.data();
        end_ = begin_ + storage_.size();
    }

    std::string& storage_;
    const FileManager::Sink& sink_;
    char* begin_ = nullptr;
    char* at_ = nullptr;
    char* end_ = nullptr;
};

// Which bytes a JSON string cannot hold as they are.
constexpr std::array<bool, 256> needsEscape = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[static_cast<size_t>(c)] = true;
    table['"'] = table['\\'] = true;
    return table;
}();

// Writes `c`, one of needsEscape, at `to` as a JSON escape; returns the end of what it wrote.
char* writeEscape(char* to, unsigned char c) {
    static const char hex[] = "0123456789abcdef";
    const char* shortForm = nullptr;
    switch (c) {
        case '"': shortForm = "\\\""; break;
        case '\\': shortForm = "\\\\"; break;
        case '\b': shortForm = "\\b"; break;
        case '\f': shortForm = "\\f"; break;
        case '\n': shortForm = "\\n"; break;
        case '\r': shortForm = "\\r"; break;
        case '\t': shortForm = "\\t"; break;
        default: {
            const char code[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            std::memcpy(to, code, sizeof code);
            return to + sizeof code;
        }
    }
    to[0] = shortForm[0];
    to[1] = shortForm[1];
    return to + 2;
}

// The length of the start of `text` that a JSON string can hold as it is. Looks at eight bytes at
// a time: a byte below 0x20, a quote or a backslash sets the high bit of its lane, and the lowest
// lane set is the first such byte (lanes above a set one may be set wrongly, never lanes below).
size_t plainPrefix(std::string_view text) {
    static_assert(std::endian::native == std::endian::little, "lanes are counted from the low end");
    constexpr uint64_t ones = 0x0101010101010101;
    constexpr uint64_t highs = 0x8080808080808080;
    const auto zeroLanes = [](uint64_t word) { return (word - ones) & ~word & highs; };
    size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + at, 8);
        const uint64_t found = ((word - ones * 0x20) & ~word & highs) | zeroLanes(word ^ (ones * '"')) |
                               zeroLanes(word ^ (ones * '\\'));
        if (found != 0) return at + static_cast<size_t>(std::countr_zero(found) / 8);
    }
    while (at < text.size() && !needsEscape[static_cast<unsigned char>(text[at])]) ++at;
    return at;
}

// Sorts an object's members by key, keeping members of the same key in their order. Objects are
// mostly small, where sorting in place beats a merge sort's buffer.
template <typename Members>
void sortByKey(Members& members) {
    const auto byKey = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (members.size() > 32) return std::stable_sort(members.begin(), members.end(), byKey);
    for (size_t i = 1; i < members.size(); ++i) {
        auto member = members[i];
        size_t j = i;
        for (; j > 0 && byKey(member, members[j - 1]); --j) members[j] = members[j - 1];
        members[j] = member;
    }
}

// Writes a parsed document back as pretty-printed JSON with sorted keys.
class Writer {
public:
    // Passes the text to `sink` in pieces of about a megabyte; `storage` holds the piece being
    // written. One list of members per nesting level is made up front, so that a reference to one
    // level's list stays valid while deeper levels are written.
    Writer(std::string& storage, const FileManager::Sink& sink, size_t expectedSize)
        : out_(storage, sink, std::min(pieceSize, expectedSize * 2 + 4096)), scratch_(maxJsonDepth + 2) {}

    // Passes on what is left; call once at the end.
    void finish() { out_.flush(); }

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
        sortByKey(fields);
        out_.put('{');
        bool first = true;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i + 1 < fields.size() && fields[i + 1].first == fields[i].first) continue;
            separator(first, depth + 1);
            string(fields[i].first);
            out_.put(std::string_view(": "));
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
        out_.put('[');
        bool first = true;
        for (dom::element element : elements) {
            separator(first, depth + 1);
            value(element, depth + 1);
        }
        close(first, depth, ']');
    }

    // Opens the next element of an array or object on its own line.
    void separator(bool& first, int depth) {
        if (!first) out_.put(',');
        first = false;
        newline(depth);
    }

    void close(bool empty, int depth, char bracket) {
        if (!empty) newline(depth);
        out_.put(bracket);
    }

    void newline(int depth) {
        const auto indent = static_cast<size_t>(depth * indentWidth);
        char* to = out_.room(indent + 1);
        *to = '\n';
        std::memset(to + 1, ' ', indent);
        out_.advance(to + 1 + indent);
    }

    void raw(std::string_view text) { out_.put(text); }

    // Writes `text` as a JSON string: runs of bytes that need no escape are copied whole.
    void string(std::string_view text) {
        out_.put('"');
        for (;;) {
            const size_t plain = plainPrefix(text);
            out_.put(text.substr(0, plain));
            if (plain == text.size()) break;
            out_.advance(writeEscape(out_.room(6), static_cast<unsigned char>(text[plain])));
            text.remove_prefix(plain + 1);
        }
        out_.put('"');
    }

    template <typename Integer>
    void integer(Integer number) {
        char* to = out_.room(24);
        out_.advance(std::to_chars(to, to + 24, number).ptr);
    }

    // The shortest text that reads back as the same double, always recognisable as a float.
    void floating(double number) {
        char* to = out_.room(40);
        char* end = std::to_chars(to, to + 32, number).ptr;
        if (std::string_view(to, static_cast<size_t>(end - to)).find_first_of(".eE") == std::string_view::npos) {
            *end++ = '.';
            *end++ = '0';
        }
        out_.advance(end);
    }

private:
    std::vector<std::pair<std::string_view, dom::element>>& scratch(int depth) {
        return scratch_.at(static_cast<size_t>(depth));
    }

    static constexpr size_t pieceSize = size_t{1} << 20;

    TextBuffer out_;
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
