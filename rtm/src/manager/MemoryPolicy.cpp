#include "rtm/manager/MemoryPolicy.h"

#include <malloc.h>

namespace RTC
{
  void retainLargeBuffers()
  {
    // Every thread allocates from the main heap (a per-thread arena maps
    // blocks of 64 MiB and more on their own and unmaps them on free, and
    // drops whole sub-heaps once they are empty), no block comes from its
    // own mmap, and the top of the heap is never trimmed back to the kernel.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 0x7fffffff);
  }
}
