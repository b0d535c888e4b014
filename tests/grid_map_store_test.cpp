#include "store/GridMapStore.h"
#include "store/RegionRefused.h"

#include "mapio/Checksum.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <limits>
#include <stdexcept>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{
  // The whole map as its runs give it.
  std::string runsOf(const GridMapSnapshot& map)
  {
    std::string joined;
    map.cells().forEachRun([&joined](const char* run, std::size_t length) { joined.append(run, length); });
    return joined;
  }

  std::string filled(std::size_t length, char value)
  {
    return std::string(length, value);
  }

  void storeZeros(GridMapStore& store, int width, int height)
  {
    const std::string zeros(static_cast<std::size_t>(width) * height, '\0');
    store.replace(zeros.data(), zeros.size(), static_cast<short>(width), static_cast<short>(height));
  }
}

TEST(GridMapStore, StartsEmptyAndReplacesWhole)
{
  GridMapStore store;
  GridMapStore::Snapshot fresh = store.current();
  ASSERT_TRUE(fresh);
  EXPECT_TRUE(fresh->bytes().empty());
  EXPECT_EQ(0, fresh->mapWidth);
  EXPECT_EQ(0, fresh->mapHeight);

  const std::string longMap = filled(5000, 'a');
  store.replace(longMap.data(), longMap.size(), -32768, 32767);
  store.replace("xyz", 3, -1, 0);
  GridMapStore::Snapshot now = store.current();
  EXPECT_EQ("xyz", now->bytes());
  EXPECT_EQ(-1, now->mapWidth);
  EXPECT_EQ(0, now->mapHeight);

  store.replace(nullptr, 0, 7, 9);
  EXPECT_TRUE(store.current()->bytes().empty());
  EXPECT_EQ(7, store.current()->mapWidth);
  EXPECT_EQ(9, store.current()->mapHeight);
}

TEST(GridMapStore, VersionsCountStoredMapsAndCanContinueAboveAFloor)
{
  GridMapStore store;
  EXPECT_EQ(0u, store.current()->version);
  store.numberAbove(41);
  store.numberAbove(7);  // a lower floor changes nothing
  EXPECT_EQ(0u, store.current()->version);  // still no map stored
  EXPECT_TRUE(store.current()->bytes().empty());
  store.replace("ab", 2, 1, 2);
  EXPECT_EQ(2, store.current()->changed.height);
  GridMapStore::Snapshot first = store.current();
  store.replace("ab", 2, 1, 2);
  EXPECT_EQ(42u, first->version);
  EXPECT_EQ(43u, store.current()->version);
  EXPECT_LE(first->storedAt, store.current()->storedAt);
}

TEST(GridMapStore, HeldSnapshotNeverChangesUnderLaterReplacements)
{
  GridMapStore store;
  const std::string first = filled(4096, '1');
  store.replace(first.data(), first.size(), 1, 1);
  GridMapStore::Snapshot held = store.current();

  for (char c = '2'; c <= '9'; ++c) {
    const std::string next = filled(4096, c);
    store.replace(next.data(), next.size(), c, c);
  }
  EXPECT_EQ(first, held->bytes());
  EXPECT_EQ(1, held->mapWidth);
  EXPECT_EQ(filled(4096, '9'), store.current()->bytes());
}

TEST(GridMapStore, SteadyReplacementsReuseTheRetiredBuffer)
{
  GridMapStore store;
  const std::string a = filled(1 << 20, 'a');
  const std::string b = filled(1 << 20, 'b');

  store.replace(a.data(), a.size(), 1, 1);
  const char* firstBuffer = store.current()->bytes().data();
  store.replace(b.data(), b.size(), 2, 2);  // the first map retires to the spare
  store.replace(a.data(), a.size(), 3, 3);  // and is filled again here
  EXPECT_EQ(firstBuffer, store.current()->bytes().data());
  EXPECT_EQ(a, store.current()->bytes());

  // A snapshot that a reader still holds is not recycled under it.
  GridMapStore::Snapshot held = store.current();
  const char* heldBuffer = held->bytes().data();
  store.replace(b.data(), b.size(), 4, 4);
  store.replace(b.data(), b.size(), 5, 5);
  store.replace(b.data(), b.size(), 6, 6);
  EXPECT_EQ(heldBuffer, held->bytes().data());
  EXPECT_EQ(a, held->bytes());
  EXPECT_EQ(3, held->mapWidth);
}

