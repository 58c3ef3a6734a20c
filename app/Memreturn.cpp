#include "Memreturn.h"

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
}

void ReturnFreeMemory() {
    malloc_trim(0);
}
#else
void PinLargeAllocations() {}
void ReturnFreeMemory() {}
#endif
