#ifndef GRIDMAPSTORE_H
#define GRIDMAPSTORE_H

#include "store/CellRectangle.h"
#include "store/GridMapSnapshot.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Holds the current map.  A new version is built completely outside the
// lock and published with one pointer swap; readers keep the snapshot they
// took alive until they are done with it.
//
// A map stored whole lands in a buffer of its own.  Once no snapshot uses
// a buffer any more it goes back to a one-place spare slot, and the next
// whole-map store reuses it, so steady traffic of the same size allocates
// nothing; a spare far larger than the current map is freed instead of
// kept, so that one huge map does not stay resident after a small one
// replaced it.  A region write copies only the tiles it touches (see
// GridMapSnapshot); while region writes come, no spare is kept, since the
// whole-map buffer it would hold is what they are there to avoid.
class GridMapStore
{
public:
  using Snapshot = std::shared_ptr<const GridMapSnapshot>;

  GridMapStore();
  GridMapStore(const GridMapStore&) = delete;
  GridMapStore& operator=(const GridMapStore&) = delete;

  // The current map; never null (empty, 0 x 0, before the first replace).
  Snapshot current() const;

  // Stores a copy of the octets with the two values under the next version,
  // which it returns.  With `description` the map takes it (checked as
  // describe() does, std::invalid_argument if unfit); without one it keeps
  // the current description, unconfirmed unless width and height stay.  If
  // memory runs out the exception leaves and the store is exactly as it was.
  std::uint64_t replace(const void* octets, std::size_t length, short width, short height,
                        std::shared_ptr<const mapio::MapDescription> description = nullptr,
                        bool confirmed = true);
  // A buffer of `length` octets, of unspecified content, for a whole map to
  // be received into and then stored with adopt(): the spare when one
  // fits, so that a map received there is never copied.  Throws bad_alloc.
  std::unique_ptr<std::string> bufferFor(std::size_t length);
  // replace() for octets held in `octets`, which the map takes over.
  std::uint64_t adopt(std::unique_ptr<std::string> octets, short width, short height,
                      std::shared_ptr<const mapio::MapDescription> description = nullptr,
                      bool confirmed = true);

  // Gives the current cells `description` under a new version, returned;
  // with `expected`, only while the map is at that version.  Throws
  // std::invalid_argument saying why for a description that makes no sense
  // (mapio::problemWith), RegionRefused for a stale version or while the
  // durable map takes no writes, leaving the map as it was; RegionRefused
  // (NotSaved) too when the durable map did not write the new version.
  std::uint64_t describe(const mapio::MapDescription& description,
                         std::optional<std::uint64_t> expected = std::nullopt);

  // Replaces the cells of `area` with `length` octets, row-major, and
  // returns the new version; with `expected`, only while the map is at that
  // version.  Throws RegionRefused, or bad_alloc, leaving the map as it was;
  // RegionRefused (NotSaved) too when the durable map did not write the
  // new version (see Durability).
  // The new version is built outside the lock; a writer that lost the race
  // to publish a few times builds under the write lock, which keeps every
  // other region writer out, so each call ends after bounded work.
  std::uint64_t writeRegion(const CellRectangle& area, const void* cells, std::size_t length,
                            std::optional<std::uint64_t> expected = std::nullopt);

  // Makes every later version higher than `floor` (and than the current
  // one), so that versions never repeat across restarts.
  void numberAbove(std::uint64_t floor);
  // The highest floor given: every version of this run is above it.
  std::uint64_t runFloor() const;

  // What keeps the map on disk, asked by region and description writes
  // (whole maps are stored before they reach the disk).  None by default.
  class Durability
  {
  public:
    virtual ~Durability() = default;
    // Throws RegionRefused (NotSaved) while the disk cannot take writes;
    // called under the store's lock just before a write is published, so a
    // refused write leaves the map, its version and its readers as they were.
    virtual void admit(std::uint64_t currentVersion) const = 0;
    // Returns once `version` is written; called after publishing, outside
    // every lock.  Throws RegionRefused (NotSaved) when it was not written
    // within a bound: the reply must not claim it.
    virtual void await(std::uint64_t version) const = 0;
  };
  void setDurability(std::shared_ptr<const Durability> durability);

  // Each observer is called with each snapshot the store publishes, in the
  // order they are published: on the writing thread, under the store's
  // lock, so it must only hand the snapshot on.  Removing an observer waits
  // for a call to it in progress.

  using Observer = std::function<void(const Snapshot&)>;
  using ObserverHandle = std::uint64_t;
  ObserverHandle addObserver(Observer observer);
  void removeObserver(ObserverHandle handle);

private:
  // Shared with the deleters of published buffers, which may outlive the
  // store when a reader still holds one at process exit.
  struct SpareSlot
  {
    std::mutex mutex;
    std::unique_ptr<std::string> buffer;
    std::size_t currentLength = 0;  // of the published map; guarded by mutex
    bool regionWrites = false;      // the last write was a region's; guarded by mutex
  };

  GridMapSnapshot::Buffer returnedToSpare(std::unique_ptr<std::string> buffer) const;
  // Numbers, stamps and publishes `next`; call with currentMutex_ held.
  // Returns the snapshot it replaced, to be let go outside the lock.
  Snapshot publishLocked(std::shared_ptr<GridMapSnapshot> next);
  static void refuseUnfit(const mapio::MapDescription& description);
  // Publishes `next` if it was built on the current map (and no writer that
  // holds the write lock is at work, unless `exclusive`).
  // writeRegion but for the durability wait, whose durability it returns.
  std::pair<std::uint64_t, std::shared_ptr<const Durability>> publishRegion(
      const CellRectangle& area, const void* cells, std::size_t length, std::optional<std::uint64_t> expected);
  // Returns the durability to wait for, or sets `lost`.
  std::shared_ptr<const Durability> publishedRegion(const Snapshot& base,
                                                        const std::shared_ptr<GridMapSnapshot>& next, bool exclusive,
                                                        bool& lost);

  std::shared_ptr<SpareSlot> spare_;
  std::mutex writeMutex_;  // held by a region writer that lost too many races
  mutable std::mutex currentMutex_;  // guards the pointer, the observers and the two below, never a copy
  Snapshot current_;
  std::uint64_t versionFloor_ = 0;
  bool exclusiveWriter_ = false;  // a writer holding writeMutex_ is building
  std::shared_ptr<const Durability> durability_;
  std::vector<std::pair<ObserverHandle, Observer>> observers_;
  ObserverHandle nextHandle_ = 1;
};

// The process's one map, shared by every servant, the web view, and what
// loads it at start-up and keeps it durable.
GridMapStore& processGridMap();

#endif // GRIDMAPSTORE_H
