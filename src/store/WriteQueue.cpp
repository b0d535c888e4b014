#include "store/WriteQueue.h"

#include <new>
#include <utility>

namespace
{
  constexpr std::size_t maxRecords = 4096;
  constexpr std::size_t maxCells = std::size_t(64) << 20;

  std::size_t cellsOf(const CellRectangle& area)
  {
    return static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height);
  }
}

WriteQueue::Batch WriteQueue::offer(const GridMapStore::Snapshot& snapshot) noexcept
{
  const bool record = snapshot->regionWrite || snapshot->descriptionOnly;
  if (!queued_.whole && record && queued_.records.size() < maxRecords &&
      cells_ + cellsOf(snapshot->changed) <= maxCells) {
    try {
      queued_.records.push_back(snapshot);
      cells_ += cellsOf(snapshot->changed);
      return {};
    }
    catch (const std::bad_alloc&) {
      // Written whole below.
    }
  }
  Batch displaced = take();
  queued_.whole = snapshot;
  return displaced;
}

WriteQueue::Batch WriteQueue::take()
{
  cells_ = 0;
  return std::exchange(queued_, Batch{});
}

void WriteQueue::retryWhole(const GridMapStore::Snapshot& newest)
{
  if (queued_.whole)
    return;
  queued_.whole = queued_.records.empty() ? newest : queued_.records.back();
  queued_.records.clear();
  cells_ = 0;
}
