#pragma once

#include <cstddef>
#include <memory>

// Has the kernel back a large fresh piece of memory in one call: touched page by page as it is
// filled, each page would cost a fault of its own, which on a virtual machine is a large part of
// loading or sorting a large list. Pieces under a megabyte, and kernels without the call, are
// left to fault as usual.
void Prefault(void* memory, std::size_t size);

// For the large vectors that are filled as soon as they are made (sort keys, orders).
template <typename T> struct PrefaultAllocator {
    using value_type = T;
    PrefaultAllocator() = default;
    template <typename U> PrefaultAllocator(const PrefaultAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        T* memory = std::allocator<T>().allocate(n);
        Prefault(memory, n * sizeof(T));
        return memory;
    }
    void deallocate(T* memory, std::size_t n) noexcept {
        std::allocator<T>().deallocate(memory, n);
    }
    template <typename U> bool operator==(const PrefaultAllocator<U>&) const noexcept {
        return true;
    }
    template <typename U> bool operator!=(const PrefaultAllocator<U>&) const noexcept {
        return false;
    }
};
