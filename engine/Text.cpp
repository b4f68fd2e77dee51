#include "engine/Text.h"

namespace morvanta {

std::string replacingOccurrences(std::string_view text, std::string_view of, std::string_view with) {
    std::string result;
    result.reserve(text.size());
    size_t start = 0;
    for (size_t found = text.find(of); found != std::string_view::npos; found = text.find(of, start)) {
        result.append(text.substr(start, found - start)).append(with);
        start = found + of.size();
    }
    return result.append(text.substr(start));
}

std::string plainPath(const std::filesystem::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace morvanta
