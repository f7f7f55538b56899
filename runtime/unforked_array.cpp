// unforked_array.cpp - the mappings behind UNFORKED_ARRAY.

#include "runtime/unforked_array.h"

#include <sys/mman.h>
#include <unistd.h>

#include <QtGlobal>

namespace unforked
{

void *grow(void *block, size_t *capacity, size_t bytes)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t wanted = (bytes + page - 1) / page * page;
    void *grown;
    if (block == nullptr)
        grown = mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    else
        grown = mremap(block, *capacity, wanted, MREMAP_MAYMOVE);
    if (grown == MAP_FAILED)
        qBadAlloc();
    // Without it (a kernel that refuses) the array works all the same, at the old cost.
    madvise(grown, wanted, MADV_DONTFORK);
    *capacity = wanted;
    return grown;
}

void release(void *block, size_t capacity, pid_t owner)
{
    // In a worker the address range is free, or taken by a mapping of the worker's own.
    if (block != nullptr && owner == getpid())
        munmap(block, capacity);
}

pid_t this_process() { return getpid(); }

} // namespace unforked
