// The simulated local heap: zero-filled blocks, a count of live blocks, and
// failure injection, so a test can show that an operation frees what it
// allocated on every path.
#include "world.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

size_t LiveBlocks() { return TheWorld().liveBlocks.size(); }
size_t AllocationCount() { return TheWorld().allocations; }

size_t BlockBytes(const void* block)
{
    auto found = TheWorld().liveBlocks.find(const_cast<void*>(block));
    return found == TheWorld().liveBlocks.end() ? 0 : found->second;
}

void FailAllocation(size_t nth)
{
    World& w = TheWorld();
    w.failAt = nth == 0 ? 0 : w.allocations + nth;
}

}  // namespace sim

using namespace sim;

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes)
{
    (void)flags;  // every block is zero-filled, as LPTR asks
    World& w = TheWorld();
    w.allocations++;
    if (w.failAt != 0 && w.allocations == w.failAt) {
        w.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    if (bytes > (static_cast<SIZE_T>(1) << 31)) {
        w.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    void* block = std::calloc(1, bytes);
    if (block == nullptr) {
        w.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    w.liveBlocks[block] = bytes;
    return block;
}

HLOCAL WINAPI LocalFree(HLOCAL block)
{
    if (block == nullptr)
        return nullptr;
    World& w = TheWorld();
    auto found = w.liveBlocks.find(block);
    if (found == w.liveBlocks.end()) {
        std::fprintf(stderr, "simulated Windows: LocalFree of a block that is not live\n");
        std::abort();
    }
    w.liveBlocks.erase(found);
    std::free(block);
    return nullptr;
}
