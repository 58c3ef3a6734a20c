#pragma once

#include <cstddef>
// Giving the memory of a cleared or replaced pane back to the system. The C library keeps freed
// heap memory for later use and, after large frees, raises the size from which it maps blocks of
// their own; both would leave a cleared session's memory held by the process.

// Once at start: blocks from 128 KiB up get mappings of their own, returned as soon as freed.
void PinLargeAllocations();
// Bytes of physical memory (0 when unknown).
size_t PhysicalMemory();
// After a large free: hands the free parts of every heap back to the system, on the discarding
// thread of BlockSupply.h once what was discarded before is freed.
void ReturnFreeMemory();
