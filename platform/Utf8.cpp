#include "platform/Utf8.h"

#include <cstdint>

namespace morvanta {

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the sequence that starts with `lead`, or 0 when `lead` cannot start one.
int sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The allowed range of the second byte, which rules out overlongs, surrogates and values
// above U+10FFFF.
bool secondByteAllowed(unsigned char lead, unsigned char second) {
    if (lead == 0xE0) return second >= 0xA0 && second <= 0xBF;
    if (lead == 0xED) return second >= 0x80 && second <= 0x9F;
    if (lead == 0xF0) return second >= 0x90 && second <= 0xBF;
    if (lead == 0xF4) return second >= 0x80 && second <= 0x8F;
    return isContinuation(second);
}

}  // namespace

bool isValidUtf8(std::string_view bytes) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const int length = sequenceLength(*p);
        if (length == 0 || end - p < length) return false;
        if (!secondByteAllowed(p[0], p[1])) return false;
        for (int i = 2; i < length; ++i) {
            if (!isContinuation(p[i])) return false;
        }
        p += length;
    }
    return true;
}

}  // namespace morvanta
