#include "platform/LargeMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace morvanta {

void preferHugePages(void* start, size_t length) noexcept {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t hugePage = uintptr_t{1} << 21;
    const auto begin = reinterpret_cast<uintptr_t>(start);
    const uintptr_t first = (begin + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t last = (begin + length) & ~(hugePage - 1);
    if (last <= first) return;
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)start;
    (void)length;
#endif
}

}  // namespace morvanta
