#include "GridMapStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
  std::string filled(std::size_t length, char value)
  {
    return std::string(length, value);
  }
}

TEST(GridMapStore, StartsEmptyAndReplacesWhole)
{
  GridMapStore store;
  GridMapStore::Snapshot fresh = store.current();
  ASSERT_TRUE(fresh);
  EXPECT_TRUE(fresh->mapBytes.empty());
  EXPECT_EQ(0, fresh->mapWidth);
  EXPECT_EQ(0, fresh->mapHeight);

  const std::string longMap = filled(5000, 'a');
  store.replace(longMap.data(), longMap.size(), -32768, 32767);
  store.replace("xyz", 3, -1, 0);
  GridMapStore::Snapshot now = store.current();
  EXPECT_EQ("xyz", now->mapBytes);
  EXPECT_EQ(-1, now->mapWidth);
  EXPECT_EQ(0, now->mapHeight);

  store.replace(nullptr, 0, 7, 9);
  EXPECT_TRUE(store.current()->mapBytes.empty());
  EXPECT_EQ(7, store.current()->mapWidth);
  EXPECT_EQ(9, store.current()->mapHeight);
}

TEST(GridMapStore, VersionsCountStoredMapsAndCanContinueFromEarlier)
{
  GridMapStore store;
  EXPECT_EQ(0u, store.current()->version);
  store.continueVersionsFrom(41);
  EXPECT_EQ(41u, store.current()->version);
  EXPECT_TRUE(store.current()->mapBytes.empty());
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
  EXPECT_EQ(first, held->mapBytes);
  EXPECT_EQ(1, held->mapWidth);
  EXPECT_EQ(filled(4096, '9'), store.current()->mapBytes);
}

TEST(GridMapStore, SteadyReplacementsReuseTheRetiredBuffer)
{
  GridMapStore store;
  const std::string a = filled(1 << 20, 'a');
  const std::string b = filled(1 << 20, 'b');

  store.replace(a.data(), a.size(), 1, 1);
  const char* firstBuffer = store.current()->mapBytes.data();
  store.replace(b.data(), b.size(), 2, 2);  // the first map retires to the spare
  store.replace(a.data(), a.size(), 3, 3);  // and is filled again here
  EXPECT_EQ(firstBuffer, store.current()->mapBytes.data());
  EXPECT_EQ(a, store.current()->mapBytes);

  // A snapshot that a reader still holds is not recycled under it.
  GridMapStore::Snapshot held = store.current();
  const char* heldBuffer = held->mapBytes.data();
  store.replace(b.data(), b.size(), 4, 4);
  store.replace(b.data(), b.size(), 5, 5);
  store.replace(b.data(), b.size(), 6, 6);
  EXPECT_EQ(heldBuffer, held->mapBytes.data());
  EXPECT_EQ(a, held->mapBytes);
  EXPECT_EQ(3, held->mapWidth);
}

TEST(GridMapStore, HugeRetiredBufferIsNotKeptForSmallMaps)
{
  GridMapStore store;
  const std::string huge = filled(16 << 20, 'h');
  const std::string small = filled(1024, 's');
  store.replace(huge.data(), huge.size(), 1, 1);
  store.replace(small.data(), small.size(), 2, 2);  // the huge map retires
  store.replace(small.data(), small.size(), 3, 3);  // and must not be reused here
  EXPECT_LT(store.current()->mapBytes.capacity(), std::size_t{1} << 20);
  EXPECT_EQ(small, store.current()->mapBytes);
}

TEST(GridMapStore, FailedReplacementLeavesTheStoreAsItWas)
{
  GridMapStore store;
  store.replace("keep", 4, 11, 22);
  const std::size_t impossible = std::string().max_size() + 1;
  EXPECT_ANY_THROW(store.replace("x", impossible, 1, 1));
  EXPECT_EQ("keep", store.current()->mapBytes);
  EXPECT_EQ(11, store.current()->mapWidth);
  EXPECT_EQ(22, store.current()->mapHeight);
}

TEST(GridMapStore, ObserversSeeEveryPublishedSnapshotInOrderUntilRemoved)
{
  GridMapStore store;
  std::vector<std::string> seen;
  std::vector<std::uint64_t> versions;
  const auto first =
      store.addObserver([&seen](const GridMapStore::Snapshot& snapshot) { seen.push_back(snapshot->mapBytes); });
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
  EXPECT_EQ(store.current()->mapBytes, "four");
}
