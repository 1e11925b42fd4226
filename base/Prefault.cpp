#include "base/Prefault.h"

#include <cstdint>

#include <sys/mman.h>

void Prefault(void* memory, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    constexpr std::uintptr_t Page = 4096;
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t from = (start + Page - 1) & ~(Page - 1);
    const std::uintptr_t to = (start + size) & ~(Page - 1);
    if (size >= (std::size_t(1) << 20) && to > from)
        (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)memory;
    (void)size;
#endif
}
