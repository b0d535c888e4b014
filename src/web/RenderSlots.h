#ifndef RENDERSLOTS_H
#define RENDERSLOTS_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

// A fixed number of places for CPU-heavy work (drawing tiles and images,
// summing up a map).  Whoever finds them all taken waits a short while and
// is then turned away, so a flood of requests adds no more than this many
// busy threads beside the map service, and no unbounded queue.
class RenderSlots
{
public:
  class Slot
  {
  public:
    explicit Slot(RenderSlots& owner) : owner_(&owner) {}
    Slot(Slot&& other) noexcept : owner_(other.owner_) { other.owner_ = nullptr; }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    Slot& operator=(Slot&&) = delete;
    ~Slot();

  private:
    RenderSlots* owner_;
  };

  explicit RenderSlots(int count) : free_(count) {}

  // A slot if one is free within `patience`, else nothing.
  std::optional<Slot> tryTake(std::chrono::milliseconds patience);

private:
  std::mutex mutex_;
  std::condition_variable freed_;
  int free_;
};

#endif // RENDERSLOTS_H
