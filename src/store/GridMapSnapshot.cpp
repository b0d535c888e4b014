#include "store/GridMapSnapshot.h"

#include "store/RegionRefused.h"

#include "mapio/Crc32Patch.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace
{
  int tilesFor(int cells)
  {
    return (cells + GridMapSnapshot::tileEdge - 1) / GridMapSnapshot::tileEdge;
  }

  // What writing `cells` over `area` of `previous` does to its CRC.
  std::uint32_t crcChange(const GridMapSnapshot& previous, const CellRectangle& area, const char* cells)
  {
    const std::size_t width = static_cast<std::size_t>(area.width);
    mapio::Crc32Patch patch(width, static_cast<std::size_t>(previous.mapWidth));
    std::string row(width, '\0');
    for (int y = 0; y < area.height; ++y) {
      previous.copyRegion(CellRectangle{area.x, area.y + y, area.width, 1}, row.data());
      const char* written = cells + static_cast<std::size_t>(y) * width;
      for (std::size_t i = 0; i < width; ++i)
        row[i] = static_cast<char>(row[i] ^ written[i]);
      patch.addRow(row.data());
    }
    const std::size_t end = static_cast<std::size_t>(area.y + area.height - 1) * previous.mapWidth + area.x + width;
    return patch.finish(previous.size() - end);
  }

  std::string describe(const CellRectangle& area)
  {
    return std::to_string(area.width) + " x " + std::to_string(area.height) + " at " + std::to_string(area.x) +
           "," + std::to_string(area.y);
  }
}

GridMapSnapshot::GridMapSnapshot()
  : GridMapSnapshot(std::make_shared<const std::string>(), 0, 0)
{
}

GridMapSnapshot::GridMapSnapshot(Buffer whole, int width, int height)
  : mapWidth(width),
    mapHeight(height),
    changed{0, 0, width, height},
    crc_(std::make_shared<MapCrc>(whole)),
    size_(whole->size()),
    rectangular_(width >= 0 && height >= 0 &&
                 whole->size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height)),
    tilesAcross_(tilesFor(width))
{
  // Joined from the start: no tiles until a region write derives a version.
  whole_ = std::move(whole);
  joined_.store(true, std::memory_order_release);
}

GridMapSnapshot::GridMapSnapshot(const GridMapSnapshot& previous, const CellRectangle& area, const char* cells)
  : mapWidth(previous.mapWidth),
    mapHeight(previous.mapHeight),
    regionWrite(true),
    changed(area),
    description(previous.description),
    descriptionConfirmed(previous.descriptionConfirmed),
    crc_(std::make_shared<MapCrc>(previous.crc_, crcChange(previous, area, cells))),
    size_(previous.size_),
    rectangular_(true),
    tilesAcross_(tilesFor(previous.mapWidth))
{
  shareTilesOf(previous);
  const int firstColumn = area.x / tileEdge;
  const int lastColumn = (area.x + area.width - 1) / tileEdge;
  const int firstRow = area.y / tileEdge;
  const int lastRow = (area.y + area.height - 1) / tileEdge;
  // A failed allocation throws out of here: nothing is published and
  // `previous` is untouched.
  for (int row = firstRow; row <= lastRow; ++row)
    for (int column = firstColumn; column <= lastColumn; ++column)
      tiles_[static_cast<std::size_t>(row) * tilesAcross_ + column] = copiedTile(column, row, area, cells);
}

GridMapSnapshot::GridMapSnapshot(const GridMapSnapshot& other)
  : mapWidth(other.mapWidth),
    mapHeight(other.mapHeight),
    version(other.version),
    storedAt(other.storedAt),
    changed(other.changed),
    description(other.description),
    descriptionConfirmed(other.descriptionConfirmed),
    descriptionOnly(other.descriptionOnly),
    crc_(other.crc_),
    size_(other.size_),
    rectangular_(other.rectangular_),
    tilesAcross_(tilesFor(other.mapWidth))
{
  if (Buffer joined = other.joinedOrNull()) {
    whole_ = std::move(joined);
    joined_.store(true, std::memory_order_release);
  }
  else {
    shareTilesOf(other);
  }
}

