// The web view's pyramid geometry and image cache, in process.
#include "web/TileCache.h"
#include "web/TilePyramid.h"

#include <gtest/gtest.h>

namespace
{
  TileCache::Image image(std::size_t bytes)
  {
    return std::make_shared<const std::string>(bytes, 'x');
  }
}

TEST(TilePyramid, LevelsReachFromOneTileToOneCellPerPixel)
{
  const TilePyramid large(20800, 13600);
  EXPECT_EQ(large.topLevel(), 7);  // 256 << 7 = 32768 is the first to hold 20800
  EXPECT_EQ(large.cellsPerPixel(0), 128);
  EXPECT_TRUE(large.contains(0, 0, 0));
  EXPECT_FALSE(large.contains(0, 1, 0));
  EXPECT_TRUE(large.contains(7, 81, 53));   // cells 20736.. and 13568..
  EXPECT_FALSE(large.contains(7, 82, 53));
  EXPECT_FALSE(large.contains(7, 81, 54));
  EXPECT_FALSE(large.contains(8, 0, 0));
  EXPECT_FALSE(large.contains(-1, 0, 0));
  EXPECT_EQ(TilePyramid(256, 1).topLevel(), 0);
  EXPECT_EQ(TilePyramid(257, 1).topLevel(), 1);
}

TEST(TileCache, KeepsTheBudgetAndOnlyTheNewestVersion)
{
  TileCache cache(1000);
  cache.store({1, 0, 0, 0, 0}, image(400));
  cache.store({1, 0, 1, 0, 0}, image(400));
  ASSERT_TRUE(cache.find({1, 0, 0, 0, 0}));  // now the most recently used
  cache.store({1, 0, 1, 1, 0}, image(400));  // over budget: the least recently used goes
  EXPECT_TRUE(cache.find({1, 0, 0, 0, 0}));
  EXPECT_FALSE(cache.find({1, 0, 1, 0, 0}));
  EXPECT_EQ(cache.bytes(), 800u);
  cache.store({1, 0, 2, 0, 0}, image(2000));  // larger than the whole budget: not kept
  EXPECT_FALSE(cache.find({1, 0, 2, 0, 0}));

  cache.store({2, 1, 0, 0, 0}, image(10));
  EXPECT_FALSE(cache.find({1, 0, 0, 0, 0}));
  EXPECT_EQ(cache.bytes(), 10u);
  cache.store({1, 0, 0, 0, 0}, image(10));  // drawn from a snapshot that was replaced meanwhile
  EXPECT_FALSE(cache.find({1, 0, 0, 0, 0}));
  EXPECT_TRUE(cache.find({2, 1, 0, 0, 0}));
}
