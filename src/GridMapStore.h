#ifndef GRIDMAPSTORE_H
#define GRIDMAPSTORE_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// A rectangle of cells, in the map's row-major layout.
struct CellRectangle
{
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// One stored grid map.  A snapshot is never changed while it is published,
// so a reader can copy from it without holding any lock.
struct GridMapSnapshot
{
  std::string mapBytes;  // the octets exactly as stored, zeros included
  int mapWidth = 0;      // sign-extended from 16 bits
  int mapHeight = 0;     // sign-extended from 16 bits
  std::uint64_t version = 0;  // 0 before the first store, then one more per stored map
  std::chrono::system_clock::time_point storedAt;  // when it was published; epoch for version 0
  CellRectangle changed;  // what this version changed from the last: the whole map after a replace
};

// Holds the current map and replaces it whole.  A replacement is built
// completely outside the lock and published with one pointer swap; readers
// keep the snapshot they took alive until they are done with it.  A retired
// snapshot goes back to a one-place spare slot once its last reader lets go,
// and the next replacement reuses its buffer, so steady traffic of the same
// size allocates nothing.  Memory kept: the current map plus one spare, and
// a spare far larger than the current map is freed instead of kept, so that
// one huge map does not stay resident after a small one replaced it.
class GridMapStore
{
public:
  using Snapshot = std::shared_ptr<const GridMapSnapshot>;

  GridMapStore();
  GridMapStore(const GridMapStore&) = delete;
  GridMapStore& operator=(const GridMapStore&) = delete;

  // The current map; never null (empty, 0 x 0, before the first replace).
  Snapshot current() const;

  // Stores a copy of the octets with the two values under the next version.
  // If memory runs out the exception leaves and the store is exactly as it was.
  void replace(const void* octets, std::size_t length, short width, short height);

  // Makes the next stored map's version `last` + 1, so that versions keep
  // counting across restarts; only before the first replace.
  void continueVersionsFrom(std::uint64_t last);

  // Each observer is called with each snapshot replace() publishes, in the
  // order they are published: on the replacing thread, under the store's
  // lock, so it must only hand the snapshot on.  Removing an observer waits
  // for a call to it in progress.
  using Observer = std::function<void(const Snapshot&)>;
  using ObserverHandle = std::uint64_t;
  ObserverHandle addObserver(Observer observer);
  void removeObserver(ObserverHandle handle);

private:
  // Shared with the deleters of published snapshots, which may outlive the
  // store when a reader still holds one at process exit.
  struct SpareSlot
  {
    std::mutex mutex;
    std::unique_ptr<GridMapSnapshot> snapshot;
    std::size_t currentLength = 0;  // of the published map; guarded by mutex
  };

  std::unique_ptr<GridMapSnapshot> takeSpare(std::size_t length);
  Snapshot publishable(std::unique_ptr<GridMapSnapshot> snapshot) const;

  std::shared_ptr<SpareSlot> spare_;
  mutable std::mutex currentMutex_;  // guards the pointer and the observer, never a copy
  Snapshot current_;
  std::vector<std::pair<ObserverHandle, Observer>> observers_;
  ObserverHandle nextHandle_ = 1;
};

#endif // GRIDMAPSTORE_H