std::string_view GridMapSnapshot::bytes() const
{
  if (!joined_.load(std::memory_order_acquire)) {
    std::call_once(joining_, [this] {
      auto whole = std::make_shared<std::string>(size_, '\0');
      copyFromTiles(CellRectangle{0, 0, mapWidth, mapHeight}, whole->data());
      std::vector<Tile> released;
      {
        std::unique_lock<std::shared_mutex> lock(tilesMutex_);
        whole_ = std::move(whole);
        joined_.store(true, std::memory_order_release);
        released.swap(tiles_);
      }
      // The buffers only this version still held are freed here, unlocked.
    });
  }
  return std::string_view(whole_->data(), whole_->size());
}

void GridMapSnapshot::checkRegion(const CellRectangle& area) const
{
  using Reason = RegionRefused::Reason;
  if (!rectangular_)
    throw RegionRefused(Reason::MapNotRectangular,
                        "the stored map has " + std::to_string(size_) + " octets, not its width x height (" +
                            std::to_string(mapWidth) + " x " + std::to_string(mapHeight) + ")",
                        version);
  if (area.width <= 0 || area.height <= 0)
    throw RegionRefused(Reason::EmptySize, "region " + describe(area) + " has no cells", version);
  if (area.x < 0 || area.y < 0 || area.x > mapWidth - area.width || area.y > mapHeight - area.height)
    throw RegionRefused(Reason::OutsideMap,
                        "region " + describe(area) + " is not inside the " + std::to_string(mapWidth) + " x " +
                            std::to_string(mapHeight) + " map",
                        version);
}

void GridMapSnapshot::copyRegion(const CellRectangle& area, char* out) const
{
  if (!joined_.load(std::memory_order_acquire)) {
    std::shared_lock<std::shared_mutex> lock(tilesMutex_);
    // Joining sets the flag and drops the tiles under the exclusive lock.
    if (!joined_.load(std::memory_order_acquire)) {
      copyFromTiles(area, out);
      return;
    }
  }
  // Joined: whole_ never changes again.
  for (int y = area.y; y < area.y + area.height; ++y)
    std::memcpy(out + static_cast<std::size_t>(y - area.y) * area.width,
                whole_->data() + static_cast<std::size_t>(y) * mapWidth + area.x, static_cast<std::size_t>(area.width));
}

void GridMapSnapshot::copyFromTiles(const CellRectangle& area, char* out) const
{
  for (int y = area.y; y < area.y + area.height; ++y) {
    const int row = y / tileEdge;
    const std::size_t inRow = static_cast<std::size_t>(y - row * tileEdge);
    int x = area.x;
    while (x < area.x + area.width) {
      const int column = x / tileEdge;
      const int end = std::min((column + 1) * tileEdge, area.x + area.width);
      const Tile& tile = tiles_[static_cast<std::size_t>(row) * tilesAcross_ + column];
      std::memcpy(out, tile.origin.get() + inRow * tile.stride + (x - column * tileEdge),
                  static_cast<std::size_t>(end - x));
      out += end - x;
      x = end;
    }
  }
}

GridMapSnapshot::Buffer GridMapSnapshot::joinedOrNull() const
{
  return joined_.load(std::memory_order_acquire) ? whole_ : nullptr;
}

void GridMapSnapshot::shareTilesOf(const GridMapSnapshot& source)
{
  Buffer joined = source.joinedOrNull();
  if (!joined) {
    std::shared_lock<std::shared_mutex> lock(source.tilesMutex_);
    joined = source.joinedOrNull();  // joined meanwhile: its tiles are gone
    if (!joined)
      tiles_ = source.tiles_;
  }
  // Tiles over a joined map let the buffers of older versions go.
  if (joined)
    tileOver(joined);
}

void GridMapSnapshot::tileOver(const Buffer& whole)
{
  const int tilesDown = tilesFor(mapHeight);
  const std::size_t stride = static_cast<std::size_t>(mapWidth);
  tiles_.clear();
  tiles_.reserve(static_cast<std::size_t>(tilesAcross_) * tilesDown);
  for (int row = 0; row < tilesDown; ++row)
    for (int column = 0; column < tilesAcross_; ++column) {
      const char* origin = whole->data() + static_cast<std::size_t>(row) * tileEdge * stride +
                           static_cast<std::size_t>(column) * tileEdge;
      tiles_.push_back(Tile{std::shared_ptr<const char>(whole, origin), stride, whole.get()});
    }
}

