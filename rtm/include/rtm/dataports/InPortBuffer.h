#ifndef RTM_INPORTBUFFER_H
#define RTM_INPORTBUFFER_H

#include "rtm/dataports/CdrCodec.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace RTC
{
  // The values an InPort has received and not yet read, oldest first, still
  // encoded.  Bounded: when full, the oldest value is dropped to make room,
  // so a reader that falls behind sees the newest values.
  class InPortBuffer
  {
  public:
    struct Entry
    {
      std::string bytes;
      ByteOrder byteOrder;
    };

    explicit InPortBuffer(std::size_t length);

    void put(Entry entry);
    std::optional<Entry> take();
    bool empty() const;
    // Waits until a value is there, at most `timeout`; true if one is.
    bool waitNonEmpty(std::chrono::milliseconds timeout) const;
    std::size_t dropped() const;  // values lost to overflow so far

  private:
    const std::size_t length_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::deque<Entry> entries_;
    std::size_t dropped_ = 0;
  };
}

#endif // RTM_INPORTBUFFER_H
