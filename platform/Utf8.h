#pragma once

#include <string_view>

namespace morvanta {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence.
bool isValidUtf8(std::string_view bytes) noexcept;

}  // namespace morvanta