int GridMapSnapshot::tileWidth(int column) const
{
  return std::min(tileEdge, mapWidth - column * tileEdge);
}

int GridMapSnapshot::tileHeight(int row) const
{
  return std::min(tileEdge, mapHeight - row * tileEdge);
}

GridMapSnapshot::Tile GridMapSnapshot::copiedTile(int column, int row, const CellRectangle& area,
                                                  const char* cells) const
{
  const int left = column * tileEdge;
  const int top = row * tileEdge;
  const std::size_t width = static_cast<std::size_t>(tileWidth(column));
  const int height = tileHeight(row);
  auto block = std::make_shared<std::string>(width * static_cast<std::size_t>(height), '\0');
  // This snapshot is not published yet: its tiles are its own.
  copyFromTiles(CellRectangle{left, top, static_cast<int>(width), height}, block->data());

  // The part of `area` inside this tile, overwritten from `cells`.
  const int fromX = std::max(left, area.x);
  const int toX = std::min(left + static_cast<int>(width), area.x + area.width);
  const int fromY = std::max(top, area.y);
  const int toY = std::min(top + height, area.y + area.height);
  for (int y = fromY; y < toY; ++y)
    std::memcpy(block->data() + static_cast<std::size_t>(y - top) * width + (fromX - left),
                cells + static_cast<std::size_t>(y - area.y) * area.width + (fromX - area.x),
                static_cast<std::size_t>(toX - fromX));
  const char* origin = block->data();
  const std::string* identity = block.get();
  return Tile{std::shared_ptr<const char>(std::move(block), origin), width, identity};
}

GridMapSnapshot::Cells GridMapSnapshot::cells() const
{
  Cells cells;
  cells.width_ = mapWidth;
  cells.height_ = mapHeight;
  cells.tilesAcross_ = tilesAcross_;
  std::shared_lock<std::shared_mutex> lock(tilesMutex_);
  if (joined_.load(std::memory_order_acquire))
    cells.whole_ = whole_;
  else
    cells.tiles_ = tiles_;
  return cells;
}

void GridMapSnapshot::Cells::forEachRun(const Visit& visit) const
{
  if (whole_) {
    if (!whole_->empty())
      visit(whole_->data(), whole_->size());
    return;
  }
  const char* run = nullptr;
  std::size_t length = 0;
  for (int y = 0; y < height_; ++y) {
    const int row = y / tileEdge;
    const std::size_t inRow = static_cast<std::size_t>(y - row * tileEdge);
    for (int column = 0; column < tilesAcross_; ++column) {
      const Tile& tile = tiles_[static_cast<std::size_t>(row) * tilesAcross_ + column];
      const char* start = tile.origin.get() + inRow * tile.stride;
      const std::size_t width = static_cast<std::size_t>(std::min(tileEdge, width_ - column * tileEdge));
      if (run && run + length == start) {
        length += width;
        continue;
      }
      if (run)
        visit(run, length);
      run = start;
      length = width;
    }
  }
  if (run)
    visit(run, length);
}

std::vector<const std::string*> GridMapSnapshot::blocksLocked() const
{
  if (joined_.load(std::memory_order_acquire))
    return {whole_.get()};
  std::vector<const std::string*> blocks;
  blocks.reserve(tiles_.size());
  for (const Tile& tile : tiles_)
    blocks.push_back(tile.block);
  std::sort(blocks.begin(), blocks.end());
  blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
  return blocks;
}

void GridMapSnapshot::addBlocksNotIn(const GridMapSnapshot& current, Blocks& blocks) const
{
  if (this == &current)
    return;
  // Both shared: a joining snapshot holds its exclusive lock only to swap.
  std::shared_lock<std::shared_mutex> mine(tilesMutex_, std::defer_lock);
  std::shared_lock<std::shared_mutex> theirs(current.tilesMutex_, std::defer_lock);
  std::lock(mine, theirs);
  const std::vector<const std::string*> kept = current.blocksLocked();
  for (const std::string* block : blocksLocked())
    if (!std::binary_search(kept.begin(), kept.end(), block))
      blocks.emplace(block, block->size());
}

std::array<std::uint64_t, 256> GridMapSnapshot::histogram() const
{
  std::array<std::uint64_t, 256> counts{};
  cells().forEachRun([&counts](const char* run, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
      ++counts[static_cast<unsigned char>(run[i])];
  });
  return counts;
}
