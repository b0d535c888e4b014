#ifndef RENDERSLOTS_H
#define RENDERSLOTS_H

#include <mutex>
#include <optional>

// A fixed number of places for CPU-heavy work (drawing tiles and images,
// summing up a map).  Whoever finds them all taken is turned away at once
// rather than queued, so a flood of requests adds no more than this many
// busy threads beside the map service.
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

  // A slot while one is free, else nothing.
  std::optional<Slot> tryTake();

private:
  std::mutex mutex_;
  int free_;
};

#endif // RENDERSLOTS_H
