#ifndef RTM_MEMORYPOLICY_H
#define RTM_MEMORYPOLICY_H

namespace RTC
{
  // Makes the C allocator keep freed blocks of any size for reuse instead of
  // handing large ones straight back to the kernel.  Multi-megabyte requests
  // then reuse memory that is already mapped, rather than paying a page fault
  // for every 4 KiB of a fresh buffer on each call.  The price is that the
  // process keeps its peak heap size until it exits.  Call it once, before
  // the ORB starts its threads.
  void retainLargeBuffers();
}

#endif // RTM_MEMORYPOLICY_H
