#ifndef GRIDMAPSNAPSHOT_H
#define GRIDMAPSNAPSHOT_H

#include "store/CellRectangle.h"
#include "store/MapCrc.h"

#include "mapio/MapDescription.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

// One stored grid map.  A snapshot is never changed once it is published,
// so readers use it without holding any lock.
//
// The cells are kept as square tiles that later versions share: a region
// write copies only the tiles it touches and shares every other tile with
// the version it started from.  A tile is a window into some buffer (the
// whole map that was stored, or a tile-sized block of its own), so a map
// stored whole is held once, in the buffer it arrived in.  The contiguous
// whole map that whole-map readers need is that buffer for a map stored
// whole, and for a version made by region writes it is joined from the
// tiles by the first reader that asks, then shared by every later one; the
// tiles are let go then, so that the version no longer keeps the buffers of
// the versions before it, and later reads and writes copy from the joined
// map.
class GridMapSnapshot
{
public:
  using Buffer = std::shared_ptr<const std::string>;
  static constexpr int tileEdge = 256;

  // The empty map, 0 x 0.
  GridMapSnapshot();
  // The map held in `whole`, which may be of any length: a map whose byte
  // count is not width x height is served whole but has no regions.
  GridMapSnapshot(Buffer whole, int width, int height);
  // `previous` with `area` (already checked against it) replaced by `cells`,
  // area.width x area.height octets, row-major.
  GridMapSnapshot(const GridMapSnapshot& previous, const CellRectangle& area, const char* cells);
  // The same map, sharing its memory and its CRC, for a copy that is
  // numbered anew (a change of description alone).
  GridMapSnapshot(const GridMapSnapshot& other);
  GridMapSnapshot& operator=(const GridMapSnapshot&) = delete;

  // The whole map, contiguous, valid while this snapshot is held.  The
  // first call on a version made by region writes joins its tiles.
  std::string_view bytes() const;
  std::size_t size() const { return size_; }
  // CRC-32 (zlib) of the whole map, never joining it: computed over the
  // buffer of a map stored whole, and from the last version's and the
  // change for a region write.  Throws bad_alloc.
  std::uint32_t crc() const { return crc_->value(); }

  // The whole map as runs of contiguous octets, in row-major order, for a
  // reader that sends it without joining it.  It keeps what it reads from
  // alive and holds no lock, so it may be read at a peer's pace.
  class Cells;
  Cells cells() const;
  // Adds to `blocks` each block of memory this snapshot keeps alive that
  // `current` does not, with its size: none when it shares all its cells,
  // one tile-sized block per tile a region write copied since.
  using Blocks = std::map<const void*, std::uint64_t>;
  void addBlocksNotIn(const GridMapSnapshot& current, Blocks& blocks) const;
  // How many cells hold each octet value, never joining the map.
  std::array<std::uint64_t, 256> histogram() const;

  // Whether cells can be addressed: the byte count is width x height.
  bool rectangular() const { return rectangular_; }
  // Throws RegionRefused unless `area` is non-empty and inside the map.
  void checkRegion(const CellRectangle& area) const;
  // Copies the cells of `area`, checked, row-major into `out`.
  void copyRegion(const CellRectangle& area, char* out) const;

  int mapWidth = 0;           // sign-extended from 16 bits
  int mapHeight = 0;          // sign-extended from 16 bits
  std::uint64_t version = 0;  // 0 before the first store, then higher for each stored map
  std::uint64_t previousVersion = 0;  // of the map this one replaced
  bool regionWrite = false;           // made by a region write, from previousVersion's map
  std::chrono::system_clock::time_point storedAt;  // when it was published; epoch for version 0
  CellRectangle changed;  // what this version changed from the last: the whole map after a replace
  // Where the map lies and how its cells read; null while none was given.
  std::shared_ptr<const mapio::MapDescription> description;
  bool descriptionConfirmed = true;  // false once the cells changed size under it
  bool descriptionOnly = false;      // this version changed the description and no cell

private:
  struct Tile
  {
    std::shared_ptr<const char> origin;  // the tile's first cell, keeping its buffer alive
    std::size_t stride = 0;              // octets from one of its rows to the next
    const std::string* block = nullptr;  // that buffer, telling tiles that share it
  };

  // The buffers the cells are held in, each once; call with tilesMutex_ held.
  std::vector<const std::string*> blocksLocked() const;
  // The whole map, if it is held contiguously already; else null.
  Buffer joinedOrNull() const;
  // Makes this snapshot's tiles `source`'s, over its joined map once it has one.
  void shareTilesOf(const GridMapSnapshot& source);
  void tileOver(const Buffer& whole);
  void copyFromTiles(const CellRectangle& area, char* out) const;
  int tileWidth(int column) const;
  int tileHeight(int row) const;
  Tile copiedTile(int column, int row, const CellRectangle& area, const char* cells) const;

  std::shared_ptr<const MapCrc> crc_;
  std::size_t size_ = 0;
  bool rectangular_ = true;
  int tilesAcross_ = 0;
  // Row by row of tiles; emptied once the map is joined.  Only joining
  // writes it after construction, under the exclusive lock.
  mutable std::vector<Tile> tiles_;
  mutable std::shared_mutex tilesMutex_;
  mutable std::once_flag joining_;
  mutable Buffer whole_;  // set once, before joined_ turns true
  mutable std::atomic<bool> joined_{false};
};

class GridMapSnapshot::Cells
{
public:
  using Visit = std::function<void(const char* run, std::size_t length)>;
  // Calls `visit` with each run in order; adjacent runs that are contiguous
  // in memory come as one.
  void forEachRun(const Visit& visit) const;

private:
  friend class GridMapSnapshot;
  Buffer whole_;  // set for a map held contiguously
  std::vector<Tile> tiles_;
  int width_ = 0, height_ = 0, tilesAcross_ = 0;
};

#endif // GRIDMAPSNAPSHOT_H
