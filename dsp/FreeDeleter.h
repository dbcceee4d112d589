#pragma once

// The deleter of blocks from the C allocator (malloc, calloc), for unique_ptr.

#include <cstdlib>

struct FreeDeleter
{
    void operator()(void* block) const noexcept { std::free(block); }
};
