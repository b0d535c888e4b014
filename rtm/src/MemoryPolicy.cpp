#include "rtm/MemoryPolicy.h"

#include <malloc.h>

namespace RTC
{
  void retainLargeBuffers()
  {
    // No block comes from its own mmap (those are unmapped again on free),
    // and the top of the heap is never trimmed back to the kernel.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 0x7fffffff);
  }
}
