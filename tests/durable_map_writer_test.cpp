// The store file's writer on its own, against an in-process store.
#include "store/DurableMapWriter.h"
#include "TemporaryFolder.h"

#include "mapio/StoreFile.h"

#include <gtest/gtest.h>

TEST(DurableMapWriter, ShutdownWritesTheNewestOfManyQuickSets)
{
  TemporaryFolder folder;
  GridMapStore store;
  {
    DurableMapWriter writer(store, folder / "map.store");
    for (int i = 0; i < 200; ++i) {
      const std::string cells = "map " + std::to_string(i);
      store.replace(cells.data(), cells.size(), static_cast<short>(i), 1);
    }
  }
  const std::optional<mapio::GridMap> stored = mapio::readStoreFile(folder / "map.store");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->cells, "map 199");
  EXPECT_EQ(stored->width, 199);
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"map.store", "map.store.log"}));
}

TEST(DurableMapWriter, StopsObservingWhenDestroyed)
{
  TemporaryFolder folder;
  GridMapStore store;
  { DurableMapWriter writer(store, folder / "map.store"); }
  store.replace("later", 5, 5, 1);  // must not reach the destroyed writer
  EXPECT_EQ(folder.entries(), std::vector<std::string>{});
}

TEST(DurableMapWriter, UnwritableFileNeitherBlocksSetsNorShutdown)
{
  TemporaryFolder folder;
  GridMapStore store;
  {
    DurableMapWriter writer(store, folder / "absent/map.store", std::nullopt, std::chrono::milliseconds(10));
    for (int i = 0; i < 20; ++i)
      store.replace("x", 1, 1, 1);
    EXPECT_EQ(store.current()->bytes(), "x");
  }
  EXPECT_EQ(folder.entries(), std::vector<std::string>{});
}