TEST(GridMapStore, HugeRetiredBufferIsNotKeptForSmallMaps)
{
  GridMapStore store;
  const std::string huge = filled(16 << 20, 'h');
  const std::string small = filled(1024, 's');
  store.replace(huge.data(), huge.size(), 1, 1);
  const char* hugeBuffer = store.current()->bytes().data();
  store.replace(small.data(), small.size(), 2, 2);  // the huge map retires
  store.replace(small.data(), small.size(), 3, 3);  // and must not be reused here
  EXPECT_NE(hugeBuffer, store.current()->bytes().data());
  EXPECT_EQ(small, store.current()->bytes());
}

TEST(GridMapStore, FailedReplacementLeavesTheStoreAsItWas)
{
  GridMapStore store;
  store.replace("keep", 4, 11, 22);
  const std::size_t impossible = std::string().max_size() + 1;
  EXPECT_ANY_THROW(store.replace("x", impossible, 1, 1));
  EXPECT_EQ("keep", store.current()->bytes());
  EXPECT_EQ(11, store.current()->mapWidth);
  EXPECT_EQ(22, store.current()->mapHeight);
}

TEST(GridMapStore, ObserversSeeEveryPublishedSnapshotInOrderUntilRemoved)
{
  GridMapStore store;
  std::vector<std::string> seen;
  std::vector<std::uint64_t> versions;
  const auto first =
      store.addObserver([&seen](const GridMapStore::Snapshot& snapshot) { seen.emplace_back(snapshot->bytes()); });
  store.replace("one", 3, 3, 1);
  const auto second =
      store.addObserver([&versions](const GridMapStore::Snapshot& snapshot) { versions.push_back(snapshot->version); });
  store.replace("two", 3, 3, 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
  store.removeObserver(first);
  store.replace("three", 5, 5, 1);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(versions, (std::vector<std::uint64_t>{2, 3}));
  store.removeObserver(second);
  store.replace("four", 4, 4, 1);
  EXPECT_EQ(versions.size(), 2u);
  EXPECT_EQ(store.current()->bytes(), "four");
}

namespace
{
  // A map whose every cell differs from its neighbours': value of cell i.
  std::string patterned(std::size_t length)
  {
    std::string cells(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
      cells[i] = static_cast<char>(i * 7 + i / 251);
    return cells;
  }

  // Writes `area` of `model`, a `width`-wide map, the way the store should.
  void paint(std::string& model, int width, const CellRectangle& area, const std::string& cells)
  {
    for (int row = 0; row < area.height; ++row)
      model.replace(static_cast<std::size_t>(area.y + row) * width + area.x, area.width, cells,
                    static_cast<std::size_t>(row) * area.width, area.width);
  }

  std::string regionOf(const GridMapSnapshot& snapshot, const CellRectangle& area)
  {
    std::string out(static_cast<std::size_t>(area.width) * area.height, '\0');
    snapshot.copyRegion(area, out.data());
    return out;
  }

  RegionRefused::Reason refusalOf(const std::function<void()>& call)
  {
    try {
      call();
    }
    catch (const RegionRefused& refused) {
      return refused.reason();
    }
    ADD_FAILURE() << "not refused";
    return RegionRefused::Reason::OutsideMap;
  }
}

// 700 x 530 is not a multiple of the tile edge: the last tiles of each row
// and column are narrower, and rectangles cross tile borders.
TEST(GridMapStore, RegionWritesMatchAModelAtEdgesCornersAndAcrossTiles)
{
  constexpr int width = 700;
  constexpr int height = 530;
  GridMapStore store;
  std::string model = patterned(width * height);
  store.replace(model.data(), model.size(), width, height);
  const GridMapStore::Snapshot original = store.current();

  const CellRectangle areas[] = {
    {0, 0, 1, 1},          {width - 1, 0, 1, 1}, {0, height - 1, 1, 1}, {width - 1, height - 1, 1, 1},
    {0, 0, width, 1},      {0, 0, 1, height},    {250, 250, 20, 20},    {width - 190, height - 20, 190, 20},
    {100, 10, 500, 510},   {0, 0, width, height}};
  char fill = 1;
  for (const CellRectangle& area : areas) {
    const std::string cells(static_cast<std::size_t>(area.width) * area.height, fill++);
    const std::uint64_t version = store.writeRegion(area, cells.data(), cells.size());
    paint(model, width, area, cells);
    const GridMapStore::Snapshot now = store.current();
    EXPECT_EQ(version, now->version);
    EXPECT_EQ(cells, regionOf(*now, area));
    EXPECT_EQ(model, runsOf(*now));  // from the tiles, before a join
    EXPECT_EQ(model, now->bytes());
    EXPECT_EQ(mapio::crc32Of(model.data(), model.size()), now->crc());
    EXPECT_EQ(area.x, now->changed.x);
    EXPECT_EQ(area.height, now->changed.height);
  }
  // The version it started from never changed under the writes.
  EXPECT_EQ(patterned(width * height), original->bytes());
  EXPECT_EQ(patterned(width * height).substr(width, 3), regionOf(*original, {0, 1, 3, 1}));
}

// What a reply from an older version pins beside the current one.
TEST(GridMapStore, OlderVersionsPinOnlyWhatTheCurrentOneNoLongerShares)
{
  constexpr int width = 700, height = 530;  // 3 x 3 tiles, the last ones narrower
  const std::string cells = patterned(width * height);
  GridMapStore store;
  store.replace(cells.data(), cells.size(), width, height);
  auto pinned = [&](const GridMapSnapshot& old) {
    GridMapSnapshot::Blocks blocks;
    old.addBlocksNotIn(*store.current(), blocks);
    std::uint64_t octets = 0;
    for (const auto& [block, size] : blocks)
      octets += size;
    return octets;
  };
  const GridMapStore::Snapshot stored = store.current();
  EXPECT_EQ(0u, pinned(*stored));

  // One cell in the last tile (188 x 18 cells): that tile is all a region
  // write copies, and the rest stays shared with the map stored whole.
  store.writeRegion({width - 1, height - 1, 1, 1}, "x", 1);
  const GridMapStore::Snapshot oneCell = store.current();
  EXPECT_EQ(0u, pinned(*stored));
  store.writeRegion({width - 1, height - 1, 1, 1}, "y", 1);
  EXPECT_EQ(188u * 18, pinned(*oneCell));
  EXPECT_EQ(0u, pinned(*stored));

  // A new description shares every cell.
  const GridMapStore::Snapshot beforeDescription = store.current();
  store.describe(mapio::MapDescription{});
  EXPECT_EQ(0u, pinned(*beforeDescription));

  // A whole new map shares nothing.
  store.replace(cells.data(), cells.size(), width, height);
  EXPECT_EQ(cells.size() + 188u * 18, pinned(*beforeDescription));
  EXPECT_EQ(cells.size(), pinned(*stored));
}

TEST(GridMapStore, EveryRegionRefusalLeavesTheMapAsItWas)
{
  using Reason = RegionRefused::Reason;
  GridMapStore store;
  const std::string cells = patterned(300 * 200);
  store.replace(cells.data(), cells.size(), 300, 200);
  const GridMapStore::Snapshot before = store.current();
  const std::string four(4, 'x');
  auto write = [&](CellRectangle area, std::size_t length, std::optional<std::uint64_t> expected = {}) {
    return [&store, &four, area, length, expected] { store.writeRegion(area, four.data(), length, expected); };
  };

  EXPECT_EQ(Reason::OutsideMap, refusalOf(write({-1, 0, 2, 2}, 4)));
  EXPECT_EQ(Reason::OutsideMap, refusalOf(write({299, 0, 2, 2}, 4)));
  EXPECT_EQ(Reason::OutsideMap, refusalOf(write({0, 199, 2, 2}, 4)));
  EXPECT_EQ(Reason::OutsideMap, refusalOf(write({2147483647, 0, 2, 2}, 4)));
  EXPECT_EQ(Reason::EmptySize, refusalOf(write({0, 0, 0, 4}, 0)));
  EXPECT_EQ(Reason::EmptySize, refusalOf(write({0, 0, -2, -2}, 4)));
  EXPECT_EQ(Reason::CellCountMismatch, refusalOf(write({0, 0, 2, 2}, 3)));
  EXPECT_EQ(Reason::StaleVersion, refusalOf(write({0, 0, 2, 2}, 4, before->version - 1)));
  EXPECT_EQ(before, store.current());

  store.replace(cells.data(), cells.size() - 1, 300, 200);  // stored whole, but not 300 x 200
  const GridMapStore::Snapshot ragged = store.current();
  EXPECT_EQ(Reason::MapNotRectangular, refusalOf(write({0, 0, 2, 2}, 4)));
  EXPECT_EQ(Reason::MapNotRectangular, refusalOf([&] { ragged->checkRegion({0, 0, 1, 1}); }));
  EXPECT_EQ(ragged, store.current());
  EXPECT_EQ(cells.substr(0, cells.size() - 1), store.current()->bytes());
}

TEST(GridMapStore, ConditionalRegionWriteNeedsTheCurrentVersion)
{
  GridMapStore store;
  const std::string cells = patterned(64 * 64);
  store.replace(cells.data(), cells.size(), 64, 64);
  const std::uint64_t start = store.current()->version;
  const std::uint64_t next = store.writeRegion({0, 0, 2, 2}, "abcd", 4, start);
  EXPECT_EQ(start + 1, next);
  EXPECT_ANY_THROW(store.writeRegion({0, 0, 2, 2}, "wxyz", 4, start));
  EXPECT_EQ("abcd", regionOf(*store.current(), {0, 0, 2, 2}));
  EXPECT_EQ(next, store.current()->version);
}

TEST(GridMapStore, ObserverSeesRegionWritesWithTheirRectangle)
{
  GridMapStore store;
  store.replace(patterned(40 * 30).data(), 40 * 30, 40, 30);
  std::vector<CellRectangle> seen;
  const auto observer =
      store.addObserver([&seen](const GridMapStore::Snapshot& snapshot) { seen.push_back(snapshot->changed); });
  store.writeRegion({3, 4, 2, 1}, "ab", 2);
  store.removeObserver(observer);
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(3, seen[0].x);
  EXPECT_EQ(4, seen[0].y);
  EXPECT_EQ(2, seen[0].width);
  EXPECT_EQ(1, seen[0].height);
}

// Writers and readers on threads of one process, so that a race sanitizer
// sees both sides: every version a reader joins or copies from holds each
// writer's rectangle whole, with one value.
TEST(GridMapStore, ConcurrentRegionWritesAndReadersSeeWholeRectangles)
{
  constexpr int width = 600;
  constexpr int height = 300;
  GridMapStore store;
  storeZeros(store, width, height);
  const CellRectangle areas[] = {{10, 10, 300, 270}, {320, 5, 270, 290}};

  std::atomic<bool> writing{true};
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r)
    readers.emplace_back([&] {
      while (writing) {
        const GridMapStore::Snapshot snapshot = store.current();
        const std::string whole(snapshot->bytes());
        for (const CellRectangle& area : areas) {
          const std::string cells = regionOf(*snapshot, area);
          torn += cells.find_first_not_of(cells[0]) != std::string::npos;
          torn += whole[static_cast<std::size_t>(area.y) * width + area.x] != cells[0];
        }
      }
    });
  std::vector<std::thread> writers;
  for (const CellRectangle& area : areas)
    writers.emplace_back([&store, area] {
      for (int round = 1; round <= 100; ++round) {
        const std::string cells(static_cast<std::size_t>(area.width) * area.height, static_cast<char>(round));
        store.writeRegion(area, cells.data(), cells.size());
      }
    });
  for (std::thread& t : writers)
    t.join();
  writing = false;
  for (std::thread& t : readers)
    t.join();
  EXPECT_EQ(0, torn.load());
  EXPECT_EQ(201u, store.current()->version);
  EXPECT_EQ(std::string(270 * 290, '\x64'), regionOf(*store.current(), areas[1]));
}

TEST(GridMapStore, DescriptionFollowsTheVersionRulesAndSizeChangesUnconfirmIt)
{
  GridMapStore store;
  const std::string cells = filled(12, 'c');
  store.replace(cells.data(), cells.size(), 4, 3);
  EXPECT_FALSE(store.current()->description);

  mapio::MapDescription described;
  described.resolution = 0.025;
  described.origin = {-12.5, 3.0, 0.1};
  const std::uint64_t v2 = store.describe(described, 1);
  GridMapStore::Snapshot now = store.current();
  EXPECT_EQ(2u, v2);
  ASSERT_TRUE(now->description);
  EXPECT_EQ(described, *now->description);
  EXPECT_TRUE(now->descriptionOnly);
  EXPECT_EQ(0, now->changed.width);
  EXPECT_EQ(cells, now->bytes());  // the cells are kept

  // A stale conditional write is refused, saying why, and changes nothing.
  mapio::MapDescription other = described;
  other.frame = "odom";
  try {
    store.describe(other, 1);
    ADD_FAILURE() << "a stale description write was accepted";
  }
  catch (const RegionRefused& refused) {
    EXPECT_EQ(RegionRefused::Reason::StaleVersion, refused.reason());
    EXPECT_EQ(2u, refused.currentVersion());
    EXPECT_EQ(std::string("the map is at version 2, not 1"), refused.what());
  }
  EXPECT_EQ(store.current(), now);

  // Cells of the same size and region writes keep it; another size keeps
  // it unconfirmed until it is written again.
  store.replace(cells.data(), cells.size(), 4, 3);
  EXPECT_TRUE(store.current()->descriptionConfirmed);
  EXPECT_FALSE(store.current()->descriptionOnly);
  store.writeRegion(CellRectangle{1, 1, 1, 1}, "r", 1);
  EXPECT_EQ(described, *store.current()->description);
  EXPECT_TRUE(store.current()->descriptionConfirmed);
  store.replace(cells.data(), cells.size(), 6, 2);
  EXPECT_EQ(described, *store.current()->description);
  EXPECT_FALSE(store.current()->descriptionConfirmed);
  store.replace(cells.data(), cells.size(), 6, 2);
  EXPECT_FALSE(store.current()->descriptionConfirmed);
  store.describe(other);
  EXPECT_TRUE(store.current()->descriptionConfirmed);
  EXPECT_EQ("odom", store.current()->description->frame);

  // Cells stored with a description take it, confirmed, in one version.
  const std::uint64_t before = store.current()->version;
  EXPECT_EQ(before + 1, store.replace(cells.data(), cells.size(), 3, 4,
                                      std::make_shared<const mapio::MapDescription>(described)));
  EXPECT_EQ(described, *store.current()->description);
  EXPECT_TRUE(store.current()->descriptionConfirmed);
}

TEST(GridMapStore, EveryUnfitDescriptionIsRefusedLeavingTheMapAsItWas)
{
  GridMapStore store;
  mapio::MapDescription good;
  good.origin = {-1.0, -2.0, 3.0};
  store.describe(good);
  const GridMapStore::Snapshot before = store.current();

  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  std::vector<std::pair<std::function<void(mapio::MapDescription&)>, std::string>> unfit = {
    {[](mapio::MapDescription& d) { d.resolution = 0; }, "resolution"},
    {[](mapio::MapDescription& d) { d.resolution = -0.05; }, "resolution"},
    {[&](mapio::MapDescription& d) { d.resolution = inf; }, "resolution"},
    {[&](mapio::MapDescription& d) { d.resolution = nan; }, "resolution"},
    {[&](mapio::MapDescription& d) { d.origin[0] = nan; }, "origin x"},
    {[&](mapio::MapDescription& d) { d.origin[1] = -inf; }, "origin y"},
    {[&](mapio::MapDescription& d) { d.origin[2] = nan; }, "origin yaw"},
    {[](mapio::MapDescription& d) { d.occupiedThreshold = 1.5; }, "within 0..1"},
    {[](mapio::MapDescription& d) { d.freeThreshold = -0.1; }, "within 0..1"},
    {[&](mapio::MapDescription& d) { d.freeThreshold = nan; }, "within 0..1"},
    {[](mapio::MapDescription& d) { d.freeThreshold = 0.7; }, "below occupied_thresh"},
    {[](mapio::MapDescription& d) { d.freeThreshold = d.occupiedThreshold; }, "below occupied_thresh"},
    {[](mapio::MapDescription& d) { d.frame.assign(mapio::longestFrameName + 1, 'f'); }, "frame name"},
    {[](mapio::MapDescription& d) { d.text.assign(mapio::longestDescriptionText + 1, 't'); }, "text"},
  };
  const std::string cells = "abcd";
  for (const auto& [spoil, named] : unfit) {
    mapio::MapDescription bad = good;
    spoil(bad);
    try {
      store.describe(bad);
      ADD_FAILURE() << "accepted a description whose " << named << " is unfit";
    }
    catch (const std::invalid_argument& refused) {
      EXPECT_NE(std::string::npos, std::string(refused.what()).find(named)) << refused.what();
    }
    EXPECT_THROW(store.replace(cells.data(), cells.size(), 2, 2, std::make_shared<const mapio::MapDescription>(bad)),
                 std::invalid_argument);
    EXPECT_EQ(before, store.current()) << named;
  }

  // The limits themselves are fine.
  mapio::MapDescription edge = good;
  edge.frame.assign(mapio::longestFrameName, 'f');
  edge.text.assign(mapio::longestDescriptionText, 't');
  edge.freeThreshold = 0;
  edge.occupiedThreshold = 1;
  EXPECT_NO_THROW(store.describe(edge));
}

// A writer that keeps losing the race to a stream of small writes takes the
// write lock and finishes; without it this test would never end.
TEST(GridMapStore, LargeRegionWriteFinishesWhileSmallWritesStream)
{
  constexpr int width = 2048;
  constexpr int height = 2048;
  GridMapStore store;
  storeZeros(store, width, height);
  std::atomic<bool> done{false};
  std::thread streamer([&] {
    for (int i = 0; !done; ++i)
      store.writeRegion({i % width, 0, 1, 1}, "s", 1);
  });
  const std::string whole(width * height, 'w');
  store.writeRegion({0, 0, width, height}, whole.data(), whole.size());
  done = true;
  streamer.join();
  EXPECT_EQ('w', regionOf(*store.current(), {width - 1, height - 1, 1, 1})[0]);
}
