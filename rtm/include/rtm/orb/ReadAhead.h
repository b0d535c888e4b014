#ifndef RTM_READAHEAD_H
#define RTM_READAHEAD_H

#include <cstdint>

namespace RTC
{
  // What the ORB and the kernel's socket buffers take of a message at once,
  // whatever the peer does: requests and replies no larger are not watched
  // for their rate or booked against a memory budget, nor the last octets
  // of a larger request.  A stall there holds one thread and this much.
  constexpr std::uint64_t readAhead = 64 * 1024;
}

#endif // RTM_READAHEAD_H
