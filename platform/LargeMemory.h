#pragma once

#include <cstddef>

namespace morvanta {

// Asks the system to back the whole 2 MiB pages inside [start, start + length) with huge pages
// when they are first touched. Large buffers that are filled once (a file's bytes, a parser's
// index) then cost one page fault per 2 MiB instead of one per 4 KiB. Only a hint: it does
// nothing for ranges under 2 MiB, where the system does not allow it, or when it fails. The range
// must belong to one live allocation of the caller.
void preferHugePages(void* start, size_t length) noexcept;

}  // namespace morvanta
