// The runner's output decoding: the validator agrees with a plain decoder written from the
// definition of UTF-8 (code points up to U+10FFFF, no surrogates, shortest form only).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Utf8.h"

namespace {

bool referenceValid(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        int length = 0;
        uint32_t value = 0;
        if (b < 0x80) { length = 1; value = b; }
        else if ((b & 0xE0) == 0xC0) { length = 2; value = b & 0x1F; }
        else if ((b & 0xF0) == 0xE0) { length = 3; value = b & 0x0F; }
        else if ((b & 0xF8) == 0xF0) { length = 4; value = b & 0x07; }
        else return false;
        if (i + length > n) return false;
        for (int k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            value = (value << 6) | (p[i + k] & 0x3F);
        }
        const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < minimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool ours = morvanta::isValidUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    if (ours != referenceValid(data, size)) std::abort();
    return 0;
}
