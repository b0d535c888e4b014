#include "rtm/dataports/InPortBuffer.h"

#include <utility>

namespace RTC
{
  InPortBuffer::InPortBuffer(std::size_t length)
    : length_(length == 0 ? 1 : length)
  {
  }

  void InPortBuffer::put(Entry entry)
  {
    std::optional<Entry> overwritten;  // freed outside the lock
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (entries_.size() >= length_) {
        overwritten = std::move(entries_.front());
        entries_.pop_front();
        ++dropped_;
      }
      entries_.push_back(std::move(entry));
    }
    arrived_.notify_all();
  }

  std::optional<InPortBuffer::Entry> InPortBuffer::take()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty())
      return std::nullopt;
    Entry entry = std::move(entries_.front());
    entries_.pop_front();
    return entry;
  }

  bool InPortBuffer::empty() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.empty();
  }

  bool InPortBuffer::waitNonEmpty(std::chrono::milliseconds timeout) const
  {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [this] { return !entries_.empty(); });
  }

  std::size_t InPortBuffer::dropped() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
  }
}
