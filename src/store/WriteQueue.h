#ifndef WRITEQUEUE_H
#define WRITEQUEUE_H

#include "store/GridMapStore.h"

#include <cstddef>
#include <vector>

// What waits to be written: the region and description writes as records,
// in the order they were published, or else the newest map whole.  It
// takes the whole map once one was stored, once the records pass their
// bounds (the disk is slower than the writes: the queue's memory stays
// bounded), or when memory for a record runs out.  Not locked: its owner's
// lock guards it.
class WriteQueue
{
public:
  struct Batch
  {
    GridMapStore::Snapshot whole;  // null, or written first
    std::vector<GridMapStore::Snapshot> records;
  };

  // Queues `snapshot`; returns what it displaced, to be let go outside the
  // owner's lock.  Called while the store publishes, so never throws.
  Batch offer(const GridMapStore::Snapshot& snapshot) noexcept;
  bool empty() const { return !queued_.whole && queued_.records.empty(); }
  Batch take();
  // After a failed write of what ended with `newest`: the newest map queued
  // or `newest`, whole.
  void retryWhole(const GridMapStore::Snapshot& newest);

private:
  Batch queued_;
  std::size_t cells_ = 0;  // of the queued records
};

#endif // WRITEQUEUE_H
