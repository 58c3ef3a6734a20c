#include "MemoryReturn.h"

#include "BlockSupply.h"

#include <unistd.h>

size_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? size_t(pages) * size_t(size) : 0;
}

#if defined(__GLIBC__)
#include <malloc.h>

void PinLargeAllocations() {
    // Setting the threshold also turns off its dynamic raising.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // Freed memory at the heap's top is kept up to the send queue's size: lines sent in a flood
    // are allocated on the window's thread and freed by the worker once written, and handing
    // the top back after every few of them made each new line fault in fresh pages.
    // ReturnFreeMemory still hands everything back.
    mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
}

void ReturnFreeMemory() {
    // Walking every heap takes longer the more the session held: not on the caller's thread, and
    // after what the caller let go of is freed.
    blocksupply::AfterDiscards([] { malloc_trim(0); });
}
#else
void PinLargeAllocations() {}
void ReturnFreeMemory() {}
#endif
